// Many threads at a 1 ms interval started and stopped over and over, then
// closed: everything must finish in bounded time, with no data race (this
// test also runs under ThreadSanitizer).
#include <gtest/gtest.h>

#include "engine/measuring_control.h"
#include "support/engine_harness.h"

namespace tarvik {
namespace {

TEST(ThreadStress, FiftyThreadsStartStop200TimesAndClose) {
    test::TEngineHarness h;
    h.Ctx->Clock = &SystemClock();
    h.Script->Clock = nullptr;
    h.Script->CycleMs = 0;
    std::vector<std::shared_ptr<TPingThread>> threads;
    for (int i = 0; i < 50; ++i) threads.push_back(h.AddResource(std::string(1, "123"[i % 3]), 1));

    TMeasuringControl control(h.Table, h.Sync, SystemClock(), {1, 1, 2000, 0});
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 200; ++round) {
        control.Start();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        while (std::chrono::steady_clock::now() < until) {
            control.Activate();
            h.Sync->RunPending();
        }
        control.Stop();
    }
    control.Close();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    std::uint64_t cycles = 0;
    for (const auto& t : threads) {
        EXPECT_TRUE(t->Finished());
        cycles += t->CycleCount();
    }
    EXPECT_GT(cycles, 0u);
    for (int r = 1; r < h.Table.RowCount(); ++r) EXPECT_EQ(h.Table.Thread(r), nullptr);
}

}  // namespace
}  // namespace tarvik
