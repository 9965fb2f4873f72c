// The window helpers on a real display: opening files with the desktop's programs (a desktop entry of
// the test's own, found through the XDG folders), the "open with" chooser when none is associated,
// and raising windows.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/glib/zbGtkOwner.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;

fs::path Root() {
  static const fs::path root = [] {
    char pattern[] = "/tmp/zbsoundgtk-XXXXXX";
    return fs::path(::mkdtemp(pattern));
  }();
  return root;
}

void Write(const fs::path& APath, const std::string& AText) {
  fs::create_directories(APath.parent_path());
  std::ofstream(APath) << AText;
}

// Waits (serving the main loop) until APath exists, for programs started in the background.
bool Appears(const fs::path& APath) {
  return WaitOnMainContext([&] { return fs::exists(APath) && fs::file_size(APath) > 0; }, 10000);
}

TEST(ShellExecute, AProgramRunsWithItsParametersInItsFolder) {
  const fs::path marker = Root() / "ran.txt";
  EXPECT_GT(ShellExecuteOrOpenWith(nullptr, u"OPEN", u"sh", u"-c 'pwd > ran.txt'", Utf8ToUtf16(Root().string()), 1),
            32);
  ASSERT_TRUE(Appears(marker));
  std::ifstream in(marker);
  std::string folder;
  std::getline(in, folder);
  EXPECT_EQ(fs::path(folder), Root());
}

TEST(ShellExecute, MissingFilesAndFoldersAnswerTheShellsCodes) {
  EXPECT_EQ(ShellExecuteOrOpenWith(nullptr, u"OPEN", Utf8ToUtf16((Root() / "fehlt.zbtest").string()), u"", u"", 1),
            SE_ERR_FNF);
  EXPECT_EQ(
      ShellExecuteOrOpenWith(nullptr, u"OPEN", Utf8ToUtf16((Root() / "kein/ordner/x.zbtest").string()), u"", u"", 1),
      SE_ERR_PNF);
  EXPECT_EQ(ShellExecuteOrOpenWith(nullptr, u"OPEN", u"", u"", u"", 1), SE_ERR_FNF);
}

TEST(ShellExecute, AFileOpensWithTheDesktopsDefaultProgram) {
  const fs::path marker = Root() / "opened.txt";
  Write(Root() / "data/applications/zbtest-viewer.desktop",
        "[Desktop Entry]\nType=Application\nName=Testbetrachter\nExec=sh -c 'echo \"$1\" > " + marker.string() +
            "' sh %f\nMimeType=text/plain;\n");
  Write(Root() / "config/mimeapps.list", "[Default Applications]\ntext/plain=zbtest-viewer.desktop\n");
  const fs::path document = Root() / "brief.txt";
  Write(document, "Hallo\n");
  EXPECT_EQ(ShellExecuteOrOpenWith(nullptr, u"OPEN", Utf8ToUtf16(document.string()), u"", u"", 1), SE_OK);
  ASSERT_TRUE(Appears(marker));
  std::ifstream in(marker);
  std::string opened;
  std::getline(in, opened);
  EXPECT_EQ(opened, document.string());
}

TEST(ShellExecute, WithoutAnAssociatedProgramTheChooserIsOffered) {
  const fs::path document = Root() / "daten.zbunbekannt";
  Write(document, std::string("\x01\x02\x03\x04 unbekannt", 14));
  // The chooser is cancelled as soon as it is up; recorded so the test sees that it came.
  bool chooserSeen = false;
  TzbSource watch(g_timeout_add(
      100,
      [](gpointer AData) -> gboolean {
        TzbOwner<GList, g_list_free> windows(gtk_window_list_toplevels());
        for (GList* l = windows.get(); l; l = l->next)
          if (GTK_IS_APP_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) {
            *static_cast<bool*>(AData) = true;
            gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_CANCEL);
          }
        return G_SOURCE_CONTINUE;
      },
      &chooserSeen));
  EXPECT_GT(ShellExecuteOrOpenWith(nullptr, u"OPEN", Utf8ToUtf16(document.string()), u"", u"", 1), 32);
  EXPECT_TRUE(chooserSeen);
}

TEST(Windows, ShowAndBringToFrontShowsTheFormAndRefusesNothing) {
  EXPECT_FALSE(ShowAndBringToFront(nullptr));
  TzbTopLevel form(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  EXPECT_TRUE(ShowAndBringToFront(GTK_WINDOW(form.get())));
  EXPECT_TRUE(gtk_widget_get_visible(form.get()));
  gtk_widget_hide(form.get());
  SetMainForm(GTK_WINDOW(form.get()));
  BringApplicationToFront(true);
  EXPECT_TRUE(gtk_widget_get_visible(form.get()));
  SetMainForm(nullptr);
}

TEST(Windows, AnOffscreenWindowIsLeftWhereItIs) {
  // The service's hidden form: GTK cannot present it, and before, bringing the application to the
  // front crashed on it.
  TzbTopLevel hidden(gtk_offscreen_window_new());
  gtk_widget_show(hidden.get());
  EXPECT_FALSE(ShowAndBringToFront(GTK_WINDOW(hidden.get())));
  SetMainForm(GTK_WINDOW(hidden.get()));
  BringApplicationToFront(true);
  SetMainForm(nullptr);
  EXPECT_TRUE(gtk_widget_get_visible(hidden.get()));
}

}  // namespace
}  // namespace zb::test

int main(int argc, char** argv) {
  // The defaults come from the test's own folders; the system's data stays for its file types (GTK's
  // icons are recognised through them), and none of its programs takes binary data.
  const std::string root = zb::test::Root().string();
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_DATA_DIRS", "/usr/share", 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (root + "/noconfig").c_str(), 1);
  setenv("GIO_USE_VFS", "local", 1);
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // listing needs no display
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "test_zbSoundGtk needs a display\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return result;
}
