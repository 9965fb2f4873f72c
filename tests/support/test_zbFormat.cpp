#include "support/zbFormat.h"

#include <gtest/gtest.h>

#include "support/zbException.h"

using namespace zb;

TEST(Format, DirectivesWidthsAndIndexes) {
  EXPECT_EQ(Format(u"%.4d-%.2d-%.2d", {2019, 3, 9}), u"2019-03-09");
  EXPECT_EQ(Format(u"%0:.4d-%1:.2d-%2:.2d", {7, 12, 1}), u"0007-12-01");
  EXPECT_EQ(Format(u"%1:s %0:s", {u"a", u"b"}), u"b a");
  EXPECT_EQ(Format(u"[%5s][%-5s][%.2s]", {u"ab", u"ab", u"abcdef"}), u"[   ab][ab   ][ab]");
  EXPECT_EQ(Format(u"%x %d %u %%", {255, -5, -1}), u"FF -5 4294967295 %");
  EXPECT_EQ(Format(u"%.3d", {-7}), u"-007");
  EXPECT_EQ(Format(u"%.1f|%n", {2.25, 1234567.0}), u"2.2|1,234,567.00");
  EXPECT_EQ(Format(u"no directives", {}), u"no directives");
}

TEST(Format, MismatchRaisesConvertError) {
  EXPECT_THROW(Format(u"%d", {}), EzbConvertError);
  EXPECT_THROW(Format(u"%d", {u"text"}), EzbConvertError);
  EXPECT_THROW(Format(u"%s", {5}), EzbConvertError);
  EXPECT_THROW(Format(u"%q", {5}), EzbConvertError);
  EXPECT_THROW(Format(u"abc %", {5}), EzbConvertError);
}

TEST(EzbException, MessageAndWhat) {
  const EzbException plain(u"Fehler ä");
  EXPECT_EQ(plain.Message(), u"Fehler ä");
  EXPECT_STREQ(plain.what(), "Fehler \xC3\xA4");
  const EzbException formatted(u"Datei %s, Zeile %d", {u"a.htm", 3});
  EXPECT_EQ(formatted.Message(), u"Datei a.htm, Zeile 3");
  try {
    throw EzbConvertError(u"x");
  } catch (const EzbException& e) {
    EXPECT_EQ(e.Message(), u"x");
  }
}
