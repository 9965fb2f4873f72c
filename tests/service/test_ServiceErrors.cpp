// The running service's error hook: an unexpected error ends up as a German report in the minute's
// log file below the user's state folder; the service keeps serving, also when the log cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "ServiceFixture.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> StringValueCommand() {
  THtmlExecCmd cmd;
  cmd.iCmdID = 16;
  cmd.oleValue[0] = 8;  // VT_BSTR: a pointer into the sender's memory
  cmd.oleValue[8] = 0x78;
  return MakeExecCmdBlock(cmd);
}

std::u16string Utf16(const std::string& bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return text;
}

std::vector<fs::path> LogFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  if (fs::is_directory(folder))
    for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
  return files;
}

class ServiceErrors : public ::testing::Test {
 protected:
  fs::path LogFolder() const { return fs::path(Bus.Folder()) / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0"; }
  TPrivateBus Bus;
};

TEST_F(ServiceErrors, AnUnexpectedErrorIsLoggedAsAGermanReport) {
  Bus.StartService();
  EXPECT_EQ(Bus.Request(HS_EXECCMD, StringValueCommand()).Value, -1);
  EXPECT_EQ(Bus.Request(HS_EXECCMD, StringValueCommand()).Value, -1);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);

  const auto files = LogFiles(LogFolder());
  ASSERT_GE(files.size(), 1u);
  const std::string name = files[0].filename().string();
  // "HtmlService " + year month day hour minute minute + ".log"
  ASSERT_EQ(name.size(), std::string("HtmlService 201903291203030.log").size() - 1) << name;
  EXPECT_EQ(name.rfind("HtmlService 20", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".log");
  EXPECT_EQ(name.substr(22, 2), name.substr(24, 2)) << "the minute stands twice";

  std::ifstream in(files[0], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::u16string text = Utf16(bytes);
  EXPECT_EQ(text[4], u'-');
  EXPECT_EQ(text.substr(19, 21), u"\r\n" + std::u16string(19, u'='));
  EXPECT_NE(text.find(u"Befehl 16"), std::u16string::npos);
  // The stack is the one of the place that refused the value, with names and lines.
  EXPECT_NE(text.find(u"\r\nStackliste, erzeugt am "), std::u16string::npos);
  EXPECT_NE(text.find(u"TfrmHtmlService::ExecCmd (Line "), std::u16string::npos) << Utf16ToUtf8(text.substr(0, 3000));
  EXPECT_NE(text.find(u"\r\nVestrum Plumadesk 5.0 - HTML Service vom "), std::u16string::npos);
  EXPECT_NE(text.find(u"\r\nSystem:     "), std::u16string::npos);
  EXPECT_NE(text.find(u"\r\nListe geladener Module:\r\n"), std::u16string::npos);
  EXPECT_NE(text.find(u"htmlservice"), std::u16string::npos);
  if (files.size() == 1) {  // both errors in the same minute: one file, two entries, newest first
    EXPECT_NE(text.find(std::u16string(100, u'*')), std::u16string::npos);
  }
}

TEST_F(ServiceErrors, AnUnwritableLogFolderDoesNotStopTheService) {
  // The state folder is a file: the log folder cannot be created.
  std::ofstream(Bus.Folder() + "/blocked") << "x";
  Bus.StartService({{"XDG_STATE_HOME", Bus.Folder() + "/blocked"}});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Bus.Request(HS_EXECCMD, StringValueCommand()).Value, -1);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

TEST_F(ServiceErrors, AnEngineKilledWhileAConversionCompletesAnswersFailureLogsAndServesOn) {
  // Before, the engine's error left the document-complete handler through WebKit's signal emission
  // and ended the whole process. A text file is read from the engine after its load; an HTML file
  // hands its text over as its load ends, and its conversion below is done before the engine dies.
  const fs::path source = fs::path(Bus.Folder()) / "mail.txt";
  std::ofstream(source) << "Grüße aus Wien\n";
  const fs::path target = fs::path(Bus.Folder()) / "mail-text.txt";
  Bus.StartService({{"HTMLSERVICE_TEST_KILL_ENGINE_AT_COMPLETE", "1"}});
  const std::string request = "SRC:" + source.string() + ";DST:" + target.string();
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, -1);
  EXPECT_FALSE(fs::exists(target));

  const auto files = LogFiles(LogFolder());
  std::string all;
  for (const auto& f : files) all += f.string() + ":\n" + Utf16ToUtf8(Utf16(ReadAll(f)).substr(0, 1500)) + "\n";
  ASSERT_EQ(files.size(), 1u) << all;
  const std::u16string text = Utf16(ReadAll(files[0]));
  EXPECT_NE(text.find(u"HtmlEditDocumentComplete"), std::u16string::npos) << Utf16ToUtf8(text.substr(0, 2000));

  // The next request gets a fresh engine.
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, 1);
  EXPECT_NE(ReadAll(target).find("aus Wien"), std::string::npos);
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

TEST_F(ServiceErrors, AnHtmlConversionWhoseTextArrivedSurvivesTheEnginesEnd) {
  const fs::path source = fs::path(Bus.Folder()) / "mail.htm";
  std::ofstream(source) << "<html><body><p>Grüße aus Wien</p></body></html>";
  const fs::path target = fs::path(Bus.Folder()) / "mail.txt";
  Bus.StartService({{"HTMLSERVICE_TEST_KILL_ENGINE_AT_COMPLETE", "1"}});
  const std::string request = "SRC:" + source.string() + ";DST:" + target.string();
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, 1);
  EXPECT_EQ(ReadAll(target), "Grüße aus Wien");  // the file's bytes, read and written as windows-1252
  fs::remove(target);
  // The engine's end may only be noticed while the next load runs; that load starts once more in a
  // fresh engine.
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, 1);
  EXPECT_EQ(LogFiles(LogFolder()).size(), 0u);
  EXPECT_EQ(ReadAll(target), "Grüße aus Wien");
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

std::u16string AllLogText(const fs::path& folder) {
  std::u16string all;
  for (const auto& f : LogFiles(folder)) all += Utf16(ReadAll(f));
  return all;
}

TEST_F(ServiceErrors, AConversionWhoseTextIsNotWrittenAnswersFailure) {
  const fs::path source = fs::path(Bus.Folder()) / "mail.htm";
  std::ofstream(source) << "<html><body><p>" << std::string(200000, 'x') << "</p><p>Ende</p></body></html>";
  Bus.StartService();

  // Another user's link in a shared folder is not followed.
  const fs::path victim = fs::path(Bus.Folder()) / "victim.txt";
  std::ofstream(victim) << "unberührt";
  const fs::path link = fs::path(Bus.Folder()) / "planted.txt";
  fs::create_symlink(victim, link);
  ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
  std::string request = "SRC:" + source.string() + ";DST:" + link.string();
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, -1);
  EXPECT_EQ(ReadAll(victim), "unberührt");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(AllLogText(LogFolder()).find(u"konnte nicht in die Datei"), std::u16string::npos);

  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);

  // A full disk: the service's writes below one folder fail as they would there.
  const fs::path full = fs::path(Bus.Folder()) / "full";
  fs::create_directory(full);
  const char* asan = std::getenv("ASAN_OPTIONS");
  Bus.StartService({{"LD_PRELOAD", ZB_FULL_DISK_SHIM},
                    {"ZB_TEST_FULL_FOLDER", full.string()},
                    {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
  request = "SRC:" + source.string() + ";DST:" + (full / "mail.txt").string();
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, -1);
  EXPECT_TRUE(fs::is_empty(full)) << "a half-written text was left";
  // Every written text still answers 1.
  const fs::path target = fs::path(Bus.Folder()) / "mail.txt";
  request = "SRC:" + source.string() + ";DST:" + target.string();
  EXPECT_EQ(Bus.Call("ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, 1);
  EXPECT_NE(ReadAll(target).find("Ende"), std::string::npos);
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

// Kills the service's web processes, as an out-of-memory kill would.
TEST_F(ServiceErrors, AnEngineKilledDuringASavePasteOrCommandIsAnAnswerWithAGermanReport) {
  // Large enough that each request keeps the engine busy for a while.
  const fs::path source = fs::path(Bus.Folder()) / "mail.htm";
  {
    std::ofstream out(source);
    out << "<html><head><meta charset=\"utf-8\"></head><body>";
    for (int i = 0; i < 20000; ++i) out << "<p>Absatz " << i << " mit Grüßen aus Wien</p>\n";
    out << "<p>Ende</p></body></html>";
  }
  const fs::path saved = fs::path(Bus.Folder()) / "saved.htm";
  const pid_t service = Bus.StartService();
  const auto text = [](const fs::path& APath) { return MakeTextBlock(Utf8ToUtf16(APath.string())); };
  THtmlExecCmd bold;
  bold.iCmdID = 6;
  // Each request by the wire method and by its typed method.
  const std::vector<std::pair<const char*, std::function<TAnswer(bool)>>> requests{
      {"save",
       [&](bool AWire) {
         return AWire ? Bus.Request(HS_SAVETOFILE, text(saved))
                      : Bus.Call("SaveToFile", g_variant_new("(s)", saved.c_str()));
       }},
      {"paste",
       [&](bool AWire) {
         return AWire ? Bus.Request(HS_PASTEHTMLEND, MakeTextBlock(u"<p>Nachtrag</p>"))
                      : Bus.Call("PasteHtmlAtEnd", g_variant_new("(s)", "<p>Nachtrag</p>"));
       }},
      {"command",
       [&](bool AWire) {
         return AWire ? Bus.Request(HS_EXECCMD, MakeExecCmdBlock(bold))
                      : Bus.Call("ExecCmd", g_variant_new("(ibv)", 6, FALSE, g_variant_new_int32(0)));
       }},
  };
  int failures = 0;
  for (const auto& [name, send] : requests) {
    for (const int delayMs : {0, 20, 60, 150}) {
      for (const bool wire : {true, false}) {
        SCOPED_TRACE(std::string(name) + " killed after " + std::to_string(delayMs) + " ms, " +
                     (wire ? "Request" : "typed"));
        ASSERT_EQ(Bus.Call("LoadFromFile", g_variant_new("(s)", source.c_str())).Value, 1);
        fs::remove(saved);
        std::thread killer([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
          KillWebProcessesOf(service);
        });
        const TAnswer answer = send(wire);
        killer.join();
        ASSERT_TRUE(answer.Value.has_value()) << "a bus error: " << answer.Error;
        EXPECT_TRUE(*answer.Value == 1 || *answer.Value == -1) << *answer.Value;
        if (*answer.Value == -1) ++failures;
        if (std::string(name) == "save") {
          // Either the whole document or no file.
          if (*answer.Value == 1) {
            EXPECT_NE(ReadAll(saved).find("<p>Ende</p>"), std::string::npos);
          } else {
            EXPECT_FALSE(fs::exists(saved));
          }
        }
        EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
      }
    }
  }
  EXPECT_GT(failures, 0) << "no kill met a running request";
  const std::u16string log = AllLogText(LogFolder());
  EXPECT_NE(log.find(u"Die HTML-Engine"), std::u16string::npos);
  for (const char16_t* english : {u"Unsupported", u"result type", u"JavaScript", u"crashed", u"Web process"})
    EXPECT_EQ(log.find(english), std::u16string::npos) << Utf16ToUtf8(english);
  // The service goes on: a fresh engine loads, edits and saves.
  ASSERT_EQ(Bus.Call("LoadFromFile", g_variant_new("(s)", source.c_str())).Value, 1);
  EXPECT_EQ(Bus.Call("PasteHtmlAtEnd", g_variant_new("(s)", "<p>Nachtrag</p>")).Value, 1);
  EXPECT_EQ(Bus.Call("SaveToFile", g_variant_new("(s)", saved.c_str())).Value, 1);
  EXPECT_NE(ReadAll(saved).find("Nachtrag"), std::string::npos);
}

// A tiny file system, filled up; unmounted at the end. Needs the right to mount (root, as in CI).
class TFullFolder {
 public:
  TFullFolder() : FPath(fs::temp_directory_path() / ("zbfull-" + std::to_string(getpid()))) {
    fs::create_directories(FPath);
    FMounted = ::system(("mount -t tmpfs -o size=64k tmpfs '" + FPath.string() + "' 2>/dev/null").c_str()) == 0;
    if (FMounted)
      ::system(("dd if=/dev/zero of='" + (FPath / "fill").string() + "' bs=4k count=64 2>/dev/null").c_str());
  }
  ~TFullFolder() {
    if (FMounted) ::system(("umount '" + FPath.string() + "'").c_str());
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  bool Mounted() const { return FMounted; }
  const fs::path& Path() const { return FPath; }

 private:
  fs::path FPath;
  bool FMounted = false;
};

TEST_F(ServiceErrors, AFullTemporaryFolderStopsTheStartCleanlyAndSaysWhatToDo) {
  TFullFolder full;
  if (!full.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const TRun run = Bus.Run({HTMLSERVICE_PATH},
                           {{"XDG_CACHE_HOME", (full.Path() / "cache").string()}, {"TMPDIR", full.Path().string()}});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Err.find("Platz schaffen"), std::string::npos) << run.Err;
  // Nothing half-made of the filter is left behind, neither ours nor the engine's compile files.
  for (const auto& e : fs::recursive_directory_iterator(full.Path())) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.rfind("htmlservice-filters-", 0), std::string::npos) << e.path();
    EXPECT_EQ(name.rfind("ContentRuleList-", 0), std::string::npos) << e.path();
    EXPECT_NE(name, "vestrum-htmlservice") << e.path();
  }
}

TEST_F(ServiceErrors, ASaveRefusedByAFullDiskIsLoggedAndTheOldFileStays) {
  TFullFolder full;
  if (!full.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const fs::path source = fs::path(Bus.Folder()) / "mail.htm";
  std::ofstream(source) << "<html><body><p>" << std::string(100000, 'x') << "</p></body></html>";
  Bus.StartService();
  ASSERT_EQ(Bus.Call("LoadFromFile", g_variant_new("(s)", source.c_str())).Value, 1);
  const fs::path target = full.Path() / "fill";  // the file that filled the disk
  const auto before = fs::file_size(target);
  EXPECT_EQ(Bus.Call("SaveToFile", g_variant_new("(s)", target.c_str())).Value, -1);
  EXPECT_EQ(fs::file_size(target), before);
  const auto files = LogFiles(LogFolder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(Utf16(ReadAll(files[0])).find(u"konnte nicht als"), std::u16string::npos);
}

// A call as the suite makes it: the bus starts the service when no one owns the name.
TAnswer CallStarting(const TPrivateBus& ABus, const char* AMethod, GVariant* AParameters) {
  TzbGError error;
  TzbGVariant reply(g_dbus_connection_call_sync(ABus.Connection(), ServiceBusName, ServiceObjectPath, ServiceInterface,
                                                AMethod, AParameters, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE,
                                                G_MAXINT, nullptr, error.Out()));
  return AnswerOf(reply.get(), error.Get());
}

TEST_F(ServiceErrors, AServiceThatWebKitAbortsIsBackAtTheNextCallWithWhatWasSaved) {
  const fs::path source = fs::path(Bus.Folder()) / "mail.htm";
  const fs::path saved = fs::path(Bus.Folder()) / "saved.htm";
  std::ofstream(source) << "<html><body><p>Gr\xC3\xBC\xC3\x9F"
                           "e aus Wien</p></body></html>";
  Bus.StartService();
  EXPECT_EQ(Bus.Call("LoadFromFile", g_variant_new("(s)", source.c_str())).Value, 1);
  EXPECT_EQ(Bus.Call("PasteHtmlAtEnd", g_variant_new("(s)", "<p>gesichert</p>")).Value, 1);
  EXPECT_EQ(Bus.Call("SaveToFile", g_variant_new("(s)", saved.c_str())).Value, 1);
  const std::string before = ReadAll(saved);
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);

  // A web process that dies before it has reported to WebKit may make WebKit end the whole service (a
  // fatal GLib error), and the caller's request is lost with it. In the engine's sandbox the kill may
  // also meet bubblewrap first; then the load fails and is answered like any engine death.
  Bus.StartService({{"HTMLSERVICE_TEST_KILL_ENGINE_AT_LAUNCH", "1"}});
  const TAnswer lost = Bus.Call("LoadFromFile", g_variant_new("(s)", source.c_str()));
  if (!lost.Value) {
    EXPECT_NE(lost.Error.find("NoReply"), std::string::npos) << lost.Error;
    EXPECT_EQ(Bus.WaitService(), -1);  // ended by a signal
    EXPECT_FALSE(Bus.NameOwned());
  } else {
    EXPECT_TRUE(*lost.Value == 1 || *lost.Value == -1) << *lost.Value;
  }

  // The suite's next call starts a new instance through the bus and is answered.
  EXPECT_EQ(CallStarting(Bus, "Ping", nullptr).Value, 1);
  EXPECT_TRUE(Bus.NameOwned());
  EXPECT_EQ(ReadAll(saved), before);
  EXPECT_EQ(CallStarting(Bus, "LoadFromFile", g_variant_new("(s)", saved.c_str())).Value, 1);
  const fs::path text = fs::path(Bus.Folder()) / "saved.txt";
  const std::string request = "SRC:" + saved.string() + ";DST:" + text.string();
  EXPECT_EQ(CallStarting(Bus, "ConvertHtmlToPlain", g_variant_new("(s)", request.c_str())).Value, 1);
  EXPECT_NE(ReadAll(text).find("gesichert"), std::string::npos);
  // Still one instance: another start ends at once and silently.
  ASSERT_TRUE(Bus.NameOwned());  // else the start below would serve and never end
  const TRun second = Bus.Run({HTMLSERVICE_PATH});
  EXPECT_EQ(second.ExitCode, 0) << second.Err;
  EXPECT_EQ(CallStarting(Bus, "Ping", nullptr).Value, 1);
  EXPECT_EQ(CallStarting(Bus, "Terminate", nullptr).Value, 1);
}

TEST(ServiceUnit, SystemdRestartsTheServiceWhenItFailsOnly) {
  std::ifstream in(HTMLSERVICE_UNIT_IN);
  const std::string unit((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(unit.find("\nType=dbus\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos) << unit;
}

TEST_F(ServiceErrors, TheNavigationClickIsSilencedWhenTheUserHasOne) {
  const TEnv env;
  const std::string key = "HKCU\\AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current";
  ASSERT_EQ(Bus.Run({HTMLSERVICE_REG_PATH, "set", key, "", "REG_SZ", "C:\\Windows\\Media\\click.wav"}).ExitCode, 0);
  Bus.StartService();
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
  const TRun after = Bus.Run({HTMLSERVICE_REG_PATH, "query", key, ""});
  EXPECT_EQ(after.ExitCode, 0) << after.Err;
  EXPECT_EQ(after.Out.find("click.wav"), std::string::npos) << after.Out;
}

TEST_F(ServiceErrors, NoSoundSchemeMeansNothingIsWritten) {
  Bus.StartService();
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
  const TRun after =
      Bus.Run({HTMLSERVICE_REG_PATH, "query", "HKCU\\AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current"});
  EXPECT_NE(after.ExitCode, 0);
}

}  // namespace
}  // namespace zb::test
