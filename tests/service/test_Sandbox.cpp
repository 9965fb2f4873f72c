// The engine's web process in its sandbox, seen from outside: its own mount namespace, and through
// /proc/PID/root none of the user's files, the document's folder or the service's own files, only what
// is granted on purpose. Without bubblewrap the service says so once in its log and serves all the
// same. A document's references to local files outside its folder show nowhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "ServiceFixture.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void WriteFile(const fs::path& APath, const std::string& AText) {
  fs::create_directories(APath.parent_path());
  std::ofstream(APath, std::ios::binary) << AText;
}

std::string MountNamespace(const std::string& APid) {
  std::error_code error;
  return fs::read_symlink("/proc/" + APid + "/ns/mnt", error).string();
}

std::string LogText(const fs::path& AFolder) {
  std::string all;
  if (fs::is_directory(AFolder))
    for (const auto& e : fs::directory_iterator(AFolder)) {
      const std::string bytes = ReadAll(e.path());
      std::u16string text;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text +=
            static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
      all += Utf16ToUtf8(text);
    }
  return all;
}

std::size_t Occurrences(const std::string& AText, const std::string& APart) {
  std::size_t count = 0;
  for (auto at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1)) ++count;
  return count;
}

class Sandbox : public ::testing::Test {
 protected:
  fs::path Dir() const { return fs::path(Bus.Folder()); }
  fs::path LogFolder() const { return Dir() / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0"; }
  std::int32_t Convert(const fs::path& ASource, const fs::path& ATarget) const {
    const std::string request = "SRC:" + ASource.string() + ";DST:" + ATarget.string();
    return Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value.value_or(-99);
  }
  std::int32_t Text(std::int32_t ACode, const fs::path& AFile) const {
    return Bus.Request(ACode, MakeTextBlock(Utf8ToUtf16(AFile.string()))).Value.value_or(-99);
  }

  TPrivateBus Bus;
};

// Whether bubblewrap can build the engine's namespaces here (a container may refuse them); the
// service then runs unsandboxed, which the next test covers.
bool SandboxPossible() {
  return std::system(
             "/usr/bin/bwrap --unshare-user-try --unshare-pid --unshare-ipc --unshare-net --unshare-uts "
             "--ro-bind / / --proc /proc --dev /dev true >/dev/null 2>&1") == 0;
}

TEST_F(Sandbox, TheWebProcessHasItsOwnMountsAndSeesNoneOfTheUsersOrTheServicesFiles) {
  if (!SandboxPossible()) GTEST_SKIP() << "bubblewrap cannot build namespaces here";
  const fs::path home = Dir() / "home", temp = Dir() / "tmp";
  WriteFile(home / "Documents" / "vertraulich.txt", "geheim");
  WriteFile(home / ".cache" / "other-program" / "cache.bin", "x");
  WriteFile(temp / "user-temp.txt", "x");
  const fs::path mail = Dir() / "mail" / "brief.htm";
  WriteFile(mail, "<html><body><p>Hallo aus Wien</p></body></html>");
  const pid_t service = Bus.StartService({{"HOME", home.string()}, {"TMPDIR", temp.string()}});
  ASSERT_EQ(Convert(mail, Dir() / "mail" / "brief.txt"), 1);
  EXPECT_EQ(ReadAll(Dir() / "mail" / "brief.txt"), "Hallo aus Wien");

  const std::vector<pid_t> webs = WebProcessesOf(service);
  ASSERT_FALSE(webs.empty());
  for (const pid_t web : webs) {
    SCOPED_TRACE(web);
    EXPECT_NE(MountNamespace(std::to_string(web)), MountNamespace("self"));
    const fs::path root = "/proc/" + std::to_string(web) + "/root";
    const auto Sees = [&](const fs::path& APath) { return fs::exists(root / APath.relative_path()); };
    ASSERT_TRUE(Sees("/usr/lib")) << "the web process's root cannot be read";
    // The user's files, temporary files, the document and its folder.
    for (const fs::path& hidden : {home, home / "Documents" / "vertraulich.txt", home / ".cache",
                                   temp / "user-temp.txt", temp, mail, mail.parent_path()})
      EXPECT_FALSE(Sees(hidden)) << hidden;
    // The service's own files: program, registry, logs, the content filters' store.
    for (const fs::path& hidden : {fs::path(HTMLSERVICE_PATH), Dir() / "XDG_CONFIG_HOME", Dir() / "XDG_STATE_HOME",
                                   Dir() / "XDG_DATA_HOME", Dir() / "XDG_CACHE_HOME" / "vestrum-htmlservice"})
      EXPECT_FALSE(Sees(hidden)) << hidden;
    // Below the test's folder only the engine's own cache folder is there, the one path it is given
    // there (the display's socket and key are elsewhere).
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root / Dir().relative_path(), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string inside = it->path().string().substr(root.string().size());
      const std::string own = (Dir() / "XDG_CACHE_HOME" / "vestrum-htmlservice-web").string();
      if (it->is_directory() && own.rfind(inside, 0) == 0) continue;  // the folders on the way to it
      EXPECT_EQ(inside.rfind(own, 0), 0u) << inside;
    }
  }
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

TEST_F(Sandbox, WithoutBubblewrapTheServiceSaysSoOnceAndServes) {
  const fs::path mail = Dir() / "brief.htm";
  WriteFile(mail, "<html><body><p>Hallo aus Wien</p></body></html>");
  const pid_t service = Bus.StartService({{"HTMLSERVICE_TEST_BWRAP", (Dir() / "no-bwrap").string()}});
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Convert(mail, Dir() / "brief.txt"), 1);
    EXPECT_EQ(ReadAll(Dir() / "brief.txt"), "Hallo aus Wien");
  }
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
  const std::vector<pid_t> webs = WebProcessesOf(service);
  ASSERT_FALSE(webs.empty());
  EXPECT_EQ(MountNamespace(std::to_string(webs[0])), MountNamespace("self"));

  const std::string log = LogText(LogFolder());
  EXPECT_EQ(Occurrences(log, "läuft ohne Sandbox"), 1u) << log.substr(0, 2000);
  EXPECT_NE(log.find("no-bwrap\" (Paket bubblewrap) fehlt"), std::string::npos) << log.substr(0, 2000);
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

// A mail's folder with its attachments, and a folder beside it that the mail names.
class LocalReferences : public Sandbox {
 protected:
  void SetUp() override {
    WriteFile(Dir() / "other" / "far.css", "#far{display:none} body::before{content:'FREMDER TEXT'}");
    WriteFile(Dir() / "other" / "imported.css", "#imported{display:none} body::after{content:'IMPORTIERT'}");
    WriteFile(Dir() / "mail" / "att" / "own.css", "#own{display:none} body::after{content:'EIGENER TEXT'}");
    Mail = Dir() / "mail" / "brief.htm";
    WriteFile(Mail, "<html><head><meta charset=utf-8><title>" + Title() +
                        "</title><link rel=stylesheet href='../other/far.css'>"
                        "<link rel=stylesheet href='att/own.css'><style>@import url('../other/imported.css');</style>"
                        "</head><body><p id=far>FAR</p><p id=imported>IMPORTED</p><p id=own>OWN</p></body></html>");
  }
  std::string Title() const { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
  fs::path Mail;
};

TEST_F(LocalReferences, ShowNothingInAConversionOrASave) {
  Bus.StartService();
  const fs::path text = Dir() / "mail" / "brief.txt";
  ASSERT_EQ(Convert(Mail, text), 1);
  const std::string converted = ReadAll(text);
  EXPECT_NE(converted.find("FAR"), std::string::npos) << converted;
  EXPECT_NE(converted.find("IMPORTED"), std::string::npos) << converted;
  EXPECT_EQ(converted.find("OWN"), std::string::npos) << converted;

  ASSERT_EQ(Text(HS_LOADFROMFILE, Mail), 1);
  const fs::path saved = Dir() / "mail" / "saved.htm";
  ASSERT_EQ(Text(HS_SAVETOFILE, saved), 1);
  const std::string html = ReadAll(saved);
  EXPECT_NE(html.find("<p id=\"far\">FAR</p>"), std::string::npos) << html;
  for (const char* never : {"FREMDER", "IMPORTIERT", "display:none", "display: none"})
    EXPECT_EQ(html.find(never), std::string::npos) << never << "\n" << html;
}

TEST_F(LocalReferences, ShowNothingInAPrint) {
  NEEDS_CUPS();
  Bus.StartService();
  ASSERT_EQ(Bus.Call("PrintFiles", g_variant_new("(s)", Mail.c_str())).Value, 1);
  fs::path job;
  for (int i = 0; i < 300 && job.empty(); ++i) {
    for (const auto& e : fs::directory_iterator(Env("ZB_TEST_PRINT_OUT")))
      if (e.path().extension() == ".title" && ReadAll(e.path()) == Title())
        job = fs::path(e.path()).replace_extension(".pdf");
    if (job.empty() || !fs::exists(job)) job.clear(), std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(job.empty());
  const print::test::TPdf pdf(job.string());
  ASSERT_TRUE(pdf.Loaded());
  const std::string text = pdf.Text(0);
  EXPECT_NE(text.find("EIGENER TEXT"), std::string::npos) << text;
  EXPECT_NE(text.find("FAR"), std::string::npos) << text;
  EXPECT_EQ(text.find("FREMDER TEXT"), std::string::npos) << text;
  EXPECT_EQ(text.find("IMPORTIERT"), std::string::npos) << text;
}

}  // namespace
}  // namespace zb::test
