// What the document benchmarks share: timing, file sizes, their number flags and the memory of the
// service's process tree.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace zb::bench {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point AStart);
// 0 for a file that is not there.
std::uintmax_t SizeOf(const std::filesystem::path& APath);
// The number after the flag at AIndex (moved past it); raises std::invalid_argument below 1.
unsigned FlagValue(int& AIndex, int argc, char** argv);

struct TProcessMemory {
  pid_t Pid = 0;
  std::string Name;  // the program's file name
  long PssKb = 0;
};

// Proportional set size of a process and every process below it (WebKit's web and network processes),
// in KB, in total, by program name and by process (the root first).
struct TTreeMemory {
  long TotalKb = 0;
  std::map<std::string, long> ByName;
  std::vector<TProcessMemory> Processes;
};

TTreeMemory TreeMemoryOf(pid_t ARoot);

}  // namespace zb::bench
