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
  auto* S = static_cast<TWebViewSignals*>(AData);
  if (S->OnLoadChanged) GuardCallback([&] { S->OnLoadChanged(AEvent); });
}
gboolean OnLoadFailedCb(WebKitWebView*, WebKitLoadEvent, gchar* AUri, GError* AError, gpointer AData) noexcept {
  auto* S = static_cast<TWebViewSignals*>(AData);
  return S->OnLoadFailed && GuardCallback([&] { return S->OnLoadFailed(AUri, AError); });
}
void OnTerminatedCb(WebKitWebView*, WebKitWebProcessTerminationReason AReason, gpointer AData) noexcept {
  auto* S = static_cast<TWebViewSignals*>(AData);
  if (S->OnTerminated) GuardCallback([&] { S->OnTerminated(AReason); });
}
gboolean OnDecidePolicyCb(WebKitWebView*, WebKitPolicyDecision* ADecision, WebKitPolicyDecisionType AType,
                          gpointer AData) noexcept {
  auto* S = static_cast<TWebViewSignals*>(AData);
  if (!S->OnDecidePolicy) return FALSE;
  bool Handled = false;
  if (GuardCallback(
          [&] {
            Handled = S->OnDecidePolicy(ADecision, AType);
            return true;
          },
          false))
    return Handled;
  // A policy handler that failed must not let the navigation through.
  webkit_policy_decision_ignore(ADecision);
  return TRUE;
}
gboolean OnContextMenuCb(WebKitWebView*, WebKitContextMenu* AMenu, GdkEvent* AEvent, WebKitHitTestResult*,
                         gpointer AData) noexcept {
  auto* S = static_cast<TWebViewSignals*>(AData);
  return S->OnContextMenu && GuardCallback([&] { return S->OnContextMenu(AMenu, AEvent); }, true);
}
gboolean OnScriptDialogCb(WebKitWebView*, WebKitScriptDialog* ADialog, gpointer AData) noexcept {
  auto* S = static_cast<TWebViewSignals*>(AData);
  return S->OnScriptDialog && GuardCallback([&] { return S->OnScriptDialog(ADialog); }, true);
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
  TzbGChars Text(jsc_value_to_string(AValue));
  return Utf8ToUtf16(Text.get() ? Text.get() : "");
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
  const std::shared_ptr<TScriptCall> Call = TakeAsyncData<TScriptCall>(AData);
  TScriptCall& C = *Call;
  const bool Read = GuardCallback(
      [&] {
        TzbGError Error;
        TzbGObject<JSCValue> Value(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(ASource), AResult, Error.Out()));
        if (!Value) {
          C.Result.Code = E_FAIL;
          const GError* Raw = Error.Get();
          C.Threw = Raw && Raw->domain == WEBKIT_JAVASCRIPT_ERROR && Raw->code == WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED;
          C.EngineError = Raw ? Raw->code : -1;
          // The engine's own words are English; the report says in German what failed and keeps them as detail.
          C.Result.Error = C.Threw ? u"Das Skript der HTML-Engine ist fehlgeschlagen: " + Error.Text() : u"";
        } else {
          C.Result.Value = ValueFromJsc(Value.get());
        }
        return true;
      },
      false);
  if (!Read) C.Result = {E_FAIL, {}, u"Das Ergebnis der HTML-Engine konnte nicht gelesen werden"};
  C.Done = true;
}

}  // namespace

TScriptResult RunScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld, int ATimeoutMs,
                        const std::function<bool()>& AFailed) {
  if (AFailed()) return EngineGone();
  auto Call = std::make_shared<TScriptCall>();
  webkit_web_view_evaluate_javascript(AView, AScript.data(), static_cast<gssize>(AScript.size()), AWorld, "zb:host",
                                      nullptr, OnScriptFinished, AsyncData(Call));
  bool InTime = WaitOnMainContext([&] { return Call->Done || AFailed(); }, ATimeoutMs);
  if (Call->Done) {
    if (Call->Result.Code >= 0) return Call->Result;
    if (!Call->Threw) WaitOnMainContext(AFailed, EngineEndNoticeMs);
    if (AFailed()) return EngineGone();
    if (Call->Result.Error.empty())
      Call->Result.Error =
          Format(u"Die HTML-Engine hat kein lesbares Ergebnis geliefert (Fehler %d)", {Call->EngineError});
    return Call->Result;
  }
  if (!InTime) return {E_ZB_TIMEOUT, {}, u"Die HTML-Engine hat nicht rechtzeitig geantwortet"};
  return EngineGone();
}

void PostScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld) {
  webkit_web_view_evaluate_javascript(AView, AScript.data(), static_cast<gssize>(AScript.size()), AWorld, "zb:host",
                                      nullptr, nullptr, nullptr);
}

std::string JsQuote(std::u16string_view AText) {
  static const char Hex[] = "0123456789abcdef";
  std::string R;
  R.reserve(AText.size() + 2);
  R += '"';
  for (char16_t C : AText) {
    if (C >= 0x20 && C < 0x7F && C != '"' && C != '\\') {
      R += static_cast<char>(C);
    } else {
      R += "\\u";
      for (int Shift = 12; Shift >= 0; Shift -= 4) R += Hex[(C >> Shift) & 0xF];
    }
  }
  R += '"';
  return R;
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
  std::string Rules = R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)";
  if (!AFolderUri.empty()) {
    std::string Pattern = "^";
    for (char C : AFolderUri) {
      // The address is printable ASCII without quote or backslash (DocumentFilter); every character the
      // rule language reads specially is escaped for the regular expression, its backslash for JSON.
      if (std::strchr("^$.|?*+()[]{}", C)) Pattern += "\\\\";
      Pattern += C;
    }
    // The file loader decodes an escaped slash, so ".." hidden behind one would climb out of the folder
    // after the rule saw the address.
    Rules += R"({"trigger":{"url-filter":")" + Pattern +
             R"(","url-filter-is-case-sensitive":true},"action":{"type":"ignore-previous-rules"}},)"
             R"({"trigger":{"url-filter":"^file:.*%2f"},"action":{"type":"block"}},)";
  }
  Rules += R"({"trigger":{"url-filter":"^data:"},"action":{"type":"ignore-previous-rules"}},)"
           R"({"trigger":{"url-filter":"^about:"},"action":{"type":"ignore-previous-rules"}}])";
  return Rules;
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
  TzbGObject<WebKitUserContentFilterStore> Store(webkit_user_content_filter_store_new(AFolder));
  TzbGBytes Source(g_bytes_new(ARules.data(), ARules.size()));
  auto Call = std::make_shared<TFilterCall>();
  webkit_user_content_filter_store_save(
      Store.get(), AName, Source.get(), nullptr,
      [](GObject* AStore, GAsyncResult* AResult, gpointer AData) noexcept {
        const std::shared_ptr<TFilterCall> C = TakeAsyncData<TFilterCall>(AData);
        GuardCallback([&] {
          TzbGError Error;
          C->Filter.reset(webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(AStore),
                                                                       AResult, Error.Out()));
          if (!C->Filter) C->Error = Error.Text(u"Unbekannter Fehler der HTML-Engine");
        });
        C->Done = true;
      },
      AsyncData(Call));
  WaitOnMainContext([&] { return Call->Done; }, ATimeoutMs);
  return Call;
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
  const char* Variable = g_getenv("XDG_CACHE_HOME");
  const std::optional<std::string> Saved = Variable ? std::optional<std::string>(Variable) : std::nullopt;
  const std::string User = Variable && g_path_is_absolute(Variable)
                               ? std::string(Variable)
                               : TzbGChars(g_build_filename(g_get_home_dir(), ".cache", nullptr)).get();
  const TzbGChars Own(g_build_filename(User.c_str(), "vestrum-htmlservice-web", nullptr));
  if (g_mkdir_with_parents(Own.get(), 0700) != 0) return;
  // GLib reads the variable once and keeps the answer; our children get the user's folder as before.
  g_setenv("XDG_CACHE_HOME", Own.get(), TRUE);
  const bool Taken = std::strcmp(g_get_user_cache_dir(), Own.get()) == 0;
  // Without XDG_RUNTIME_DIR the runtime folder is the cache folder, and the engine puts its bus proxies'
  // sockets there.
  g_get_user_runtime_dir();
  if (Saved)
    g_setenv("XDG_CACHE_HOME", Saved->c_str(), TRUE);
  else
    g_unsetenv("XDG_CACHE_HOME");
  if (Taken) GUserCacheFolder = User;
}

WebKitUserContentFilter* NetworkBlockFilter(int ATimeoutMs) {
  if (GFilter) return GFilter.get();
  const TzbGChars Folder(
      g_build_filename(UserCacheFolder().c_str(), "vestrum-htmlservice", "content-filters", nullptr));
  const std::set<std::string> TempBefore = CompileTempFiles();
  const std::string Created = FirstMissingFolder(Folder.get());
  auto Call = CompileFilter(Folder.get(), OfflineName, FilterRules({}), ATimeoutMs);
  std::string StoreFolder = Folder.get();
  std::string PrivateFolder;
  if (!Call->Filter) {
    RemoveTree(Created);
    // A cache folder that cannot be written (read-only home) must not keep the engine from starting.
    const TzbGChars Private(g_dir_make_tmp("htmlservice-filters-XXXXXX", nullptr));
    if (Private) {
      PrivateFolder = Private.get();
      Call = CompileFilter(Private.get(), OfflineName, FilterRules({}), ATimeoutMs);
      if (!Call->Filter) RemoveTree(PrivateFolder);
      StoreFolder = PrivateFolder;
    }
  }
  if (!Call->Filter) {
    for (const std::string& Name : CompileTempFiles())
      if (!TempBefore.count(Name)) RemoveTree(Name);
    throw EzbOleError(
        E_FAIL,
        Format(u"Der Netzwerkfilter der HTML-Engine konnte weder in \"%s\" noch im temporären Ordner \"%s\" angelegt "
               u"werden (%s). Ohne ihn könnten Dokumente das Netz erreichen, daher startet der Dienst nicht. Bitte in "
               u"einem der beiden Ordner Platz schaffen oder Schreibrechte geben (oder XDG_CACHE_HOME bzw. TMPDIR auf "
               u"einen solchen Ordner setzen) und den Dienst neu starten.",
               {Utf8ToUtf16(Folder.get()), Utf8ToUtf16(g_get_tmp_dir()),
                Call->Done ? Call->Error : std::u16string(u"Zeitüberschreitung")}));
  }
  GFilter = std::move(Call->Filter);
  GStoreFolder = StoreFolder;
  return GFilter.get();
}

WebKitUserContentFilter* DocumentFilter(const std::string& ADocumentUri, int ATimeoutMs) {
  WebKitUserContentFilter* Fallback = NetworkBlockFilter(ATimeoutMs);
  if (!g_str_has_prefix(ADocumentUri.c_str(), "file:")) return Fallback;
  std::string Folder = ADocumentUri.substr(0, ADocumentUri.find_first_of("?#"));
  Folder.erase(Folder.rfind('/') + 1);
  // "file:" plus the root's slash at least; the root itself would let every file through.
  if (Folder.size() <= std::char_traits<char>::length("file:///") || Folder.find("/../") != std::string::npos ||
      Folder.find("/./") != std::string::npos ||
      std::any_of(Folder.begin(), Folder.end(), [](char C) { return C <= ' ' || C > '~' || C == '"' || C == '\\'; }))
    return Fallback;
  for (auto It = GFolderFilters.begin(); It != GFolderFilters.end(); ++It)
    if (It->Folder == Folder) {
      GFolderFilters.splice(GFolderFilters.begin(), GFolderFilters, It);
      return It->Filter.get();
    }
  const TzbGChars Name(g_strconcat(
      "zb-folder-", TzbGChars(g_compute_checksum_for_string(G_CHECKSUM_SHA256, Folder.c_str(), -1)).get(), nullptr));
  auto Call = CompileFilter(GStoreFolder.c_str(), Name.get(), FilterRules(Folder), ATimeoutMs);
  // Without its own filter a document still loads, only without any local resource.
  if (!Call->Filter) return Fallback;
  GFolderFilters.push_front({Folder, Name.get(), std::move(Call->Filter)});
  if (GFolderFilters.size() > MaxFolderFilters) {
    // A view that still holds the filter keeps it; only its stored copy goes.
    TzbGObject<WebKitUserContentFilterStore> Store(webkit_user_content_filter_store_new(GStoreFolder.c_str()));
    webkit_user_content_filter_store_remove(Store.get(), GFolderFilters.back().Name.c_str(), nullptr, IgnoreRemoval,
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
  const char* TestProgram = g_getenv(BubblewrapTestVariable);
  const std::string Program = TestProgram && *TestProgram ? TestProgram : BubblewrapProgram;
  if (!g_file_test(Program.c_str(), G_FILE_TEST_IS_EXECUTABLE))
    return Format(u"das Programm \"%s\" (Paket bubblewrap) fehlt", {Utf8ToUtf16(Program)});
  if (!g_file_test(DBusProxyProgram, G_FILE_TEST_IS_EXECUTABLE))
    return Format(u"das Programm \"%s\" (Paket xdg-dbus-proxy) fehlt", {Utf8ToUtf16(DBusProxyProgram)});
  const char* Argv[] = {Program.c_str(),
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
  gchar* ErrOut = nullptr;
  gint Status = 0;
  TzbGError Error;
  const bool Ran = g_spawn_sync(nullptr, const_cast<gchar**>(Argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr,
                                nullptr, nullptr, &ErrOut, &Status, Error.Out());
  const TzbGChars Err(ErrOut);
  if (!Ran) return Format(u"\"%s\" sich nicht starten ließ (%s)", {Utf8ToUtf16(Program), Error.Text(u"")});
  if (!g_spawn_check_wait_status(Status, nullptr)) {
    std::string Why = Err.get() ? Err.get() : "";
    while (!Why.empty() && (Why.back() == '\n' || Why.back() == '\r')) Why.pop_back();
    return Format(u"\"%s\" keine eigenen Namensräume anlegen kann (%s)",
                  {Utf8ToUtf16(Program), Utf8ToUtf16(Why.empty() ? "ohne Meldung" : Why)});
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
    TzbGObject<WebKitUserContentFilterStore> Store(webkit_user_content_filter_store_new(GStoreFolder.c_str()));
    for (const TFolderFilter& F : GFolderFilters)
      webkit_user_content_filter_store_remove(Store.get(), F.Name.c_str(), nullptr, IgnoreRemoval, nullptr);
    GFolderFilters.clear();
  }
  GFilter.reset();
  GContext.reset();
}

}  // namespace zb::webkit
