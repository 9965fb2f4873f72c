// The service's windows as a person meets them: page setup, preview and the print dialog come up in
// front over the bus, answer the keyboard (real key presses on the display), and do what was chosen.
// Each window is photographed into test-output/ for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ServiceFixture.h"
#include "platform/glib/zbMainWait.h"
#include "tests/TestEnv.h"
#include "tests/XdoTool.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char PageSetupKey[] = "HKCU\\Software\\Microsoft\\Internet Explorer\\PageSetup";

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(ZB_TEST_OUTPUT);
    Bus.StartService();
  }
  void Photograph(const std::string& AName) {
    Shell(std::string(ZB_SCREENSHOT) + " '" + ZB_TEST_OUTPUT + "/" + AName + ".png'");
  }
  TRun Reg(const std::vector<std::string>& AArgs) {
    std::vector<std::string> argv{HTMLSERVICE_REG_PATH};
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    return Bus.Run(argv);
  }
  fs::path Mail(const std::string& AName, const std::string& ATitle, const std::string& ABody) {
    const fs::path path = fs::path(Bus.Folder()) / AName;
    std::ofstream(path) << "<html><head><meta charset=\"utf-8\"><title>" << ATitle << "</title></head><body>" << ABody
                        << "</body></html>";
    return path;
  }
  TPrivateBus Bus;
};

TEST_F(Dialogs, EscapeOnPageSetupChangesNothingAndOkWritesTheStore) {
  ASSERT_EQ(Reg({"set", PageSetupKey, "header", "REG_SZ", "&w"}).ExitCode, 0);
  {
    TPendingCall call(Bus, "PageSetup", nullptr);
    ASSERT_FALSE(WaitForWindow("^Seite einrichten$").empty());
    Photograph("service-page-setup");
    Keys("Escape");
    EXPECT_EQ(call.Answer(), 1);
  }
  EXPECT_NE(Reg({"query", PageSetupKey, "margin_left"}).ExitCode, 0) << "Escape wrote the store";
  {
    TPendingCall call(Bus, "PageSetup", nullptr);
    ASSERT_FALSE(WaitForWindow("^Seite einrichten$").empty());
    Keys("Return");
    EXPECT_EQ(call.Answer(), 1);
  }
  EXPECT_NE(Reg({"query", PageSetupKey, "margin_left"}).Out.find("0.75000"), std::string::npos);
  EXPECT_NE(Reg({"query", PageSetupKey, "header"}).Out.find("&w"), std::string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(Dialogs, ThePreviewShowsTheStampedPagesAndEscapeAnswersOne) {
  ASSERT_EQ(Reg({"set", PageSetupKey, "footer", "REG_SZ", "&bSeite &p von &P"}).ExitCode, 0);
  std::string body;
  for (int i = 1; i <= 120; ++i) body += "<p>Absatz " + std::to_string(i) + " der Vorschau.</p>";
  const fs::path mail = Mail("vorschau.htm", "Vorschaubrief", body);
  TPendingCall call(Bus, "PrintPreview", g_variant_new("(s)", mail.c_str()));
  ASSERT_FALSE(WaitForWindow("^Druckvorschau").empty());
  Photograph("service-preview");
  Keys("Next");
  Photograph("service-preview-page-2");
  Keys("Escape");
  EXPECT_EQ(call.Answer(), 1);
  EXPECT_EQ(Bus.Call("PrintPreview", g_variant_new("(s)", "/fehlt/nicht.htm")).Value, -1);
}

TEST_F(Dialogs, ReturnOnThePrintDialogPrintsOneJobAndEscapePrintsNone) {
  NEEDS_CUPS();
  const std::string tag = "Druckdialog " + std::to_string(::getpid());
  const fs::path mail = Mail("dialog.htm", tag, "<p>Gedruckt über den Dialog</p>");
  const auto jobs = [&] {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(Env("ZB_TEST_PRINT_OUT")))
      if (e.path().extension() == ".title" && ReadAll(e.path()) == tag) found.push_back(e.path());
    return found;
  };
  {
    TPendingCall call(Bus, "PrintWithDlg", g_variant_new("(s)", mail.c_str()));
    ASSERT_FALSE(WaitForWindow("^Drucken$").empty());
    Keys("Escape");
    EXPECT_EQ(call.Answer(), 1);
  }
  {
    TPendingCall call(Bus, "PrintWithDlg", g_variant_new("(s)", mail.c_str()));
    ASSERT_FALSE(WaitForWindow("^Drucken$").empty());
    std::this_thread::sleep_for(2s);  // the printers are listed (and the default chosen) after the window
    Photograph("service-print-dialog");
    Keys("Return");
    EXPECT_EQ(call.Answer(), 1);
  }
  // The queue writes the title first and the document after it.
  const auto landed = [&] {
    const auto found = jobs();
    return !found.empty() && print::test::TPdf(fs::path(found[0]).replace_extension(".pdf").string()).Loaded();
  };
  for (int i = 0; i < 100 && !landed(); ++i) std::this_thread::sleep_for(100ms);
  const auto printed = jobs();
  ASSERT_EQ(printed.size(), 1u) << "Escape must print nothing, Return one job";
  const print::test::TPdf document(fs::path(printed[0]).replace_extension(".pdf").string());
  ASSERT_TRUE(document.Loaded());
  EXPECT_NE(document.Text(0).find("Gedruckt über den Dialog"), std::string::npos);
  EXPECT_EQ(Bus.Call("PrintWithDlg", g_variant_new("(s)", "/fehlt/nicht.htm")).Value, -1);
}

// The suite's user worked in another program since the last dialog; the suite then asks for one.
// A window manager that prevents focus stealing gives the new dialog the keyboard only if it is
// presented with a time newer than the other program's last input.
TEST_F(Dialogs, ADialogOpenedForARequestGetsTheKeyboardFromAnotherProgram) {
  if (Env("ZB_TEST_WINDOW_MANAGER").empty()) GTEST_SKIP() << "needs a window manager (scripts/with-wm)";
  const std::string keys = Bus.Folder() + "/other-keys";
  GPid other = 0;
  const char* argv[] = {ZB_OTHER_WINDOW, keys.c_str(), nullptr};
  ASSERT_TRUE(
      g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &other, nullptr));
  const std::string otherId = xdo::FindWindow("^Anderes Programm$");
  ASSERT_FALSE(otherId.empty());
  const fs::path mail = Mail("fokus.htm", "Fokusbrief", "<p>Vorschau über einem anderen Programm</p>");
  struct TCase {
    const char* Method;
    const char* Title;
    const char* Photo;
  };
  for (const TCase& c : {TCase{"PageSetup", "^Seite einrichten$", "service-page-setup-over-another-program"},
                         TCase{"PrintPreview", "^Druckvorschau", "service-preview-over-another-program"}}) {
    SCOPED_TRACE(c.Method);
    // The user works in the other program before the suite sends its next request.
    xdo::Run({"windowactivate", "--sync", otherId});
    ASSERT_TRUE(xdo::BecomesActive(otherId));
    xdo::Key("a");
    TPendingCall call(Bus, c.Method,
                      std::string(c.Method) == "PageSetup" ? nullptr : g_variant_new("(s)", mail.c_str()));
    const std::string id = xdo::FindWindow(c.Title);
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(xdo::BecomesActive(id)) << "the dialog did not get the keyboard";
    std::this_thread::sleep_for(500ms);  // the first frame is drawn before anybody looks
    Photograph(c.Photo);
    xdo::Key("Escape");
    EXPECT_EQ(call.Answer(), 1);
  }
  ::kill(other, SIGTERM);
  g_spawn_close_pid(other);
  EXPECT_EQ(ReadAll(keys), "a\na\n") << "Escape went to the other program";
}

}  // namespace
}  // namespace zb::test
