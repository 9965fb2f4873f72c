#include "support/zbCoder.h"

#include <gtest/gtest.h>

#include <random>

using namespace zb;

TEST(Base64, GroupsFillAndIncompleteInput) {
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"QUJD"), u"ABC");
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"QUI="), u"AB");
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"QQ=="), u"A");
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"QUJ"), u"");
  EXPECT_EQ(TzbB64Decoder::DecodeString(u""), u"");
  EXPECT_EQ(TzbB64Decoder::DecodeBytes(u"AP8A"), std::string("\x00\xFF\x00", 3));
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"w6TDtsO8"), u"äöü");  // well-formed UTF-8
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"5A=="), u"\u00E4");   // the byte E4 alone: Latin-1
  EXPECT_EQ(TzbB64Decoder::DecodeString(u"w6Q=", TzbEncoding::Latin1), u"Ã¤");
}

TEST(Base64, BufferCarriesIncompleteInputToTheNextCall) {
  TzbB64Decoder decoder;
  TzbMemoryStream out;
  decoder.DecodeToStream(std::string("QU"), out);
  EXPECT_EQ(out.Size(), 0);
  decoder.DecodeToStream(std::string("JD"), out);
  EXPECT_EQ(out.Bytes(), "ABC");
  // A source whose length is a multiple of 4 starts afresh.
  decoder.DecodeToStream(std::string("Q"), out);
  decoder.DecodeToStream(std::string("QUJD"), out);
  EXPECT_EQ(out.Bytes(), "ABCABC");
}

TEST(Base64, GarbageNeverCrashes) {
  // Codes 0 and above 127 give zero bytes; characters outside the alphabet give wrong bytes.
  EXPECT_EQ(TzbB64Decoder::DecodeBytes(std::u16string(u"\0\0\0\0", 4)), std::string(3, '\0'));
  EXPECT_EQ(TzbB64Decoder::DecodeBytes(u"!!!!").size(), 3u);
  EXPECT_EQ(TzbB64Decoder::DecodeBytes(u"\u00FF\u4E2DAA").size(), 3u);
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::u16string s;
    for (int k = 0, n = static_cast<int>(rng() % 64); k < n; ++k) s += static_cast<char16_t>(rng() % 0x10000);
    TzbB64Decoder::DecodeString(s);
    TzbUUEDecoder::DecodeString(s);
    TzbXXEDecoder::DecodeString(s);
  }
}

TEST(UUEncode, LinesCarryTheirByteCount) {
  // "#" decodes to 3: three bytes from four characters.
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"#8V%T"), "cat");
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"\"8V$ "), "ca");  // count 2: the last group is filled once
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"!8P  "), "c");    // count 1: filled twice
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"!8P"), "c");      // trailing blanks cut off by an editor
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"`"), "");         // count 0
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"#8V%T extra"), "cat");
  // Blanks decode like the grave accent (value 0).
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"#    "), std::string(3, '\0'));
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"#````"), std::string(3, '\0'));
  // A line shorter than its count is padded, never read past.
  EXPECT_EQ(TzbUUEDecoder::DecodeBytes(u"M8V").size(), 45u);
}

TEST(UUEncode, EndLines) {
  TzbUUEDecoder uue;
  EXPECT_TRUE(uue.IsEndByte(u"`"));
  EXPECT_TRUE(uue.IsEndByte(u"   "));
  EXPECT_TRUE(uue.IsEndByte(u""));
  EXPECT_FALSE(uue.IsEndByte(u"M"));
  TzbXXEDecoder xxe;
  EXPECT_TRUE(xxe.IsEndByte(u"+"));
  EXPECT_FALSE(xxe.IsEndByte(u"`"));
}

TEST(XXEncode, FillIsMarkedEvenWhenTheLastValuesAreZero) {
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"1Mq3o"), "cat");
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"0Mq2+"), "ca");  // the last value is 0 and still no third byte
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"-Mk++"), "c");
  EXPECT_EQ(TzbXXEDecoder::DecodeString(u"AG4JgP4wg63RjQalY"), u"Hello, World");
  // Only value-0 characters: the count alone decides how many bytes come out.
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"-+++"), std::string(1, '\0'));
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"0++++"), std::string(2, '\0'));
  EXPECT_EQ(TzbXXEDecoder::DecodeBytes(u"1++++"), std::string(3, '\0'));
}

TEST(DecodeTable, AlphabetsAndRangeErrors) {
  const auto& b64 = TzbB64Decoder::ClassTable();
  EXPECT_EQ(b64['A'], 0);
  EXPECT_EQ(b64['/'], 63);
  EXPECT_EQ(b64['='], 255);
  const auto& uue = TzbUUEDecoder::ClassTable();
  EXPECT_EQ(uue['`'], 0);
  EXPECT_EQ(uue[' '], 0);
  EXPECT_EQ(uue['!'], 1);
  EXPECT_EQ(uue['_'], 63);
  const auto& xxe = TzbXXEDecoder::ClassTable();
  EXPECT_EQ(xxe['+'], 0);
  EXPECT_EQ(xxe['z'], 63);
  EXPECT_EQ(xxe['~'], 255);
  TzbDecodeTable t{};
  EXPECT_THROW(TzbDecoder4to3Ex::InitDecodeTable(std::string("a\x80"), t), EzbRangeError);
  EXPECT_THROW(TzbDecoder4to3Ex::InitDecodeTable(std::string("a\0", 2), t), EzbRangeError);
}

TEST(DecodingStream, ReadBytesAndText) {
  auto none = TzbB64Decoder::DecodeStream(u"");
  EXPECT_EQ(none, nullptr);
  auto stream = TzbB64Decoder::DecodeStream(u"w6TDtsO8");  // äöü in UTF-8, 6 bytes
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Position(), 0);
  TBytes bytes = "0123456789";
  EXPECT_EQ(stream->ReadBytes(bytes, 2), 2);
  EXPECT_EQ(bytes,
            "\xC3\xA4"
            "23456789");  // read into the start, not shortened
  std::u16string text;
  EXPECT_EQ(stream->ReadText(text, TzbEncoding::None, 100), 4);
  EXPECT_EQ(text, u"öü");
  bytes = "keep";
  EXPECT_EQ(stream->ReadBytes(bytes), 0);
  EXPECT_EQ(bytes, "keep");
}

TEST(Decoder, BaseClassDecodeIsAbstract) {
  TzbDecoder base;
  TzbMemoryStream out;
  EXPECT_THROW(base.DecodeToStream(std::string("QUJD"), out), EzbAbstractError);
  EXPECT_THROW(base.DecodeToString(u"QUJD"), EzbAbstractError);
}
