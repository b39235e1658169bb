// Load and save of a configuration with 100 resources (3800 cells) through a
// real file, the work the main window does at start and at close.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/resource_table.h"
#include "platform/ini_file.h"
#include "setup/config_file.h"

namespace tarvik {
namespace {

class TBenchDir {
  public:
    TBenchDir() {
        char tmpl[] = "/tmp/tarvik-bench-XXXXXX";
        if (::mkdtemp(tmpl)) Path_ = tmpl;
    }
    ~TBenchDir() {
        std::error_code ec;
        if (!Path_.empty()) std::filesystem::remove_all(Path_, ec);
    }
    std::string ConfigFile() const { return Path_ + "/QUORBELT.INI"; }

  private:
    std::string Path_;
};

TResourceTable Table(int resources) {
    TResourceTable t;
    t.SetRowCount(resources + 1);
    for (int r = 1; r <= resources; ++r)
        for (int c = 1; c < TResourceTable::ColCount; ++c)
            t.SetCell(c, r,
                      "/mnt/share/resource " + std::to_string(r) + " cell " + std::to_string(c));
    return t;
}

void BM_LoadConfig(benchmark::State& state) {
    const int resources = static_cast<int>(state.range(0));
    TBenchDir dir;
    const TWindowSettings defaults;
    if (WriteParametersFile(dir.ConfigFile(), Table(resources), defaults)) {
        state.SkipWithError("cannot write the configuration");
        return;
    }
    for (auto _ : state) {
        TResourceTable table;
        TWindowSettings settings;
        benchmark::DoNotOptimize(ReadParametersFile(dir.ConfigFile(), false, table, settings));
    }
    state.counters["cells"] = resources * TResourceTable::ColCount;
}
BENCHMARK(BM_LoadConfig)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Rewrites an existing file: load once, set every key, one atomic save
// (including fsync of the file and the directory).
void BM_SaveConfig(benchmark::State& state) {
    const int resources = static_cast<int>(state.range(0));
    TBenchDir dir;
    const TResourceTable table = Table(resources);
    const TWindowSettings settings;
    (void)WriteParametersFile(dir.ConfigFile(), table, settings);
    for (auto _ : state) {
        if (WriteParametersFile(dir.ConfigFile(), table, settings)) {
            state.SkipWithError("save failed");
            return;
        }
    }
}
BENCHMARK(BM_SaveConfig)->Arg(100)->Unit(benchmark::kMicrosecond);

// The in-memory part of a save without the disk: every key set, the text built.
void BM_SetKeysInMemory(benchmark::State& state) {
    const TResourceTable table = Table(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TIniFile ini;
        for (int r = 1; r < table.RowCount(); ++r)
            for (int c = 0; c < TResourceTable::ColCount; ++c)
                ini.WriteString("Objects", ObjectKey(r, c), table.Cell(c, r));
        benchmark::DoNotOptimize(ini.Text());
    }
}
BENCHMARK(BM_SetKeysInMemory)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
