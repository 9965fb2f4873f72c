// Printing of the mail corpus through the real service (PrintFiles to the default queue of
// scripts/with-cups) side by side with headless Chromium and WeasyPrint, each run once per document,
// on small mails and on long mails of 20 to 50 pages; then the service's peak memory while it prints
// the largest long mail. Needs a display and the private print service (scripts/bench-print).
//   bench_Print [--small N=40] [--long M=10] [--unsandboxed]
// --unsandboxed adds a second service on a bus of its own whose web process runs without the engine's
// sandbox, as a fourth tool in the same rotation, and its peak memory on the same mail.
// Each table gives the PDF size per document and per page beside the rates.
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus/zbBenchTools.h"
#include "bench/corpus/zbMailCorpus.h"
#include "platform/glib/zbGOwner.h"
#include "service/HtmlServiceConst.h"
#include "tests/service/ServiceFixture.h"

extern char** environ;

namespace {

using namespace zb;
namespace fs = std::filesystem;
using bench::Clock;
using bench::FlagValue;
using bench::MsSince;
using bench::SizeOf;

constexpr std::size_t kSmallBytes = 8 * 1024;
constexpr int kMinPages = 20;
constexpr int kMaxPages = 50;
// A job or a tool that takes longer has hung; the run goes on without it.
constexpr int kTimeoutMs = 300000;
constexpr char kFooterStyle[] =
    "@page { @bottom-right { content: \"Seite \" counter(page) \" von \" counter(pages) } }\n";

std::string Env(const char* AName) {
  const char* value = std::getenv(AName);
  return value ? value : "";
}

// The page count poppler reads from a PDF; 0 when it is no PDF.
int PagesOf(const fs::path& APdf) {
  if (SizeOf(APdf) == 0) return 0;
  const gchar* argv[] = {"pdfinfo", APdf.c_str(), nullptr};
  gchar* out = nullptr;
  gint status = 0;
  const bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr,
                                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                                nullptr, &out, nullptr, &status, nullptr);
  const zb::TzbGChars owned(out);
  if (!ran) return 0;
  const std::string text = out ? out : "";
  const auto at = text.find("\nPages:");
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 7);
}

// A mail's content without its document frame, so that several mails make one long mail.
std::string BodyOf(const std::string& AHtml) {
  const auto begin = AHtml.find("<body>");
  const auto end = AHtml.rfind("</body>");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return AHtml;
  return AHtml.substr(begin + 6, end - begin - 6);
}

// A long mail of corpus mails one after the other (paragraphs, tables, quoted replies), from corpus
// mail AFirst on, until ABytes are reached. Only mails up to 16 KB, so that the last one overshoots
// by a few pages at most.
std::string LongMail(unsigned ANo, std::uint32_t AFirst, std::size_t ABytes) {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Langer Brief " + std::to_string(ANo) +
                     "</title>\n<style>body{font-family:Calibri,Arial;font-size:11pt} blockquote{margin:0 0 0 .8ex;"
                     "border-left:1px solid #ccc;padding-left:1ex}</style></head>\n<body>\n";
  for (std::uint32_t i = AFirst; html.size() < ABytes; ++i) {
    const std::string mail = bench::GenerateMail(i);
    if (mail.size() <= 16 * 1024) html += BodyOf(mail);
  }
  return html + "</body></html>\n";
}

void WriteFile(const fs::path& APath, const std::string& AText) {
  std::ofstream out(APath, std::ios::binary);
  out << AText;
  if (!out) throw std::runtime_error("cannot write " + APath.string());
}

// The queue's backend moves each finished job into place as job-<id>.pdf; inotify tells the moment
// without polling the folder on cores shared with the programs measured.
class TJobWatch {
 public:
  explicit TJobWatch(const fs::path& AFolder) : FFolder(AFolder) {
    FFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (FFd < 0 || inotify_add_watch(FFd, AFolder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
      throw std::runtime_error("cannot watch " + AFolder.string());
    for (const auto& e : fs::directory_iterator(AFolder)) FSeen.insert(e.path().filename().string());
  }
  ~TJobWatch() { close(FFd); }
  TJobWatch(const TJobWatch&) = delete;
  TJobWatch& operator=(const TJobWatch&) = delete;

  // The next job's PDF, or nothing when none arrived before the timeout.
  std::optional<fs::path> WaitNext() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    alignas(inotify_event) char buffer[4096];
    while (Clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
      const ssize_t n = read(FFd, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        const std::string name = e->len ? e->name : "";
        if (name.rfind("job-", 0) != 0 || fs::path(name).extension() != ".pdf") continue;
        if (FSeen.insert(name).second) return FFolder / name;
      }
    }
    return std::nullopt;
  }

 private:
  fs::path FFolder;
  int FFd = -1;
  std::set<std::string> FSeen;
};

// One program of the comparison; Argv holds "{IN}" and "{OUT}" where the paths go. Empty for the service.
struct TTool {
  std::string Name;
  std::vector<std::string> Argv;
  std::string Program;
  bool Present = true;
};

// The tools run as a user would run them: a fresh process per document. Only async-signal-safe calls
// between fork and exec: this process has GDBus threads.
bool RunTool(const TTool& ATool, const std::vector<char*>& AEnv, const std::string& ASource,
             const std::string& ATarget) {
  std::vector<std::string> args;
  for (const auto& a : ATool.Argv) {
    std::string arg = a;
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{IN}", ASource}, {"{OUT}", ATarget}})
      if (const auto at = arg.find(key); at != std::string::npos) arg.replace(at, key.size(), value);
    args.push_back(arg);
  }
  args[0] = ATool.Program;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) throw std::runtime_error("cannot open /dev/null");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    // Its own process group, so that a hung tool goes with all of its helpers.
    setpgid(0, 0);
    execve(argv[0], argv.data(), AEnv.data());
    _exit(127);
  }
  close(null);
  if (pid < 0) return false;
  // The raw call: this glibc's <sys/pidfd.h> lacks C linkage for C++.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  pollfd p{pidfd, POLLIN, 0};
  if (pidfd >= 0 && poll(&p, 1, kTimeoutMs) == 0) kill(-pid, SIGKILL);
  if (pidfd >= 0) close(pidfd);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> ToolEnvironment(const fs::path& AHome) {
  std::vector<std::string> env;
  for (char** p = environ; *p; ++p) {
    const std::string e = *p;
    if (e.rfind("HOME=", 0) == 0 || e.rfind("http_proxy=", 0) == 0 || e.rfind("https_proxy=", 0) == 0 ||
        e.rfind("no_proxy=", 0) == 0)
      continue;
    env.push_back(e);
  }
  // Chromium keeps its profile in the home folder: the benchmark's own, not the user's.
  env.push_back("HOME=" + AHome.string());
  // The service never loads the mails' remote images; WeasyPrint has no switch for that, so its
  // requests go to a closed local port and fail at once instead of timing the network.
  env.push_back("http_proxy=http://127.0.0.1:9");
  env.push_back("https_proxy=http://127.0.0.1:9");
  return env;
}

// One subset's totals per tool; for the service Ms is the request and LandedMs until the PDF is there.
struct TTally {
  double Ms = 0;
  double LandedMs = 0;
  long Pages = 0;
  int Failures = 0;
  std::uintmax_t PdfBytes = 0;  // of all PDFs the tool made
};

struct TLongRow {
  std::uintmax_t Bytes = 0;
  int Pages[4] = {0, 0, 0, 0};
  double Ms[4] = {0, 0, 0, 0};
  double LandedMs = 0;
};

class TBench {
 public:
  TBench(unsigned ASmall, unsigned ALong, bool AUnsandboxed)
      : FSmallCount(ASmall), FLongCount(ALong), FUnsandboxed(AUnsandboxed) {}

  int Run() {
    FFolder = fs::path(FBus.Folder()) / "bench";
    for (const char* sub : {"small", "long", "out", "home"}) fs::create_directories(FFolder / sub);
    WriteFile(FFolder / "footer.css", kFooterStyle);
    FWatch.emplace(Env("ZB_TEST_PRINT_OUT"));
    SetUpTools();

    auto t0 = Clock::now();
    FService = FBus.StartService();
    const double startMs = MsSince(t0);
    WriteSmallMails();
    // One mail through every tool before timing, so that first starts (page cache, fonts, Chromium's
    // new profile) are not counted.
    const auto warm = PrintByService(FSmall[0]);
    std::printf("service: started in %.0f ms, first print %.0f ms to the request, %.0f ms to the PDF%s\n", startMs,
                warm.Ms, warm.LandedMs, warm.Pages > 0 ? "" : " (FAILED)");
    if (FUnsandboxed) {
      FBusOff.emplace();
      t0 = Clock::now();
      FServiceOff = FBusOff->StartService({{"HTMLSERVICE_TEST_BWRAP", (FFolder / "no-bwrap").string()}});
      const double offStartMs = MsSince(t0);
      const auto warmOff = PrintByService(FSmall[0], &*FBusOff);
      std::printf(
          "service without sandbox: started in %.0f ms, first print %.0f ms to the request, %.0f ms to the PDF%s\n",
          offStartMs, warmOff.Ms, warmOff.LandedMs, warmOff.Pages > 0 ? "" : " (FAILED)");
    }
    for (std::size_t k = 1; k < FTools.size(); ++k)
      if (FTools[k].Present && k != kUnsandboxed) PrintByTool(FTools[k], FSmall[0], "warm-" + std::to_string(k));
    if (!WriteLongMails()) return Finish(true);

    int failures = Measure("small mails", FSmall, false);
    failures += Measure("long mails", FLong, true);
    failures += MeasureMemory();
    return Finish(failures > 0 || warm.Pages == 0);
  }

 private:
  struct TResult {
    double Ms = 0;
    double LandedMs = 0;
    int Pages = 0;
    std::uintmax_t PdfBytes = 0;
  };

  void SetUpTools() {
    FTools = {
        {"service PrintFiles", {}, "", true},
        // Chromium's defaults print date, title, address and page numbers; remote loads fail at once,
        // as the service never makes them.
        {"chromium",
         {"chromium", "--headless", "--disable-gpu", "--no-sandbox", "--host-resolver-rules=MAP * ~NOTFOUND",
          "--print-to-pdf={OUT}", "file://{IN}"},
         "",
         true},
        {"weasyprint", {"weasyprint", "{IN}", "{OUT}", "-s", (FFolder / "footer.css").string()}, "", true},
        {"service, no sandbox", {}, "", FUnsandboxed},
    };
    for (auto& t : FTools) {
      if (t.Argv.empty()) continue;
      TzbGChars found(g_find_program_in_path(t.Argv[0].c_str()));
      t.Present = found != nullptr;
      if (found)
        t.Program = found.get();
      else
        std::printf("%s: not installed, left out (scripts/bench-print installs it)\n", t.Argv[0].c_str());
    }
    FEnvStrings = ToolEnvironment(FFolder / "home");
    for (auto& e : FEnvStrings) FEnv.push_back(e.data());
    FEnv.push_back(nullptr);
  }

  // The corpus's own small mails, in corpus order, so that the subset is the same on every run.
  void WriteSmallMails() {
    std::uintmax_t bytes = 0;
    for (std::uint32_t i = 0; FSmall.size() < FSmallCount; ++i) {
      const std::string html = bench::GenerateMail(i);
      if (html.size() >= kSmallBytes) continue;
      char name[32];
      std::snprintf(name, sizeof name, "mail-%04u.htm", i);
      FSmall.push_back((FFolder / "small" / name).string());
      WriteFile(FSmall.back(), html);
      bytes += html.size();
    }
    std::printf("small mails: %zu corpus mails under %zu KB, %.1f KB on average\n", FSmall.size(), kSmallBytes / 1024,
                bytes / 1024.0 / FSmall.size());
  }

  // Long mails sized by the service's own pages per byte, measured on one sample beforehand, with
  // targets spread over the range; the measured run then checks each mail's page count.
  bool WriteLongMails() {
    const fs::path sample = FFolder / "long" / "sample.htm";
    const std::string sampleHtml = LongMail(0, 1000, 150 * 1024);
    WriteFile(sample, sampleHtml);
    const auto probe = PrintByService(sample.string());
    fs::remove(sample);
    if (probe.Pages == 0) {
      std::printf("long mails: the sample did not print\n");
      return false;
    }
    const double bytesPerPage = static_cast<double>(sampleHtml.size()) / probe.Pages;
    std::uintmax_t bytes = 0;
    for (unsigned j = 0; j < FLongCount; ++j) {
      // Targets keep off the range's ends: the pages per byte differ somewhat from mail to mail.
      const int span = kMaxPages - kMinPages - 14;
      const double pages = kMinPages + 5 + (FLongCount > 1 ? span * j / (FLongCount - 1.0) : span / 2.0);
      char name[32];
      std::snprintf(name, sizeof name, "long-%02u.htm", j);
      FLong.push_back((FFolder / "long" / name).string());
      // Each long mail starts elsewhere in the corpus, so that they differ.
      const std::string html = LongMail(j + 1, 2000 + 97 * j, static_cast<std::size_t>(pages * bytesPerPage));
      WriteFile(FLong.back(), html);
      bytes += html.size();
    }
    std::printf("long mails: %u of corpus mails one after another, %.0f KB on average (sample: %d pages of %.0f KB)\n",
                FLongCount, bytes / 1024.0 / FLongCount, probe.Pages, sampleHtml.size() / 1024.0);
    return true;
  }

  TResult PrintByService(const std::string& ASource, const test::TPrivateBus* ABus = nullptr) {
    TResult r;
    const auto t0 = Clock::now();
    const auto answer = (ABus ? *ABus : FBus).Call("PrintFiles", g_variant_new("(s)", ASource.c_str()));
    r.Ms = MsSince(t0);
    if (answer.Value != HS_OK) return r;
    const auto pdf = FWatch->WaitNext();
    r.LandedMs = MsSince(t0);
    if (!pdf) return r;
    r.Pages = PagesOf(*pdf);
    r.PdfBytes = SizeOf(*pdf);
    std::error_code ignored;
    fs::remove(*pdf, ignored);
    fs::remove(fs::path(*pdf).replace_extension(".title"), ignored);
    return r;
  }

  TResult PrintByTool(const TTool& ATool, const std::string& ASource, const std::string& AName) {
    TResult r;
    const fs::path target = FFolder / "out" / (AName + ".pdf");
    const auto t0 = Clock::now();
    const bool ok = RunTool(ATool, FEnv, ASource, target.string());
    r.Ms = r.LandedMs = MsSince(t0);
    if (ok) {
      r.Pages = PagesOf(target);
      r.PdfBytes = SizeOf(target);
    }
    std::error_code ignored;
    fs::remove(target, ignored);
    return r;
  }

  // Every document goes through every tool in turn, the order rotating per document, so that a change
  // of machine load (others' builds on the same cores) hits all of them alike.
  int Measure(const char* ASubset, const std::vector<std::string>& AFiles, bool ALong) {
    std::vector<TTally> tally(FTools.size());
    std::vector<TLongRow> rows;
    for (std::size_t i = 0; i < AFiles.size(); ++i) {
      TLongRow row;
      row.Bytes = SizeOf(AFiles[i]);
      for (std::size_t k = 0; k < FTools.size(); ++k) {
        const std::size_t t = (i + k) % FTools.size();
        if (!FTools[t].Present) continue;
        const TResult r = t == 0 ? PrintByService(AFiles[i])
                          : t == kUnsandboxed
                              ? PrintByService(AFiles[i], &*FBusOff)
                              : PrintByTool(FTools[t], AFiles[i], std::to_string(i) + "-" + std::to_string(t));
        tally[t].Ms += r.Ms;
        tally[t].LandedMs += r.LandedMs;
        tally[t].Pages += r.Pages;
        tally[t].PdfBytes += r.PdfBytes;
        if (r.Pages == 0) ++tally[t].Failures;
        row.Pages[t] = r.Pages;
        row.Ms[t] = r.Ms;
        if (t == 0) row.LandedMs = r.LandedMs;
      }
      rows.push_back(row);
    }

    const double n = static_cast<double>(AFiles.size());
    std::printf("\n%s: %zu documents, the three tools one after the other per document\n", ASubset, AFiles.size());
    std::printf("%-28s %8s %8s %7s %9s %9s %11s %9s\n", "tool", "time s", "docs/s", "pages", "pages/s", "failures",
                "PDF KB/doc", "KB/page");
    auto line = [&](const char* AName, double AMs, const TTally& AT) {
      std::printf("%-28s %8.2f %8.2f %7ld %9.2f %9d %11.1f %9.1f\n", AName, AMs / 1000, n / (AMs / 1000), AT.Pages,
                  AT.Pages / (AMs / 1000), AT.Failures, AT.PdfBytes / 1024.0 / n,
                  AT.Pages ? AT.PdfBytes / 1024.0 / static_cast<double>(AT.Pages) : 0.0);
    };
    line("service: request", tally[0].Ms, tally[0]);
    line("service: until the PDF is in", tally[0].LandedMs, tally[0]);
    for (std::size_t t = 1; t < FTools.size(); ++t)
      if (FTools[t].Present) line(FTools[t].Name.c_str(), tally[t].Ms, tally[t]);

    std::printf("%-28s %14s %14s %14s %14s\n", "service ratio", "docs/s req", "docs/s PDF", "pages/s req",
                "pages/s PDF");
    for (std::size_t t = 1; t < FTools.size(); ++t) {
      if (!FTools[t].Present) continue;
      const auto& s = tally[0];
      const auto& o = tally[t];
      // docs/s and pages/s quotients; the pages of each tool's own PDF count for its pages/s.
      const double docs = o.Ms / s.Ms, docsLanded = o.Ms / s.LandedMs;
      const double pages = (s.Pages / s.Ms) / (o.Pages / o.Ms), pagesLanded = (s.Pages / s.LandedMs) / (o.Pages / o.Ms);
      std::printf("%-28s %14.2f %14.2f %14.2f %14.2f\n", ("service / " + FTools[t].Name).c_str(), docs, docsLanded,
                  pages, pagesLanded);
      if (t == 1) FChromium[ALong] = {docs, docsLanded, pages, pagesLanded};
    }
    std::printf(
        "(above 1 the service is faster; req: the request's time, PDF: until the job's PDF is in the queue's "
        "folder)\n");
    if (FTools[1].Present) {
      const auto& c = FChromium[ALong];
      if (ALong)
        std::printf("goal long mails, service >= 2x chromium pages/s: %s by request (%.2f), %s by PDF (%.2f)\n",
                    c[2] >= 2 ? "met" : "MISSED", c[2], c[3] >= 2 ? "met" : "MISSED", c[3]);
      else
        std::printf("goal small mails, service >= 10x chromium docs/s: %s by request (%.2f), %s by PDF (%.2f)\n",
                    c[0] >= 10 ? "met" : "MISSED", c[0], c[1] >= 10 ? "met" : "MISSED", c[1]);
    }

    if (ALong) {
      std::printf("\n%-8s %8s %8s %8s %8s %12s %12s %12s %12s\n", "mail", "KB", "pages", "chromium", "weasy",
                  "service ms", "to PDF ms", "chromium ms", "weasy ms");
      int outside = 0;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        const bool inRange = r.Pages[0] >= kMinPages && r.Pages[0] <= kMaxPages;
        outside += !inRange;
        std::printf("%-8zu %8.0f %8d %8d %8d %12.0f %12.0f %12.0f %12.0f%s\n", i, r.Bytes / 1024.0, r.Pages[0],
                    r.Pages[1], r.Pages[2], r.Ms[0], r.LandedMs, r.Ms[1], r.Ms[2],
                    inRange ? "" : "  (outside 20..50 pages)");
      }
      std::printf("(pages: the service's PDF; chromium and weasy: their own PDFs)\n");
      if (outside) std::printf("%d long mails are outside 20 to 50 pages in the service's print\n", outside);
    }
    return tally[0].Failures;
  }

  // Sampled every 50 ms on a thread of its own from just before the request until the job's PDF is
  // there; not part of the timed runs, so the sampling costs them nothing.
  int MeasureMemory() {
    if (FLong.empty()) return 0;
    const auto largest = *std::max_element(FLong.begin(), FLong.end(),
                                           [](const auto& a, const auto& b) { return SizeOf(a) < SizeOf(b); });
    if (FBusOff) PeakWhilePrinting(largest, &*FBusOff, FServiceOff, "without the engine's sandbox");
    return PeakWhilePrinting(largest, nullptr, FService, "");
  }

  int PeakWhilePrinting(const std::string& ALargest, const test::TPrivateBus* ABus, pid_t AService, const char* AHow) {
    const bench::TTreeMemory before = bench::TreeMemoryOf(AService);
    std::atomic<bool> stop{false};
    bench::TTreeMemory peak;
    int samples = 0;
    std::thread sampler([&] {
      while (!stop) {
        bench::TTreeMemory m = bench::TreeMemoryOf(AService);
        if (m.TotalKb > peak.TotalKb) peak = std::move(m);
        ++samples;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    const TResult r = PrintByService(ALargest, ABus);
    stop = true;
    sampler.join();
    std::printf(
        "\npeak memory while the service %sprints the largest long mail (%.0f KB, %d pages, %.0f ms to the "
        "PDF): %.1f MB PSS (before: %.1f MB; %d samples every 50 ms)\n",
        *AHow ? (std::string(AHow) + " ").c_str() : "", SizeOf(ALargest) / 1024.0, r.Pages, r.LandedMs,
        peak.TotalKb / 1024.0, before.TotalKb / 1024.0, samples);
    for (const auto& [name, kb] : peak.ByName) std::printf("  %-24s %8.1f MB\n", name.c_str(), kb / 1024.0);
    return r.Pages == 0;
  }

  int Finish(bool AFailed) {
    FBus.Request(HS_TERMINATE, {});
    FBus.WaitService();
    if (FBusOff) {
      FBusOff->Request(HS_TERMINATE, {});
      FBusOff->WaitService();
    }
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
    // The service's error logs explain failures; otherwise nothing of the run stays behind.
    if (AFailed) {
      std::printf("service logs kept in %s/XDG_STATE_HOME\n", FBus.Folder().c_str());
    } else {
      for (const char* sub : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        fs::remove_all(fs::path(FBus.Folder()) / sub, ignored);
    }
    return AFailed ? 1 : 0;
  }

  unsigned FSmallCount;
  unsigned FLongCount;
  test::TPrivateBus FBus;
  pid_t FService = -1;
  // The tool index of the second service, without the engine's sandbox (--unsandboxed).
  static constexpr std::size_t kUnsandboxed = 3;
  bool FUnsandboxed = false;
  std::optional<test::TPrivateBus> FBusOff;
  pid_t FServiceOff = -1;
  fs::path FFolder;
  std::optional<TJobWatch> FWatch;
  std::vector<TTool> FTools;
  std::vector<std::string> FEnvStrings;
  std::vector<char*> FEnv;
  std::vector<std::string> FSmall;
  std::vector<std::string> FLong;
  // Quotients of service and Chromium per subset: docs/s by request and to the PDF, then pages/s alike.
  std::array<std::array<double, 4>, 2> FChromium{};
};

}  // namespace

int main(int argc, char** argv) {
  // Results show as they come when the output goes through a pipe (tee).
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    unsigned small = 40, longMails = 10;
    bool unsandboxed = false;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--small") == 0)
        small = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--long") == 0)
        longMails = FlagValue(i, argc, argv);
      else if (std::strcmp(argv[i], "--unsandboxed") == 0)
        unsandboxed = true;
      else
        throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
    }
    if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY")) {
      std::fprintf(stderr, "bench: no display; run scripts/bench-print\n");
      return 1;
    }
    if (Env("CUPS_SERVER").empty() || Env("ZB_TEST_PRINT_OUT").empty()) {
      std::fprintf(stderr, "bench: no private print service; run scripts/bench-print\n");
      return 1;
    }
    return TBench(small, longMails, unsandboxed).Run();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "bench: %s\nusage: %s [--small N=40] [--long M=10] [--unsandboxed]\n", e.what(), argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\nbench: service logs, if any, in XDG_STATE_HOME of the private bus\n", e.what());
    return 1;
  }
}
