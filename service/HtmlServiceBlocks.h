// The data blocks of the request protocol, read and written byte by byte (little-endian, packed):
// UTF-16LE text ended by NUL, the 8-byte TPoint and the 22-byte THtmlExecCmd. Readers never read
// past the block they are given; the writers are what the typed methods and the client send.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "support/zbStr.h"  // TPoint

namespace zb {

using TBlock = std::vector<std::uint8_t>;
using TBlockView = std::span<const std::uint8_t>;

inline constexpr std::size_t TPointSize = 8;

// The OLE variant of a command value: type code, three reserved words, eight value bytes.
using TOleVariantBytes = std::array<std::uint8_t, 16>;

struct THtmlExecCmd {
  std::int32_t iCmdID = 0;
  std::int16_t bShowUI = 0;  // 0 false, -1 true as the engine writes it; passed on unchanged
  TOleVariantBytes oleValue{};
};
inline constexpr std::size_t THtmlExecCmdSize = 22;

// OLE variant type codes of the values that live inside the variant's own bytes.
enum TOleVarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
};
inline constexpr std::int16_t VARIANT_TRUE = -1;

// Up to, not including, the first NUL; an empty block is the empty text; a trailing odd byte is
// not part of any UTF-16 unit and is left out.
std::u16string ReadTextBlock(TBlockView ABlock);
TBlock MakeTextBlock(std::u16string_view AText);

// Empty when the block is shorter than the record.
std::optional<TPoint> ReadPointBlock(TBlockView ABlock);
TBlock MakePointBlock(TPoint APoint);
std::optional<THtmlExecCmd> ReadExecCmdBlock(TBlockView ABlock);
TBlock MakeExecCmdBlock(const THtmlExecCmd& ACommand);

// A command value that fits the variant's own bytes; a value that would refer to the sender's
// memory (a text) has no place in the record.
using TCommandValue = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                                   std::uint32_t, std::int64_t, std::uint64_t, double>;
TOleVariantBytes MakeOleVariant(const TCommandValue& AValue);
std::uint16_t OleVariantType(const TOleVariantBytes& AValue);
// The variant's eight value bytes as one little-endian number; narrower types use its low bytes.
std::uint64_t OleVariantBits(const TOleVariantBytes& AValue);

}  // namespace zb
