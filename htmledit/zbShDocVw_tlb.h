// The browser object the editor wraps: navigation, ready state, the document, and the host side
// the engine calls back into. `TWebBrowser` is the control wrapper; the engine itself comes from
// the platform adapter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "htmledit/zbMsHtml_tlb.h"
#include "support/zbStr.h"  // TPoint

// GTK's own tags, declared so that users of the engine interfaces need no GTK headers.
typedef struct _GtkContainer GtkContainer;  // NOLINT(bugprone-reserved-identifier)
typedef struct _GtkWidget GtkWidget;        // NOLINT(bugprone-reserved-identifier)

namespace zb {

constexpr std::int32_t DISPID_AMBIENT_DLCONTROL = -5512;
constexpr std::uint16_t DISPATCH_METHOD = 1;
constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;

struct TDocHostUIInfo {
  std::uint32_t cbSize = 0;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwDoubleClick = 0;
};

// What the engine asks of its host. Answers follow the engine's result codes.
// The fields of the page-setup dialog the engine shows, as its host may fill and confirm them.
class IzbPageSetupFields {
 public:
  virtual ~IzbPageSetupFields() = default;
  // Margins are in the dialog's unit: inches when InchUnit(), else millimetres.
  virtual bool InchUnit() const = 0;
  virtual void SetLandscape(bool ALandscape) = 0;
  virtual void SetHeader(std::u16string_view AText) = 0;
  virtual void SetFooter(std::u16string_view AText) = 0;
  virtual void SetMargins(double ALeft, double ATop, double ARight, double ABottom) = 0;
  virtual void MoveOutOfSight() = 0;
  virtual void Confirm() = 0;
};

class IzbBrowserHost {
 public:
  virtual ~IzbBrowserHost() = default;
  // Ambient properties; the engine reads DISPID_AMBIENT_DLCONTROL before every load.
  virtual HRESULT AmbientInvoke(std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult) = 0;
  virtual HRESULT GetHostInfo(TDocHostUIInfo& AInfo) = 0;
  // 0: the host handled it and the engine shows no menu.
  virtual HRESULT ShowContextMenu(std::uint32_t AID, const TPoint& APoint) = 0;
  // 0: the host showed the message; AResult is the button pressed.
  virtual HRESULT ShowMessage(std::u16string_view AText, std::u16string_view ACaption, std::uint32_t AType,
                              std::int32_t& AResult) = 0;
  // Host-side commands (refresh, script errors, unload).
  virtual HRESULT HostExec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
                           TVariant* AOut) = 0;
  // Once per finished top-level load, also a failed one.
  virtual void DocumentComplete(std::u16string_view AUrl) = 0;
  // Every dialog of the engine once it is on screen; APageSetup for its page-setup dialog.
  virtual void DialogShown(GtkWidget* ADialog, IzbPageSetupFields* APageSetup) = 0;
};

// Navigate flag: the load leaves no entry in the view's history (where the engine allows that, an
// HTML file is read here and handed over as its bytes).
constexpr std::int32_t navNoHistory = 0x2;
// Navigate flag of this adapter: the document's text is about to be read. An HTML file then hands its
// type and its body's text over as its load ends, and the first reads take those instead of asking it.
constexpr std::int32_t navReadBodyText = 0x40000000;

class IWebBrowser2 {
 public:
  virtual ~IWebBrowser2() = default;
  // Starts loading a URL or a file path and returns at once. Raises EzbOleError when the engine refuses.
  virtual void Navigate(std::u16string_view AUrl, std::int32_t AFlags) = 0;
  virtual int ReadyState() = 0;
  // The loaded document, nullptr while none is loaded (also after the web process died).
  virtual std::shared_ptr<IHTMLDocument2> Document() = 0;
  virtual std::u16string LocationURL() = 0;
  virtual void Stop() = 0;
  virtual void Refresh() = 0;
  // The engine re-reads the ambient property (DISPID_AMBIENT_DLCONTROL) for the next load.
  virtual void OnAmbientPropertyChange(std::int32_t ADispID) = 0;
  // True once the web process died during the current document; cleared by the next Navigate.
  virtual bool EngineFailed() = 0;
  // Ends the web process and with it whatever it still works on (a wait for it ran out): the document
  // is gone, EngineFailed() is true, a pending load completes, and the next load starts a fresh process.
  virtual void EndEngineWork() = 0;
  // Longest time one engine call may wait for the web process, in milliseconds.
  virtual void SetCallTimeout(int AMilliseconds) = 0;
  virtual GtkWidget* Widget() = 0;
  // Frames and embedded objects of the document; frame browsers see the frame's document.
  virtual int FrameCount() = 0;
  virtual std::shared_ptr<IWebBrowser2> Frame(int AIndex) = 0;
  // The rendered page as 32-bit ARGB pixels scaled to AWidth x AHeight; false when it can't be drawn.
  virtual bool Snapshot(int AWidth, int AHeight, std::vector<std::uint32_t>& APixels) = 0;
  // Handler for a standard (no group) command the document's command target does not run itself.
  using TStandardCommand = std::function<HRESULT(std::uint32_t ACmdExecOpt, const TVariant& AIn, TVariant* AOut)>;
  virtual void SetStandardCommand(std::uint32_t ACmdID, TStandardCommand AHandler) = 0;
};

// Creates the engine in AParent, or in an offscreen window of its own when AParent is nullptr.
std::unique_ptr<IWebBrowser2> CreateWebBrowser(GtkContainer* AParent, IzbBrowserHost& AHost);
// Frees what the engine keeps for the whole process (module end).
void ReleaseWebBrowserEngine();

// The control wrapper: owns the engine and raises OnDocumentComplete.
class TWebBrowser : protected IzbBrowserHost {
 public:
  explicit TWebBrowser(GtkContainer* AParent = nullptr);
  ~TWebBrowser() override;
  TWebBrowser(const TWebBrowser&) = delete;
  TWebBrowser& operator=(const TWebBrowser&) = delete;

  void Navigate(std::u16string_view AUrl, std::int32_t AFlags = 0) { FEngine->Navigate(AUrl, AFlags); }
  void Navigate2(std::u16string_view AUrl) { FEngine->Navigate(AUrl, 0); }
  int ReadyState() { return FEngine->ReadyState(); }
  std::shared_ptr<IHTMLDocument2> Document() { return FEngine->Document(); }
  IWebBrowser2& DefaultInterface() { return *FEngine; }
  GtkWidget* Widget() { return FEngine->Widget(); }

  std::function<void(TWebBrowser& ASender, std::u16string_view AUrl)> OnDocumentComplete;

 protected:
  // The wrapper's own answers, used when the component has nothing to say.
  HRESULT AmbientInvoke(std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult) override;
  HRESULT GetHostInfo(TDocHostUIInfo& AInfo) override;
  HRESULT ShowContextMenu(std::uint32_t AID, const TPoint& APoint) override;
  HRESULT ShowMessage(std::u16string_view AText, std::u16string_view ACaption, std::uint32_t AType,
                      std::int32_t& AResult) override;
  HRESULT HostExec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
                   TVariant* AOut) override;
  void DocumentComplete(std::u16string_view AUrl) override;
  void DialogShown(GtkWidget*, IzbPageSetupFields*) override {}

 private:
  std::unique_ptr<IWebBrowser2> FEngine;
};

}  // namespace zb
