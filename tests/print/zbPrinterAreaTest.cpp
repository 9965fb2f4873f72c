#include "platform/print/zbPrinterArea.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/TestEnv.h"

namespace zb::print {
namespace {

constexpr double Pt = 72;
constexpr TzbMargins NoBands{0, 0, 0, 0};
// cups-filters' HP Color LaserJet PPD: 18 pt at the sides, 36 pt at top and bottom.
constexpr TzbMargins LaserBands{18 / Pt, 36 / Pt, 18 / Pt, 36 / Pt};
// The suite's metric default: 0.75 mm all round.
constexpr TzbMargins SuiteMargins{0.02953, 0.02953, 0.02953, 0.02953};

using ::zb::test::Env;

TEST(PrinterAreaTest, JobMarginsGrowIntoThePrintableAreaWithRoomForTheLines) {
  constexpr double Line = 11;  // points
  const TzbMargins m = JobMargins(SuiteMargins, LaserBands, true, true, Line);
  EXPECT_DOUBLE_EQ(m.Left, 18 / Pt);
  EXPECT_DOUBLE_EQ(m.Right, 18 / Pt);
  // The header line fits between the band and the content, with a gap.
  EXPECT_GE(m.Top * Pt, 36 + Line);
  EXPECT_LE(m.Top * Pt, 36 + Line + 6);
  EXPECT_GE(m.Bottom * Pt, 36 + Line);
  // Without a header the top margin only leaves the band.
  EXPECT_DOUBLE_EQ(JobMargins(SuiteMargins, LaserBands, false, true, Line).Top, 36 / Pt);
  // Margins already wide enough stay; a PDF printer changes nothing.
  const TzbMargins wide{1, 1, 1, 1};
  EXPECT_EQ(JobMargins(wide, LaserBands, true, true, Line), wide);
  EXPECT_EQ(JobMargins(SuiteMargins, NoBands, true, true, Line), SuiteMargins);
}

TEST(PrinterAreaTest, LandscapeTakesTheWiderBandOfEachPair) {
  const TzbMargins turned = BandsForOrientation({0.1, 0.5, 0.2, 0.3}, poLandscape);
  EXPECT_EQ(turned, (TzbMargins{0.5, 0.2, 0.5, 0.2}));
  EXPECT_EQ(BandsForOrientation({0.1, 0.5, 0.2, 0.3}, poPortrait), (TzbMargins{0.1, 0.5, 0.2, 0.3}));
}

// Against the private schedulers of scripts/with-cups.
TEST(PrinterAreaTest, CupsAnswersTheLaserPrintersBandsAndNoneForOthers) {
  if (Env("CUPS_SERVER").empty() || Env("ZB_TEST_PRINT_LASER").empty())
    GTEST_SKIP() << "needs the private print service of scripts/with-cups";
  const std::string laserName = Env("ZB_TEST_PRINT_LASER");
  const std::u16string laser(laserName.begin(), laserName.end());
  for (const char16_t* paper : {u"iso_a4_210x297mm", u"na_letter_8.5x11in"}) {
    const auto bands = QueryUnprintableBands(laser, paper);
    ASSERT_TRUE(bands.has_value());
    EXPECT_NEAR(bands->Left * Pt, 18, 0.1);
    EXPECT_NEAR(bands->Right * Pt, 18, 0.1);
    EXPECT_NEAR(bands->Top * Pt, 36, 0.1);
    EXPECT_NEAR(bands->Bottom * Pt, 36, 0.1);
  }
  // The raw PDF queue and a missing printer have none.
  const auto raw = QueryUnprintableBands(u"zbtest", u"iso_a4_210x297mm");
  EXPECT_TRUE(!raw || *raw == NoBands);
  EXPECT_FALSE(QueryUnprintableBands(u"gibtsnicht", u"iso_a4_210x297mm").has_value());
}

}  // namespace
}  // namespace zb::print
