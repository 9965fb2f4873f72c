#include "support/zbSound.h"

#include <filesystem>

#include "support/zbRegistry.h"
#include "tests/registry/RegTestEnv.h"

namespace zb {
namespace {

class SoundTest : public test::TRegistryEnv {};

TEST_F(SoundTest, EventTable) {
  EXPECT_EQ(AppEventNames.size(), 25u);
  EXPECT_EQ(AppEventNames[0], u".Default\\.Default");
  EXPECT_EQ(AppEventNames[20], u".Default\\SystemStart");
  EXPECT_EQ(AppEventNames[21], u"Explorer\\ActivatingDocument");
  EXPECT_EQ(AppEventNames[AppEventNavigating], u"Explorer\\Navigating");
}

TEST_F(SoundTest, MuteWritesOnlyAnExistingKey) {
  MuteAppEventSound(AppEventNavigating);
  TzbRegistry reg;
  EXPECT_FALSE(reg.KeyExists(u"AppEvents"));
  EXPECT_FALSE(reg.KeyExists(u"\\AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current"));

  ASSERT_TRUE(reg.OpenKey(u"\\AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current", true));
  reg.WriteString(u"", u"/usr/share/sounds/click.wav");
  reg.WriteString(u"keep", u"x");
  reg.CloseKey();
  MuteAppEventSound(AppEventNavigating);
  ASSERT_TRUE(reg.OpenKey(u"\\AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current", false));
  EXPECT_EQ(reg.GetDataSize(u""), 2);
  EXPECT_EQ(reg.ReadString(u"", u"none"), u"");
  EXPECT_EQ(reg.ReadString(u"keep", u""), u"x");
  EXPECT_FALSE(reg.KeyExists(u"\\AppEvents\\Schemes\\Apps\\.Default\\.Default\\.Current"));
  MuteAppEventSound(0);
  EXPECT_FALSE(reg.KeyExists(u"\\AppEvents\\Schemes\\Apps\\.Default\\.Default\\.Current"));
}

TEST_F(SoundTest, EventOutOfRange) {
  EXPECT_THROW(MuteAppEventSound(25), EzbRangeError);
  EXPECT_THROW(MuteAppEventSound(-1), EzbRangeError);
}

}  // namespace
}  // namespace zb
