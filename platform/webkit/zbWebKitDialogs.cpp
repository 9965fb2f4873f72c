#include "platform/webkit/zbWebKitDialogs.h"

#include <gtk/gtk.h>

#include <string>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/glib/zbMainWait.h"
#include "platform/gtk/zbModalRun.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb::webkit {
namespace {

using TzbGDateTime = TzbOwner<GDateTime, g_date_time_unref>;

// Own responses of the find dialog's buttons, which search without closing it.
constexpr gint ResponseNext = 1;
constexpr gint ResponsePrevious = 2;

std::string ViewText(const char* AText) { return AText ? AText : ""; }

void MakeModal(GtkWidget* ADialog) {
  gtk_window_set_modal(GTK_WINDOW(ADialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(ADialog), GTK_WIN_POS_CENTER);
}

// A dialog with the given buttons (label, response pairs ending in nullptr); Escape answers
// GTK_RESPONSE_DELETE_EVENT through GtkDialog's own close binding.
TzbTopLevel NewDialog(const std::string& ATitle, std::initializer_list<std::pair<const char*, gint>> AButtons) {
  TzbTopLevel dialog(gtk_dialog_new());
  gtk_window_set_title(GTK_WINDOW(dialog.get()), ATitle.c_str());
  for (const auto& [label, response] : AButtons) gtk_dialog_add_button(GTK_DIALOG(dialog.get()), label, response);
  MakeModal(dialog.get());
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 12);
  return dialog;
}

// Shows ADialog, announces it and waits for the user's answer; answers that AAct handles (it returns
// true) act without closing the dialog, every other answer is returned.
gint RunDialog(GtkWidget* ADialog, const TDialogContext& AContext, const std::function<bool(int)>& AAct = {}) {
  return RunModalDialog(
      ADialog,
      [&] {
        if (AContext.Shown) AContext.Shown(ADialog);
      },
      AAct);
}

void AddHtmlFilters(GtkFileChooser* AChooser) {
  GtkFileFilter* html = gtk_file_filter_new();  // floating: the chooser takes it
  gtk_file_filter_set_name(html, "HTML-Dokumente");
  gtk_file_filter_add_pattern(html, "*.htm");
  gtk_file_filter_add_pattern(html, "*.html");
  gtk_file_filter_add_pattern(html, "*.HTM");
  gtk_file_filter_add_pattern(html, "*.HTML");
  gtk_file_chooser_add_filter(AChooser, html);
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, "Alle Dateien");
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(AChooser, all);
}

TzbTopLevel NewFileChooser(const char* ATitle, GtkFileChooserAction AAction, const char* AAccept) {
  TzbTopLevel dialog(gtk_file_chooser_dialog_new(ATitle, nullptr, AAction, "_Abbrechen", GTK_RESPONSE_CANCEL, AAccept,
                                                 GTK_RESPONSE_ACCEPT, nullptr));
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_ACCEPT);
  MakeModal(dialog.get());
  AddHtmlFilters(GTK_FILE_CHOOSER(dialog.get()));
  return dialog;
}

// The local file behind the view's address; empty for anything else.
std::string LocalFile(WebKitWebView* AView) {
  const std::string uri = ViewText(webkit_web_view_get_uri(AView));
  if (!g_str_has_prefix(uri.c_str(), "file:")) return {};
  const TzbGChars path(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
  return ViewText(path.get());
}

std::string DateText(GDateTime* ADate) {
  if (!ADate) return "unbekannt";
  const TzbGDateTime local(g_date_time_to_local(ADate));
  const TzbGChars text(g_date_time_format(local.get(), "%d.%m.%Y %H:%M:%S"));
  return ViewText(text.get());
}

GtkWidget* AddRow(GtkGrid* AGrid, int ARow, const char* ALabel, const std::string& AValue) {
  GtkWidget* label = gtk_label_new(ALabel);
  gtk_widget_set_halign(label, GTK_ALIGN_END);
  gtk_widget_set_valign(label, GTK_ALIGN_START);
  gtk_style_context_add_class(gtk_widget_get_style_context(label), "dim-label");
  GtkWidget* value = gtk_label_new(AValue.empty() ? "–" : AValue.c_str());
  gtk_widget_set_halign(value, GTK_ALIGN_START);
  gtk_label_set_xalign(GTK_LABEL(value), 0);
  gtk_label_set_selectable(GTK_LABEL(value), TRUE);
  // A long address is shortened in its middle (its whole text is the tooltip): a wrapped label would
  // make the dialog as tall as for its narrowest width.
  gtk_label_set_ellipsize(GTK_LABEL(value), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_max_width_chars(GTK_LABEL(value), 60);
  gtk_widget_set_tooltip_text(value, AValue.c_str());
  gtk_grid_attach(AGrid, label, 0, ARow, 1, 1);
  gtk_grid_attach(AGrid, value, 1, ARow, 1, 1);
  return value;
}

std::string TitleOf(const TDialogContext& AContext) { return Utf16ToUtf8(AContext.Title()); }

// The find dialog's state, reached from the controller's signals.
struct TFindState {
  GtkLabel* Status = nullptr;
  guint Matches = 0;
  bool Found = false;
  bool Failed = false;
};

}  // namespace

HRESULT OpenCommand(const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const TzbTopLevel dialog = NewFileChooser("Öffnen", GTK_FILE_CHOOSER_ACTION_OPEN, "_Öffnen");
        if (const std::string file = LocalFile(AContext.View); !file.empty()) {
          const TzbGChars folder(g_path_get_dirname(file.c_str()));
          gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog.get()), folder.get());
        }
        if (RunDialog(dialog.get(), AContext) != GTK_RESPONSE_ACCEPT) return S_OK;
        const TzbGChars file(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog.get())));
        if (!file) return S_OK;
        AContext.Navigate(Utf8ToUtf16(file.get()));
        return S_OK;
      },
      E_FAIL);
}

HRESULT SaveAsCommand(std::uint32_t AExecOpt, const TVariant& AIn, const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const auto* name = std::get_if<std::u16string>(&AIn);
        if (AExecOpt == OLECMDEXECOPT_DONTPROMPTUSER) {
          // Without the user there is only the caller's file name to save to.
          if (!name || name->empty()) return E_INVALIDARG;
          return AContext.Save(*name);
        }
        const TzbTopLevel dialog = NewFileChooser("Speichern unter", GTK_FILE_CHOOSER_ACTION_SAVE, "_Speichern");
        auto* chooser = GTK_FILE_CHOOSER(dialog.get());
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        if (name && !name->empty()) {
          gtk_file_chooser_set_filename(chooser, Utf16ToUtf8(*name).c_str());
        } else if (const std::string file = LocalFile(AContext.View); !file.empty()) {
          gtk_file_chooser_set_filename(chooser, file.c_str());
        } else {
          gtk_file_chooser_set_current_name(chooser, "Dokument.htm");
        }
        if (RunDialog(dialog.get(), AContext) != GTK_RESPONSE_ACCEPT) return S_OK;
        const TzbGChars file(gtk_file_chooser_get_filename(chooser));
        if (!file) return S_OK;
        const HRESULT result = AContext.Save(Utf8ToUtf16(file.get()));
        if (result < 0)
          throw EzbException(u"Das Dokument konnte nicht unter %s gespeichert werden", {Utf8ToUtf16(file.get())});
        return S_OK;
      },
      E_FAIL);
}

HRESULT PropertiesCommand(const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const TzbTopLevel dialog = NewDialog("Eigenschaften", {{CloseButtonLabel, GTK_RESPONSE_CLOSE}});
        GtkWidget* grid = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
        gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
        const std::string file = LocalFile(AContext.View);
        std::string size, created, modified;
        if (!file.empty()) {
          const TzbGObject<GFile> gfile(g_file_new_for_path(file.c_str()));
          TzbGError error;
          const TzbGObject<GFileInfo> info(g_file_query_info(
              gfile.get(),
              G_FILE_ATTRIBUTE_STANDARD_SIZE "," G_FILE_ATTRIBUTE_TIME_CREATED "," G_FILE_ATTRIBUTE_TIME_MODIFIED,
              G_FILE_QUERY_INFO_NONE, nullptr, error.Out()));
          if (info) {
            size = std::to_string(g_file_info_get_size(info.get())) + " Bytes";
            const TzbGDateTime c(g_file_info_get_creation_date_time(info.get()));
            const TzbGDateTime m(g_file_info_get_modification_date_time(info.get()));
            created = DateText(c.get());
            modified = DateText(m.get());
          }
        }
        int row = 0;
        AddRow(GTK_GRID(grid), row++, "Titel:", TitleOf(AContext));
        AddRow(GTK_GRID(grid), row++, "Adresse:", ViewText(webkit_web_view_get_uri(AContext.View)));
        AddRow(GTK_GRID(grid), row++, "Größe:", size);
        AddRow(GTK_GRID(grid), row++, "Zeichensatz:", Utf16ToUtf8(AContext.Charset()));
        AddRow(GTK_GRID(grid), row++, "Erstellt:", created);
        AddRow(GTK_GRID(grid), row++, "Geändert:", modified);
        gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()))), grid);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_CLOSE);
        // The close button, not the first selectable value, has the focus.
        gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_CLOSE));
        RunDialog(dialog.get(), AContext);
        return S_OK;
      },
      E_FAIL);
}

HRESULT FindCommand(const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const TzbTopLevel dialog = NewDialog(
            "Suchen",
            {{"_Zurück", ResponsePrevious}, {"_Weitersuchen", ResponseNext}, {CloseButtonLabel, GTK_RESPONSE_CLOSE}});
        GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        GtkWidget* label = gtk_label_new_with_mnemonic("Suchen _nach:");
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(entry), 30);
        gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);
        gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(content), row, FALSE, FALSE, 0);
        GtkWidget* matchCase = gtk_check_button_new_with_mnemonic("_Groß-/Kleinschreibung beachten");
        gtk_box_pack_start(GTK_BOX(content), matchCase, FALSE, FALSE, 0);
        GtkWidget* status = gtk_label_new("");
        gtk_widget_set_name(status, "find-status");
        gtk_widget_set_halign(status, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(content), status, FALSE, FALSE, 0);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), ResponseNext);

        WebKitFindController* finder = webkit_web_view_get_find_controller(AContext.View);
        TFindState state{GTK_LABEL(status)};
        const TzbSignal found(finder, "found-text",
                              G_CALLBACK(+[](WebKitFindController*, guint ACount, gpointer AData) noexcept {
                                auto* s = static_cast<TFindState*>(AData);
                                s->Found = true;
                                s->Matches = ACount;
                              }),
                              &state);
        const TzbSignal failed(finder, "failed-to-find-text",
                               G_CALLBACK(+[](WebKitFindController*, gpointer AData) noexcept {
                                 static_cast<TFindState*>(AData)->Failed = true;
                               }),
                               &state);
        const TzbSignal counted(finder, "counted-matches",
                                G_CALLBACK(+[](WebKitFindController*, guint ACount, gpointer AData) noexcept {
                                  static_cast<TFindState*>(AData)->Matches = ACount;
                                }),
                                &state);
        std::string searched;
        guint searchedOptions = 0;
        RunDialog(dialog.get(), AContext, [&](gint AResponse) {
          if (AResponse != ResponseNext && AResponse != ResponsePrevious) return false;
          const std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
          if (text.empty()) return true;
          guint options = WEBKIT_FIND_OPTIONS_WRAP_AROUND;
          if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(matchCase)))
            options |= WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE;
          state.Found = state.Failed = false;
          if (text == searched && options == searchedOptions) {
            if (AResponse == ResponseNext)
              webkit_find_controller_search_next(finder);
            else
              webkit_find_controller_search_previous(finder);
          } else {
            searched = text;
            searchedOptions = options;
            state.Matches = 0;
            const guint direction = AResponse == ResponsePrevious ? WEBKIT_FIND_OPTIONS_BACKWARDS : 0;
            webkit_find_controller_count_matches(finder, text.c_str(), options, G_MAXUINT);
            webkit_find_controller_search(finder, text.c_str(), options | direction, G_MAXUINT);
          }
          // The engine answers from its web process; the status line waits for it, not the user.
          WaitOnMainContext([&] { return state.Found || state.Failed; }, 5000);
          const std::string line = state.Found    ? std::to_string(state.Matches) + " Treffer"
                                   : state.Failed ? std::string("Nicht gefunden")
                                                  : std::string();
          gtk_label_set_text(state.Status, line.c_str());
          return true;
        });
        webkit_find_controller_search_finish(finder);
        return S_OK;
      },
      E_FAIL);
}

HRESULT ViewSourceCommand(const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        const std::string source = Utf16ToUtf8(AContext.Source());
        const TzbTopLevel dialog =
            NewDialog("Quelltext – " + TitleOf(AContext), {{CloseButtonLabel, GTK_RESPONSE_CLOSE}});
        gtk_window_set_default_size(GTK_WINDOW(dialog.get()), 760, 520);
        GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
        // Serialised markup is often one long line, kept unwrapped (a wrap would hyphenate the markup):
        // the scroll bars stay visible so that it is plain there is more.
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
        gtk_widget_set_vexpand(scrolled, TRUE);
        GtkWidget* text = gtk_text_view_new();
        gtk_widget_set_name(text, "source");
        gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
        gtk_text_view_set_monospace(GTK_TEXT_VIEW(text), TRUE);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(text), 6);
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text)), source.c_str(),
                                 static_cast<gint>(source.size()));
        gtk_container_add(GTK_CONTAINER(scrolled), text);
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()))), scrolled, TRUE, TRUE, 0);
        // The text has the focus, so the keys scroll it; Escape still closes.
        gtk_widget_grab_focus(text);
        RunDialog(dialog.get(), AContext);
        return S_OK;
      },
      E_FAIL);
}

HRESULT OptionsCommand(const TDialogContext& AContext) {
  return GuardCallback(
      [&]() -> HRESULT {
        WebKitSettings* settings = webkit_web_view_get_settings(AContext.View);
        const TzbTopLevel dialog =
            NewDialog("Optionen", {{"_Abbrechen", GTK_RESPONSE_CANCEL}, {"_OK", GTK_RESPONSE_OK}});
        GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
        GtkWidget* images = gtk_check_button_new_with_mnemonic("_Bilder anzeigen");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(images), webkit_settings_get_auto_load_images(settings));
        GtkWidget* zoomText = gtk_check_button_new_with_mnemonic("_Zoom nur für Text");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zoomText), webkit_settings_get_zoom_text_only(settings));
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        GtkWidget* label = gtk_label_new_with_mnemonic("_Standard-Zeichensatz:");
        GtkWidget* charset = gtk_entry_new();
        gtk_widget_set_name(charset, "default-charset");
        gtk_entry_set_text(GTK_ENTRY(charset), ViewText(webkit_settings_get_default_charset(settings)).c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(charset), TRUE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), charset);
        gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(row), charset, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(content), images, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(content), zoomText, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(content), row, FALSE, FALSE, 0);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
        gtk_widget_grab_focus(images);
        if (RunDialog(dialog.get(), AContext) != GTK_RESPONSE_OK) return S_OK;
        // Only what the dialog shows: scripts and remote loads stay as the view's creation set them.
        webkit_settings_set_auto_load_images(settings, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(images)));
        webkit_settings_set_zoom_text_only(settings, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(zoomText)));
        const std::string chosen = gtk_entry_get_text(GTK_ENTRY(charset));
        if (!chosen.empty()) webkit_settings_set_default_charset(settings, chosen.c_str());
        return S_OK;
      },
      E_FAIL);
}

}  // namespace zb::webkit
