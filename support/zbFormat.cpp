#include "support/zbFormat.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "support/zbException.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

[[noreturn]] void FormatError(std::u16string_view AFormat) {
  throw EzbConvertError(u"Format \"" + std::u16string(AFormat) +
                        u"\" ist ungültig oder mit dem Argument nicht vereinbar");
}

std::u16string Ascii(const std::string& AText) { return std::u16string(AText.begin(), AText.end()); }

std::u16string FormatInteger(std::int64_t AValue, int APrec, char AType) {
  std::string digits;
  bool negative = false;
  if (AType == 'x') {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(AValue));
    digits = buf;
  } else if (AType == 'u') {
    digits = std::to_string(static_cast<std::uint32_t>(AValue));
  } else {
    negative = AValue < 0;
    std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(AValue) : static_cast<std::uint64_t>(AValue);
    digits = std::to_string(mag);
  }
  if (APrec > 0 && static_cast<int>(digits.size()) < APrec) digits.insert(0, APrec - digits.size(), '0');
  return Ascii((negative ? "-" : "") + digits);
}

std::u16string FormatFloat(double AValue, int APrec, char AType) {
  if (APrec < 0) APrec = AType == 'g' ? 15 : 2;
  if (!std::isfinite(AValue)) return std::isnan(AValue) ? u"NAN" : (AValue > 0 ? u"INF" : u"-INF");
  char spec[8] = {'%', '.', '*', AType == 'n' ? 'f' : AType, 0};
  std::vector<char> buf(512);
  std::snprintf(buf.data(), buf.size(), spec, APrec, AValue);
  std::string s = buf.data();
  if (AType == 'n') {  // thousands separators in the integer part
    std::size_t start = s[0] == '-' ? 1 : 0;
    std::size_t dot = s.find('.');
    if (dot == std::string::npos) dot = s.size();
    for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(dot) - 3; i > static_cast<std::ptrdiff_t>(start); i -= 3)
      s.insert(static_cast<std::size_t>(i), ",");
  }
  return Ascii(s);
}

}  // namespace

std::u16string Format(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs) {
  const std::vector<TFormatArg> args(AArgs);
  std::u16string out;
  std::size_t next = 0;
  std::size_t i = 0;
  const std::size_t n = AFormat.size();
  auto readNumber = [&](int& AValue) {
    bool any = false;
    AValue = 0;
    while (i < n && AFormat[i] >= u'0' && AFormat[i] <= u'9') {
      if (AValue < 100000) AValue = AValue * 10 + (AFormat[i] - u'0');
      ++i;
      any = true;
    }
    return any;
  };
  while (i < n) {
    char16_t c = AFormat[i++];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (i < n && AFormat[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    int first = 0;
    bool haveFirst = readNumber(first);
    if (haveFirst && i < n && AFormat[i] == u':') {
      next = static_cast<std::size_t>(first);
      ++i;
      haveFirst = false;
    }
    bool left = false;
    if (!haveFirst && i < n && AFormat[i] == u'-') {
      left = true;
      ++i;
    }
    int width = 0;
    if (haveFirst)
      width = first;
    else
      readNumber(width);
    int prec = -1;
    if (i < n && AFormat[i] == u'.') {
      ++i;
      readNumber(prec);
    }
    if (i >= n || next >= args.size()) FormatError(AFormat);
    char type = static_cast<char>(AFormat[i++] | 0x20);
    const auto& value = args[next++].Value();
    std::u16string piece;
    switch (type) {
      case 'd':
      case 'u':
      case 'x':
        if (!std::holds_alternative<std::int64_t>(value)) FormatError(AFormat);
        piece = FormatInteger(std::get<std::int64_t>(value), prec, type);
        break;
      case 'f':
      case 'e':
      case 'g':
      case 'n':
        if (std::holds_alternative<std::u16string>(value)) FormatError(AFormat);
        piece = FormatFloat(std::holds_alternative<double>(value) ? std::get<double>(value)
                                                                  : static_cast<double>(std::get<std::int64_t>(value)),
                            prec, type);
        break;
      case 's':
        if (!std::holds_alternative<std::u16string>(value)) FormatError(AFormat);
        piece = std::get<std::u16string>(value);
        if (prec >= 0 && piece.size() > static_cast<std::size_t>(prec)) piece.resize(static_cast<std::size_t>(prec));
        break;
      default: FormatError(AFormat);
    }
    if (static_cast<int>(piece.size()) < width) {
      std::u16string pad(static_cast<std::size_t>(width) - piece.size(), u' ');
      piece = left ? piece + pad : pad + piece;
    }
    out += piece;
  }
  return out;
}

}  // namespace zb
