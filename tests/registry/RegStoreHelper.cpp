// Writes to the user's store from a process of its own, for the concurrency and crash tests.
//   write KEY PREFIX COUNT   COUNT integers PREFIX0.. (one registry instance, one write each)
//   churn KEY SIZE           forever: "blob" := SIZE bytes all equal to n, then "counter" := n
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/zbRegistry.h"

int main(int argc, char** argv) {
  using namespace zb;
  std::vector<std::string> a(argv + 1, argv + argc);
  try {
    if (a.size() == 4 && a[0] == "write") {
      TzbRegistry reg;
      if (!reg.OpenKey(Utf8ToUtf16(a[1]), true)) return 3;
      int n = std::atoi(a[3].c_str());
      for (int i = 0; i < n; ++i) reg.WriteInteger(Utf8ToUtf16(a[2] + std::to_string(i)), i);
      return 0;
    }
    if (a.size() == 3 && a[0] == "churn") {
      TzbRegistry reg;
      if (!reg.OpenKey(Utf8ToUtf16(a[1]), true)) return 3;
      std::vector<unsigned char> blob(static_cast<std::size_t>(std::atoi(a[2].c_str())));
      for (unsigned n = 1;; ++n) {
        std::fill(blob.begin(), blob.end(), static_cast<unsigned char>(n & 0xFF));
        reg.WriteBinaryData(u"blob", blob.data(), static_cast<std::int32_t>(blob.size()));
        reg.WriteInteger(u"counter", static_cast<std::int32_t>(n & 0xFF));
        if (n == 1) {
          std::puts("ready");
          std::fflush(stdout);
        }
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 2;
}
