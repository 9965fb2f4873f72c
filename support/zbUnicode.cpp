#include "support/zbUnicode.h"

#include <glib.h>

#include <array>

namespace zb {
namespace {

constexpr char32_t Replacement = 0xFFFD;

// Windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 control of the same value,
// as the platform's converter does, so they round-trip.
constexpr std::array<char16_t, 32> Cp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& AOut, char32_t ACp) {
  if (ACp < 0x80) {
    AOut += static_cast<char>(ACp);
  } else if (ACp < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACp >> 6));
    AOut += static_cast<char>(0x80 | (ACp & 0x3F));
  } else if (ACp < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACp >> 12));
    AOut += static_cast<char>(0x80 | ((ACp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACp & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACp >> 18));
    AOut += static_cast<char>(0x80 | ((ACp >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACp & 0x3F));
  }
}

void AppendUtf16(std::u16string& AOut, char32_t ACp) {
  if (ACp < 0x10000) {
    AOut += static_cast<char16_t>(ACp);
  } else {
    ACp -= 0x10000;
    AOut += static_cast<char16_t>(0xD800 + (ACp >> 10));
    AOut += static_cast<char16_t>(0xDC00 + (ACp & 0x3FF));
  }
}

bool InRange(unsigned char AB, unsigned char ALo, unsigned char AHi) { return AB >= ALo && AB <= AHi; }

// Length of the well-formed UTF-8 sequence at s[i], or 0. Same lead and continuation
// ranges as the detection rule, so decoding and detection agree.
// Strict also refuses encoded surrogates (ED A0..BF), which the detection rule lets through but
// which must not become lone surrogates in UTF-16.
std::size_t SequenceLength(std::string_view AS, std::size_t AI, bool AStrict = false) {
  const auto at = [&](std::size_t AK) { return static_cast<unsigned char>(AS[AK]); };
  const unsigned char b = at(AI);
  const std::size_t left = AS.size() - AI;
  auto cont = [&](std::size_t AK, unsigned char ALo = 0x80, unsigned char AHi = 0xBF) {
    return AK < left && InRange(at(AI + AK), ALo, AHi);
  };
  if (b < 0x80) return 1;
  if (InRange(b, 0xC2, 0xDF)) return cont(1) ? 2 : 0;
  if (b == 0xE0) return cont(1, 0xA0, 0xBF) && cont(2) ? 3 : 0;
  if (AStrict && b == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
  if (InRange(b, 0xE1, 0xEF)) return cont(1) && cont(2) ? 3 : 0;
  if (b == 0xF0) return cont(1, 0x90, 0xBF) && cont(2) && cont(3) ? 4 : 0;
  if (InRange(b, 0xF1, 0xF3)) return cont(1) && cont(2) && cont(3) ? 4 : 0;
  if (b == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
  return 0;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    char32_t c = AText[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 && AText[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (AText[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = Replacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string out;
  out.reserve(AText.size());
  std::size_t i = 0;
  while (i < AText.size()) {
    const std::size_t len = SequenceLength(AText, i, true);
    if (len == 0) {
      AppendUtf16(out, Replacement);
      ++i;
      continue;
    }
    const auto b = [&](std::size_t AK) { return static_cast<char32_t>(static_cast<unsigned char>(AText[i + AK])); };
    char32_t cp = 0;
    switch (len) {
      case 1: cp = b(0); break;
      case 2: cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F); break;
      case 3: cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F); break;
      default: cp = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F); break;
    }
    AppendUtf16(out, cp);
    i += len;
  }
  return out;
}

std::string ToAnsiBytes(std::u16string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    // A character outside the BMP is one character the code page lacks, though it takes two units.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 && AText[i + 1] <= 0xDFFF) {
      out += AnsiDefaultChar;
      ++i;
      continue;
    }
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = AnsiDefaultChar;
    for (std::size_t k = 0; k < Cp1252High.size(); ++k)
      if (Cp1252High[k] == c) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    out += mapped;
  }
  return out;
}

std::u16string FromAnsiBytes(std::string_view ABytes) {
  std::u16string out;
  out.reserve(ABytes.size());
  for (char ch : ABytes) {
    const auto b = static_cast<unsigned char>(ch);
    out += (b >= 0x80 && b <= 0x9F) ? Cp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

std::string ToLatin1Bytes(std::u16string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (char16_t c : AText) out += c <= 0xFF ? static_cast<char>(c) : AnsiDefaultChar;
  return out;
}

std::u16string FromLatin1Bytes(std::string_view ABytes) {
  std::u16string out;
  out.reserve(ABytes.size());
  for (char ch : ABytes) out += static_cast<char16_t>(static_cast<unsigned char>(ch));
  return out;
}

char16_t UnicodeUpperChar(char16_t AChar) {
  if (AChar < 0x80) return (AChar >= u'a' && AChar <= u'z') ? static_cast<char16_t>(AChar - 32) : AChar;
  if (AChar >= 0xD800 && AChar <= 0xDFFF) return AChar;  // surrogate halves have no case of their own
  const gunichar upper = g_unichar_toupper(AChar);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : AChar;
}

std::u16string UnicodeUpperCase(std::u16string_view AText) {
  std::u16string out(AText);
  for (auto& c : out) c = UnicodeUpperChar(c);
  return out;
}

std::u16string AsciiUpperCase(std::u16string_view AText) {
  std::u16string out(AText);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

TUTF8Class DetectUTF8Bytes(std::string_view ABytes) {
  std::size_t i = 0;
  while (i < ABytes.size() && static_cast<unsigned char>(ABytes[i]) < 0x80) ++i;
  if (i == ABytes.size()) return TUTF8Class::ucASCII;
  while (i < ABytes.size()) {
    const std::size_t len = SequenceLength(ABytes, i);
    if (len == 0) return TUTF8Class::ucOther;
    i += len;
  }
  return TUTF8Class::ucUTF8;
}

bool IsWellFormedUTF8(std::string_view ABytes) { return DetectUTF8Bytes(ABytes) != TUTF8Class::ucOther; }

bool IsUTF8Text(std::u16string_view AText) {
  return !AText.empty() && DetectUTF8Bytes(ToAnsiBytes(AText)) == TUTF8Class::ucUTF8;
}

std::u16string DecodeUTF8Text(std::u16string_view AText) { return Utf8ToUtf16(ToAnsiBytes(AText)); }

std::u16string StripUTF8BOM(std::u16string_view AText) {
  const std::string bytes = ToAnsiBytes(AText.substr(0, 3));
  if (bytes == "\xEF\xBB\xBF") return std::u16string(AText.substr(3));
  return std::u16string(AText);
}

}  // namespace zb
