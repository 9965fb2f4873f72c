// The HTML editor and viewer component: the engine's host (every engine callback is an event with a
// fixed answer when no handler is assigned), download and host-interface options as sets, a small
// document life cycle (navigate, load, save, blank document, design mode), content access, editing
// commands and text ranges. All calls run on the GTK main thread; its waits serve the main loop.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "htmledit/zbHtmlPrintOptions.h"
#include "htmledit/zbMsHtml_tlb.h"
#include "htmledit/zbShDocVw_tlb.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbStr.h"

// GDK's tag, declared so that users of the editor need no GDK headers.
typedef struct _GdkEventKey GdkEventKey;  // NOLINT(bugprone-reserved-identifier)

namespace zb {

// A set over an enumeration, stored as bits in enumeration order (bit n = value n).
template <typename E, int N>
class TzbSet {
 public:
  constexpr TzbSet() = default;
  constexpr TzbSet(std::initializer_list<E> AValues) {
    for (E v : AValues) Include(v);
  }
  static constexpr TzbSet FromBits(std::uint32_t ABits) {
    TzbSet s;
    s.FBits = ABits & AllBits();
    return s;
  }
  constexpr std::uint32_t Bits() const { return FBits; }
  constexpr bool Contains(E AValue) const { return (FBits >> static_cast<int>(AValue)) & 1u; }
  constexpr void Include(E AValue) { FBits |= 1u << static_cast<int>(AValue); }
  constexpr void Exclude(E AValue) { FBits &= ~(1u << static_cast<int>(AValue)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool operator==(const TzbSet&) const = default;
  static constexpr int Count = N;

 private:
  static constexpr std::uint32_t AllBits() { return N >= 32 ? 0xFFFFFFFFu : (1u << N) - 1; }
  std::uint32_t FBits = 0;
};

enum class TDownloadControlOption {
  DLCTL_DLIMAGES,
  DLCTL_VIDEOS,
  DLCTL_BGSOUNDS,
  DLCTL_NO_SCRIPTS,
  DLCTL_NO_JAVA,
  DLCTL_NO_RUNACTIVEXCTLS,
  DLCTL_NO_DLACTIVEXCTLS,
  DLCTL_DOWNLOADONLY,
  DLCTL_NO_FRAMEDOWNLOAD,
  DLCTL_RESYNCHRONIZE,
  DLCTL_PRAGMA_NO_CACHE,
  DLCTL_NO_BEHAVIORS,
  DLCTL_NO_METACHARSET,
  DLCTL_URL_ENCODING_DISABLE_UTF8,
  DLCTL_URL_ENCODING_ENABLE_UTF8,
  DLCTL_FORCEOFFLINE,
  DLCTL_NO_CLIENTPULL,
  DLCTL_SILENT,
  DLCTL_OFFLINE
};
using TDownloadControlOptions = TzbSet<TDownloadControlOption, 19>;

enum class TUserInterfaceOption {
  DIALOG,
  DISABLE_HELP_MENU,
  NO3DBORDER,
  SCROLL_NO,
  DISABLE_SCRIPT_INACTIVE,
  OPENNEWWIN,
  DISABLE_OFFSCREEN,
  FLAT_SCROLLBAR,
  DIV_BLOCKDEFAULT,
  ACTIVATE_CLIENTHIT_ONLY,
  OVERRIDEBEHAVIORFACTORY,
  CODEPAGELINKEDFONTS,
  URL_ENCODING_DISABLE_UTF8,
  URL_ENCODING_ENABLE_UTF8,
  ENABLE_FORMS_AUTOCOMPLETE,
  ENABLE_INPLACE_NAVIGATION,
  IME_ENABLE_RECONVERSION,
  THEME,
  NOTHEME,
  NOPICS,
  NO3DOUTERBORDER,
  DISABLE_EDIT_NS_FIXUP,
  LOCAL_MACHINE_ACCESS_CHECK,
  DISABLE_UNTRUSTEDPROTOCOL,
  HOST_NAVIGATES,
  ENABLE_REDIRECT_NOTIFICATION,
  USE_WINDOWLESS_SELECTCONTROL,
  USE_WINDOWED_SELECTCONTROL,
  ENABLE_ACTIVEX_INACTIVATE_MODE
};
using TUserInterfaceOptions = TzbSet<TUserInterfaceOption, 29>;

// Sums of the platform constants (DLCTL_*, DOCHOSTUIFLAG_*) of the members.
std::int32_t DownloadControlMask(TDownloadControlOptions AOptions);
std::uint32_t UserInterfaceMask(TUserInterfaceOptions AOptions);

// A stored property equal to these is not written to a form layout.
constexpr std::uint32_t DefaultStoredDownloadOptions = 262527;
constexpr std::uint32_t DefaultStoredUserInterfaceOptions = 49588;

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TzbSet<TFontStyle, 4>;

struct TFontInfo {
  std::u16string Fontname;
  std::int32_t Size = 0;
  TFontStyles FontStyle;
};

// Points of a font-size text: "10pt", "13.5px" (pixels taken as points; ADecimalSeparator is the
// locale's) or an HTML size 1..7; 0 when it means nothing.
std::int32_t FontSizeFromText(std::u16string_view AText, char16_t ADecimalSeparator);
char16_t LocaleDecimalSeparator();

// One shared reference to the engine's text range.
struct IHtmlTextRange {
  std::shared_ptr<IHTMLTxtRange> TextRange;
  // Raises EzbOleError when there is no range or the engine refuses.
  bool PasteHTML(std::u16string_view AHtml);
  // UTF-8 that arrived as ANSI characters is repaired first.
  bool PasteHTMLUTF8(std::u16string_view AHtml);
};

// A drawing of the document: 32-bit ARGB pixels, row by row.
struct TzbImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;
};

// Module start and end: the floating-point environment the engine needs (every exception masked,
// rounding to nearest) and GTK. Start is idempotent and runs on the first component's creation too;
// it answers whether a display is there.
bool HtmlEdModuleStart();
void HtmlEdModuleEnd();

// A default bound for every wait, in milliseconds.
constexpr int DefaultWaitTimeoutMs = 30000;

struct TzbHtmlEdHooks;
struct TzbHtmlEdHooksFree {
  void operator()(TzbHtmlEdHooks* AHooks) const noexcept;
};
using TzbHtmlEdHooksPtr = std::unique_ptr<TzbHtmlEdHooks, TzbHtmlEdHooksFree>;

// The zoom levels the engine offers.
struct TZoomRange {
  std::int32_t Low = 0;
  std::int32_t High = 0;
};

// Module-wide, for the next page-setup dialog: fill it from PrintOptions and confirm it, and first
// move it out of sight.
extern bool ApplyPrintOptionsToDialog;
extern bool HidePageSetupDialog;

// The application's icon on ADialog; in its title the first "Microsoft " goes and the first
// "Internet Explorer" becomes the application's title.
void ReplaceDialogCaption(GtkWidget* ADialog);

class TzbCustomHtmlEdit : public TWebBrowser {
 public:
  // AParent: the container that hosts the engine (the service's offscreen window); without one the
  // engine gets an offscreen window of its own. Raises EzbException without a display.
  explicit TzbCustomHtmlEdit(void* AOwner = nullptr, GtkContainer* AParent = nullptr);
  ~TzbCustomHtmlEdit() override;

  virtual void Loaded();

  // Options
  TDownloadControlOptions DownloadOptions() const { return FDownloadControlOptions; }
  void SetDownloadOptions(TDownloadControlOptions AValue);
  TUserInterfaceOptions UserInterfaceOptions() const { return FUserInterfaceOptions; }
  void SetUserInterfaceOptions(TUserInterfaceOptions AValue);
  std::int32_t DownloadOptionValue() const { return FDownloadOptionValue; }
  std::uint32_t UserInterfaceValue() const { return FUserInterfaceValue; }
  const std::u16string& HelpFile() const { return FHelpFile; }
  void SetHelpFile(std::u16string AValue) { FHelpFile = std::move(AValue); }
  bool EnableDDE() const { return FEnableDDE; }
  void SetEnableDDE(bool AValue) { FEnableDDE = AValue; }
  bool ReplaceCaption() const { return FReplaceCaption; }
  void SetReplaceCaption(bool AValue) { FReplaceCaption = AValue; }
  // Longest wait for the engine (load completion, one engine call); <= 0 waits without bound.
  int WaitTimeout() const { return FWaitTimeoutMs; }
  void SetWaitTimeout(int AMilliseconds);

  THtmlPrintOptions& PrintOptions() { return *FPrintOptions; }
  void SetPrintOptions(const THtmlPrintOptions& AValue) { *FPrintOptions = AValue; }
  // The measurement system of the user's locale, fixed at creation.
  TMeasure RuntimeMeasure = mMetric;

  IWebBrowser2& ControlInterface();
  std::shared_ptr<IHTMLDocument2> DOC();
  std::shared_ptr<IOleCommandTarget> CmdTarget();
  IHtmlTextRange HtmlTextRange();
  TFontInfo CurrentFontInfo() { return GetCurrentFontInfo(); }
  TFontInfo GetCurrentFontInfo();

  // Navigation and documents
  void Go(std::u16string_view AUrl);
  void AssignDocument();
  HRESULT SaveToFile(std::u16string_view AFilename);
  HRESULT SaveToStream(std::string& AStream);
  HRESULT SaveToStrings(TStringList& AStrings);
  HRESULT LoadFromStream(std::string_view AStream);
  HRESULT LoadFromStrings(const TStringList& AStrings);
  std::u16string GetDocumentFilename();
  void SetFocusToDoc();
  // True once the ready state is complete; false when the bound passed or the web process died.
  bool WaitForComplete();

  // Content
  std::u16string GetDocumentSource();
  std::u16string GetDocumentHeader();
  void SetDefaultBodyStyle(std::u16string_view AFontname, std::int32_t AFontSize);
  std::shared_ptr<IWebBrowser2> GetFrame(int AFrameNo);
  int FrameCount();
  // Draws the document into AImage at its Width x Height; nothing for an empty image.
  bool GetThumbnail(TzbImage& AImage);

  // Commands
  HRESULT InvokeCMD(bool AInvokeIE, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
                    TVariant* AOut);
  HRESULT InvokeCMD(bool AInvokeIE, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt);

  // Printing, dialogs and zoom (zbHtmlEdPrint.cpp): each sends its command to the command target;
  // without a document nothing happens. Print hands header, footer and HTML header of PrintOptions over.
  void Print(bool APromptUser);
  void PrintSetup() { Print(true); }
  void PrintWithOptions();
  void PrintPreview();
  void PageSetup(bool AUsePrintOptions);
  void OpenDialog();
  void SaveDialog();
  void Properties();
  void CopyToClipboard();
  void SelectAll();
  void UnselectAll();
  void Find();
  void ViewSource();
  void Options();
  void Zoom(std::int32_t AValue);
  std::int32_t ZoomValue();
  TZoomRange ZoomRange();

  // Cache, history and offline state (zbHtmlEdHooks.cpp). The cache and the history are the engine's
  // for the whole process; the offline switch is the user's, shared with the user's other programs.
  void ClearCache();
  void ClearHistory();
  bool IsGlobalOffline();
  void SetGlobalOffline(bool AValue);

  // Window hooks and shell requests (zbHtmlEdHooks.cpp). Loaded installs the key filter and the
  // owner-window hook; both end with the component.
  // A shell item-id list has no meaning here: raises EzbOleError.
  void NavigatePidl(const void* APidl);
  void HookParentForm();
  void UnhookParentForm();
  // The owner window the hook watches; nullptr without hook.
  GtkWidget* ParentForm() const;
  // Key events of the view: true when they stop here, false when the engine gets them as ordinary keys.
  bool BrowserWndProc(GdkEventKey* AKey);

  // Host side: the engine's callbacks. Each calls its event, or gives the fixed answer without one.
  HRESULT ShowContextMenu(std::uint32_t AID, const TPoint& APoint) override;
  HRESULT GetHostInfo(TDocHostUIInfo& AInfo) override;
  HRESULT ShowUI();
  HRESULT HideUI();
  HRESULT UpdateUI();
  HRESULT EnableModeless(bool AEnable);
  HRESULT OnDocWindowActivate(bool AActivate);
  HRESULT OnFrameWindowActivate(bool AActivate);
  HRESULT ResizeBorder(bool AFrameWindow);
  HRESULT TranslateAccelerator(std::uint32_t AKey);
  HRESULT GetOptionKeyPath(std::u16string& AKey);
  HRESULT GetDropTarget(void*& ADropTarget);
  HRESULT GetExternal(void*& ADispatch);
  HRESULT TranslateUrl(std::u16string_view AUrlIn, std::u16string& AUrlOut);
  HRESULT FilterDataObject(void* AIn, void*& AOut);
  HRESULT GetOverrideKeyPath(std::u16string& AKey);
  HRESULT ShowMessage(std::u16string_view AText, std::u16string_view ACaption, std::uint32_t AType,
                      std::int32_t& AResult) override;
  HRESULT ShowHelp(std::u16string_view AHelpFile, std::uint32_t ACommand, std::uint32_t AData);
  HRESULT QueryService(const TGUID& AService, const TGUID& AIID, void*& AObject);
  HRESULT GetTypeInfoCount(std::uint32_t& ACount);
  HRESULT GetTypeInfo(std::uint32_t AIndex, void*& ATypeInfo);
  HRESULT GetIDsOfNames(std::u16string_view AName, std::int32_t& ADispID);
  HRESULT Invoke(std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult);
  HRESULT QueryStatus(const TGUID* AGroup, std::uint32_t ACmdID);
  HRESULT Exec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
               TVariant* AOut);

  // Events
  using TSender = TzbCustomHtmlEdit&;
  std::function<HRESULT(TSender, std::uint32_t& ACount)> OnGetTypeInfoCount;
  std::function<HRESULT(TSender, std::uint32_t AIndex, void*& ATypeInfo)> OnGetTypeInfo;
  std::function<HRESULT(TSender, std::u16string_view AName, std::int32_t& ADispID)> OnGetIDsOfNames;
  std::function<HRESULT(TSender, std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult)> OnInvoke;
  std::function<HRESULT(TSender, std::u16string_view AText, std::u16string_view ACaption, std::uint32_t AType,
                        std::int32_t& AResult)>
      OnShowMessage;
  std::function<HRESULT(TSender, std::u16string_view AHelpFile, std::uint32_t ACommand, std::uint32_t AData)>
      OnShowHelp;
  std::function<HRESULT(TSender, std::uint32_t AID, const TPoint& APoint)> OnShowContextMenu;
  std::function<HRESULT(TSender, TDocHostUIInfo& AInfo)> OnGetHostInfo;
  std::function<HRESULT(TSender)> OnShowUI, OnHideUI, OnUpdateUI;
  std::function<HRESULT(TSender, bool AEnable)> OnEnableModeless;
  std::function<HRESULT(TSender, bool AActivate)> OnOnDocWindowActivate, OnOnFrameWindowActivate;
  std::function<HRESULT(TSender, bool AFrameWindow)> OnResizeBorder;
  std::function<HRESULT(TSender, std::uint32_t AKey)> OnTranslateAccelerator;
  std::function<HRESULT(TSender, std::u16string&AKey)> OnGetOptionKeyPath, OnGetOverrideKeyPath;
  std::function<HRESULT(TSender, void*& ADropTarget)> OnGetDropTarget;
  std::function<HRESULT(TSender, void*& ADispatch)> OnGetExternal;
  std::function<HRESULT(TSender, std::u16string_view AUrlIn, std::u16string& AUrlOut)> OnTranslateUrl;
  std::function<HRESULT(TSender, void* AIn, void*& AOut)> OnFilterDataObject;
  std::function<HRESULT(TSender, const TGUID& AService, const TGUID& AIID, void*& AObject)> OnQueryService;
  std::function<void(TSender, std::u16string_view AErrorLine, std::u16string_view AErrorCharacter,
                     std::u16string_view AErrorCode, std::u16string_view AErrorMessage, std::u16string_view AErrorUrl,
                     bool& AContinueScript, bool& AShowdialog)>
      OnScriptError;
  std::function<void(TSender, std::int32_t ACmdId, bool& ACancel)> OnRefresh;
  std::function<void(TSender)> OnUnload;
  std::function<void(TSender, bool& ACanClose)> OnCloseQuery;
  std::function<void(TSender, GtkWidget* AHandle)> OnShowDialog;

 protected:
  // The dialog watching on the owner window: called when the window's activation changes, which a
  // dialog of the engine taking or giving back the focus does.
  virtual void ParentFormWndProc(GtkWidget* AOwner);
  // Every dialog of the engine (zbHtmlEdDialogs.cpp): caption rule, PrintOptions into the page-setup
  // dialog when ApplyPrintOptionsToDialog is set, OnShowDialog.
  void DialogShown(GtkWidget* ADialog, IzbPageSetupFields* APageSetup) override;

  HRESULT AmbientInvoke(std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult) override {
    return Invoke(ADispID, AFlags, AResult);
  }
  HRESULT HostExec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
                   TVariant* AOut) override {
    return Exec(AGroup, ACmdID, ACmdExecOpt, AIn, AOut);
  }
  bool HasDocument() { return Document() != nullptr; }

  IWebBrowser2* FControlInterface = nullptr;
  bool FReplaceCaption = false;
  TzbWeak<GtkWidget> FLastDialog;  // the engine's last announced dialog, which the owner hook skips
  std::unique_ptr<THtmlPrintOptions> FPrintOptions;
  TDownloadControlOptions FDownloadControlOptions;
  TUserInterfaceOptions FUserInterfaceOptions;
  std::u16string FHelpFile;
  std::int32_t FDownloadOptionValue = 0;
  std::uint32_t FUserInterfaceValue = 0;
  bool FEnableDDE = false;
  int FWaitTimeoutMs = DefaultWaitTimeoutMs;

 private:
  friend struct TzbHtmlEdHooks;
  TzbHtmlEdHooksPtr FHooks;
};

class TzbHtmlEdit : public TzbCustomHtmlEdit {
 public:
  static constexpr TDownloadControlOptions DefaultDownloadOptions{
      TDownloadControlOption::DLCTL_DLIMAGES,         TDownloadControlOption::DLCTL_VIDEOS,
      TDownloadControlOption::DLCTL_BGSOUNDS,         TDownloadControlOption::DLCTL_NO_SCRIPTS,
      TDownloadControlOption::DLCTL_NO_JAVA,          TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS,
      TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS, TDownloadControlOption::DLCTL_NO_FRAMEDOWNLOAD,
      TDownloadControlOption::DLCTL_OFFLINE};
  static constexpr TUserInterfaceOptions DefaultUserInterfaceOptions{TUserInterfaceOption::NO3DBORDER,
                                                                     TUserInterfaceOption::DISABLE_SCRIPT_INACTIVE,
                                                                     TUserInterfaceOption::OPENNEWWIN,
                                                                     TUserInterfaceOption::FLAT_SCROLLBAR,
                                                                     TUserInterfaceOption::DIV_BLOCKDEFAULT,
                                                                     TUserInterfaceOption::ENABLE_FORMS_AUTOCOMPLETE,
                                                                     TUserInterfaceOption::ENABLE_INPLACE_NAVIGATION};

  explicit TzbHtmlEdit(void* AOwner = nullptr, GtkContainer* AParent = nullptr);
  ~TzbHtmlEdit() override;

  // The blank document file in the temporary folder; starts loading it and does not wait. The file
  // lives while the engine shows it: the next load or the editor's end removes it.
  void AssignDocument();
  void Clear();
  // Always 0; the load goes on and ends with OnDocumentComplete.
  // ANavFlags as for Navigate (navNoHistory).
  std::int32_t LoadFromFile(std::u16string_view AFilename, bool ASaveChanges, std::int32_t ANavFlags = 0);
  // 0 written, 1 not written; never raises.
  std::int32_t SaveToPlainFile(std::u16string_view AFilename);
  bool GetDesignMode();
  void SetDesignMode(bool AValue);
  // The name of the blank document file the last AssignDocument wrote; empty once it is removed.
  const std::u16string& BlankDocumentFile() const { return FBlankDocumentFile; }

 private:
  void ReleaseBlankDocument();
  std::u16string FBlankDocumentFile;
};

// The blank start document and its name.
constexpr const char16_t* BlankDocumentName = u"AS_about_blank";
constexpr const char16_t* BlankDocumentExt = u".htm";
constexpr const char16_t* BlankDocumentText = u"<html><div>&nbsp;</div></html>";

}  // namespace zb
