#include "support/zbDateUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/zbStr.h"

using namespace zb;

namespace {
class GermanDates : public ::testing::Test {
 protected:
  void SetUp() override { SetCurrentLocale(GermanLocale()); }
  const TDateTime At = EncodeDateTime(2019, 3, 29, 12, 3, 9, 0);
};
}  // namespace

TEST(Encode, KnownDaysAndFractions) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(2019, 3, 29, 12, 3, 9, 0), 43553.5021875);
  EXPECT_EQ(EncodeDateValue(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDateValue(1899, 12, 31), 1);
  EXPECT_EQ(EncodeDateValue(1900, 3, 1), 61);
  EXPECT_EQ(EncodeDateValue(1, 1, 1), -693593);
  EXPECT_EQ(EncodeDateValue(9999, 12, 31), 2958465);
  EXPECT_DOUBLE_EQ(EncodeTimeValue(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTimeValue(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(Encode, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2019));
  EXPECT_EQ(DaysInMonth(2, 2000), 29);
  EXPECT_EQ(DaysInMonth(2, 1900), 28);
  EXPECT_EQ(DaysInMonth(4, 2019), 30);
  EXPECT_EQ(DaysInMonth(12, 2019), 31);
  EXPECT_EQ(DaysInMonth(0, 2019), 0);
  EXPECT_EQ(DaysInMonth(13, 2019), 0);
  TDateTime v = -1;
  EXPECT_TRUE(TryEncodeDateValue(2000, 2, 29, v));
  EXPECT_FALSE(TryEncodeDateValue(1900, 2, 29, v));
  EXPECT_FALSE(TryEncodeDateValue(0, 1, 1, v));
  EXPECT_FALSE(TryEncodeDateValue(10000, 1, 1, v));
  EXPECT_FALSE(TryEncodeDateValue(2019, 13, 1, v));
  EXPECT_FALSE(TryEncodeDateValue(2019, 1, 0, v));
}

TEST(Encode, InvalidDateRaisesGermanMessage) {
  try {
    EncodeDateValue(2019, 2, 29);
    FAIL() << "no error";
  } catch (const EzbDateTimeError& e) {
    EXPECT_EQ(e.Message(), u"Ungültiges Datum.\r\nJahr: 2019\r\nMonat: 02\r\nTag: 29");
  }
  try {
    EncodeDateTime(7, 0, 40, 25, 0, 0, 0);  // the date is reported even though the time is bad too
    FAIL() << "no error";
  } catch (const EzbDateTimeError& e) {
    EXPECT_EQ(e.Message(), u"Ungültiges Datum.\r\nJahr: 0007\r\nMonat: 00\r\nTag: 40");
  }
  try {
    EncodeTimeValue(24, 0, 0, 0);
    FAIL() << "no error";
  } catch (const EzbConvertError& e) {
    EXPECT_EQ(e.Message(), u"Ungültiges Argument zum Codieren der Uhrzeit");
  }
  EXPECT_THROW(EncodeTimeValue(0, 60, 0, 0), EzbConvertError);
  EXPECT_THROW(EncodeTimeValue(0, 0, 0, 1000), EzbConvertError);
}

TEST(Decode, PartsAndDayOfWeek) {
  const auto p = DecodeDateTime(EncodeDateTime(2019, 3, 29, 12, 3, 9, 456));
  EXPECT_EQ(p.Year, 2019);
  EXPECT_EQ(p.Month, 3);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 12);
  EXPECT_EQ(p.Minute, 3);
  EXPECT_EQ(p.Second, 9);
  EXPECT_EQ(p.Millisecond, 456);
  EXPECT_EQ(p.DayOfWeek, 6);  // a Friday
  EXPECT_EQ(DecodeDateTime(0).DayOfWeek, 7);
  for (int y : {1, 1600, 1899, 1900, 2000, 2100, 9999})
    for (int m = 1; m <= 12; ++m) {
      const auto q = DecodeDateTime(EncodeDateValue(y, m, DaysInMonth(m, y)));
      ASSERT_EQ(q.Year, y);
      ASSERT_EQ(q.Month, m);
      ASSERT_EQ(q.Day, DaysInMonth(m, y));
    }
}

TEST(IsoTexts, FixedFormats) {
  EXPECT_EQ(FormatIsoDateTime(EncodeDateTime(2019, 3, 29, 12, 3, 9, 0)), u"2019-03-29 12:03:09");
  EXPECT_EQ(FormatIsoDateTime(EncodeDateTime(2019, 12, 31, 23, 59, 59, 999)), u"2019-12-31 23:59:59");
  EXPECT_EQ(FormatIsoDate(EncodeDateValue(5, 1, 2)), u"0005-01-02");
  EXPECT_EQ(DateFolderName(EncodeDateValue(2019, 3, 29)), u"2019-03-29/");
  EXPECT_EQ(NowIsoText().size(), 19u);
  EXPECT_EQ(CurrentDate(), static_cast<double>(static_cast<long long>(Now())));
}

TEST_F(GermanDates, LogFileNamePatterns) {
  EXPECT_EQ(FormatDateTimeEx(u"\"HtmlService \"YYYYMMDDHHMMNN\".log\"", At), u"HtmlService 20190329120303.log");
  EXPECT_EQ(FormatDateTimeEx(u"\"ERR \"yyyy-mm-dd hhnnss\".log\"", At), u"ERR 2019-03-29 120309.log");
  EXPECT_EQ(FormatDateTimeEx(u"hh:mm", At), u"12:03");
  EXPECT_EQ(FormatDateTimeEx(u"h'x'm", At), u"12x3");  // m after h means minutes, whatever stands between
  EXPECT_EQ(FormatDateTimeEx(u"mm hh mmm", At), u"03 12 Mär");
}

TEST_F(GermanDates, ZeroAndNonZeroChoice) {
  const std::u16string pattern = u"\u2030!-\u2030\u00A1dd.mm.yyyy";
  EXPECT_EQ(FormatDateTimeEx(pattern, 0), u"-");
  EXPECT_EQ(FormatDateTimeEx(pattern, At), u"29.03.2019");
  EXPECT_EQ(FormatDateTimeEx(u"\u2030!'zero only'", 0), u"zero only");
  EXPECT_EQ(FormatDateTimeEx(u"\u2030!'zero only'", At), u"");
  EXPECT_EQ(FormatDateTimeEx(u"\u2030!zero", 0), u"0ero");  // the chosen part is still a pattern
}

TEST_F(GermanDates, DatePlaceholderIsReadAsPatternText) {
  EXPECT_EQ(FormatDateTimeEx(u"\"am \"%D\" um \"hh:nn", At), u"am 29.03.2019 um 12:03");
  TzbLocale us = GermanLocale();
  us.ShortDateFormat = u"mm/dd/yyyy";
  us.DateSeparator = u'-';
  SetCurrentLocale(us);
  // The inserted "03/29/2019" has its "/" turned into the date separator.
  EXPECT_EQ(FormatDateTimeEx(u"%D", At), u"03-29-2019");
}

TEST_F(GermanDates, EveryElement) {
  const TDateTime v = EncodeDateTime(2007, 1, 2, 15, 4, 5, 6);
  const auto f = [&](std::u16string_view p) { return FormatDateTimeText(p, v); };
  EXPECT_EQ(f(u"y|yy|yyy|yyyy"), u"07|07|2007|2007");
  EXPECT_EQ(f(u"m|mm|mmm|mmmm"), u"1|01|Jan|Januar");
  EXPECT_EQ(f(u"d|dd|ddd|dddd"), u"2|02|Di|Dienstag");
  EXPECT_EQ(f(u"ddddd"), u"02.01.2007");
  EXPECT_EQ(f(u"dddddd"), u"Dienstag, 2. Januar 2007");
  EXPECT_EQ(f(u"h|hh|n|nn|s|ss|z|zzz"), u"15|15|4|04|5|05|6|006");
  EXPECT_EQ(f(u"t|tt"), u"15:04|15:04:05");
  EXPECT_EQ(f(u"c"), u"02.01.2007 15:04:05");
  EXPECT_EQ(FormatDateTimeText(u"c", EncodeDateValue(2007, 1, 2)), u"02.01.2007");
  EXPECT_EQ(f(u"h am/pm|h AM/PM|h a/p|h A/P"), u"3 pm|3 PM|3 p|3 P");
  EXPECT_EQ(FormatDateTimeText(u"hh am/pm", EncodeDateTime(2007, 1, 2, 0, 30, 0, 0)), u"12 am");
  EXPECT_EQ(f(u"hh \"am/pm\""), u"15 am/pm");  // quoted am/pm is text, so the hour stays 0..23
  EXPECT_EQ(f(u"hh hh am/pm"), u"15 03 pm");   // only the hour right before the am/pm switches
  EXPECT_EQ(f(u"dd/mm/yyyy hh:nn"), u"02.01.2007 15:04");
  EXPECT_EQ(f(u"'it''s' x q!"), u"its x q!");
  EXPECT_EQ(f(u"\"open"), u"open");  // an unterminated quote runs to the end
}

TEST_F(GermanDates, DateTimeToText) {
  EXPECT_EQ(DateTimeToText(false, At), u"29.03.2019 12:03");
  EXPECT_EQ(DateTimeToText(true, At), u"29.03.2019 12:03:09");
}

TEST(Formatter, OddPatternsAndValuesDoNotCrash) {
  SetCurrentLocale(GermanLocale());
  for (const char16_t* p : {u"", u"'", u"\"", u"a", u"am/p", u"ampm", u"dddddddddddd", u"%D%D%D", u"\u2030!",
                            u"\u2030!\u2030\u00A1", u"cccc tttt", u"zzzzzzz"})
    for (double v : {0.0, -1.5, 1e300, -1e300, 2958465.99999999, 0.0 / 0.0}) FormatDateTimeEx(p, v);
  TzbLocale loop = GermanLocale();
  loop.ShortDateFormat = u"ddddd c";  // refers to itself
  loop.LongTimeFormat = u"tt";
  SetCurrentLocale(loop);
  FormatDateTimeEx(u"ddddd c tt", 1.5);
  SetCurrentLocale(GermanLocale());
}

TEST(Locale, StrftimePatternsConvert) {
  EXPECT_EQ(PatternFromStrftime("%d.%m.%Y"), u"dd.mm.yyyy");
  EXPECT_EQ(PatternFromStrftime("%m/%d/%y"), u"mm/dd/yy");
  EXPECT_EQ(PatternFromStrftime("%H:%M:%S"), u"hh:nn:ss");
  EXPECT_EQ(PatternFromStrftime("%I:%M:%S %p"), u"hh:nn:ss ampm");
  EXPECT_EQ(PatternFromStrftime("%Y年%m月%d日"), u"yyyy年mm月dd日");
  EXPECT_EQ(PatternFromStrftime("%e de %B"), u"d \"d\"\"e\" mmmm");
}

TEST(Locale, FromEnvironmentC) {
  setenv("LC_ALL", "C", 1);
  const TzbLocale c = LocaleFromEnvironment();
  unsetenv("LC_ALL");
  EXPECT_EQ(c.ShortDateFormat, u"mm/dd/yy");
  EXPECT_EQ(c.LongTimeFormat, u"hh:nn:ss");
  EXPECT_EQ(c.ShortTimeFormat, u"hh:nn");
  EXPECT_EQ(c.DateSeparator, u'/');
  EXPECT_EQ(c.LongMonthNames[0], u"January");
  EXPECT_EQ(c.ShortDayNames[0], u"Sun");
  EXPECT_EQ(c.DecimalSeparator, u'.');
  EXPECT_EQ(c.TimeAMString, u"AM");
}
