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

extern "C" GResource* zberrorsdlg_get_resource();

namespace zb {
namespace {

// The stored layout (ExceptDlgForm.ui) is 400 x 255 logical pixels at 96 pixels per inch. Buttons may come
// out taller than 25 in a theme with more padding: the collapsed height is measured, not assumed.
constexpr int MinFormWidth = 200;
constexpr int FormHeight = 255;
constexpr int ExpandedMinExtra = 100;

constexpr std::u16string_view CaptionOk = u"&OK";
constexpr std::u16string_view CaptionDetails = u"&Details";
constexpr std::u16string_view CaptionSave = u"&Speichern";
constexpr std::u16string_view MessageHint = u"Mit Strg+C können Sie die Fehlermeldung in die Zwischenablage kopieren";
constexpr std::u16string_view DetailsHint = u"|Mit Strg+C können Sie die Fehlermeldung in die Zwischenablage kopieren";
constexpr std::u16string_view DetailsButtonHint = u"Detailierte Fehler-Informationen anzeigen/verbergen";
constexpr std::u16string_view CRLF = u"\r\n";

constexpr int SwShow = 5;

constexpr const char* TemplateResource = "/com/vestrum/Plumadesk5/HtmlService/errors/ExceptDlgForm.ui";
constexpr const char* CssResource = "/com/vestrum/Plumadesk5/HtmlService/errors/ExceptDlgForm.css";
constexpr const char* ActionPrefix = "report";

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

std::string U8(std::u16string_view AText) { return Utf16ToUtf8(AText); }

// A hint's tooltip is its part before "|"; the long help after it has no place on this desktop.
void SetHint(GtkWidget* AWidget, std::u16string_view AHint) {
  const std::string tip = U8(AHint.substr(0, AHint.find(u'|')));
  if (!tip.empty()) gtk_widget_set_tooltip_text(AWidget, tip.c_str());
}

std::u16string BufferText(GtkWidget* ATextView) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(ATextView));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  const TzbGChars text(gtk_text_buffer_get_text(buffer, &start, &end, TRUE));
  return Utf8ToUtf16(text.get());
}

void SetBufferText(GtkWidget* ATextView, std::u16string_view AText) {
  const std::string text = U8(AText);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(ATextView)), text.c_str(),
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
void OpenInTextEditor(GtkWindow* AWindow, const std::u16string& AFileName) {
  const TzbGObject<GAppInfo> editor(g_app_info_get_default_for_type("text/plain", FALSE));
  const char* program = editor ? g_app_info_get_executable(editor.get()) : nullptr;
  if (program && *program) {
    const TzbGChars quoted(g_shell_quote(U8(AFileName).c_str()));
    ShellExecuteOrOpenWith(AWindow, u"OPEN", Utf8ToUtf16(program), Utf8ToUtf16(quoted.get()), u"", SwShow);
  } else {
    ShellExecuteOrOpenWith(AWindow, u"OPEN", AFileName, u"", u"", SwShow);
  }
}

// The hourglass of the report's build: the screen cursor's count and, visibly, the watch on the dialog.
class TWatchCursor {
 public:
  explicit TWatchCursor(GtkWidget* AForm) : FWindow(gtk_widget_get_window(AForm)) {
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

// The dialog's window, declared in ExceptDlgForm.ui; the fields are the children TExceptionDialog fills.
struct TzbExceptionWindow {
  GtkWindow Parent;
  GtkWidget* grid;
  GtkWidget* TextLabel;
  GtkWidget* MessageScroll;
  GtkWidget* btnOk;
  GtkWidget* btnSave;
  GtkWidget* btnDetails;
  GtkWidget* shpDetails;
  GtkWidget* memDetails;
};
struct TzbExceptionWindowClass {
  GtkWindowClass ParentClass;
};

G_DEFINE_TYPE(TzbExceptionWindow, zb_exception_window, GTK_TYPE_WINDOW)

void zb_exception_window_init(TzbExceptionWindow* AWindow) { gtk_widget_init_template(GTK_WIDGET(AWindow)); }

void zb_exception_window_class_init(TzbExceptionWindowClass* AClass) {
  // The static library's unit that registers the resource is linked only when something refers to it.
  zberrorsdlg_get_resource();
  GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(AClass);
  gtk_widget_class_set_template_from_resource(widgetClass, TemplateResource);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, grid);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, TextLabel);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, MessageScroll);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, btnOk);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, btnSave);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, btnDetails);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, shpDetails);
  gtk_widget_class_bind_template_child(widgetClass, TzbExceptionWindow, memDetails);
}

TzbExceptionWindow* ExceptionWindow(GtkWidget* AWidget) {
  return G_TYPE_CHECK_INSTANCE_CAST(AWidget, zb_exception_window_get_type(), TzbExceptionWindow);
}

// The keys of the report actions, beside the buttons' mnemonics and Enter for the default button (OK).
// Ctrl+C copies also with further modifiers held: Ctrl+Shift+C and Ctrl+Alt+C copy too.
constexpr TzbActionKeys ReportKeys[] = {
    {"cancel", {"Escape"}},
    {"copy", {"<Control>c"}, nullptr, true},
};

}  // namespace

void SetHostRegistryKey(std::u16string_view AKey) { State().HostKey = AKey; }
std::u16string HostRegistryKey() { return State().HostKey; }
std::u16string ExceptionDialogRegistryKey() { return HostRegistryKey() + u"\\ExceptionDialog"; }

std::string CaptionToMnemonic(std::u16string_view ACaption) {
  std::u16string out;
  for (std::size_t i = 0; i < ACaption.size(); ++i) {
    const char16_t c = ACaption[i];
    if (c == u'&' && i + 1 < ACaption.size() && ACaption[i + 1] == u'&') {
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

std::u16string ProposedReportFileName(TDateTime AWhen) {
  return FormatDateTimeEx(u"\"ERR \"yyyy-mm-dd hhnnss\".log\"", AWhen);
}

std::u16string ReportSaveFolder() {
  std::u16string folder = ReadRegistryString(HKEY_CURRENT_USER, ExceptionDialogRegistryKey(), SavePathValueName, u"");
  if (folder.empty() || !FolderExists(folder)) folder = EnsureFolder(GetLogFolderWithoutBackslash(false));
  return folder;
}

void ShowErrorMessageBox(std::u16string_view AMessage) {
  TExceptionDialog* owner = State().Current;
  const std::string text = U8(NormaliseErrorMessage(AMessage));
  const TzbTopLevel box(gtk_message_dialog_new(owner ? owner->Window() : nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_NONE, "%s", text.c_str()));
  gtk_window_set_title(GTK_WINDOW(box.get()), U8(ApplicationTitle()).c_str());
  gtk_dialog_add_button(GTK_DIALOG(box.get()), CaptionToMnemonic(CaptionOk).c_str(), GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(box.get()), GTK_RESPONSE_OK);
  RunModalDialog(box.get());
  if (owner) PresentWindow(owner->Window());
}

void InstallExceptionDialog() {
  SetShowExceptionHook([](const std::exception& AError) { TExceptionDialog::OnExceptionHandler(nullptr, AError); });
}

const GActionEntry TExceptionDialog::ReportActions[] = {
    {"ok", OnAction<&TExceptionDialog::OkClick>},            // OK, Alt+O, Enter
    {"cancel", OnAction<&TExceptionDialog::CancelClick>},    // Escape, the close box
    {"details", OnAction<&TExceptionDialog::DetailsClick>},  // Details, Alt+D
    {"save", OnAction<&TExceptionDialog::SaveClick>},        // Speichern, Alt+S
    {"copy", OnAction<&TExceptionDialog::CopyClick>},        // Ctrl+C
};

TExceptionDialog::TExceptionDialog() : FForm(GTK_WIDGET(g_object_new(zb_exception_window_get_type(), nullptr))) {
  const TzbExceptionWindow* form = ExceptionWindow(FForm.get());
  FbtnOk = form->btnOk;
  FbtnSave = form->btnSave;
  FbtnDetails = form->btnDetails;
  FTextLabel = form->TextLabel;
  FMessageScroll = form->MessageScroll;
  FshpDetails = form->shpDetails;
  FmemDetails = form->memDetails;

  FActions.Install(Window(), ActionPrefix, ReportActions, this, ReportKeys);
  // Details and Save wait for the report.
  FActions.SetEnabled("details", false);
  FActions.SetEnabled("save", false);

  const TzbGObject<GtkCssProvider> css(gtk_css_provider_new());
  gtk_css_provider_load_from_resource(css.get(), CssResource);
  for (GtkWidget* view : {FTextLabel, FmemDetails})
    gtk_style_context_add_provider(gtk_widget_get_style_context(view), GTK_STYLE_PROVIDER(css.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  gtk_button_set_label(GTK_BUTTON(FbtnOk), CaptionToMnemonic(CaptionOk).c_str());
  gtk_button_set_label(GTK_BUTTON(FbtnSave), CaptionToMnemonic(CaptionSave).c_str());
  SetHint(FTextLabel, MessageHint);
  SetHint(FmemDetails, DetailsHint);
  SetHint(FbtnDetails, DetailsButtonHint);
  gtk_window_set_default(Window(), FbtnOk);

  // Tab order: message, OK, Details, report, Save.
  TzbOwner<GList, g_list_free> chain;
  for (GtkWidget* widget : {FMessageScroll, FbtnOk, FbtnDetails, FshpDetails, FbtnSave})
    chain.reset(g_list_append(chain.release(), widget));
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(form->grid), chain.get());
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_grab_focus(FbtnOk);

  FDeleteSignal = TzbSignal(FForm.get(), "delete-event", G_CALLBACK(OnDelete), this);
  FDrawSignal = TzbSignal(FForm.get(), "draw", G_CALLBACK(OnDrawn), this);

  FFullHeight = FormHeight;
  SetDetailsShown(false);
  gtk_window_set_title(Window(), U8(Format(u"%s - Anwendungsfehler", {ApplicationTitle()})).c_str());
}

// The window may outlive the dialog while someone holds it: its actions must no longer reach this one.
TExceptionDialog::~TExceptionDialog() = default;

void TExceptionDialog::ShowException(const std::exception& AError, const std::exception_ptr& /*AThreadError*/,
                                     TNotifyEvent AOnDetails) {
  TDialogState& state = State();
  if (state.Current) {
    ShowErrorMessageBox(ExceptionMessage(AError));
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
  dialog->SetMessageText(NormaliseErrorMessage(ExceptionMessage(AError)));
  dialog->FormShow();
  RunModalWindow(dialog->Window(), [&] { return dialog->FModalResult != mrNone; });
}

void TExceptionDialog::OnExceptionHandler(const void* /*ASender*/, const std::exception& AError) {
  if (ReportDialogActive()) {
    ShowErrorMessageBox(ExceptionMessage(AError));
    return;
  }
  const TActiveScope active;
  ShowException(AError, nullptr, nullptr);
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

void TExceptionDialog::SetDialogClass(TDialogFactory AFactory) { State().Factory = std::move(AFactory); }
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
      for (const char* action : {"ok", "details", "save"}) Dialog.FActions.SetEnabled(action, true);
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

void TExceptionDialog::MessageBeep(TBeep /*AKind*/) {
  // The desktop's bell, as the user set it up (it may be switched off).
  gtk_widget_error_bell(FForm.get());
}

void TExceptionDialog::SetDetailsLines(const TStrings& ALines) {
  std::u16string text;
  for (const auto& line : ALines) text += line + std::u16string(CRLF);
  SetBufferText(FmemDetails, text);
}

void TExceptionDialog::SetMessageText(std::u16string_view AText) { SetBufferText(FTextLabel, AText); }
std::u16string TExceptionDialog::MessageText() const { return BufferText(FTextLabel); }
std::u16string TExceptionDialog::DetailsText() const { return BufferText(FmemDetails); }

bool TExceptionDialog::MessageHasScrollBar() const {
  GtkWidget* bar = gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(FMessageScroll));
  return bar && gtk_widget_get_visible(bar) && gtk_widget_get_child_visible(bar);
}

std::u16string TExceptionDialog::GetReportText(int AMode) const {
  std::u16string text = MessageText();
  if (!text.empty() && !EndsWithText(u"\r\n\r\n", text, true)) text += u"\r\n\r\n";
  text += DetailsText();
  if (AMode == 1) text = StringReplaceMulti(text, {u"<", u">"}, {u"(", u")"}, rfReplaceAll);
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

void TExceptionDialog::SetDetailsShown(bool AValue) {
  FDetailsVisible = AValue;
  int width = 0, height = 0;
  gtk_window_get_size(Window(), &width, &height);
  gtk_widget_set_sensitive(FmemDetails, AValue);
  if (AValue) {
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

void TExceptionDialog::Close(TModalResult AResult) {
  FModalResult = AResult;
  gtk_widget_hide(FForm.get());
}

void TExceptionDialog::OkClick() { Close(mrOk); }
void TExceptionDialog::CancelClick() { Close(mrCancel); }
void TExceptionDialog::DetailsClick() { SetDetailsShown(!FDetailsVisible); }

void TExceptionDialog::CopyClick() {
  CopyReportToClipboard();
  MessageBeep(TBeep::bpDefault);
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

template <void (TExceptionDialog::*AClick)()>
void TExceptionDialog::OnAction(GSimpleAction*, GVariant*, gpointer ASelf) noexcept {
  GuardCallback([&] { (static_cast<TExceptionDialog*>(ASelf)->*AClick)(); });
}

// The close box is Escape.
gboolean TExceptionDialog::OnDelete(GtkWidget*, GdkEvent*, gpointer ASelf) noexcept {
  GuardCallback([&] { static_cast<TExceptionDialog*>(ASelf)->FActions.Activate("cancel"); });
  return TRUE;
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

}  // namespace zb
