#include "platform/webkit/zbWebKitPrint.h"

#include <gtk/gtkunixprint.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/glib/zbMainWait.h"
#include "platform/gtk/zbModalRun.h"
#include "platform/print/zbPageSetupDialog.h"
#include "platform/print/zbPdfStamp.h"
#include "platform/print/zbPrintError.h"
#include "platform/print/zbPrintFolder.h"
#include "platform/print/zbPrintPreview.h"
#include "platform/print/zbPrintSpool.h"
#include "platform/print/zbPrinterArea.h"
#include "platform/webkit/zbWebKitBrowser.h"
#include "platform/webkit/zbWebKitUtils.h"
#include "support/zbDateUtils.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb::webkit {
namespace {

constexpr std::uint16_t VT_ARRAY_OF_BYTES = 0x2011;

using TzbPaperSizeOwner = TzbOwner<GtkPaperSize, gtk_paper_size_free>;
using print::TPrintFolder;

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

using TzbUserStyleSheet = TzbOwner<WebKitUserStyleSheet, webkit_user_style_sheet_unref>;

// A user style sheet on the view for the time of one step of printing: the document's own DOM and
// style sheets stay untouched, so saving it afterwards writes nothing of printing.
class TPrintStyle {
 public:
  TPrintStyle(WebKitWebView* AView, const std::string& ACss)
      : FContent(webkit_web_view_get_user_content_manager(AView)),
        FSheet(webkit_user_style_sheet_new(ACss.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                           WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr)) {
    webkit_user_content_manager_add_style_sheet(FContent, FSheet.get());
  }
  ~TPrintStyle() { webkit_user_content_manager_remove_style_sheet(FContent, FSheet.get()); }
  TPrintStyle(const TPrintStyle&) = delete;
  TPrintStyle& operator=(const TPrintStyle&) = delete;

 private:
  WebKitUserContentManager* FContent;
  TzbUserStyleSheet FSheet;
};

// WebKit lays a printed page out 1.25 times as wide as its printable width counted in points as CSS
// pixels: a CSS pixel prints at 0.8 pt. Wider content it shrinks on its own, but only up to a limit, and
// cuts the rest.
constexpr double PrintPointsPerPixel = 0.8;
// Our zoom stops at half size: 16 px body text then prints at 6.4 pt, about the smallest that is still
// read with ease on paper. Beyond that only the engine's own limited shrinking applies, as before.
constexpr double MinimumShrink = 0.5;

// Rules the engine honours in print: a table row, an image, a line of inline blocks is moved whole to
// the next page instead of being cut at the page end (rows longer than a page still split). Content the
// document lets the engine skip while off screen (content-visibility: auto, common in long manuals)
// would be skipped on paper too, leaving blank pages: in print all of it is drawn.
constexpr char PrintRules[] =
    "@media print { tr, img, svg, video, canvas, li, h1, h2, h3, h4, h5, h6 { break-inside: avoid; } "
    "h1, h2, h3, h4, h5, h6 { break-after: avoid; } * { content-visibility: visible !important; } }\n";

// How wide the document lays out at ALayoutWidth CSS pixels: its content's right end, overflow included.
constexpr char MeasureWidthScript[] =
    "(function(){var b=document.body;if(!b)return 0;var r=document.createRange();r.selectNodeContents(b);"
    "var e=r.getBoundingClientRect(),h=document.documentElement.getBoundingClientRect();"
    "return Math.ceil(Math.max(e.right,b.getBoundingClientRect().right)-h.left);})()";

// A number as CSS reads it: "." as the decimal point whatever the locale (std::to_string follows it).
std::string CssNumber(double AValue) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, AValue, std::chars_format::fixed, 4);
  return error == std::errc() ? std::string(text, end) : std::string("1");
}

// The zoom that fits the document's laid-out width into the printable width: 1 when it fits, never more.
double ShrinkToFit(WebKitWebView* AView, double ALayoutWidth, const TPrintContext& AContext) {
  const TPrintStyle width(AView, "html { width: " + std::to_string(static_cast<int>(ALayoutWidth)) +
                                     "px !important; min-width: 0 !important; max-width: none !important; }");
  const TScriptResult measured = RunScript(AView, MeasureWidthScript, ScriptWorld, AContext.TimeoutMs, AContext.Failed);
  const double* needed = std::get_if<double>(&measured.Value);
  if (Failed(measured.Code) || !needed || !(*needed > ALayoutWidth + 1)) return 1;
  return std::max(MinimumShrink, ALayoutWidth / *needed);
}

// Whether the document has any text to print: a render without any mark is then a failure.
bool DocumentHasText(WebKitWebView* AView, const TPrintContext& AContext) {
  const TScriptResult r = RunScript(AView, "!!(document.body&&/\\S/.test(document.body.innerText))", ScriptWorld,
                                    AContext.TimeoutMs, AContext.Failed);
  const bool* text = std::get_if<bool>(&r.Value);
  return !Failed(r.Code) && text && *text;
}

// GTK names its print-to-file printer in the user's language ("In Datei drucken"), and WebKit finds the
// printer of its settings by that name; so the printer is found by its backend, which has a fixed name.
struct TFilePrinterSearch {
  std::string Name;
  bool Ended = false;
};

std::string FilePrinterName(int ATimeoutMs) {
  static std::string found;  // the backend's printer and the process's language never change
  if (!found.empty()) return found;
  const auto search = std::make_shared<TFilePrinterSearch>();
  // Not waiting inside GTK: the CUPS backend would hold the whole search for a stalled scheduler.
  gtk_enumerate_printers(
      +[](GtkPrinter* APrinter, gpointer AData) noexcept -> gboolean {
        auto& s = AsyncState<TFilePrinterSearch>(AData);
        GtkPrintBackend* backend = gtk_printer_get_backend(APrinter);
        if (!backend || std::strcmp(G_OBJECT_TYPE_NAME(backend), "GtkPrintBackendFile") != 0) return FALSE;
        s.Name = gtk_printer_get_name(APrinter);
        return TRUE;
      },
      AsyncData(search), +[](gpointer AData) noexcept { TakeAsyncData<TFilePrinterSearch>(AData)->Ended = true; },
      FALSE);
  WaitOnMainContext([&] { return !search->Name.empty() || search->Ended; }, ATimeoutMs);
  if (search->Name.empty())
    throw EzbException(std::u16string(u"GTKs Drucker für die Ausgabe in eine Datei wurde nicht gefunden"));
  found = search->Name;
  return found;
}

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
  gtk_print_settings_set_printer(settings.get(), FilePrinterName(ATimeoutMs).c_str());
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
        auto& r = AsyncState<TJobRun>(AData);
        r.Failed = AError != nullptr;
        r.Done = true;
      },
      AsyncData(run), &FreeAsyncData<TJobRun>);
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

// Renders the view with ASetup and stamps header and footer: the finished PDF, in AFolder. ABands are
// the destination's unprintable bands (portrait, inches): the job's margins grow so that every mark,
// header and footer included, lands inside the printable area; the store keeps its values.
std::u16string RenderStamped(WebKitWebView* AView, const print::TzbPageSetup& ASetup, const TPrintFolder& AFolder,
                             const std::string& AName, const TPrintContext& AContext, const print::TzbMargins& ABands) {
  print::TzbPageSetup job = ASetup;
  const print::TzbMargins bands = print::BandsForOrientation(ABands, ASetup.Orientation);
  job.Margins = print::JobMargins(ASetup.Margins, bands, !ASetup.Header.empty(), !ASetup.Footer.empty(),
                                  print::StampLineHeight());
  const TzbGObject<GtkPageSetup> page = PageSetupOf(job);
  const double printable = gtk_page_setup_get_page_width(page.get(), GTK_UNIT_POINTS);
  const double zoom = printable > 0 ? ShrinkToFit(AView, printable / PrintPointsPerPixel, AContext) : 1;
  std::string css = PrintRules;
  if (zoom < 1) css += "@media print { html { zoom: " + CssNumber(zoom) + " !important; } }\n";
  const std::string rendered = AFolder.File((AName + "-rendered.pdf").c_str());
  {
    const TPrintStyle style(AView, css);
    PrintViewToPdf(AView, rendered, job, AContext.TimeoutMs, AContext.Failed);
  }
  // Pages without a single mark from a document with text: the engine failed; nothing is sent.
  if (!print::PdfHasMarks(Utf8ToUtf16(rendered)) && DocumentHasText(AView, AContext))
    throw EzbException(std::u16string(
        u"Die HTML-Engine hat nur leere Druckseiten erzeugt, obwohl das Dokument Text enthält; nichts wurde gedruckt"));
  print::TzbStampOptions stamp;
  stamp.Header = ASetup.Header;
  stamp.Footer = ASetup.Footer;
  stamp.Margins = job.Margins;
  stamp.Unprintable = bands;
  stamp.Context.Title = ViewText(webkit_web_view_get_title(AView));
  stamp.Context.Address = ViewText(webkit_web_view_get_uri(AView));
  stamp.Context.When = Now();
  const std::u16string stamped = Utf8ToUtf16(AFolder.File((AName + ".pdf").c_str()));
  print::StampPdf(Utf8ToUtf16(rendered), stamped, stamp);
  return stamped;
}

// The unprintable bands of the default destination, for printing without the dialog. A print service
// that keeps silent fails the print: nothing could be sent to it either.
print::TzbMargins DefaultPrinterBands(const print::TzbPageSetup& ASetup) {
  return print::QueryUnprintableBands(u"", ASetup.Paper.empty() ? print::DefaultPaperName() : ASetup.Paper)
      .value_or(print::TzbMargins{0, 0, 0, 0});
}

// The same for the preview, which shows the pages even while the print service keeps silent.
print::TzbMargins PreviewPrinterBands(const print::TzbPageSetup& ASetup) {
  try {
    return DefaultPrinterBands(ASetup);
  } catch (const print::EzbPrintError&) {
    return {0, 0, 0, 0};
  }
}

// GTK's hard margins of the printer chosen in the dialog (points, from its PPD), in portrait.
print::TzbMargins ChosenPrinterBands(GtkPrinter* APrinter) {
  double top = 0, bottom = 0, left = 0, right = 0;
  if (!APrinter || !gtk_printer_get_hard_margins(APrinter, &top, &bottom, &left, &right)) return {0, 0, 0, 0};
  return {left / PointsPerInch, top / PointsPerInch, right / PointsPerInch, bottom / PointsPerInch};
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
        const print::TzbMargins bands = prompt ? ChosenPrinterBands(choice.Printer.get()) : DefaultPrinterBands(setup);
        const std::u16string stamped = RenderStamped(AView, setup, folder, "print", AContext, bands);
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
        const print::TzbPageSetup setup = print::ReadPageSetup();
        const std::u16string first =
            RenderStamped(AView, setup, folder, "preview0", AContext, PreviewPrinterBands(setup));
        print::TzbPreviewActions actions;
        actions.Print = [&](GtkWindow*) { PrintCommand(AView, OLECMDEXECOPT_PROMPTUSER, TVarNull{}, AContext); };
        actions.PageSetup = [&](GtkWindow* APreview) -> std::u16string {
          if (!AskPageSetup(APreview, AContext)) return {};
          const print::TzbPageSetup changed = print::ReadPageSetup();
          return RenderStamped(AView, changed, folder, "preview" + std::to_string(++renders), AContext,
                               PreviewPrinterBands(changed));
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
