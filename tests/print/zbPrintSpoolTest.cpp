#include "platform/print/zbPrintSpool.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include <cups/cups.h>

#include "platform/print/zbPrintError.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"
#include "tests/print/CupsTestUtil.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::print {
namespace {

using namespace std::chrono_literals;

using test::ErrorOf;
using ::zb::test::Env;

#define REQUIRE_PRIVATE_CUPS()                                                  \
  if (!::zb::test::PrivateCupsRuns()) {                                         \
    GTEST_SKIP() << "needs the private CUPS: scripts/with-cups ctest -R Spool"; \
  }

// A listening socket that never accepts: connecting works, no answer ever comes.
class TSilentServer {
 public:
  explicit TSilentServer(const std::string& APath) : FFd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    APath.copy(addr.sun_path, sizeof addr.sun_path - 1);
    FOk = FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(FFd, 8) == 0;
  }
  ~TSilentServer() {
    if (FFd >= 0) ::close(FFd);
  }
  bool Ok() const { return FOk; }

 private:
  int FFd;
  bool FOk = false;
};

class PrintSpoolTest : public ::testing::Test {
 protected:
  std::u16string MakePdf(int APages) {
    std::vector<test::TPageSpec> pages(APages, test::TPageSpec{.Word = "Seite"});
    test::WritePdf(FDir / "doc.pdf", pages);
    return Utf8ToUtf16(FDir / "doc.pdf");
  }
  // The queue's backend keeps job-<id>.pdf once the scheduler has handed it over.
  static std::string WaitForJob(int AJob) {
    std::string path = Env("ZB_TEST_PRINT_OUT") + "/job-" + std::to_string(AJob);
    for (int i = 0; i < 300 && !std::filesystem::exists(path + ".pdf"); ++i) std::this_thread::sleep_for(100ms);
    return path;
  }

  test::TTempDir FDir;
};

TEST_F(PrintSpoolTest, JobReachesTheDefaultQueueWithAllPagesAndItsTitle) {
  REQUIRE_PRIVATE_CUPS();
  int job = SendPdfToPrinter(MakePdf(3), u"Rechnung März");
  ASSERT_GT(job, 0);
  std::string path = WaitForJob(job);
  EXPECT_EQ(test::PdfInfoPages(path + ".pdf"), 3);
  EXPECT_EQ(test::FileText(path + ".title"), "Rechnung März");
}

TEST_F(PrintSpoolTest, NamedQueueOptionsAndUntitledJob) {
  REQUIRE_PRIVATE_CUPS();
  TzbPrintJobOptions o;
  o.Destination = u"zbtest";
  o.Options = {{u"copies", u"2"}, {u"job-priority", u"60"}};
  int job = SendPdfToPrinter(MakePdf(1), u" \t", o);
  ASSERT_GT(job, 0);
  std::string path = WaitForJob(job);
  EXPECT_EQ(test::PdfInfoPages(path + ".pdf"), 1);
  EXPECT_EQ(test::FileText(path + ".title"), Utf16ToUtf8(UntitledJobName));
}

TEST_F(PrintSpoolTest, RefusalsNameTheirCause) {
  REQUIRE_PRIVATE_CUPS();
  std::u16string pdf = MakePdf(1);
  TzbPrintJobOptions refusing;
  refusing.Destination = Utf8ToUtf16(Env("ZB_TEST_PRINT_REFUSING"));
  std::u16string e = ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", refusing); });
  EXPECT_EQ(e, u"Druckauftrag für 'Brief' wurde abgelehnt: Der Drucker nimmt zurzeit keine Aufträge an");

  TzbPrintJobOptions unknown;
  unknown.Destination = u"gibtsnicht";
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", unknown); }),
            u"Der Drucker 'gibtsnicht' ist nicht eingerichtet");

  TzbPrintJobOptions empty;  // a running scheduler without any queue
  empty.Server = Utf8ToUtf16(Env("ZB_TEST_CUPS_EMPTY"));
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", empty); }), u"Kein Standarddrucker eingerichtet");

  // The user's choice of a default names the printer that is missing, LPDEST before PRINTER.
  ::setenv("PRINTER", "druckerausprinter", 1);
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief"); }),
            u"Der Drucker 'druckerausprinter' ist nicht eingerichtet");
  ::setenv("LPDEST", "druckerauslpdest", 1);
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief"); }),
            u"Der Drucker 'druckerauslpdest' ist nicht eingerichtet");
  ::unsetenv("LPDEST");
  ::unsetenv("PRINTER");
}

TEST(IppStatusTextTest, EveryStatusIsAGermanSentence) {
  EXPECT_EQ(IppStatusText(IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS), u"Der Drucker nimmt zurzeit keine Aufträge an");
  EXPECT_EQ(IppStatusText(IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED),
            u"Der Drucker kann das Dokument nicht verarbeiten");
  EXPECT_EQ(IppStatusText(IPP_STATUS_ERROR_NOT_AUTHENTICATED), u"Der Druckdienst verlangt eine Anmeldung");
  EXPECT_EQ(IppStatusText(0x0BAD), u"Der Druckdienst meldet den Fehler 0x0BAD");
}

TEST_F(PrintSpoolTest, NoServiceOrASilentOneFailsInsteadOfHanging) {
  std::u16string pdf = MakePdf(1);
  TzbPrintJobOptions gone;
  gone.Server = Utf8ToUtf16(FDir / "no-cupsd.sock");
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", gone); }),
            u"Der Druckdienst ist nicht erreichbar (" + gone.Server + u"): Er läuft nicht (die Verbindung '" +
                gone.Server + u"' gibt es nicht)");

  {
    TSilentServer stopped(FDir / "stopped.sock");  // closed again: the socket file of a scheduler that ended
  }
  gone.Server = Utf8ToUtf16(FDir / "stopped.sock");
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", gone); }),
            u"Der Druckdienst ist nicht erreichbar (" + gone.Server + u"): Er nimmt keine Verbindungen an");

  TSilentServer silent(FDir / "silent.sock");
  ASSERT_TRUE(silent.Ok());
  TzbPrintJobOptions stuck;
  stuck.Server = Utf8ToUtf16(FDir / "silent.sock");
  stuck.TimeoutSeconds = 1;
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(pdf, u"Brief", stuck); }),
            u"Der Druckdienst antwortet nicht (" + stuck.Server + u")");
}

TEST_F(PrintSpoolTest, TheFileIsCheckedBeforeTheServiceIsAsked) {
  TzbPrintJobOptions gone;
  gone.Server = Utf8ToUtf16(FDir / "no-cupsd.sock");
  std::u16string missing = Utf8ToUtf16(FDir / "missing.pdf");
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(missing, u"x", gone); }),
            u"Die Druckdatei '" + missing + u"' kann nicht gelesen werden");
  std::ofstream(FDir / "text.pdf") << "Hallo";
  std::u16string text = Utf8ToUtf16(FDir / "text.pdf");
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(text, u"x", gone); }),
            u"Die Druckdatei '" + text + u"' ist keine PDF-Datei");
  std::ofstream(FDir / "empty.pdf");
  std::u16string empty = Utf8ToUtf16(FDir / "empty.pdf");
  EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(empty, u"x", gone); }),
            u"Die Druckdatei '" + empty + u"' ist keine PDF-Datei");
}

TEST(PrintJobNameTest, OneLineWithinTheProtocolsLimit) {
  EXPECT_EQ(PrintJobName(u"Angebot"), u"Angebot");
  EXPECT_EQ(PrintJobName(u""), UntitledJobName);
  EXPECT_EQ(PrintJobName(u" \r\n"), UntitledJobName);
  EXPECT_EQ(PrintJobName(u"Zeile 1\r\nZeile 2"), u"Zeile 1  Zeile 2");
  // 200 "ü" are 400 bytes of UTF-8: cut to 127 whole characters, never inside one.
  EXPECT_EQ(PrintJobName(std::u16string(200, u'ü')), std::u16string(127, u'ü'));
  EXPECT_EQ(PrintJobName(std::u16string(300, u'a')), std::u16string(255, u'a'));
}

}  // namespace
}  // namespace zb::print
