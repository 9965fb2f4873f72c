// htmlservice-reg as a user runs it: a real process over the test's own store files.
#include <filesystem>

#include "platform/regstore/RegFile.h"
#include "support/zbRegistry.h"
#include "tests/registry/RegTestEnv.h"

namespace zb {
namespace {

using test::RunProcess;
using test::TProcessResult;

class RegToolTest : public test::TRegistryEnv {
 protected:
  TProcessResult Tool(std::vector<std::string> Args, const std::string& Input = {}) {
    Args.insert(Args.begin(), REG_TOOL);
    return RunProcess(Args, Input);
  }
  std::string ExportAll() {
    auto r = Tool({"export", "-"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
  }
};

TEST_F(RegToolTest, SetQueryDelete) {
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\T", "name", "REG_SZ", "say \"hi\" \\ there"}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", "HKEY_CURRENT_USER\\Software\\T", "n", "REG_DWORD", "0x10"}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\T", "", "REG_BINARY", "01,ff"}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\T\\Sub", "m", "REG_MULTI_SZ", "a\\0b"}).ExitCode, 0);
  auto q = Tool({"query", "HKCU\\Software\\T"});
  ASSERT_EQ(q.ExitCode, 0) << q.Err;
  EXPECT_EQ(q.Out,
            "[HKEY_CURRENT_USER\\Software\\T]\n"
            "\"name\"=\"say \\\"hi\\\" \\\\ there\"\n"
            "\"n\"=dword:00000010\n"
            "@=hex:01,ff\n"
            "[HKEY_CURRENT_USER\\Software\\T\\Sub]\n");
  q = Tool({"query", "HKCU\\Software\\T\\Sub", "M"});
  EXPECT_EQ(q.Out, "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\n");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\T", u"name", u""), u"say \"hi\" \\ there");

  EXPECT_EQ(Tool({"set", "HKCU\\Software\\T", "n", "REG_DWORD", "4294967296"}).ExitCode, 2);
  EXPECT_EQ(Tool({"set", "HKXX\\Software\\T", "n", "REG_SZ", "x"}).ExitCode, 2);
  EXPECT_EQ(Tool({"query", "HKCU\\Software\\Missing"}).ExitCode, 1);
  EXPECT_EQ(Tool({"delete", "HKCU\\Software\\T", "n"}).ExitCode, 0);
  EXPECT_EQ(Tool({"query", "HKCU\\Software\\T", "n"}).ExitCode, 1);
  EXPECT_EQ(Tool({"delete", "HKCU"}).ExitCode, 2);
  EXPECT_EQ(Tool({"delete", "HKCU\\Software\\T"}).ExitCode, 0);
  EXPECT_FALSE(TzbRegistry().KeyExists(u"Software\\T"));
  auto help = Tool({"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("export [KEY] FILE"), std::string::npos);
  EXPECT_EQ(Tool({"frobnicate"}).ExitCode, 2);
}

TEST_F(RegToolTest, ExportImportRoundTripKeepsEveryByte) {
  {
    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(u"Software\\Round", true));
    reg.WriteString(u"", u"Grüße \U0001F600");
    reg.WriteString(u"quote\"back\\slash", u"a\"b\\c");
    reg.WriteExpandString(u"exp", u"%HOME%/x");
    reg.WriteInteger(u"dw", -2);
    std::string big(300, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i);
    reg.WriteBinaryData(u"big", big.data(), static_cast<std::int32_t>(big.size()));
    reg.WriteBinaryData(u"nothing", nullptr, 0);
    HKEY k = reg.CurrentKey();
    ASSERT_EQ(RegStore().SetValue(k, u"line", REG_SZ, "a\0\n\0\0\0", 6), ERROR_SUCCESS);  // text with a line break
    ASSERT_EQ(RegStore().SetValue(k, u"short", REG_DWORD, "\1\2", 2), ERROR_SUCCESS);
    ASSERT_EQ(RegStore().SetValue(k, u"qw", REG_QWORD, "12345678", 8), ERROR_SUCCESS);
    reg.CreateKey(u"Empty\\Deeper");
  }
  {
    TzbRegistry m(KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(m.OpenKey(u"Software\\Vendor", true));
    m.WriteString(u"Edition", u"Pro");
  }
  const std::string before = ExportAll();
  EXPECT_NE(before.find("Windows Registry Editor Version 5.00\n"), std::string::npos);
  EXPECT_NE(before.find("[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\"Edition\"=\"Pro\""), std::string::npos);
  EXPECT_NE(before.find("\"exp\"=hex(2):25,00"), std::string::npos);
  EXPECT_NE(before.find("\"big\"=hex:00,01,02"), std::string::npos);
  EXPECT_NE(before.find("\\\n  "), std::string::npos);  // long hex goes on over lines

  const std::string file = Dir() + "/all.reg", utf16 = Dir() + "/all-utf16.reg";
  ASSERT_EQ(Tool({"export", "HKCU\\Software\\Round", file}).ExitCode, 0);
  ASSERT_EQ(Tool({"export", "--utf16", "HKCU\\Software\\Round", utf16}).ExitCode, 0);
  EXPECT_EQ(ReadBytes(utf16).substr(0, 2), "\xFF\xFE");
  ASSERT_EQ(Tool({"delete", "HKCU\\Software\\Round"}).ExitCode, 0);
  ASSERT_EQ(Tool({"import", file}).ExitCode, 0);
  EXPECT_EQ(ExportAll(), before);
  ASSERT_EQ(Tool({"delete", "HKCU\\Software\\Round"}).ExitCode, 0);
  auto r = Tool({"import", utf16});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ExportAll(), before);
}

TEST_F(RegToolTest, MalformedImportChangesNothingAndNamesTheLine) {
  ASSERT_EQ(Tool({"set", "HKCU\\Software\\Keep", "v", "REG_SZ", "old"}).ExitCode, 0);
  const std::string before = ExportAll();
  const std::string bad =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
      "\"v\"=\"new\"\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "[HKEY_CURRENT_USER\\Software\\Added]\r\n"
      "\"n\"=dword:123456789\r\n";
  auto r = Tool({"import", "-"}, bad);
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("line 8"), std::string::npos) << r.Err;
  EXPECT_EQ(ExportAll(), before);

  r = Tool({"import", "-"}, "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n");
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("line 1"), std::string::npos) << r.Err;
  r = Tool({"import", "-"}, "Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n");
  EXPECT_NE(r.Err.find("line 2"), std::string::npos) << r.Err;
  r = Tool({"import", "-"}, "Windows Registry Editor Version 5.00\n[HKEY_USERS\\X]\n");
  EXPECT_NE(r.Err.find("line 2"), std::string::npos) << r.Err;
  r = Tool({"import", "-"}, std::string("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\\xff]\n"));
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(ExportAll(), before);

  // A file that is well-formed but cannot be applied (read-only machine store) also changes nothing.
  {
    TzbRegistry m(KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(m.OpenKey(u"Software", true));
  }
  std::filesystem::permissions(MachineFile(), std::filesystem::perms::owner_read);
  r = Tool({"import", "-"},
           "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Keep]\n\"v\"=\"new\"\n"
           "[HKEY_LOCAL_MACHINE\\Software\\New]\n");
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("line 4"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Keep", u"v", u""), u"old");

  r = Tool({"import", "-"},
           "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Keep]\n\"v\"=-\n\"w\"=hex:01,\\\n"
           "  02\n[-HKEY_CURRENT_USER\\Software\\Nothing]\n");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"Software\\Keep", false));
  EXPECT_FALSE(reg.ValueExists(u"v"));
  EXPECT_EQ(reg.GetDataSize(u"w"), 2);
}

TEST_F(RegToolTest, DamagedStoreIsReportedNotReplaced) {
  WriteBytes(UserFile(), "garbage");
  auto r = Tool({"set", "HKCU\\Software\\X", "v", "REG_SZ", "x"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("user.db"), std::string::npos) << r.Err;
  r = Tool({"import", "-"}, "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n");
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(ReadBytes(UserFile()), "garbage");
}

}  // namespace
}  // namespace zb

namespace zb {
namespace {

// Names the text format cannot carry, and trees too deep to walk, never reach a backup.
TEST_F(RegToolTest, ExportRefusesNamesItCouldNotReadBackAndDepthIsBounded) {
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\App", "Setting", "REG_SZ", "keep"}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\x]\n[HKEY_CURRENT_USER\\Software\\App", "Setting", "REG_SZ", "overwritten"})
                .ExitCode,
            0);
  auto r = Tool({"export", "HKCU\\Software", "-"});
  EXPECT_NE(r.ExitCode, 0);
  EXPECT_NE(r.Err.find("control character"), std::string::npos) << r.Err;
  EXPECT_EQ(Tool({"delete", "HKCU\\Software\\x]\n[HKEY_CURRENT_USER\\Software\\App"}).ExitCode, 0);
  EXPECT_EQ(Tool({"set", "HKCU\\Software\\App", "two\nlines", "REG_SZ", "x"}).ExitCode, 0);
  EXPECT_NE(Tool({"export", "HKCU\\Software", "-"}).ExitCode, 0);

  std::string deep = "HKCU";
  for (int i = 0; i < 513; ++i) deep += "\\a";
  EXPECT_NE(Tool({"set", deep, "v", "REG_SZ", "x"}).ExitCode, 0);
  deep.resize(deep.size() - 2);
  EXPECT_EQ(Tool({"set", deep, "v", "REG_SZ", "x"}).ExitCode, 0);  // 512 levels are fine
}

}  // namespace
}  // namespace zb
