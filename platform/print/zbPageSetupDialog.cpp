#include "platform/print/zbPageSetupDialog.h"

#include <algorithm>
#include <cmath>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/gtk/zbModalRun.h"
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

GtkWidget* Heading(const char* AText) {
  GtkWidget* label = gtk_label_new(nullptr);
  const TzbGChars markup(g_markup_printf_escaped("<b>%s</b>", AText));
  gtk_label_set_markup(GTK_LABEL(label), markup.get());
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  return label;
}

// A field's label, indented under its heading; the mnemonic moves to AField.
GtkWidget* FieldLabel(const char* AText, GtkWidget* AField, bool AIndent = true) {
  GtkWidget* label = gtk_label_new_with_mnemonic(AText);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), AField);
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  if (AIndent) gtk_widget_set_margin_start(label, 12);
  return label;
}

GtkWidget* Legend() {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(grid), 18);
  gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
  constexpr int Columns = 5;
  int i = 0;
  for (auto [code, meaning] : CodeLegend) {
    GtkWidget* label = gtk_label_new(nullptr);
    const TzbGChars markup(g_strdup_printf("<small><b><tt>%s</tt></b> %s</small>", code, meaning));
    gtk_label_set_markup(GTK_LABEL(label), markup.get());
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    gtk_style_context_add_class(gtk_widget_get_style_context(label), "dim-label");
    gtk_grid_attach(GTK_GRID(grid), label, i % Columns, i / Columns, 1, 1);
    ++i;
  }
  gtk_widget_set_margin_start(grid, 12);
  return grid;
}

GtkSpinButton* MarginField(TMeasure AUnit, const char* AName) {
  const bool us = AUnit == mUS;
  GtkWidget* spin = gtk_spin_button_new_with_range(0, us ? 10 : 250, us ? 0.05 : 1);
  gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), MarginDigits);
  gtk_spin_button_set_increments(GTK_SPIN_BUTTON(spin), us ? 0.05 : 1, us ? 0.5 : 10);
  gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
  gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
  gtk_entry_set_width_chars(GTK_ENTRY(spin), 7);
  gtk_widget_set_name(spin, AName);
  return GTK_SPIN_BUTTON(spin);
}

GtkEntry* TextField(const char* AName) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
  gtk_widget_set_hexpand(entry, TRUE);
  gtk_widget_set_name(entry, AName);
  return GTK_ENTRY(entry);
}

}  // namespace

TzbPageSetupDialog::TzbPageSetupDialog(GtkWindow* AParent) : FUnit(LocaleMeasure()) {
  Build(AParent);
  Fill(ReadPageSetup());
}

TzbPageSetupDialog::~TzbPageSetupDialog() = default;

GtkWindow* TzbPageSetupDialog::Window() const { return GTK_WINDOW(FDialog.get()); }

void TzbPageSetupDialog::Build(GtkWindow* AParent) {
  // A header bar would put the buttons out of the keyboard order people expect in a form.
  FDialog.reset(GTK_WIDGET(g_object_new(GTK_TYPE_DIALOG, "use-header-bar", FALSE, nullptr)));
  GtkWindow* window = Window();
  gtk_window_set_title(window, "Seite einrichten");
  gtk_window_set_modal(window, TRUE);
  if (AParent) gtk_window_set_transient_for(window, AParent);
  gtk_window_set_position(window, AParent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);

  GtkDialog* dialog = GTK_DIALOG(FDialog.get());
  gtk_dialog_add_button(dialog, "_Abbrechen", GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(dialog, "_OK", GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(dialog, GTK_RESPONSE_OK);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
  int row = 0;

  gtk_grid_attach(GTK_GRID(grid), Heading("Papier"), 0, row++, 4, 1);
  FPaper = GTK_COMBO_BOX_TEXT(gtk_combo_box_text_new());
  gtk_widget_set_name(GTK_WIDGET(FPaper), "paper");
  for (const char* name : CommonPapers) AddPaper(Utf8ToUtf16(name));
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("_Papiergröße:", GTK_WIDGET(FPaper)), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FPaper), 1, row++, 3, 1);

  GtkWidget* portrait = gtk_radio_button_new_with_mnemonic(nullptr, "_Hochformat");
  GtkWidget* landscape = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(portrait), "_Querformat");
  FPortrait = GTK_TOGGLE_BUTTON(portrait);
  FLandscape = GTK_TOGGLE_BUTTON(landscape);
  GtkWidget* orientation = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
  gtk_box_pack_start(GTK_BOX(orientation), portrait, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(orientation), landscape, FALSE, FALSE, 0);
  GtkWidget* orientationLabel = gtk_label_new("Ausrichtung:");
  gtk_widget_set_halign(orientationLabel, GTK_ALIGN_START);
  gtk_widget_set_margin_start(orientationLabel, 12);
  gtk_grid_attach(GTK_GRID(grid), orientationLabel, 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), orientation, 1, row++, 3, 1);

  GtkWidget* margins = Heading(FUnit == mUS ? "Ränder (Zoll)" : "Ränder (Millimeter)");
  gtk_widget_set_margin_top(margins, 12);
  gtk_grid_attach(GTK_GRID(grid), margins, 0, row++, 4, 1);
  FMargins = {MarginField(FUnit, "margin-left"), MarginField(FUnit, "margin-top"), MarginField(FUnit, "margin-right"),
              MarginField(FUnit, "margin-bottom")};
  // Left beside right, top beside bottom: each row one direction of the page.
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("_Links:", GTK_WIDGET(FMargins[sLeft])), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FMargins[sLeft]), 1, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("_Rechts:", GTK_WIDGET(FMargins[sRight]), false), 2, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FMargins[sRight]), 3, row++, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("O_ben:", GTK_WIDGET(FMargins[sTop])), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FMargins[sTop]), 1, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("U_nten:", GTK_WIDGET(FMargins[sBottom]), false), 2, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FMargins[sBottom]), 3, row++, 1, 1);

  GtkWidget* lines = Heading("Kopf- und Fußzeile");
  gtk_widget_set_margin_top(lines, 12);
  gtk_grid_attach(GTK_GRID(grid), lines, 0, row++, 4, 1);
  FHeader = TextField("header");
  FFooter = TextField("footer");
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("_Kopfzeile:", GTK_WIDGET(FHeader)), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FHeader), 1, row++, 3, 1);
  gtk_grid_attach(GTK_GRID(grid), FieldLabel("F_ußzeile:", GTK_WIDGET(FFooter)), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), GTK_WIDGET(FFooter), 1, row++, 3, 1);
  gtk_grid_attach(GTK_GRID(grid), Legend(), 0, row++, 4, 1);

  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), grid, TRUE, TRUE, 0);

  FSignals.emplace_back(FDialog.get(), "response", G_CALLBACK(+[](GtkDialog*, gint AResponse, gpointer ASelf) noexcept {
                          GuardCallback([&] { static_cast<TzbPageSetupDialog*>(ASelf)->FResponse = AResponse; });
                        }),
                        this);
  // The dialog answers a close with a response of its own; the window itself stays until we let go of it.
  FSignals.emplace_back(FDialog.get(), "delete-event",
                        G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) noexcept -> gboolean { return TRUE; }),
                        nullptr);
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
