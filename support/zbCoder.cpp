#include "support/zbCoder.h"

#include <algorithm>
#include <cstring>

namespace zb {
namespace {

constexpr std::string_view Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view XXEAlphabet = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char GraveAccent = '`';

std::string UUEAlphabet() {
  std::string alphabet(1, GraveAccent);
  for (char c = '!'; c <= '_'; ++c) alphabet += c;
  return alphabet;
}

std::u16string BytesToText(const TBytes& ABytes, TzbEncoding AEncoding) {
  if (AEncoding == TzbEncoding::None)
    AEncoding = !ABytes.empty() && IsWellFormedUTF8(ABytes) ? TzbEncoding::UTF8 : TzbEncoding::Latin1;
  switch (AEncoding) {
    case TzbEncoding::UTF8: return Utf8ToUtf16(ABytes);
    case TzbEncoding::Ansi: return FromAnsiBytes(ABytes);
    case TzbEncoding::UTF16LE: {
      std::u16string text;
      for (std::size_t i = 0; i + 1 < ABytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(ABytes[i]) |
                                      (static_cast<unsigned char>(ABytes[i + 1]) << 8));
      return text;
    }
    default: return FromLatin1Bytes(ABytes);
  }
}

}  // namespace

void TzbMemoryStream::WriteBuffer(const void* AData, std::size_t ACount) {
  const auto* p = static_cast<const char*>(AData);
  if (FPosition > FData.size()) FData.resize(FPosition);
  const std::size_t overlap = std::min(ACount, FData.size() - FPosition);
  std::memcpy(FData.data() + FPosition, p, overlap);
  FData.append(p + overlap, ACount - overlap);
  FPosition += ACount;
}

std::size_t TzbMemoryStream::Read(void* AData, std::size_t ACount) {
  if (FPosition >= FData.size()) return 0;
  const std::size_t n = std::min(ACount, FData.size() - FPosition);
  std::memcpy(AData, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

void TzbMemoryStream::Seek(std::int64_t APosition) {
  FPosition = APosition < 0 ? 0 : static_cast<std::size_t>(APosition);
}

TzbDecodingStream::TzbDecodingStream(IzbDecoder& ADecoder, std::u16string_view ASource) {
  ADecoder.DecodeToStream(ASource, *this);
}

std::int64_t TzbDecodingStream::ReadBytes(TBytes& ABytes, std::int64_t ACount) {
  const std::int64_t remaining = Size() - Position();
  if (ACount < 0 || ACount > remaining) ACount = remaining;
  if (ACount <= 0) return 0;
  if (static_cast<std::int64_t>(ABytes.size()) < ACount) ABytes.resize(static_cast<std::size_t>(ACount));
  return static_cast<std::int64_t>(Read(ABytes.data(), static_cast<std::size_t>(ACount)));
}

std::int64_t TzbDecodingStream::ReadText(std::u16string& AText, TzbEncoding AEncoding, std::int64_t ACount) {
  TBytes bytes;
  const std::int64_t n = ReadBytes(bytes, ACount);
  bytes.resize(static_cast<std::size_t>(n));
  AText = BytesToText(bytes, AEncoding);
  return n;
}

std::u16string TzbDecoder::DecodeToString(std::u16string_view ASource, TzbEncoding AEncoding) {
  if (ASource.empty()) return {};
  TzbDecodingStream stream(*this, ASource);
  stream.Seek(0);
  std::u16string text;
  stream.ReadText(text, AEncoding);
  return text;
}

TBytes TzbDecoder::DecodeToBytes(std::u16string_view ASource) {
  if (ASource.empty()) return {};
  TzbDecodingStream stream(*this, ASource);
  stream.Seek(0);
  TBytes bytes;
  stream.ReadBytes(bytes);
  return bytes;
}

void TzbDecoder::DecodeToStream(std::u16string_view ASource, TzbStream& AStream) {
  DecodeToStream(ToLatin1Bytes(ASource), AStream);
}

void TzbDecoder::DecodeToStream(const TBytes&, TzbStream&) {
  throw EzbAbstractError(std::u16string(u"Abstrakter Fehler: TzbDecoder.DecodeToStream"));
}

bool TzbDecoder4to3::IsEndByte(std::u16string_view AValue) const {
  return IsBlankText(AValue) || AValue.front() == static_cast<char16_t>(static_cast<unsigned char>(FEndByte));
}

void TzbDecoder4to3Ex::InitDecodeTable(std::string_view ACodingTable, TzbDecodeTable& ADecodeArray) {
  ADecodeArray.fill(255);
  for (std::size_t i = 0; i < ACodingTable.size(); ++i) {
    const auto code = static_cast<unsigned char>(ACodingTable[i]);
    if (code == 0 || code > 127)
      throw EzbRangeError(u"Zeichen %d liegt außerhalb des Bereichs 1..127", {static_cast<int>(code)});
    ADecodeArray[code] = static_cast<std::uint8_t>(i);
  }
}

void TzbDecoder4to3Ex::DecodeToStream(const TBytes& ASource, TzbStream& AStream) {
  if (ASource.size() % 4 == 0)
    FBuffer = ASource;
  else
    FBuffer += ASource;
  if (FBuffer.size() % 4 != 0) return;

  // A character code outside 1..127 cannot be looked up: the bytes that need it come out as 0.
  const auto value = [&](unsigned char AChar, bool& AOk) -> unsigned {
    if (AChar == 0 || AChar > 127) {
      AOk = false;
      return 0;
    }
    return FDecodeTable[AChar];
  };
  TBytes out;
  out.reserve(FBuffer.size() / 4 * 3);
  const auto fill = static_cast<unsigned char>(FFillByte);
  for (std::size_t g = 0; g < FBuffer.size(); g += 4) {
    const auto c0 = static_cast<unsigned char>(FBuffer[g]), c1 = static_cast<unsigned char>(FBuffer[g + 1]),
               c2 = static_cast<unsigned char>(FBuffer[g + 2]), c3 = static_cast<unsigned char>(FBuffer[g + 3]);
    bool ok0 = true, ok1 = true, ok2 = true;
    unsigned b0 = (value(c0, ok0) << 2) | ((value(c1, ok0) >> 4) & 0x03);
    if (b0 > 255) ok0 = false;
    const unsigned b1 = ((value(c1, ok1) & 0x0F) << 4) | ((value(c2, ok1) >> 2) & 0x0F);
    const unsigned b2 = ((value(c2, ok2) & 0x03) << 6) | (value(c3, ok2) & 0x3F);
    out += static_cast<char>(ok0 ? b0 : 0);
    if (c3 == fill && c2 == fill) continue;
    out += static_cast<char>(ok1 ? b1 : 0);
    if (c3 == fill) continue;
    out += static_cast<char>(ok2 ? b2 : 0);
  }
  FBuffer.clear();
  AStream.WriteBuffer(out.data(), out.size());
}

TzbB64Decoder::TzbB64Decoder() {
  FDecodeTable = ClassTable();
  FFillByte = '=';
}

const TzbDecodeTable& TzbB64Decoder::ClassTable() {
  static const TzbDecodeTable table = [] {
    TzbDecodeTable t{};
    TzbDecoder4to3Ex::InitDecodeTable(Base64Alphabet, t);
    return t;
  }();
  return table;
}

TzbUUEBaseDecoder::TzbUUEBaseDecoder() { FFillByte = '~'; }

void TzbUUEBaseDecoder::DecodeToStream(std::u16string_view ASource, TzbStream& AStream) {
  if (ASource.empty()) return;
  std::string line = ToLatin1Bytes(ASource);
  const auto first = static_cast<unsigned char>(line[0]);
  const unsigned count = (first == 0 || first > 127) ? 0 : FDecodeTable[first];
  line.erase(0, 1);
  const std::size_t k = std::size_t{count} / 3 * 4;
  switch (count % 3) {
    case 0: line.resize(k); break;
    case 1:
      line.resize(k + 4);
      line[k + 2] = line[k + 3] = FFillByte;
      break;
    default:
      line.resize(k + 4);
      line[k + 3] = FFillByte;
      break;
  }
  TzbDecoder4to3Ex::DecodeToStream(line, AStream);
}

TzbUUEDecoder::TzbUUEDecoder() {
  FDecodeTable = ClassTable();
  FEndByte = GraveAccent;
}

void TzbUUEDecoder::InitDecodeTable(std::string_view ACodingTable, TzbDecodeTable& ADecodeArray) {
  TzbDecoder4to3Ex::InitDecodeTable(ACodingTable, ADecodeArray);
  ADecodeArray[' '] = ADecodeArray[static_cast<unsigned char>(GraveAccent)];
}

const TzbDecodeTable& TzbUUEDecoder::ClassTable() {
  static const TzbDecodeTable table = [] {
    TzbDecodeTable t{};
    TzbUUEDecoder::InitDecodeTable(UUEAlphabet(), t);
    return t;
  }();
  return table;
}

TzbXXEDecoder::TzbXXEDecoder() {
  FDecodeTable = ClassTable();
  FEndByte = '+';
}

const TzbDecodeTable& TzbXXEDecoder::ClassTable() {
  static const TzbDecodeTable table = [] {
    TzbDecodeTable t{};
    TzbDecoder4to3Ex::InitDecodeTable(XXEAlphabet, t);
    return t;
  }();
  return table;
}

}  // namespace zb
