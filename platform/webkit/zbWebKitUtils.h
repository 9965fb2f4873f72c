// The one place where WebKit signals live: the signal set of a view (load, crash, policy, menus,
// dialogs), script calls in a private world, and the content filter that keeps documents off the network.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "htmledit/zbMsHtml_tlb.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"

namespace zb::webkit {

using zb::TzbGChars;
using zb::TzbGError;
using zb::TzbGObject;
using zb::WaitOnMainContext;

// The signals of one view. Handlers left empty keep WebKit's own behaviour.
class TWebViewSignals {
 public:
  std::function<void(WebKitLoadEvent)> OnLoadChanged;
  std::function<bool(const char* AUri, GError* AError)> OnLoadFailed;
  std::function<void(WebKitWebProcessTerminationReason)> OnTerminated;
  std::function<bool(WebKitPolicyDecision*, WebKitPolicyDecisionType)> OnDecidePolicy;
  std::function<bool(WebKitContextMenu*, GdkEvent*)> OnContextMenu;
  std::function<bool(WebKitScriptDialog*)> OnScriptDialog;

  TWebViewSignals() = default;
  TWebViewSignals(const TWebViewSignals&) = delete;
  TWebViewSignals& operator=(const TWebViewSignals&) = delete;
  ~TWebViewSignals() { Disconnect(); }
  void Connect(WebKitWebView* AView);
  void Disconnect();

 private:
  std::vector<TzbSignal> FSignals;
};

// The outcome of one script: a value or the engine's error.
struct TScriptResult {
  HRESULT Code = S_OK;
  TVariant Value;
  std::u16string Error;
};

// A script's value as the adapter hands it on: null, boolean, number or text.
TVariant ValueFromJsc(JSCValue* AValue);

// Runs AScript in the private world AWorld and waits for its value. A dead web process
// (AFailed()) or a passed bound ends the wait with an error code.
TScriptResult RunScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld, int ATimeoutMs,
                        const std::function<bool()>& AFailed);
// Starts a script without waiting for it (releases of handles).
void PostScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld);

// A JavaScript string literal holding AText exactly (every UTF-16 unit outside printable ASCII escaped).
std::string JsQuote(std::u16string_view AText);
std::string JsQuote(std::string_view AUtf8);

// Compiled once per process: blocks every request except data: and about:. Raises EzbOleError when it
// can't be compiled, so no view is ever made without it.
WebKitUserContentFilter* NetworkBlockFilter(int ATimeoutMs);
// The filter for a document at ADocumentUri: the offline filter, which lets through only file:
// addresses in the document's own folder and the folders below it (a mail's attachments); every
// other local file is refused like a remote address. A document that is no local file gets none.
// Kept for the last few folders.
WebKitUserContentFilter* DocumentFilter(const std::string& ADocumentUri, int ATimeoutMs);
// The engine binds the cache folder into its sandbox, readable and writable: it gets a folder of its
// own below the user's ("vestrum-htmlservice-web"), so the web process sees none of the user's caches.
// Only effective before anything in the process asked GLib for the cache folder (start of main);
// children still get the user's folder.
void GiveEngineItsOwnCacheFolder();
// Why the web process cannot run in the engine's sandbox (bubblewrap missing, no user namespaces), as
// a German clause to follow "weil"; empty when it can. Decided once per process, the first time it is asked.
const std::u16string& WebSandboxProblem();
// The process's web context: ephemeral, downloads refused, its web processes in the engine's sandbox
// unless WebSandboxProblem() says why not.
WebKitWebContext* SharedWebContext();
// Drops the shared context and filter (module end).
void ReleaseSharedWebKit();

}  // namespace zb::webkit
