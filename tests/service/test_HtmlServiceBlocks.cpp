// Reading the data blocks exactly as the protocol lays them out, and never past their end.
#include <gtest/gtest.h>

#include <climits>

#include "service/HtmlServiceBlocks.h"

namespace zb {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> AValues) {
  std::vector<std::uint8_t> v;
  for (int b : AValues) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

TEST(TextBlock, ReadsUpToTheFirstNulWhateverFollows) {
  EXPECT_EQ(ReadTextBlock(Bytes({'a', 0, 'b', 0, 0, 0, 'c', 0})), u"ab");
  EXPECT_EQ(ReadTextBlock(Bytes({0, 0, 'x', 0})), u"");
  EXPECT_EQ(ReadTextBlock({}), u"");
  EXPECT_EQ(ReadTextBlock(Bytes({'a', 0, 'b', 0})), u"ab");  // no NUL: the whole block
  EXPECT_EQ(ReadTextBlock(Bytes({0xE4, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0, 0})), u"\u00E4\U0001F600");
}

TEST(TextBlock, AnOddLengthKeepsOnlyWholeUnits) {
  EXPECT_EQ(ReadTextBlock(Bytes({'a', 0, 'b'})), u"a");
  EXPECT_EQ(ReadTextBlock(Bytes({'a'})), u"");
}

TEST(TextBlock, WritesLittleEndianWithTheNulInside) {
  EXPECT_EQ(MakeTextBlock(u"A\u20AC"), Bytes({'A', 0, 0xAC, 0x20, 0, 0}));
  EXPECT_EQ(ReadTextBlock(MakeTextBlock(u"/tmp/ä b.htm")), u"/tmp/ä b.htm");
}

TEST(PointBlock, SignedLittleEndianAndShortBlocksRefused) {
  auto p = ReadPointBlock(Bytes({0x00, 0x00, 0x00, 0x80, 100, 0, 0, 0, 0xEE}));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->X, INT_MIN);
  EXPECT_EQ(p->Y, 100);
  EXPECT_FALSE(ReadPointBlock(Bytes({1, 2, 3, 4, 5, 6, 7})));
  EXPECT_FALSE(ReadPointBlock({}));
  auto q = ReadPointBlock(MakePointBlock({-5, INT_MAX}));
  ASSERT_TRUE(q);
  EXPECT_EQ(q->X, -5);
  EXPECT_EQ(q->Y, INT_MAX);
}

TEST(ExecCmdBlock, TwentyTwoPackedBytes) {
  // iCmdID 6, bShowUI -1, VT_I4 42.
  auto block = Bytes({6, 0, 0, 0, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0});
  auto cmd = ReadExecCmdBlock(block);
  ASSERT_TRUE(cmd);
  EXPECT_EQ(cmd->iCmdID, 6);
  EXPECT_EQ(cmd->bShowUI, -1);
  EXPECT_EQ(OleVariantType(cmd->oleValue), VT_I4);
  EXPECT_EQ(cmd->oleValue, MakeOleVariant(std::int32_t(42)));
  EXPECT_EQ(MakeExecCmdBlock(*cmd), block);
  block.pop_back();
  EXPECT_FALSE(ReadExecCmdBlock(block));
}

TEST(ExecCmdBlock, ValuesLiveInTheVariantsOwnBytes) {
  EXPECT_EQ(OleVariantType(MakeOleVariant(std::monostate{})), VT_EMPTY);
  auto t = MakeOleVariant(true);
  EXPECT_EQ(OleVariantType(t), VT_BOOL);
  EXPECT_EQ(t[8], 0xFF);
  EXPECT_EQ(t[9], 0xFF);
  auto d = MakeOleVariant(1.0);
  EXPECT_EQ(OleVariantType(d), VT_R8);
  EXPECT_EQ(d[15], 0x3F);
  EXPECT_EQ(d[14], 0xF0);
  EXPECT_EQ(OleVariantType(MakeOleVariant(std::int16_t(-1))), VT_I2);
  EXPECT_EQ(OleVariantType(MakeOleVariant(std::uint64_t(1))), VT_UI8);
}

}  // namespace
}  // namespace zb
