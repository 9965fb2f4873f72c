#include "htmledit/zbShellDDE.h"

#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbFormat.h"
#include "support/zbRegistry.h"
#include "support/zbSound.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

TzbShellDDENames GNames;
std::vector<IzbShellServer*> GServers;
bool GHtmlfileConversation = false;
bool GShellCall = false;
TzbShellLauncher GLauncher;

// Names of the shell's atom table: at most 255 characters, compared without regard to case.
constexpr std::size_t MaxAtomLength = 255;
bool SameAtom(std::u16string_view AName, std::u16string_view AIncoming) {
  return !AName.empty() && AName.size() <= MaxAtomLength && !AIncoming.empty() && AIncoming.size() <= MaxAtomLength &&
         SameTextEx(AName, AIncoming, false);
}

bool IsNumberChar(char16_t C) { return C == u'+' || C == u'-' || (C >= u'0' && C <= u'9'); }

// The first run of number characters from AFrom on, and where it ends.
std::u16string_view NumberRun(std::u16string_view AText, std::size_t AFrom, std::size_t& AEnd) {
  std::size_t B = AFrom;
  while (B < AText.size() && !IsNumberChar(AText[B])) ++B;
  std::size_t E = B;
  while (E < AText.size() && IsNumberChar(AText[E])) ++E;
  AEnd = E;
  return AText.substr(std::min(B, AText.size()), E - std::min(B, AText.size()));
}

std::int64_t RunValue(std::u16string_view ARun) {
  const std::string Text = Utf16ToUtf8(ARun);
  char* End = nullptr;
  const long long V = std::strtoll(Text.c_str(), &End, 10);
  return End && *End == '\0' && !Text.empty() ? V : 0;
}

// A key that cannot be opened leaves ATarget as it was.
void ReadDefault(TzbRegistry& AReg, std::u16string_view AKey, std::u16string& ATarget,
                 std::u16string (*AConvert)(std::u16string_view) = nullptr) {
  if (AReg.OpenKeyReadOnly(AKey)) {
    std::u16string Value = AReg.ReadString(u"", u"");
    ATarget = AConvert ? AConvert(Value) : Value;
  }
  AReg.CloseKey();
}

}  // namespace

const TzbShellDDENames& ShellDDENames() { return GNames; }

std::u16string ShellCommandName(std::u16string_view AValue) {
  const std::size_t Bracket = AValue.find(u'[');
  const std::size_t From = Bracket == std::u16string_view::npos ? 0 : Bracket + 1;
  const std::size_t Paren = AValue.find(u'(');
  if (Paren == std::u16string_view::npos || Paren < From) return u"";
  return std::u16string(AValue.substr(From, Paren - From));
}

bool ReadShellDDESettings() {
  try {
    // Only read: the machine hive is read-only for users, and a write-access open would fail there.
    TzbRegistry Reg(KEY_READ, HKEY_CLASSES_ROOT);
    ReadDefault(Reg, u"\\htmlfile\\shell\\open\\ddeexec\\application", GNames.HtmlfileApplication);
    ReadDefault(Reg, u"\\htmlfile\\shell\\open\\ddeexec\\topic", GNames.HtmlfileTopic);
    ReadDefault(Reg, u"\\Folder\\shell\\open\\ddeexec\\application", GNames.FolderApplication);
    ReadDefault(Reg, u"\\Folder\\shell\\open\\ddeexec\\topic", GNames.FolderTopic);
    ReadDefault(Reg, u"\\Folder\\shell\\open\\ddeexec", GNames.OpenCommand, ShellCommandName);
    ReadDefault(Reg, u"\\Folder\\shell\\explore\\ddeexec", GNames.ExploreCommand, ShellCommandName);
    ReadDefault(Reg, u"\\Directory\\shell\\find\\ddeexec", GNames.FindCommand, ShellCommandName);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TzbFolderCommand ParseFolderCommand(std::u16string_view ACommand, const TzbShellDDENames& ANames) {
  TzbFolderCommand R;
  const std::size_t Bracket = ACommand.find(u'[');
  const std::size_t From = Bracket == std::u16string_view::npos ? 0 : Bracket + 1;
  const std::size_t Paren = ACommand.find(u'(', From);
  if (Paren == std::u16string_view::npos) return R;
  const std::u16string_view Verb = ACommand.substr(From, Paren - From);
  if (Verb.empty()) return R;
  if (Verb == ANames.OpenCommand)
    R.Verb = TzbFolderVerb::fvOpen;
  else if (Verb == ANames.ExploreCommand)
    R.Verb = TzbFolderVerb::fvExplore;
  else if (Verb == ANames.FindCommand)
    R.Verb = TzbFolderVerb::fvFind;
  else
    return R;

  const std::size_t Q1 = ACommand.find(u'"');
  const std::size_t Q2 = Q1 == std::u16string_view::npos ? Q1 : ACommand.find(u'"', Q1 + 1);
  if (Q2 != std::u16string_view::npos) R.Path = ACommand.substr(Q1 + 1, Q2 - Q1 - 1);

  const std::size_t C1 = ACommand.find(u',');
  if (C1 == std::u16string_view::npos) return R;
  const std::size_t C2 = ACommand.find(u',', C1 + 1);
  std::size_t End = 0;
  R.ItemList = RunValue(NumberRun(ACommand, C1 + 1, End));
  if (End < ACommand.size() && ACommand[End] == u':' && (C2 == std::u16string_view::npos || End < C2)) {
    std::size_t End2 = 0;
    R.ItemListProcess = RunValue(NumberRun(ACommand, End + 1, End2));
  }
  if (C2 != std::u16string_view::npos) {
    std::size_t P = C2 + 1;
    while (P < ACommand.size() && !IsNumberChar(ACommand[P])) ++P;
    if (P < ACommand.size() && ACommand[P] >= u'0' && ACommand[P] <= u'9') R.ShowCommand = ACommand[P] - u'0';
  }
  return R;
}

std::u16string HtmlfileCommandUrl(std::u16string_view ACommand) {
  if (ACommand.empty() || ACommand.front() != u'"') return std::u16string(ACommand);
  std::u16string_view Rest = ACommand.substr(1);
  return std::u16string(Rest.substr(0, Rest.find(u'"')));
}

TzbShellClient::TzbShellClient() : ProcessId(::getpid()), ThreadId(std::this_thread::get_id()) {}

void RegisterShellServer(IzbShellServer& AServer) { GServers.push_back(&AServer); }

void UnregisterShellServer(IzbShellServer& AServer) {
  GServers.erase(std::remove(GServers.begin(), GServers.end(), &AServer), GServers.end());
}

void InitiateShellConversation(TzbShellClient& AClient, std::u16string_view AApplication, std::u16string_view ATopic) {
  // A server may end its registration while it answers.
  const std::vector<IzbShellServer*> Servers = GServers;
  for (IzbShellServer* S : Servers)
    if (std::find(GServers.begin(), GServers.end(), S) != GServers.end()) S->Initiate(AClient, AApplication, ATopic);
}

bool LaunchFolder(std::u16string_view APath, std::u16string_view AVerb, int AShowCommand) {
  if (GLauncher) return GLauncher(APath, AVerb, AShowCommand);
  // The desktop's handler of folders is its file manager; it has no separate search start.
  const int Result = ShellExecuteOrOpenWith(nullptr, u"OPEN", APath, u"", u"", AShowCommand);
  if (Result > 32) return true;
  CallbackFailed(EzbException(Format(u"Der Ordner \"%s\" konnte nicht geöffnet werden (Fehler %d)", {APath, Result})));
  return false;
}

void SetShellLauncher(TzbShellLauncher ALauncher) { GLauncher = std::move(ALauncher); }

bool ShellConversationIsHtmlfile() { return GHtmlfileConversation; }
bool ShellCallActive() { return GShellCall; }

TzbShellDDEServer::TzbShellDDEServer(std::function<bool()> AEnabled, std::function<void(std::u16string_view)> AGo)
    : FEnabled(std::move(AEnabled)),
      FGo(std::move(AGo)),
      FProcessId(::getpid()),
      FThreadId(std::this_thread::get_id()) {
  RegisterShellServer(*this);
}

TzbShellDDEServer::~TzbShellDDEServer() { UnregisterShellServer(*this); }

void TzbShellDDEServer::Initiate(TzbShellClient& AClient, std::u16string_view AApplication,
                                 std::u16string_view ATopic) {
  // WM_DDE_INITIATE reaches the initiate handler only while the editor serves the shell.
  if (!FEnabled()) return;
  if (GShellCall) return;
  if (AClient.ProcessId != FProcessId || AClient.ThreadId != FThreadId) return;
  const bool Htmlfile = AApplication == GNames.HtmlfileApplication;
  GHtmlfileConversation = Htmlfile;
  const std::u16string& Application = Htmlfile ? GNames.HtmlfileApplication : GNames.FolderApplication;
  const std::u16string& Topic = Htmlfile ? GNames.HtmlfileTopic : GNames.FolderTopic;
  // WM_DDE_ACK
  if (SameAtom(Application, AApplication) && SameAtom(Topic, ATopic) && AClient.OnAck)
    AClient.OnAck(*this, AApplication, ATopic);
}

void TzbShellDDEServer::Execute(TzbShellClient& AClient, std::u16string_view ACommand) {
  // WM_DDE_EXECUTE: the command arrives as text, so there is nothing to unpack or lock.
  std::uint16_t Status = 0;
  if (GHtmlfileConversation) {
    FGo(HtmlfileCommandUrl(ACommand));
    Status = 1;
  } else {
    const TzbFolderCommand C = ParseFolderCommand(ACommand, GNames);
    if (C.Verb != TzbFolderVerb::fvNone) {
      if (C.Path.empty() && C.HasItemList()) {
        // The shell's item-id lists point into another program's memory on Windows; nothing here
        // can read them.
        CallbackFailed(EzbException(Format(
            u"Ein Ordnerbefehl der Shell ohne Pfad (nur mit Elementliste) wird nicht ausgeführt: %s", {ACommand})));
      } else {
        Status = 1;
        if (C.Verb == TzbFolderVerb::fvOpen) {
          if (!C.Path.empty()) FGo(C.Path);
        } else if (!C.Path.empty()) {
          GShellCall = true;
          try {
            LaunchFolder(C.Path, C.Verb == TzbFolderVerb::fvExplore ? u"explore" : u"find", C.ShowCommand);
          } catch (...) {
            GShellCall = false;
            throw;
          }
          GShellCall = false;
        }
      }
    }
  }
  // WM_DDE_ACK with the status word.
  if (AClient.OnExecuteAck) AClient.OnExecuteAck(*this, Status);
}

void TzbShellDDEServer::Terminate(TzbShellClient& AClient) {
  // WM_DDE_TERMINATE is answered at once.
  if (AClient.OnTerminate) AClient.OnTerminate(*this);
}

}  // namespace zb
