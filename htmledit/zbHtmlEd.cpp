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
  std::uint32_t mask = 0;
  for (int i = 0; i < TDownloadControlOptions::Count; ++i)
    if (AOptions.Contains(static_cast<TDownloadControlOption>(i)))
      mask += static_cast<std::uint32_t>(DownloadConstants[i]);
  return static_cast<std::int32_t>(mask);
}

std::uint32_t UserInterfaceMask(TUserInterfaceOptions AOptions) {
  std::uint32_t mask = 0;
  for (int i = 0; i < TUserInterfaceOptions::Count; ++i)
    if (AOptions.Contains(static_cast<TUserInterfaceOption>(i))) mask += UserInterfaceConstants[i];
  return mask;
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
  std::string charset = Utf16ToUtf8(ACharset);
  if (charset.empty() || g_ascii_strcasecmp(charset.c_str(), "UTF-8") == 0) return Utf8ToUtf16(ABytes);
  gsize written = 0;
  TzbGChars utf8(g_convert(ABytes.data(), static_cast<gssize>(ABytes.size()), "UTF-8", charset.c_str(), nullptr,
                           &written, nullptr));
  if (!utf8) return FromAnsiBytes(ABytes);
  return Utf8ToUtf16(std::string_view(utf8.get(), written));
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
  IWebBrowser2& b = ControlInterface();
  // Nothing loaded and nothing loading: there is nothing to wait for.
  if (b.ReadyState() == READYSTATE_UNINITIALIZED) return false;
  if (!WaitOnMainContext([&] { return b.ReadyState() == READYSTATE_COMPLETE || b.EngineFailed(); }, FWaitTimeoutMs))
    b.EndEngineWork();  // the engine would go on with it behind every later request
  return b.ReadyState() == READYSTATE_COMPLETE;
}

void TzbCustomHtmlEdit::Go(std::u16string_view AUrl) { ControlInterface().Navigate(AUrl, 0); }

void TzbCustomHtmlEdit::AssignDocument() {
  Go(u"about:blank");
  WaitForComplete();
}

HRESULT TzbCustomHtmlEdit::SaveToFile(std::u16string_view AFilename) {
  if (!WaitForComplete()) return HasDocument() ? E_ZB_TIMEOUT : S_FALSE;
  auto file = std::dynamic_pointer_cast<IPersistFile>(Document());
  if (!file) return S_FALSE;
  return file->Save(AFilename, false);
}

HRESULT TzbCustomHtmlEdit::SaveToStream(std::string& AStream) {
  if (!WaitForComplete()) return HasDocument() ? E_ZB_TIMEOUT : S_FALSE;
  auto stream = std::dynamic_pointer_cast<IPersistStreamInit>(Document());
  if (!stream) return S_FALSE;
  return stream->Save(AStream, true);
}

HRESULT TzbCustomHtmlEdit::SaveToStrings(TStringList& AStrings) {
  std::string bytes;
  HRESULT r = SaveToStream(bytes);
  if (r != S_OK) return r;  // S_FALSE: nothing was written
  std::u16string charset;
  if (auto d = Document()) charset = d->charset();
  std::u16string text = DecodeCharset(bytes, charset);
  AStrings.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) {
      AStrings.push_back(text.substr(start));
      break;
    }
    AStrings.push_back(text.substr(start, end - start));
    start = end + (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1);
  }
  return r;
}

HRESULT TzbCustomHtmlEdit::LoadFromStream(std::string_view AStream) {
  if (!HasDocument()) TzbCustomHtmlEdit::AssignDocument();
  auto stream = std::dynamic_pointer_cast<IPersistStreamInit>(Document());
  if (!stream) return E_FAIL;
  return stream->Load(AStream);
}

HRESULT TzbCustomHtmlEdit::LoadFromStrings(const TStringList& AStrings) {
  try {
    // With a byte-order mark the engine takes the bytes as UTF-8 whatever the markup claims.
    std::string bytes = "\xEF\xBB\xBF";
    for (const auto& line : AStrings) {
      bytes += Utf16ToUtf8(line);
      bytes += "\r\n";
    }
    HRESULT r = LoadFromStream(bytes);
    return r < 0 ? S_FALSE : r;
  } catch (...) {
    return S_FALSE;
  }
}

std::u16string TzbCustomHtmlEdit::GetDocumentFilename() {
  auto d = Document();
  return d ? d->url() : u"";
}

void TzbCustomHtmlEdit::SetFocusToDoc() {
  GtkWidget* w = Widget();
  if (w && gtk_widget_get_mapped(w) && HasDocument()) gtk_widget_grab_focus(w);
}

std::u16string TzbCustomHtmlEdit::GetDocumentSource() {
  std::string bytes;
  if (SaveToStream(bytes) < 0) return u"";
  auto d = Document();
  if (!d || bytes.empty()) return u"";
  return DecodeCharset(bytes, d->charset());
}

std::u16string TzbCustomHtmlEdit::GetDocumentHeader() {
  std::u16string source = GetDocumentSource();
  if (source.empty()) return u"";
  int p = SearchText(u"</head>", source, false);
  if (p > 0) return source.substr(0, std::min<std::size_t>(source.size(), static_cast<std::size_t>(p) + 7));
  int q = SearchText(u"<body", source, false);
  if (q > 0) return source.substr(0, static_cast<std::size_t>(q));
  return u"";
}

void TzbCustomHtmlEdit::SetDefaultBodyStyle(std::u16string_view AFontname, std::int32_t AFontSize) {
  auto d = Document();
  if (!d) return;
  auto body = d->body();
  if (!body) return;
  auto style = body->style();
  style->put_fontFamily(AFontname);
  style->put_fontSize(IntToText(AFontSize) + u"pt");
}

char16_t LocaleDecimalSeparator() {
  const std::lconv* l = std::localeconv();
  return l && l->decimal_point && l->decimal_point[0] ? static_cast<char16_t>(l->decimal_point[0]) : u'.';
}

namespace {
// A decimal number in the locale's format (sign, digits, one separator); false when it isn't one.
bool ParseLocaleFloat(std::u16string_view AText, char16_t ASep, double& AValue) {
  std::string plain;
  bool digits = false, sep = false;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    char16_t c = AText[i];
    if (c >= u'0' && c <= u'9') {
      plain += static_cast<char>(c);
      digits = true;
    } else if (c == ASep && !sep) {
      plain += '.';
      sep = true;
    } else if ((c == u'-' || c == u'+') && i == 0) {
      plain += static_cast<char>(c);
    } else {
      return false;
    }
  }
  if (!digits) return false;
  AValue = g_ascii_strtod(plain.c_str(), nullptr);
  return true;
}
}  // namespace

std::int32_t FontSizeFromText(std::u16string_view AText, char16_t ADecimalSeparator) {
  static const TStringList units{u"pt", u"px"};
  if (IndexOfSuffix(units, AText, false) >= 0) {
    double value = 0;
    if (!ParseLocaleFloat(TrimBlanks(WithoutSuffixes(units, AText, false)), ADecimalSeparator, value)) return 0;
    if (!std::isfinite(value) || std::fabs(value) > 2147483647.0) return 0;
    return static_cast<std::int32_t>(std::trunc(value));
  }
  static constexpr std::int32_t htmlSizes[] = {8, 10, 12, 14, 18, 24, 36};
  std::u16string t = TrimBlanks(AText);
  if (t.size() == 1 && t[0] >= u'1' && t[0] <= u'7') return htmlSizes[t[0] - u'1'];
  return 0;
}

TFontInfo TzbCustomHtmlEdit::GetCurrentFontInfo() {
  TFontInfo result;
  auto d = Document();
  if (!d || ReadyState() != READYSTATE_COMPLETE) return result;
  TVariant nameValue = TVarNull{}, sizeValue = TVarNull{};
  IHtmlTextRange range = HtmlTextRange();
  if (range.TextRange) {
    try {
      auto parent = std::dynamic_pointer_cast<IHTMLElement2>(range.TextRange->parentElement());
      sizeValue = parent ? TVariant(parent->currentStyle()->fontSize()) : TVariant{};
    } catch (const EzbException&) {
      sizeValue = TVariant{};
    }
  }
  if (VarIsNull(nameValue)) {
    try {
      nameValue = d->queryCommandValue(u"FontName");
    } catch (const EzbException&) {
      nameValue = TVariant{};
    }
  }
  if (!VarIsNull(nameValue)) {
    std::u16string name = VarToText(nameValue);
    std::size_t comma = name.find(u',');
    if (comma != std::u16string::npos) name.resize(comma);
    result.Fontname = Dequote(name, u'"');
  }
  if (VarIsNull(sizeValue)) {
    try {
      sizeValue = d->queryCommandValue(u"FontSize");
    } catch (const EzbException&) {
      sizeValue = TVariant{};
    }
  }
  if (!VarIsNull(sizeValue)) result.Size = FontSizeFromText(VarToText(sizeValue), LocaleDecimalSeparator());
  auto state = [&](const char16_t* ACommand) {
    try {
      return d->queryCommandState(ACommand);
    } catch (const EzbException&) {
      return false;
    }
  };
  if (state(u"Bold")) result.FontStyle.Include(TFontStyle::fsBold);
  if (state(u"Italic")) result.FontStyle.Include(TFontStyle::fsItalic);
  if (state(u"Underline")) result.FontStyle.Include(TFontStyle::fsUnderline);
  return result;
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
  HRESULT result = S_FALSE;
  const TGUID group = CGID_IWebBrowser;
  try {
    if (auto target = CmdTarget()) result = target->Exec(AInvokeIE ? &group : nullptr, ACmdID, ACmdExecOpt, AIn, AOut);
  } catch (...) {
    // the callers do not look at the answer; an engine failure must not escape a menu command
  }
  return result;
}

HRESULT TzbCustomHtmlEdit::InvokeCMD(bool AInvokeIE, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt) {
  TVariant out;
  return InvokeCMD(AInvokeIE, ACmdID, ACmdExecOpt, TVariant{}, &out);
}

IHtmlTextRange TzbCustomHtmlEdit::HtmlTextRange() {
  IHtmlTextRange result;
  try {
    auto d = Document();
    if (!d) return result;
    auto selection = d->selection();
    if (selection) result.TextRange = selection->createRange();
  } catch (const EzbException&) {
    result.TextRange.reset();
  }
  return result;
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
  std::string path = Utf16ToUtf8(FHelpFile);
  TzbGChars uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  if (uri) g_app_info_launch_default_for_uri(uri.get(), nullptr, nullptr);
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
  HRESULT answer = OLECMDERR_E_NOTSUPPORTED;
  if (*AGroup == CGID_Explorer && ACmdID == 37 && OnUnload) OnUnload(*this);
  if (*AGroup == CGID_DocHostCommandHandler) {
    if (OnRefresh && (ACmdID == 2300 || ACmdID == 6041 || ACmdID == 6042)) {
      bool cancel = false;
      OnRefresh(*this, static_cast<std::int32_t>(ACmdID), cancel);
      if (cancel) answer = S_OK;
      return answer;
    }
    // Page scripts never run here, so the engine has no script-error event object to offer.
    if (ACmdID == OLECMDID_SHOWSCRIPTERROR && OnScriptError && AOut) *AOut = true;
  }
  return answer;
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
  const std::string native = Utf16ToUtf8(AName);
  const std::string expected = Utf16ToUtf8(BlankDocumentText);
  const TzbFd fd(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return;
  struct stat st {};
  bool ours = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
              st.st_size == static_cast<off_t>(expected.size());
  if (ours) {
    std::string bytes(expected.size(), '\0');
    ours = ::read(fd.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && bytes == expected;
  }
  struct stat now {};
  // Still the same file under the name: only then is the name ours to remove.
  if (ours && ::lstat(native.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
    ::unlink(native.c_str());
}

}  // namespace

TzbHtmlEdit::~TzbHtmlEdit() { ReleaseBlankDocument(); }

void TzbHtmlEdit::ReleaseBlankDocument() {
  if (FBlankDocumentFile.empty()) return;
  RemoveBlankDocument(FBlankDocumentFile);
  FBlankDocumentFile.clear();
}

void TzbHtmlEdit::AssignDocument() {
  std::u16string name = UniqueFileName(GetTempFolder() + BlankDocumentName + BlankDocumentExt, u"[]");
  SaveTextToFile(BlankDocumentText, name);
  // Written before the previous one goes, so the new name differs from the one the engine showed last
  // (unless that file vanished meanwhile and the name is the same again).
  if (name != FBlankDocumentFile) ReleaseBlankDocument();
  FBlankDocumentFile = name;
  LoadFromFile(name, true);
}

void TzbHtmlEdit::Clear() {
  if (HasDocument()) AssignDocument();
}

std::int32_t TzbHtmlEdit::LoadFromFile(std::u16string_view AFilename, bool ASaveChanges, std::int32_t ANavFlags) {
  try {
    if (ASaveChanges && GetDesignMode()) {
      TVariant out;
      if (auto target = CmdTarget())
        target->Exec(&CGID_MSHTML, IDM_SAVE, OLECMDEXECOPT_DONTPROMPTUSER, TVariant{}, &out);
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
  std::int32_t result = 1;
  try {
    auto d = Document();
    if (!d) return 1;
    const auto text = d->bodyText();
    if (!text) return 1;
    SaveTextToFile(*text, AFilename);
    result = 0;
  } catch (...) {
    result = 1;
  }
  return result;
}

bool TzbHtmlEdit::GetDesignMode() {
  auto d = Document();
  if (!d) return false;
  return SameTextEx(d->designMode(), u"ON", false);
}

void TzbHtmlEdit::SetDesignMode(bool AValue) {
  if (AValue && !HasDocument()) AssignDocument();
  auto d = Document();
  if (d && ReadyState() == READYSTATE_COMPLETE) d->put_designMode(AValue ? u"On" : u"Off");
}

}  // namespace zb
