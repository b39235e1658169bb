// Cost of one 50 ms activation tick of the window over many measuring
// threads that sit between their intervals (the steady state).
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/measuring_control.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/sync_caller.h"

namespace tarvik {
namespace {

void BM_ActivationTick(benchmark::State& state) {
    TResourceTable table;
    auto sync = std::make_shared<TSyncCaller>();
    auto ctx = std::make_shared<TEngineContext>();
    ctx->Sync = sync;
    ctx->Table = &table;
    ctx->ApplyOsPriority = false;
    for (int i = 0; i < state.range(0); ++i) {
        const int r = table.AddRow();
        table.SetCell(1, r, "host" + std::to_string(i));
        table.SetCell(5, r, "3");
        table.SetCell(8, r, "1000000000");
        auto t = TPingThread::Create(r, ctx);
        t->LoadSettings();
        t->LastRunTick = SystemClock().TickMs();
        table.SetThread(r, t);
    }
    TMeasuringControl control(table, sync, SystemClock(), {0, 0, 1000, 0});
    for (auto _ : state) control.Activate();
    state.SetItemsProcessed(state.iterations() * state.range(0));
    control.Close();
}
BENCHMARK(BM_ActivationTick)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
