// Document requests on the real service over a private bus, on the mail corpus of the engine benchmark:
// HTML-to-plain-text conversions per second through Request 1033 side by side with the floor (the same
// conversion on one bare web view in a process of its own, bench_ConvertFloor), w3m, lynx and html2text
// run once per document, by size class; and the round trip of the suite's load, paste, bold, save
// sequence. Needs a display (scripts/bench-documents).
//   bench_Documents [--count N=500] [--sequence M=100] [--unsandboxed]
//   bench_Documents --digest FILE [--count N=500] [--below BYTES]
//   bench_Documents --memory [N=10000] [--count N=500]
// --digest converts the corpus through the service only and writes one line per mail (index, SHA-256
// and size of the text) to FILE, then the digest of all; two builds agree byte for byte when their
// files are equal. --below keeps only the mails smaller than BYTES (8192: the small mails).
// --memory converts the corpus round robin through the service only, N times, and compares the
// memory of the service and its web processes after 500 conversions with that after N.
// --unsandboxed adds a second service on a bus of its own whose web process runs without the engine's
// sandbox, in the same rotation: start-up, docs/s by class and PSS with and without it.
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus/zbBenchTools.h"
#include "bench/corpus/zbMailCorpus.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"
#include "tests/service/ServiceFixture.h"

extern char** environ;

namespace {

using namespace zb;
namespace fs = std::filesystem;
using bench::Clock;
using bench::FlagValue;
using bench::MsSince;
using bench::SizeOf;

constexpr std::int32_t kBoldCommand = 6;
constexpr char kPasted[] = "<p>Gru\xC3\x9F</p>";

// Size classes of the table by class: mails below 8 KB, above 100 KB, and all of them.
enum TSizeClass { scSmall, scBig, scWhole, scCount };
constexpr std::uintmax_t kSmallBelow = 8192;
constexpr std::uintmax_t kBigAbove = 102400;
constexpr const char* kClassNames[scCount] = {"small (< 8 KB)", "big (> 100 KB)", "whole corpus"};
// A class with fewer mails than this gives a rough rate only.
constexpr std::size_t kFewMails = 10;
// The goals: the service against the floor and against w3m, small mails and the whole corpus.
constexpr double kSmallFloorGoal = 0.6;
constexpr double kSmallW3mGoal = 2.0;
constexpr double kWholeFloorGoal = 0.8;

// The memory mode's first measurement, after the service has settled; the growth is from there.
constexpr unsigned kMemoryBaseline = 500;
constexpr unsigned kDefaultMemoryConversions = 10000;
constexpr double kMemoryGrowthGoal = 10.0;  // percent

std::string ReadAll(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return {(std::istreambuf_iterator<char>(in)), {}};
}

bool Contains(const fs::path& APath, const std::string& AText) {
  return ReadAll(APath).find(AText) != std::string::npos;
}

// The C view of strings for execve: pointers into AStrings, then the closing null.
std::vector<char*> CPointers(std::vector<std::string>& AStrings) {
  std::vector<char*> list;
  list.reserve(AStrings.size() + 1);
  for (auto& s : AStrings) list.push_back(s.data());
  list.push_back(nullptr);
  return list;
}

enum class TConverterKind { ckService, ckServiceUnsandboxed, ckFloor, ckTool };

// One converter of the side-by-side table: the service, its floor or an external program.
struct TConverter {
  std::string Name;
  TConverterKind Kind = TConverterKind::ckTool;
  std::vector<std::string> Argv;  // the source file goes last; tools only
  std::string Program;            // resolved path of Argv[0]
  double Ms = 0;
  std::array<double, scCount> ClassMs{};
  int Failures = 0;
  std::uintmax_t OutBytes = 0;
  bool Present = true;
};

// The tools run as a user of the suite would run them: a fresh process per document, text to a file.
// Only async-signal-safe calls between fork and exec: this process has GDBus threads.
bool RunTool(const TConverter& ATool, const std::vector<char*>& AEnv, const std::string& ASource,
             const std::string& ATarget) {
  std::vector<std::string> args = ATool.Argv;
  args[0] = ATool.Program;
  args.push_back(ASource);
  std::vector<char*> argv = CPointers(args);
  const int out = open(ATarget.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (out < 0 || null < 0) throw std::runtime_error("cannot open " + ATarget);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);  // ignored here for the floor's pipe only
    dup2(null, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execve(argv[0], argv.data(), AEnv.data());
    _exit(127);
  }
  close(out);
  close(null);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The tools' environment: their home (w3m keeps a folder there) is the benchmark's own folder.
std::vector<std::string> ToolEnvironment(const fs::path& AHome) {
  std::vector<std::string> env;
  for (char** p = environ; *p; ++p)
    if (std::strncmp(*p, "HOME=", 5) != 0) env.emplace_back(*p);
  env.push_back("HOME=" + AHome.string());
  return env;
}

// The floor program, started once for the whole run and fed one document at a time over its pipes:
// "SRC\tDST\n" in, "1\n" or "0\n" back once the target is written.
class TFloorProcess {
 public:
  TFloorProcess(const std::string& AProgram, const std::vector<char*>& AEnv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      throw std::runtime_error("cannot create a pipe");
    }
    std::string program = AProgram;
    char* argv[] = {program.data(), nullptr};
    FPid = fork();
    if (FPid == 0) {
      signal(SIGPIPE, SIG_DFL);
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      execve(argv[0], argv, AEnv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FIn = in[1];
    FOut = out[0];
    if (FPid < 0) {
      Close();
      throw std::runtime_error("cannot start " + AProgram);
    }
  }
  ~TFloorProcess() {
    Close();
    if (FPid <= 0) return;
    // The end of its input ends it; one that hangs is not waited for longer than a moment.
    int status = 0;
    for (int i = 0; i < 500 && waitpid(FPid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(FPid, &status, WNOHANG) == 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, &status, 0);
    }
  }
  TFloorProcess(const TFloorProcess&) = delete;
  TFloorProcess& operator=(const TFloorProcess&) = delete;

  bool Convert(const std::string& ASource, const std::string& ATarget) {
    if (FIn < 0) return false;
    const std::string line = ASource + "\t" + ATarget + "\n";
    for (std::size_t done = 0; done < line.size();) {
      const ssize_t n = write(FIn, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Lost();
      done += static_cast<std::size_t>(n);
    }
    std::string answer;
    char c = 0;
    while (answer.empty() || answer.back() != '\n') {
      const ssize_t n = read(FOut, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Lost();
      answer += c;
    }
    return answer == "1\n";
  }

 private:
  bool Lost() {
    std::fprintf(stderr, "bench: the floor program ended\n");
    Close();
    return false;
  }
  void Close() {
    if (FIn >= 0) close(FIn);
    if (FOut >= 0) close(FOut);
    FIn = FOut = -1;
  }

  pid_t FPid = -1;
  int FIn = -1;   // its standard input
  int FOut = -1;  // its standard output
};

std::string Rate(std::size_t ADocs, double AMs) {
  if (ADocs == 0 || AMs <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ADocs / (AMs / 1000.0));
  return text;
}

struct TStats {
  double Median = 0;
  double P99 = 0;
};

TStats StatsOf(std::vector<double> AMs) {
  if (AMs.empty()) return {};
  std::sort(AMs.begin(), AMs.end());
  return {AMs[AMs.size() / 2], AMs[std::min(AMs.size() - 1, AMs.size() * 99 / 100)]};
}

class TBench {
 public:
  bool Unsandboxed = false;

  TBench(unsigned ACount, unsigned ASequence, std::string ADigest, unsigned ABelow, unsigned AMemory)
      : FCount(ACount),
        FSequence(std::min(ASequence, ACount)),
        FDigest(std::move(ADigest)),
        FBelow(ABelow),
        FMemory(AMemory) {}

  int Run() {
    FFolder = fs::path(FBus.Folder()) / "bench";
    fs::create_directories(FFolder / "out");
    fs::create_directories(FFolder / "home");
    auto t0 = Clock::now();
    // Same generator and default seed as the engine benchmark, so the numbers compare.
    FFiles = bench::WriteMailCorpus((FFolder / "corpus").string(), FCount);
    if (FBelow > 0) std::erase_if(FFiles, [this](const std::string& f) { return SizeOf(f) >= FBelow; });
    if (FFiles.empty()) throw std::invalid_argument("no mail below the size");
    std::uintmax_t bytes = 0;
    for (const auto& f : FFiles) bytes += SizeOf(f);
    std::printf("corpus: %zu mails, %.1f MB (generated in %.0f ms)\n", FFiles.size(), bytes / 1048576.0, MsSince(t0));

    t0 = Clock::now();
    FServicePid = FBus.StartService();
    const double startMs = MsSince(t0);
    t0 = Clock::now();
    const bool warm = Convert(FFiles[0], (FFolder / "out" / "warm.txt").string());
    std::printf("service: started in %.0f ms, first conversion %.0f ms%s\n", startMs, MsSince(t0),
                warm ? "" : " (FAILED)");
    bool warmOff = true;
    if (Unsandboxed) {
      // The same service, its web process without the engine's sandbox: what bubblewrap costs.
      FBusOff.emplace();
      t0 = Clock::now();
      FServiceOffPid = FBusOff->StartService({{"HTMLSERVICE_TEST_BWRAP", (FFolder / "no-bwrap").string()}});
      const double offStartMs = MsSince(t0);
      t0 = Clock::now();
      warmOff = ConvertOn(*FBusOff, FFiles[0], (FFolder / "out" / "warm.txt").string());
      std::printf("service without sandbox: started in %.0f ms, first conversion %.0f ms%s\n", offStartMs, MsSince(t0),
                  warmOff ? "" : " (FAILED)");
    }

    const bool compare = FDigest.empty() && FMemory == 0;
    const int convertFailures = FMemory ? MeasureMemory() : compare ? MeasureConversions() : WriteDigest();
    const int sequenceFailures = compare ? MeasureSequence() : 0;

    FBus.Request(HS_TERMINATE, {});
    FBus.WaitService();
    if (FBusOff) {
      FBusOff->Request(HS_TERMINATE, {});
      FBusOff->WaitService();
    }
    const bool failed = convertFailures || sequenceFailures || !warm || !warmOff;
    // The service's error logs explain failures; otherwise nothing of the run stays behind.
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
    if (failed) {
      std::printf("service logs kept in %s/XDG_STATE_HOME\n", FBus.Folder().c_str());
    } else {
      for (const char* sub : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        fs::remove_all(fs::path(FBus.Folder()) / sub, ignored);
    }
    return failed ? 1 : 0;
  }

 private:
  bool Request(std::int32_t ACode, const TBlock& ABlock) const { return FBus.Request(ACode, ABlock).Value == HS_OK; }
  bool Text(std::int32_t ACode, const std::string& AUtf8) const {
    return Request(ACode, MakeTextBlock(Utf8ToUtf16(AUtf8)));
  }
  bool Convert(const std::string& ASource, const std::string& ATarget) const {
    return Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + ASource + ";DST:" + ATarget);
  }
  static bool ConvertOn(const test::TPrivateBus& ABus, const std::string& ASource, const std::string& ATarget) {
    return ABus.Request(HS_CONVERTHTMLTOPLAIN, MakeTextBlock(Utf8ToUtf16("SRC:" + ASource + ";DST:" + ATarget)))
               .Value == HS_OK;
  }

  std::vector<TConverter> Converters() const {
    using enum TConverterKind;
    std::vector<TConverter> list = {
        {.Name = "service: Request 1033", .Kind = ckService},
        {.Name = "service, no sandbox", .Kind = ckServiceUnsandboxed, .Present = Unsandboxed},
        {.Name = "floor: bare web view", .Kind = ckFloor, .Program = CONVERT_FLOOR_PATH},
        {.Name = "w3m -dump", .Argv = {"w3m", "-dump", "-T", "text/html", "-I", "UTF-8", "-O", "UTF-8", "-cols", "80"}},
        {.Name = "lynx -dump",
         .Argv = {"lynx", "-dump", "-force_html", "-nolist", "-assume_charset=utf-8", "-display_charset=utf-8",
                  "-width=80"}},
        {.Name = "html2text", .Argv = {"html2text", "-utf8", "-nobs", "-width", "80"}},
    };
    for (auto& c : list) {
      if (c.Kind == ckFloor) {
        c.Present = g_file_test(c.Program.c_str(), G_FILE_TEST_IS_EXECUTABLE);
        if (!c.Present) std::printf("%s: not built, left out\n", c.Program.c_str());
      }
      if (c.Kind != ckTool) continue;
      TzbGChars found(g_find_program_in_path(c.Argv[0].c_str()));
      c.Present = found != nullptr;
      if (found)
        c.Program = found.get();
      else
        std::printf("%s: not installed, left out (scripts/bench-documents installs it)\n", c.Argv[0].c_str());
    }
    return list;
  }

  // Every document goes through every converter in turn, the order rotating per document, so that
  // a change of machine load (builds of others on the same cores) hits all of them alike.
  int MeasureConversions() {
    using enum TConverterKind;
    auto converters = Converters();
    std::vector<std::string> envStrings = ToolEnvironment(FFolder / "home");
    const std::vector<char*> env = CPointers(envStrings);
    // The floor runs in the service's environment (its bus, no accessibility bus, its folders): the engine
    // then starts as it does in the service.
    std::vector<std::string> floorEnvStrings = FBus.Environment({});
    const std::vector<char*> floorEnv = CPointers(floorEnvStrings);
    const std::string warmTarget = (FFolder / "out" / "warm.txt").string();
    // Tools once each before timing, so that their first start (page cache, locale files) is not counted;
    // the floor starts once for the run, its engine started by its first document.
    // A floor that ends must not end this process by a write into its pipe.
    signal(SIGPIPE, SIG_IGN);
    std::optional<TFloorProcess> floor;
    for (auto& c : converters) {
      if (!c.Present) continue;
      if (c.Kind == ckTool) RunTool(c, env, FFiles[0], warmTarget);
      if (c.Kind != ckFloor) continue;
      const auto t0 = Clock::now();
      floor.emplace(c.Program, floorEnv);
      const bool warm = floor->Convert(FFiles[0], warmTarget);
      std::printf("floor: started and first conversion in %.0f ms%s\n", MsSince(t0), warm ? "" : " (FAILED)");
    }

    std::array<std::size_t, scCount> classDocs{};
    std::size_t compared = 0, equal = 0;
    std::string firstDiffering;
    for (std::size_t i = 0; i < FFiles.size(); ++i) {
      const std::uintmax_t size = SizeOf(FFiles[i]);
      const bool inClass[scCount] = {(size < kSmallBelow), (size > kBigAbove), true};
      for (int k = 0; k < scCount; ++k) classDocs[k] += inClass[k];
      std::string serviceText, floorText;
      for (std::size_t k = 0; k < converters.size(); ++k) {
        auto& c = converters[(i + k) % converters.size()];
        if (!c.Present) continue;
        const std::string target = (FFolder / "out" / (std::to_string(i) + "-" + std::to_string(k) + ".txt")).string();
        const auto t0 = Clock::now();
        const bool ok = c.Kind == ckService              ? Convert(FFiles[i], target)
                        : c.Kind == ckServiceUnsandboxed ? ConvertOn(*FBusOff, FFiles[i], target)
                        : c.Kind == ckFloor              ? floor->Convert(FFiles[i], target)
                                                         : RunTool(c, env, FFiles[i], target);
        const double ms = MsSince(t0);
        c.Ms += ms;
        for (int k = 0; k < scCount; ++k)
          if (inClass[k]) c.ClassMs[k] += ms;
        const auto written = SizeOf(target);
        // Every mail has visible text; an empty result is a failed conversion whatever the exit code said.
        if (!ok || written == 0) ++c.Failures;
        c.OutBytes += written;
        if (c.Kind == ckService) serviceText = ReadAll(target);
        if (c.Kind == ckFloor) floorText = ReadAll(target);
        fs::remove(target);
      }
      // The floor only counts as the service's floor while it writes the service's bytes.
      if (floor && !serviceText.empty()) {
        ++compared;
        if (floorText == serviceText)
          ++equal;
        else if (firstDiffering.empty())
          firstDiffering = fs::path(FFiles[i]).filename().string();
      }
    }
    floor.reset();
    signal(SIGPIPE, SIG_DFL);

    const double serviceRate = FFiles.size() / (converters[0].Ms / 1000.0);
    std::printf("\nHTML to plain text, %zu documents, one converter after the other per document\n", FFiles.size());
    std::printf("%-24s %8s %9s %10s %9s %14s\n", "converter", "time s", "docs/s", "text MB", "failures",
                "service ratio");
    for (const auto& c : converters) {
      if (!c.Present) continue;
      const double rate = FFiles.size() / (c.Ms / 1000.0);
      char ratio[32] = "-";
      if (c.Kind != ckService) std::snprintf(ratio, sizeof ratio, "%.2f", serviceRate / rate);
      std::printf("%-24s %8.2f %9.1f %10.2f %9d %14s\n", c.Name.c_str(), c.Ms / 1000.0, rate, c.OutBytes / 1048576.0,
                  c.Failures, ratio);
    }
    std::printf("(service ratio: service docs/s divided by the converter's; above 1 the service is faster)\n");
    if (compared > 0)
      std::printf("floor texts byte for byte equal to the service's: %zu of %zu%s%s\n", equal, compared,
                  firstDiffering.empty() ? "" : ", first differing: ", firstDiffering.c_str());
    PrintClasses(converters, classDocs);
    if (FBusOff) {
      const auto rate = [&](const TConverter& AConverter, int AClass) {
        return AConverter.ClassMs[AClass] > 0 ? classDocs[AClass] / (AConverter.ClassMs[AClass] / 1000.0) : 0.0;
      };
      std::printf("\nthe engine's sandbox: docs/s with it and without it, and its cost\n");
      for (int k = 0; k < scCount; ++k) {
        const double on = rate(converters[0], k), off = rate(converters[1], k);
        std::printf("%-16s %10.1f %10.1f %+8.1f%%\n", kClassNames[k], on, off, off > 0 ? (off - on) / off * 100 : 0.0);
      }
      const bench::TTreeMemory on = bench::TreeMemoryOf(FServicePid), off = bench::TreeMemoryOf(FServiceOffPid);
      std::printf("PSS of the service and its processes after the run: with %.1f MB, without %.1f MB\n",
                  on.TotalKb / 1024.0, off.TotalKb / 1024.0);
      for (const auto* tree : {&on, &off})
        for (const auto& [name, kb] : tree->ByName)
          std::printf("  %-8s %-24s %8.1f MB\n", tree == &on ? "with" : "without", name.c_str(), kb / 1024.0);
    }
    return converters[0].Failures + (FBusOff ? converters[1].Failures : 0);
  }

  static const TConverter* Find(const std::vector<TConverter>& AConverters, TConverterKind AKind,
                                const std::string& AName = "") {
    for (const auto& c : AConverters)
      if (c.Present && c.Kind == AKind && (AName.empty() || c.Argv[0] == AName)) return &c;
    return nullptr;
  }

  // docs/s per size class, the service's ratios to the floor and to w3m, and the goals.
  static void PrintClasses(const std::vector<TConverter>& AConverters, const std::array<std::size_t, scCount>& ADocs) {
    using enum TConverterKind;
    const TConverter* service = &AConverters[0];
    const TConverter* floor = Find(AConverters, ckFloor);
    const TConverter* w3m = Find(AConverters, ckTool, "w3m");
    std::printf("\ndocs/s by size class (%zu mails between 8 and 100 KB count in the whole corpus only)\n",
                ADocs[scWhole] - ADocs[scSmall] - ADocs[scBig]);
    std::printf("%-16s %6s", "class", "mails");
    for (const auto& c : AConverters)
      if (c.Present)
        std::printf(" %10s", c.Kind == ckService              ? "service"
                             : c.Kind == ckServiceUnsandboxed ? "no-sandbox"
                             : c.Kind == ckFloor              ? "floor"
                                                              : c.Argv[0].c_str());
    std::printf(" %14s %12s\n", "service/floor", "service/w3m");
    // The service's rate divided by the other's in a class, 0 when there is nothing to divide.
    const auto ratio = [&](const TConverter* AOther, int AClass) {
      if (!AOther || ADocs[AClass] == 0 || service->ClassMs[AClass] <= 0) return 0.0;
      return AOther->ClassMs[AClass] / service->ClassMs[AClass];
    };
    const auto ratioText = [&](const TConverter* AOther, int AClass) {
      char text[32] = "-";
      if (const double r = ratio(AOther, AClass); r > 0) std::snprintf(text, sizeof text, "%.2fx", r);
      return std::string(text);
    };
    for (int k = 0; k < scCount; ++k) {
      std::printf("%-16s %6zu", kClassNames[k], ADocs[k]);
      for (const auto& c : AConverters)
        if (c.Present) std::printf(" %10s", Rate(ADocs[k], c.ClassMs[k]).c_str());
      std::printf(" %14s %12s%s\n", ratioText(floor, k).c_str(), ratioText(w3m, k).c_str(),
                  ADocs[k] > 0 && ADocs[k] < kFewMails ? "   (few mails: a rough rate)" : "");
    }
    const auto goal = [&](const char* AWhat, const TConverter* AOther, int AClass, double AGoal) {
      const double r = ratio(AOther, AClass);
      if (r <= 0)
        std::printf("  %s >= %.1fx: cannot tell (%s)\n", AWhat, AGoal, AOther ? "no mails" : "not measured");
      else
        std::printf("  %s >= %.1fx: %.2fx, %s\n", AWhat, AGoal, r, r >= AGoal ? "met" : "NOT met");
    };
    std::printf("goals (small: service >= 0.6x floor and >= 2x w3m; whole corpus: service >= 0.8x floor)\n");
    goal("small: service/floor", floor, scSmall, kSmallFloorGoal);
    goal("small: service/w3m", w3m, scSmall, kSmallW3mGoal);
    goal("whole corpus: service/floor", floor, scWhole, kWholeFloorGoal);
  }

  // Every mail once through the service, the texts' digests to the digest file.
  int WriteDigest() {
    std::ofstream out(FDigest, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + FDigest);
    TzbOwner<GChecksum, g_checksum_free> all(g_checksum_new(G_CHECKSUM_SHA256));
    int failures = 0;
    double ms = 0;
    for (std::size_t i = 0; i < FFiles.size(); ++i) {
      const std::string target = (FFolder / "out" / (std::to_string(i) + ".txt")).string();
      const auto t0 = Clock::now();
      const bool ok = Convert(FFiles[i], target);
      ms += MsSince(t0);
      std::ifstream in(target, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      if (!ok || bytes.empty()) ++failures;
      TzbGChars one(
          g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
      out << i << ' ' << one.get() << ' ' << bytes.size() << (ok ? "" : " FAILED") << '\n';
      g_checksum_update(all.get(), reinterpret_cast<const guchar*>(one.get()), std::strlen(one.get()));
      fs::remove(target);
    }
    out << "all " << g_checksum_get_string(all.get()) << '\n';
    std::printf("\nservice: %zu documents in %.2f s, %.1f docs/s, %d failures\ndigest %s\n", FFiles.size(), ms / 1000.0,
                FFiles.size() / (ms / 1000.0), failures, g_checksum_get_string(all.get()));
    return failures;
  }

  // The service alone, FMemory conversions round robin over the corpus; its memory and that of its web
  // processes once it has settled (after the first 500) and at the end. The samples come right after a
  // conversion, at the same point of the request's cycle both times.
  int MeasureMemory() {
    const std::string target = (FFolder / "out" / "memory.txt").string();
    bench::TTreeMemory settled;
    int failures = 0;
    double ms = 0;
    for (unsigned n = 1; n <= FMemory; ++n) {
      const auto t0 = Clock::now();
      const bool ok = Convert(FFiles[(n - 1) % FFiles.size()], target);
      ms += MsSince(t0);
      if (!ok || SizeOf(target) == 0) ++failures;
      fs::remove(target);
      if (n == kMemoryBaseline) settled = bench::TreeMemoryOf(FServicePid);
    }
    const bench::TTreeMemory end = bench::TreeMemoryOf(FServicePid);
    std::printf("\nmemory: %u conversions through the service, round robin over %zu mails, %.1f docs/s, %d failures\n",
                FMemory, FFiles.size(), FMemory / (ms / 1000.0), failures);
    std::printf("PSS of the service and the processes below it\n");
    char lastColumn[32];
    std::snprintf(lastColumn, sizeof lastColumn, "after %u", FMemory);
    std::printf("%-8s %-24s %12s %12s %8s\n", "pid", "process", "after 500", lastColumn, "growth");
    const auto growth = [](long AFrom, long ATo) {
      char text[32] = "-";
      if (AFrom > 0 && ATo > 0) std::snprintf(text, sizeof text, "%+.1f%%", 100.0 * (ATo - AFrom) / AFrom);
      return std::string(text);
    };
    const auto megabytes = [](long AKb) {
      char text[32] = "-";
      if (AKb > 0) std::snprintf(text, sizeof text, "%.1f MB", AKb / 1024.0);
      return std::string(text);
    };
    // A process of only one of the two samples (a web process that was replaced) gets a line of its own.
    std::vector<bench::TProcessMemory> rows = settled.Processes;
    for (const auto& p : end.Processes)
      if (std::none_of(rows.begin(), rows.end(), [&](const auto& r) { return r.Pid == p.Pid; }))
        rows.push_back({p.Pid, p.Name, 0});
    for (const auto& r : rows) {
      long after = 0;
      for (const auto& p : end.Processes)
        if (p.Pid == r.Pid) after = p.PssKb;
      std::printf("%-8d %-24s %12s %12s %8s\n", static_cast<int>(r.Pid), r.Name.c_str(), megabytes(r.PssKb).c_str(),
                  megabytes(after).c_str(), growth(r.PssKb, after).c_str());
    }
    const double total = settled.TotalKb > 0 ? 100.0 * (end.TotalKb - settled.TotalKb) / settled.TotalKb : 0;
    std::printf("%-8s %-24s %12s %12s %8s\n", "", "all", megabytes(settled.TotalKb).c_str(),
                megabytes(end.TotalKb).c_str(), growth(settled.TotalKb, end.TotalKb).c_str());
    std::printf("goal: growth from 500 to %u conversions at most +%.0f%%: %+.1f%%, %s\n", FMemory, kMemoryGrowthGoal,
                total, total <= kMemoryGrowthGoal ? "met" : "NOT met");
    return failures;
  }

  // The suite's editing sequence over documents spread evenly through the corpus, so that the sizes
  // follow the corpus's mix.
  int MeasureSequence() {
    const std::string target = (FFolder / "out" / "saved.htm").string();
    THtmlExecCmd bold;
    bold.iCmdID = kBoldCommand;  // empty variant, no user interface
    const TBlock boldBlock = MakeExecCmdBlock(bold);
    const TBlock pasteBlock = MakeTextBlock(Utf8ToUtf16(kPasted));
    const char* const stepNames[] = {"load 1026", "paste 1037", "exec 1264 Bold", "save 1027"};
    std::vector<double> total;
    std::vector<std::vector<double>> steps(4);
    int failures = 0;
    for (unsigned n = 0; n < FSequence; ++n) {
      const std::string& source = FFiles[static_cast<std::size_t>(n) * FFiles.size() / FSequence];
      const TBlock blocks[] = {MakeTextBlock(Utf8ToUtf16(source)), pasteBlock, boldBlock,
                               MakeTextBlock(Utf8ToUtf16(target))};
      const std::int32_t codes[] = {HS_LOADFROMFILE, HS_PASTEHTMLEND, HS_EXECCMD, HS_SAVETOFILE};
      bool ok = true;
      const auto t0 = Clock::now();
      for (int s = 0; s < 4; ++s) {
        const auto ts = Clock::now();
        ok = Request(codes[s], blocks[s]) && ok;
        steps[s].push_back(MsSince(ts));
      }
      total.push_back(MsSince(t0));
      // A save without the pasted paragraph would time a sequence that did not happen.
      if (!ok || !Contains(target, "Gru")) ++failures;
      fs::remove(target);
    }
    std::printf("\nsequence load, paste \"<p>Gru\xC3\x9F</p>\" at the end, Bold, save: %u documents\n", FSequence);
    std::printf("%-24s %10s %10s\n", "request", "median ms", "p99 ms");
    for (int s = 0; s < 4; ++s) {
      const TStats st = StatsOf(steps[s]);
      std::printf("%-24s %10.2f %10.2f\n", stepNames[s], st.Median, st.P99);
    }
    const TStats all = StatsOf(total);
    std::printf("%-24s %10.2f %10.2f   (%d failed sequences)\n", "whole sequence", all.Median, all.P99, failures);
    return failures;
  }

  unsigned FCount;
  unsigned FSequence;
  std::string FDigest;
  unsigned FBelow;
  unsigned FMemory;  // conversions of the memory mode; 0 without it
  test::TPrivateBus FBus;
  pid_t FServicePid = -1;
  // --unsandboxed: a second service whose web process runs without the engine's sandbox.
  std::optional<test::TPrivateBus> FBusOff;
  pid_t FServiceOffPid = -1;
  fs::path FFolder;
  std::vector<std::string> FFiles;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    unsigned count = 500, sequence = 100;
    std::string digest;
    unsigned below = 0, memory = 0;
    bool unsandboxed = false;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--digest") == 0 && i + 1 < argc)
        digest = argv[++i];
      else if (std::strcmp(argv[i], "--below") == 0)
        below = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--count") == 0)
        count = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--sequence") == 0)
        sequence = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--unsandboxed") == 0)
        unsandboxed = true;
      else if (std::strcmp(argv[i], "--memory") == 0)
        memory = i + 1 < argc && argv[i + 1][0] != '-' ? FlagValue(i, argc, argv) : kDefaultMemoryConversions;
      else
        throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
    }
    if (memory > 0 && memory <= kMemoryBaseline)
      throw std::invalid_argument("--memory needs more than " + std::to_string(kMemoryBaseline) + " conversions");
    if (memory > 0 && !digest.empty()) throw std::invalid_argument("--memory and --digest do not go together");
    if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY")) {
      std::fprintf(stderr, "bench: no display; run scripts/bench-documents\n");
      return 1;
    }
    TBench bench(count, sequence, digest, below, memory);
    bench.Unsandboxed = unsandboxed && digest.empty() && memory == 0;
    return bench.Run();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr,
                 "bench: %s\nusage: %s [--count N=500] [--sequence M=100] [--digest FILE [--below BYTES]] "
                 "[--memory [N=10000]] [--unsandboxed]\n",
                 e.what(), argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
    return 1;
  }
}
