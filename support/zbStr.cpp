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

std::u16string Upper(std::u16string_view s, bool unicode) { return unicode ? UnicodeUpperCase(s) : AsciiUpperCase(s); }

bool HasNonAscii(std::u16string_view s) {
  return std::any_of(s.begin(), s.end(), [](char16_t c) { return c > 0x7F; });
}

// Positions (0-based) of the non-overlapping occurrences of Old in Source, left to right.
template <typename Fn>
void ForEachMatch(std::u16string_view hay, std::u16string_view needle, bool all, Fn&& onMatch) {
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  auto it = hay.begin();
  while (it != hay.end()) {
    auto [first, last] = searcher(it, hay.end());
    if (first == hay.end()) break;
    onMatch(static_cast<std::size_t>(first - hay.begin()));
    if (!all) break;
    it = last;
  }
}

std::u16string ReplaceCore(std::u16string_view Source, std::u16string_view Old, std::u16string_view New,
                           TReplaceFlags Flags) {
  std::u16string hayStore, needleStore;
  std::u16string_view hay = Source, needle = Old;
  if (Flags & rfIgnoreCase) {
    const bool unicode = HasNonAscii(Old);
    hayStore = Upper(Source, unicode);
    needleStore = Upper(Old, unicode);
    hay = hayStore;
    needle = needleStore;
  }
  const bool all = (Flags & rfReplaceAll) != 0;

  if (Old.size() == 1 && New.size() == 1) {
    std::u16string result(Source);
    const char16_t from = needle[0], to = New[0];
    for (std::size_t i = 0; i < result.size(); ++i)
      if (hay[i] == from) {
        result[i] = to;
        if (!all) break;
      }
    return result;
  }
  if (Old.size() == New.size()) {
    std::u16string result(Source);
    ForEachMatch(hay, needle, all, [&](std::size_t pos) { std::copy(New.begin(), New.end(), result.begin() + pos); });
    return result;
  }
  std::u16string result;
  if (New.size() <= Old.size()) result.reserve(Source.size());
  std::size_t copied = 0;
  ForEachMatch(hay, needle, all, [&](std::size_t pos) {
    result.append(Source.substr(copied, pos - copied));
    result.append(New);
    copied = pos + Old.size();
  });
  if (copied == 0 && result.empty()) return std::u16string(Source);
  result.append(Source.substr(copied));
  return result;
}

}  // namespace

int SearchText(std::u16string_view Sub, std::u16string_view Text, bool CaseSensitive, int Start, int MaxLength,
               bool Forward, int NotFound) {
  if (Text.empty() || Sub.empty()) return NotFound;
  if (MaxLength < 0) MaxLength = 0;
  std::u16string_view searched =
      Text.substr(0, std::min<std::size_t>(Text.size(), static_cast<std::size_t>(MaxLength)));
  std::u16string subStore, textStore;
  if (!CaseSensitive) {
    subStore = UnicodeUpperCase(Sub);
    textStore = UnicodeUpperCase(searched);
    Sub = subStore;
    searched = textStore;
  }
  const std::size_t from = Start <= 1 ? 0 : static_cast<std::size_t>(Start - 1);
  if (from >= searched.size()) return NotFound;
  std::size_t pos;
  if (Forward) {
    pos = searched.find(Sub, from);
  } else {
    pos = searched.rfind(Sub);
    if (pos != std::u16string_view::npos && pos < from) pos = std::u16string_view::npos;
  }
  return pos == std::u16string_view::npos ? NotFound : static_cast<int>(pos + 1);
}

int LastPos(std::u16string_view Sub, std::u16string_view Text, bool CaseSensitive, int Start, int MaxLength) {
  return SearchText(Sub, Text, CaseSensitive, Start, MaxLength, false, 0);
}

bool SameTextEx(std::u16string_view A, std::u16string_view B, bool CaseSensitive, bool UnicodeCase) {
  if (A.size() != B.size()) return false;
  if (CaseSensitive) return A == B;
  return Upper(A, UnicodeCase) == Upper(B, UnicodeCase);
}

bool StartsWithText(std::u16string_view Prefix, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase) {
  if (Prefix.empty()) return false;
  return SameTextEx(Prefix, Text.substr(0, Prefix.size()), CaseSensitive, UnicodeCase);
}

bool EndsWithText(std::u16string_view Suffix, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase) {
  const std::u16string_view tail = Suffix.size() >= Text.size() ? Text : Text.substr(Text.size() - Suffix.size());
  return SameTextEx(Suffix, tail, CaseSensitive, UnicodeCase);
}

int IndexOfPrefix(const TStringList& Prefixes, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase) {
  for (std::size_t i = 0; i < Prefixes.size(); ++i)
    if (StartsWithText(Prefixes[i], Text, CaseSensitive, UnicodeCase)) return static_cast<int>(i);
  return -1;
}

int IndexOfSuffix(const TStringList& Suffixes, std::u16string_view Text, bool CaseSensitive, bool UnicodeCase) {
  for (std::size_t i = 0; i < Suffixes.size(); ++i)
    if (EndsWithText(Suffixes[i], Text, CaseSensitive, UnicodeCase)) return static_cast<int>(i);
  return -1;
}

int IndexOfText(std::u16string_view Text, const TStringList& Values, bool CaseSensitive, bool UnicodeCase) {
  for (std::size_t i = 0; i < Values.size(); ++i)
    if (SameTextEx(Text, Values[i], CaseSensitive, UnicodeCase)) return static_cast<int>(i);
  return -1;
}

bool MatchesAnyText(std::u16string_view Text, const TStringList& Values, bool CaseSensitive, bool UnicodeCase) {
  return IndexOfText(Text, Values, CaseSensitive, UnicodeCase) >= 0;
}

void GetNextToken(std::u16string_view List, std::u16string_view Delimiter, int& Position, std::u16string& Token) {
  Token.clear();
  const int length = static_cast<int>(List.size());
  if (Position <= 0 || Position > length) {
    Position = -1;
    return;
  }
  const std::u16string_view rest = List.substr(static_cast<std::size_t>(Position - 1));
  const int b = SearchText(Delimiter, rest, true);
  if (b == 0) {
    Token.assign(rest);
    Position = -1;
    return;
  }
  Token.assign(rest.substr(0, static_cast<std::size_t>(b - 1)));
  const long long next = static_cast<long long>(Position) + b - 1 + static_cast<long long>(Delimiter.size());
  Position = next > length ? -1 : static_cast<int>(next);
}

std::u16string GetListValue(std::u16string_view List, std::u16string_view Key, std::u16string_view KeySeparator,
                            std::u16string_view PairSeparator, std::u16string_view Default) {
  const std::u16string pattern = std::u16string(Key) + std::u16string(KeySeparator);
  const int found = SearchText(pattern, List, false);
  if (found == 0) return std::u16string(Default);
  std::u16string_view value = List.substr(static_cast<std::size_t>(found - 1) + pattern.size());
  if (value.empty()) return {};
  if (value.front() == u'"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find(u'"'));
  } else {
    const int sep = SearchText(PairSeparator, value, true);
    if (sep > 0) value = value.substr(0, static_cast<std::size_t>(sep - 1));
  }
  return TrimBlanks(value);
}

std::u16string RectToText(const TRect& Rect) {
  return IntToText(Rect.Left) + u";" + IntToText(Rect.Top) + u";" + IntToText(Rect.Right) + u";" +
         IntToText(Rect.Bottom);
}

TRect RectFromText(std::u16string_view Text, const TRect& DefaultRect) {
  TRect result = DefaultRect;
  if (IsBlankText(Text)) return result;
  const std::u16string trimmed = TrimBlanks(Text);
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

std::u16string ReplaceFlagsText(TReplaceFlags Flags) {
  std::u16string text;
  if (Flags & rfReplaceAll) text += u"rfReplaceAll, ";
  if (Flags & rfIgnoreCase) text += u"rfIgnoreCase  ";
  if (text.size() >= 2) text.resize(text.size() - 2);
  return u"[" + text + u"]";
}

std::u16string StringReplace(std::u16string_view Source, std::u16string_view Old, std::u16string_view New,
                             TReplaceFlags Flags) {
  if (Source.empty()) return {};
  if (Old.empty() || Source.size() < Old.size() || Old == New) return std::u16string(Source);
  const auto context = [&] {
    return u"\r\n\r\nzbStr.StringReplace()\r\nASource: \"" + std::u16string(Source) + u"\"\r\nAOld: \"" +
           std::u16string(Old) + u"\"\r\nANew: \"" + std::u16string(New) + u"\"\r\nAFlags: " + ReplaceFlagsText(Flags);
  };
  try {
    return ReplaceCore(Source, Old, New, Flags);
  } catch (EzbException& e) {
    e.SetMessage(e.Message() + context());
    throw;
  } catch (const std::exception& e) {
    throw EzbException(FromLatin1Bytes(e.what()) + context());
  }
}

std::u16string StringReplaceMulti(std::u16string_view Source, const TStringList& Olds, const TStringList& News,
                                  TReplaceFlags Flags) {
  if (News.size() < Olds.size())
    throw EzbRangeError(u"StringReplaceMulti: %d Suchtexte, aber nur %d Ersetzungen", {Olds.size(), News.size()});
  std::u16string result(Source);
  for (std::size_t i = 0; i < Olds.size(); ++i) result = StringReplace(result, Olds[i], News[i], Flags);
  return result;
}

std::u16string IncludeTrailingChar(std::u16string_view Text, char16_t Ch) {
  std::u16string result(Text);
  if (!result.empty() && result.back() != Ch) result += Ch;
  return result;
}

std::u16string ExcludeTrailingChar(std::u16string_view Text, char16_t Ch) {
  std::u16string result = TrimBlanks(Text);
  if (!result.empty() && result.back() == Ch) result.pop_back();
  return result;
}

std::u16string TrimLeftBlanks(std::u16string_view Text) {
  std::size_t i = 0;
  while (i < Text.size() && IsBlank(Text[i])) ++i;
  return std::u16string(Text.substr(i));
}

std::u16string TrimRightBlanks(std::u16string_view Text) {
  std::size_t n = Text.size();
  while (n > 0 && IsBlank(Text[n - 1])) --n;
  return std::u16string(Text.substr(0, n));
}

std::u16string TrimBlanks(std::u16string_view Text) {
  std::size_t i = 0, n = Text.size();
  while (i < n && IsBlank(Text[i])) ++i;
  while (n > i && IsBlank(Text[n - 1])) --n;
  return std::u16string(Text.substr(i, n - i));
}

bool IsBlankText(std::u16string_view Text) { return std::all_of(Text.begin(), Text.end(), IsBlank); }

int TrimmedLength(std::u16string_view Text) { return static_cast<int>(TrimBlanks(Text).size()); }

bool RemoveSuffix(std::u16string_view Suffix, std::u16string& Text, bool CaseSensitive, bool UnicodeCase) {
  if (!EndsWithText(Suffix, Text, CaseSensitive, UnicodeCase)) return false;
  Text.resize(Text.size() - std::min(Suffix.size(), Text.size()));
  return true;
}

std::u16string WithoutSuffix(std::u16string_view Suffix, std::u16string_view Text, bool CaseSensitive,
                             bool UnicodeCase) {
  std::u16string result(Text);
  RemoveSuffix(Suffix, result, CaseSensitive, UnicodeCase);
  return result;
}

std::u16string WithoutSuffixes(const TStringList& Suffixes, std::u16string_view Text, bool CaseSensitive,
                               bool UnicodeCase) {
  std::u16string result(Text);
  for (const auto& suffix : Suffixes) RemoveSuffix(suffix, result, CaseSensitive, UnicodeCase);
  return result;
}

std::u16string RepeatText(std::u16string_view Text, int Count) {
  std::u16string result;
  if (Count <= 0 || Text.empty()) return result;
  result.reserve(Text.size() * static_cast<std::size_t>(Count));
  for (int i = 0; i < Count; ++i) result.append(Text);
  return result;
}

std::u16string Dequote(std::u16string_view Text, char16_t Quote) {
  if (Text.empty()) return {};
  if (Quote != u'\0') {
    if (!Text.empty() && Text.front() == Quote) Text.remove_prefix(1);
    if (!Text.empty() && Text.back() == Quote) Text.remove_suffix(1);
    return std::u16string(Text);
  }
  const char16_t first = Text.front(), last = Text.back();
  if ((first == u'"' || first == u'\'') && last == first) {
    if (Text.size() == 1) return {};
    return std::u16string(Text.substr(1, Text.size() - 2));
  }
  return std::u16string(Text);
}

void TruncateAtNul(std::u16string& Text) {
  const auto nul = Text.find(u'\0');
  if (nul != std::u16string::npos) Text.resize(nul);
}

namespace {

bool TryStrToIntHex(std::u16string_view Text, std::int32_t& Value) {
  std::u16string s = TrimBlanks(Text);
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
    Value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
    return true;
  }
  if (negative ? magnitude > 2147483648ull : magnitude > 2147483647ull) return false;
  Value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                             : static_cast<std::int64_t>(magnitude));
  return true;
}

}  // namespace

std::int32_t StrToIntHex(std::u16string_view Text) {
  std::int32_t value = 0;
  if (!TryStrToIntHex(Text, value)) throw EzbConvertError(SInvalidInteger, {std::u16string(Text)});
  return value;
}

std::int32_t StrToIntHexDef(std::u16string_view Text, std::int32_t Default) {
  std::int32_t value = 0;
  return TryStrToIntHex(Text, value) ? value : Default;
}

bool IsAllDigits(std::u16string_view Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

int TrailingDigitsStart(std::u16string_view Text) {
  std::size_t n = Text.size();
  while (n > 0 && Text[n - 1] >= u'0' && Text[n - 1] <= u'9') --n;
  return n == Text.size() ? 0 : static_cast<int>(n + 1);
}

std::u16string IntToText(long long Value) {
  const std::string s = std::to_string(Value);
  return std::u16string(s.begin(), s.end());
}

std::u16string SaveTextToFile(std::u16string_view Text, std::u16string_view FileName) {
  WriteFileAtomic(FileName, Text.empty() ? std::string() : ToAnsiBytes(Text));
  return std::u16string(FileName);
}

std::u16string FormatDateTimeEx(std::u16string_view Pattern, double Value) {
  static constexpr std::u16string_view ZeroPrefix = u"\u2030!";
  static constexpr std::u16string_view NonZeroMark = u"\u2030\u00A1";
  std::u16string_view chosen = Pattern;
  if (Pattern.substr(0, ZeroPrefix.size()) == ZeroPrefix) {
    const std::u16string_view rest = Pattern.substr(ZeroPrefix.size());
    const std::size_t mark = rest.find(NonZeroMark);
    if (Value == 0)
      chosen = rest.substr(0, mark);
    else
      chosen = mark == std::u16string_view::npos ? std::u16string_view() : rest.substr(mark + NonZeroMark.size());
  }
  // The date goes in as text and is then read as pattern text like the rest.
  const std::u16string date = FormatDateTimeText(CurrentLocale().ShortDateFormat, Value);
  const std::u16string withDate = StringReplace(chosen, u"%D", date, rfReplaceAll);
  return FormatDateTimeText(withDate, Value);
}

}  // namespace zb
