#include "htmledit/zbHtmlEd.h"

#include "htmledit/zbHtmlEdHooks.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cfenv>
#include <clocale>
#include <cmath>

#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbCOwner.h"
#include "support/zbFileCtrl.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

constexpr std::int32_t DownloadConstants[TDownloadControlOptions::Count] = {0x10,
                                                                            0x20,
                                                                            0x40,
                                                                            0x80,
                                                                            0x100,
                                                                            0x200,
                                                                            0x400,
                                                                            0x800,
                                                                            0x1000,
                                                                            0x2000,
                                                                            0x4000,
                                                                            0x8000,
                                                                            0x10000,
                                                                            0x20000,
                                                                            0x40000,
                                                                            0x10000000,
                                                                            0x20000000,
                                                                            0x40000000,
                                                                            static_cast<std::int32_t>(0x80000000u)};
constexpr std::uint32_t UserInterfaceConstants[TUserInterfaceOptions::Count] = {
    0x1,      0x2,      0x4,      0x8,       0x10,      0x20,      0x40,      0x80,       0x100,     0x200,
    0x400,    0x800,    0x1000,   0x2000,    0x4000,    0x10000,   0x20000,   0x40000,    0x80000,   0x100000,
    0x200000, 0x400000, 0x800000, 0x1000000, 0x2000000, 0x4000000, 0x8000000, 0x10000000, 0x20000000};

constexpr TDownloadControlOptions CustomDefaultDownloadOptions{
    TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
    TDownloadControlOption::DLCTL_BGSOUNDS, TDownloadControlOption::DLCTL_SILENT};

constexpr std::uint32_t HostInfoSize = 20;

bool GModuleStarted = false;
bool GDisplay = false;
std::fenv_t GSavedFloatEnv;

}  // namespace

std::int32_t DownloadControlMask(TDownloadControlOptions AOptions) {
  std::uint32_t Mask = 0;
  for (int I = 0; I < TDownloadControlOptions::Count; ++I)
    if (AOptions.Contains(static_cast<TDownloadControlOption>(I)))
      Mask += static_cast<std::uint32_t>(DownloadConstants[I]);
  return static_cast<std::int32_t>(Mask);
}

std::uint32_t UserInterfaceMask(TUserInterfaceOptions AOptions) {
  std::uint32_t Mask = 0;
  for (int I = 0; I < TUserInterfaceOptions::Count; ++I)
    if (AOptions.Contains(static_cast<TUserInterfaceOption>(I))) Mask += UserInterfaceConstants[I];
  return Mask;
}

bool HtmlEdModuleStart() {
  if (GModuleStarted) return GDisplay;
  // The engine expects every floating-point exception masked and rounding to nearest.
  std::feholdexcept(&GSavedFloatEnv);
  std::fesetround(FE_TONEAREST);
  GDisplay = gtk_init_check(nullptr, nullptr);
  GModuleStarted = true;
  return GDisplay;
}

void HtmlEdModuleEnd() {
  if (!GModuleStarted) return;
  ReleaseWebBrowserEngine();
  ProcessPendingMessages();
  std::fesetenv(&GSavedFloatEnv);
  GModuleStarted = false;
}

namespace {

std::u16string DecodeCharset(const std::string& ABytes, const std::u16string& ACharset) {
  std::string Charset = Utf16ToUtf8(ACharset);
  if (Charset.empty() || g_ascii_strcasecmp(Charset.c_str(), "UTF-8") == 0) return Utf8ToUtf16(ABytes);
  gsize Written = 0;
  TzbGChars Utf8(g_convert(ABytes.data(), static_cast<gssize>(ABytes.size()), "UTF-8", Charset.c_str(), nullptr,
                           &Written, nullptr));
  if (!Utf8) return FromAnsiBytes(ABytes);
  return Utf8ToUtf16(std::string_view(Utf8.get(), Written));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzbCustomHtmlEdit

namespace {
GtkContainer* CheckedParent(GtkContainer* AParent) {
  if (!HtmlEdModuleStart()) throw EzbException(u"Der HTML-Editor braucht eine Anzeige (DISPLAY oder WAYLAND_DISPLAY)");
  return AParent;
}
}  // namespace

TzbCustomHtmlEdit::TzbCustomHtmlEdit(void*, GtkContainer* AParent) : TWebBrowser(CheckedParent(AParent)) {
  DefaultInterface().SetCallTimeout(FWaitTimeoutMs);
  FPrintOptions = std::make_unique<THtmlPrintOptions>();
  RuntimeMeasure = RuntimeMeasureFromLocale();
  SetDownloadOptions(CustomDefaultDownloadOptions);
  SetUserInterfaceOptions({});
  FEnableDDE = false;
  FHooks = CreateHtmlEdHooks(*this, AParent);
}

void TzbCustomHtmlEdit::Loaded() {
  FDownloadOptionValue = DownloadControlMask(FDownloadControlOptions);
  FUserInterfaceValue = UserInterfaceMask(FUserInterfaceOptions);
  HookParentForm();
  InstallKeyboardHook(*FHooks);
}

void TzbCustomHtmlEdit::SetDownloadOptions(TDownloadControlOptions AValue) {
  FDownloadControlOptions = AValue;
  FDownloadOptionValue = DownloadControlMask(AValue);
  ControlInterface().OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

void TzbCustomHtmlEdit::SetUserInterfaceOptions(TUserInterfaceOptions AValue) {
  FUserInterfaceOptions = AValue;
  FUserInterfaceValue = AValue.Empty() ? 0 : UserInterfaceMask(AValue);
  ControlInterface().OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

void TzbCustomHtmlEdit::SetWaitTimeout(int AMilliseconds) {
  FWaitTimeoutMs = AMilliseconds;
  ControlInterface().SetCallTimeout(AMilliseconds);
}

IWebBrowser2& TzbCustomHtmlEdit::ControlInterface() {
  if (!FControlInterface) FControlInterface = &DefaultInterface();
  return *FControlInterface;
}

std::shared_ptr<IHTMLDocument2> TzbCustomHtmlEdit::DOC() { return Document(); }

std::shared_ptr<IOleCommandTarget> TzbCustomHtmlEdit::CmdTarget() {
  return std::dynamic_pointer_cast<IOleCommandTarget>(Document());
}

bool TzbCustomHtmlEdit::WaitForComplete() {
  IWebBrowser2& B = ControlInterface();
  // Nothing loaded and nothing loading: there is nothing to wait for.
  if (B.ReadyState() == READYSTATE_UNINITIALIZED) return false;
  if (!WaitOnMainContext([&] { return B.ReadyState() == READYSTATE_COMPLETE || B.EngineFailed(); }, FWaitTimeoutMs))
    B.EndEngineWork();  // the engine would go on with it behind every later request
  return B.ReadyState() == READYSTATE_COMPLETE;
}

void TzbCustomHtmlEdit::Go(std::u16string_view AUrl) { ControlInterface().Navigate(AUrl, 0); }

void TzbCustomHtmlEdit::AssignDocument() {
  Go(u"about:blank");
  WaitForComplete();
}

HRESULT TzbCustomHtmlEdit::SaveToFile(std::u16string_view AFilename) {
  if (!WaitForComplete()) return HasDocument() ? E_ZB_TIMEOUT : S_FALSE;
  auto File = std::dynamic_pointer_cast<IPersistFile>(Document());
  if (!File) return S_FALSE;
  return File->Save(AFilename, false);
}

HRESULT TzbCustomHtmlEdit::SaveToStream(std::string& AStream) {
  if (!WaitForComplete()) return HasDocument() ? E_ZB_TIMEOUT : S_FALSE;
  auto Stream = std::dynamic_pointer_cast<IPersistStreamInit>(Document());
  if (!Stream) return S_FALSE;
  return Stream->Save(AStream, true);
}

HRESULT TzbCustomHtmlEdit::SaveToStrings(TStringList& AStrings) {
  std::string Bytes;
  HRESULT R = SaveToStream(Bytes);
  if (R != S_OK) return R;  // S_FALSE: nothing was written
  std::u16string Charset;
  if (auto D = Document()) Charset = D->charset();
  std::u16string Text = DecodeCharset(Bytes, Charset);
  AStrings.clear();
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find_first_of(u"\r\n", Start);
    if (End == std::u16string::npos) {
      AStrings.push_back(Text.substr(Start));
      break;
    }
    AStrings.push_back(Text.substr(Start, End - Start));
    Start = End + (Text[End] == u'\r' && End + 1 < Text.size() && Text[End + 1] == u'\n' ? 2 : 1);
  }
  return R;
}

HRESULT TzbCustomHtmlEdit::LoadFromStream(std::string_view AStream) {
  if (!HasDocument()) TzbCustomHtmlEdit::AssignDocument();
  auto Stream = std::dynamic_pointer_cast<IPersistStreamInit>(Document());
  if (!Stream) return E_FAIL;
  return Stream->Load(AStream);
}

HRESULT TzbCustomHtmlEdit::LoadFromStrings(const TStringList& AStrings) {
  try {
    // With a byte-order mark the engine takes the bytes as UTF-8 whatever the markup claims.
    std::string Bytes = "\xEF\xBB\xBF";
    for (const auto& Line : AStrings) {
      Bytes += Utf16ToUtf8(Line);
      Bytes += "\r\n";
    }
    HRESULT R = LoadFromStream(Bytes);
    return R < 0 ? S_FALSE : R;
  } catch (...) {
    return S_FALSE;
  }
}

std::u16string TzbCustomHtmlEdit::GetDocumentFilename() {
  auto D = Document();
  return D ? D->url() : u"";
}

void TzbCustomHtmlEdit::SetFocusToDoc() {
  GtkWidget* W = Widget();
  if (W && gtk_widget_get_mapped(W) && HasDocument()) gtk_widget_grab_focus(W);
}

std::u16string TzbCustomHtmlEdit::GetDocumentSource() {
  std::string Bytes;
  if (SaveToStream(Bytes) < 0) return u"";
  auto D = Document();
  if (!D || Bytes.empty()) return u"";
  return DecodeCharset(Bytes, D->charset());
}

std::u16string TzbCustomHtmlEdit::GetDocumentHeader() {
  std::u16string Source = GetDocumentSource();
  if (Source.empty()) return u"";
  int P = SearchText(u"</head>", Source, false);
  if (P > 0) return Source.substr(0, std::min<std::size_t>(Source.size(), static_cast<std::size_t>(P) + 7));
  int Q = SearchText(u"<body", Source, false);
  if (Q > 0) return Source.substr(0, static_cast<std::size_t>(Q));
  return u"";
}

void TzbCustomHtmlEdit::SetDefaultBodyStyle(std::u16string_view AFontname, std::int32_t AFontSize) {
  auto D = Document();
  if (!D) return;
  auto Body = D->body();
  if (!Body) return;
  auto Style = Body->style();
  Style->put_fontFamily(AFontname);
  Style->put_fontSize(IntToText(AFontSize) + u"pt");
}

char16_t LocaleDecimalSeparator() {
  const std::lconv* L = std::localeconv();
  return L && L->decimal_point && L->decimal_point[0] ? static_cast<char16_t>(L->decimal_point[0]) : u'.';
}

namespace {
// A decimal number in the locale's format (sign, digits, one separator); false when it isn't one.
bool ParseLocaleFloat(std::u16string_view AText, char16_t ASep, double& AValue) {
  std::string Plain;
  bool Digits = false, Sep = false;
  for (std::size_t I = 0; I < AText.size(); ++I) {
    char16_t C = AText[I];
    if (C >= u'0' && C <= u'9') {
      Plain += static_cast<char>(C);
      Digits = true;
    } else if (C == ASep && !Sep) {
      Plain += '.';
      Sep = true;
    } else if ((C == u'-' || C == u'+') && I == 0) {
      Plain += static_cast<char>(C);
    } else {
      return false;
    }
  }
  if (!Digits) return false;
  AValue = g_ascii_strtod(Plain.c_str(), nullptr);
  return true;
}
}  // namespace

std::int32_t FontSizeFromText(std::u16string_view AText, char16_t ADecimalSeparator) {
  static const TStringList Units{u"pt", u"px"};
  if (IndexOfSuffix(Units, AText, false) >= 0) {
    double Value = 0;
    if (!ParseLocaleFloat(TrimBlanks(WithoutSuffixes(Units, AText, false)), ADecimalSeparator, Value)) return 0;
    if (!std::isfinite(Value) || std::fabs(Value) > 2147483647.0) return 0;
    return static_cast<std::int32_t>(std::trunc(Value));
  }
  static constexpr std::int32_t HtmlSizes[] = {8, 10, 12, 14, 18, 24, 36};
  std::u16string T = TrimBlanks(AText);
  if (T.size() == 1 && T[0] >= u'1' && T[0] <= u'7') return HtmlSizes[T[0] - u'1'];
  return 0;
}

TFontInfo TzbCustomHtmlEdit::GetCurrentFontInfo() {
  TFontInfo Result;
  auto D = Document();
  if (!D || ReadyState() != READYSTATE_COMPLETE) return Result;
  TVariant NameValue = TVarNull{}, SizeValue = TVarNull{};
  IHtmlTextRange Range = HtmlTextRange();
  if (Range.TextRange) {
    try {
      auto Parent = std::dynamic_pointer_cast<IHTMLElement2>(Range.TextRange->parentElement());
      SizeValue = Parent ? TVariant(Parent->currentStyle()->fontSize()) : TVariant{};
    } catch (const EzbException&) {
      SizeValue = TVariant{};
    }
  }
  if (VarIsNull(NameValue)) {
    try {
      NameValue = D->queryCommandValue(u"FontName");
    } catch (const EzbException&) {
      NameValue = TVariant{};
    }
  }
  if (!VarIsNull(NameValue)) {
    std::u16string Name = VarToText(NameValue);
    std::size_t Comma = Name.find(u',');
    if (Comma != std::u16string::npos) Name.resize(Comma);
    Result.Fontname = Dequote(Name, u'"');
  }
  if (VarIsNull(SizeValue)) {
    try {
      SizeValue = D->queryCommandValue(u"FontSize");
    } catch (const EzbException&) {
      SizeValue = TVariant{};
    }
  }
  if (!VarIsNull(SizeValue)) Result.Size = FontSizeFromText(VarToText(SizeValue), LocaleDecimalSeparator());
  auto State = [&](const char16_t* ACommand) {
    try {
      return D->queryCommandState(ACommand);
    } catch (const EzbException&) {
      return false;
    }
  };
  if (State(u"Bold")) Result.FontStyle.Include(TFontStyle::fsBold);
  if (State(u"Italic")) Result.FontStyle.Include(TFontStyle::fsItalic);
  if (State(u"Underline")) Result.FontStyle.Include(TFontStyle::fsUnderline);
  return Result;
}

std::shared_ptr<IWebBrowser2> TzbCustomHtmlEdit::GetFrame(int AFrameNo) {
  if (!WaitForComplete()) return nullptr;
  return ControlInterface().Frame(AFrameNo);
}

int TzbCustomHtmlEdit::FrameCount() {
  if (!WaitForComplete()) return 0;
  return std::min(ControlInterface().FrameCount(), 100);
}

bool TzbCustomHtmlEdit::GetThumbnail(TzbImage& AImage) {
  if (AImage.Width <= 0 || AImage.Height <= 0) return false;
  if (!WaitForComplete()) return false;
  return ControlInterface().Snapshot(AImage.Width, AImage.Height, AImage.Pixels);
}

HRESULT TzbCustomHtmlEdit::InvokeCMD(bool AInvokeIE, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt,
                                     const TVariant& AIn, TVariant* AOut) {
  HRESULT Result = S_FALSE;
  const TGUID Group = CGID_IWebBrowser;
  try {
    if (auto Target = CmdTarget()) Result = Target->Exec(AInvokeIE ? &Group : nullptr, ACmdID, ACmdExecOpt, AIn, AOut);
  } catch (...) {
    // the callers do not look at the answer; an engine failure must not escape a menu command
  }
  return Result;
}

HRESULT TzbCustomHtmlEdit::InvokeCMD(bool AInvokeIE, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt) {
  TVariant Out;
  return InvokeCMD(AInvokeIE, ACmdID, ACmdExecOpt, TVariant{}, &Out);
}

IHtmlTextRange TzbCustomHtmlEdit::HtmlTextRange() {
  IHtmlTextRange Result;
  try {
    auto D = Document();
    if (!D) return Result;
    auto Selection = D->selection();
    if (Selection) Result.TextRange = Selection->createRange();
  } catch (const EzbException&) {
    Result.TextRange.reset();
  }
  return Result;
}

bool IHtmlTextRange::PasteHTML(std::u16string_view AHtml) {
  if (!TextRange) throw EzbOleError(E_POINTER, u"Der Textbereich fehlt");
  TextRange->pasteHTML(AHtml);
  return true;
}

bool IHtmlTextRange::PasteHTMLUTF8(std::u16string_view AHtml) {
  if (IsUTF8Text(AHtml)) return PasteHTML(DecodeUTF8Text(StripUTF8BOM(AHtml)));
  return PasteHTML(AHtml);
}

// ---------------------------------------------------------------------------------------------
// Host side

HRESULT TzbCustomHtmlEdit::ShowContextMenu(std::uint32_t AID, const TPoint& APoint) {
  return OnShowContextMenu ? OnShowContextMenu(*this, AID, APoint) : S_FALSE;
}

HRESULT TzbCustomHtmlEdit::GetHostInfo(TDocHostUIInfo& AInfo) {
  AInfo.cbSize = HostInfoSize;
  AInfo.dwFlags = FUserInterfaceValue;
  AInfo.dwDoubleClick = 0;
  return OnGetHostInfo ? OnGetHostInfo(*this, AInfo) : S_OK;
}

HRESULT TzbCustomHtmlEdit::ShowUI() { return OnShowUI ? OnShowUI(*this) : S_FALSE; }
HRESULT TzbCustomHtmlEdit::HideUI() { return OnHideUI ? OnHideUI(*this) : S_FALSE; }
HRESULT TzbCustomHtmlEdit::UpdateUI() { return OnUpdateUI ? OnUpdateUI(*this) : S_FALSE; }
HRESULT TzbCustomHtmlEdit::EnableModeless(bool AEnable) {
  return OnEnableModeless ? OnEnableModeless(*this, AEnable) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::OnDocWindowActivate(bool AActivate) {
  return OnOnDocWindowActivate ? OnOnDocWindowActivate(*this, AActivate) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::OnFrameWindowActivate(bool AActivate) {
  return OnOnFrameWindowActivate ? OnOnFrameWindowActivate(*this, AActivate) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::ResizeBorder(bool AFrameWindow) {
  return OnResizeBorder ? OnResizeBorder(*this, AFrameWindow) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::TranslateAccelerator(std::uint32_t AKey) {
  return OnTranslateAccelerator ? OnTranslateAccelerator(*this, AKey) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::GetOptionKeyPath(std::u16string& AKey) {
  return OnGetOptionKeyPath ? OnGetOptionKeyPath(*this, AKey) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::GetDropTarget(void*& ADropTarget) {
  ADropTarget = nullptr;
  return OnGetDropTarget ? OnGetDropTarget(*this, ADropTarget) : S_OK;
}
HRESULT TzbCustomHtmlEdit::GetExternal(void*& ADispatch) {
  ADispatch = nullptr;
  return OnGetExternal ? OnGetExternal(*this, ADispatch) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::TranslateUrl(std::u16string_view AUrlIn, std::u16string& AUrlOut) {
  return OnTranslateUrl ? OnTranslateUrl(*this, AUrlIn, AUrlOut) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::FilterDataObject(void* AIn, void*& AOut) {
  AOut = nullptr;
  return OnFilterDataObject ? OnFilterDataObject(*this, AIn, AOut) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::GetOverrideKeyPath(std::u16string& AKey) {
  return OnGetOverrideKeyPath ? OnGetOverrideKeyPath(*this, AKey) : S_OK;
}
HRESULT TzbCustomHtmlEdit::ShowMessage(std::u16string_view AText, std::u16string_view ACaption, std::uint32_t AType,
                                       std::int32_t& AResult) {
  return OnShowMessage ? OnShowMessage(*this, AText, ACaption, AType, AResult) : S_FALSE;
}
HRESULT TzbCustomHtmlEdit::ShowHelp(std::u16string_view AHelpFile, std::uint32_t ACommand, std::uint32_t AData) {
  if (OnShowHelp) return OnShowHelp(*this, AHelpFile, ACommand, AData);
  if (FHelpFile.empty()) return S_FALSE;
  std::string Path = Utf16ToUtf8(FHelpFile);
  TzbGChars Uri(g_filename_to_uri(Path.c_str(), nullptr, nullptr));
  if (Uri) g_app_info_launch_default_for_uri(Uri.get(), nullptr, nullptr);
  return S_OK;
}
HRESULT TzbCustomHtmlEdit::QueryService(const TGUID& AService, const TGUID& AIID, void*& AObject) {
  AObject = nullptr;
  return OnQueryService ? OnQueryService(*this, AService, AIID, AObject) : E_NOINTERFACE;
}
HRESULT TzbCustomHtmlEdit::GetTypeInfoCount(std::uint32_t& ACount) {
  ACount = 0;
  return OnGetTypeInfoCount ? OnGetTypeInfoCount(*this, ACount) : E_NOTIMPL;
}
HRESULT TzbCustomHtmlEdit::GetTypeInfo(std::uint32_t AIndex, void*& ATypeInfo) {
  ATypeInfo = nullptr;
  return OnGetTypeInfo ? OnGetTypeInfo(*this, AIndex, ATypeInfo) : E_NOTIMPL;
}
HRESULT TzbCustomHtmlEdit::GetIDsOfNames(std::u16string_view AName, std::int32_t& ADispID) {
  return OnGetIDsOfNames ? OnGetIDsOfNames(*this, AName, ADispID) : E_NOTIMPL;
}
HRESULT TzbCustomHtmlEdit::Invoke(std::int32_t ADispID, std::uint16_t AFlags, TVariant* AResult) {
  if ((AFlags & DISPATCH_PROPERTYGET) && ADispID == DISPID_AMBIENT_DLCONTROL && AResult) {
    *AResult = FDownloadOptionValue;
    return S_OK;
  }
  if (OnInvoke) return OnInvoke(*this, ADispID, AFlags, AResult);
  return TWebBrowser::AmbientInvoke(ADispID, AFlags, AResult);
}
HRESULT TzbCustomHtmlEdit::QueryStatus(const TGUID*, std::uint32_t) { return S_OK; }

HRESULT TzbCustomHtmlEdit::Exec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t, const TVariant&,
                                TVariant* AOut) {
  if (!AGroup) return OLECMDERR_E_UNKNOWNGROUP;
  HRESULT Answer = OLECMDERR_E_NOTSUPPORTED;
  if (*AGroup == CGID_Explorer && ACmdID == 37 && OnUnload) OnUnload(*this);
  if (*AGroup == CGID_DocHostCommandHandler) {
    if (OnRefresh && (ACmdID == 2300 || ACmdID == 6041 || ACmdID == 6042)) {
      bool Cancel = false;
      OnRefresh(*this, static_cast<std::int32_t>(ACmdID), Cancel);
      if (Cancel) Answer = S_OK;
      return Answer;
    }
    // Page scripts never run here, so the engine has no script-error event object to offer.
    if (ACmdID == OLECMDID_SHOWSCRIPTERROR && OnScriptError && AOut) *AOut = true;
  }
  return Answer;
}

// ---------------------------------------------------------------------------------------------
// TzbHtmlEdit

TzbHtmlEdit::TzbHtmlEdit(void* AOwner, GtkContainer* AParent) : TzbCustomHtmlEdit(AOwner, AParent) {
  SetDownloadOptions(DefaultDownloadOptions);
  SetUserInterfaceOptions(DefaultUserInterfaceOptions);
  FReplaceCaption = true;
}

namespace {

// Removes a blank document file the editor wrote, but only while it is still that: our own regular
// file with the blank text. A name that someone else has taken meanwhile is never touched.
void RemoveBlankDocument(const std::u16string& AName) {
  const std::string Native = Utf16ToUtf8(AName);
  const std::string Expected = Utf16ToUtf8(BlankDocumentText);
  const TzbFd Fd(::open(Native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!Fd) return;
  struct stat St {};
  bool Ours = ::fstat(Fd.get(), &St) == 0 && S_ISREG(St.st_mode) && St.st_uid == ::geteuid() &&
              St.st_size == static_cast<off_t>(Expected.size());
  if (Ours) {
    std::string Bytes(Expected.size(), '\0');
    Ours = ::read(Fd.get(), Bytes.data(), Bytes.size()) == static_cast<ssize_t>(Bytes.size()) && Bytes == Expected;
  }
  struct stat Now {};
  // Still the same file under the name: only then is the name ours to remove.
  if (Ours && ::lstat(Native.c_str(), &Now) == 0 && Now.st_dev == St.st_dev && Now.st_ino == St.st_ino)
    ::unlink(Native.c_str());
}

}  // namespace

TzbHtmlEdit::~TzbHtmlEdit() { ReleaseBlankDocument(); }

void TzbHtmlEdit::ReleaseBlankDocument() {
  if (FBlankDocumentFile.empty()) return;
  RemoveBlankDocument(FBlankDocumentFile);
  FBlankDocumentFile.clear();
}

void TzbHtmlEdit::AssignDocument() {
  std::u16string Name = UniqueFileName(GetTempFolder() + BlankDocumentName + BlankDocumentExt, u"[]");
  SaveTextToFile(BlankDocumentText, Name);
  // Written before the previous one goes, so the new name differs from the one the engine showed last
  // (unless that file vanished meanwhile and the name is the same again).
  if (Name != FBlankDocumentFile) ReleaseBlankDocument();
  FBlankDocumentFile = Name;
  LoadFromFile(Name, true);
}

void TzbHtmlEdit::Clear() {
  if (HasDocument()) AssignDocument();
}

std::int32_t TzbHtmlEdit::LoadFromFile(std::u16string_view AFilename, bool ASaveChanges, std::int32_t ANavFlags) {
  try {
    if (ASaveChanges && GetDesignMode()) {
      TVariant Out;
      if (auto Target = CmdTarget())
        Target->Exec(&CGID_MSHTML, IDM_SAVE, OLECMDEXECOPT_DONTPROMPTUSER, TVariant{}, &Out);
      ProcessPendingMessages();
      SetDesignMode(false);
    }
  } catch (...) {
    // a design-mode document that can't be saved must not keep the next document out
  }
  // The blank document the engine showed is not shown any more: its file goes, so that they never pile up.
  if (AFilename != FBlankDocumentFile) ReleaseBlankDocument();
  ControlInterface().Navigate(AFilename, ANavFlags);
  return 0;
}

std::int32_t TzbHtmlEdit::SaveToPlainFile(std::u16string_view AFilename) {
  std::int32_t Result = 1;
  try {
    auto D = Document();
    if (!D) return 1;
    const auto Text = D->bodyText();
    if (!Text) return 1;
    SaveTextToFile(*Text, AFilename);
    Result = 0;
  } catch (...) {
    Result = 1;
  }
  return Result;
}

bool TzbHtmlEdit::GetDesignMode() {
  auto D = Document();
  if (!D) return false;
  return SameTextEx(D->designMode(), u"ON", false);
}

void TzbHtmlEdit::SetDesignMode(bool AValue) {
  if (AValue && !HasDocument()) AssignDocument();
  auto D = Document();
  if (D && ReadyState() == READYSTATE_COMPLETE) D->put_designMode(AValue ? u"On" : u"Off");
}

}  // namespace zb
