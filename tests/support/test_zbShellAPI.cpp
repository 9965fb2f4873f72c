#include "support/zbShellAPI.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/zbFileCtrl.h"

using namespace zb;

namespace {
class XdgHome : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zbshell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FHome = pattern;
    setenv("HOME", FHome.c_str(), 1);
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) unsetenv(v);
  }
  void TearDown() override { std::filesystem::remove_all(FHome); }
  std::u16string H(const std::string& rel = "") const { return Utf8ToUtf16(FHome + rel); }
  std::string FHome;
};
}  // namespace

TEST_F(XdgHome, DefaultsBelowHome) {
  EXPECT_EQ(GetSpecialFolder(sfCommonDocuments), H("/.local/state"));
  EXPECT_EQ(GetSpecialFolder(sfPersonal), H());  // no user-dirs.dirs: the home folder
  EXPECT_EQ(GetSpecialFolder(4), H("/Desktop"));
  EXPECT_EQ(GetSpecialFolder(1), H("/.config"));
  EXPECT_EQ(GetSpecialFolder(19), H("/.local/share"));
  EXPECT_EQ(GetSpecialFolder(20), H("/.cache"));
  EXPECT_EQ(GetSpecialFolder(9), u"");  // not configured, no fallback
  for (int i : {0, 3, 5, 6, 7, 10, 11, 12, 15, 18, 21, 26, 28, 29, 30, 31, 33, 34, -1, 35, 1000})
    EXPECT_EQ(GetSpecialFolder(i), u"") << i;
}

TEST_F(XdgHome, EnvironmentAndUserDirs) {
  setenv("XDG_STATE_HOME", "/srv/state/", 1);
  EXPECT_EQ(GetSpecialFolder(sfCommonDocuments), u"/srv/state");
  setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: ignored
  EXPECT_EQ(GetSpecialFolder(sfCommonDocuments), H("/.local/state"));
  std::filesystem::create_directories(FHome + "/cfg");
  setenv("XDG_CONFIG_HOME", (FHome + "/cfg").c_str(), 1);
  std::ofstream(FHome + "/cfg/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                  "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                                  "XDG_PICTURES_DIR=\"/data/Bilder/\"\n"
                                                  "XDG_TEMPLATES_DIR=\"relative\"\n";
  EXPECT_EQ(GetSpecialFolder(sfPersonal), H("/Dokumente"));
  EXPECT_EQ(GetSpecialFolder(9), u"/data/Bilder");
  EXPECT_EQ(GetSpecialFolder(14), u"");
}

TEST_F(XdgHome, LogFolder) {
  SetLogFolder(u"");
  EXPECT_EQ(GetLogFolder(false), H("/"));  // the documents folder
  SetLogFolder(u"/var/log/zb");
  EXPECT_EQ(GetLogFolder(false), u"/var/log/zb/");
  EXPECT_EQ(GetLogFolderWithoutBackslash(false), u"/var/log/zb");
  SetLogFolder(u"/var/log/zb/");
  EXPECT_EQ(GetLogFolder(false), u"/var/log/zb/");
  const std::u16string dated = GetLogFolder(true);
  EXPECT_EQ(dated.size(), std::u16string(u"/var/log/zb/2019-03-29/").size());
  EXPECT_EQ(dated.back(), u'/');
  SetLogFolder(u"");
}
