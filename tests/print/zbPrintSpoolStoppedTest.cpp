// A print service that freezes (its scheduler stopped with SIGSTOP) before the printers are listed and
// between listing and sending: the talk ends within its bound while the main loop goes on, a batch
// asks the silent service only once, and once the scheduler runs again the next job goes through.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/glib/zbGOwner.h"
#include "platform/print/zbPrintError.h"
#include "platform/print/zbPrintSpool.h"
#include "platform/print/zbPrinterArea.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"
#include "tests/print/CupsTestUtil.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::print {
namespace {

using test::ErrorOf;
using ::zb::test::Env;

// Counts the main loop's turns while a talk is under way.
class TTicker {
 public:
  TTicker() : FSource(g_timeout_add(50, &Tick, this)) {}
  int Ticks() const { return FTicks; }

 private:
  static gboolean Tick(gpointer ASelf) noexcept {
    ++static_cast<TTicker*>(ASelf)->FTicks;
    return G_SOURCE_CONTINUE;
  }
  int FTicks = 0;
  TzbSource FSource;
};

class PrintSpoolStopped : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("CUPS_SERVER").empty() || test::MainSchedulerPid() == 0)
      GTEST_SKIP() << "needs the private CUPS: scripts/with-cups ctest -R Spool";
    std::vector<test::TPageSpec> pages(1, test::TPageSpec{.Word = "Seite"});
    test::WritePdf(FDir / "doc.pdf", pages);
    FPdf = Utf8ToUtf16(FDir / "doc.pdf");
    FOptions.TimeoutSeconds = 2;
  }
  std::u16string Silent() const {
    return u"Der Druckdienst antwortet nicht (" + Utf8ToUtf16(Env("CUPS_SERVER")) + u")";
  }
  // The service serves again: a job goes through.
  void ExpectTheNextJobGoesThrough() {
    TzbPrintJobOptions options;
    EXPECT_GT(SendPdfToPrinter(FPdf, u"Danach", options), 0);
  }

  test::TTempDir FDir;
  std::u16string FPdf;
  TzbPrintJobOptions FOptions;
};

TEST_F(PrintSpoolStopped, WhileListingThePrinters) {
  {
    test::TFrozenScheduler frozen;
    ASSERT_TRUE(frozen.Found());
    const TTicker ticker;
    EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(FPdf, u"Gefroren", FOptions); }), Silent());
    EXPECT_GT(ticker.Ticks(), 5) << "the main loop stood still during the talk";
  }
  ExpectTheNextJobGoesThrough();
}

TEST_F(PrintSpoolStopped, BetweenListingAndSending) {
  {
    test::TFrozenScheduler frozen(false);
    ASSERT_TRUE(frozen.Found());
    FOptions.BeforeSending = [&] { frozen.Stop(); };
    const TTicker ticker;
    EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(FPdf, u"Gefroren", FOptions); }), Silent());
    EXPECT_GT(ticker.Ticks(), 5) << "the main loop stood still during the talk";
  }
  ExpectTheNextJobGoesThrough();
}

TEST_F(PrintSpoolStopped, ABatchAsksASilentServiceOnce) {
  {
    const TzbPrintBatch batch;
    test::TFrozenScheduler frozen;
    ASSERT_TRUE(frozen.Found());
    EXPECT_EQ(ErrorOf([&] { SendPdfToPrinter(FPdf, u"Erste", FOptions); }), Silent());
    EXPECT_TRUE(TzbPrintBatch::ServiceStalled());
    EXPECT_EQ(
        ErrorOf([&] { SendPdfToPrinter(FPdf, u"Zweite", FOptions); }),
        u"Der Druckdienst hat in diesem Auftrag schon nicht geantwortet; '" + FPdf + u"' wurde nicht an ihn gesendet");
  }
  EXPECT_FALSE(TzbPrintBatch::ServiceStalled());
  ExpectTheNextJobGoesThrough();
}

// The printable area is asked for before each file of a batch is rendered: the answer is kept for the
// batch, and a silent service costs one bound while the main loop goes on, then stalls the batch.
TEST_F(PrintSpoolStopped, AskingForThePrintableArea) {
  const std::string laserName = Env("ZB_TEST_PRINT_LASER");
  if (laserName.empty()) GTEST_SKIP() << "needs the laser queue of scripts/with-cups";
  const std::u16string laser = Utf8ToUtf16(laserName);
  {
    const TzbPrintBatch batch;
    const auto a4 = QueryUnprintableBands(laser, u"iso_a4_210x297mm", 2);
    ASSERT_TRUE(a4.has_value());
    test::TFrozenScheduler frozen;
    ASSERT_TRUE(frozen.Found());
    EXPECT_EQ(QueryUnprintableBands(laser, u"iso_a4_210x297mm", 2), a4) << "asked again within the batch";
    const TTicker ticker;
    EXPECT_EQ(ErrorOf([&] { QueryUnprintableBands(laser, u"na_letter_8.5x11in", 2); }), Silent());
    EXPECT_GT(ticker.Ticks(), 5) << "the main loop stood still during the question";
    EXPECT_TRUE(TzbPrintBatch::ServiceStalled());
    EXPECT_FALSE(QueryUnprintableBands(laser, u"na_letter_8.5x11in", 2).has_value());
  }
  // Outside a batch nothing is kept: the running service is asked again.
  EXPECT_TRUE(QueryUnprintableBands(laser, u"na_letter_8.5x11in", 2).has_value());
  ExpectTheNextJobGoesThrough();
}

}  // namespace
}  // namespace zb::print
