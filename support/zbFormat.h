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
  TFormatArg(int AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(long AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(long long AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(unsigned AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(unsigned long AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(unsigned long long AValue) : FValue(static_cast<std::int64_t>(AValue)) {}
  TFormatArg(double AValue) : FValue(AValue) {}
  TFormatArg(std::u16string_view AValue) : FValue(std::u16string(AValue)) {}
  TFormatArg(const std::u16string& AValue) : FValue(AValue) {}
  TFormatArg(const char16_t* AValue) : FValue(std::u16string(AValue ? AValue : u"")) {}

  const std::variant<std::int64_t, double, std::u16string>& Value() const { return FValue; }

 private:
  std::variant<std::int64_t, double, std::u16string> FValue;
};

// Raises EzbConvertError for a directive that has no argument or does not fit its argument.
std::u16string Format(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs);

}  // namespace zb
