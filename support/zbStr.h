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
constexpr bool IsBlank(char16_t AChar) { return AChar < 0x21 || AChar == 0xA0; }

// Searching and comparing
int SearchText(std::u16string_view ASub, std::u16string_view AText, bool ACaseSensitive = true, int AStart = 1,
               int AMaxLength = MaxInt, bool AForward = true, int ANotFound = 0);
int LastPos(std::u16string_view ASub, std::u16string_view AText, bool ACaseSensitive = true, int AStart = 1,
            int AMaxLength = MaxInt);
bool SameTextEx(std::u16string_view ALeft, std::u16string_view ARight, bool ACaseSensitive, bool AUnicodeCase = true);
bool StartsWithText(std::u16string_view APrefix, std::u16string_view AText, bool ACaseSensitive,
                    bool AUnicodeCase = true);
bool EndsWithText(std::u16string_view ASuffix, std::u16string_view AText, bool ACaseSensitive,
                  bool AUnicodeCase = true);
int IndexOfPrefix(const TStringList& APrefixes, std::u16string_view AText, bool ACaseSensitive,
                  bool AUnicodeCase = true);
int IndexOfSuffix(const TStringList& ASuffixes, std::u16string_view AText, bool ACaseSensitive,
                  bool AUnicodeCase = true);
int IndexOfText(std::u16string_view AText, const TStringList& AValues, bool ACaseSensitive, bool AUnicodeCase = true);
bool MatchesAnyText(std::u16string_view AText, const TStringList& AValues, bool ACaseSensitive,
                    bool AUnicodeCase = true);

// Lists and tokens
void GetNextToken(std::u16string_view AList, std::u16string_view ADelimiter, int& APosition, std::u16string& AToken);
std::u16string GetListValue(std::u16string_view AList, std::u16string_view AKey,
                            std::u16string_view AKeySeparator = u":", std::u16string_view APairSeparator = u";",
                            std::u16string_view ADefault = u"");

struct TPoint {
  std::int32_t X = 0, Y = 0;
};

struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};
std::u16string RectToText(const TRect& ARect);
TRect RectFromText(std::u16string_view AText, const TRect& ADefaultRect);

// Editing
enum TReplaceFlag : unsigned { rfReplaceAll = 1u << 0, rfIgnoreCase = 1u << 1 };
using TReplaceFlags = unsigned;
std::u16string StringReplace(std::u16string_view ASource, std::u16string_view AOld, std::u16string_view ANew,
                             TReplaceFlags AFlags);
std::u16string StringReplaceMulti(std::u16string_view ASource, const TStringList& AOlds, const TStringList& ANews,
                                  TReplaceFlags AFlags);
std::u16string ReplaceFlagsText(TReplaceFlags AFlags);

std::u16string IncludeTrailingChar(std::u16string_view AText, char16_t ACh);
std::u16string ExcludeTrailingChar(std::u16string_view AText, char16_t ACh);
std::u16string TrimBlanks(std::u16string_view AText);
std::u16string TrimLeftBlanks(std::u16string_view AText);
std::u16string TrimRightBlanks(std::u16string_view AText);
bool IsBlankText(std::u16string_view AText);
int TrimmedLength(std::u16string_view AText);

bool RemoveSuffix(std::u16string_view ASuffix, std::u16string& AText, bool ACaseSensitive, bool AUnicodeCase = true);
std::u16string WithoutSuffix(std::u16string_view ASuffix, std::u16string_view AText, bool ACaseSensitive,
                             bool AUnicodeCase = true);
std::u16string WithoutSuffixes(const TStringList& ASuffixes, std::u16string_view AText, bool ACaseSensitive,
                               bool AUnicodeCase = true);

std::u16string RepeatText(std::u16string_view AText, int ACount);
std::u16string Dequote(std::u16string_view AText, char16_t AQuote = u'"');
void TruncateAtNul(std::u16string& AText);

// Numbers and digits. StrToIntHex raises EzbConvertError with SInvalidInteger, as does every other
// conversion of a text or value to an integer.
constexpr std::u16string_view SInvalidInteger = u"'%s' ist kein gültiger Integerwert";
std::int32_t StrToIntHex(std::u16string_view AText);
std::int32_t StrToIntHexDef(std::u16string_view AText, std::int32_t ADefault);
bool IsAllDigits(std::u16string_view AText);
int TrailingDigitsStart(std::u16string_view AText);
std::u16string IntToText(long long AValue);

// Files. The text is written in the ANSI code page (Windows-1252) without preamble.
// Raises EzbFileError when the file cannot be created or written; a file that did not exist before
// is not left behind half-written.
std::u16string SaveTextToFile(std::u16string_view AText, std::u16string_view AFileName);

// The date-time pattern formatter (see zbDateUtils for the value and the locale).
std::u16string FormatDateTimeEx(std::u16string_view APattern, double AValue);

}  // namespace zb
