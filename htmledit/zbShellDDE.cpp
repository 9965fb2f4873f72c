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

bool IsNumberChar(char16_t AChar) { return AChar == u'+' || AChar == u'-' || (AChar >= u'0' && AChar <= u'9'); }

// The first run of number characters from AFrom on, and where it ends.
std::u16string_view NumberRun(std::u16string_view AText, std::size_t AFrom, std::size_t& AEnd) {
  std::size_t b = AFrom;
  while (b < AText.size() && !IsNumberChar(AText[b])) ++b;
  std::size_t e = b;
  while (e < AText.size() && IsNumberChar(AText[e])) ++e;
  AEnd = e;
  return AText.substr(std::min(b, AText.size()), e - std::min(b, AText.size()));
}

std::int64_t RunValue(std::u16string_view ARun) {
  const std::string text = Utf16ToUtf8(ARun);
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  return end && *end == '\0' && !text.empty() ? v : 0;
}

// A key that cannot be opened leaves ATarget as it was.
void ReadDefault(TzbRegistry& AReg, std::u16string_view AKey, std::u16string& ATarget,
                 std::u16string (*AConvert)(std::u16string_view) = nullptr) {
  if (AReg.OpenKeyReadOnly(AKey)) {
    std::u16string value = AReg.ReadString(u"", u"");
    ATarget = AConvert ? AConvert(value) : value;
  }
  AReg.CloseKey();
}

}  // namespace

const TzbShellDDENames& ShellDDENames() { return GNames; }

std::u16string ShellCommandName(std::u16string_view AValue) {
  const std::size_t bracket = AValue.find(u'[');
  const std::size_t from = bracket == std::u16string_view::npos ? 0 : bracket + 1;
  const std::size_t paren = AValue.find(u'(');
  if (paren == std::u16string_view::npos || paren < from) return u"";
  return std::u16string(AValue.substr(from, paren - from));
}

bool ReadShellDDESettings() {
  try {
    // Only read: the machine hive is read-only for users, and a write-access open would fail there.
    TzbRegistry reg(KEY_READ, HKEY_CLASSES_ROOT);
    ReadDefault(reg, u"\\htmlfile\\shell\\open\\ddeexec\\application", GNames.HtmlfileApplication);
    ReadDefault(reg, u"\\htmlfile\\shell\\open\\ddeexec\\topic", GNames.HtmlfileTopic);
    ReadDefault(reg, u"\\Folder\\shell\\open\\ddeexec\\application", GNames.FolderApplication);
    ReadDefault(reg, u"\\Folder\\shell\\open\\ddeexec\\topic", GNames.FolderTopic);
    ReadDefault(reg, u"\\Folder\\shell\\open\\ddeexec", GNames.OpenCommand, ShellCommandName);
    ReadDefault(reg, u"\\Folder\\shell\\explore\\ddeexec", GNames.ExploreCommand, ShellCommandName);
    ReadDefault(reg, u"\\Directory\\shell\\find\\ddeexec", GNames.FindCommand, ShellCommandName);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TzbFolderCommand ParseFolderCommand(std::u16string_view ACommand, const TzbShellDDENames& ANames) {
  TzbFolderCommand r;
  const std::size_t bracket = ACommand.find(u'[');
  const std::size_t from = bracket == std::u16string_view::npos ? 0 : bracket + 1;
  const std::size_t paren = ACommand.find(u'(', from);
  if (paren == std::u16string_view::npos) return r;
  const std::u16string_view verb = ACommand.substr(from, paren - from);
  if (verb.empty()) return r;
  if (verb == ANames.OpenCommand)
    r.Verb = TzbFolderVerb::fvOpen;
  else if (verb == ANames.ExploreCommand)
    r.Verb = TzbFolderVerb::fvExplore;
  else if (verb == ANames.FindCommand)
    r.Verb = TzbFolderVerb::fvFind;
  else
    return r;

  const std::size_t q1 = ACommand.find(u'"');
  const std::size_t q2 = q1 == std::u16string_view::npos ? q1 : ACommand.find(u'"', q1 + 1);
  if (q2 != std::u16string_view::npos) r.Path = ACommand.substr(q1 + 1, q2 - q1 - 1);

  const std::size_t c1 = ACommand.find(u',');
  if (c1 == std::u16string_view::npos) return r;
  const std::size_t c2 = ACommand.find(u',', c1 + 1);
  std::size_t end = 0;
  r.ItemList = RunValue(NumberRun(ACommand, c1 + 1, end));
  if (end < ACommand.size() && ACommand[end] == u':' && (c2 == std::u16string_view::npos || end < c2)) {
    std::size_t end2 = 0;
    r.ItemListProcess = RunValue(NumberRun(ACommand, end + 1, end2));
  }
  if (c2 != std::u16string_view::npos) {
    std::size_t p = c2 + 1;
    while (p < ACommand.size() && !IsNumberChar(ACommand[p])) ++p;
    if (p < ACommand.size() && ACommand[p] >= u'0' && ACommand[p] <= u'9') r.ShowCommand = ACommand[p] - u'0';
  }
  return r;
}

std::u16string HtmlfileCommandUrl(std::u16string_view ACommand) {
  if (ACommand.empty() || ACommand.front() != u'"') return std::u16string(ACommand);
  std::u16string_view rest = ACommand.substr(1);
  return std::u16string(rest.substr(0, rest.find(u'"')));
}

TzbShellClient::TzbShellClient() : ProcessId(::getpid()), ThreadId(std::this_thread::get_id()) {}

void RegisterShellServer(IzbShellServer& AServer) { GServers.push_back(&AServer); }

void UnregisterShellServer(IzbShellServer& AServer) {
  GServers.erase(std::remove(GServers.begin(), GServers.end(), &AServer), GServers.end());
}

void InitiateShellConversation(TzbShellClient& AClient, std::u16string_view AApplication, std::u16string_view ATopic) {
  // A server may end its registration while it answers.
  const std::vector<IzbShellServer*> servers = GServers;
  for (IzbShellServer* s : servers)
    if (std::find(GServers.begin(), GServers.end(), s) != GServers.end()) s->Initiate(AClient, AApplication, ATopic);
}

bool LaunchFolder(std::u16string_view APath, std::u16string_view AVerb, int AShowCommand) {
  if (GLauncher) return GLauncher(APath, AVerb, AShowCommand);
  // The desktop's handler of folders is its file manager; it has no separate search start.
  const int result = ShellExecuteOrOpenWith(nullptr, u"OPEN", APath, u"", u"", AShowCommand);
  if (result > 32) return true;
  CallbackFailed(EzbException(Format(u"Der Ordner \"%s\" konnte nicht geöffnet werden (Fehler %d)", {APath, result})));
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
  const bool htmlfile = AApplication == GNames.HtmlfileApplication;
  GHtmlfileConversation = htmlfile;
  const std::u16string& application = htmlfile ? GNames.HtmlfileApplication : GNames.FolderApplication;
  const std::u16string& topic = htmlfile ? GNames.HtmlfileTopic : GNames.FolderTopic;
  // WM_DDE_ACK
  if (SameAtom(application, AApplication) && SameAtom(topic, ATopic) && AClient.OnAck)
    AClient.OnAck(*this, AApplication, ATopic);
}

void TzbShellDDEServer::Execute(TzbShellClient& AClient, std::u16string_view ACommand) {
  // WM_DDE_EXECUTE: the command arrives as text, so there is nothing to unpack or lock.
  std::uint16_t status = 0;
  if (GHtmlfileConversation) {
    FGo(HtmlfileCommandUrl(ACommand));
    status = 1;
  } else {
    const TzbFolderCommand c = ParseFolderCommand(ACommand, GNames);
    if (c.Verb != TzbFolderVerb::fvNone) {
      if (c.Path.empty() && c.HasItemList()) {
        // The shell's item-id lists point into another program's memory on Windows; nothing here
        // can read them.
        CallbackFailed(EzbException(Format(
            u"Ein Ordnerbefehl der Shell ohne Pfad (nur mit Elementliste) wird nicht ausgeführt: %s", {ACommand})));
      } else {
        status = 1;
        if (c.Verb == TzbFolderVerb::fvOpen) {
          if (!c.Path.empty()) FGo(c.Path);
        } else if (!c.Path.empty()) {
          GShellCall = true;
          try {
            LaunchFolder(c.Path, c.Verb == TzbFolderVerb::fvExplore ? u"explore" : u"find", c.ShowCommand);
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
  if (AClient.OnExecuteAck) AClient.OnExecuteAck(*this, status);
}

void TzbShellDDEServer::Terminate(TzbShellClient& AClient) {
  // WM_DDE_TERMINATE is answered at once.
  if (AClient.OnTerminate) AClient.OnTerminate(*this);
}

}  // namespace zb
