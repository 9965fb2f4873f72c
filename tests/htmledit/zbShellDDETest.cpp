// The shell's requests to the editor: names from the machine hive, the conversation rules, the
// htmlfile and folder commands, against the real engine where a command navigates.
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include "htmledit/zbShellDDE.h"
#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbRegistry.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

// The shell's names as a desktop registers them.
void WriteShellNames() {
  TzbRegistry Reg(KEY_ALL_ACCESS, HKEY_CLASSES_ROOT);
  auto Default = [&](std::u16string_view AKey, std::u16string_view AValue) {
    ASSERT_TRUE(Reg.OpenKey(AKey, true));
    Reg.WriteString(u"", AValue);
    Reg.CloseKey();
  };
  Default(u"\\htmlfile\\shell\\open\\ddeexec\\application", u"IExplore");
  Default(u"\\htmlfile\\shell\\open\\ddeexec\\topic", u"WWW_OpenURL");
  Default(u"\\Folder\\shell\\open\\ddeexec\\application", u"Folders");
  Default(u"\\Folder\\shell\\open\\ddeexec\\topic", u"AppProperties");
  Default(u"\\Folder\\shell\\open\\ddeexec", u"[ViewFolder(\"%l\", %I, %S)]");
  Default(u"\\Folder\\shell\\explore\\ddeexec", u"[ExploreFolder(\"%l\", %I, %S)]");
  Default(u"\\Directory\\shell\\find\\ddeexec", u"[FindFolder(\"%l\", %I)]");
}

// The machine hive in a temporary folder.
class ShellRequests : public ::testing::Test {
 protected:
  TTempDir Dir;
  TScopedEnv Machine{"VESTRUM_MACHINE_REGISTRY", Dir.Path + "/machine.db"};
  void TearDown() override {
    SetShellLauncher(nullptr);
    SetCallbackErrorHook(nullptr);
  }
};

TEST_F(ShellRequests, NamesAreReadFromTheMachineHive) {
  WriteShellNames();
  ASSERT_TRUE(ReadShellDDESettings());
  const TzbShellDDENames& N = ShellDDENames();
  EXPECT_EQ(N.HtmlfileApplication, u"IExplore");
  EXPECT_EQ(N.HtmlfileTopic, u"WWW_OpenURL");
  EXPECT_EQ(N.FolderApplication, u"Folders");
  EXPECT_EQ(N.FolderTopic, u"AppProperties");
  EXPECT_EQ(N.OpenCommand, u"ViewFolder");
  EXPECT_EQ(N.ExploreCommand, u"ExploreFolder");
  EXPECT_EQ(N.FindCommand, u"FindFolder");

  // A key that cannot be opened leaves its name as it was.
  {
    TzbRegistry Reg(KEY_ALL_ACCESS, HKEY_CLASSES_ROOT);
    ASSERT_TRUE(Reg.DeleteKey(u"\\Directory"));
    ASSERT_TRUE(Reg.OpenKey(u"\\Folder\\shell\\open\\ddeexec\\topic", false));
    Reg.WriteString(u"", u"Other");
  }
  ASSERT_TRUE(ReadShellDDESettings());
  EXPECT_EQ(ShellDDENames().FindCommand, u"FindFolder");
  EXPECT_EQ(ShellDDENames().FolderTopic, u"Other");

  EXPECT_EQ(ShellCommandName(u"[ViewFolder(\"%l\")]"), u"ViewFolder");
  EXPECT_EQ(ShellCommandName(u"Open(x)"), u"Open");
  EXPECT_EQ(ShellCommandName(u"[NoParenthesis]"), u"");
  EXPECT_EQ(ShellCommandName(u""), u"");
}

TEST(ShellRequestParsing, FolderCommandsAsTheShellWritesThem) {
  TzbShellDDENames N;
  N.OpenCommand = u"ViewFolder";
  N.ExploreCommand = u"ExploreFolder";
  N.FindCommand = u"FindFolder";
  TzbFolderCommand C = ParseFolderCommand(u"[ExploreFolder(\"/home/u/Mail\", :1234:567, 3)]", N);
  EXPECT_EQ(C.Verb, TzbFolderVerb::fvExplore);
  EXPECT_EQ(C.Path, u"/home/u/Mail");
  EXPECT_EQ(C.ItemList, 1234);
  EXPECT_EQ(C.ItemListProcess, 567);
  EXPECT_EQ(C.ShowCommand, 3);

  C = ParseFolderCommand(u"[ViewFolder(\"\", 98765, 1)]", N);
  EXPECT_EQ(C.Verb, TzbFolderVerb::fvOpen);
  EXPECT_EQ(C.Path, u"");
  EXPECT_TRUE(C.HasItemList());
  EXPECT_EQ(C.ItemListProcess, 0);

  // A colon after the next comma belongs to another field; no show command gives 1, so does a sign.
  C = ParseFolderCommand(u"[FindFolder(\"/x\", 12, :9)]", N);
  EXPECT_EQ(C.Verb, TzbFolderVerb::fvFind);
  EXPECT_EQ(C.ItemList, 12);
  EXPECT_EQ(C.ItemListProcess, 0);
  EXPECT_EQ(C.ShowCommand, 9);
  EXPECT_EQ(ParseFolderCommand(u"[ViewFolder(\"/x\", 0)]", N).ShowCommand, 1);
  EXPECT_EQ(ParseFolderCommand(u"[ViewFolder(\"/x\", 0, -5)]", N).ShowCommand, 1);
  EXPECT_FALSE(ParseFolderCommand(u"[ViewFolder(\"/x\")]", N).HasItemList());

  // The verb compares exactly; an unknown one leaves the rest unparsed.
  C = ParseFolderCommand(u"[viewfolder(\"/x\", 5, 2)]", N);
  EXPECT_EQ(C.Verb, TzbFolderVerb::fvNone);
  EXPECT_EQ(C.Path, u"");
  EXPECT_EQ(C.ShowCommand, 1);
  EXPECT_EQ(ParseFolderCommand(u"ViewFolder", N).Verb, TzbFolderVerb::fvNone);
  TzbShellDDENames Empty;
  EXPECT_EQ(ParseFolderCommand(u"[(\"/x\")]", Empty).Verb, TzbFolderVerb::fvNone) << "empty names match nothing";

  EXPECT_EQ(HtmlfileCommandUrl(u"\"file:///a/b.htm\",,-1,0,,,,"), u"file:///a/b.htm");
  EXPECT_EQ(HtmlfileCommandUrl(u"file:///a/b.htm\",,-1"), u"file:///a/b.htm\",,-1");
  EXPECT_EQ(HtmlfileCommandUrl(u"\"file:///open"), u"file:///open");
}

// A client that records the server's answers.
struct TRecordingClient : TzbShellClient {
  IzbShellServer* Server = nullptr;
  std::vector<std::uint16_t> Statuses;
  int Terminated = 0;
  TRecordingClient() {
    OnAck = [this](IzbShellServer& S, std::u16string_view, std::u16string_view) { Server = &S; };
    OnExecuteAck = [this](IzbShellServer&, std::uint16_t AStatus) { Statuses.push_back(AStatus); };
    OnTerminate = [this](IzbShellServer&) { ++Terminated; };
  }
};

TEST_F(ShellRequests, ConversationsOnlyWithEnableDDEAndOnlyWithinThisThread) {
  WriteShellNames();
  TzbHtmlEdit& E = *GEdit;  // its Create read the names of the real machine hive
  ASSERT_TRUE(ReadShellDDESettings());
  ASSERT_FALSE(E.EnableDDE());
  TRecordingClient C;
  InitiateShellConversation(C, u"IExplore", u"WWW_OpenURL");
  EXPECT_EQ(C.Server, nullptr) << "EnableDDE false never answers";

  E.SetEnableDDE(true);
  InitiateShellConversation(C, u"Folders", u"Nothing");
  EXPECT_EQ(C.Server, nullptr);
  EXPECT_FALSE(ShellConversationIsHtmlfile());
  // The names are atoms: their case does not count, but it does when choosing the conversation.
  InitiateShellConversation(C, u"FOLDERS", u"appproperties");
  EXPECT_NE(C.Server, nullptr);
  EXPECT_FALSE(ShellConversationIsHtmlfile());
  C.Server = nullptr;
  InitiateShellConversation(C, u"iexplore", u"WWW_OpenURL");
  EXPECT_EQ(C.Server, nullptr) << "the folder names were compared";
  InitiateShellConversation(C, u"IExplore", u"www_openurl");
  ASSERT_NE(C.Server, nullptr);
  EXPECT_TRUE(ShellConversationIsHtmlfile());

  // Another thread's or another process's client is never answered.
  std::unique_ptr<TRecordingClient> Foreign;
  std::thread([&] { Foreign = std::make_unique<TRecordingClient>(); }).join();
  InitiateShellConversation(*Foreign, u"IExplore", u"WWW_OpenURL");
  EXPECT_EQ(Foreign->Server, nullptr);
  TRecordingClient Other;
  Other.ProcessId = ::getpid() + 1;
  InitiateShellConversation(Other, u"IExplore", u"WWW_OpenURL");
  EXPECT_EQ(Other.Server, nullptr);

  // The htmlfile command: an address in quotes followed by parameters navigates the editor.
  TTempDir Docs;
  std::string File = Docs.Write("shell.htm", "<html><body>from the shell</body></html>");
  TzbGChars Uri(g_filename_to_uri(File.c_str(), nullptr, nullptr));
  C.Server->Execute(C, u"\"" + Utf8ToUtf16(Uri.get()) + u"\",,-1,0,,,,");
  EXPECT_EQ(C.Statuses, std::vector<std::uint16_t>{1});
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_EQ(BodyText(E), u"from the shell");
  C.Server->Terminate(C);
  EXPECT_EQ(C.Terminated, 1);

  E.SetEnableDDE(false);
  C.Server = nullptr;
  InitiateShellConversation(C, u"IExplore", u"WWW_OpenURL");
  EXPECT_EQ(C.Server, nullptr);
}

TEST_F(ShellRequests, CommandsOfBothConversations) {
  WriteShellNames();
  ASSERT_TRUE(ReadShellDDESettings());
  std::vector<std::u16string> Visited;
  TzbShellDDEServer Server([] { return true; }, [&](std::u16string_view AUrl) { Visited.emplace_back(AUrl); });
  struct TLaunch {
    std::u16string Path, Verb;
    int Show;
  };
  std::vector<TLaunch> Launched;
  TRecordingClient C;
  TRecordingClient Inner;
  SetShellLauncher([&](std::u16string_view APath, std::u16string_view AVerb, int AShow) {
    Launched.push_back({std::u16string(APath), std::u16string(AVerb), AShow});
    // The file manager starting a conversation with us while we start it is ignored.
    EXPECT_TRUE(ShellCallActive());
    InitiateShellConversation(Inner, u"Folders", u"AppProperties");
    return true;
  });
  std::vector<std::u16string> Logged;
  SetCallbackErrorHook([&](const std::exception& AError) { Logged.push_back(Utf8ToUtf16(AError.what())); });

  InitiateShellConversation(C, u"IExplore", u"WWW_OpenURL");
  ASSERT_EQ(C.Server, &Server);
  Server.Execute(C, u"file:///a.htm\",,-1");
  EXPECT_EQ(Visited.back(), u"file:///a.htm\",,-1") << "without the leading quote the whole command";

  InitiateShellConversation(C, u"Folders", u"AppProperties");
  ASSERT_EQ(C.Server, &Server);
  C.Statuses.clear();
  Server.Execute(C, u"[ViewFolder(\"/home/u/Mail\", :0:0, 1)]");
  Server.Execute(C, u"[ExploreFolder(\"/home/u\", 0, 3)]");
  Server.Execute(C, u"[FindFolder(\"/srv\", 0)]");
  Server.Execute(C, u"[OpenFolder(\"/home/u\", 0, 1)]");
  Server.Execute(C, u"[ExploreFolder(\"\", :1234:567, 1)]");
  Server.Execute(C, u"[ViewFolder(\"\", 0, 1)]");
  EXPECT_EQ(C.Statuses, (std::vector<std::uint16_t>{1, 1, 1, 0, 0, 1}));
  EXPECT_EQ(Visited.back(), u"/home/u/Mail");
  ASSERT_EQ(Launched.size(), 2u);
  EXPECT_EQ(Launched[0].Path, u"/home/u");
  EXPECT_EQ(Launched[0].Verb, u"explore");
  EXPECT_EQ(Launched[0].Show, 3);
  EXPECT_EQ(Launched[1].Path, u"/srv");
  EXPECT_EQ(Launched[1].Verb, u"find");
  EXPECT_EQ(Launched[1].Show, 1);
  EXPECT_EQ(Inner.Server, nullptr);
  EXPECT_FALSE(ShellCallActive());
  ASSERT_EQ(Logged.size(), 1u) << "the command with only an item-id list";
  EXPECT_NE(Logged[0].find(u"ExploreFolder"), std::u16string::npos);

  // No names at all: nothing is ever answered.
  ::setenv("VESTRUM_MACHINE_REGISTRY", (Dir.Path + "/none.db").c_str(), 1);
  TzbShellDDENames Before = ShellDDENames();
  ASSERT_TRUE(ReadShellDDESettings());
  EXPECT_EQ(ShellDDENames().FolderApplication, Before.FolderApplication) << "unopened keys keep their names";
}

}  // namespace
}  // namespace zb::test
