// The string toolkit: search and compare, tokens and KEY:value lists, replacing, trimming,
// hex numbers, rectangles, text files in the ANSI code page, and the date-time pattern formatter.
// Positions are 1-based; lengths count UTF-16 units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/zbUnicode.h"

namespace zb {

using TStringList = std::vector<std::u16string>;

constexpr int MaxInt = 2147483647;

// A "blank": below U+0021, or U+00A0.
constexpr bool IsBlank(char16_t C) { return C < 0x21 || C == 0xA0; }

// Searching and comparing
int SearchText(std::u16string_view Sub, std::u16string_view Text, bool CaseSensitive = true, int Start = 1,
               int MaxLength = MaxInt, bool Forward = true, int NotFound = 0);
int LastPos(std::u16string_view Sub, std::u16string_view Text, bool CaseSensitive = true, int Start = 1,
            int MaxLength = MaxInt);
bool SameTextEx(std::u16string_view A, std::u16string_view B, bool CaseSensitive, bool UnicodeCase = true);
bool StartsWithText(std::u16string_view Prefix, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase = true);
bool EndsWithText(std::u16string_view Suffix, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase = true);
int IndexOfPrefix(const TStringList& Prefixes, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase = true);
int IndexOfSuffix(const TStringList& Suffixes, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase = true);
int IndexOfText(std::u16string_view Text, const TStringList& Values, bool CaseSensitive, bool UnicodeCase = true);
bool MatchesAnyText(std::u16string_view Text, const TStringList& Values, bool CaseSensitive, bool UnicodeCase = true);

// Lists and tokens
void GetNextToken(std::u16string_view List, std::u16string_view Delimiter, int& Position, std::u16string& Token);
std::u16string GetListValue(std::u16string_view List, std::u16string_view Key, std::u16string_view KeySeparator = u":",
                            std::u16string_view PairSeparator = u";", std::u16string_view Default = u"");

struct TPoint {
  std::int32_t X = 0, Y = 0;
};

struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};
std::u16string RectToText(const TRect& Rect);
TRect RectFromText(std::u16string_view Text, const TRect& DefaultRect);

// Editing
enum TReplaceFlag : unsigned { rfReplaceAll = 1u << 0, rfIgnoreCase = 1u << 1 };
using TReplaceFlags = unsigned;
std::u16string StringReplace(std::u16string_view Source, std::u16string_view Old, std::u16string_view New,
                             TReplaceFlags Flags);
std::u16string StringReplaceMulti(std::u16string_view Source, const TStringList& Olds, const TStringList& News,
                                  TReplaceFlags Flags);
std::u16string ReplaceFlagsText(TReplaceFlags Flags);

std::u16string IncludeTrailingChar(std::u16string_view Text, char16_t Ch);
std::u16string ExcludeTrailingChar(std::u16string_view Text, char16_t Ch);
std::u16string TrimBlanks(std::u16string_view Text);
std::u16string TrimLeftBlanks(std::u16string_view Text);
std::u16string TrimRightBlanks(std::u16string_view Text);
bool IsBlankText(std::u16string_view Text);
int TrimmedLength(std::u16string_view Text);

bool RemoveSuffix(std::u16string_view Suffix, std::u16string& Text, bool CaseSensitive, bool UnicodeCase = true);
std::u16string WithoutSuffix(std::u16string_view Suffix, std::u16string_view Text, bool CaseSensitive,
                             bool UnicodeCase = true);
std::u16string WithoutSuffixes(const TStringList& Suffixes, std::u16string_view Text, bool CaseSensitive,
                               bool UnicodeCase = true);

std::u16string RepeatText(std::u16string_view Text, int Count);
std::u16string Dequote(std::u16string_view Text, char16_t Quote = u'"');
void TruncateAtNul(std::u16string& Text);

// Numbers and digits. StrToIntHex raises EzbConvertError with SInvalidInteger, as does every other
// conversion of a text or value to an integer.
constexpr std::u16string_view SInvalidInteger = u"'%s' ist kein gültiger Integerwert";
std::int32_t StrToIntHex(std::u16string_view Text);
std::int32_t StrToIntHexDef(std::u16string_view Text, std::int32_t Default);
bool IsAllDigits(std::u16string_view Text);
int TrailingDigitsStart(std::u16string_view Text);
std::u16string IntToText(long long Value);

// Files. The text is written in the ANSI code page (Windows-1252) without preamble.
// Raises EzbFileError when the file cannot be created or written; a file that did not exist before
// is not left behind half-written.
std::u16string SaveTextToFile(std::u16string_view Text, std::u16string_view FileName);

// The date-time pattern formatter (see zbDateUtils for the value and the locale).
std::u16string FormatDateTimeEx(std::u16string_view Pattern, double Value);

}  // namespace zb
