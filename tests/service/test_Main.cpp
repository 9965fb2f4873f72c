// The dispatcher against a real service form in this process: one operation per code, set-position
// with its "unchanged" value, and the answer of codes outside the table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "service/HtmlServiceConst.h"
#include "service/HtmlServiceInterface.h"
#include "service/Main.h"

namespace zb {
namespace {

class MainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no display";
    try {
      Bus = std::make_unique<TzbBusServer>(TzbBusNames{"com.vestrum.Test.Main", "/com/vestrum/Test/Main",
                                                       ServiceInterface, ServiceTitle, HtmlServiceInterfaceXml},
                                           ServiceBusMethods());
    } catch (const EzbBusError&) {
      GTEST_SKIP() << "no session bus";
    }
    App = std::make_unique<TApplication>(*Bus);
    Form = std::make_unique<TfrmHtmlService>(*App);
  }
  void TearDown() override {
    Form.reset();
    App.reset();
    Bus.reset();
  }
  std::int32_t Send(std::int32_t ACode, const TBlock& ABlock = {}) { return ServiceWndProc(*Form, ACode, ABlock); }

  std::unique_ptr<TzbBusServer> Bus;
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TfrmHtmlService> Form;
};

TEST_F(MainTest, TheFormStartsHiddenIdleAndCaptioned) {
  EXPECT_EQ(Form->Caption(), u"Vestrum Plumadesk 5.0 - HTML Service");
  EXPECT_TRUE(GTK_IS_OFFSCREEN_WINDOW(Form->Host()));
  EXPECT_TRUE(gtk_widget_get_visible(Form->Host()));
  EXPECT_EQ(Form->HtmlAction(), THtmlAction::haNone);
  EXPECT_FALSE(Form->Busy());
}

TEST_F(MainTest, SetWndPosLeavesACoordinateWithTheSmallestInteger) {
  EXPECT_EQ(Send(HS_SETWNDPOS, MakePointBlock({INT_MIN, 100})), 1);
  EXPECT_EQ(Form->Left(), 133);
  EXPECT_EQ(Form->Top(), 100);
  EXPECT_EQ(Send(HS_SETWNDPOS, MakePointBlock({INT_MIN, INT_MIN})), 1);
  EXPECT_EQ(Form->Left(), 133);
  EXPECT_EQ(Form->Top(), 100);
  EXPECT_EQ(Send(HS_SETWNDPOS, MakePointBlock({INT_MIN + 1, -7})), 1);
  EXPECT_EQ(Form->Left(), INT_MIN + 1);
  EXPECT_EQ(Form->Top(), -7);
  EXPECT_EQ(Send(HS_SETWNDPOS, TBlock(7, 0)), -1);  // short block: refused, nothing moves
  EXPECT_EQ(Form->Left(), INT_MIN + 1);
}

TEST_F(MainTest, OutsideCodesCallNothingAndTerminateEndsTheApplication) {
  const std::int32_t pid = static_cast<std::int32_t>(getpid());
  EXPECT_EQ(Send(1280, MakePointBlock({1, 1})), pid);
  EXPECT_EQ(Send(HS_SETWNDPOS + 1, MakePointBlock({1, 1})), pid);
  EXPECT_EQ(Form->Left(), 133);
  EXPECT_EQ(Send(HS_PING), 1);
  EXPECT_FALSE(App->Terminated());
  EXPECT_EQ(Send(HS_TERMINATE), 1);
  EXPECT_TRUE(App->Terminated());
}

// Every variant type that lives inside the record's own bytes, decoded as the engine gets it.
TEST(CommandValue, InlineVariantTypes) {
  const auto decode = [](const TCommandValue& AValue) {
    THtmlExecCmd cmd;
    cmd.oleValue = MakeOleVariant(AValue);
    TVariant v;
    EXPECT_TRUE(CommandValueOf(cmd, nullptr, v));
    return v;
  };
  EXPECT_EQ(decode(std::monostate{}), TVariant{});
  EXPECT_EQ(decode(true), TVariant(true));
  EXPECT_EQ(decode(std::int16_t{-7}), TVariant(std::int32_t{-7}));
  EXPECT_EQ(decode(std::int32_t{-70000}), TVariant(std::int32_t{-70000}));
  EXPECT_EQ(decode(std::uint8_t{200}), TVariant(std::int32_t{200}));
  EXPECT_EQ(decode(std::uint32_t{4000000000u}), TVariant(4000000000.0));
  EXPECT_EQ(decode(std::int64_t{-5}), TVariant(std::int32_t{-5}));
  EXPECT_EQ(decode(2.5), TVariant(2.5));
  THtmlExecCmd cmd;
  cmd.oleValue[0] = VT_CY;
  cmd.oleValue[8] = 0x50;  // 0xC350 = 50000 ten-thousandths
  cmd.oleValue[9] = 0xC3;
  TVariant v;
  ASSERT_TRUE(CommandValueOf(cmd, nullptr, v));
  EXPECT_EQ(v, TVariant(5.0));
  cmd.oleValue = {};
  cmd.oleValue[0] = VT_R4;
  cmd.oleValue[11] = 0x3F;
  cmd.oleValue[10] = 0xC0;  // 1.5f
  ASSERT_TRUE(CommandValueOf(cmd, nullptr, v));
  EXPECT_EQ(v, TVariant(1.5));
  cmd.oleValue = {};
  cmd.oleValue[0] = VT_BSTR;
  EXPECT_FALSE(CommandValueOf(cmd, nullptr, v));  // a pointer, not a value
  const std::u16string text = u"Arial";
  ASSERT_TRUE(CommandValueOf(cmd, &text, v));
  EXPECT_EQ(v, TVariant(text));
  cmd.oleValue[0] = 9;  // an object
  EXPECT_FALSE(CommandValueOf(cmd, &text, v));
}

}  // namespace
}  // namespace zb
