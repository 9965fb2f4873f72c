// Printing through the running service to a private CUPS queue, read back as a person would: the
// page count, the mail's words, and "Seite p von P" right-aligned in the bottom margin of each page.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "PrintFixture.h"
#include "ServiceFixture.h"
#include "service/HtmlServiceConst.h"
#include "tests/TestEnv.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using print::test::TPdf;

// The jobs of the test queue whose title starts with APrefix, in the order they were printed.
std::vector<fs::path> Jobs(const std::string& APrefix) {
  std::vector<std::pair<int, fs::path>> found;
  for (const auto& e : fs::directory_iterator(Env("ZB_TEST_PRINT_OUT"))) {
    if (e.path().extension() != ".title") continue;
    if (ReadAll(e.path()).rfind(APrefix, 0) != 0) continue;
    fs::path pdf = e.path();
    pdf.replace_extension(".pdf");
    if (fs::exists(pdf)) found.emplace_back(std::stoi(e.path().stem().string().substr(4)), pdf);
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> jobs;
  for (auto& [id, path] : found) jobs.push_back(path);
  return jobs;
}

// Waits until ACount jobs titled APrefix have come out of the queue (the scheduler hands them on later).
std::vector<fs::path> WaitForJobs(const std::string& APrefix, std::size_t ACount) {
  for (int i = 0; i < 300 && Jobs(APrefix).size() < ACount; ++i) std::this_thread::sleep_for(100ms);
  return Jobs(APrefix);
}

std::string Mail(const std::string& ATitle, const std::string& ABody) {
  return "<html><head><meta charset=\"utf-8\"><title>" + ATitle + "</title></head><body>" + ABody + "</body></html>";
}

class Printing : public TPrintTest {
 protected:
  std::int32_t SetDefaultPageOptions(const std::string& ANameSpace) {
    return Bus.Call("SetDefaultPageOptions", g_variant_new("(s)", ANameSpace.c_str())).Value.value_or(-99);
  }
};

TEST_F(Printing, AMailComesOutWithTheStoredMarginsAndTheFooterInTheBottomMargin) {
  NEEDS_CUPS();
  for (const auto& [name, inches] : {std::pair{"margin_left", "1.00000"}, std::pair{"margin_right", "0.50000"},
                                     std::pair{"margin_top", "0.75000"}, std::pair{"margin_bottom", "0.60000"}})
    ASSERT_EQ(Reg({"set", PageSetupKey, name, "REG_SZ", inches}).ExitCode, 0);
  Bus.StartService();
  const fs::path mail =
      Write("brief.htm", Mail(Tag() + " Brief", "<p>Sehr geehrte Frau Huber,</p><p>Grüße aus Wien</p>"));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  ASSERT_EQ(jobs.size(), 1u);
  const TPdf pdf(jobs[0].string());
  ASSERT_TRUE(pdf.Loaded());
  ASSERT_EQ(pdf.PageCount(), 1);
  const auto [width, height] = pdf.Size(0);
  const std::string text = pdf.Text(0);
  EXPECT_NE(text.find("Grüße aus Wien"), std::string::npos) << text;
  // The service's editor sends its own footer, "&bSeite &p von &P": right-aligned in the bottom margin.
  const auto footer = pdf.Find(0, "Seite 1 von 1");
  ASSERT_EQ(footer.size(), 1u) << text;
  EXPECT_NEAR(footer[0].Right, width - 0.5 * PointsPerInch, 2);
  EXPECT_GT(footer[0].Top, height - 0.6 * PointsPerInch);
  EXPECT_LT(footer[0].Bottom, height);
  // The content starts at the margins (plus the body's own 8 pixels).
  const auto words = pdf.Find(0, "Sehr geehrte");
  ASSERT_EQ(words.size(), 1u);
  EXPECT_NEAR(words[0].Left, 1.0 * PointsPerInch + 6, 2);
  EXPECT_GE(words[0].Top, 0.75 * PointsPerInch + 6);
  EXPECT_LT(words[0].Top, 0.75 * PointsPerInch + 30);
  EXPECT_EQ(ReadAll(fs::path(jobs[0]).replace_extension(".title")), Tag() + " Brief");
}

TEST_F(Printing, TheSuitesDefaultMarginsKeepTheFooterOnThePage) {
  NEEDS_CUPS();
  Bus.StartService();
  EXPECT_EQ(SetDefaultPageOptions("Plumadesk"), 0);  // 0.75 mm all round, as the suite has it
  const fs::path mail = Write("brief.htm", Mail(Tag(), "<p>Kurz</p>"));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  ASSERT_EQ(jobs.size(), 1u);
  const TPdf pdf(jobs[0].string());
  const auto [width, height] = pdf.Size(0);
  const auto footer = pdf.Find(0, "Seite 1 von 1");
  ASSERT_EQ(footer.size(), 1u);
  EXPECT_LE(footer[0].Bottom, height);
  EXPECT_LE(footer[0].Right, width);
  EXPECT_GT(footer[0].Left, width / 2);
}

TEST_F(Printing, TheListIsSplitAtCommasInOrderWithoutTrimming) {
  NEEDS_CUPS();
  Bus.StartService();
  const std::string tag = Tag();
  const fs::path a = Write("a.htm", Mail(tag + " A", "<p>Erster Brief</p>"));
  const fs::path b = Write("b.htm", Mail(tag + " B", "<p>Zweiter Brief</p>"));
  EXPECT_EQ(PrintFiles(a.string() + "," + b.string()), 1);
  EXPECT_EQ(PrintFiles(a.string() + ", " + b.string()), 1);  // " b.htm" does not exist
  EXPECT_EQ(PrintFiles(b.string() + ",," + a.string()), 1);  // the empty name is skipped
  EXPECT_EQ(PrintFiles(b.string() + ","), 1);
  EXPECT_EQ(PrintFiles(""), 1);
  EXPECT_EQ(PrintFiles((fs::path(Bus.Folder()) / "fehlt.htm").string()), 1);
  const auto jobs = WaitForJobs(tag, 6);
  std::vector<std::string> titles;
  for (const auto& job : jobs) titles.push_back(ReadAll(fs::path(job).replace_extension(".title")));
  EXPECT_EQ(titles, (std::vector<std::string>{tag + " A", tag + " B", tag + " A", tag + " B", tag + " A", tag + " B"}));
  // After printing, the editor holds the blank document: saving it does not write the last mail.
  const fs::path saved = fs::path(Bus.Folder()) / "after.htm";
  Bus.Call("SaveToFile", g_variant_new("(s)", saved.c_str()));
  EXPECT_EQ(ReadAll(saved).find("Brief"), std::string::npos);
}

TEST_F(Printing, ALongMailNumbersEveryPageAndLandscapeTurnsThePaper) {
  NEEDS_CUPS();
  ASSERT_EQ(Reg({"set", PageSetupKey, "zb_orientation", "REG_SZ", "landscape"}).ExitCode, 0);
  ASSERT_EQ(Reg({"set", PageSetupKey, "zb_paper", "REG_SZ", "iso_a4_210x297mm"}).ExitCode, 0);
  Bus.StartService();
  std::string body;
  for (int i = 1; i <= 1000; ++i) body += "<p>Absatz " + std::to_string(i) + " des langen Briefes.</p>";
  const fs::path mail = Write("lang.htm", Mail(Tag(), body));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  ASSERT_EQ(jobs.size(), 1u);
  const TPdf pdf(jobs[0].string());
  const int pages = pdf.PageCount();
  ASSERT_GE(pages, 50);
  const auto [width, height] = pdf.Size(0);
  EXPECT_GT(width, height);
  EXPECT_NEAR(width, 297 / 25.4 * PointsPerInch, 1);
  const std::string last = "Seite " + std::to_string(pages) + " von " + std::to_string(pages);
  EXPECT_EQ(pdf.Find(pages - 1, last).size(), 1u) << pdf.Text(pages - 1);
  EXPECT_EQ(pdf.Find(1, "Seite 2 von " + std::to_string(pages)).size(), 1u);
  EXPECT_NE(pdf.Text(pages - 1).find("Absatz 1000"), std::string::npos);
}

TEST_F(Printing, AnEmptyDocumentStillPrintsOnePage) {
  NEEDS_CUPS();
  Bus.StartService();
  const fs::path mail = Write("leer.htm", Mail(Tag(), ""));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  ASSERT_EQ(jobs.size(), 1u);
  const TPdf pdf(jobs[0].string());
  EXPECT_EQ(pdf.PageCount(), 1);
  EXPECT_EQ(pdf.Find(0, "Seite 1 von 1").size(), 1u);
}

TEST_F(Printing, NoPrinterIsLoggedAndTheAnswerStaysOne) {
  NEEDS_CUPS();
  Bus.StartService({{"CUPS_SERVER", Env("ZB_TEST_CUPS_EMPTY")}});
  const fs::path mail = Write("brief.htm", Mail(Tag(), "<p>Text</p>"));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const fs::path logs = fs::path(Bus.Folder()) / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0";
  ASSERT_TRUE(fs::is_directory(logs));
  std::string log;
  for (const auto& e : fs::directory_iterator(logs)) log += ReadAll(e.path());
  std::u16string text;
  for (std::size_t i = 0; i + 1 < log.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(log[i]) | static_cast<unsigned char>(log[i + 1]) << 8);
  EXPECT_NE(text.find(u"Standarddrucker"), std::u16string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(Printing, PrintingAMailWithRemoteReferencesMakesNoConnection) {
  NEEDS_CUPS();
  const TLocalListener listener;
  const std::string& base = listener.Base();
  Bus.StartService();
  const fs::path mail =
      Write("fern.htm",
            Mail(Tag(), "<link rel=stylesheet href=\"" + base + "/s.css\"><style>@font-face{font-family:F;src:url(" +
                            base + "/f.woff)} p{font-family:F}</style><p>Fernbezug</p><img src=\"" + base +
                            "/i.png\"><script>new Image().src='" + base + "/js'</script>"));
  EXPECT_EQ(PrintFiles(mail.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_NE(TPdf(jobs[0].string()).Text(0).find("Fernbezug"), std::string::npos);
  EXPECT_FALSE(listener.Contacted()) << "printing reached the network";
}

TEST_F(Printing, AWebProcessKilledWhilePrintingLeavesNoJobIsLoggedAndTheNextFilePrints) {
  NEEDS_CUPS();
  Bus.StartService({{"HTMLSERVICE_TEST_KILL_ENGINE_AT_PRINT", "1"}});
  const fs::path first = Write("a.htm", Mail(Tag() + " A", "<p>Erster</p>"));
  const fs::path second = Write("b.htm", Mail(Tag() + " B", "<p>Zweiter</p>"));
  EXPECT_EQ(PrintFiles(first.string() + "," + second.string()), 1);
  const auto jobs = WaitForJobs(Tag(), 1);
  std::this_thread::sleep_for(1s);  // a half job of the first file would have landed by now
  ASSERT_EQ(Jobs(Tag()).size(), 1u);
  EXPECT_EQ(ReadAll(fs::path(jobs[0]).replace_extension(".title")), Tag() + " B");
  const fs::path logs = fs::path(Bus.Folder()) / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0";
  ASSERT_TRUE(fs::is_directory(logs));
  std::string log;
  for (const auto& e : fs::directory_iterator(logs)) log += ReadAll(e.path());
  const std::string marker = "nicht gedruckt";
  std::string wide;
  for (char c : marker) wide += std::string{c, '\0'};
  EXPECT_NE(log.find(wide), std::string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(Printing, DefaultPageOptionsRespectTheStoresNameSpace) {
  Bus.StartService();
  ASSERT_EQ(Reg({"set", PageSetupKey, "", "REG_SZ", "x"}).ExitCode, 0);
  EXPECT_EQ(SetDefaultPageOptions("X"), 0);
  EXPECT_NE(Reg({"query", PageSetupKey, "footer"}).ExitCode, 0);
  EXPECT_EQ(SetDefaultPageOptions("Plumadesk"), 0);
  const TRun footer = Reg({"query", PageSetupKey, "footer"});
  EXPECT_NE(footer.Out.find("&w&bSeite &p von &P"), std::string::npos) << footer.Out;
  EXPECT_NE(Reg({"query", PageSetupKey, "margin_left"}).Out.find("0.02953"), std::string::npos);
}

}  // namespace
}  // namespace zb::test
