#include "platform/print/zbPageSetupDialog.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/gtk/zbModalRun.h"
#include "platform/gtk/zbWindowActions.h"
#include "platform/print/zbPrintError.h"
#include "support/zbRegistry.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr int MarginDigits = 2;

// The papers people print mails on; any other stored paper joins the list.
constexpr const char* CommonPapers[] = {
    "iso_a3_297x420mm",   "iso_a4_210x297mm",  "iso_a5_148x210mm",         "iso_b5_176x250mm",
    "na_letter_8.5x11in", "na_legal_8.5x14in", "na_executive_7.25x10.5in",
};

// The page-setup codes of header and footer, as the legend lists them.
constexpr std::pair<const char*, const char*> CodeLegend[] = {
    {"&amp;w", "Titel"},       {"&amp;u", "Adresse"},         {"&amp;d", "Datum"}, {"&amp;D", "langes Datum"},
    {"&amp;t", "Uhrzeit"},     {"&amp;T", "24-Stunden-Zeit"}, {"&amp;p", "Seite"}, {"&amp;P", "Seitenzahl"},
    {"&amp;b", "Ausrichtung"}, {"&amp;&amp;", "„&amp;“"},
};

using TzbPaperSizeList = TzbGList<GtkPaperSize, gtk_paper_size_free>;

double UnitPerInch(TMeasure AUnit) { return AUnit == mUS ? 1 : MillimetresPerInch; }

double RoundToDigits(double AValue) { return std::round(AValue * 100) / 100; }

// GTK's (translated) name of a paper it knows; it warns about any other, so it is not asked for one.
std::string KnownPaperName(const std::string& AName) {
  const std::string shortName = AName.substr(0, AName.rfind('_'));
  const TzbPaperSizeList papers(gtk_paper_size_get_paper_sizes(FALSE));
  for (GList* l = papers.get(); l; l = l->next) {
    auto* paper = static_cast<GtkPaperSize*>(l->data);
    if (shortName == gtk_paper_size_get_name(paper)) return gtk_paper_size_get_display_name(paper);
  }
  return "Eigenes Format";
}

// "A4 (210 × 297 mm)": the size in the unit the name gives it in.
std::string PaperLabel(const std::string& AName) {
  const TzbPaperSize size = PaperSizeFromName(Utf8ToUtf16(AName)).value_or(TzbPaperSize{});
  const bool inches = AName.ends_with("in");
  const double factor = inches ? 1 : MillimetresPerInch;
  const TzbGChars text(g_strdup_printf("%s (%g × %g %s)", KnownPaperName(AName).c_str(), size.Width * factor,
                                       size.Height * factor, inches ? "Zoll" : "mm"));
  return text.get();
}

void ConfigureMargin(GtkSpinButton* ASpin, TMeasure AUnit) {
  const bool us = AUnit == mUS;
  const double step = us ? 0.05 : 1;
  gtk_spin_button_configure(ASpin, gtk_adjustment_new(0, 0, us ? 10 : 250, step, 10 * step, 0), step, MarginDigits);
  gtk_spin_button_set_increments(ASpin, step, us ? 0.5 : 10);
}

// Each action of the dialog's "setup" group; the buttons of zbPageSetupDialog.ui name them.
template <void (TzbPageSetupDialog::*AStep)()>
void Activate(GSimpleAction*, GVariant*, gpointer ADialog) noexcept {
  GuardCallback([&] { (static_cast<TzbPageSetupDialog*>(ADialog)->*AStep)(); });
}

// OK is the default button besides: Return in any field confirms.
constexpr TzbActionKeys SetupKeys[] = {
    {"cancel", {"Escape"}},
};

}  // namespace

// The window of zbPageSetupDialog.ui.
struct TzbPageSetupWindow {
  GtkDialog Parent;
  TzbPageSetupDialog* Owner;
  GtkComboBoxText* Paper;
  GtkToggleButton* Portrait;
  GtkToggleButton* Landscape;
  GtkLabel* MarginsHeading;
  std::array<GtkSpinButton*, 4> Margins;  // left, top, right, bottom
  GtkEntry* Header;
  GtkEntry* Footer;
  GtkGrid* Legend;
  GtkWidget* Ok;
};

struct TzbPageSetupWindowClass {
  GtkDialogClass ParentClass;
};

extern "C" GResource* zbprintdlg_get_resource();

G_DEFINE_TYPE(TzbPageSetupWindow, zb_page_setup_window, GTK_TYPE_DIALOG)

void BindPageSetupTemplate(GtkWidgetClass* AClass);

void zb_page_setup_window_init(TzbPageSetupWindow* AWindow) { gtk_widget_init_template(GTK_WIDGET(AWindow)); }

void zb_page_setup_window_class_init(TzbPageSetupWindowClass* AClass) {
  zbprintdlg_get_resource();
  BindPageSetupTemplate(GTK_WIDGET_CLASS(AClass));
}

void BindPageSetupTemplate(GtkWidgetClass* AClass) {
  gtk_widget_class_set_template_from_resource(AClass, "/com/vestrum/Plumadesk5/HtmlService/print/zbPageSetupDialog.ui");
  const auto bind = [AClass](const char* AId, std::size_t AOffset) {
    gtk_widget_class_bind_template_child_full(AClass, AId, FALSE, static_cast<gssize>(AOffset));
  };
  bind("paper", offsetof(TzbPageSetupWindow, Paper));
  bind("portrait", offsetof(TzbPageSetupWindow, Portrait));
  bind("landscape", offsetof(TzbPageSetupWindow, Landscape));
  bind("margins-heading", offsetof(TzbPageSetupWindow, MarginsHeading));
  const std::size_t margins = offsetof(TzbPageSetupWindow, Margins);
  bind("margin-left", margins + TzbPageSetupDialog::sLeft * sizeof(GtkSpinButton*));
  bind("margin-top", margins + TzbPageSetupDialog::sTop * sizeof(GtkSpinButton*));
  bind("margin-right", margins + TzbPageSetupDialog::sRight * sizeof(GtkSpinButton*));
  bind("margin-bottom", margins + TzbPageSetupDialog::sBottom * sizeof(GtkSpinButton*));
  bind("header", offsetof(TzbPageSetupWindow, Header));
  bind("footer", offsetof(TzbPageSetupWindow, Footer));
  bind("legend", offsetof(TzbPageSetupWindow, Legend));
  bind("ok", offsetof(TzbPageSetupWindow, Ok));
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnResponse", G_CALLBACK(+[](GtkDialog*, gint AResponse, gpointer AWindow) noexcept {
        GuardCallback([&] {
          if (TzbPageSetupDialog* owner = static_cast<TzbPageSetupWindow*>(AWindow)->Owner)
            owner->FResponse = AResponse;
        });
      }));
  // The dialog answers a close with a response of its own; the window itself stays until we let go of it.
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnDelete", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) noexcept -> gboolean { return TRUE; }));
}

TzbPageSetupDialog::TzbPageSetupDialog(GtkWindow* AParent) : FUnit(LocaleMeasure()) {
  Build(AParent);
  Fill(ReadPageSetup());
}

TzbPageSetupDialog::~TzbPageSetupDialog() {
  if (FDialog) reinterpret_cast<TzbPageSetupWindow*>(FDialog.get())->Owner = nullptr;
}

GtkWindow* TzbPageSetupDialog::Window() const { return GTK_WINDOW(FDialog.get()); }

void TzbPageSetupDialog::Build(GtkWindow* AParent) {
  // A header bar would put the buttons out of the keyboard order people expect in a form.
  auto* dialog =
      static_cast<TzbPageSetupWindow*>(g_object_new(zb_page_setup_window_get_type(), "use-header-bar", FALSE, nullptr));
  FDialog.reset(GTK_WIDGET(dialog));
  dialog->Owner = this;
  FPaper = dialog->Paper;
  FPortrait = dialog->Portrait;
  FLandscape = dialog->Landscape;
  FHeader = dialog->Header;
  FFooter = dialog->Footer;
  FMargins = dialog->Margins;

  GtkWindow* window = Window();
  if (AParent) gtk_window_set_transient_for(window, AParent);
  gtk_window_set_position(window, AParent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_widget_grab_default(dialog->Ok);
  for (const char* name : CommonPapers) AddPaper(Utf8ToUtf16(name));
  const TzbGChars heading(g_markup_printf_escaped("<b>%s</b>", FUnit == mUS ? "Ränder (Zoll)" : "Ränder (Millimeter)"));
  gtk_label_set_markup(dialog->MarginsHeading, heading.get());
  for (GtkSpinButton* margin : FMargins) ConfigureMargin(margin, FUnit);
  constexpr int legendColumns = 5;
  int i = 0;
  for (auto [code, meaning] : CodeLegend) {
    GtkWidget* label = gtk_label_new(nullptr);
    const TzbGChars markup(g_strdup_printf("<small><b><tt>%s</tt></b> %s</small>", code, meaning));
    gtk_label_set_markup(GTK_LABEL(label), markup.get());
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    gtk_style_context_add_class(gtk_widget_get_style_context(label), "dim-label");
    gtk_grid_attach(dialog->Legend, label, i % legendColumns, i / legendColumns, 1, 1);
    ++i;
  }

  static constexpr GActionEntry entries[] = {
      {"ok", Activate<&TzbPageSetupDialog::Confirm>},
      {"cancel", Activate<&TzbPageSetupDialog::Cancel>},
  };
  FWindowActions.Install(window, "setup", entries, this, SetupKeys);
}

void TzbPageSetupDialog::AddPaper(const std::u16string& AName) {
  const std::string name = Utf16ToUtf8(AName);
  gtk_combo_box_text_append(FPaper, name.c_str(), PaperLabel(name).c_str());
  FPaperNames.push_back(AName);
}

void TzbPageSetupDialog::Fill(const TzbPageSetup& ASetup) {
  SetPaper(ASetup.Paper);
  SetOrientation(ASetup.Orientation);
  SetHeader(ASetup.Header);
  SetFooter(ASetup.Footer);
  FStoredInches = {ASetup.Margins.Left, ASetup.Margins.Top, ASetup.Margins.Right, ASetup.Margins.Bottom};
  const double factor = UnitPerInch(FUnit);
  for (int i = sLeft; i <= sBottom; ++i) gtk_spin_button_set_value(FMargins[i], FStoredInches[i] * factor);
}

void TzbPageSetupDialog::SetPaper(std::u16string_view APwgName) {
  if (!PaperSizeFromName(APwgName)) throw EzbPrintError(SBadPaper, {APwgName});
  const std::u16string name(APwgName);
  if (std::find(FPaperNames.begin(), FPaperNames.end(), name) == FPaperNames.end()) AddPaper(name);
  gtk_combo_box_set_active_id(GTK_COMBO_BOX(FPaper), Utf16ToUtf8(name).c_str());
}

void TzbPageSetupDialog::SetOrientation(TPrintOrientationOption AOrientation) {
  gtk_toggle_button_set_active(AOrientation == poLandscape ? FLandscape : FPortrait, TRUE);
}

void TzbPageSetupDialog::SetHeader(std::u16string_view AText) {
  gtk_entry_set_text(FHeader, Utf16ToUtf8(AText).c_str());
}

void TzbPageSetupDialog::SetFooter(std::u16string_view AText) {
  gtk_entry_set_text(FFooter, Utf16ToUtf8(AText).c_str());
}

void TzbPageSetupDialog::SetMargins(double ALeft, double ATop, double ARight, double ABottom) {
  const double values[] = {ALeft, ATop, ARight, ABottom};
  for (int i = sLeft; i <= sBottom; ++i) gtk_spin_button_set_value(FMargins[i], values[i]);
}

double TzbPageSetupDialog::MarginInches(TSide ASide) const {
  GtkSpinButton* spin = FMargins[ASide];
  // What was typed but not yet taken (the user pressed Enter in the field) counts.
  gtk_spin_button_update(spin);
  const double factor = UnitPerInch(FUnit);
  const double shown = gtk_spin_button_get_value(spin);
  if (std::abs(shown - RoundToDigits(FStoredInches[ASide] * factor)) < 1e-9) return FStoredInches[ASide];
  return shown / factor;
}

TzbPageSetup TzbPageSetupDialog::Values() const {
  TzbPageSetup v;
  v.Header = Utf8ToUtf16(gtk_entry_get_text(FHeader));
  v.Footer = Utf8ToUtf16(gtk_entry_get_text(FFooter));
  v.Margins = {MarginInches(sLeft), MarginInches(sTop), MarginInches(sRight), MarginInches(sBottom)};
  v.Orientation = gtk_toggle_button_get_active(FLandscape) ? poLandscape : poPortrait;
  const char* paper = gtk_combo_box_get_active_id(GTK_COMBO_BOX(FPaper));
  v.Paper = paper ? Utf8ToUtf16(paper) : DefaultPaperName();
  return v;
}

void TzbPageSetupDialog::Confirm() { gtk_dialog_response(GTK_DIALOG(FDialog.get()), GTK_RESPONSE_OK); }

void TzbPageSetupDialog::Cancel() { gtk_dialog_response(GTK_DIALOG(FDialog.get()), GTK_RESPONSE_CANCEL); }

void TzbPageSetupDialog::MoveOutOfSight() {
  GtkWindow* window = Window();
  gtk_window_set_position(window, GTK_WIN_POS_NONE);
  gtk_window_set_skip_taskbar_hint(window, TRUE);
  gtk_window_set_skip_pager_hint(window, TRUE);
  gtk_window_move(window, -10000, -10000);
}

void TzbPageSetupDialog::WriteStore() const {
  const TzbPageSetup v = Values();
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  if (!reg.OpenKey(PageSetupKey, true)) throw EzbPrintError(std::u16string(SPageSetupNotWritable));
  WritePageSetupTexts(reg, v.Header, v.Footer, v.Margins);
  reg.CloseKey();
  WritePageLayout(v.Orientation, v.Paper);
}

bool TzbPageSetupDialog::Run(const std::function<void(TzbPageSetupDialog&)>& AOnShow) {
  FResponse = GTK_RESPONSE_NONE;
  GtkWidget* window = FDialog.get();
  // The first field that Return confirms from; on the paper list Return would open its menu instead.
  gtk_window_set_focus(Window(), GTK_WIDGET(FMargins[sLeft]));
  gtk_widget_show_all(window);
  RunModalWindow(
      Window(), [this] { return FResponse != GTK_RESPONSE_NONE; },
      [&] {
        if (AOnShow) AOnShow(*this);
      });
  gtk_widget_hide(window);
  if (FResponse != GTK_RESPONSE_OK) return false;
  WriteStore();
  return true;
}

bool ShowPageSetupDialog(GtkWindow* AParent, const std::function<void(TzbPageSetupDialog&)>& AOnShow) {
  TzbPageSetupDialog dialog(AParent);
  return dialog.Run(AOnShow);
}

}  // namespace zb::print
