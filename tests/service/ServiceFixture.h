// A private session bus (dbus-daemon) with the real service binary on it, for end-to-end tests.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/glib/zbGOwner.h"
#include "tests/TestEnv.h"

namespace zb::test {

struct TRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// The answer of a call, or the D-Bus error name when there was none.
struct TAnswer {
  std::optional<std::int32_t> Value;
  std::string Error;
};

using TEnv = std::map<std::string, std::string>;

class TPrivateBus {
 public:
  TPrivateBus();
  ~TPrivateBus();
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;

  const std::string& Address() const { return FAddress; }
  const std::string& Folder() const { return FFolder; }
  GDBusConnection* Connection() const { return FConnection.get(); }
  // A further client connection of this process.
  TzbGObject<GDBusConnection> Connect() const;

  // Starts the service and waits until it owns its name; ends it at tear-down if still running.
  pid_t StartService(const TEnv& AEnv = {});
  // Waits for the service started last to exit; its exit code, or -1 when killed by a signal.
  int WaitService();
  bool NameOwned() const;

  // Runs a program to its end with this bus as the session bus.
  TRun Run(const std::vector<std::string>& AArgv, const TEnv& AEnv = {}) const;

  TAnswer Request(std::int32_t ACode, const std::vector<std::uint8_t>& ABlock) const;
  TAnswer Call(const char* AMethod, GVariant* AParameters) const;

  std::vector<std::string> Environment(const TEnv& AEnv) const;

 private:
  std::string FFolder;
  std::string FAddress;
  pid_t FDaemon = -1;
  pid_t FService = -1;
  TzbGObject<GDBusConnection> FConnection;
};

TAnswer AnswerOf(GVariant* AReply, const GError* AError);

// The job of the test queues titled ATitle once the scheduler has handed it on (its PDF); empty after 30 s.
std::filesystem::path WaitForJob(const std::string& ATitle);

// The engine's web processes below the service APid (in its sandbox bubblewrap's processes stand in
// between), and killing them as an out-of-memory kill would.
std::vector<pid_t> WebProcessesOf(pid_t APid);
void KillWebProcessesOf(pid_t APid);

// A listening socket on the loopback: documents pointed at it must never connect.
class TLocalListener {
 public:
  TLocalListener();
  ~TLocalListener();
  TLocalListener(const TLocalListener&) = delete;
  TLocalListener& operator=(const TLocalListener&) = delete;
  // "http://127.0.0.1:<port>"
  const std::string& Base() const { return FBase; }
  // Whether anything connected so far.
  bool Contacted() const;

 private:
  int FSocket = -1;
  std::string FBase;
};

// A request whose answer comes when its window has been closed.
class TPendingCall {
 public:
  TPendingCall(const TPrivateBus& ABus, const char* AMethod, GVariant* AParameters);
  // The answer, once it came (waits up to a minute for it).
  std::optional<std::int32_t> Answer();

 private:
  static void Done(GObject* AConnection, GAsyncResult* AResult, gpointer ASelf) noexcept;
  bool FDone = false;
  std::optional<std::int32_t> FAnswer;
};

// The keyboard tests' driver of the display (xdotool). The window whose title matches APattern once it
// is on screen, given the keyboard; empty when none came within 30 s.
std::string WaitForWindow(const std::string& APattern);
// Real key presses ("Return", "alt+s") on whichever window has the keyboard.
void Keys(const std::string& AKeys);
// A shell command's standard output.
std::string Shell(const std::string& ACommand);

}  // namespace zb::test
