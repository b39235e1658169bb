// Laying out the printed trend report for 10 and 100 resources over a full
// day (every slot holds a record), with a text measure that costs nothing:
// the layout's own share of printing.
#include <benchmark/benchmark.h>

#include <string>

#include "trend/trend_report.h"

namespace {

using namespace tarvik;

TReportInput FullDay(int n) {
    TReportInput in;
    in.PageWidth = 9920;  // A4 at 1200 dpi
    in.PageWidthMm = 210;
    in.Scale = 500;
    in.DateCaption = "December 9, 2026, Wednesday";
    for (int i = 0; i < n; ++i) {
        TReportResource r;
        r.Address = "10.0.0." + std::to_string(i);
        r.Kind = static_cast<char>('1' + i % 3);
        r.WriteColor = "clRed";
        r.ReadColor = "clBlue";
        for (int s = 1; s <= 96; ++s)
            r.Day[s - 1] = {true, (s * 7 + i) % 600 * 1.0, (s * 3 + i) % 500 * 1.0,
                            (s * 5 + i) % 700 * 1.0};
        in.Resources.push_back(std::move(r));
    }
    return in;
}

TTextSize Measure(std::string_view text, int size) {
    return {static_cast<int>(text.size()) * (size ? size : 8) * 8, (size ? size : 8) * 20};
}

void BM_ReportLayout(benchmark::State& state) {
    const TReportInput in = FullDay(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(LayOutTrendReport(in, Measure));
}
BENCHMARK(BM_ReportLayout)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
