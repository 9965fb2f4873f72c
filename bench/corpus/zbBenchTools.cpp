#include "bench/corpus/zbBenchTools.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace zb::bench {

double MsSince(Clock::time_point AStart) {
  return std::chrono::duration<double, std::milli>(Clock::now() - AStart).count();
}

std::uintmax_t SizeOf(const std::filesystem::path& APath) {
  std::error_code ignored;
  const auto size = std::filesystem::file_size(APath, ignored);
  return ignored ? 0 : size;
}

unsigned FlagValue(int& AIndex, int argc, char** argv) {
  if (AIndex + 1 >= argc) throw std::invalid_argument(std::string(argv[AIndex]) + " needs a number");
  const long v = std::strtol(argv[++AIndex], nullptr, 10);
  if (v < 1) throw std::invalid_argument(std::string(argv[AIndex - 1]) + " needs a number above 0");
  return static_cast<unsigned>(v);
}

namespace {

long PssKb(pid_t APid) {
  std::ifstream in("/proc/" + std::to_string(APid) + "/smaps_rollup");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("Pss:", 0) == 0) return std::atol(line.c_str() + 4);
  return 0;
}

}  // namespace

TTreeMemory TreeMemoryOf(pid_t ARoot) {
  namespace fs = std::filesystem;
  std::map<pid_t, std::vector<pid_t>> children;
  std::map<pid_t, std::string> names;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string dir = e.path().filename().string();
    if (dir.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // The name may hold spaces and parentheses; the fields after it start behind the last ')'.
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) continue;
    const pid_t pid = std::atoi(dir.c_str());
    // The program's file name: the kernel's own name of a process is cut at 15 characters.
    std::ifstream cmd(e.path() / "cmdline");
    std::string program;
    std::getline(cmd, program, '\0');
    names[pid] = program.empty() ? stat.substr(open + 1, close - open - 1) : fs::path(program).filename().string();
    children[std::atoi(stat.c_str() + close + 4)].push_back(pid);
  }
  TTreeMemory memory;
  std::vector<pid_t> todo{ARoot};
  while (!todo.empty()) {
    const pid_t pid = todo.back();
    todo.pop_back();
    const long kb = PssKb(pid);
    memory.TotalKb += kb;
    memory.ByName[names[pid]] += kb;
    memory.Processes.push_back({pid, names[pid], kb});
    for (pid_t c : children[pid]) todo.push_back(c);
  }
  return memory;
}

}  // namespace zb::bench
