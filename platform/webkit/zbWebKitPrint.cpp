#include "platform/webkit/zbWebKitPrint.h"

#include <gtk/gtkunixprint.h>
#include <unistd.h>

#include <filesystem>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/glib/zbMainWait.h"
#include "platform/gtk/zbModalRun.h"
#include "platform/print/zbPageSetupDialog.h"
#include "platform/print/zbPdfStamp.h"
#include "platform/print/zbPrintError.h"
#include "platform/print/zbPrintPreview.h"
#include "platform/print/zbPrintSpool.h"
#include "support/zbDateUtils.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb::webkit {
namespace {

constexpr std::uint16_t VT_ARRAY_OF_BYTES = 0x2011;

using TzbPaperSizeOwner = TzbOwner<GtkPaperSize, gtk_paper_size_free>;

// A temporary folder of its own for the two PDFs of one print; gone with its owner.
class TPrintFolder {
 public:
  TPrintFolder() {
    const TzbGChars folder(g_dir_make_tmp("htmlservice-print-XXXXXX", nullptr));
    if (!folder) throw EzbException(std::u16string(u"Für den Druck konnte kein temporärer Ordner angelegt werden"));
    FPath = folder.get();
  }
  ~TPrintFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TPrintFolder(const TPrintFolder&) = delete;
  TPrintFolder& operator=(const TPrintFolder&) = delete;
  std::string File(const char* AName) const { return FPath + "/" + AName; }

 private:
  std::string FPath;
};

struct TPrintRun {
  bool Done = false;
  std::u16string Error;
};

TzbGObject<GtkPageSetup> PageSetupOf(const print::TzbPageSetup& ASetup) {
  TzbGObject<GtkPageSetup> page(gtk_page_setup_new());
  const std::string paperName = Utf16ToUtf8(ASetup.Paper.empty() ? print::DefaultPaperName() : ASetup.Paper);
  std::optional<print::TzbPaperSize> size = ASetup.PaperSize;
  if (!size) size = print::PaperSizeFromName(ASetup.Paper.empty() ? print::DefaultPaperName() : ASetup.Paper);
  const TzbPaperSizeOwner paper(
      size ? gtk_paper_size_new_custom(paperName.c_str(), paperName.c_str(), size->Width, size->Height, GTK_UNIT_INCH)
           : gtk_paper_size_new(paperName.c_str()));
  gtk_page_setup_set_paper_size(page.get(), paper.get());
  gtk_page_setup_set_orientation(
      page.get(), ASetup.Orientation == poLandscape ? GTK_PAGE_ORIENTATION_LANDSCAPE : GTK_PAGE_ORIENTATION_PORTRAIT);
  gtk_page_setup_set_left_margin(page.get(), ASetup.Margins.Left, GTK_UNIT_INCH);
  gtk_page_setup_set_right_margin(page.get(), ASetup.Margins.Right, GTK_UNIT_INCH);
  gtk_page_setup_set_top_margin(page.get(), ASetup.Margins.Top, GTK_UNIT_INCH);
  gtk_page_setup_set_bottom_margin(page.get(), ASetup.Margins.Bottom, GTK_UNIT_INCH);
  return page;
}

std::u16string ViewText(const char* AText) { return AText ? Utf8ToUtf16(AText) : std::u16string(); }

}  // namespace

bool PrintTextsFromArgument(const TVariant& AIn, TPrintTexts& ATexts) {
  const auto* array = std::get_if<std::shared_ptr<const TVarArray>>(&AIn);
  if (!array || !*array || (*array)->VarType != VT_ARRAY_OF_BYTES || (*array)->Items.size() < 2) return false;
  const auto& items = (*array)->Items;
  ATexts.Header = VarToText(items[0]);
  ATexts.Footer = VarToText(items[1]);
  ATexts.HtmlHeader.clear();
  if (items.size() > 2)
    if (const auto* stream = std::get_if<std::shared_ptr<const TVarStream>>(&items[2]); stream && *stream) {
      const std::string& bytes = (*stream)->Bytes;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        ATexts.HtmlHeader +=
            static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
  return true;
}

void PrintViewToPdf(WebKitWebView* AView, const std::string& APdf, const print::TzbPageSetup& ASetup, int ATimeoutMs,
                    const std::function<bool()>& AFailed) {
  TzbGObject<GtkPrintSettings> settings(gtk_print_settings_new());
  // GTK's print-to-file printer: WebKit renders the pages into the PDF itself.
  gtk_print_settings_set_printer(settings.get(), "Print to File");
  gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  const TzbGChars uri(g_filename_to_uri(APdf.c_str(), nullptr, nullptr));
  gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_URI, uri.get());
  const TzbGObject<GtkPageSetup> page = PageSetupOf(ASetup);
  gtk_print_settings_set_orientation(settings.get(), gtk_page_setup_get_orientation(page.get()));
  gtk_print_settings_set_paper_size(settings.get(), gtk_page_setup_get_paper_size(page.get()));

  TzbGObject<WebKitPrintOperation> operation(webkit_print_operation_new(AView));
  webkit_print_operation_set_print_settings(operation.get(), settings.get());
  webkit_print_operation_set_page_setup(operation.get(), page.get());
  // The handlers go with this call, so a late signal of an abandoned print finds nobody.
  TPrintRun run;
  TzbSignal finished(operation.get(), "finished", G_CALLBACK(+[](WebKitPrintOperation*, gpointer AData) noexcept {
                       static_cast<TPrintRun*>(AData)->Done = true;
                     }),
                     &run);
  TzbSignal failed(
      operation.get(), "failed", G_CALLBACK(+[](WebKitPrintOperation*, GError* AError, gpointer AData) noexcept {
        GuardCallback([&] {
          static_cast<TPrintRun*>(AData)->Error = Utf8ToUtf16(AError && AError->message ? AError->message : "?");
        });
      }),
      &run);
  webkit_print_operation_print(operation.get());
  const bool inTime = WaitOnMainContext([&] { return run.Done || AFailed(); }, ATimeoutMs);
  if (!run.Error.empty()) throw EzbException(u"Die HTML-Engine konnte das Dokument nicht drucken: %s", {run.Error});
  if (!run.Done && AFailed())
    throw EzbException(std::u16string(u"Die HTML-Engine ist während des Druckens ausgefallen"));
  if (!inTime) throw EzbException(u"Das Dokument wurde nicht innerhalb von %d Sekunden gedruckt", {ATimeoutMs / 1000});
  std::error_code error;
  if (std::filesystem::file_size(APdf, error) == 0 || error)
    throw EzbException(std::u16string(u"Die HTML-Engine hat keine Druckseiten erzeugt"));
}

namespace {

// The dialog's choice: printer, its settings and the page layout the user confirmed.
struct TDialogChoice {
  TzbGObject<GtkPrinter> Printer;
  TzbGObject<GtkPrintSettings> Settings;
  TzbGObject<GtkPageSetup> Page;
};

// GTK's print dialog, preset with the store's paper and orientation; false when cancelled.
bool AskPrintDialog(const print::TzbPageSetup& ASetup, TDialogChoice& AChoice, const TPrintContext& AContext) {
  const TzbTopLevel dialog(gtk_print_unix_dialog_new("Drucken", nullptr));
  auto* unix = GTK_PRINT_UNIX_DIALOG(dialog.get());
  const TzbGObject<GtkPageSetup> page = PageSetupOf(ASetup);
  gtk_print_unix_dialog_set_page_setup(unix, page.get());
  gtk_print_unix_dialog_set_embed_page_setup(unix, TRUE);
  gtk_window_set_modal(GTK_WINDOW(dialog.get()), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
  const int response = RunModalDialog(dialog.get(), [&] {
    if (AContext.Shown) AContext.Shown(dialog.get(), nullptr);
  });
  if (response != GTK_RESPONSE_OK) return false;
  AChoice.Printer = TzbGObject<GtkPrinter>::Ref(gtk_print_unix_dialog_get_selected_printer(unix));
  AChoice.Settings.reset(gtk_print_unix_dialog_get_settings(unix));
  AChoice.Page = TzbGObject<GtkPageSetup>::Ref(gtk_print_unix_dialog_get_page_setup(unix));
  return static_cast<bool>(AChoice.Printer);
}

struct TJobRun {
  bool Done = false;
  bool Failed = false;
};

// Sends the finished PDF to the printer the dialog chose, with its settings (copies, ranges …).
void SendToChosenPrinter(const TDialogChoice& AChoice, const std::u16string& APdf, const std::u16string& ATitle) {
  const std::string title = Utf16ToUtf8(print::PrintJobName(ATitle));
  const TzbGObject<GtkPrintJob> job(
      gtk_print_job_new(title.c_str(), AChoice.Printer.get(), AChoice.Settings.get(), AChoice.Page.get()));
  TzbGError error;
  if (!gtk_print_job_set_source_file(job.get(), Utf16ToUtf8(APdf).c_str(), error.Out()))
    throw EzbException(u"Der Druckauftrag konnte nicht vorbereitet werden: %s", {error.Text()});
  auto run = std::make_shared<TJobRun>();
  gtk_print_job_send(
      job.get(),
      +[](GtkPrintJob*, gpointer AData, const GError* AError) noexcept {
        auto& r = *static_cast<std::shared_ptr<TJobRun>*>(AData);
        r->Failed = AError != nullptr;
        r->Done = true;
      },
      new std::shared_ptr<TJobRun>(run),
      +[](gpointer AData) noexcept { delete static_cast<std::shared_ptr<TJobRun>*>(AData); });
  // GTK's print backend talks to the print service on the main loop; a frozen one never calls back.
  const int boundSeconds = print::TzbPrintJobOptions{}.TimeoutSeconds;
  if (!WaitOnMainContext([&] { return run->Done; }, boundSeconds * 1000)) {
    print::TzbPrintBatch::NoteServiceStalled();
    throw print::EzbPrintError(u"Der Druckdienst hat den Druckauftrag '%s' nicht innerhalb von %d Sekunden angenommen",
                               {print::PrintJobName(ATitle), boundSeconds});
  }
  // GTK's reason is English text of its own or of the print service; the user gets the fact in German.
  if (run->Failed)
    throw print::EzbPrintError(u"Der Druckauftrag '%s' wurde vom Druckdienst abgelehnt", {print::PrintJobName(ATitle)});
}

}  // namespace

namespace {

// The dialog's fields as the host fills them.
class TPageSetupFields : public IzbPageSetupFields {
 public:
  explicit TPageSetupFields(print::TzbPageSetupDialog& ADialog) : FDialog(ADialog) {}
  bool InchUnit() const override { return FDialog.Unit() == mUS; }
  void SetLandscape(bool ALandscape) override { FDialog.SetOrientation(ALandscape ? poLandscape : poPortrait); }
  void SetHeader(std::u16string_view AText) override { FDialog.SetHeader(AText); }
  void SetFooter(std::u16string_view AText) override { FDialog.SetFooter(AText); }
  void SetMargins(double ALeft, double ATop, double ARight, double ABottom) override {
    FDialog.SetMargins(ALeft, ATop, ARight, ABottom);
  }
  void MoveOutOfSight() override { FDialog.MoveOutOfSight(); }
  void Confirm() override { FDialog.Confirm(); }

 private:
  print::TzbPageSetupDialog& FDialog;
};

// Renders the view with ASetup and stamps header and footer: the finished PDF, in AFolder.
std::u16string RenderStamped(WebKitWebView* AView, const print::TzbPageSetup& ASetup, const TPrintFolder& AFolder,
                             const std::string& AName, const TPrintContext& AContext) {
  const std::string rendered = AFolder.File((AName + "-rendered.pdf").c_str());
  PrintViewToPdf(AView, rendered, ASetup, AContext.TimeoutMs, AContext.Failed);
  print::TzbStampOptions stamp;
  stamp.Header = ASetup.Header;
  stamp.Footer = ASetup.Footer;
  stamp.Margins = ASetup.Margins;
  stamp.Context.Title = ViewText(webkit_web_view_get_title(AView));
  stamp.Context.Address = ViewText(webkit_web_view_get_uri(AView));
  stamp.Context.When = Now();
  const std::u16string stamped = Utf8ToUtf16(AFolder.File((AName + ".pdf").c_str()));
  print::StampPdf(Utf8ToUtf16(rendered), stamped, stamp);
  return stamped;
}

bool AskPageSetup(GtkWindow* AParent, const TPrintContext& AContext) {
  return print::ShowPageSetupDialog(AParent, [&](print::TzbPageSetupDialog& ADialog) {
    TPageSetupFields fields(ADialog);
    if (AContext.Shown) AContext.Shown(GTK_WIDGET(ADialog.Window()), &fields);
  });
}

}  // namespace

HRESULT PrintCommand(WebKitWebView* AView, std::uint32_t AExecOpt, const TVariant& AIn, const TPrintContext& AContext) {
  // The command target swallows errors, so they are reported here, to the process's error hook.
  return GuardCallback(
      [&]() -> HRESULT {
        print::TzbPageSetup setup = print::ReadPageSetup();
        TPrintTexts texts;
        if (PrintTextsFromArgument(AIn, texts)) {
          setup.Header = texts.Header;
          setup.Footer = texts.Footer;
        }
        TDialogChoice choice;
        const bool prompt = AExecOpt == OLECMDEXECOPT_PROMPTUSER;
        if (prompt) {
          if (!AskPrintDialog(setup, choice, AContext)) return S_OK;  // cancelled: nothing is printed
          // Paper and orientation as confirmed in the dialog; the margins stay the page setup's. The
          // paper goes on whole: a printer's own or a custom paper has a name nobody else knows.
          GtkPaperSize* paper = gtk_page_setup_get_paper_size(choice.Page.get());
          setup.Paper = Utf8ToUtf16(gtk_paper_size_get_name(paper));
          setup.PaperSize = print::TzbPaperSize{gtk_paper_size_get_width(paper, GTK_UNIT_INCH),
                                                gtk_paper_size_get_height(paper, GTK_UNIT_INCH)};
          setup.Orientation = gtk_page_setup_get_orientation(choice.Page.get()) == GTK_PAGE_ORIENTATION_LANDSCAPE
                                  ? poLandscape
                                  : poPortrait;
        }
        const TPrintFolder folder;
        const std::u16string stamped = RenderStamped(AView, setup, folder, "print", AContext);
        const std::u16string title = ViewText(webkit_web_view_get_title(AView));
        if (prompt)
          SendToChosenPrinter(choice, stamped, title);
        else
          print::SendPdfToPrinter(stamped, title);
        return S_OK;
      },
      E_FAIL);
}

HRESULT PreviewCommand(WebKitWebView* AView, const TPrintContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const TPrintFolder folder;
        int renders = 0;
        const std::u16string first = RenderStamped(AView, print::ReadPageSetup(), folder, "preview0", AContext);
        print::TzbPreviewActions actions;
        actions.Print = [&](GtkWindow*) { PrintCommand(AView, OLECMDEXECOPT_PROMPTUSER, TVarNull{}, AContext); };
        actions.PageSetup = [&](GtkWindow* APreview) -> std::u16string {
          if (!AskPageSetup(APreview, AContext)) return {};
          return RenderStamped(AView, print::ReadPageSetup(), folder, "preview" + std::to_string(++renders), AContext);
        };
        const std::u16string title = ViewText(webkit_web_view_get_title(AView));
        print::ShowPrintPreview(nullptr, title, first, actions, [&](GtkWindow* AWindow) {
          ShowAndBringToFront(AWindow);
          if (AContext.Shown) AContext.Shown(GTK_WIDGET(AWindow), nullptr);
        });
        return S_OK;
      },
      E_FAIL);
}

HRESULT PageSetupCommand(const TPrintContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        AskPageSetup(nullptr, AContext);
        return S_OK;
      },
      E_FAIL);
}

}  // namespace zb::webkit
