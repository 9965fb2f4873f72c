// Load-and-read-text over the mail corpus: documents per second, the first load after start, and
// the peak memory of this process together with its WebKit processes.
// Run under a display: xvfb-run -a zbHtmlEdBench [COUNT=500]
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/corpus/zbMailCorpus.h"
#include "htmledit/zbHtmlEd.h"
#include "support/zbUnicode.h"

namespace {

long StatusKb(const std::string& AStatusFile, const char* AField) {
  std::ifstream In(AStatusFile);
  std::string Line;
  while (std::getline(In, Line))
    if (Line.rfind(AField, 0) == 0) return std::atol(Line.c_str() + std::char_traits<char>::length(AField));
  return 0;
}

// Peak resident memory of this process plus that of every WebKit process it started.
long PeakKb(int& AWebProcesses) {
  long Sum = StatusKb("/proc/self/status", "VmHWM:");
  AWebProcesses = 0;
  for (const auto& P : std::filesystem::directory_iterator("/proc")) {
    std::string Name = P.path().filename();
    if (Name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream Stat(P.path() / "stat");
    std::string Pid, Comm, State;
    long PPid = 0;
    Stat >> Pid >> Comm >> State >> PPid;
    if (PPid != getpid() || Comm.find("WebKit") == std::string::npos) continue;
    long Hwm = StatusKb((P.path() / "status").string(), "VmHWM:");
    Sum += Hwm ? Hwm : StatusKb((P.path() / "status").string(), "VmRSS:");
    ++AWebProcesses;
  }
  return Sum;
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  auto Start = Clock::now();
  unsigned Count = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 500;
  std::string Folder = std::string(g_get_tmp_dir()) + "/zb-mail-corpus-" + std::to_string(getpid());
  auto Files = zb::bench::WriteMailCorpus(Folder, Count);
  std::uintmax_t Bytes = 0;
  for (const auto& F : Files) Bytes += std::filesystem::file_size(F);

  auto EngineStart = Clock::now();
  if (!zb::HtmlEdModuleStart()) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  int Failures = 0;
  std::size_t TextUnits = 0;
  double FirstMs = 0;
  Clock::time_point LoopStart;
  {
    zb::TzbHtmlEdit Edit;
    auto LoadRead = [&](const std::string& AFile) {
      Edit.LoadFromFile(zb::Utf8ToUtf16(AFile), true);
      if (!Edit.WaitForComplete()) return ++Failures, void();
      auto D = Edit.DOC();
      auto Body = D ? D->body() : nullptr;
      if (!Body) return ++Failures, void();
      TextUnits += Body->outerText().size();
    };
    LoadRead(Files[0]);
    FirstMs = std::chrono::duration<double, std::milli>(Clock::now() - EngineStart).count();
    LoopStart = Clock::now();
    for (const auto& F : Files) LoadRead(F);
    double Seconds = std::chrono::duration<double>(Clock::now() - LoopStart).count();
    int WebProcesses = 0;
    long Peak = PeakKb(WebProcesses);
    std::printf("corpus:            %u mails, %.1f MB (generated in %.0f ms)\n", Count, Bytes / 1048576.0,
                std::chrono::duration<double, std::milli>(EngineStart - Start).count());
    std::printf("first load:        %.0f ms after start (engine creation, load, text)\n", FirstMs);
    std::printf("load + text:       %.1f documents/s (%.2f s for %u, %zu text units, %d failures)\n", Count / Seconds,
                Seconds, Count, TextUnits, Failures);
    std::printf("peak memory:       %.1f MB (this process and %d WebKit processes, VmHWM)\n", Peak / 1024.0,
                WebProcesses);
  }
  zb::HtmlEdModuleEnd();
  std::error_code Ignored;
  std::filesystem::remove_all(Folder, Ignored);
  return Failures ? 1 : 0;
}
