// One whole sampling tick of the main window for 10 and 100 resources: the
// off-screen chart with every series and the grid, shown in one copy, and
// both speed events of each resource (enabled; they time but do not fire).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <string>

#include "../bench_fakes.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "monitor/qt/live_chart.h"
#include "monitor/qt/sampling_cycle.h"
#include "monitor/speed_event.h"

namespace {

using namespace tarvik;
using bench::TNoActions;
using bench::TStillClock;


const char* const kColors[] = {"clLime", "clYellow", "clAqua", "clFuchsia", "clRed", "clWhite"};

// Never-resumed threads of all three kinds with full, varying histories.
struct TResources {
    explicit TResources(int n) {
        Ctx->Clock = &Clock;
        Ctx->Table = &Table;
        for (int i = 0; i < n; ++i) {
            const int row = Table.AddRow();
            Table.SetCell(colAddress, row, "10.0.0." + std::to_string(i));
            Table.SetCell(colKind, row, std::string(1, static_cast<char>('1' + i % 3)));
            Table.SetCell(colWriteColor, row, kColors[i % 6]);
            Table.SetCell(colReadColor, row, kColors[(i + 3) % 6]);
            TSpeedEvent min = TSpeedEvent::Defaults(kMinEvent);
            min.Enabled = "1";
            min.Threshold = "0.1";
            min.ToRow(Table, row, kMinEvent);
            TSpeedEvent max = TSpeedEvent::Defaults(kMaxEvent);
            max.Enabled = "1";
            max.Threshold = "1000000";
            max.ToRow(Table, row, kMaxEvent);
            auto t = TPingThread::Create(row, Ctx);
            for (int s = 1; s <= HistorySize; ++s) {
                const double wave = 1.0 + ((s * 7 + i * 13) % 20) * 0.05;
                t->AddSample(t->WriteHistory, wave * 0.6);
                t->AddSample(t->ReadHistory, wave);
                t->AddSample(t->PingHistory, wave * 0.8);
            }
            Table.SetThread(row, t);
        }
    }
    ~TResources() {
        for (int r = 1; r < Table.RowCount(); ++r)
            if (auto t = Table.Thread(r)) t->Destroy(2000);
    }
    TStillClock Clock;
    TResourceTable Table;
    std::shared_ptr<TEngineContext> Ctx = std::make_shared<TEngineContext>();
};

void BM_SamplingTick(benchmark::State& state) {
    TResources res(static_cast<int>(state.range(0)));
    TLiveChart chart;
    chart.show();
    TSamplingCycle cycle(res.Table, chart, res.Clock);
    int levels = 0;
    cycle.SetLevelIcon = [&](int) { ++levels; };
    TNoActions actions;
    bool drawing = false;
    std::uint64_t titleTick = 0;
    TSamplingPass pass;
    pass.EventMode = true;
    pass.Scale = 2;
    pass.SelectedRow = 1;
    for (auto _ : state) {
        cycle.Run(pass, drawing, titleTick, &actions);
        res.Clock.Ms += 50;
    }
    // The copy reaches the screen with the next paint; count that as well.
    QApplication::processEvents();
    state.SetItemsProcessed(state.iterations() * state.range(0));
    benchmark::DoNotOptimize(levels);
}
BENCHMARK(BM_SamplingTick)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The same tick when the chart is also painted on screen every time.
void BM_SamplingTickPainted(benchmark::State& state) {
    TResources res(static_cast<int>(state.range(0)));
    TLiveChart chart;
    chart.show();
    TSamplingCycle cycle(res.Table, chart, res.Clock);
    TNoActions actions;
    bool drawing = false;
    std::uint64_t titleTick = 0;
    TSamplingPass pass;
    pass.EventMode = true;
    pass.Scale = 2;
    for (auto _ : state) {
        cycle.Run(pass, drawing, titleTick, &actions);
        chart.display2->repaint();
        res.Clock.Ms += 50;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SamplingTickPainted)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
