// Decoders for the three transfer encodings that carry 6 bits per character: Base64, uuencode and
// xxencode. A decoder turns encoded text into bytes, into a stream, or into text.
// uuencode and xxencode decoders take one encoded line per call (its first character is the count).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/zbException.h"
#include "support/zbFileCtrl.h"

namespace zb {

using TBytes = std::string;  // raw bytes
// Index = character code 1..127; 255 marks a character outside the alphabet. Entry 0 is unused.
using TzbDecodeTable = std::array<std::uint8_t, 128>;

class EzbAbstractError : public EzbException {
 public:
  using EzbException::EzbException;
};

class TzbStream {
 public:
  virtual ~TzbStream() = default;
  virtual void WriteBuffer(const void* AData, std::size_t ACount) = 0;
};

class TzbMemoryStream : public TzbStream {
 public:
  void WriteBuffer(const void* AData, std::size_t ACount) override;
  std::size_t Read(void* AData, std::size_t ACount);
  std::int64_t Size() const { return static_cast<std::int64_t>(FData.size()); }
  std::int64_t Position() const { return static_cast<std::int64_t>(FPosition); }
  void Seek(std::int64_t APosition);
  const TBytes& Bytes() const { return FData; }

 private:
  TBytes FData;
  std::size_t FPosition = 0;
};

class TzbCodingStream : public TzbMemoryStream {};

// "No encoding" (TzbEncoding::None) means: UTF-8 when the bytes are well-formed UTF-8, else Latin-1.
class IzbDecoder {
 public:
  virtual ~IzbDecoder() = default;
  virtual std::u16string DecodeToString(std::u16string_view ASource, TzbEncoding AEncoding = TzbEncoding::None) = 0;
  virtual void DecodeToStream(std::u16string_view ASource, TzbStream& AStream) = 0;
  virtual void DecodeToStream(const TBytes& ASource, TzbStream& AStream) = 0;
};

class TzbDecodingStream : public TzbCodingStream {
 public:
  TzbDecodingStream(IzbDecoder& ADecoder, std::u16string_view ASource);
  // Count below 0: everything from the position on. Bytes grows to at least Count, never shrinks.
  std::int64_t ReadBytes(TBytes& ABytes, std::int64_t ACount = -1);
  std::int64_t ReadText(std::u16string& AText, TzbEncoding AEncoding = TzbEncoding::None, std::int64_t ACount = -1);
};

class TzbDecoder : public IzbDecoder {
 public:
  std::u16string DecodeToString(std::u16string_view ASource, TzbEncoding AEncoding = TzbEncoding::None) override;
  TBytes DecodeToBytes(std::u16string_view ASource);
  // The text is taken as Latin-1, one byte per character.
  void DecodeToStream(std::u16string_view ASource, TzbStream& AStream) override;
  // Abstract here: raises EzbAbstractError.
  void DecodeToStream(const TBytes& ASource, TzbStream& AStream) override;
};

class TzbDecoder4to3 : public TzbDecoder {
 public:
  bool IsEndByte(std::u16string_view AValue) const;
  char FFillByte = 0;
  char FEndByte = 0;
};

class TzbDecoder4to3Ex : public TzbDecoder4to3 {
 public:
  using TzbDecoder::DecodeToStream;
  void DecodeToStream(const TBytes& ASource, TzbStream& AStream) override;
  // Raises EzbRangeError for an alphabet character outside codes 1..127.
  static void InitDecodeTable(std::string_view ACodingTable, TzbDecodeTable& ADecodeArray);

  TBytes FBuffer;
  TzbDecodeTable FDecodeTable{};
};

// The class operations: each call creates a decoder of the class, uses it once and releases it.
template <class TSelf, class TBase>
class TzbDecoderClass : public TBase {
 public:
  static std::u16string DecodeString(std::u16string_view ASource, TzbEncoding AEncoding = TzbEncoding::None) {
    TSelf decoder;
    return decoder.DecodeToString(ASource, AEncoding);
  }
  static TBytes DecodeBytes(std::u16string_view ASource) {
    TSelf decoder;
    return decoder.DecodeToBytes(ASource);
  }
  // None for an empty source.
  static std::unique_ptr<TzbDecodingStream> DecodeStream(std::u16string_view ASource) {
    if (ASource.empty()) return nullptr;
    TSelf decoder;
    auto stream = std::make_unique<TzbDecodingStream>(decoder, ASource);
    stream->Seek(0);
    return stream;
  }
};

class TzbB64Decoder : public TzbDecoderClass<TzbB64Decoder, TzbDecoder4to3Ex> {
 public:
  TzbB64Decoder();
  static const TzbDecodeTable& ClassTable();
};

class TzbUUEBaseDecoder : public TzbDecoder4to3Ex {
 public:
  TzbUUEBaseDecoder();
  using TzbDecoder4to3Ex::DecodeToStream;
  // One encoded line: its first character is the number of bytes the line carries.
  void DecodeToStream(std::u16string_view ASource, TzbStream& AStream) override;
};

class TzbUUEDecoder : public TzbDecoderClass<TzbUUEDecoder, TzbUUEBaseDecoder> {
 public:
  TzbUUEDecoder();
  static void InitDecodeTable(std::string_view ACodingTable, TzbDecodeTable& ADecodeArray);
  static const TzbDecodeTable& ClassTable();
};

// The fill character is "~" as for uuencode: outside the alphabet, so a filled last group can be told
// from one that ends in characters of value 0 ("+").
class TzbXXEDecoder : public TzbDecoderClass<TzbXXEDecoder, TzbUUEBaseDecoder> {
 public:
  TzbXXEDecoder();
  static const TzbDecodeTable& ClassTable();
};

}  // namespace zb
