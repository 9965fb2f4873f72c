// StringReplace over 1 MiB of text with many matches, against a naive find-and-rebuild loop, for
// replacements of the same length, longer and shorter. Prints the median times and the ratio;
// exits 1 when the one-pass version does not win on every shape.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/zbStr.h"

namespace {

std::u16string NaiveReplaceAll(std::u16string s, const std::u16string& from, const std::u16string& to) {
  std::size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::u16string::npos) {
    s = s.substr(0, pos) + to + s.substr(pos + from.size());
    pos += to.size();
  }
  return s;
}

template <typename Fn>
double MedianMs(int runs, Fn&& fn) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int matches = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::size_t units = 512 * 1024;  // 1 MiB of UTF-16
  const std::u16string old = u"%FIELD%";
  std::u16string text;
  text.reserve(units + old.size());
  const std::size_t stride = units / static_cast<std::size_t>(std::max(matches, 1));
  const std::u16string filler = u"Sehr geehrte Damen und Herren, anbei die Unterlagen. ";
  while (text.size() < units) {
    std::size_t room = stride > old.size() ? stride - old.size() : 0;
    for (std::size_t i = 0; i < room; ++i) text += filler[(text.size() + i) % filler.size()];
    text += old;
  }

  struct Shape {
    const char* name;
    std::u16string replacement;
  } shapes[] = {{"same length", u"[value]"}, {"longer", u"<<a much longer replacement>>"}, {"shorter", u"-"}};

  std::printf("StringReplace, %zu KiB, %d matches, median of %d runs\n", text.size() * 2 / 1024, matches, runs);
  std::printf("%-12s %12s %12s %8s\n", "shape", "one-pass ms", "naive ms", "ratio");
  bool allWin = true;
  for (const auto& shape : shapes) {
    std::u16string a, b;
    const double fast = MedianMs(runs, [&] { a = zb::StringReplace(text, old, shape.replacement, zb::rfReplaceAll); });
    const double slow = MedianMs(runs, [&] { b = NaiveReplaceAll(text, old, shape.replacement); });
    if (a != b) {
      std::printf("%s: results differ\n", shape.name);
      return 2;
    }
    const double ratio = slow / fast;
    allWin = allWin && ratio > 1.0;
    std::printf("%-12s %12.2f %12.2f %7.1fx\n", shape.name, fast, slow, ratio);
  }
  std::printf(allWin ? "one-pass wins on every shape\n" : "one-pass does NOT win on every shape\n");
  return allWin ? 0 : 1;
}
