// What the document benchmarks share: timing, file sizes and their number flags.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

namespace zb::bench {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point AStart);
// 0 for a file that is not there.
std::uintmax_t SizeOf(const std::filesystem::path& APath);
// The number after the flag at AIndex (moved past it); raises std::invalid_argument below 1.
unsigned FlagValue(int& AIndex, int argc, char** argv);

}  // namespace zb::bench
