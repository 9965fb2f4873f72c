// What many test programs read: the variables the runners set (scripts/with-cups and the like) and
// whole files.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zb::test {

// The variable's value; "" when it is not set.
inline std::string Env(const char* AName) {
  const char* value = std::getenv(AName);
  return value ? value : "";
}

// The file's bytes; "" when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The private print service of scripts/with-cups runs: its scheduler and its PDF queue's output folder.
inline bool PrivateCupsRuns() { return !Env("CUPS_SERVER").empty() && !Env("ZB_TEST_PRINT_OUT").empty(); }

// A process id that belonged to a process that has ended: the owner of something left behind.
inline pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

}  // namespace zb::test

// Skips a test that needs the private print service.
#define NEEDS_CUPS()                                                        \
  if (!::zb::test::PrivateCupsRuns()) {                                     \
    GTEST_SKIP() << "needs the private print service of scripts/with-cups"; \
  }
