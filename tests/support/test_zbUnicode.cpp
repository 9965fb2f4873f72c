#include "support/zbUnicode.h"

#include <gtest/gtest.h>

using namespace zb;

TEST(Utf, RoundTripAndInvalidInput) {
  const std::u16string text = u"Grüße € \U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");            // lone surrogate
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");                    // cut sequence
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate is not well-formed
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
}

TEST(Ansi, Windows1252BothWays) {
  EXPECT_EQ(ToAnsiBytes(u"a€ä\u0178"), "a\x80\xE4\x9F");
  EXPECT_EQ(FromAnsiBytes("a\x80\xE4\x9F"), u"a€ä\u0178");
  // A missing character is one "?", also when it takes two UTF-16 units; a lone surrogate is one too.
  EXPECT_EQ(ToAnsiBytes(u"\u4E2D\U0001F600"), "??");
  EXPECT_EQ(ToAnsiBytes(u"a\U0001F600b\U00010348\u20AC"), "a?b?\x80");
  EXPECT_EQ(ToAnsiBytes(std::u16string(u"\xD83D") + u"x" + u"\xDE00" + u"\xDE00\xD83D"), "?x???");
  // The unassigned bytes round-trip through their C1 controls.
  EXPECT_EQ(ToAnsiBytes(FromAnsiBytes("\x81\x8D\x8F\x90\x9D")), "\x81\x8D\x8F\x90\x9D");
  EXPECT_EQ(ToLatin1Bytes(u"ä€"), "\xE4?");
  EXPECT_EQ(FromLatin1Bytes("\x80"), u"\u0080");
}

TEST(UpperCase, FullUnicodePerUnit) {
  EXPECT_EQ(UnicodeUpperCase(u"aäßéωя"), u"AÄßÉΩЯ");  // ß has no single-unit upper case
  EXPECT_EQ(AsciiUpperCase(u"aäz"), u"AäZ");
  EXPECT_EQ(UnicodeUpperChar(0xD83D), 0xD83D);
}

TEST(Utf8Detection, ClassesOfBytes) {
  EXPECT_EQ(DetectUTF8Bytes(""), TUTF8Class::ucASCII);
  EXPECT_EQ(DetectUTF8Bytes("abc"), TUTF8Class::ucASCII);
  EXPECT_EQ(DetectUTF8Bytes("a\xC3\xA4z"), TUTF8Class::ucUTF8);
  EXPECT_EQ(DetectUTF8Bytes("\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), TUTF8Class::ucUTF8);
  EXPECT_EQ(DetectUTF8Bytes("\xE0\x80\x80"), TUTF8Class::ucOther);      // overlong three-byte form
  EXPECT_EQ(DetectUTF8Bytes("\xF4\x90\x80\x80"), TUTF8Class::ucOther);  // above U+10FFFF
  EXPECT_EQ(DetectUTF8Bytes("\xC3"), TUTF8Class::ucOther);              // cut off by the end
  EXPECT_EQ(DetectUTF8Bytes("\xC3\xA4\xE4"), TUTF8Class::ucOther);
  EXPECT_EQ(DetectUTF8Bytes("\xC1\xBF"), TUTF8Class::ucOther);
  EXPECT_TRUE(IsWellFormedUTF8(""));
  EXPECT_TRUE(IsWellFormedUTF8("abc"));
  EXPECT_FALSE(IsWellFormedUTF8("\xE4"));
}

TEST(Utf8Repair, TextReadAsAnsi) {
  const std::u16string misread = FromAnsiBytes("\xC3\xA4");  // "Ã¤"
  EXPECT_EQ(misread.size(), 2u);
  EXPECT_TRUE(IsUTF8Text(misread));
  EXPECT_EQ(DecodeUTF8Text(misread), u"ä");
  EXPECT_FALSE(IsUTF8Text(u"abc"));
  EXPECT_FALSE(IsUTF8Text(u""));
  EXPECT_FALSE(IsUTF8Text(u"ä"));  // a real ä is one byte E4 in the code page
  const std::u16string euro = FromAnsiBytes("Preis: \xE2\x82\xAC");
  EXPECT_EQ(DecodeUTF8Text(euro), u"Preis: €");
  EXPECT_EQ(StripUTF8BOM(FromAnsiBytes("\xEF\xBB\xBFhi")), u"hi");
  EXPECT_EQ(StripUTF8BOM(u"hi"), u"hi");
  EXPECT_EQ(StripUTF8BOM(u""), u"");
}
