// Document requests on the real service over a private bus, on the mail corpus of the engine benchmark:
// HTML-to-plain-text conversions per second through Request 1033 side by side with w3m, lynx and
// html2text run once per document, and the round trip of the suite's load, paste, bold, save sequence.
// Needs a display (scripts/bench-documents).
//   bench_Documents [--count N=500] [--sequence M=100]
//   bench_Documents --digest FILE [--count N=500] [--below BYTES]
// --digest converts the corpus through the service only and writes one line per mail (index, SHA-256
// and size of the text) to FILE, then the digest of all; two builds agree byte for byte when their
// files are equal. --below keeps only the mails smaller than BYTES (8192: the small mails).
#include <fcntl.h>
#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
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

bool Contains(const fs::path& APath, const std::string& AText) {
  std::ifstream in(APath, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes.find(AText) != std::string::npos;
}

// One converter of the side-by-side table: the service or an external program.
struct TConverter {
  std::string Name;
  std::vector<std::string> Argv;  // the source file goes last; empty for the service
  std::string Program;            // resolved path of Argv[0]
  double Ms = 0;
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
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int out = open(ATarget.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (out < 0 || null < 0) throw std::runtime_error("cannot open " + ATarget);
  const pid_t pid = fork();
  if (pid == 0) {
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
  TBench(unsigned ACount, unsigned ASequence, std::string ADigest, unsigned ABelow)
      : FCount(ACount), FSequence(std::min(ASequence, ACount)), FDigest(std::move(ADigest)), FBelow(ABelow) {}

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
    FBus.StartService();
    const double startMs = MsSince(t0);
    t0 = Clock::now();
    const bool warm = Convert(FFiles[0], (FFolder / "out" / "warm.txt").string());
    std::printf("service: started in %.0f ms, first conversion %.0f ms%s\n", startMs, MsSince(t0),
                warm ? "" : " (FAILED)");

    const int convertFailures = FDigest.empty() ? MeasureConversions() : WriteDigest();
    const int sequenceFailures = FDigest.empty() ? MeasureSequence() : 0;

    FBus.Request(HS_TERMINATE, {});
    FBus.WaitService();
    const bool failed = convertFailures || sequenceFailures || !warm;
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

  std::vector<TConverter> Converters() const {
    std::vector<TConverter> list = {
        {"service: Request 1033", {}, "", 0, 0, 0, true},
        {"w3m -dump",
         {"w3m", "-dump", "-T", "text/html", "-I", "UTF-8", "-O", "UTF-8", "-cols", "80"},
         "",
         0,
         0,
         0,
         true},
        {"lynx -dump",
         {"lynx", "-dump", "-force_html", "-nolist", "-assume_charset=utf-8", "-display_charset=utf-8", "-width=80"},
         "",
         0,
         0,
         0,
         true},
        {"html2text", {"html2text", "-utf8", "-nobs", "-width", "80"}, "", 0, 0, 0, true},
    };
    for (auto& c : list) {
      if (c.Argv.empty()) continue;
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
    auto converters = Converters();
    std::vector<std::string> envStrings = ToolEnvironment(FFolder / "home");
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    // Tools once each before timing, so that their first start (page cache, locale files) is not counted.
    for (auto& c : converters)
      if (!c.Argv.empty() && c.Present) RunTool(c, env, FFiles[0], (FFolder / "out" / "warm.txt").string());

    for (std::size_t i = 0; i < FFiles.size(); ++i) {
      for (std::size_t k = 0; k < converters.size(); ++k) {
        auto& c = converters[(i + k) % converters.size()];
        if (!c.Present) continue;
        const std::string target = (FFolder / "out" / (std::to_string(i) + "-" + std::to_string(k) + ".txt")).string();
        const auto t0 = Clock::now();
        const bool ok = c.Argv.empty() ? Convert(FFiles[i], target) : RunTool(c, env, FFiles[i], target);
        c.Ms += MsSince(t0);
        const auto size = SizeOf(target);
        // Every mail has visible text; an empty result is a failed conversion whatever the exit code said.
        if (!ok || size == 0) ++c.Failures;
        c.OutBytes += size;
        fs::remove(target);
      }
    }

    const double serviceRate = FFiles.size() / (converters[0].Ms / 1000.0);
    std::printf("\nHTML to plain text, %zu documents, one converter after the other per document\n", FFiles.size());
    std::printf("%-24s %8s %9s %10s %9s %14s\n", "converter", "time s", "docs/s", "text MB", "failures",
                "service ratio");
    for (const auto& c : converters) {
      if (!c.Present) continue;
      const double rate = FFiles.size() / (c.Ms / 1000.0);
      char ratio[32] = "-";
      if (!c.Argv.empty()) std::snprintf(ratio, sizeof ratio, "%.2f", serviceRate / rate);
      std::printf("%-24s %8.2f %9.1f %10.2f %9d %14s\n", c.Name.c_str(), c.Ms / 1000.0, rate, c.OutBytes / 1048576.0,
                  c.Failures, ratio);
    }
    std::printf("(service ratio: service docs/s divided by the tool's; above 1 the service is faster)\n");
    return converters[0].Failures;
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
  test::TPrivateBus FBus;
  fs::path FFolder;
  std::vector<std::string> FFiles;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    unsigned count = 500, sequence = 100;
    std::string digest;
    unsigned below = 0;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--digest") == 0 && i + 1 < argc)
        digest = argv[++i];
      else if (std::strcmp(argv[i], "--below") == 0)
        below = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--count") == 0)
        count = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--sequence") == 0)
        sequence = FlagValue(i, argc, argv);
      else
        throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
    }
    if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY")) {
      std::fprintf(stderr, "bench: no display; run scripts/bench-documents\n");
      return 1;
    }
    return TBench(count, sequence, digest, below).Run();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "bench: %s\nusage: %s [--count N=500] [--sequence M=100] [--digest FILE [--below BYTES]]\n",
                 e.what(), argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
    return 1;
  }
}
