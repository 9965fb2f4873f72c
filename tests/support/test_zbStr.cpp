#include "support/zbStr.h"

#include <gtest/gtest.h>

#include "support/zbException.h"

using namespace zb;

TEST(SearchText, ForwardBackwardAndStart) {
  EXPECT_EQ(SearchText(u"a", u"banana", true, 1, MaxInt, false), 6);
  EXPECT_EQ(SearchText(u"a", u"banana", true, 3, MaxInt, true), 4);
  EXPECT_EQ(SearchText(u"a", u"banana", true, 0), 2);
  // Backward hits must still begin at or after Start.
  EXPECT_EQ(SearchText(u"b", u"banana", true, 2, MaxInt, false), 0);
  EXPECT_EQ(SearchText(u"ana", u"banana", true, 1, MaxInt, false), 4);  // overlapping hits
  EXPECT_EQ(LastPos(u"na", u"banana"), 5);
}

TEST(SearchText, EdgeInputsGiveNotFound) {
  EXPECT_EQ(SearchText(u"a", u"", true, 1, MaxInt, true, -7), -7);
  EXPECT_EQ(SearchText(u"", u"abc", true, 1, MaxInt, true, -7), -7);
  EXPECT_EQ(SearchText(u"c", u"abc", true, 4), 0);
  EXPECT_EQ(SearchText(u"c", u"abc", true, 1000000), 0);
  // Only the first MaxLength characters are searched.
  EXPECT_EQ(SearchText(u"c", u"abc", true, 1, 2), 0);
  EXPECT_EQ(SearchText(u"bc", u"abc", true, 1, 2), 0);
  EXPECT_EQ(SearchText(u"c", u"abc", true, 1, -5), 0);
}

TEST(SearchText, CaseInsensitiveUsesUnicodeUpperCase) {
  EXPECT_EQ(SearchText(u"ÄÖ", u"xxäö", false), 3);
  EXPECT_EQ(SearchText(u"straße", u"STRAßE", false), 1);
  EXPECT_EQ(SearchText(u"ÄÖ", u"xxäö", true), 0);
}

TEST(CompareText, SameStartsEnds) {
  EXPECT_TRUE(SameTextEx(u"Äpfel", u"äPFEL", false, true));
  EXPECT_FALSE(SameTextEx(u"Äpfel", u"äPFEL", false, false));  // only a..z without Unicode case
  EXPECT_TRUE(SameTextEx(u"abc", u"ABC", false, false));
  EXPECT_FALSE(SameTextEx(u"abc", u"ABC", true));
  EXPECT_FALSE(StartsWithText(u"", u"abc", true));
  EXPECT_TRUE(StartsWithText(u"AB", u"abc", false));
  EXPECT_FALSE(StartsWithText(u"abcd", u"abc", true));
  EXPECT_TRUE(EndsWithText(u"", u"abc", true));
  EXPECT_TRUE(EndsWithText(u"", u"", true));
  EXPECT_TRUE(EndsWithText(u"BC", u"abc", false));
  EXPECT_FALSE(EndsWithText(u"xabc", u"abc", true));
}

TEST(CompareText, IndexOfListsInListOrder) {
  const TStringList list = {u"htm", u"HTML", u"html"};
  EXPECT_EQ(IndexOfText(u"html", list, false), 1);
  EXPECT_EQ(IndexOfText(u"html", list, true), 2);
  EXPECT_EQ(IndexOfText(u"txt", list, false), -1);
  EXPECT_TRUE(MatchesAnyText(u"HTM", list, false));
  EXPECT_EQ(IndexOfPrefix({u"x", u"ab", u"a"}, u"abc", true), 1);
  EXPECT_EQ(IndexOfSuffix({u".txt", u".HTM"}, u"a.htm", false), 1);
  EXPECT_EQ(IndexOfSuffix({}, u"a.htm", false), -1);
}

namespace {
std::vector<std::pair<std::u16string, int>> Tokens(std::u16string_view list, std::u16string_view delim, int start = 1) {
  std::vector<std::pair<std::u16string, int>> out;
  int pos = start;
  std::u16string token;
  do {
    GetNextToken(list, delim, pos, token);
    out.emplace_back(token, pos);
  } while (pos != -1 && out.size() < 100);
  return out;
}
}  // namespace

TEST(GetNextToken, TrailingAdjacentAndMultiCharDelimiters) {
  using V = std::vector<std::pair<std::u16string, int>>;
  EXPECT_EQ(Tokens(u"a,b,", u","), (V{{u"a", 3}, {u"b", -1}}));
  EXPECT_EQ(Tokens(u"a,,b", u","), (V{{u"a", 3}, {u"", 4}, {u"b", -1}}));
  EXPECT_EQ(Tokens(u"a, b", u","), (V{{u"a", 3}, {u" b", -1}}));
  EXPECT_EQ(Tokens(u"x||y", u"||"), (V{{u"x", 4}, {u"y", -1}}));
  EXPECT_EQ(Tokens(u"", u","), (V{{u"", -1}}));
  EXPECT_EQ(Tokens(u"abc", u",", 0), (V{{u"", -1}}));
  EXPECT_EQ(Tokens(u"abc", u",", 4), (V{{u"", -1}}));
  EXPECT_EQ(Tokens(u"\"a,b\",c", u","), (V{{u"\"a", 4}, {u"b\"", 7}, {u"c", -1}}));  // quotes mean nothing
}

TEST(GetListValue, KeysSeparatorsQuotesAndDefaults) {
  EXPECT_EQ(GetListValue(u"SRC:c:\\a.htm;DST:c:\\b.txt", u"DST"), u"c:\\b.txt");
  EXPECT_EQ(GetListValue(u"SRC:c:\\a.htm;DST:c:\\b.txt", u"SRC"), u"c:\\a.htm");
  EXPECT_EQ(GetListValue(u"src:x", u"SRC"), u"x");
  EXPECT_EQ(GetListValue(u"SRC:;DST:x", u"SRC", u":", u";", u"def"), u"");
  EXPECT_EQ(GetListValue(u"SRC:", u"SRC", u":", u";", u"def"), u"");
  EXPECT_EQ(GetListValue(u"SRC:\"a;b\";DST:x", u"SRC"), u"a;b");
  EXPECT_EQ(GetListValue(u"SRC:\"a;b", u"SRC"), u"a;b");
  EXPECT_EQ(GetListValue(u"DST:x", u"SRC", u":", u";", u"def"), u"def");
  EXPECT_EQ(GetListValue(u"DST:x", u"SRC"), u"");
  // The key is a plain substring: it also matches inside a longer key.
  EXPECT_EQ(GetListValue(u"XSRC:1;SRC:2", u"SRC"), u"1");
  // A blank before the quote disables the quote rule.
  EXPECT_EQ(GetListValue(u"SRC: \"a;b\"", u"SRC"), u"\"a");
  EXPECT_EQ(GetListValue(u"SRC:  /tmp/a b.htm  ;DST:x", u"SRC"), u"/tmp/a b.htm");
  EXPECT_EQ(GetListValue(u"DST:/o.txt;SRC:/i.htm", u"src"), u"/i.htm");
}

TEST(TrailingChar, IncludeAndExclude) {
  EXPECT_EQ(IncludeTrailingChar(u"", u'\\'), u"");
  EXPECT_EQ(IncludeTrailingChar(u"C:\\x", u'\\'), u"C:\\x\\");
  EXPECT_EQ(IncludeTrailingChar(u"C:\\x\\", u'\\'), u"C:\\x\\");
  EXPECT_EQ(ExcludeTrailingChar(u" C:\\x\\ ", u'\\'), u"C:\\x");
  EXPECT_EQ(ExcludeTrailingChar(u"/a//", u'/'), u"/a/");
  EXPECT_EQ(ExcludeTrailingChar(u"", u'/'), u"");
}

TEST(Trim, BlanksIncludeControlsAndNoBreakSpace) {
  EXPECT_EQ(TrimBlanks(u"\t\u00A0 a b \r\n"), u"a b");
  EXPECT_EQ(TrimRightBlanks(u" a "), u" a");
  EXPECT_EQ(TrimLeftBlanks(u" a "), u"a ");
  EXPECT_TRUE(IsBlankText(u""));
  EXPECT_TRUE(IsBlankText(u" \u00A0\x01"));
  EXPECT_FALSE(IsBlankText(u" ."));
  EXPECT_EQ(TrimmedLength(u"  ab "), 2);
  EXPECT_EQ(TrimBlanks(u"\u3000x"), u"\u3000x");  // other spaces are not blanks
}

TEST(StringReplace, OccurrencesAndFlags) {
  EXPECT_EQ(StringReplace(u"a%Db%D", u"%D", u"1", rfReplaceAll), u"a1b1");
  EXPECT_EQ(StringReplace(u"a%Db%D", u"%D", u"1", 0), u"a1b%D");
  EXPECT_EQ(StringReplace(u"aaa", u"aa", u"b", rfReplaceAll), u"ba");
  EXPECT_EQ(StringReplace(u"ABC", u"b", u"x", rfIgnoreCase), u"AxC");
  EXPECT_EQ(StringReplace(u"ABC", u"b", u"x", 0), u"ABC");
  EXPECT_EQ(StringReplace(u"ÄäÄ", u"ä", u"-", rfIgnoreCase | rfReplaceAll), u"---");
  // ASCII-only Old compares only a..z without case: the Ä stays.
  EXPECT_EQ(StringReplace(u"xÄx", u"x", u"y", rfIgnoreCase | rfReplaceAll), u"yÄy");
  // New is inserted exactly as passed, even with rfIgnoreCase.
  EXPECT_EQ(StringReplace(u"abAB", u"ab", u"Xy", rfIgnoreCase | rfReplaceAll), u"XyXy");
}

TEST(StringReplace, EveryShapeOfOldAndNew) {
  const std::u16string src = u"one two one two one";
  EXPECT_EQ(StringReplace(src, u"one", u"111", rfReplaceAll), u"111 two 111 two 111");  // same length
  EXPECT_EQ(StringReplace(src, u"one", u"1", rfReplaceAll), u"1 two 1 two 1");          // shorter
  EXPECT_EQ(StringReplace(src, u"one", u"eleven", rfReplaceAll), u"eleven two eleven two eleven");
  EXPECT_EQ(StringReplace(src, u"one", u"", rfReplaceAll), u" two  two ");
  EXPECT_EQ(StringReplace(u"a.b.c", u".", u"/", rfReplaceAll), u"a/b/c");  // single characters
  EXPECT_EQ(StringReplace(u"a.b.c", u".", u"/", 0), u"a/b.c");
  EXPECT_EQ(StringReplace(u"one", u"one", u"", rfReplaceAll), u"");
}

TEST(StringReplace, UnchangedCases) {
  EXPECT_EQ(StringReplace(u"", u"a", u"b", rfReplaceAll), u"");
  EXPECT_EQ(StringReplace(u"abc", u"", u"b", rfReplaceAll), u"abc");
  EXPECT_EQ(StringReplace(u"ab", u"abc", u"x", rfReplaceAll), u"ab");
  EXPECT_EQ(StringReplace(u"abc", u"b", u"b", rfReplaceAll), u"abc");
  EXPECT_EQ(StringReplace(u"abc", u"z", u"yy", rfReplaceAll), u"abc");
}

TEST(StringReplace, FlagTextForErrorContext) {
  EXPECT_EQ(ReplaceFlagsText(0), u"[]");
  EXPECT_EQ(ReplaceFlagsText(rfReplaceAll), u"[rfReplaceAll]");
  EXPECT_EQ(ReplaceFlagsText(rfIgnoreCase), u"[rfIgnoreCase]");
  EXPECT_EQ(ReplaceFlagsText(rfReplaceAll | rfIgnoreCase), u"[rfReplaceAll, rfIgnoreCase]");
}

TEST(StringReplace, MultiWorksOnEachPreviousResult) {
  EXPECT_EQ(StringReplaceMulti(u"abc", {u"a", u"b"}, {u"b", u"c"}, rfReplaceAll), u"ccc");
  EXPECT_EQ(StringReplaceMulti(u"abc", {}, {}, rfReplaceAll), u"abc");
  EXPECT_THROW(StringReplaceMulti(u"abc", {u"a", u"b"}, {u"x"}, rfReplaceAll), EzbException);
}

TEST(Suffixes, RemoveAndWithout) {
  std::u16string text = u"report.HTM";
  EXPECT_TRUE(RemoveSuffix(u".htm", text, false));
  EXPECT_EQ(text, u"report");
  EXPECT_FALSE(RemoveSuffix(u".htm", text, false));
  EXPECT_EQ(WithoutSuffix(u".htm", u"a.htm", true), u"a");
  EXPECT_EQ(WithoutSuffix(u".HTM", u"a.htm", true), u"a.htm");
  // Each suffix at most once, in list order.
  EXPECT_EQ(WithoutSuffixes({u".gz", u".tar", u".gz"}, u"a.tar.gz.gz", true), u"a.tar");
  EXPECT_EQ(WithoutSuffixes({u".tar", u".gz"}, u"a.tar.gz", true), u"a.tar");
}

TEST(Texts, RepeatDequoteTruncate) {
  EXPECT_EQ(RepeatText(u"ab", 3), u"ababab");
  EXPECT_EQ(RepeatText(u"ab", 0), u"");
  EXPECT_EQ(RepeatText(u"ab", -2), u"");
  EXPECT_EQ(RepeatText(u"", 5), u"");
  EXPECT_EQ(Dequote(u"'a'", u'\''), u"a");
  EXPECT_EQ(Dequote(u"'a", u'\''), u"a");
  EXPECT_EQ(Dequote(u"a'", u'\''), u"a");
  EXPECT_EQ(Dequote(u"'", u'\''), u"");
  EXPECT_EQ(Dequote(u"\"a\"", u'\0'), u"a");
  EXPECT_EQ(Dequote(u"'a'", u'\0'), u"a");
  EXPECT_EQ(Dequote(u"\"a'", u'\0'), u"\"a'");
  EXPECT_EQ(Dequote(u"\"", u'\0'), u"");
  EXPECT_EQ(Dequote(u"", u'\0'), u"");
  std::u16string t(u"ab\0cd", 5);
  TruncateAtNul(t);
  EXPECT_EQ(t, u"ab");
  std::u16string plain = u"abc";
  TruncateAtNul(plain);
  EXPECT_EQ(plain, u"abc");
}

TEST(Numbers, HexAndDecimal) {
  EXPECT_EQ(StrToIntHexDef(u" 0x1F ", 0), 31);
  EXPECT_EQ(StrToIntHexDef(u"1F", 7), 7);
  EXPECT_EQ(StrToIntHexDef(u"$ff", 0), 255);
  EXPECT_EQ(StrToIntHexDef(u"0XfF", 0), 255);
  EXPECT_EQ(StrToIntHexDef(u"-12", 0), -12);
  EXPECT_EQ(StrToIntHexDef(u"+12", 0), 12);
  EXPECT_EQ(StrToIntHexDef(u"$FFFFFFFF", 0), -1);
  EXPECT_EQ(StrToIntHexDef(u"2147483647", 0), 2147483647);
  EXPECT_EQ(StrToIntHexDef(u"-2147483648", 0), -2147483647 - 1);
  EXPECT_EQ(StrToIntHexDef(u"2147483648", 5), 5);
  EXPECT_EQ(StrToIntHexDef(u"$100000000", 5), 5);
  EXPECT_EQ(StrToIntHexDef(u"", 5), 5);
  EXPECT_EQ(StrToIntHexDef(u"0x", 5), 5);
  EXPECT_EQ(StrToIntHexDef(u"1 2", 5), 5);
  EXPECT_EQ(StrToIntHexDef(u"99999999999999999999999", 5), 5);
  EXPECT_EQ(StrToIntHex(u"42"), 42);
  EXPECT_THROW(StrToIntHex(u"x42"), EzbConvertError);
}

TEST(Numbers, Digits) {
  EXPECT_TRUE(IsAllDigits(u"0123"));
  EXPECT_FALSE(IsAllDigits(u""));
  EXPECT_FALSE(IsAllDigits(u"12a"));
  EXPECT_FALSE(IsAllDigits(u"١٢"));  // Arabic-Indic digits are not 0..9
  EXPECT_EQ(TrailingDigitsStart(u"abc123"), 4);
  EXPECT_EQ(TrailingDigitsStart(u"123"), 1);
  EXPECT_EQ(TrailingDigitsStart(u"abc"), 0);
  EXPECT_EQ(TrailingDigitsStart(u""), 0);
}

TEST(Rect, TextRoundTripAndDefaults) {
  const TRect r{10, 20, 30, 40};
  EXPECT_EQ(RectToText({-1, 2, 3, -4}), u"-1;2;3;-4");
  EXPECT_EQ(RectFromText(u"1;2", r), (TRect{1, 2, 30, 40}));
  EXPECT_EQ(RectFromText(u"   ", r), r);
  EXPECT_EQ(RectFromText(u"", r), r);
  EXPECT_EQ(RectFromText(u"1;x;$10;4;99", r), (TRect{1, 20, 16, 4}));
  EXPECT_EQ(RectFromText(RectToText(TRect{-5, 6, -7, 8}), r), (TRect{-5, 6, -7, 8}));
  EXPECT_EQ(RectFromText(u";;;", r), r);
}
