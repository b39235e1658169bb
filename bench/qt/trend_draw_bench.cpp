// One whole DrawTrend of the trend panel for 100 resources over a year of
// history: the day of every resource read from the trend file, the
// off-screen chart with every series and the grid, shown in one copy.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <string>

#include "../bench_fakes.h"
#include "../trend_year.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "trend/qt/trend_panel.h"

namespace {

using namespace tarvik;
using namespace tarvik::bench;

const char* const kColors[] = {"clLime", "clYellow", "clAqua", "clFuchsia", "clRed", "clWhite"};

// Never-resumed threads, one per resource of the year's files (kind "1":
// the records carry read and write values).
struct TResources {
    TResources() {
        Ctx->Clock = &Clock;
        Ctx->Table = &Table;
        for (int i = 0; i < kResources; ++i) {
            const int row = Table.AddRow();
            Table.SetCell(colAddress, row, ResourceName(i));
            Table.SetCell(colKind, row, "1");
            Table.SetCell(colWriteColor, row, kColors[i % 6]);
            Table.SetCell(colReadColor, row, kColors[(i + 3) % 6]);
            Table.SetThread(row, TPingThread::Create(row, Ctx));
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

void BM_DrawTrend100Resources(benchmark::State& state) {
    const TYearFiles& files = Year();
    TResources resources;
    const TTrendFile file(files.Data, files.Index, resources.Clock);
    TTrendPanel panel(resources.Table, resources.Clock);
    panel.SetTrendFile(&file);
    panel.TrendDate = kShownDay + 0.5;
    panel.TrendScale = 2000;
    for (auto _ : state) panel.DrawTrend();
    state.counters["day_values_ok"] = resources.Table.Thread(1)->DayRead[48] > 0;
}
BENCHMARK(BM_DrawTrend100Resources)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
