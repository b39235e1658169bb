// The Qt-free share of one sampling tick for 10 and 100 resources: taking
// each thread's results copy, mapping every series onto the chart, and
// evaluating both enabled speed events (they time but do not fire); and the
// value tooltip under a moving mouse.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_fakes.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "monitor/chart_geometry.h"
#include "monitor/speed_event.h"

namespace {

using namespace tarvik;
using bench::TNoActions;
using bench::TStillClock;


// Resources of all three kinds with full histories. The threads are never
// resumed: they wait at their first safe point while the benchmark reads them.
struct TResources {
    explicit TResources(int n) {
        Ctx->Clock = &Clock;
        Ctx->Table = &Table;
        for (int i = 0; i < n; ++i) {
            const int row = Table.AddRow();
            const char kind = static_cast<char>('1' + i % 3);
            Table.SetCell(colAddress, row, "10.0.0." + std::to_string(i));
            Table.SetCell(colKind, row, std::string(1, kind));
            TSpeedEvent min = TSpeedEvent::Defaults(kMinEvent);
            min.Enabled = "1";
            min.Threshold = "0.5";
            min.ActionKind = "0";
            min.PlayFileName = "min.wav";
            min.ToRow(Table, row, kMinEvent);
            TSpeedEvent max = TSpeedEvent::Defaults(kMaxEvent);
            max.Enabled = "1";
            max.Threshold = "1000000";
            max.ToRow(Table, row, kMaxEvent);
            auto t = TPingThread::Create(row, Ctx);
            for (int s = 1; s <= HistorySize; ++s) {
                t->AddSample(t->WriteHistory, 0.01 * s * (i + 1));
                t->AddSample(t->ReadHistory, 0.02 * s);
                t->AddSample(t->PingHistory, 0.03 * s);
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

void BM_TickWithoutDrawing(benchmark::State& state) {
    TResources res(static_cast<int>(state.range(0)));
    TNoActions actions;
    const auto xs = ChartPointsX(ChartWidth);
    for (auto _ : state) {
        long long sum = 0;
        for (int row = 1; row < res.Table.RowCount(); ++row) {
            const auto& thread = res.Table.Thread(row);
            const char kind = res.Table.Cell(colKind, row)[0];
            const TResultsSnapshot r = thread->Results();
            for (const TSeriesSpec& s : SeriesOfKind(kind)) {
                const THistory& h = HistoryOf(r, s.Quantity);
                for (int i = 1; i <= HistorySize; ++i) sum += xs[i] + ChartY(h[i], 2, ChartHeight);
            }
            const auto v = CurrentValue(kind, r);
            EvaluateSpeedEvent(res.Table, row, kMinEvent, *v, res.Clock, actions);
            EvaluateSpeedEvent(res.Table, row, kMaxEvent, *v, res.Clock, actions);
        }
        benchmark::DoNotOptimize(sum);
        res.Clock.Ms += 50;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TickWithoutDrawing)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_ValueTooltip(benchmark::State& state) {
    TResources res(static_cast<int>(state.range(0)));
    int x = 0;
    for (auto _ : state) {
        // As on every mouse move: a copy of each row's results, then the hit
        // test at a y that no sample reaches, so that every row is searched.
        std::vector<TChartRow> rows;
        for (int row = 1; row < res.Table.RowCount(); ++row)
            rows.push_back({res.Table.Cell(colAddress, row), res.Table.Cell(colKind, row)[0],
                            res.Table.Thread(row)->Results()});
        benchmark::DoNotOptimize(ValueTooltip(rows, x, -50, 2, ChartWidth, ChartHeight));
        x = (x + 7) % ChartWidth;
    }
}
BENCHMARK(BM_ValueTooltip)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
