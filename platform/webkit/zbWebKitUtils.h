// The one place where WebKit signals and GLib plumbing live: owners for GObject and GError, the
// signal set of a view (load, crash, policy, menus, dialogs), waiting on the main context with a
// bound, script calls in a private world, and the content filter that keeps documents off the network.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "htmledit/zbMsHtml_tlb.h"

namespace zb::webkit {

template <typename T>
class TGObjectPtr {
 public:
  TGObjectPtr() = default;
  // Takes over one reference.
  explicit TGObjectPtr(T* AObject) : FObject(AObject) {}
  TGObjectPtr(const TGObjectPtr& A) : FObject(A.FObject) {
    if (FObject) g_object_ref(FObject);
  }
  TGObjectPtr(TGObjectPtr&& A) noexcept : FObject(std::exchange(A.FObject, nullptr)) {}
  TGObjectPtr& operator=(TGObjectPtr A) noexcept {
    std::swap(FObject, A.FObject);
    return *this;
  }
  ~TGObjectPtr() {
    if (FObject) g_object_unref(FObject);
  }
  T* get() const { return FObject; }
  explicit operator bool() const { return FObject != nullptr; }
  void reset() { TGObjectPtr().swap(*this); }
  void swap(TGObjectPtr& A) noexcept { std::swap(FObject, A.FObject); }

 private:
  T* FObject = nullptr;
};

class TGError {
 public:
  TGError() = default;
  TGError(const TGError&) = delete;
  TGError& operator=(const TGError&) = delete;
  ~TGError() {
    if (FError) g_error_free(FError);
  }
  GError** out() { return &FError; }
  GError* get() const { return FError; }
  std::u16string Message() const;

 private:
  GError* FError = nullptr;
};

class TGCharPtr {
 public:
  explicit TGCharPtr(gchar* AText) : FText(AText) {}
  TGCharPtr(const TGCharPtr&) = delete;
  TGCharPtr& operator=(const TGCharPtr&) = delete;
  ~TGCharPtr() { g_free(FText); }
  const gchar* get() const { return FText; }

 private:
  gchar* FText;
};

// Iterates the default main context until ADone() holds; false when ATimeoutMs passed first
// (ATimeoutMs <= 0 waits without bound).
bool WaitOnMainContext(const std::function<bool()>& ADone, int ATimeoutMs);

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
  WebKitWebView* FView = nullptr;
  std::vector<gulong> FIds;
};

// The outcome of one script: a value or the engine's error.
struct TScriptResult {
  HRESULT Code = S_OK;
  TVariant Value;
  std::u16string Error;
};

// Runs AScript in the private world AWorld and waits for its value. A dead web process
// (AFailed()) or a passed bound ends the wait with an error code.
TScriptResult RunScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld, int ATimeoutMs,
                        const std::function<bool()>& AFailed);
// Starts a script without waiting for it (releases of handles).
void PostScript(WebKitWebView* AView, const std::string& AScript, const char* AWorld);

// A JavaScript string literal holding AText exactly (every UTF-16 unit outside printable ASCII escaped).
std::string JsQuote(std::u16string_view AText);
std::string JsQuote(std::string_view AUtf8);

// Compiled once per process: blocks every request except file:, data: and about:. Raises EzbOleError
// when it can't be compiled, so no view is ever made without it.
WebKitUserContentFilter* NetworkBlockFilter(int ATimeoutMs);
// The process's web context: ephemeral, downloads refused.
WebKitWebContext* SharedWebContext();
// Drops the shared context and filter (module end).
void ReleaseSharedWebKit();

}  // namespace zb::webkit
