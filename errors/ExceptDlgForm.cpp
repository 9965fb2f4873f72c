#include "errors/ExceptDlgForm.h"

#include <algorithm>
#include <fstream>
#include <thread>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "platform/gtk/zbGtkPresent.h"
#include "platform/gtk/zbModalRun.h"
#include "support/zbFileCtrl.h"
#include "support/zbRegistry.h"
#include "support/zbSound.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

// The stored layout at 96 pixels per inch; GTK maps logical pixels to the screen's scale. Buttons may
// come out taller than 25 in a theme with more padding: the collapsed height is measured, not assumed.
constexpr int FormWidth = 400;
constexpr int FormHeight = 255;
constexpr int MinFormWidth = 200;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int MessageHeight = 75;
constexpr int ExpandedMinExtra = 100;
constexpr int IconSize = 32;

constexpr std::u16string_view CaptionOk = u"&OK";
constexpr std::u16string_view CaptionDetails = u"&Details";
constexpr std::u16string_view CaptionSave = u"&Speichern";
constexpr std::u16string_view MessageHint = u"Mit Strg+C können Sie die Fehlermeldung in die Zwischenablage kopieren";
constexpr std::u16string_view DetailsHint = u"|Mit Strg+C können Sie die Fehlermeldung in die Zwischenablage kopieren";
constexpr std::u16string_view DetailsButtonHint = u"Detailierte Fehler-Informationen anzeigen/verbergen";
constexpr std::u16string_view CRLF = u"\r\n";

constexpr int SwShow = 5;

const std::thread::id MainThread = std::this_thread::get_id();

struct TDialogState {
  TExceptionDialog::TDialogFactory Factory;
  TExceptionDialog* Current = nullptr;
  bool ReportDialogActive = false;
  std::u16string HostKey{DefaultHostRegistryKey};
};
TDialogState& State() {
  static TDialogState state;
  return state;
}

// Cleared also when the dialog fails, so that the next error is shown again.
class TActiveScope {
 public:
  TActiveScope() { State().ReportDialogActive = true; }
  ~TActiveScope() { State().ReportDialogActive = false; }
  TActiveScope(const TActiveScope&) = delete;
  TActiveScope& operator=(const TActiveScope&) = delete;
};

std::string U8(std::u16string_view Text) { return Utf16ToUtf8(Text); }

// A hint's tooltip is its part before "|"; the long help after it has no place on this desktop.
void SetHint(GtkWidget* Widget, std::u16string_view Hint) {
  const std::string tip = U8(Hint.substr(0, Hint.find(u'|')));
  if (!tip.empty()) gtk_widget_set_tooltip_text(Widget, tip.c_str());
}

void AddCss(GtkWidget* Widget, const char* Css) {
  TzbGObject<GtkCssProvider> provider(gtk_css_provider_new());
  gtk_css_provider_load_from_data(provider.get(), Css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(Widget), GTK_STYLE_PROVIDER(provider.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void SetMargins(GtkWidget* Widget, int Start, int Top, int End, int Bottom) {
  gtk_widget_set_margin_start(Widget, Start);
  gtk_widget_set_margin_top(Widget, Top);
  gtk_widget_set_margin_end(Widget, End);
  gtk_widget_set_margin_bottom(Widget, Bottom);
}

std::u16string BufferText(GtkWidget* TextView) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(TextView));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  const TzbGChars text(gtk_text_buffer_get_text(buffer, &start, &end, TRUE));
  return Utf8ToUtf16(text.get());
}

void SetBufferText(GtkWidget* TextView, std::u16string_view Text) {
  const std::string text = U8(Text);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(TextView)), text.c_str(),
                           static_cast<int>(text.size()));
}

bool DebuggerPresent() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("TracerPid:", 0) == 0) return std::stoi(line.substr(10)) != 0;
  return false;
}

// The user's own editor for text, where the original named Notepad.
void OpenInTextEditor(GtkWindow* Window, const std::u16string& FileName) {
  const TzbGObject<GAppInfo> editor(g_app_info_get_default_for_type("text/plain", FALSE));
  const char* program = editor ? g_app_info_get_executable(editor.get()) : nullptr;
  if (program && *program) {
    const TzbGChars quoted(g_shell_quote(U8(FileName).c_str()));
    ShellExecuteOrOpenWith(Window, u"OPEN", Utf8ToUtf16(program), Utf8ToUtf16(quoted.get()), u"", SwShow);
  } else {
    ShellExecuteOrOpenWith(Window, u"OPEN", FileName, u"", u"", SwShow);
  }
}

// The hourglass of the report's build: the screen cursor's count and, visibly, the watch on the dialog.
class TWatchCursor {
 public:
  explicit TWatchCursor(GtkWidget* Form) : FWindow(gtk_widget_get_window(Form)) {
    BeginWaitCursor(crHourGlass);
    if (!FWindow) return;
    GdkDisplay* display = gdk_window_get_display(FWindow);
    const TzbGObject<GdkCursor> watch(gdk_cursor_new_for_display(display, GDK_WATCH));
    gdk_window_set_cursor(FWindow, watch.get());
    // The build blocks the loop: the server must have the cursor before it starts.
    gdk_display_flush(display);
  }
  ~TWatchCursor() {
    if (FWindow) gdk_window_set_cursor(FWindow, nullptr);
    EndWaitCursor();
  }
  TWatchCursor(const TWatchCursor&) = delete;
  TWatchCursor& operator=(const TWatchCursor&) = delete;

 private:
  GdkWindow* FWindow;
};

}  // namespace

void SetHostRegistryKey(std::u16string_view Key) { State().HostKey = Key; }
std::u16string HostRegistryKey() { return State().HostKey; }
std::u16string ExceptionDialogRegistryKey() { return HostRegistryKey() + u"\\ExceptionDialog"; }

std::string CaptionToMnemonic(std::u16string_view Caption) {
  std::u16string out;
  for (std::size_t i = 0; i < Caption.size(); ++i) {
    const char16_t c = Caption[i];
    if (c == u'&' && i + 1 < Caption.size() && Caption[i + 1] == u'&') {
      out += u'&';
      ++i;
    } else if (c == u'&') {
      out += u'_';
    } else if (c == u'_') {
      out += u"__";
    } else {
      out += c;
    }
  }
  return U8(out);
}

std::u16string ProposedReportFileName(TDateTime When) {
  return FormatDateTimeEx(u"\"ERR \"yyyy-mm-dd hhnnss\".log\"", When);
}

std::u16string ReportSaveFolder() {
  std::u16string folder = ReadRegistryString(HKEY_CURRENT_USER, ExceptionDialogRegistryKey(), SavePathValueName, u"");
  if (folder.empty() || !FolderExists(folder)) folder = EnsureFolder(GetLogFolderWithoutBackslash(false));
  return folder;
}

void ShowErrorMessageBox(std::u16string_view Message) {
  TExceptionDialog* owner = State().Current;
  const std::string text = U8(NormaliseErrorMessage(Message));
  const TzbTopLevel box(gtk_message_dialog_new(owner ? owner->Window() : nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_NONE, "%s", text.c_str()));
  gtk_window_set_title(GTK_WINDOW(box.get()), U8(ApplicationTitle()).c_str());
  gtk_dialog_add_button(GTK_DIALOG(box.get()), CaptionToMnemonic(CaptionOk).c_str(), GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(box.get()), GTK_RESPONSE_OK);
  RunModalDialog(box.get());
  if (owner) PresentWindow(owner->Window());
}

void InstallExceptionDialog() {
  SetShowExceptionHook([](const std::exception& E) { TExceptionDialog::OnExceptionHandler(nullptr, E); });
}

TExceptionDialog::TExceptionDialog() : FForm(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
  GtkWindow* form = Window();
  gtk_window_set_type_hint(form, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(form, GTK_WIN_POS_CENTER);
  gtk_window_set_modal(form, TRUE);
  gtk_window_set_default_size(form, FormWidth, FormHeight);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 3);
  gtk_container_add(GTK_CONTAINER(form), grid);

  GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DND);
  gtk_image_set_pixel_size(GTK_IMAGE(icon), IconSize);
  gtk_widget_set_valign(icon, GTK_ALIGN_START);
  SetMargins(icon, 9, 8, 15, 0);
  gtk_grid_attach(GTK_GRID(grid), icon, 0, 0, 1, 3);

  FTextLabel = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(FTextLabel), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(FTextLabel), FALSE);
  gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(FTextLabel), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(FTextLabel), GTK_WRAP_WORD_CHAR);
  AddCss(FTextLabel, "textview, textview text { background-color: transparent; }");
  SetHint(FTextLabel, MessageHint);
  // The scroll bar appears exactly when the message does not fit, also after a resize.
  FMessageScroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(FMessageScroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(FMessageScroll), FALSE);
  gtk_container_add(GTK_CONTAINER(FMessageScroll), FTextLabel);
  gtk_widget_set_size_request(FMessageScroll, -1, MessageHeight);
  gtk_widget_set_hexpand(FMessageScroll, TRUE);
  SetMargins(FMessageScroll, 0, 8, 15, 7);
  gtk_grid_attach(GTK_GRID(grid), FMessageScroll, 1, 0, 1, 3);

  const auto button = [&](std::u16string_view Caption, int Row) {
    GtkWidget* b = gtk_button_new_with_mnemonic(CaptionToMnemonic(Caption).c_str());
    gtk_widget_set_size_request(b, ButtonWidth, ButtonHeight);
    gtk_widget_set_valign(b, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), b, 2, Row, 1, 1);
    return b;
  };
  FbtnOk = button(CaptionOk, 0);
  FbtnSave = button(CaptionSave, 1);
  FbtnDetails = button(CaptionDetails, 2);
  SetMargins(FbtnOk, 0, 4, 5, 0);
  SetMargins(FbtnSave, 0, 0, 5, 0);
  SetMargins(FbtnDetails, 0, 0, 5, 5);
  SetHint(FbtnDetails, DetailsButtonHint);
  gtk_widget_set_sensitive(FbtnDetails, FALSE);
  gtk_widget_set_sensitive(FbtnSave, FALSE);
  gtk_widget_set_can_default(FbtnOk, TRUE);
  gtk_window_set_default(form, FbtnOk);

  FmemDetails = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(FmemDetails), FALSE);
  gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(FmemDetails), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(FmemDetails), GTK_WRAP_NONE);
  AddCss(FmemDetails, "textview { font-family: \"Courier New\", monospace; font-size: 12px; }");
  SetHint(FmemDetails, DetailsHint);
  GtkWidget* detailsScroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(detailsScroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(detailsScroll), FALSE);
  gtk_container_add(GTK_CONTAINER(detailsScroll), FmemDetails);
  FshpDetails = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(FshpDetails), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(FshpDetails), detailsScroll);
  gtk_widget_set_hexpand(FshpDetails, TRUE);
  gtk_widget_set_vexpand(FshpDetails, TRUE);
  SetMargins(FshpDetails, 6, 2, 6, 11);
  gtk_grid_attach(GTK_GRID(grid), FshpDetails, 0, 3, 3, 1);

  // Tab order: message, OK, Details, report, Save.
  TzbOwner<GList, g_list_free> chain;
  for (GtkWidget* w : {FMessageScroll, FbtnOk, FbtnDetails, FshpDetails, FbtnSave})
    chain.reset(g_list_append(chain.release(), w));
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(grid), chain.get());
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_show_all(grid);
  gtk_widget_grab_focus(FbtnOk);

  FDeleteSignal = TzbSignal(form, "delete-event", G_CALLBACK(OnDelete), this);
  // Connected before the window's own handler, so the form sees every key before its controls.
  FKeySignal = TzbSignal(form, "key-press-event", G_CALLBACK(OnKeyPress), this);
  FDrawSignal = TzbSignal(form, "draw", G_CALLBACK(OnDrawn), this);
  FOkSignal = TzbSignal(FbtnOk, "clicked", G_CALLBACK(OnOkClicked), this);
  FDetailsSignal = TzbSignal(FbtnDetails, "clicked", G_CALLBACK(OnDetailsClicked), this);
  FSaveSignal = TzbSignal(FbtnSave, "clicked", G_CALLBACK(OnSaveClicked), this);

  FFullHeight = FormHeight;
  SetDetailsShown(false);
  gtk_window_set_title(form, U8(Format(u"%s - Anwendungsfehler", {ApplicationTitle()})).c_str());
}

TExceptionDialog::~TExceptionDialog() = default;

void TExceptionDialog::ShowException(const std::exception& E, const std::exception_ptr& /*AThreadError*/,
                                     TNotifyEvent AOnDetails) {
  TDialogState& state = State();
  if (state.Current) {
    ShowErrorMessageBox(ExceptionMessage(E));
    return;
  }
  const std::unique_ptr<TExceptionDialog> dialog =
      state.Factory ? state.Factory() : std::make_unique<TExceptionDialog>();
  state.Current = dialog.get();
  struct TForget {
    ~TForget() { State().Current = nullptr; }
  } forget;
  dialog->FOnDetails = std::move(AOnDetails);
  dialog->FIsMainThread = std::this_thread::get_id() == MainThread;
  dialog->FLastActiveControl = ActiveReportControl();
  dialog->SetMessageText(NormaliseErrorMessage(ExceptionMessage(E)));
  dialog->FormShow();
  RunModalWindow(dialog->Window(), [&] { return dialog->FModalResult != mrNone; });
}

void TExceptionDialog::OnExceptionHandler(const void* /*Sender*/, const std::exception& E) {
  if (ReportDialogActive()) {
    ShowErrorMessageBox(ExceptionMessage(E));
    return;
  }
  const TActiveScope active;
  ShowException(E, nullptr, nullptr);
}

void TExceptionDialog::OnExceptionThreadHandler(const std::exception_ptr& AThreadError) {
  if (!AThreadError) return;
  try {
    std::rethrow_exception(AThreadError);
  } catch (const std::exception& e) {
    if (ReportDialogActive()) {
      ShowErrorMessageBox(ExceptionMessage(e));
      return;
    }
    const TActiveScope active;
    if (dynamic_cast<const EzbAbort*>(&e))
      ShowErrorMessageBox(ExceptionMessage(e));
    else
      ShowException(e, AThreadError, nullptr);
  }
}

void TExceptionDialog::SetDialogClass(TDialogFactory Factory) { State().Factory = std::move(Factory); }
TExceptionDialog* TExceptionDialog::Current() { return State().Current; }
bool TExceptionDialog::ReportDialogActive() { return State().ReportDialogActive; }

void TExceptionDialog::FormShow() {
  BeforeBuildDetails();
  PresentWindow(Window());
  MessageBeep(TBeep::bpError);
  // The report takes a while: it is built once the dialog has been painted, so the user sees the error
  // at once.
  if (FIsMainThread && std::this_thread::get_id() == MainThread)
    FBuildPosted = true;
  else
    BuildDetails();
}

void TExceptionDialog::BuildDetails() {
  const TWatchCursor watch(FForm.get());
  struct TFinally {
    TExceptionDialog& Dialog;
    ~TFinally() {
      gtk_widget_set_sensitive(Dialog.FbtnOk, TRUE);
      gtk_widget_set_sensitive(Dialog.FbtnDetails, TRUE);
      gtk_widget_set_sensitive(Dialog.FbtnSave, TRUE);
      gtk_widget_grab_focus(Dialog.FbtnOk);
    }
  } enable{*this};
  FillDetails();
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(FmemDetails));
  GtkTextIter start;
  gtk_text_buffer_get_start_iter(buffer, &start);
  gtk_text_buffer_place_cursor(buffer, &start);
  gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(FmemDetails), gtk_text_buffer_get_insert(buffer), 0, FALSE, 0, 0);
  AfterBuildDetails();
}

void TExceptionDialog::FillDetails() {
  TStrings lines;
  FillReport(lines, FLastActiveControl, AllReportSections);
  SetDetailsLines(lines);
}

void TExceptionDialog::AfterBuildDetails() {
  if (FOnDetails) FOnDetails(*this);
}

void TExceptionDialog::MessageBeep(TBeep /*Kind*/) {
  // The desktop's bell, as the user set it up (it may be switched off).
  gtk_widget_error_bell(FForm.get());
}

void TExceptionDialog::SetDetailsLines(const TStrings& Lines) {
  std::u16string text;
  for (const auto& line : Lines) text += line + std::u16string(CRLF);
  SetBufferText(FmemDetails, text);
}

void TExceptionDialog::SetMessageText(std::u16string_view Text) { SetBufferText(FTextLabel, Text); }
std::u16string TExceptionDialog::MessageText() const { return BufferText(FTextLabel); }
std::u16string TExceptionDialog::DetailsText() const { return BufferText(FmemDetails); }

bool TExceptionDialog::MessageHasScrollBar() const {
  GtkWidget* bar = gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(FMessageScroll));
  return bar && gtk_widget_get_visible(bar) && gtk_widget_get_child_visible(bar);
}

std::u16string TExceptionDialog::GetReportText(int Mode) const {
  std::u16string text = MessageText();
  if (!text.empty() && !EndsWithText(u"\r\n\r\n", text, true)) text += u"\r\n\r\n";
  text += DetailsText();
  if (Mode == 1) text = StringReplaceMulti(text, {u"<", u">"}, {u"(", u")"}, rfReplaceAll);
  return text;
}

void TExceptionDialog::CopyReportToClipboard() {
  GtkClipboard* clipboard = gtk_widget_get_clipboard(FForm.get(), GDK_SELECTION_CLIPBOARD);
  const std::string text = U8(GetReportText(0));
  gtk_clipboard_set_text(clipboard, text.c_str(), static_cast<int>(text.size()));
  // A clipboard manager may keep the report after the program has ended.
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
}

int TExceptionDialog::ScreenHeight() const {
  GdkDisplay* display = gtk_widget_get_display(FForm.get());
  GdkWindow* window = gtk_widget_get_window(FForm.get());
  GdkMonitor* monitor = window ? gdk_display_get_monitor_at_window(display, window) : nullptr;
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return G_MAXSHORT;
  GdkRectangle area;
  gdk_monitor_get_geometry(monitor, &area);
  return area.height;
}

void TExceptionDialog::ApplySizeLimits() {
  GdkGeometry limits{};
  limits.min_width = MinFormWidth;
  limits.max_width = G_MAXSHORT;
  if (FDetailsVisible) {
    limits.min_height = FNonDetailsHeight + ExpandedMinExtra;
    limits.max_height = std::max(ScreenHeight(), limits.min_height);
  } else {
    // The collapsed dialog cannot be resized vertically.
    limits.min_height = limits.max_height = FNonDetailsHeight;
  }
  gtk_window_set_geometry_hints(Window(), nullptr, &limits,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

void TExceptionDialog::SetDetailsShown(bool Value) {
  FDetailsVisible = Value;
  int width = 0, height = 0;
  gtk_window_get_size(Window(), &width, &height);
  gtk_widget_set_sensitive(FmemDetails, Value);
  if (Value) {
    gtk_button_set_label(GTK_BUTTON(FbtnDetails), CaptionToMnemonic(u"<< " + std::u16string(CaptionDetails)).c_str());
    gtk_widget_show(FshpDetails);
    ApplySizeLimits();
    gtk_window_resize(Window(), width, FFullHeight);
    return;
  }
  FFullHeight = height;
  gtk_button_set_label(GTK_BUTTON(FbtnDetails), CaptionToMnemonic(std::u16string(CaptionDetails) + u" >>").c_str());
  gtk_widget_hide(FshpDetails);
  if (FNonDetailsHeight == 0) {
    // Up to the bottom of the lowest button plus its margin: the content's own height without details.
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(GTK_WIDGET(Window()), &minimum, &natural);
    FNonDetailsHeight = std::max(minimum, natural);
  }
  ApplySizeLimits();
  gtk_window_resize(Window(), width, FNonDetailsHeight);
}

void TExceptionDialog::Close(TModalResult Result) {
  FModalResult = Result;
  gtk_widget_hide(FForm.get());
}

bool TExceptionDialog::FormKeyDown(const GdkEventKey& Key) {
  const auto modifiers = Key.state & gtk_accelerator_get_default_mod_mask();
  if (Key.keyval == GDK_KEY_Escape && modifiers == 0) {
    Close(mrCancel);
    return true;
  }
  // Other modifiers do not matter: Ctrl+Shift+C and Ctrl+Alt+C copy as well.
  if (!(Key.state & GDK_CONTROL_MASK)) return false;
  guint key = gdk_keyval_to_upper(Key.keyval);
  if (key != GDK_KEY_C) {
    // On a layout without Latin letters the key is the one that is C in the first group.
    guint base = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(FForm.get()));
    if (gdk_keymap_translate_keyboard_state(keymap, Key.hardware_keycode, static_cast<GdkModifierType>(0), 0, &base,
                                            nullptr, nullptr, nullptr))
      key = gdk_keyval_to_upper(base);
  }
  if (key != GDK_KEY_C) return false;
  CopyReportToClipboard();
  MessageBeep(TBeep::bpDefault);
  return true;
}

void TExceptionDialog::SaveClick() {
  const TzbTopLevel chooser(gtk_file_chooser_dialog_new("Speichern unter", Window(), GTK_FILE_CHOOSER_ACTION_SAVE,
                                                        "_Abbrechen", GTK_RESPONSE_CANCEL, "_Speichern",
                                                        GTK_RESPONSE_ACCEPT, nullptr));
  GtkFileChooser* files = GTK_FILE_CHOOSER(chooser.get());
  gtk_dialog_set_default_response(GTK_DIALOG(chooser.get()), GTK_RESPONSE_ACCEPT);
  GtkFileFilter* filter = gtk_file_filter_new();  // floating: the chooser takes it
  gtk_file_filter_set_name(filter, "Log-Datei");
  gtk_file_filter_add_pattern(filter, "*.log");
  gtk_file_chooser_add_filter(files, filter);
  gtk_file_chooser_set_do_overwrite_confirmation(files, TRUE);

  const std::u16string folder = ReportSaveFolder();
  const std::u16string proposed = ProposedReportFileName(Now());
  gtk_file_chooser_set_current_folder(files, U8(folder).c_str());
  gtk_file_chooser_set_current_name(files, U8(proposed).c_str());
  std::u16string fileName = IncludeTrailingChar(folder, u'/') + proposed;

  const bool confirmed = RunModalDialog(chooser.get()) == GTK_RESPONSE_ACCEPT;
  if (confirmed) {
    const TzbGChars chosen(gtk_file_chooser_get_filename(files));
    if (chosen) fileName = Utf8ToUtf16(chosen.get());
  }
  gtk_widget_hide(chooser.get());
  PresentWindow(Window());
  if (confirmed) {
    SaveTextToFile(GetReportText(0), fileName);
    WriteRegistryString(HKEY_CURRENT_USER, ExceptionDialogRegistryKey(), SavePathValueName, ExtractFileDirEx(fileName));
  }
  if (DebuggerPresent()) OpenInTextEditor(Window(), fileName);
}

gboolean TExceptionDialog::OnDelete(GtkWidget*, GdkEvent*, gpointer ASelf) noexcept {
  GuardCallback([&] { static_cast<TExceptionDialog*>(ASelf)->Close(mrCancel); });
  return TRUE;
}

gboolean TExceptionDialog::OnKeyPress(GtkWidget*, GdkEventKey* AKey, gpointer ASelf) noexcept {
  return GuardCallback([&] { return static_cast<TExceptionDialog*>(ASelf)->FormKeyDown(*AKey); }, false) ? TRUE : FALSE;
}

gboolean TExceptionDialog::OnDrawn(GtkWidget*, cairo_t*, gpointer ASelf) noexcept {
  GuardCallback([&] {
    auto* self = static_cast<TExceptionDialog*>(ASelf);
    if (!self->FBuildPosted) return;
    self->FBuildPosted = false;
    // Runs after this frame is complete: the posted build of the report.
    self->FPostedBuild = TzbSource(g_idle_add(OnPostedBuild, self));
  });
  return FALSE;
}

gboolean TExceptionDialog::OnPostedBuild(gpointer ASelf) noexcept {
  auto* self = static_cast<TExceptionDialog*>(ASelf);
  self->FPostedBuild.Ended();
  GuardCallback([&] {
    gdk_display_flush(gtk_widget_get_display(self->FForm.get()));
    self->BuildDetails();
  });
  return G_SOURCE_REMOVE;
}

void TExceptionDialog::OnOkClicked(GtkButton*, gpointer ASelf) noexcept {
  GuardCallback([&] { static_cast<TExceptionDialog*>(ASelf)->Close(mrOk); });
}

void TExceptionDialog::OnDetailsClicked(GtkButton*, gpointer ASelf) noexcept {
  GuardCallback([&] {
    auto* self = static_cast<TExceptionDialog*>(ASelf);
    self->SetDetailsShown(!self->FDetailsVisible);
  });
}

void TExceptionDialog::OnSaveClicked(GtkButton*, gpointer ASelf) noexcept {
  GuardCallback([&] { static_cast<TExceptionDialog*>(ASelf)->SaveClick(); });
}

}  // namespace zb
