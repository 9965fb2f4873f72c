// Registry speed over real store files in a temporary folder: typed reads and writes (values per
// second), the open-write-close cycle with and without LazyWrite, and an export/import round trip
// of 10,000 values through the registry editor's text format.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/regstore/RegFile.h"
#include "support/zbRegistry.h"

namespace {

using namespace zb;

// One private store for the whole run.
struct TBenchStore {
  std::string Dir;
  TBenchStore() {
    char tmpl[] = "/tmp/zbreg-bench-XXXXXX";
    Dir = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    ::setenv("VESTRUM_MACHINE_REGISTRY", (Dir + "/machine.db").c_str(), 1);
  }
  ~TBenchStore() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};
TBenchStore Store;

std::u16string Name(int I) { return u"v" + Utf8ToUtf16(std::to_string(I % 1000)); }

void BM_WriteInteger(benchmark::State& State) {
  TzbRegistry reg;
  reg.OpenKey(u"Bench\\Integers", true);
  int i = 0;
  for (auto _ : State) reg.WriteInteger(Name(i), i), ++i;
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_WriteInteger);

void BM_ReadInteger(benchmark::State& State) {
  TzbRegistry reg;
  reg.OpenKey(u"Bench\\Integers", true);
  for (int i = 0; i < 1000; ++i) reg.WriteInteger(Name(i), i);
  int i = 0;
  for (auto _ : State) benchmark::DoNotOptimize(reg.ReadInteger(Name(i++)));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_ReadInteger);

void BM_WriteString(benchmark::State& State) {
  TzbRegistry reg;
  reg.OpenKey(u"Bench\\Strings", true);
  const std::u16string text(64, u'x');
  int i = 0;
  for (auto _ : State) reg.WriteString(Name(i++), text);
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_WriteString);

void BM_ReadString(benchmark::State& State) {
  TzbRegistry reg;
  reg.OpenKey(u"Bench\\Strings", true);
  for (int i = 0; i < 1000; ++i) reg.WriteString(Name(i), std::u16string(64, u'x'));
  int i = 0;
  for (auto _ : State) benchmark::DoNotOptimize(reg.ReadString(Name(i++), u""));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_ReadString);

void BM_ReadFloat(benchmark::State& State) {
  TzbRegistry reg;
  reg.OpenKey(u"Bench\\Floats", true);
  for (int i = 0; i < 1000; ++i) reg.WriteFloat(Name(i), i * 0.5);
  int i = 0;
  for (auto _ : State) benchmark::DoNotOptimize(reg.ReadFloat(Name(i++)));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_ReadFloat);

// How the service writes: open, one value, close. Without LazyWrite each close is a flush to disk.
void BM_OpenWriteClose(benchmark::State& State) {
  TzbRegistry reg;
  reg.SetLazyWrite(State.range(0) != 0);
  int i = 0;
  for (auto _ : State) {
    reg.OpenKey(u"\\Bench\\Cycle", true);
    reg.WriteInteger(Name(i), i);
    ++i;
    reg.CloseKey();
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_OpenWriteClose)->ArgName("LazyWrite")->Arg(1)->Arg(0);

void BM_ExportImport10000(benchmark::State& State) {
  {
    TzbRegistry reg;
    for (int k = 0; k < 100; ++k) {
      reg.OpenKey(u"\\Bench\\Tree\\K" + Utf8ToUtf16(std::to_string(k)), true);
      for (int v = 0; v < 100; ++v) {
        std::u16string n = u"value" + Utf8ToUtf16(std::to_string(v));
        if (v % 3 == 0)
          reg.WriteString(n, u"some text " + n);
        else if (v % 3 == 1)
          reg.WriteInteger(n, v);
        else
          reg.WriteBinaryData(n, "0123456789abcdef", 16);
      }
    }
  }
  std::size_t bytes = 0;
  for (auto _ : State) {
    std::string text = FormatRegFile(ExportKeyTree(RegStore(), HKEY_CURRENT_USER, u"Bench\\Tree"));
    bytes = text.size();
    DeleteKeyTree(RegStore(), HKEY_CURRENT_USER, u"Bench\\Tree");
    ImportRegFile(RegStore(), ParseRegFile(text));
  }
  State.SetItemsProcessed(State.iterations() * 10000);
  State.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ExportImport10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
