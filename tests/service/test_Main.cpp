// The dispatcher against a real service form in this process: one operation per code, set-position
// with its "unchanged" value, and the answer of codes outside the table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "service/HtmlServiceConst.h"
#include "service/Main.h"

namespace zb {
namespace {

class MainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "no display";
    try {
      Bus = std::make_unique<TzbBusServer>(
          TzbBusNames{"com.vestrum.Test.Main", "/com/vestrum/Test/Main", ServiceInterface, ServiceTitle},
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

}  // namespace
}  // namespace zb
