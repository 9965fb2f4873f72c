// The window helpers of zbSound over GTK and GIO: raising the application's windows, and opening a
// file with its program or through the desktop's "open with" chooser.
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/gtk/zbGtkPresent.h"
#include "platform/gtk/zbModalRun.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

GtkWindow* GMainForm = nullptr;

// A window that can come to the front: offscreen windows (the hidden service form) are never on
// screen, and GTK cannot present them.
bool OnScreen(GtkWindow* AWindow) { return AWindow && GTK_IS_WINDOW(AWindow) && !GTK_IS_OFFSCREEN_WINDOW(AWindow); }

using TzbWindowList = TzbOwner<GList, g_list_free>;

bool IsExecutable(const std::string& APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(APath.c_str(), X_OK) == 0;
}

// A program named with or without its folder; empty when there is none.
std::string FindProgram(const std::string& AName) {
  if (AName.find('/') != std::string::npos) return IsExecutable(AName) ? AName : std::string();
  const TzbGChars found(g_find_program_in_path(AName.c_str()));
  return found ? std::string(found.get()) : std::string();
}

// The address of a file name or an address as it stands.
std::string UriOf(const std::string& AName) {
  const TzbGChars scheme(g_uri_parse_scheme(AName.c_str()));
  if (scheme) return AName;
  const TzbGChars absolute(g_canonicalize_filename(AName.c_str(), nullptr));
  const TzbGChars uri(g_filename_to_uri(absolute.get(), nullptr, nullptr));
  return uri ? std::string(uri.get()) : std::string();
}

int RunProgram(const std::string& AProgram, const std::string& AParameters, const std::string& ADirectory) {
  gchar** parsed = nullptr;
  if (!AParameters.empty() && !g_shell_parse_argv(AParameters.c_str(), nullptr, &parsed, nullptr)) return SE_ERR_FNF;
  const TzbGStrv arguments(parsed);
  std::vector<gchar*> argv{const_cast<gchar*>(AProgram.c_str())};
  for (gchar** a = arguments.get(); a && *a; ++a) argv.push_back(*a);
  argv.push_back(nullptr);
  const bool started = g_spawn_async(ADirectory.empty() ? nullptr : ADirectory.c_str(), argv.data(), nullptr,
                                     G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr);
  return started ? SE_OK : SE_ERR_ACCESSDENIED;
}

// GTK's chooser of a program for the file; modal, answered through the main loop.
int OpenWith(GtkWindow* AParent, const std::string& AFile) {
  const TzbGObject<GFile> file(g_file_new_for_path(AFile.c_str()));
  const TzbTopLevel dialog(gtk_app_chooser_dialog_new(AParent, GTK_DIALOG_MODAL, file.get()));
  gtk_window_set_title(GTK_WINDOW(dialog.get()), "Öffnen mit");
  if (RunModalDialog(dialog.get()) != GTK_RESPONSE_OK) return SE_OK;  // the chooser ran; the user chose nothing
  const TzbGObject<GAppInfo> app(gtk_app_chooser_get_app_info(GTK_APP_CHOOSER(dialog.get())));
  if (!app) return SE_OK;
  GList one{file.get(), nullptr, nullptr};
  return g_app_info_launch(app.get(), &one, nullptr, nullptr) ? SE_OK : SE_ERR_ACCESSDENIED;
}

}  // namespace

void SetMainForm(GtkWindow* AForm) { GMainForm = AForm; }
GtkWindow* MainForm() { return GMainForm; }

bool ShowAndBringToFront(GtkWindow* AForm) {
  if (!OnScreen(AForm)) return false;
  return GuardCallback(
      [&] {
        GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(AForm));
        if (window && (gdk_window_get_state(window) & GDK_WINDOW_STATE_ICONIFIED)) gtk_window_deiconify(AForm);
        gtk_widget_show(GTK_WIDGET(AForm));
        PresentWindow(AForm);
        return true;
      },
      false);
}

void BringApplicationToFront(bool AShowMainForm) {
  const TzbWindowList toplevels(gtk_window_list_toplevels());
  for (GList* l = toplevels.get(); l; l = l->next) {
    auto* window = GTK_WINDOW(l->data);
    if (window != GMainForm && OnScreen(window) && gtk_widget_get_visible(GTK_WIDGET(window)) &&
        gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL)
      PresentWindow(window);
  }
  if (OnScreen(GMainForm)) {
    if (AShowMainForm) ShowAndBringToFront(GMainForm);
    if (gtk_widget_get_visible(GTK_WIDGET(GMainForm))) PresentWindow(GMainForm);
  }
}

int ShellExecuteOrOpenWith(GtkWindow* AWindow, std::u16string_view AOperation, std::u16string_view AFileName,
                           std::u16string_view AParameters, std::u16string_view ADirectory, int) {
  try {
    GtkWindow* parent = AWindow ? AWindow : GMainForm;
    const std::string name = Utf16ToUtf8(AFileName);
    const std::string operation = Utf16ToUtf8(AOperation);
    if (name.empty()) return SE_ERR_FNF;
    int result;
    if (const std::string program = FindProgram(name); !program.empty()) {
      result = RunProgram(program, Utf16ToUtf8(AParameters), Utf16ToUtf8(ADirectory));
    } else {
      const std::string uri = UriOf(name);
      const TzbGChars path(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
      if (path && !g_file_test(path.get(), G_FILE_TEST_EXISTS)) {
        const TzbGChars folder(g_path_get_dirname(path.get()));
        result = g_file_test(folder.get(), G_FILE_TEST_IS_DIR) ? SE_ERR_FNF : SE_ERR_PNF;
      } else {
        TzbGError error;
        const bool opened = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, error.Out());
        result = opened ? SE_OK : SE_ERR_NOASSOC;
      }
    }
    (void)operation;  // every verb opens; Linux desktops know no others for a file
    const bool fileThere = g_file_test(name.c_str(), G_FILE_TEST_EXISTS);
    if (((result == SE_ERR_FNF || result == SE_ERR_PNF) && fileThere) || result == SE_ERR_NOASSOC)
      result = fileThere ? OpenWith(parent, name) : result;
    return result;
  } catch (const std::exception&) {
    return SE_ERR_ACCESSDENIED;
  }
}

}  // namespace zb
