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
  TFormatArg(int AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(long AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(long long AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(unsigned AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(unsigned long AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(unsigned long long AV) : FValue(static_cast<std::int64_t>(AV)) {}
  TFormatArg(double AV) : FValue(AV) {}
  TFormatArg(std::u16string_view AV) : FValue(std::u16string(AV)) {}
  TFormatArg(const std::u16string& AV) : FValue(AV) {}
  TFormatArg(const char16_t* AV) : FValue(std::u16string(AV ? AV : u"")) {}

  const std::variant<std::int64_t, double, std::u16string>& Value() const { return FValue; }

 private:
  std::variant<std::int64_t, double, std::u16string> FValue;
};

// Raises EzbConvertError for a directive that has no argument or does not fit its argument.
std::u16string Format(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs);

}  // namespace zb
