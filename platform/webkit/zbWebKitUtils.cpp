#include "platform/webkit/zbWebKitUtils.h"

#include <filesystem>
#include <memory>
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
  TScriptResult Result;
};

void OnScriptFinished(GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
  std::unique_ptr<std::shared_ptr<TScriptCall>> Call(static_cast<std::shared_ptr<TScriptCall>*>(AData));
  TScriptCall& C = **Call;
  const bool Read = GuardCallback(
      [&] {
        TzbGError Error;
        TzbGObject<JSCValue> Value(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(ASource), AResult, Error.Out()));
        if (!Value) {
          C.Result.Code = E_FAIL;
          C.Result.Error = Error.Text(u"Unbekannter Fehler der HTML-Engine");
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
  if (AFailed()) return {E_ZB_ENGINE_GONE, {}, u"Der Web-Prozess der HTML-Engine ist beendet"};
  auto Call = std::make_shared<TScriptCall>();
  webkit_web_view_evaluate_javascript(AView, AScript.data(), static_cast<gssize>(AScript.size()), AWorld, "zb:host",
                                      nullptr, OnScriptFinished, new std::shared_ptr<TScriptCall>(Call));
  bool InTime = WaitOnMainContext([&] { return Call->Done || AFailed(); }, ATimeoutMs);
  if (Call->Done) return Call->Result;
  if (!InTime) return {E_ZB_TIMEOUT, {}, u"Die HTML-Engine hat nicht rechtzeitig geantwortet"};
  return {E_ZB_ENGINE_GONE, {}, u"Der Web-Prozess der HTML-Engine ist beendet"};
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
TzbGObject<WebKitWebContext> GContext;

// The rule language has no alternation, so the exceptions are three rules of their own.
constexpr const char* BlockRules = R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)"
                                   R"({"trigger":{"url-filter":"^file:"},"action":{"type":"ignore-previous-rules"}},)"
                                   R"({"trigger":{"url-filter":"^data:"},"action":{"type":"ignore-previous-rules"}},)"
                                   R"({"trigger":{"url-filter":"^about:"},"action":{"type":"ignore-previous-rules"}}])";

// Owns its filter: one that is compiled only after its wait gave up goes with the call.
struct TFilterCall {
  bool Done = false;
  TzbContentFilter Filter;
  std::u16string Error;
};

}  // namespace

namespace {
// Compiles the rules into a filter store in AFolder; the call holds the filter, or its error.
std::shared_ptr<TFilterCall> CompileFilter(const char* AFolder, int ATimeoutMs) {
  TzbGObject<WebKitUserContentFilterStore> Store(webkit_user_content_filter_store_new(AFolder));
  TzbGBytes Source(g_bytes_new_static(BlockRules, std::char_traits<char>::length(BlockRules)));
  auto Call = std::make_shared<TFilterCall>();
  webkit_user_content_filter_store_save(
      Store.get(), "zb-offline", Source.get(), nullptr,
      [](GObject* AStore, GAsyncResult* AResult, gpointer AData) noexcept {
        std::unique_ptr<std::shared_ptr<TFilterCall>> C(static_cast<std::shared_ptr<TFilterCall>*>(AData));
        GuardCallback([&] {
          TzbGError Error;
          (*C)->Filter.reset(webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(AStore),
                                                                          AResult, Error.Out()));
          if (!(*C)->Filter) (*C)->Error = Error.Text(u"Unbekannter Fehler der HTML-Engine");
        });
        (*C)->Done = true;
      },
      new std::shared_ptr<TFilterCall>(Call));
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

WebKitUserContentFilter* NetworkBlockFilter(int ATimeoutMs) {
  if (GFilter) return GFilter.get();
  const TzbGChars Folder(g_build_filename(g_get_user_cache_dir(), "vestrum-htmlservice", "content-filters", nullptr));
  const std::set<std::string> TempBefore = CompileTempFiles();
  const std::string Created = FirstMissingFolder(Folder.get());
  auto Call = CompileFilter(Folder.get(), ATimeoutMs);
  std::string PrivateFolder;
  if (!Call->Filter) {
    RemoveTree(Created);
    // A cache folder that cannot be written (read-only home) must not keep the engine from starting.
    const TzbGChars Private(g_dir_make_tmp("htmlservice-filters-XXXXXX", nullptr));
    if (Private) {
      PrivateFolder = Private.get();
      Call = CompileFilter(Private.get(), ATimeoutMs);
      if (!Call->Filter) RemoveTree(PrivateFolder);
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
  return GFilter.get();
}

WebKitWebContext* SharedWebContext() {
  if (!GContext) {
    GContext = TzbGObject<WebKitWebContext>(webkit_web_context_new_ephemeral());
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
  GFilter.reset();
  GContext.reset();
}

}  // namespace zb::webkit
