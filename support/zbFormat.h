// printf-like formatting of UTF-16 texts, as the system's messages are written:
// %[index:][-][width][.precision]type with the types d, u, x, s, f, e, g, n and "%%".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace zb {

class TFormatArg {
 public:
  TFormatArg(int v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(long v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(long long v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(unsigned v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(unsigned long v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(unsigned long long v) : FValue(static_cast<std::int64_t>(v)) {}
  TFormatArg(double v) : FValue(v) {}
  TFormatArg(std::u16string_view v) : FValue(std::u16string(v)) {}
  TFormatArg(const std::u16string& v) : FValue(v) {}
  TFormatArg(const char16_t* v) : FValue(std::u16string(v ? v : u"")) {}

  const std::variant<std::int64_t, double, std::u16string>& Value() const { return FValue; }

 private:
  std::variant<std::int64_t, double, std::u16string> FValue;
};

// Raises EzbConvertError for a directive that has no argument or does not fit its argument.
std::u16string Format(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs);

}  // namespace zb
