#include "platform/print/zbPageCodes.h"

#include <gtest/gtest.h>

namespace zb::print {
namespace {

class PageCodesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FContext.Title = u"Angebot";
    FContext.Address = u"https://example.com/a?b=1&c=2";
    FContext.When = EncodeDateTime(2024, 3, 5, 14, 7, 9, 0);  // a Tuesday afternoon
    FContext.Page = 2;
    FContext.PageCount = 3;
  }
  TzbLineParts Expand(std::u16string_view ATemplate) const {
    return ExpandPageCodes(ATemplate, FContext, GermanLocale());
  }
  std::u16string Left(std::u16string_view ATemplate) const { return Expand(ATemplate).Left; }

  TzbPageCodeContext FContext;
};

TEST_F(PageCodesTest, EveryCodeWithTheGermanLocale) {
  EXPECT_EQ(Left(u"&w|&u|&p|&P"), u"Angebot|https://example.com/a?b=1&c=2|2|3");
  EXPECT_EQ(Left(u"&d"), u"05.03.2024");
  EXPECT_EQ(Left(u"&D"), u"Dienstag, 5. März 2024");
  EXPECT_EQ(Left(u"&t / &T"), u"14:07:09 / 14:07:09");
}

TEST_F(PageCodesTest, TimeFollowsTheLocaleWhileCapitalTStaysTwentyFourHour) {
  TzbLocale us = GermanLocale();
  us.LongTimeFormat = u"h:nn:ss ampm";
  us.TimePMString = u"PM";
  us.ShortDateFormat = u"m/d/yyyy";
  us.DateSeparator = u'/';
  TzbLineParts p = ExpandPageCodes(u"&d &t|&T", FContext, us);
  EXPECT_EQ(p.Left, u"3/5/2024 2:07:09 PM|14:07:09");
}

TEST_F(PageCodesTest, CurrentLocaleIsTheDefault) {
  SetCurrentLocale(GermanLocale());
  EXPECT_EQ(ExpandPageCodes(u"&d", FContext).Left, u"05.03.2024");
}

TEST_F(PageCodesTest, LiteralsUnknownCodesAndATrailingAmpersand) {
  EXPECT_EQ(Left(u"A && B"), u"A & B");
  EXPECT_EQ(Left(u"&&p &&b"), u"&p &b");  // an escaped "&" never starts a code
  EXPECT_EQ(Left(u"&x &B &1 &"), u"&x &B &1 &");
  EXPECT_EQ(Left(u"&&&"), u"&&");
  EXPECT_EQ(Left(u"&"), u"&");
  EXPECT_EQ(Expand(u""), TzbLineParts{});
  EXPECT_TRUE(Expand(u"").Empty());
}

TEST_F(PageCodesTest, AlignmentBreaks) {
  EXPECT_EQ(Expand(u"links"), (TzbLineParts{u"links", u"", u""}));
  EXPECT_EQ(Expand(u"links&brechts"), (TzbLineParts{u"links", u"", u"rechts"}));
  EXPECT_EQ(Expand(u"links&bmitte&brechts"), (TzbLineParts{u"links", u"mitte", u"rechts"}));
  EXPECT_EQ(Expand(u"links&bmitte&b+mehr&brechts"), (TzbLineParts{u"links", u"mitte+mehr", u"rechts"}));
  EXPECT_EQ(Expand(u"&b&b"), TzbLineParts{});
  // The service's footer.
  EXPECT_EQ(Expand(u"&bSeite &p von &P"), (TzbLineParts{u"", u"", u"Seite 2 von 3"}));
}

TEST_F(PageCodesTest, ExpandedValuesAreNeverReadAsCodes) {
  FContext.Title = u"A&bB &p &";
  EXPECT_EQ(Expand(u"&w&b&w"), (TzbLineParts{u"A&bB &p &", u"", u"A&bB &p &"}));
}

TEST_F(PageCodesTest, VeryLongTitlePassesWhole) {
  FContext.Title = std::u16string(100000, u'ä');
  EXPECT_EQ(Expand(u"[&w]").Left, u"[" + FContext.Title + u"]");
}

}  // namespace
}  // namespace zb::print
