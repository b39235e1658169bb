// What link quality adds to a host cycle: one reply or loss into the
// accumulator (twice per cycle: the quarter hour and the running totals),
// and the larger results copy the window and the metrics take.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/ping_thread.h"
#include "trend/link_quality.h"

namespace tarvik {
namespace {

void BM_AddEcho(benchmark::State& state) {
    std::mt19937 gen(1);
    std::lognormal_distribution<double> d(std::log(400.0), 1.0);
    std::vector<double> rtts(4096);
    for (double& r : rtts) r = d(gen);
    TLinkQuality q;
    std::size_t i = 0;
    for (auto _ : state) {
        const double r = rtts[i++ & 4095];
        if ((i & 15) == 0)
            q.AddLost();
        else
            q.AddReply(r);
        benchmark::DoNotOptimize(q);
    }
}
BENCHMARK(BM_AddEcho);

void BM_PercentilesOfAQuarterHour(benchmark::State& state) {
    TLinkQuality q;
    std::mt19937 gen(2);
    std::lognormal_distribution<double> d(std::log(5000.0), 0.5);
    for (int i = 0; i < 900; ++i) q.AddReply(d(gen));
    for (auto _ : state) {
        benchmark::DoNotOptimize(q.PercentileUs(0.5));
        benchmark::DoNotOptimize(q.PercentileUs(0.95));
    }
}
BENCHMARK(BM_PercentilesOfAQuarterHour);

void BM_ResultsSnapshotCopy(benchmark::State& state) {
    TResultsSnapshot s;
    for (auto _ : state) {
        TResultsSnapshot copy = s;
        benchmark::DoNotOptimize(copy);
    }
    state.counters["bytes"] = sizeof(TResultsSnapshot);
}
BENCHMARK(BM_ResultsSnapshotCopy);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
