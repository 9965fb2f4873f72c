#include "platform/webkit/zbWebKitUtils.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <set>

#include "platform/glib/zbCallbackGuard.h"
#include "support/zbFormat.h"
#include "support/zbUnicode.h"

namespace zb::webkit {

namespace {

// Trampolines out of WebKit's signal emission: nothing may unwind through it.
void OnLoadChangedCb(WebKitWebView*, WebKitLoadEvent AEvent, gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  if (s->OnLoadChanged) GuardCallback([&] { s->OnLoadChanged(AEvent); });
}
gboolean OnLoadFailedCb(WebKitWebView*, WebKitLoadEvent, gchar* AUri, GError* AError, gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  return s->OnLoadFailed && GuardCallback([&] { return s->OnLoadFailed(AUri, AError); });
}
void OnTerminatedCb(WebKitWebView*, WebKitWebProcessTerminationReason AReason, gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  if (s->OnTerminated) GuardCallback([&] { s->OnTerminated(AReason); });
}
gboolean OnDecidePolicyCb(WebKitWebView*, WebKitPolicyDecision* ADecision, WebKitPolicyDecisionType AType,
                          gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  if (!s->OnDecidePolicy) return FALSE;
  bool handled = false;
  if (GuardCallback(
          [&] {
            handled = s->OnDecidePolicy(ADecision, AType);
            return true;
          },
          false))
    return handled;
  // A policy handler that failed must not let the navigation through.
  webkit_policy_decision_ignore(ADecision);
  return TRUE;
}
gboolean OnContextMenuCb(WebKitWebView*, WebKitContextMenu* AMenu, GdkEvent* AEvent, WebKitHitTestResult*,
                         gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  return s->OnContextMenu && GuardCallback([&] { return s->OnContextMenu(AMenu, AEvent); }, true);
}
gboolean OnScriptDialogCb(WebKitWebView*, WebKitScriptDialog* ADialog, gpointer AData) noexcept {
  auto* s = static_cast<TWebViewSignals*>(AData);
  return s->OnScriptDialog && GuardCallback([&] { return s->OnScriptDialog(ADialog); }, true);
}

}  // namespace

void TWebViewSignals::Connect(WebKitWebView* AView) {
  Disconnect();
  FSignals.emplace_back(AView, "load-changed", G_CALLBACK(OnLoadChangedCb), this);
  FSignals.emplace_back(AView, "load-failed", G_CALLBACK(OnLoadFailedCb), this);
  FSignals.emplace_back(AView, "web-process-terminated", G_CALLBACK(OnTerminatedCb), this);
  FSignals.emplace_back(AView, "decide-policy", G_CALLBACK(OnDecidePolicyCb), this);
  FSignals.emplace_back(AView, "context-menu", G_CALLBACK(OnContextMenuCb), this);
  FSignals.emplace_back(AView, "script-dialog", G_CALLBACK(OnScriptDialogCb), this);
}

void TWebViewSignals::Disconnect() { FSignals.clear(); }

TVariant ValueFromJsc(JSCValue* AValue) {
  if (!AValue || jsc_value_is_undefined(AValue) || jsc_value_is_null(AValue)) return TVarNull{};
  if (jsc_value_is_boolean(AValue)) return static_cast<bool>(jsc_value_to_boolean(AValue));
  if (jsc_value_is_number(AValue)) return jsc_value_to_double(AValue);
  TzbGChars text(jsc_value_to_string(AValue));
  return Utf8ToUtf16(text.get() ? text.get() : "");
}

namespace {

// Shared between the waiting caller and the callback, which may arrive after the caller gave up.
struct TScriptCall {
  bool Done = false;
  bool Threw = false;  // the script itself raised; any other error is the engine's
  int EngineError = 0;
  TScriptResult Result;
};

// How long an engine error without a value may take to be followed by the notice that the web
// process ended; its reply is lost with the process before WebKit reports the end.
constexpr int EngineEndNoticeMs = 2000;

TScriptResult EngineGone() { return {E_ZB_ENGINE_GONE, {}, u"Der Web-Prozess der HTML-Engine ist beendet"}; }

void OnScriptFinished(GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
  const std::shared_ptr<TScriptCall> call = TakeAsyncData<TScriptCall>(AData);
  TScriptCall& c = *call;
  const bool read = GuardCallback(
      [&] {
        TzbGError error;
        TzbGObject<JSCValue> value(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(ASource), AResult, error.Out()));
        if (!value) {
          c.Result.Code = E_FAIL;
          const GError* raw = error.Get();
          c.Threw = raw && raw->domain == WEBKIT_JAVASCRIPT_ERROR && raw->code == WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED;
          c.EngineError = raw ? raw->code : -1;
          // The engine's own words are English; the report says in German what failed and keeps them as detail.
          c.Result.Error = c.Threw ? u"Das Skript der HTML-Engine ist fehlgeschlagen: " + error.Text() : u"";
        } else {
          c.Result.Value = ValueFromJsc(value.get());
        }
        return true;
      },
      false);
  if (!read) c.Result = {E_FAIL, {}, u"Das Ergebnis der HTML-Engine konnte nicht gelesen werden"};
  c.Done = true;
}

}  // namespace

TScriptResult RunScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld, int ATimeoutMs,
                        const std::function<bool()>& AFailed) {
  if (AFailed()) return EngineGone();
  auto call = std::make_shared<TScriptCall>();
  webkit_web_view_evaluate_javascript(AView, AScript.data(), static_cast<gssize>(AScript.size()), AWorld, "zb:host",
                                      nullptr, OnScriptFinished, AsyncData(call));
  bool inTime = WaitOnMainContext([&] { return call->Done || AFailed(); }, ATimeoutMs);
  if (call->Done) {
    if (call->Result.Code >= 0) return call->Result;
    if (!call->Threw) WaitOnMainContext(AFailed, EngineEndNoticeMs);
    if (AFailed()) return EngineGone();
    if (call->Result.Error.empty())
      call->Result.Error =
          Format(u"Die HTML-Engine hat kein lesbares Ergebnis geliefert (Fehler %d)", {call->EngineError});
    return call->Result;
  }
  if (!inTime) return {E_ZB_TIMEOUT, {}, u"Die HTML-Engine hat nicht rechtzeitig geantwortet"};
  return EngineGone();
}

void PostScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld) {
  webkit_web_view_evaluate_javascript(AView, AScript.data(), static_cast<gssize>(AScript.size()), AWorld, "zb:host",
                                      nullptr, nullptr, nullptr);
}

std::string JsQuote(std::u16string_view AText) {
  static const char hex[] = "0123456789abcdef";
  std::string r;
  r.reserve(AText.size() + 2);
  r += '"';
  for (char16_t c : AText) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      r += static_cast<char>(c);
    } else {
      r += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) r += hex[(c >> shift) & 0xF];
    }
  }
  r += '"';
  return r;
}

std::string JsQuote(std::string_view AUtf8) { return JsQuote(Utf8ToUtf16(AUtf8)); }

namespace {

// Boxed, not a GObject.
using TzbContentFilter = TzbOwner<WebKitUserContentFilter, webkit_user_content_filter_unref>;
TzbContentFilter GFilter;
// The store the offline filter went to; the folders' filters go there too.
std::string GStoreFolder;
constexpr char OfflineName[] = "zb-offline";

// The filters of the folders documents came from, most recent first; a mail's folder is usually
// read several times in a row (conversion, print), while the store must not grow with every folder.
struct TFolderFilter {
  std::string Folder;
  std::string Name;
  TzbContentFilter Filter;
};
std::list<TFolderFilter> GFolderFilters;

// A stored filter that could not be removed is only a file in the cache.
void IgnoreRemoval(GObject* AStore, GAsyncResult* AResult, gpointer) noexcept {
  webkit_user_content_filter_store_remove_finish(WEBKIT_USER_CONTENT_FILTER_STORE(AStore), AResult, nullptr);
}
constexpr std::size_t MaxFolderFilters = 16;
TzbGObject<WebKitWebContext> GContext;

// The rule language has no alternation, so the exceptions are rules of their own. A document's own
// folder is the one file: exception; matched case-sensitively, since /Mail/ and /mail/ are different
// folders.
std::string FilterRules(const std::string& AFolderUri) {
  std::string rules = R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)";
  if (!AFolderUri.empty()) {
    std::string pattern = "^";
    for (char c : AFolderUri) {
      // The address is printable ASCII without quote or backslash (DocumentFilter); every character the
      // rule language reads specially is escaped for the regular expression, its backslash for JSON.
      if (std::strchr("^$.|?*+()[]{}", c)) pattern += "\\\\";
      pattern += c;
    }
    // The file loader decodes an escaped slash, so ".." hidden behind one would climb out of the folder
    // after the rule saw the address.
    rules += R"({"trigger":{"url-filter":")" + pattern +
             R"(","url-filter-is-case-sensitive":true},"action":{"type":"ignore-previous-rules"}},)"
             R"({"trigger":{"url-filter":"^file:.*%2f"},"action":{"type":"block"}},)";
  }
  rules += R"({"trigger":{"url-filter":"^data:"},"action":{"type":"ignore-previous-rules"}},)"
           R"({"trigger":{"url-filter":"^about:"},"action":{"type":"ignore-previous-rules"}}])";
  return rules;
}

// Owns its filter: one that is compiled only after its wait gave up goes with the call.
struct TFilterCall {
  bool Done = false;
  TzbContentFilter Filter;
  std::u16string Error;
};

}  // namespace

namespace {
// Compiles ARules into the filter store in AFolder under AName; the call holds the filter, or its error.
std::shared_ptr<TFilterCall> CompileFilter(const char* AFolder, const char* AName, const std::string& ARules,
                                           int ATimeoutMs) {
  TzbGObject<WebKitUserContentFilterStore> store(webkit_user_content_filter_store_new(AFolder));
  TzbGBytes source(g_bytes_new(ARules.data(), ARules.size()));
  auto call = std::make_shared<TFilterCall>();
  webkit_user_content_filter_store_save(
      store.get(), AName, source.get(), nullptr,
      [](GObject* AStore, GAsyncResult* AResult, gpointer AData) noexcept {
        const std::shared_ptr<TFilterCall> c = TakeAsyncData<TFilterCall>(AData);
        GuardCallback([&] {
          TzbGError error;
          c->Filter.reset(webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(AStore),
                                                                       AResult, error.Out()));
          if (!c->Filter) c->Error = error.Text(u"Unbekannter Fehler der HTML-Engine");
        });
        c->Done = true;
      },
      AsyncData(call));
  WaitOnMainContext([&] { return call->Done; }, ATimeoutMs);
  return call;
}
}  // namespace

namespace {

// WebKit compiles into temporary files of this name in the temporary folder and leaves them there
// when the compile fails.
constexpr char CompileTempPrefix[] = "ContentRuleList-";

std::set<std::string> CompileTempFiles() {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(g_get_tmp_dir(), error))
    if (entry.path().filename().string().rfind(CompileTempPrefix, 0) == 0) names.insert(entry.path().string());
  return names;
}

// The outermost folder of APath that does not exist yet: what a failed attempt must take away again.
std::string FirstMissingFolder(const std::string& APath) {
  std::filesystem::path missing;
  for (std::filesystem::path p = APath; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::error_code error;
    if (std::filesystem::exists(p, error)) break;
    missing = p;
  }
  return missing.string();
}

void RemoveTree(const std::string& APath) {
  std::error_code ignored;
  if (!APath.empty()) std::filesystem::remove_all(APath, ignored);
}

}  // namespace

namespace {
std::string GUserCacheFolder;

// The user's cache folder, also after the engine got one of its own.
std::string UserCacheFolder() { return GUserCacheFolder.empty() ? g_get_user_cache_dir() : GUserCacheFolder; }
}  // namespace

void GiveEngineItsOwnCacheFolder() {
  const char* variable = g_getenv("XDG_CACHE_HOME");
  const std::optional<std::string> saved = variable ? std::optional<std::string>(variable) : std::nullopt;
  const std::string user = variable && g_path_is_absolute(variable)
                               ? std::string(variable)
                               : TzbGChars(g_build_filename(g_get_home_dir(), ".cache", nullptr)).get();
  const TzbGChars own(g_build_filename(user.c_str(), "vestrum-htmlservice-web", nullptr));
  if (g_mkdir_with_parents(own.get(), 0700) != 0) return;
  // GLib reads the variable once and keeps the answer; our children get the user's folder as before.
  g_setenv("XDG_CACHE_HOME", own.get(), TRUE);
  const bool taken = std::strcmp(g_get_user_cache_dir(), own.get()) == 0;
  // Without XDG_RUNTIME_DIR the runtime folder is the cache folder, and the engine puts its bus proxies'
  // sockets there.
  g_get_user_runtime_dir();
  if (saved)
    g_setenv("XDG_CACHE_HOME", saved->c_str(), TRUE);
  else
    g_unsetenv("XDG_CACHE_HOME");
  if (taken) GUserCacheFolder = user;
}

WebKitUserContentFilter* NetworkBlockFilter(int ATimeoutMs) {
  if (GFilter) return GFilter.get();
  const TzbGChars folder(
      g_build_filename(UserCacheFolder().c_str(), "vestrum-htmlservice", "content-filters", nullptr));
  const std::set<std::string> tempBefore = CompileTempFiles();
  const std::string created = FirstMissingFolder(folder.get());
  auto call = CompileFilter(folder.get(), OfflineName, FilterRules({}), ATimeoutMs);
  std::string storeFolder = folder.get();
  std::string privateFolder;
  if (!call->Filter) {
    RemoveTree(created);
    // A cache folder that cannot be written (read-only home) must not keep the engine from starting.
    const TzbGChars tempFolder(g_dir_make_tmp("htmlservice-filters-XXXXXX", nullptr));
    if (tempFolder) {
      privateFolder = tempFolder.get();
      call = CompileFilter(tempFolder.get(), OfflineName, FilterRules({}), ATimeoutMs);
      if (!call->Filter) RemoveTree(privateFolder);
      storeFolder = privateFolder;
    }
  }
  if (!call->Filter) {
    for (const std::string& name : CompileTempFiles())
      if (!tempBefore.count(name)) RemoveTree(name);
    throw EzbOleError(
        E_FAIL,
        Format(u"Der Netzwerkfilter der HTML-Engine konnte weder in \"%s\" noch im temporären Ordner \"%s\" angelegt "
               u"werden (%s). Ohne ihn könnten Dokumente das Netz erreichen, daher startet der Dienst nicht. Bitte in "
               u"einem der beiden Ordner Platz schaffen oder Schreibrechte geben (oder XDG_CACHE_HOME bzw. TMPDIR auf "
               u"einen solchen Ordner setzen) und den Dienst neu starten.",
               {Utf8ToUtf16(folder.get()), Utf8ToUtf16(g_get_tmp_dir()),
                call->Done ? call->Error : std::u16string(u"Zeitüberschreitung")}));
  }
  GFilter = std::move(call->Filter);
  GStoreFolder = storeFolder;
  return GFilter.get();
}

WebKitUserContentFilter* DocumentFilter(const std::string& ADocumentUri, int ATimeoutMs) {
  WebKitUserContentFilter* fallback = NetworkBlockFilter(ATimeoutMs);
  if (!g_str_has_prefix(ADocumentUri.c_str(), "file:")) return fallback;
  std::string folder = ADocumentUri.substr(0, ADocumentUri.find_first_of("?#"));
  folder.erase(folder.rfind('/') + 1);
  // "file:" plus the root's slash at least; the root itself would let every file through.
  if (folder.size() <= std::char_traits<char>::length("file:///") || folder.find("/../") != std::string::npos ||
      folder.find("/./") != std::string::npos || std::any_of(folder.begin(), folder.end(), [](char AChar) {
        return AChar <= ' ' || AChar > '~' || AChar == '"' || AChar == '\\';
      }))
    return fallback;
  for (auto it = GFolderFilters.begin(); it != GFolderFilters.end(); ++it)
    if (it->Folder == folder) {
      GFolderFilters.splice(GFolderFilters.begin(), GFolderFilters, it);
      return it->Filter.get();
    }
  const TzbGChars name(g_strconcat(
      "zb-folder-", TzbGChars(g_compute_checksum_for_string(G_CHECKSUM_SHA256, folder.c_str(), -1)).get(), nullptr));
  auto call = CompileFilter(GStoreFolder.c_str(), name.get(), FilterRules(folder), ATimeoutMs);
  // Without its own filter a document still loads, only without any local resource.
  if (!call->Filter) return fallback;
  GFolderFilters.push_front({folder, name.get(), std::move(call->Filter)});
  if (GFolderFilters.size() > MaxFolderFilters) {
    // A view that still holds the filter keeps it; only its stored copy goes.
    TzbGObject<WebKitUserContentFilterStore> store(webkit_user_content_filter_store_new(GStoreFolder.c_str()));
    webkit_user_content_filter_store_remove(store.get(), GFolderFilters.back().Name.c_str(), nullptr, IgnoreRemoval,
                                            nullptr);
    GFolderFilters.pop_back();
  }
  return GFolderFilters.front().Filter.get();
}

namespace {

// The engine starts its web processes through this program; the path is built into it.
constexpr char BubblewrapProgram[] = "/usr/bin/bwrap";
constexpr char DBusProxyProgram[] = "/usr/bin/xdg-dbus-proxy";
// Test aid: the bubblewrap program probed instead, so a test can show a system without it.
constexpr char BubblewrapTestVariable[] = "HTMLSERVICE_TEST_BWRAP";

std::u16string GSandboxProblem;
bool GSandboxDecided = false;

// Whether bubblewrap can build the namespaces the engine asks of it. The engine does not ask: when
// its bubblewrap fails it ends the whole process with a fatal GLib error, so we try first.
std::u16string ProbeSandbox() {
  const char* testProgram = g_getenv(BubblewrapTestVariable);
  const std::string program = testProgram && *testProgram ? testProgram : BubblewrapProgram;
  if (!g_file_test(program.c_str(), G_FILE_TEST_IS_EXECUTABLE))
    return Format(u"das Programm \"%s\" (Paket bubblewrap) fehlt", {Utf8ToUtf16(program)});
  if (!g_file_test(DBusProxyProgram, G_FILE_TEST_IS_EXECUTABLE))
    return Format(u"das Programm \"%s\" (Paket xdg-dbus-proxy) fehlt", {Utf8ToUtf16(DBusProxyProgram)});
  const char* argv[] = {program.c_str(),
                        "--unshare-user-try",
                        "--unshare-pid",
                        "--unshare-ipc",
                        "--unshare-net",
                        "--unshare-uts",
                        "--die-with-parent",
                        "--ro-bind",
                        "/",
                        "/",
                        "--proc",
                        "/proc",
                        "--dev",
                        "/dev",
                        "true",
                        nullptr};
  gchar* errOut = nullptr;
  gint status = 0;
  TzbGError error;
  const bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr,
                                nullptr, nullptr, &errOut, &status, error.Out());
  const TzbGChars err(errOut);
  if (!ran) return Format(u"\"%s\" sich nicht starten ließ (%s)", {Utf8ToUtf16(program), error.Text(u"")});
  if (!g_spawn_check_wait_status(status, nullptr)) {
    std::string why = err.get() ? err.get() : "";
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
    return Format(u"\"%s\" keine eigenen Namensräume anlegen kann (%s)",
                  {Utf8ToUtf16(program), Utf8ToUtf16(why.empty() ? "ohne Meldung" : why)});
  }
  return {};
}

}  // namespace

const std::u16string& WebSandboxProblem() {
  if (!GSandboxDecided) {
    GSandboxProblem = ProbeSandbox();
    GSandboxDecided = true;
  }
  return GSandboxProblem;
}

WebKitWebContext* SharedWebContext() {
  if (!GContext) {
    GContext = TzbGObject<WebKitWebContext>(webkit_web_context_new_ephemeral());
    // Before any web process exists: the engine refuses the switch later.
    if (WebSandboxProblem().empty()) webkit_web_context_set_sandbox_enabled(GContext.get(), TRUE);
    webkit_web_context_set_cache_model(GContext.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    g_signal_connect(GContext.get(), "download-started",
                     G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* ADownload, gpointer) noexcept {
                       webkit_download_cancel(ADownload);
                     }),
                     nullptr);
  }
  return GContext.get();
}

void ReleaseSharedWebKit() {
  if (!GFolderFilters.empty()) {
    TzbGObject<WebKitUserContentFilterStore> store(webkit_user_content_filter_store_new(GStoreFolder.c_str()));
    for (const TFolderFilter& f : GFolderFilters)
      webkit_user_content_filter_store_remove(store.get(), f.Name.c_str(), nullptr, IgnoreRemoval, nullptr);
    GFolderFilters.clear();
  }
  GFilter.reset();
  GContext.reset();
}

}  // namespace zb::webkit
