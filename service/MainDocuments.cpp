// The form's document operations: the busy state and its waits, load, save, plain-text conversion and
// the image counts, and the operations that insert text or run an editing command on the document.
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "htmledit/zbHtmlCmds.h"
#include "platform/glib/zbMainWait.h"
#include "service/HtmlServiceConst.h"
#include "service/Main.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

// How long a wait that gave up still takes the stopped load's completion, so that it cannot end the
// wait of a later request.
constexpr int AbandonedLoadGraceMs = 5000;

// The file behind a document address, with links and "." resolved; empty for other addresses.
std::string RealFileOf(const std::string& APath) {
  const TzbOwner<char, ::free> real(::realpath(APath.c_str(), nullptr));
  return real ? real.get() : "";
}

std::string FileOfUri(const std::u16string& AUri) {
  const TzbGChars file(g_filename_from_uri(Utf16ToUtf8(AUri).c_str(), nullptr, nullptr));
  return file ? RealFileOf(file.get()) : "";
}

// Documents whose text is their content; an image document has none, and its "text" would replace it.
bool IsTextContent(const std::u16string& AType) {
  return AType.starts_with(u"text/") || AType == u"application/xhtml+xml";
}

bool IsNonEmptyFile(const std::u16string& AFilename) {
  struct stat st {};
  return ::stat(Utf16ToUtf8(AFilename).c_str(), &st) == 0 && st.st_size > 0;
}

}  // namespace

void TfrmHtmlService::ReportError(const EzbException& AException) {
  // Raised here so that the report's stack is this one, not whatever the thread raised last.
  try {
    throw AException;
  } catch (const EzbException& raised) {
    ApplicationException(raised);
  }
}

bool IsDocumentFile(const std::u16string& AFilename) {
  if (AFilename.empty()) return false;
  const std::string native = Utf16ToUtf8(AFilename);
  struct stat st {};
  return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.c_str(), R_OK) == 0;
}

bool CommandValueOf(const THtmlExecCmd& ACommand, const std::u16string* AText, TVariant& AValue) {
  const std::uint64_t bits = OleVariantBits(ACommand.oleValue);
  // Integers that fit stay integers; wider ones travel as numbers.
  const auto integer = [&](auto AV) {
    const bool fits = std::in_range<std::int32_t>(AV);
    AValue = fits ? TVariant(static_cast<std::int32_t>(AV)) : TVariant(static_cast<double>(AV));
    return true;
  };
  switch (OleVariantType(ACommand.oleValue)) {
    case VT_EMPTY: AValue = TVariant{}; return true;
    case VT_NULL: AValue = TVarNull{}; return true;
    case VT_I1: return integer(static_cast<std::int8_t>(bits));
    case VT_UI1: return integer(static_cast<std::uint8_t>(bits));
    case VT_I2: return integer(static_cast<std::int16_t>(bits));
    case VT_UI2: return integer(static_cast<std::uint16_t>(bits));
    case VT_I4: return integer(static_cast<std::int32_t>(bits));
    case VT_UI4: return integer(static_cast<std::uint32_t>(bits));
    case VT_I8: return integer(static_cast<std::int64_t>(bits));
    case VT_UI8: return integer(bits);
    case VT_BOOL: AValue = static_cast<std::int16_t>(bits) != 0; return true;
    case VT_R4: AValue = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits))); return true;
    case VT_R8:
    case VT_DATE: AValue = std::bit_cast<double>(bits); return true;
    case VT_CY: AValue = static_cast<double>(static_cast<std::int64_t>(bits)) / 10000.0; return true;
    case VT_BSTR:
      if (!AText) return false;
      AValue = *AText;
      return true;
    default: return false;
  }
}

// --- busy state and waits ----------------------------------------------------------------------

void TfrmHtmlService::HtmlEditDocumentComplete(std::u16string_view) {
  const bool convert = FHtmlAction == THtmlAction::haConvertToPlain;
  if (FHtmlAction != THtmlAction::haNone) FbCompletedWithFile = LoadedDocumentIsSafe(FsPendingSource);
  FbBusy = false;
  FHtmlAction = THtmlAction::haNone;
  if (!convert) return;
  if (FOptions.KillEngineAtComplete) {
    FOptions.KillEngineAtComplete = false;
    KillChildWebProcesses();
  }
  // Runs inside the engine's signal: whatever fails is logged here and answered by the request.
  try {
    // Only the source's own text is written: a load that failed leaves an empty page, and writing that
    // would empty the target, which without DST is the source itself.
    if (!LoadedDocumentIs(FsPendingSource)) return;
    const auto doc = FHtmlEdit->DOC();
    const std::u16string type = doc ? doc->contentType() : u"";
    if (!IsTextContent(type)) {
      FbConversionFailed = true;
      ReportError(EzbException(u"Die Datei \"%s\" ist kein HTML- oder Textdokument (%s) und wird nicht umgewandelt",
                               {FsPendingSource, type}));
      return;
    }
    const bool inPlace = RealFileOf(Utf16ToUtf8(FsInternalSaveFile)) == RealFileOf(Utf16ToUtf8(FsPendingSource));
    if (inPlace && IsNonEmptyFile(FsPendingSource)) {
      const auto text = doc->bodyText();
      if (!text || IsBlankText(*text)) {
        FbConversionFailed = true;
        ReportError(EzbException(
            u"Das Dokument \"%s\" enthält keinen Text; die Datei wird nicht durch einen leeren Text ersetzt",
            {FsPendingSource}));
        return;
      }
    }
    if (FHtmlEdit->SaveToPlainFile(FsInternalSaveFile) != 0) {
      // A text that is not written (full disk, refused link) is no conversion.
      FbConversionFailed = true;
      ReportError(EzbFileError(u"Der Text des Dokuments konnte nicht in die Datei \"%s\" geschrieben werden",
                               {FsInternalSaveFile}));
    }
  } catch (const std::exception& e) {
    FbConversionFailed = true;
    ApplicationException(e);
  }
}

bool TfrmHtmlService::LoadedDocumentIs(const std::u16string& AFilename) {
  // A load the engine could not carry out leaves an empty about:blank document behind.
  const auto doc = FHtmlEdit->DOC();
  if (!doc || FHtmlEdit->DefaultInterface().EngineFailed()) return false;
  const std::string loaded = FileOfUri(doc->url());
  return !loaded.empty() && loaded == RealFileOf(Utf16ToUtf8(AFilename));
}

bool TfrmHtmlService::LoadedDocumentIsSafe(const std::u16string& AFilename) noexcept {
  try {
    return LoadedDocumentIs(AFilename);
  } catch (const std::exception&) {
    return false;  // the engine died meanwhile: nothing of the file is loaded
  }
}

bool TfrmHtmlService::EngineFailed() { return FHtmlEdit->DefaultInterface().EngineFailed(); }

bool TfrmHtmlService::DocumentLost() {
  if (FbHoldsDocument && EngineFailed()) FbDocumentLost = true;
  if (FbDocumentLost)
    ReportError(EzbException(std::u16string(
        u"Die HTML-Engine ist ausgefallen; das geladene Dokument ist verloren und muss neu geladen werden")));
  return FbDocumentLost;
}

bool TfrmHtmlService::LoadAndWait(const std::u16string& AFilename, THtmlAction AAction, TWaitKind AKind) {
  const bool loaded = LoadAndWaitFor(AFilename, AAction, AKind);
  FbDocumentLost = false;
  FbHoldsDocument = loaded;
  return loaded;
}

bool TfrmHtmlService::LoadAndWaitFor(const std::u16string& AFilename, THtmlAction AAction, TWaitKind AKind) {
  FHtmlAction = AAction;
  FbConversionFailed = false;
  FsPendingSource = AFilename;
  FbCompletedWithFile = false;
  FbBusy = true;
  struct TReset {
    TfrmHtmlService& F;
    ~TReset() {
      F.FHtmlAction = THtmlAction::haNone;
      F.FbBusy = false;
    }
  } reset{*this};
  // Nobody can go back in the service's view: a history would only grow with every request.
  FHtmlEdit->LoadFromFile(AFilename, true,
                          navNoHistory | (AAction == THtmlAction::haConvertToPlain ? navReadBodyText : 0));
  if (FOptions.KillEngineAtLaunch) {
    FOptions.KillEngineAtLaunch = false;
    KillChildWebProcesses();
  }
  // Printing also ends its wait once the engine reports this file ready; a blank document that was
  // still on its way may report ready first.
  const bool readyExit = AAction == THtmlAction::haPrint;
  const auto ready = [&] {
    return readyExit && FHtmlEdit->ReadyState() == READYSTATE_COMPLETE && LoadedDocumentIsSafe(AFilename);
  };
  WaitOnMainContext([&] { return !FbBusy || FApplication.Terminated() || ready(); },
                    static_cast<int>(FOptions.DocumentTimeoutMs),
                    AKind == TWaitKind::wkProcessAll ? TzbWaitMode::wmProcessAll : TzbWaitMode::wmOneAtATime);
  const bool completed = !FbBusy || ready();
  if (!completed && !FApplication.Terminated()) {
    // End the engine's work on the load (a stop would leave a busy web process at it) and take its
    // completion here, so that it cannot end a later request's wait.
    FHtmlAction = THtmlAction::haNone;
    FHtmlEdit->DefaultInterface().EndEngineWork();
    WaitOnMainContext([this] { return !FbBusy; }, AbandonedLoadGraceMs);
    ReportError(EzbException(u"Das Dokument \"%s\" wurde nicht innerhalb von %d Sekunden geladen",
                             {AFilename, static_cast<int>(FOptions.DocumentTimeoutMs / 1000)}));
    return false;
  }
  if (FApplication.Terminated()) return true;
  if (FbCompletedWithFile || LoadedDocumentIsSafe(AFilename)) return true;
  // A conversion whose handler failed (the engine died under it) has reported that already.
  if (EngineFailed() && !FbConversionFailed)
    ReportError(EzbException(u"Die HTML-Engine ist beim Laden des Dokuments \"%s\" ausgefallen", {AFilename}));
  return false;
}

void TfrmHtmlService::WaitForCompletion() {
  const auto engineFailed = [this] { return FHtmlEdit->DefaultInterface().EngineFailed(); };
  WaitOnMainContext(
      [&] { return FHtmlEdit->ReadyState() == READYSTATE_COMPLETE || FApplication.Terminated() || engineFailed(); },
      static_cast<int>(FOptions.DocumentTimeoutMs), TzbWaitMode::wmProcessAll);
  if (FHtmlEdit->ReadyState() == READYSTATE_COMPLETE) return;
  if (engineFailed() && !FApplication.Terminated())
    throw EzbException(std::u16string(u"Die HTML-Engine ist ausgefallen"));
  if (!FApplication.Terminated()) FHtmlEdit->DefaultInterface().EndEngineWork();
  throw EzbException(u"Das Dokument wurde nicht innerhalb von %d Sekunden vollständig",
                     {static_cast<int>(FOptions.DocumentTimeoutMs / 1000)});
}

// --- document operations -----------------------------------------------------------------------

std::int32_t TfrmHtmlService::LoadFromFile(const std::u16string& AFilename) {
  if (!IsDocumentFile(AFilename)) return HS_FAILED;
  return LoadAndWait(AFilename, THtmlAction::haLoadFile, TWaitKind::wkProcessAll) ? HS_OK : HS_FAILED;
}

std::int32_t TfrmHtmlService::SaveToFile(const std::u16string& AFilename) {
  if (DocumentLost()) return HS_FAILED;
  HRESULT saved = E_FAIL;
  try {
    saved = FHtmlEdit->SaveToFile(AFilename);
    FHtmlEdit->SetDesignMode(false);
  } catch (const std::exception& e) {
    // An engine that died under the save is reported below like one that died before it.
    if (!EngineFailed()) {
      ApplicationException(e);
      return HS_FAILED;
    }
  }
  if (saved < 0) {
    // Nothing loaded (S_FALSE) is the caller's matter; a failed save is not.
    if (EngineFailed()) {
      FbDocumentLost = FbHoldsDocument;
      ReportError(EzbException(u"Die HTML-Engine ist beim Speichern nach \"%s\" ausgefallen", {AFilename}));
    } else {
      ReportError(EzbFileError(u"Das Dokument konnte nicht als \"%s\" gespeichert werden (Fehler %x)",
                               {AFilename, static_cast<unsigned>(saved)}));
    }
  }
  return saved == S_OK ? HS_OK : HS_FAILED;
}

std::int32_t TfrmHtmlService::ConvertHtmlToPlain(const std::u16string& AFileNames) {
  const std::u16string dst = GetListValue(AFileNames, u"DST", u":", u";", u"");
  const std::u16string src = GetListValue(AFileNames, u"SRC", u":", u";", u"");
  return ConvertFileToPlain(src, dst);
}

std::int32_t TfrmHtmlService::ConvertFileToPlain(const std::u16string& ASource, const std::u16string& ATarget) {
  if (!IsDocumentFile(ASource)) return HS_FAILED;
  // Without a target the source is replaced by its own plain text.
  FsInternalSaveFile = ATarget.empty() ? ASource : ATarget;
  const bool loaded = LoadAndWait(ASource, THtmlAction::haConvertToPlain, TWaitKind::wkProcessAll);
  return loaded && !FbConversionFailed ? HS_OK : HS_FAILED;
}

std::int32_t TfrmHtmlService::ImageRequest(const std::u16string& AFilename, bool AImages, bool ABackground) {
  if (!IsDocumentFile(AFilename)) return HS_FAILED;
  if (!LoadAndWait(AFilename, THtmlAction::haCountImages, TWaitKind::wkOneAtATime)) return HS_FAILED;
  const auto doc = FHtmlEdit->DOC();
  if (!doc) return HS_FAILED;
  std::int32_t answer = 0;
  if (AImages) {
    const auto images = doc->images();
    answer = (images ? images->length() : 0) + 1;
  }
  if (ABackground) {
    const auto body = doc->body();
    const auto style = body ? body->style() : nullptr;
    const bool background = style && !style->backgroundImage().empty();
    answer = AImages ? answer + (background ? 1 : 0) : (background ? 2 : 3);
  }
  return answer;
}

std::int32_t TfrmHtmlService::CountImages(const std::u16string& AFilename) {
  return ImageRequest(AFilename, true, false);
}

std::int32_t TfrmHtmlService::ContainsBackgroundImages(const std::u16string& AFilename) {
  return ImageRequest(AFilename, false, true);
}

std::int32_t TfrmHtmlService::CountAllImages(const std::u16string& AFilename) {
  return ImageRequest(AFilename, true, true);
}

// --- insertion and commands ----------------------------------------------------------------------

std::int32_t TfrmHtmlService::ConcatHtml(const std::u16string& AHtmlSource, bool APlain) {
  return PasteIntoHtml(AHtmlSource, APlain, 1);
}

std::int32_t TfrmHtmlService::PasteIntoHtml(const std::u16string& AHtmlSource, bool APlain, int APosition) {
  if (DocumentLost()) return HS_FAILED;
  std::string kept;  // as for a command: a paste that takes the engine down loses only itself
  try {
    std::u16string text = AHtmlSource;
    if (IsUTF8Text(text)) text = DecodeUTF8Text(text);
    FHtmlEdit->SetDesignMode(true);
    WaitForCompletion();
    if (FHtmlEdit->SaveToStream(kept) != S_OK) kept.clear();
    IHtmlTextRange range = FHtmlEdit->HtmlTextRange();
    if (!range.TextRange) throw EzbOleError(E_FAIL, u"Die Auswahl des Dokuments hat keinen Textbereich");
    IHTMLTxtRange& r = *range.TextRange;
    if (APosition == 0) {
      r.collapse(true);
      r.moveEnd(u"character", -MaxInt);
      r.moveStart(u"character", 0);
      r.select();
    } else if (APosition == 1) {
      r.collapse(true);
      r.moveEnd(u"character", MaxInt);
      r.moveStart(u"character", MaxInt);
      r.select();
    }
    if (APlain)
      r.put_text(text);
    else
      range.PasteHTML(text);
    FbHoldsDocument = true;
    return HS_OK;
  } catch (const std::exception& e) {
    ApplicationException(e);
    if (EngineFailed()) RestoreDocument(kept);
    return HS_FAILED;
  }
}

std::int32_t TfrmHtmlService::ExecCmd(const THtmlExecCmd& ACommand, const std::u16string* AText) {
  TVariant value;
  if (!CommandValueOf(ACommand, AText, value)) {
    // A value that refers to the sender's memory cannot be read from here: refused, not followed.
    ReportError(EzbException(u"Befehl %d: der Wert vom Typ %d verweist auf Speicher des Absenders",
                             {ACommand.iCmdID, OleVariantType(ACommand.oleValue)}));
    return HS_FAILED;
  }
  if (DocumentLost()) return HS_FAILED;
  // The document as it was: a command that outlasts its bound takes the engine's web process with it.
  std::string kept;
  try {
    FHtmlEdit->SetDesignMode(true);
    WaitForCompletion();
    if (FHtmlEdit->SaveToStream(kept) != S_OK) kept.clear();
    const auto doc = FHtmlEdit->DOC();
    if (!doc) throw EzbOleError(E_FAIL, u"Es ist kein Dokument geladen");
    doc->execCommand(u"SelectAll", false, TVariant(std::int32_t{0}));
    const std::u16string name = HtmlCommandName(ACommand.iCmdID);
    if (name.empty()) throw EzbOleError(E_INVALIDARG, Format(u"Unbekannter Befehl %d", {ACommand.iCmdID}));
    doc->execCommand(name, ACommand.bShowUI != 0, value);
    FHtmlEdit->SetDesignMode(false);
    FbHoldsDocument = true;
    return HS_OK;
  } catch (const std::exception& e) {
    ApplicationException(e);
    if (EngineFailed()) RestoreDocument(kept);
    return HS_FAILED;
  }
}

void TfrmHtmlService::RestoreDocument(const std::string& AMarkup) {
  if (!AMarkup.empty() && !FApplication.Terminated()) {
    try {
      // A fresh web process takes the document over; only the failed command is lost.
      if (FHtmlEdit->LoadFromStream(AMarkup) == S_OK && !EngineFailed()) return;
    } catch (const std::exception& e) {
      ApplicationException(e);
    }
  }
  FbDocumentLost = FbHoldsDocument;
  if (FbDocumentLost)
    ReportError(EzbException(
        std::u16string(u"Das Dokument konnte nach dem Ausfall der HTML-Engine nicht wiederhergestellt werden")));
}

}  // namespace zb
