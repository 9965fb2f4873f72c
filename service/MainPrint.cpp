// The form's print operations: batch printing without a dialog and the suite's default page options.
#include "htmledit/zbHtmlPrintOptions.h"
#include "platform/glib/zbMainWait.h"
#include "platform/print/zbPrintSpool.h"
#include "service/HtmlServiceConst.h"
#include "service/Main.h"
#include "support/zbSound.h"
#include "support/zbStr.h"

namespace zb {

std::int32_t TfrmHtmlService::PrintFiles(const std::u16string& AFilenames) {
  if (AFilenames.empty()) return HS_OK;
  int position = 1;
  // A print service that kept silent past its bound is not asked again for the files after it.
  const print::TzbPrintBatch batch;
  while (position != -1) {
    try {
      std::u16string name;
      GetNextToken(AFilenames, u",", position, name);
      if (print::TzbPrintBatch::ServiceStalled() && IsDocumentFile(name))
        throw EzbException(u"Der Druckdienst antwortet nicht; das Dokument \"%s\" wurde nicht gedruckt", {name});
      PrintFile(name);
    } catch (const std::exception& e) {
      // One file's failure never stops the others; it is logged, not shown.
      ApplicationException(e);
    }
  }
  FHtmlEdit->Clear();
  // The blank document settles before the answer, so that the suite's next request never meets its
  // late completion.
  WaitOnMainContext([this] { return FHtmlEdit->ReadyState() != READYSTATE_LOADING || EngineFailed(); },
                    static_cast<int>(FOptions.DocumentTimeoutMs));
  FbHoldsDocument = false;
  return HS_OK;
}

void TfrmHtmlService::PrintFile(const std::u16string& AFilename) {
  if (!IsDocumentFile(AFilename)) return;
  if (!LoadAndWait(AFilename, THtmlAction::haPrint, TWaitKind::wkOneAtATime))
    throw EzbException(u"Das Dokument \"%s\" konnte zum Drucken nicht geladen werden", {AFilename});
  const auto engineFailed = [this] { return FHtmlEdit->DefaultInterface().EngineFailed(); };
  if (FOptions.KillEngineAtPrint) {
    FOptions.KillEngineAtPrint = false;
    KillChildWebProcesses();
    WaitOnMainContext(engineFailed, static_cast<int>(FOptions.DocumentTimeoutMs));
  }
  FHtmlEdit->Print(false);
  // The command target answers nothing; a dead engine printed nothing and must not pass unnoticed.
  if (engineFailed())
    throw EzbException(u"Die HTML-Engine ist ausgefallen; das Dokument \"%s\" wurde nicht gedruckt", {AFilename});
}

std::int32_t TfrmHtmlService::SetDefaultPageOptions(const std::u16string& ANameSpace) {
  THtmlPrintOptions options;
  options.SetNameSpace(ANameSpace);
  options.SetHeader(u"&u&b&d");
  options.SetFooter(u"&w&bSeite &p von &P");
  options.Margins().SetLeft(0.75);
  options.Margins().SetRight(0.75);
  options.Margins().SetTop(0.75);
  options.Margins().SetBottom(0.75);
  options.SaveToRegistry(true);
  return 0;
}

std::int32_t TfrmHtmlService::PrintWithDlg(const std::u16string& AFilename) {
  BringApplicationToFront(true);
  if (!IsDocumentFile(AFilename)) return HS_FAILED;
  if (LoadAndWait(AFilename, THtmlAction::haPrintSetup, TWaitKind::wkOneAtATime)) FHtmlEdit->Print(true);
  return HS_OK;
}

std::int32_t TfrmHtmlService::PrintPreview(const std::u16string& AFilename) {
  BringApplicationToFront(true);
  if (!IsDocumentFile(AFilename)) return HS_FAILED;
  if (LoadAndWait(AFilename, THtmlAction::haPrintPreview, TWaitKind::wkOneAtATime)) FHtmlEdit->PrintPreview();
  return HS_OK;
}

std::int32_t TfrmHtmlService::PageSetup() {
  BringApplicationToFront(true);
  FHtmlAction = THtmlAction::haPageSetup;
  FbBusy = true;
  // A blank document, so that the engine has a document to take the command.
  FHtmlEdit->AssignDocument();
  WaitOnMainContext([this] { return !FbBusy || FApplication.Terminated(); },
                    static_cast<int>(FOptions.DocumentTimeoutMs), TzbWaitMode::wmOneAtATime);
  FHtmlEdit->PageSetup(false);
  FHtmlAction = THtmlAction::haNone;
  FbBusy = false;
  FbHoldsDocument = false;
  return HS_OK;
}

}  // namespace zb
