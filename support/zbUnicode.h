// Text at the boundaries: UTF-16 <-> UTF-8, the fixed ANSI code page (Windows-1252),
// Unicode upper-casing per UTF-16 unit, and the repair of UTF-8 that was read as ANSI.
#pragma once

#include <string>
#include <string_view>

namespace zb {

// Invalid input (lone surrogates, broken UTF-8) becomes U+FFFD; never raises.
std::string Utf16ToUtf8(std::u16string_view AText);
std::u16string Utf8ToUtf16(std::string_view AText);

// The ANSI code page is Windows-1252; characters it lacks become '?'.
constexpr char AnsiDefaultChar = '?';
std::string ToAnsiBytes(std::u16string_view AText);
std::u16string FromAnsiBytes(std::string_view ABytes);
// Latin-1 (ISO 8859-1): one byte per character, characters above U+00FF become '?'.
std::string ToLatin1Bytes(std::u16string_view AText);
std::u16string FromLatin1Bytes(std::string_view ABytes);

char16_t UnicodeUpperChar(char16_t AChar);
std::u16string UnicodeUpperCase(std::u16string_view AText);
// Only a..z change.
std::u16string AsciiUpperCase(std::u16string_view AText);

enum class TUTF8Class { ucASCII, ucUTF8, ucOther };
TUTF8Class DetectUTF8Bytes(std::string_view ABytes);
// ASCII bytes count as well-formed; an empty string is well-formed too.
bool IsWellFormedUTF8(std::string_view ABytes);

bool IsUTF8Text(std::u16string_view AText);
std::u16string DecodeUTF8Text(std::u16string_view AText);
std::u16string StripUTF8BOM(std::u16string_view AText);

}  // namespace zb
