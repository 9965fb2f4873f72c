#include "service/HtmlServiceBlocks.h"

#include <cstring>

namespace zb {

namespace {

template <typename T>
void PutLE(std::uint8_t* ADest, T AValue) {
  using U = std::make_unsigned_t<T>;
  U v = static_cast<U>(AValue);
  for (std::size_t i = 0; i < sizeof(T); ++i) ADest[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <typename T>
T GetLE(const std::uint8_t* ASource) {
  using U = std::make_unsigned_t<T>;
  U v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<U>(v | (static_cast<U>(ASource[i]) << (8 * i)));
  return static_cast<T>(v);
}

constexpr std::size_t OleTypeOffset = 0;
constexpr std::size_t OleValueOffset = 8;

}  // namespace

std::u16string ReadTextBlock(TBlockView ABlock) {
  std::u16string text;
  const std::size_t units = ABlock.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t c = GetLE<std::uint16_t>(ABlock.data() + 2 * i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

TBlock MakeTextBlock(std::u16string_view AText) {
  TBlock block((AText.size() + 1) * 2, 0);
  for (std::size_t i = 0; i < AText.size(); ++i) PutLE<std::uint16_t>(block.data() + 2 * i, AText[i]);
  return block;
}

std::optional<TPoint> ReadPointBlock(TBlockView ABlock) {
  if (ABlock.size() < TPointSize) return std::nullopt;
  return TPoint{GetLE<std::int32_t>(ABlock.data()), GetLE<std::int32_t>(ABlock.data() + 4)};
}

TBlock MakePointBlock(TPoint APoint) {
  TBlock block(TPointSize);
  PutLE(block.data(), APoint.X);
  PutLE(block.data() + 4, APoint.Y);
  return block;
}

std::optional<THtmlExecCmd> ReadExecCmdBlock(TBlockView ABlock) {
  if (ABlock.size() < THtmlExecCmdSize) return std::nullopt;
  THtmlExecCmd cmd;
  cmd.iCmdID = GetLE<std::int32_t>(ABlock.data());
  cmd.bShowUI = GetLE<std::int16_t>(ABlock.data() + 4);
  std::memcpy(cmd.oleValue.data(), ABlock.data() + 6, cmd.oleValue.size());
  return cmd;
}

TBlock MakeExecCmdBlock(const THtmlExecCmd& ACommand) {
  TBlock block(THtmlExecCmdSize);
  PutLE(block.data(), ACommand.iCmdID);
  PutLE(block.data() + 4, ACommand.bShowUI);
  std::memcpy(block.data() + 6, ACommand.oleValue.data(), ACommand.oleValue.size());
  return block;
}

TOleVariantBytes MakeOleVariant(const TCommandValue& AValue) {
  TOleVariantBytes bytes{};
  std::uint8_t* value = bytes.data() + OleValueOffset;
  auto setType = [&](std::uint16_t AType) { PutLE(bytes.data() + OleTypeOffset, AType); };
  std::visit(
      [&](const auto& AV) {
        using T = std::decay_t<decltype(AV)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          setType(VT_EMPTY);
        } else if constexpr (std::is_same_v<T, bool>) {
          setType(VT_BOOL);
          PutLE<std::int16_t>(value, AV ? VARIANT_TRUE : 0);
        } else if constexpr (std::is_same_v<T, double>) {
          setType(VT_R8);
          std::uint64_t bits;
          std::memcpy(&bits, &AV, sizeof bits);
          PutLE(value, bits);
        } else {
          constexpr std::uint16_t type = std::is_same_v<T, std::uint8_t>    ? VT_UI1
                                         : std::is_same_v<T, std::int16_t>  ? VT_I2
                                         : std::is_same_v<T, std::uint16_t> ? VT_UI2
                                         : std::is_same_v<T, std::int32_t>  ? VT_I4
                                         : std::is_same_v<T, std::uint32_t> ? VT_UI4
                                         : std::is_same_v<T, std::int64_t>  ? VT_I8
                                                                            : VT_UI8;
          setType(type);
          PutLE(value, AV);
        }
      },
      AValue);
  return bytes;
}

std::uint64_t OleVariantBits(const TOleVariantBytes& AValue) {
  return GetLE<std::uint64_t>(AValue.data() + OleValueOffset);
}

std::uint16_t OleVariantType(const TOleVariantBytes& AValue) {
  return GetLE<std::uint16_t>(AValue.data() + OleTypeOffset);
}

}  // namespace zb
