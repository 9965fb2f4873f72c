// The one place every dialog of the engine passes once it is on screen: the application's icon and
// title rule, filling and confirming the page-setup dialog from PrintOptions when asked, and the
// editor's OnShowDialog event.
#include <gtk/gtk.h>

#include "htmledit/zbHtmlEd.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

std::u16string ApplicationTitle() {
  const char* name = g_get_application_name();
  return name ? Utf8ToUtf16(name) : std::u16string();
}

std::u16string ReplaceFirst(const std::u16string& AText, std::u16string_view AOld, std::u16string_view ANew) {
  const std::size_t at = AText.find(AOld);
  if (at == std::u16string::npos) return AText;
  return AText.substr(0, at) + std::u16string(ANew) + AText.substr(at + AOld.size());
}

}  // namespace

void ReplaceDialogCaption(GtkWidget* ADialog) {
  if (!ADialog || !GTK_IS_WINDOW(ADialog)) return;
  GtkWindow* window = GTK_WINDOW(ADialog);
  // The application's icon, as its windows show it; no icon when it has none.
  TzbOwner<GList, g_list_free> icons(gtk_window_get_default_icon_list());
  gtk_window_set_icon(window, icons ? GDK_PIXBUF(icons->data) : nullptr);
  const char* raw = gtk_window_get_title(window);
  std::u16string title = raw ? Utf8ToUtf16(raw) : std::u16string();
  title = ReplaceFirst(title, u"Microsoft ", u"");
  title = ReplaceFirst(title, u"Internet Explorer", ApplicationTitle());
  gtk_window_set_title(window, Utf16ToUtf8(title).c_str());
}

void TzbCustomHtmlEdit::DialogShown(GtkWidget* ADialog, IzbPageSetupFields* APageSetup) {
  FLastDialog.Set(ADialog);
  if (FReplaceCaption) ReplaceDialogCaption(ADialog);
  if (APageSetup && ApplyPrintOptionsToDialog) {
    ApplyPrintOptionsToDialog = false;
    if (HidePageSetupDialog) {
      APageSetup->MoveOutOfSight();
      HidePageSetupDialog = false;
    }
    const THtmlPrintOptions& options = PrintOptions();
    APageSetup->SetLandscape(options.Orientation() == poLandscape);
    APageSetup->SetHeader(options.Header());
    APageSetup->SetFooter(options.Footer());
    // The dialog shows the user's locale's unit, which is the editor's runtime measure.
    const TMeasure unit = APageSetup->InchUnit() ? mUS : mMetric;
    const auto margin = [&](double AValue) { return PageSetupDialogMargin(AValue, options.Measure(), unit); };
    APageSetup->SetMargins(margin(options.Margins().Left()), margin(options.Margins().Top()),
                           margin(options.Margins().Right()), margin(options.Margins().Bottom()));
    APageSetup->Confirm();
  }
  if (!HidePageSetupDialog && ADialog && OnShowDialog) OnShowDialog(*this, ADialog);
}

void TzbCustomHtmlEdit::ParentFormWndProc(GtkWidget* AOwner) {
  // The owner lost the focus to another window of the process: a dialog the engine did not announce
  // (those it announces came through DialogShown already).
  if (!AOwner || gtk_window_is_active(GTK_WINDOW(AOwner))) return;
  TzbOwner<GList, g_list_free> windows(gtk_window_list_toplevels());
  for (GList* l = windows.get(); l; l = l->next) {
    auto* window = GTK_WIDGET(l->data);
    if (window == AOwner || window == FLastDialog.Get() || !gtk_window_is_active(GTK_WINDOW(window))) continue;
    DialogShown(window, nullptr);
    return;
  }
}

}  // namespace zb
