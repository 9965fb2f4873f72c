#include "support/zbStr.h"

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>

#include "support/zbDateUtils.h"
#include "support/zbException.h"
#include "support/zbFileCtrl.h"

namespace zb {
namespace {

std::u16string Upper(std::u16string_view AS, bool AUnicode) {
  return AUnicode ? UnicodeUpperCase(AS) : AsciiUpperCase(AS);
}

bool HasNonAscii(std::u16string_view AS) {
  return std::any_of(AS.begin(), AS.end(), [](char16_t AChar) { return AChar > 0x7F; });
}

// Positions (0-based) of the non-overlapping occurrences of Old in Source, left to right.
template <typename Fn>
void ForEachMatch(std::u16string_view AHay, std::u16string_view ANeedle, bool AAll, Fn&& AOnMatch) {
  const std::boyer_moore_horspool_searcher searcher(ANeedle.begin(), ANeedle.end());
  auto it = AHay.begin();
  while (it != AHay.end()) {
    auto [first, last] = searcher(it, AHay.end());
    if (first == AHay.end()) break;
    AOnMatch(static_cast<std::size_t>(first - AHay.begin()));
    if (!AAll) break;
    it = last;
  }
}

std::u16string ReplaceCore(std::u16string_view ASource, std::u16string_view AOld, std::u16string_view ANew,
                           TReplaceFlags AFlags) {
  std::u16string hayStore, needleStore;
  std::u16string_view hay = ASource, needle = AOld;
  if (AFlags & rfIgnoreCase) {
    const bool unicode = HasNonAscii(AOld);
    hayStore = Upper(ASource, unicode);
    needleStore = Upper(AOld, unicode);
    hay = hayStore;
    needle = needleStore;
  }
  const bool all = (AFlags & rfReplaceAll) != 0;

  if (AOld.size() == 1 && ANew.size() == 1) {
    std::u16string result(ASource);
    const char16_t from = needle[0], to = ANew[0];
    for (std::size_t i = 0; i < result.size(); ++i)
      if (hay[i] == from) {
        result[i] = to;
        if (!all) break;
      }
    return result;
  }
  if (AOld.size() == ANew.size()) {
    std::u16string result(ASource);
    ForEachMatch(hay, needle, all,
                 [&](std::size_t APos) { std::copy(ANew.begin(), ANew.end(), result.begin() + APos); });
    return result;
  }
  std::u16string result;
  if (ANew.size() <= AOld.size()) result.reserve(ASource.size());
  std::size_t copied = 0;
  ForEachMatch(hay, needle, all, [&](std::size_t APos) {
    result.append(ASource.substr(copied, APos - copied));
    result.append(ANew);
    copied = APos + AOld.size();
  });
  if (copied == 0 && result.empty()) return std::u16string(ASource);
  result.append(ASource.substr(copied));
  return result;
}

}  // namespace

int SearchText(std::u16string_view ASub, std::u16string_view AText, bool ACaseSensitive, int AStart, int AMaxLength,
               bool AForward, int ANotFound) {
  if (AText.empty() || ASub.empty()) return ANotFound;
  if (AMaxLength < 0) AMaxLength = 0;
  std::u16string_view searched =
      AText.substr(0, std::min<std::size_t>(AText.size(), static_cast<std::size_t>(AMaxLength)));
  std::u16string subStore, textStore;
  if (!ACaseSensitive) {
    subStore = UnicodeUpperCase(ASub);
    textStore = UnicodeUpperCase(searched);
    ASub = subStore;
    searched = textStore;
  }
  const std::size_t from = AStart <= 1 ? 0 : static_cast<std::size_t>(AStart - 1);
  if (from >= searched.size()) return ANotFound;
  std::size_t pos;
  if (AForward) {
    pos = searched.find(ASub, from);
  } else {
    pos = searched.rfind(ASub);
    if (pos != std::u16string_view::npos && pos < from) pos = std::u16string_view::npos;
  }
  return pos == std::u16string_view::npos ? ANotFound : static_cast<int>(pos + 1);
}

int LastPos(std::u16string_view ASub, std::u16string_view AText, bool ACaseSensitive, int AStart, int AMaxLength) {
  return SearchText(ASub, AText, ACaseSensitive, AStart, AMaxLength, false, 0);
}

bool SameTextEx(std::u16string_view ALeft, std::u16string_view ARight, bool ACaseSensitive, bool AUnicodeCase) {
  if (ALeft.size() != ARight.size()) return false;
  if (ACaseSensitive) return ALeft == ARight;
  return Upper(ALeft, AUnicodeCase) == Upper(ARight, AUnicodeCase);
}

bool StartsWithText(std::u16string_view APrefix, std::u16string_view AText, bool ACaseSensitive, bool AUnicodeCase) {
  if (APrefix.empty()) return false;
  return SameTextEx(APrefix, AText.substr(0, APrefix.size()), ACaseSensitive, AUnicodeCase);
}

bool EndsWithText(std::u16string_view ASuffix, std::u16string_view AText, bool ACaseSensitive, bool AUnicodeCase) {
  const std::u16string_view tail = ASuffix.size() >= AText.size() ? AText : AText.substr(AText.size() - ASuffix.size());
  return SameTextEx(ASuffix, tail, ACaseSensitive, AUnicodeCase);
}

int IndexOfPrefix(const TStringList& APrefixes, std::u16string_view AText, bool ACaseSensitive, bool AUnicodeCase) {
  for (std::size_t i = 0; i < APrefixes.size(); ++i)
    if (StartsWithText(APrefixes[i], AText, ACaseSensitive, AUnicodeCase)) return static_cast<int>(i);
  return -1;
}

int IndexOfSuffix(const TStringList& ASuffixes, std::u16string_view AText, bool ACaseSensitive, bool AUnicodeCase) {
  for (std::size_t i = 0; i < ASuffixes.size(); ++i)
    if (EndsWithText(ASuffixes[i], AText, ACaseSensitive, AUnicodeCase)) return static_cast<int>(i);
  return -1;
}

int IndexOfText(std::u16string_view AText, const TStringList& AValues, bool ACaseSensitive, bool AUnicodeCase) {
  for (std::size_t i = 0; i < AValues.size(); ++i)
    if (SameTextEx(AText, AValues[i], ACaseSensitive, AUnicodeCase)) return static_cast<int>(i);
  return -1;
}

bool MatchesAnyText(std::u16string_view AText, const TStringList& AValues, bool ACaseSensitive, bool AUnicodeCase) {
  return IndexOfText(AText, AValues, ACaseSensitive, AUnicodeCase) >= 0;
}

void GetNextToken(std::u16string_view AList, std::u16string_view ADelimiter, int& APosition, std::u16string& AToken) {
  AToken.clear();
  const int length = static_cast<int>(AList.size());
  if (APosition <= 0 || APosition > length) {
    APosition = -1;
    return;
  }
  const std::u16string_view rest = AList.substr(static_cast<std::size_t>(APosition - 1));
  const int b = SearchText(ADelimiter, rest, true);
  if (b == 0) {
    AToken.assign(rest);
    APosition = -1;
    return;
  }
  AToken.assign(rest.substr(0, static_cast<std::size_t>(b - 1)));
  const long long next = static_cast<long long>(APosition) + b - 1 + static_cast<long long>(ADelimiter.size());
  APosition = next > length ? -1 : static_cast<int>(next);
}

std::u16string GetListValue(std::u16string_view AList, std::u16string_view AKey, std::u16string_view AKeySeparator,
                            std::u16string_view APairSeparator, std::u16string_view ADefault) {
  const std::u16string pattern = std::u16string(AKey) + std::u16string(AKeySeparator);
  const int found = SearchText(pattern, AList, false);
  if (found == 0) return std::u16string(ADefault);
  std::u16string_view value = AList.substr(static_cast<std::size_t>(found - 1) + pattern.size());
  if (value.empty()) return {};
  if (value.front() == u'"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find(u'"'));
  } else {
    const int sep = SearchText(APairSeparator, value, true);
    if (sep > 0) value = value.substr(0, static_cast<std::size_t>(sep - 1));
  }
  return TrimBlanks(value);
}

std::u16string RectToText(const TRect& ARect) {
  return IntToText(ARect.Left) + u";" + IntToText(ARect.Top) + u";" + IntToText(ARect.Right) + u";" +
         IntToText(ARect.Bottom);
}

TRect RectFromText(std::u16string_view AText, const TRect& ADefaultRect) {
  TRect result = ADefaultRect;
  if (IsBlankText(AText)) return result;
  const std::u16string trimmed = TrimBlanks(AText);
  std::int32_t* members[] = {&result.Left, &result.Top, &result.Right, &result.Bottom};
  int position = 1;
  std::u16string token;
  for (std::int32_t* member : members) {
    if (position == -1) break;
    GetNextToken(trimmed, u";", position, token);
    *member = StrToIntHexDef(token, *member);
  }
  return result;
}

std::u16string ReplaceFlagsText(TReplaceFlags AFlags) {
  std::u16string text;
  if (AFlags & rfReplaceAll) text += u"rfReplaceAll, ";
  if (AFlags & rfIgnoreCase) text += u"rfIgnoreCase  ";
  if (text.size() >= 2) text.resize(text.size() - 2);
  return u"[" + text + u"]";
}

std::u16string StringReplace(std::u16string_view ASource, std::u16string_view AOld, std::u16string_view ANew,
                             TReplaceFlags AFlags) {
  if (ASource.empty()) return {};
  if (AOld.empty() || ASource.size() < AOld.size() || AOld == ANew) return std::u16string(ASource);
  const auto context = [&] {
    return u"\r\n\r\nzbStr.StringReplace()\r\nASource: \"" + std::u16string(ASource) + u"\"\r\nAOld: \"" +
           std::u16string(AOld) + u"\"\r\nANew: \"" + std::u16string(ANew) + u"\"\r\nAFlags: " +
           ReplaceFlagsText(AFlags);
  };
  try {
    return ReplaceCore(ASource, AOld, ANew, AFlags);
  } catch (EzbException& e) {
    e.SetMessage(e.Message() + context());
    throw;
  } catch (const std::exception& e) {
    throw EzbException(FromLatin1Bytes(e.what()) + context());
  }
}

std::u16string StringReplaceMulti(std::u16string_view ASource, const TStringList& AOlds, const TStringList& ANews,
                                  TReplaceFlags AFlags) {
  if (ANews.size() < AOlds.size())
    throw EzbRangeError(u"StringReplaceMulti: %d Suchtexte, aber nur %d Ersetzungen", {AOlds.size(), ANews.size()});
  std::u16string result(ASource);
  for (std::size_t i = 0; i < AOlds.size(); ++i) result = StringReplace(result, AOlds[i], ANews[i], AFlags);
  return result;
}

std::u16string IncludeTrailingChar(std::u16string_view AText, char16_t ACh) {
  std::u16string result(AText);
  if (!result.empty() && result.back() != ACh) result += ACh;
  return result;
}

std::u16string ExcludeTrailingChar(std::u16string_view AText, char16_t ACh) {
  std::u16string result = TrimBlanks(AText);
  if (!result.empty() && result.back() == ACh) result.pop_back();
  return result;
}

std::u16string TrimLeftBlanks(std::u16string_view AText) {
  std::size_t i = 0;
  while (i < AText.size() && IsBlank(AText[i])) ++i;
  return std::u16string(AText.substr(i));
}

std::u16string TrimRightBlanks(std::u16string_view AText) {
  std::size_t n = AText.size();
  while (n > 0 && IsBlank(AText[n - 1])) --n;
  return std::u16string(AText.substr(0, n));
}

std::u16string TrimBlanks(std::u16string_view AText) {
  std::size_t i = 0, n = AText.size();
  while (i < n && IsBlank(AText[i])) ++i;
  while (n > i && IsBlank(AText[n - 1])) --n;
  return std::u16string(AText.substr(i, n - i));
}

bool IsBlankText(std::u16string_view AText) { return std::all_of(AText.begin(), AText.end(), IsBlank); }

int TrimmedLength(std::u16string_view AText) { return static_cast<int>(TrimBlanks(AText).size()); }

bool RemoveSuffix(std::u16string_view ASuffix, std::u16string& AText, bool ACaseSensitive, bool AUnicodeCase) {
  if (!EndsWithText(ASuffix, AText, ACaseSensitive, AUnicodeCase)) return false;
  AText.resize(AText.size() - std::min(ASuffix.size(), AText.size()));
  return true;
}

std::u16string WithoutSuffix(std::u16string_view ASuffix, std::u16string_view AText, bool ACaseSensitive,
                             bool AUnicodeCase) {
  std::u16string result(AText);
  RemoveSuffix(ASuffix, result, ACaseSensitive, AUnicodeCase);
  return result;
}

std::u16string WithoutSuffixes(const TStringList& ASuffixes, std::u16string_view AText, bool ACaseSensitive,
                               bool AUnicodeCase) {
  std::u16string result(AText);
  for (const auto& suffix : ASuffixes) RemoveSuffix(suffix, result, ACaseSensitive, AUnicodeCase);
  return result;
}

std::u16string RepeatText(std::u16string_view AText, int ACount) {
  std::u16string result;
  if (ACount <= 0 || AText.empty()) return result;
  result.reserve(AText.size() * static_cast<std::size_t>(ACount));
  for (int i = 0; i < ACount; ++i) result.append(AText);
  return result;
}

std::u16string Dequote(std::u16string_view AText, char16_t AQuote) {
  if (AText.empty()) return {};
  if (AQuote != u'\0') {
    if (!AText.empty() && AText.front() == AQuote) AText.remove_prefix(1);
    if (!AText.empty() && AText.back() == AQuote) AText.remove_suffix(1);
    return std::u16string(AText);
  }
  const char16_t first = AText.front(), last = AText.back();
  if ((first == u'"' || first == u'\'') && last == first) {
    if (AText.size() == 1) return {};
    return std::u16string(AText.substr(1, AText.size() - 2));
  }
  return std::u16string(AText);
}

void TruncateAtNul(std::u16string& AText) {
  const auto nul = AText.find(u'\0');
  if (nul != std::u16string::npos) AText.resize(nul);
}

namespace {

bool TryStrToIntHex(std::u16string_view AText, std::int32_t& AValue) {
  std::u16string s = TrimBlanks(AText);
  if (s.size() >= 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) s.replace(0, 2, u"$");
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  const bool hex = i < s.size() && s[i] == u'$';
  if (hex) ++i;
  if (i >= s.size()) return false;
  std::uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (hex && c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return false;
    magnitude = magnitude * (hex ? 16 : 10) + digit;
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    // Hexadecimal texts cover the full 32 bits: $FFFFFFFF is -1.
    const auto bits = static_cast<std::uint32_t>(magnitude);
    AValue = static_cast<std::int32_t>(negative ? 0u - bits : bits);
    return true;
  }
  if (negative ? magnitude > 2147483648ull : magnitude > 2147483647ull) return false;
  AValue = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
  return true;
}

}  // namespace

std::int32_t StrToIntHex(std::u16string_view AText) {
  std::int32_t value = 0;
  if (!TryStrToIntHex(AText, value)) throw EzbConvertError(SInvalidInteger, {std::u16string(AText)});
  return value;
}

std::int32_t StrToIntHexDef(std::u16string_view AText, std::int32_t ADefault) {
  std::int32_t value = 0;
  return TryStrToIntHex(AText, value) ? value : ADefault;
}

bool IsAllDigits(std::u16string_view AText) {
  return !AText.empty() &&
         std::all_of(AText.begin(), AText.end(), [](char16_t AChar) { return AChar >= u'0' && AChar <= u'9'; });
}

int TrailingDigitsStart(std::u16string_view AText) {
  std::size_t n = AText.size();
  while (n > 0 && AText[n - 1] >= u'0' && AText[n - 1] <= u'9') --n;
  return n == AText.size() ? 0 : static_cast<int>(n + 1);
}

std::u16string IntToText(long long AValue) {
  const std::string s = std::to_string(AValue);
  return std::u16string(s.begin(), s.end());
}

std::u16string SaveTextToFile(std::u16string_view AText, std::u16string_view AFileName) {
  WriteFileAtomic(AFileName, AText.empty() ? std::string() : ToAnsiBytes(AText));
  return std::u16string(AFileName);
}

std::u16string FormatDateTimeEx(std::u16string_view APattern, double AValue) {
  static constexpr std::u16string_view zeroPrefix = u"\u2030!";
  static constexpr std::u16string_view nonZeroMark = u"\u2030\u00A1";
  std::u16string_view chosen = APattern;
  if (APattern.substr(0, zeroPrefix.size()) == zeroPrefix) {
    const std::u16string_view rest = APattern.substr(zeroPrefix.size());
    const std::size_t mark = rest.find(nonZeroMark);
    if (AValue == 0)
      chosen = rest.substr(0, mark);
    else
      chosen = mark == std::u16string_view::npos ? std::u16string_view() : rest.substr(mark + nonZeroMark.size());
  }
  // The date goes in as text and is then read as pattern text like the rest.
  const std::u16string date = FormatDateTimeText(CurrentLocale().ShortDateFormat, AValue);
  const std::u16string withDate = StringReplace(chosen, u"%D", date, rfReplaceAll);
  return FormatDateTimeText(withDate, AValue);
}

}  // namespace zb
