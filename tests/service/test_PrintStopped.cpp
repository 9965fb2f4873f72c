// Printing through the running service while its print service is frozen (the scheduler of
// scripts/with-cups stopped with SIGSTOP): before the printers are listed for a 1028 of several files,
// and right after Return on the print dialog of 1029. Each request answers within its bound, the log
// says why in German, and once the scheduler runs again the next request prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ServiceFixture.h"
#include "tests/TestEnv.h"
#include "tests/print/CupsTestUtil.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::size_t Count(const std::u16string& AText, std::u16string_view APart) {
  std::size_t n = 0;
  for (auto at = AText.find(APart); at != std::u16string::npos; at = AText.find(APart, at + 1)) ++n;
  return n;
}

class PrintStopped : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateCupsRuns() || print::test::MainSchedulerPid() == 0)
      GTEST_SKIP() << "needs the private print service of scripts/with-cups";
    Bus.StartService();
  }
  fs::path Mail(const std::string& AName, const std::string& ATitle) {
    const fs::path path = fs::path(Bus.Folder()) / AName;
    std::ofstream(path) << "<html><head><meta charset=\"utf-8\"><title>" << ATitle << "</title></head><body><p>"
                        << ATitle << "</p></body></html>";
    return path;
  }
  // The service's log (UTF-16) as text.
  std::u16string Log() const {
    const fs::path logs = fs::path(Bus.Folder()) / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0";
    std::string bytes;
    if (fs::is_directory(logs))
      for (const auto& e : fs::directory_iterator(logs)) bytes += ReadAll(e.path());
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      text +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
  }
  // Jobs of the test queue titled ATitle, once the scheduler handed them on.
  static std::size_t Jobs(const std::string& ATitle) {
    const auto count = [&] {
      return std::count_if(fs::directory_iterator(Env("ZB_TEST_PRINT_OUT")), fs::directory_iterator(), [&](auto& e) {
        return e.path().extension() == ".title" && ReadAll(e.path()) == ATitle &&
               fs::exists(fs::path(e.path()).replace_extension(".pdf"));
      });
    };
    for (int i = 0; i < 300 && count() == 0; ++i) std::this_thread::sleep_for(100ms);
    return static_cast<std::size_t>(count());
  }
  // The next request is served: a file prints.
  void ExpectTheNextPrintComesOut(const std::string& ATitle) {
    const fs::path next = Mail("danach.htm", ATitle);
    EXPECT_EQ(Bus.Call("PrintFiles", g_variant_new("(s)", next.c_str())).Value, 1);
    EXPECT_EQ(Jobs(ATitle), 1u);
  }
  TPrivateBus Bus;
};

TEST_F(PrintStopped, A1028OfThreeFilesAsksTheFrozenServiceOnce) {
  const std::string tag = "Gefroren " + std::to_string(::getpid());
  const fs::path a = Mail("a.htm", tag + " A"), b = Mail("b.htm", tag + " B"), c = Mail("c.htm", tag + " C");
  {
    print::test::TFrozenScheduler frozen;
    ASSERT_TRUE(frozen.Found());
    const std::string list = a.string() + "," + b.string() + "," + c.string();
    TPendingCall call(Bus, "PrintFiles", g_variant_new("(s)", list.c_str()));
    EXPECT_EQ(call.Answer(), 1);
  }
  const std::u16string log = Log();
  EXPECT_EQ(Count(log, u"Der Druckdienst antwortet nicht ("), 1u);
  EXPECT_EQ(Count(log, u"Der Druckdienst antwortet nicht; das Dokument"), 2u);
  EXPECT_NE(log.find(u"c.htm\" wurde nicht gedruckt"), std::u16string::npos);
  ExpectTheNextPrintComesOut(tag + " danach");
}

TEST_F(PrintStopped, ReturnOnThePrintDialogThenTheServiceFreezes) {
  const std::string tag = "Dialog gefroren " + std::to_string(::getpid());
  const fs::path mail = Mail("dialog.htm", tag);
  {
    print::test::TFrozenScheduler frozen(false);
    ASSERT_TRUE(frozen.Found());
    TPendingCall call(Bus, "PrintWithDlg", g_variant_new("(s)", mail.c_str()));
    ASSERT_FALSE(WaitForWindow("^Drucken$").empty());
    std::this_thread::sleep_for(2s);  // the printers are listed (and the default chosen) after the window
    Keys("Return");
    frozen.Stop();
    EXPECT_EQ(call.Answer(), 1);
    EXPECT_NE(Log().find(u"nicht innerhalb von 10 Sekunden angenommen"), std::u16string::npos);
  }
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
  ExpectTheNextPrintComesOut(tag + " danach");
}

}  // namespace
}  // namespace zb::test
