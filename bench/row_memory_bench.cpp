// Resident memory and start-up time of many host rows, created and started in
// the core as the configuration load and Start do. A stand-in probe takes the
// place of the echo: each cycle fills the thread's echo data buffer with the
// row's data size (1024 bytes, as a real request does) and shows its sample
// through the synchronous call, which this program pumps as the window does.
// rss_per_row_KB is the growth of the resident set per row; stack_per_row_KB
// the part of it in the threads' stacks; beyond_stack_per_row_KB the rest.
// start_to_measuring_ms runs from the first thread's creation until every row
// has shown a first sample.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "engine/measuring_control.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/sync_caller.h"

namespace tarvik {
namespace {

class THostStandIn final : public TProbe {
  public:
    void RunLoop(TPingThread& t) override {
        t.CyclePriority = TPriority::Highest;
        while (!t.Restart) {
            if (!t.BeginCycle()) break;
            const auto n = static_cast<std::size_t>(t.ReadBlock);
            t.TimedTransfer([&] {
                if (t.DataBuffer) std::memset(t.DataBuffer.get(), 0x5A, n);
            });
            t.PingSpeed = 1;
            t.AddSample(t.PingHistory, t.PingSpeed);
            t.UpdateLevelReference(t.PingSpeed);
            t.ShowResults();
            t.ApplyPriorityRule(100);
            t.EndCycle();
        }
    }
    void Close(TPingThread&) override {}
};

// Resident kilobytes in all mappings, and in those of thread-stack size.
struct TResident {
    double Total = 0, Stacks = 0;
};

TResident Resident() {
    struct rlimit stack {};
    ::getrlimit(RLIMIT_STACK, &stack);
    const long stackKb = static_cast<long>(stack.rlim_cur / 1024);
    std::ifstream smaps("/proc/self/smaps");
    TResident r;
    std::string line;
    long size = 0;
    while (std::getline(smaps, line)) {
        long kb = 0;
        if (std::sscanf(line.c_str(), "Size: %ld kB", &kb) == 1) size = kb;
        if (std::sscanf(line.c_str(), "Rss: %ld kB", &kb) == 1) {
            r.Total += static_cast<double>(kb);
            if (size == stackKb) r.Stacks += static_cast<double>(kb);
        }
    }
    return r;
}

void BM_HostRows(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    struct rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);  // one wake-up descriptor per thread

    for (auto _ : state) {
        TResourceTable table;
        auto sync = std::make_shared<TSyncCaller>();
        auto ctx = std::make_shared<TEngineContext>();
        ctx->Sync = sync;
        ctx->Table = &table;
        ctx->ApplyOsPriority = false;
        ctx->Probes = [](char, TPingThread&) { return std::make_unique<THostStandIn>(); };
        for (int i = 0; i < rows; ++i) {
            const int r = table.AddRow();
            table.SetCell(colAddress, r,
                          "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
            table.SetCell(colKind, r, "3");
            table.SetCell(colInterval, r, "60000");
        }
        const TResident before = Resident();
        const auto start = std::chrono::steady_clock::now();
        for (int r = 1; r <= rows; ++r) {
            auto t = TPingThread::Create(r, ctx);
            table.SetThread(r, t);
            t->LoadSettings();
        }
        const auto created = std::chrono::steady_clock::now();
        TMeasuringControl control(table, sync, SystemClock(), {0, 0, 2000, 0});
        control.Start();
        for (bool all = false; !all;) {
            sync->RunPending();
            all = true;
            for (int r = 1; r <= rows && all; ++r) all = table.Thread(r)->CycleCount() > 0;
        }
        const auto measuring = std::chrono::steady_clock::now();
        sync->RunPending();
        const TResident after = Resident();
        const double perRow = (after.Total - before.Total) / rows;
        const double stackPerRow = (after.Stacks - before.Stacks) / rows;
        state.counters["rss_per_row_KB"] = perRow;
        state.counters["stack_per_row_KB"] = stackPerRow;
        state.counters["beyond_stack_per_row_KB"] = perRow - stackPerRow;
        state.counters["rss_total_MB"] = after.Total / 1024;
        state.counters["create_ms"] =
            std::chrono::duration<double, std::milli>(created - start).count();
        state.counters["start_to_measuring_ms"] =
            std::chrono::duration<double, std::milli>(measuring - start).count();
        control.Close();
    }
}
BENCHMARK(BM_HostRows)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
