// The private print service of scripts/with-cups frozen on purpose: its scheduler stopped with SIGSTOP
// (found by the configuration it was started with) and resumed when the test lets go.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/print/zbPrintError.h"

namespace zb::print::test {

// The message of the print error AAction raises; "<no error>" when it raises none.
inline std::u16string ErrorOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const EzbPrintError& e) {
    return e.Message();
  }
  return u"<no error>";
}

// The pid of the scheduler started with ACupsdConf as its configuration; 0 when none runs.
inline pid_t SchedulerPid(const std::string& ACupsdConf) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), {});
    if (line.find("cupsd") != std::string::npos && line.find(ACupsdConf + '\0') != std::string::npos)
      return static_cast<pid_t>(std::stol(name));
  }
  return 0;
}

// The main scheduler of scripts/with-cups (its configuration lies in CUPS_SERVERROOT).
inline pid_t MainSchedulerPid() {
  const char* root = std::getenv("CUPS_SERVERROOT");
  return root ? SchedulerPid(std::string(root) + "/cupsd.conf") : 0;
}

// Stops the scheduler (now, or at Stop()) and resumes it with its owner.
class TFrozenScheduler {
 public:
  explicit TFrozenScheduler(bool AStopNow = true) : FPid(MainSchedulerPid()) {
    if (AStopNow) Stop();
  }
  ~TFrozenScheduler() { Resume(); }
  TFrozenScheduler(const TFrozenScheduler&) = delete;
  TFrozenScheduler& operator=(const TFrozenScheduler&) = delete;
  bool Found() const { return FPid > 0; }
  // Async-signal-safe: may run in any thread.
  void Stop() {
    if (FPid > 0 && ::kill(FPid, SIGSTOP) == 0) FStopped = true;
  }
  void Resume() {
    if (FStopped && ::kill(FPid, SIGCONT) == 0) FStopped = false;
  }

 private:
  pid_t FPid;
  std::atomic<bool> FStopped = false;
};

}  // namespace zb::print::test
