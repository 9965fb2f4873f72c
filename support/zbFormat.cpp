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

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string FormatInteger(std::int64_t v, int prec, char type) {
  std::string digits;
  bool negative = false;
  if (type == 'x') {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    digits = buf;
  } else if (type == 'u') {
    digits = std::to_string(static_cast<std::uint32_t>(v));
  } else {
    negative = v < 0;
    std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    digits = std::to_string(mag);
  }
  if (prec > 0 && static_cast<int>(digits.size()) < prec) digits.insert(0, prec - digits.size(), '0');
  return Ascii((negative ? "-" : "") + digits);
}

std::u16string FormatFloat(double v, int prec, char type) {
  if (prec < 0) prec = type == 'g' ? 15 : 2;
  if (!std::isfinite(v)) return std::isnan(v) ? u"NAN" : (v > 0 ? u"INF" : u"-INF");
  char spec[8] = {'%', '.', '*', type == 'n' ? 'f' : type, 0};
  std::vector<char> buf(512);
  std::snprintf(buf.data(), buf.size(), spec, prec, v);
  std::string s = buf.data();
  if (type == 'n') {  // thousands separators in the integer part
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
  auto readNumber = [&](int& value) {
    bool any = false;
    value = 0;
    while (i < n && AFormat[i] >= u'0' && AFormat[i] <= u'9') {
      if (value < 100000) value = value * 10 + (AFormat[i] - u'0');
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
