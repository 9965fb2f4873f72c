#include "platform/print/zbPageSetup.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "htmledit/zbHtmlPrintOptions.h"
#include "platform/print/zbPrintError.h"
#include "support/zbRegistry.h"
#include "tests/registry/RegTestEnv.h"

// glibc's newlocale keeps the split LOCPATH list it builds for our own U.S. locale; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace zb::print {
namespace {

class PageSetupTest : public test::TRegistryEnv {
 protected:
  void SetUp() override {
    TRegistryEnv::SetUp();
    ::unsetenv("LC_ALL");
    ::setenv("LC_PAPER", "C", 1);
  }
  void TearDown() override {
    ::unsetenv("LOCPATH");
    ::unsetenv("LC_PAPER");
    TRegistryEnv::TearDown();
  }
  static void Store(std::u16string_view AName, std::u16string_view AText) {
    WriteRegistryString(HKEY_CURRENT_USER, PageSetupKey, AName, AText);
  }
  static std::u16string Stored(std::u16string_view AName) {
    return ReadRegistryString(HKEY_CURRENT_USER, PageSetupKey, AName, u"<none>");
  }
};

TEST_F(PageSetupTest, MissingKeyGivesDefaults) {
  TzbPageSetup s = ReadPageSetup();
  EXPECT_EQ(s.Header, u"");
  EXPECT_EQ(s.Footer, u"");
  EXPECT_EQ(s.Margins, (TzbMargins{0.75, 0.75, 0.75, 0.75}));
  EXPECT_EQ(s.Orientation, poPortrait);
  EXPECT_EQ(s.Paper, u"iso_a4_210x297mm");  // the C locale's paper
}

TEST_F(PageSetupTest, ValuesAsTheEditorWritesThem) {
  THtmlPrintOptions o;
  o.SetHeader(u"&w&b&u");
  o.SetFooter(u"&bSeite &p von &P");
  o.Margins().SetLeft(10.999978);
  o.Margins().SetTop(2.963418);
  o.Margins().SetRight(19.05);
  o.Margins().SetBottom(2.963418);
  o.SaveToRegistry(false);
  TzbPageSetup s = ReadPageSetup();
  EXPECT_EQ(s.Header, u"&w&b&u");
  EXPECT_EQ(s.Footer, u"&bSeite &p von &P");
  EXPECT_EQ(s.Margins, (TzbMargins{0.43307, 0.11667, 0.75, 0.11667}));
}

TEST_F(PageSetupTest, MarginTexts) {
  EXPECT_EQ(ParseMarginText(u"0.75000"), 0.75);
  EXPECT_EQ(ParseMarginText(u" 0. 5"), 0.5);
  EXPECT_EQ(ParseMarginText(u"\t1\u00A0"), 1.0);
  EXPECT_EQ(ParseMarginText(u"-0.25"), -0.25);
  EXPECT_EQ(ParseMarginText(u"+.5"), 0.5);
  for (std::u16string_view bad : {u"", u"  ", u"abc", u"0,5", u"1e2", u"0.5in", u"nan", u"inf", u"1..2", u"٣"})
    EXPECT_FALSE(ParseMarginText(bad).has_value()) << std::string(bad.begin(), bad.end());

  Store(PageSetupMarginLeft, u"abc");
  Store(PageSetupMarginTop, u" 0. 5");
  Store(PageSetupMarginRight, u"0,5");
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(PageSetupKey, false));
  reg.WriteInteger(PageSetupMarginBottom, 1);  // not a text: as if missing
  reg.CloseKey();
  EXPECT_EQ(ReadPageSetup().Margins, (TzbMargins{0.75, 0.5, 0.75, 0.75}));
}

TEST_F(PageSetupTest, NegativeAndAbsurdMarginsAreClamped) {
  Store(PageSetupMarginLeft, u"-1");
  Store(PageSetupMarginRight, u"2");
  Store(PageSetupMarginTop, u"100");
  Store(PageSetupMarginBottom, u"300");
  TzbMargins m = ReadPageSetup().Margins;  // A4: 8.27 x 11.69 inches
  EXPECT_EQ(m.Left, 0);
  EXPECT_EQ(m.Right, 2);
  EXPECT_NEAR(m.Top + m.Bottom, 297 / 25.4 / 2, 1e-9);
  EXPECT_NEAR(m.Bottom / m.Top, 3, 1e-9);

  TzbMargins wide = ClampMargins({5, NAN, 5, -INFINITY}, 8, 10);
  EXPECT_EQ(wide, (TzbMargins{2, 0, 2, 0}));
  EXPECT_EQ(ClampMargins({1, 1, 1, 1}, 0, -3), (TzbMargins{0, 0, 0, 0}));
}

TEST_F(PageSetupTest, OrientationAndPaper) {
  Store(PageSetupOrientation, u"Landscape");
  Store(PageSetupPaper, u"iso_a5_148x210mm");
  Store(PageSetupMarginTop, u"2");
  Store(PageSetupMarginBottom, u"2");
  TzbPageSetup s = ReadPageSetup();
  EXPECT_EQ(s.Orientation, poLandscape);
  EXPECT_EQ(s.Paper, u"iso_a5_148x210mm");
  // Landscape A5 is 148 mm high: 4 inches of margin shrink to half of it.
  EXPECT_NEAR(s.Margins.Top, 148 / 25.4 / 4, 1e-9);

  Store(PageSetupOrientation, u"quer");
  Store(PageSetupPaper, u"A4");
  s = ReadPageSetup();
  EXPECT_EQ(s.Orientation, poPortrait);
  EXPECT_EQ(s.Paper, u"iso_a4_210x297mm");
}

TEST_F(PageSetupTest, PaperNames) {
  auto letter = PaperSizeFromName(u"na_letter_8.5x11in");
  ASSERT_TRUE(letter);
  EXPECT_EQ(letter->Width, 8.5);
  EXPECT_EQ(letter->Height, 11);
  auto a4 = PaperSizeFromName(u"iso_a4_210x297mm");
  ASSERT_TRUE(a4);
  EXPECT_NEAR(a4->Width, 8.2677, 1e-4);
  for (std::u16string_view bad : {u"", u"a4", u"iso_a4_210x297", u"x_0x5mm", u"x_5x-5mm", u"x_axbmm", u"x_5x5cm"})
    EXPECT_FALSE(PaperSizeFromName(bad)) << std::string(bad.begin(), bad.end());
}

TEST_F(PageSetupTest, DefaultPaperFollowsTheLocale) {
  EXPECT_EQ(DefaultPaperName(), u"iso_a4_210x297mm");
  // A U.S. locale of our own: the machine may have none installed.
  std::string locales = Dir() + "/locales";
  std::filesystem::create_directories(locales);
  std::string cmd = "localedef -i en_US -f UTF-8 " + locales + "/en_US.UTF-8 >/dev/null 2>&1";
  if (std::system(cmd.c_str()) < 0 || !std::filesystem::exists(locales + "/en_US.UTF-8")) GTEST_SKIP() << cmd;
  ::setenv("LOCPATH", locales.c_str(), 1);
  ::setenv("LC_PAPER", "en_US.UTF-8", 1);
  EXPECT_EQ(DefaultPaperName(), u"na_letter_8.5x11in");
}

TEST_F(PageSetupTest, WriterStoresOurTwoValuesOnly) {
  WritePageLayout(poLandscape, u"na_letter_8.5x11in");
  EXPECT_EQ(Stored(PageSetupOrientation), u"landscape");
  EXPECT_EQ(Stored(PageSetupPaper), u"na_letter_8.5x11in");
  EXPECT_EQ(Stored(PageSetupHeader), u"<none>");
  TzbPageSetup s = ReadPageSetup();
  EXPECT_EQ(s.Orientation, poLandscape);
  EXPECT_EQ(s.Paper, u"na_letter_8.5x11in");

  WritePageLayout(poPortrait, u"iso_a5_148x210mm");
  EXPECT_EQ(Stored(PageSetupOrientation), u"portrait");
  EXPECT_THROW(WritePageLayout(poPortrait, u"A4"), EzbPrintError);
  EXPECT_EQ(Stored(PageSetupPaper), u"iso_a5_148x210mm");
}

}  // namespace
}  // namespace zb::print
