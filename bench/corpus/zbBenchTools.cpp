#include "bench/corpus/zbBenchTools.h"

#include <cstdlib>
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

}  // namespace zb::bench
