// The library's base error: one message text, built from a message or a formatted message.
// Every error the support library and the subsystems raise derives from it.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>

#include "support/zbFormat.h"

namespace zb {

class EzbException : public std::exception {
 public:
  explicit EzbException(std::u16string AMessage);
  // printf-like: "%s", "%d", "%.4d", "%x" and the indexed form "%0:s".
  EzbException(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs);

  const std::u16string& Message() const noexcept { return FMessage; }
  void SetMessage(std::u16string AMessage);
  const char* what() const noexcept override { return FUtf8.c_str(); }

 private:
  std::u16string FMessage;
  std::string FUtf8;  // what() must not allocate
};

// Conversion failures (the platform's EConvertError).
class EzbConvertError : public EzbException {
 public:
  using EzbException::EzbException;
};

// File and stream failures (the platform's EFCreateError / EWriteError family).
class EzbFileError : public EzbException {
 public:
  using EzbException::EzbException;
};

// A value outside its allowed range (the platform's ERangeError).
class EzbRangeError : public EzbException {
 public:
  using EzbException::EzbException;
};

}  // namespace zb
