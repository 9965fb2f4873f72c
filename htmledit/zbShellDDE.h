// The shell's open, explore and find requests, carried inside the process: a client starts a
// conversation by naming an application and a topic, every registered server hears it, a server that
// takes it answers, and the client then sends its commands to that server. Clients and servers live on
// the GTK main thread; a server answers only clients of its own process and thread (docs/shell-requests.md).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace zb {

// The conversation names of the shell, read from HKEY_CLASSES_ROOT; empty names match nothing.
struct TzbShellDDENames {
  std::u16string HtmlfileApplication, HtmlfileTopic;
  std::u16string FolderApplication, FolderTopic;
  std::u16string OpenCommand, ExploreCommand, FindCommand;
};

// The process-wide names; read again by every ReadShellDDESettings.
const TzbShellDDENames& ShellDDENames();
// Fills the names; false on an error, which leaves the names read so far. A key that cannot be opened
// leaves its name as it was.
bool ReadShellDDESettings();
// The text after the first "[" and before the first "(" of a command value ("" without "(").
std::u16string ShellCommandName(std::u16string_view AValue);

enum class TzbFolderVerb { fvNone, fvOpen, fvExplore, fvFind };

struct TzbFolderCommand {
  TzbFolderVerb Verb = TzbFolderVerb::fvNone;
  std::u16string Path;
  // The shell's item-id list: an address, or with a non-zero ItemListProcess a shared block's handle.
  std::int64_t ItemList = 0;
  std::int64_t ItemListProcess = 0;
  int ShowCommand = 1;
  bool HasItemList() const { return ItemList != 0; }
};

// A folder command such as [ExploreFolder("/home/x", :1234:567, 1)]. Without a known verb the other
// fields stay unparsed.
TzbFolderCommand ParseFolderCommand(std::u16string_view ACommand, const TzbShellDDENames& ANames);
// The address of an htmlfile command: a leading double quote is dropped and the text cut before the next.
std::u16string HtmlfileCommandUrl(std::u16string_view ACommand);

class IzbShellServer;

// One end of a conversation; it belongs to the process and thread that made it.
class TzbShellClient {
 public:
  TzbShellClient();
  pid_t ProcessId;
  std::thread::id ThreadId;
  // The server took the conversation.
  std::function<void(IzbShellServer& AServer, std::u16string_view AApplication, std::u16string_view ATopic)> OnAck;
  // The server carried out (1) or refused (0) a command.
  std::function<void(IzbShellServer& AServer, std::uint16_t AStatus)> OnExecuteAck;
  // The server ended the conversation.
  std::function<void(IzbShellServer& AServer)> OnTerminate;
};

class IzbShellServer {
 public:
  virtual ~IzbShellServer() = default;
  virtual void Initiate(TzbShellClient& AClient, std::u16string_view AApplication, std::u16string_view ATopic) = 0;
  virtual void Execute(TzbShellClient& AClient, std::u16string_view ACommand) = 0;
  virtual void Terminate(TzbShellClient& AClient) = 0;
};

// Servers hear initiations while they are registered.
void RegisterShellServer(IzbShellServer& AServer);
void UnregisterShellServer(IzbShellServer& AServer);
// Offers the conversation to every registered server, in registration order.
void InitiateShellConversation(TzbShellClient& AClient, std::u16string_view AApplication, std::u16string_view ATopic);

// Opens a folder in the desktop's file manager for the verbs "explore" and "find"; false when nothing
// could be started.
using TzbShellLauncher = std::function<bool(std::u16string_view APath, std::u16string_view AVerb, int AShowCommand)>;
bool LaunchFolder(std::u16string_view APath, std::u16string_view AVerb, int AShowCommand);
// Replaces the launcher (nullptr: LaunchFolder again); tests watch what would be started.
void SetShellLauncher(TzbShellLauncher ALauncher);

// The server of one editor: its answers follow the editor's EnableDDE; open requests go to AGo.
class TzbShellDDEServer : public IzbShellServer {
 public:
  TzbShellDDEServer(std::function<bool()> AEnabled, std::function<void(std::u16string_view)> AGo);
  ~TzbShellDDEServer() override;
  TzbShellDDEServer(const TzbShellDDEServer&) = delete;
  TzbShellDDEServer& operator=(const TzbShellDDEServer&) = delete;

  void Initiate(TzbShellClient& AClient, std::u16string_view AApplication, std::u16string_view ATopic) override;
  void Execute(TzbShellClient& AClient, std::u16string_view ACommand) override;
  void Terminate(TzbShellClient& AClient) override;

 private:
  std::function<bool()> FEnabled;
  std::function<void(std::u16string_view)> FGo;
  pid_t FProcessId;
  std::thread::id FThreadId;
};

// Process-wide: the last initiation that reached the name comparison chose the htmlfile conversation.
bool ShellConversationIsHtmlfile();
// True while a server starts the file manager; initiations are ignored meanwhile.
bool ShellCallActive();

}  // namespace zb
