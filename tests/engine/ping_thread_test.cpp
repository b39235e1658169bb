#include "engine/ping_thread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "engine/measuring_control.h"
#include "engine/speed_text.h"
#include "support/engine_harness.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

using test::TEngineHarness;

class PingThreadTest : public ::testing::Test {
protected:
    TEngineHarness H;
    TMeasuringControl Control{H.Table, H.Sync, H.Clock, {0, 0, 2000, 0}};

    bool Parked(const std::shared_ptr<TPingThread>& t) {
        return H.PumpUntil([&] { return t->IsParked(); });
    }
    // One activation tick after the clock moved on by ms; waits for the
    // cycle it may start to end.
    void Tick(const std::shared_ptr<TPingThread>& t, std::uint32_t ms, int cycles = 0) {
        const auto before = t->CycleCount();
        H.Clock.Advance(ms);
        Control.Activate();
        ASSERT_TRUE(H.PumpUntil(
            [&] { return t->CycleCount() == before + cycles && t->IsParked(); }));
    }
};

TEST(SpeedText, Format) {
    EXPECT_EQ(FormatSpeed(12.5), "    12.50 KBps");
    EXPECT_EQ(FormatSpeed(0), "     0.00 KBps");
    EXPECT_EQ(FormatSpeed(123456789.125), "123456789.12 KBps");
    EXPECT_EQ(FormatSpeed(53.3333), "    53.33 KBps");
}

TEST(ParseCellInt, Forms) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},     {"  42", 42},  {"-17x", -17}, {"+5", 5},       {"12abc", 12},
        {"abc", 0},  {"   ", 0},    {"-", 0},      {"99999999999", 2147483647},
        {"1000 ms", 1000},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseCellInt(text), value) << text;
}

TEST_F(PingThreadTest, ShowsTestingBeforeTheFirstSample) {
    auto t = H.AddResource("3", 1000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    ASSERT_GE(H.Shown.size(), 2u);
    EXPECT_EQ(H.Shown[0].Col, colPingText);
    EXPECT_EQ(H.Shown[0].Text, "Testing...");
    EXPECT_EQ(H.Table.Cell(colPingText, 1), "    10.00 KBps");
    EXPECT_EQ(H.Table.Cell(colReadText, 1), "");
    EXPECT_EQ(H.Table.Cell(colWriteText, 1), "");
}

TEST_F(PingThreadTest, KindColumnsOfTheDisplayUpdate) {
    auto drive = H.AddResource("1", 1000, "/mnt/a");
    auto file = H.AddResource("2", 1000, "/mnt/f");
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] {
        return drive->CycleCount() >= 1 && file->CycleCount() >= 1 && drive->IsParked() &&
               file->IsParked();
    }));
    EXPECT_EQ(H.Table.Cell(colWriteText, 1), "    10.00 KBps");
    EXPECT_EQ(H.Table.Cell(colReadText, 1), "    10.00 KBps");
    EXPECT_EQ(H.Table.Cell(colPingText, 1), "");
    EXPECT_EQ(H.Table.Cell(colWriteText, 2), "");
    EXPECT_EQ(H.Table.Cell(colReadText, 2), "    10.00 KBps");
}

TEST_F(PingThreadTest, PacingByIntervalAndActivation) {
    // Interval 1000 ms, cycles of 10 ms: the thread parks after each cycle and
    // the activation tick wakes it once the interval has passed.
    auto t = H.AddResource("3", 1000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    const auto firstStart = t->LastRunTick.load();
    for (int i = 0; i < 19; ++i) Tick(t, 50);  // 950 ms after the start + 10
    EXPECT_EQ(t->CycleCount(), 1u);
    Tick(t, 50, 1);  // 1010 ms since the start
    const auto gap = t->LastRunTick.load() - firstStart;
    EXPECT_GE(gap, 1000u);
    EXPECT_LT(gap, 1050u);
}

TEST_F(PingThreadTest, BackToBackWhenTheIntervalIsShorterThanACycle) {
    H.Script->CycleMs = 100;
    auto t = H.AddResource("3", 50);
    Control.Start();
    // No activation tick at all: the thread never suspends itself.
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 20; }));
    EXPECT_FALSE(t->IsParked());
}

TEST_F(PingThreadTest, StopParksAHostThreadThatHoldsBeforeItsNextCycle) {
    H.Script->CycleMs = 100;
    auto t = H.AddResource("3", 50);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 3; }));
    Control.Stop();
    const auto cycles = t->CycleCount();
    EXPECT_TRUE(H.PumpUntil([&] { return t->IsParked(); }, 2000));
    EXPECT_LE(t->CycleCount(), cycles + 1);
}

TEST_F(PingThreadTest, HistoryKeepsTheLast100SamplesNewestLast) {
    H.Script->CycleMs = 100;
    H.Script->Sample = [](std::uint64_t n) { return static_cast<double>(n + 1); };
    auto t = H.AddResource("3", 50);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 150; }));
    Control.Stop();
    ASSERT_TRUE(t->WaitUntilParked(2000));
    const auto r = t->Results();
    const double newest = r.PingHistory[100];
    EXPECT_GE(newest, 150);
    for (int i = 1; i <= 100; ++i) EXPECT_EQ(r.PingHistory[i], newest - 100 + i) << i;
    EXPECT_EQ(r.PingSpeed, newest);
}

TEST_F(PingThreadTest, LevelReferenceFollowsTheHighestThenBlockMeans) {
    auto t = H.AddResource("3", 1000);  // stays parked: drive the rule directly
    const double seq1[] = {5, 3, 8, 2};
    for (double s : seq1) t->UpdateLevelReference(s);
    EXPECT_EQ(t->Results().LevelReference, 8);
    // 96 more samples of 10 complete the first block of 100 above 0.
    for (int i = 0; i < 96; ++i) t->UpdateLevelReference(10);
    EXPECT_DOUBLE_EQ(t->Results().LevelReference, (5 + 3 + 8 + 2 + 96 * 10) / 100.0);
    const double base = t->Results().LevelReference;
    // Samples at or below the reference are ignored; 100 above it make the next mean.
    for (int i = 0; i < 500; ++i) t->UpdateLevelReference(base);
    EXPECT_DOUBLE_EQ(t->Results().LevelReference, base);
    for (int i = 0; i < 99; ++i) t->UpdateLevelReference(20);
    EXPECT_DOUBLE_EQ(t->Results().LevelReference, base);
    t->UpdateLevelReference(20);
    EXPECT_DOUBLE_EQ(t->Results().LevelReference, 20);
}

TEST_F(PingThreadTest, ZerosAmongTheFirst100SamplesDoNotCountTowardsTheReference) {
    auto t = H.AddResource("3", 1000);  // stays parked: drive the rule directly
    for (int i = 0; i < 50; ++i) t->UpdateLevelReference(10);
    for (int i = 0; i < 30; ++i) t->UpdateLevelReference(0);  // failed exchanges
    for (int i = 0; i < 49; ++i) t->UpdateLevelReference(10);
    EXPECT_EQ(t->UpperBase, 0);  // 99 samples above 0 so far: no block yet
    EXPECT_EQ(t->Results().LevelReference, 10);
    t->UpdateLevelReference(10);
    EXPECT_EQ(t->UpperBase, 10);  // the mean of the 100 samples above 0
    EXPECT_EQ(t->Results().LevelReference, 10);
}

TEST_F(PingThreadTest, TrendSumsGoIntoTheFieldsOfTheKind) {
    // Every speed field holds a value; only those of the kind may be summed
    // (the others can be left from before an edit changed the kind).
    struct TCase {
        const char* Kind;
        double Read, Write, Ping;
    };
    const TCase cases[] = {{"1", 5, 3, 0}, {"2", 5, 0, 0}, {"3", 0, 0, 5}};
    H.Clock.SetLocal({2026, 12, 10, 12, 14, 0, 0});
    H.Script->Sample = [](std::uint64_t) { return 5.0; };
    H.Script->WriteSample = [](std::uint64_t) { return 3.0; };
    H.Script->InCycle = [](TPingThread& th) { th.WriteSpeed = th.ReadSpeed = th.PingSpeed = 7; };
    std::vector<std::shared_ptr<TPingThread>> threads;
    for (const auto& c : cases) threads.push_back(H.AddResource(c.Kind, 1000, c.Kind));
    Control.Start();
    auto allParkedAfter = [&](std::uint64_t n) {
        return H.PumpUntil([&] {
            for (const auto& t : threads)
                if (t->CycleCount() != n || !t->IsParked()) return false;
            return true;
        });
    };
    ASSERT_TRUE(allParkedAfter(1));
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 0, 0});
    Control.Activate();
    ASSERT_TRUE(allParkedAfter(2));
    ASSERT_EQ(H.Writer.Entries.size(), std::size(cases));
    for (const auto& c : cases) {
        const auto e = std::find_if(H.Writer.Entries.begin(), H.Writer.Entries.end(),
                                    [&](const auto& x) { return x.Record.Name == c.Kind; });
        ASSERT_NE(e, H.Writer.Entries.end()) << c.Kind;
        EXPECT_EQ(e->Record.Read, c.Read) << c.Kind;
        EXPECT_EQ(e->Record.Write, c.Write) << c.Kind;
        EXPECT_EQ(e->Record.Ping, c.Ping) << c.Kind;
    }
}

TEST_F(PingThreadTest, TrendRecordCarriesTheMinuteTheThreadSaw) {
    // The cycle ends at 12:15:59.900; the window runs the flush after the
    // minute has turned. The record still belongs to the 12:15 slot.
    char dir[] = "/tmp/tarvik_stamp_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    {
        TTrendFile file(std::string(dir) + "/KOR_VEL.D", std::string(dir) + "/KOR_VEL.ND",
                        H.Clock);
        struct TLateFlush final : ITrendWriter {
            test::TFakeClock& Clock;
            TTrendFile& File;
            TLateFlush(test::TFakeClock& c, TTrendFile& f) : Clock(c), File(f) {}
            void WriteRecord(const TTrendRecord& r) override {
                Clock.Advance(200);  // 12:16:00.100
                File.WriteRecord(r);
            }
        } late(H.Clock, file);
        H.Ctx->TrendWriter = &late;
        H.Clock.SetLocal({2026, 12, 10, 12, 15, 59, 890});  // the cycle takes 10 ms
        H.Script->Sample = [](std::uint64_t) { return 42.0; };
        auto t = H.AddResource("3", 60000);
        Control.Start();
        ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
        H.Ctx->TrendWriter = nullptr;
        EXPECT_EQ(H.Clock.LocalNow().Minute, 16);
        TTrendRecord r;
        r.Name = "host";
        r.Time = TrendStamp({2026, 12, 10, 12, 15, 0, 0});
        ASSERT_TRUE(file.ReadRecord(r));
        EXPECT_EQ(r.Ping, 42);
        r.Time = TrendStamp({2026, 12, 10, 12, 16, 0, 0});
        EXPECT_FALSE(file.ReadRecord(r));
    }
    std::filesystem::remove_all(dir);
}

TEST_F(PingThreadTest, StartAfterStopResetsLevelReferenceAndPartialQuarter) {
    H.Clock.SetLocal({2026, 12, 10, 12, 1, 0, 0});
    H.Script->Sample = [](std::uint64_t n) { return n < 3 ? 100.0 : 1.0; };
    auto t = H.AddResource("3", 1000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    Tick(t, 1000, 1);
    Tick(t, 1000, 1);
    EXPECT_EQ(t->Results().LevelReference, 100);
    Control.Stop();
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 4 && t->IsParked(); }));
    EXPECT_EQ(t->Results().LevelReference, 1);
    // The next record averages only the cycle after the restart.
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 0, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return H.Writer.Entries.size() == 1 && t->IsParked(); }));
    EXPECT_EQ(H.Writer.Entries[0].Record.Ping, 1);
    EXPECT_EQ(H.Writer.Entries[0].Record.Name, "host");
}

TEST_F(PingThreadTest, OneRecordPerQuarterHourMinute) {
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 30, 0});
    H.Script->Sample = [](std::uint64_t n) { return static_cast<double>(n + 1); };
    auto t = H.AddResource("3", 5000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    ASSERT_EQ(H.Writer.Entries.size(), 1u);  // ends at 12:15:30
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 40, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 2 && t->IsParked(); }));
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 55, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 3 && t->IsParked(); }));
    EXPECT_EQ(H.Writer.Entries.size(), 1u);  // 12:15:40 and 12:15:55: same minute
    H.Clock.SetLocal({2026, 12, 10, 12, 30, 0, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 4 && t->IsParked(); }));
    ASSERT_EQ(H.Writer.Entries.size(), 2u);
    EXPECT_EQ(H.Writer.Entries[1].At.Minute, 30);
    EXPECT_DOUBLE_EQ(H.Writer.Entries[1].Record.Ping, (2 + 3 + 4) / 3.0);
}

TEST_F(PingThreadTest, DisabledRecordingKeepsAccumulating) {
    H.Clock.SetLocal({2026, 12, 10, 12, 14, 0, 0});
    H.Ctx->TrendEnabled = false;
    H.Script->Sample = [](std::uint64_t n) { return static_cast<double>(n + 1); };
    auto t = H.AddResource("3", 1000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    H.Clock.SetLocal({2026, 12, 10, 12, 15, 0, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 2 && t->IsParked(); }));
    EXPECT_TRUE(H.Writer.Entries.empty());
    H.Ctx->TrendEnabled = true;
    H.Clock.SetLocal({2026, 12, 10, 12, 30, 0, 0});
    Control.Activate();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 3 && t->IsParked(); }));
    ASSERT_EQ(H.Writer.Entries.size(), 1u);
    EXPECT_DOUBLE_EQ(H.Writer.Entries[0].Record.Ping, 2.0);  // mean of 1, 2, 3
}

TEST_F(PingThreadTest, CreatedAt1258FirstRecordsAt1315) {
    H.Clock.SetLocal({2026, 12, 10, 12, 58, 0, 0});
    auto t = H.AddResource("3", 60000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    for (int m : {13 * 60 + 0, 13 * 60 + 1, 13 * 60 + 15}) {
        H.Clock.SetLocal({2026, 12, 10, m / 60, m % 60, 0, 0});
        const auto before = t->CycleCount();
        Control.Activate();
        ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == before + 1 && t->IsParked(); }));
        if (m % 60 != 15) {
            EXPECT_TRUE(H.Writer.Entries.empty()) << m;
        }
    }
    ASSERT_EQ(H.Writer.Entries.size(), 1u);
    EXPECT_EQ(H.Writer.Entries[0].At.Hour, 13);
    EXPECT_EQ(H.Writer.Entries[0].At.Minute, 15);
}

TEST_F(PingThreadTest, PriorityRuleByKind) {
    struct TCase {
        const char* Kind;
        std::int64_t TimeUs;
        TPriority Expected;
    };
    const TCase cases[] = {
        {"1", 20000, TPriority::Highest},     {"1", 20001, TPriority::AboveNormal},
        {"1", 60001, TPriority::Normal},      {"1", 200001, TPriority::BelowNormal},
        {"1", 1000001, TPriority::Lowest},    {"1", -5, TPriority::Lowest},
        {"2", 10, TPriority::AboveNormal},    {"2", 5000000, TPriority::AboveNormal},
        {"3", 20000, TPriority::Highest},     {"3", 20001, TPriority::Lowest},
    };
    for (const auto& c : cases) {
        auto t = H.AddResource(c.Kind, 1000);
        t->Kind = c.Kind[0];  // parked thread: drive the rule directly
        t->CyclePriority = c.Kind[0] == '2' ? TPriority::AboveNormal : TPriority::BelowNormal;
        for (int i = 0; i < 19; ++i) t->ApplyPriorityRule(c.TimeUs);
        t->ApplyPriorityRule(c.TimeUs);
        EXPECT_EQ(t->CyclePriority, c.Expected) << c.Kind << " " << c.TimeUs;
        EXPECT_EQ(t->TimeCount, 0);
    }
}

TEST_F(PingThreadTest, FileKindStaysAtLevel4) {
    H.Script->CycleMs = 100;
    H.Script->TimeUs = 5'000'000;  // very slow reads
    auto t = H.AddResource("2", 10);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 45; }));
    Control.Stop();
    ASSERT_TRUE(t->WaitUntilParked(2000));
    EXPECT_EQ(t->CyclePriority, TPriority::AboveNormal);
}

TEST_F(PingThreadTest, LoadSettingsParsesAndForcesANewLookupOnlyForANewAddress) {
    auto t = H.AddResource("3", 1000, "example.org");
    H.Table.SetCell(colInterval, 1, "  250ms");
    H.Table.SetCell(colTestSize, 1, "-3");
    H.Table.SetCell(colTimeout, 1, "");
    H.Table.SetCell(colAutoSize, 1, "1");
    H.Script->InCycle = [](TPingThread& th) {
        if (th.IPAddress == TPingThread::Unresolved) th.IPAddress = 0x0100007F;
    };
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 1 && t->IsParked(); }));
    EXPECT_EQ(t->Interval.load(), 250);
    EXPECT_EQ(t->TestSize, -3);
    EXPECT_EQ(t->Timeout, 0);
    EXPECT_TRUE(t->AutoSize);
    EXPECT_EQ(t->IPAddress, 0x0100007Fu);
    // Editing only the interval keeps the resolved address ...
    H.Script->InCycle = nullptr;
    H.Table.SetCell(colInterval, 1, "300");
    t->LoadSettings();
    t->Resume();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 2 && t->IsParked(); }));
    EXPECT_EQ(t->IPAddress, 0x0100007Fu);
    // ... a new address clears it.
    H.Table.SetCell(colAddress, 1, "example.net");
    t->LoadSettings();
    t->Resume();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() == 3 && t->IsParked(); }));
    EXPECT_EQ(t->IPAddress, TPingThread::Unresolved);
    EXPECT_EQ(t->Address, "example.net");
}

TEST_F(PingThreadTest, LoadSettingsCutsTheAddressAt255Characters) {
    auto repeat = [](const std::string& piece, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += piece;
        return s;
    };
    struct TCase {
        const char* Why;
        std::string Cell, Address;
    };
    const TCase cases[] = {
        // 205 characters in 405 bytes: a valid path, kept whole.
        {"non-ASCII under 255 characters", "/mnt/" + repeat("\xC3\xA4", 200),
         "/mnt/" + repeat("\xC3\xA4", 200)},
        {"255 characters", repeat("\xE2\x82\xAC", 255), repeat("\xE2\x82\xAC", 255)},
        {"over 255 characters, cut on a boundary", "/" + repeat("\xE2\x82\xAC", 300),
         "/" + repeat("\xE2\x82\xAC", 254)},
        {"four-byte characters", repeat("\xF0\x9F\x93\x81", 256),
         repeat("\xF0\x9F\x93\x81", 255)},
        {"ASCII", repeat("a", 300), repeat("a", 255)},
    };
    auto t = H.AddResource("7", 1000);  // an unknown kind: no cycles, only settings
    Control.Start();
    for (const auto& c : cases) {
        H.Table.SetCell(colAddress, 1, c.Cell);
        // Each pass shows "Testing..." once and then waits for new settings.
        const std::size_t shown = H.Shown.size();
        t->LoadSettings();
        ASSERT_TRUE(H.PumpUntil([&] { return H.Shown.size() > shown && t->IsParked(); }));
        EXPECT_EQ(t->Address, c.Address) << c.Why << ": " << t->Address.size() << " bytes";
    }
}

TEST_F(PingThreadTest, StopHoldsFileAndHostKindsThroughTheGraceAndShowsNothing) {
    // Back-to-back cycles; the kind "1" thread goes on cycling while stopped
    // and shows that time passes for the others.
    H.Script->CycleMs = 100;
    auto drive = H.AddResource("1", 10, "/mnt/d");
    auto file = H.AddResource("2", 10, "/mnt/f");
    auto host = H.AddResource("3", 10, "host");
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] {
        return drive->CycleCount() >= 3 && file->CycleCount() >= 3 && host->CycleCount() >= 3;
    }));
    // The window side of Stop, step by step, still answering display calls.
    for (const auto& t : {drive, file, host}) t->RequestStop();
    const auto fileCycles = file->CycleCount(), hostCycles = host->CycleCount();
    const auto driveCycles = drive->CycleCount();
    const std::size_t shown = H.Shown.size();
    ASSERT_TRUE(H.PumpUntil([&] { return drive->CycleCount() >= driveCycles + 50; }));
    EXPECT_LE(file->CycleCount(), fileCycles + 1);  // at most the cycle under way
    EXPECT_LE(host->CycleCount(), hostCycles + 1);
    EXPECT_EQ(H.Shown.size(), shown);  // no display update while stopping

    // Stop itself, with a real grace period on the window's clock.
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] {
        return file->CycleCount() >= fileCycles + 5 && host->CycleCount() >= hostCycles + 5;
    }));
    TMeasuringControl stopping(H.Table, H.Sync, SystemClock(), {300, 0, 2000, 0});
    // The counts are taken once the flag is up, so that only the cycle under
    // way can still end (Stop raises it again and then waits its grace).
    for (const auto& t : {drive, file, host}) t->RequestStop();
    const auto before = std::array{drive->CycleCount(), file->CycleCount(), host->CycleCount()};
    stopping.Stop();
    EXPECT_GT(drive->CycleCount(), before[0] + 2);  // time passed for the threads
    EXPECT_LE(file->CycleCount(), before[1] + 1);
    EXPECT_LE(host->CycleCount(), before[2] + 1);
    for (const auto& t : {drive, file, host}) EXPECT_TRUE(t->WaitUntilParked(2000));
}

TEST_F(PingThreadTest, UnknownKindShowsTestingAndWaitsWithoutSpinning) {
    auto t = H.AddResource("7", 1);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return !H.Shown.empty() && t->IsParked(); }));
    for (int i = 0; i < 20; ++i) {
        H.Clock.Advance(50);
        Control.Activate();
        H.Sync->RunPending();
    }
    EXPECT_EQ(t->CycleCount(), 0u);
    EXPECT_EQ(H.Table.Cell(colWriteText, 1), "Testing...");
    // A change of kind makes it measure.
    H.Table.SetCell(colKind, 1, "3");
    t->LoadSettings();
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 1; }));
}

TEST_F(PingThreadTest, HaltedThreadIsLeftAloneUntilLoadSettings) {
    bool failOnce = true;
    H.Script->InCycle = [&](TPingThread& th) {
        if (failOnce) {
            failOnce = false;
            th.FailIo();
        }
    };
    auto t = H.AddResource("1", 1000, "/missing");
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return t->Halted && t->IsParked(); }));
    EXPECT_EQ(H.Table.Cell(colWriteText, 1), "I/O error.");
    for (int i = 0; i < 40; ++i) {
        H.Clock.Advance(50);
        Control.Activate();
    }
    EXPECT_TRUE(t->IsParked());
    EXPECT_EQ(t->CycleCount(), 0u);
    Control.Stop();
    Control.Start();  // LoadSettings clears Halted; the thread starts over
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 2 && !t->Halted; }));
}

TEST_F(PingThreadTest, NewSettingsDuringAFailingTransferAreNotLostToTheHalt) {
    std::atomic<int> phase{0};
    H.Script->InCycle = [&](TPingThread& th) {
        if (phase != 0) return;
        phase = 1;  // inside the transfer that is about to fail
        while (phase != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        th.FailIo();
    };
    auto t = H.AddResource("1", 1000, "/old");
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return phase == 1; }));
    H.Table.SetCell(colAddress, 1, "/new");  // the user edits the resource meanwhile
    t->LoadSettings();
    t->Resume();
    phase = 2;
    ASSERT_TRUE(H.PumpUntil([&] { return t->CycleCount() >= 2 && t->IsParked(); }));
    EXPECT_FALSE(t->Halted);
}

TEST_F(PingThreadTest, CloseDoesNotHangOnAThreadBlockedInItsSynchronousCall) {
    auto t = H.AddResource("3", 1000);
    Control.Start();
    // Nobody pumps: the thread blocks in its "Testing..." display call.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    TMeasuringControl closing(H.Table, H.Sync, H.Clock, {0, 0, 2000, 0});
    const auto start = std::chrono::steady_clock::now();
    closing.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(t->Finished());
    EXPECT_EQ(H.Table.Thread(1), nullptr);
}

TEST_F(PingThreadTest, CloseLeavesAThreadStuckInAProbeBehind) {
    std::atomic<bool> release{false}, inside{false};
    H.Script->InCycle = [&](TPingThread&) {
        inside = true;  // like a read on a dead network mount
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto t = H.AddResource("2", 1000);
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return inside.load(); }));
    std::weak_ptr<TPingThread> weak = t;
    t.reset();
    TMeasuringControl closing(H.Table, H.Sync, H.Clock, {0, 0, 100, 0});
    const auto start = std::chrono::steady_clock::now();
    closing.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    auto stuck = weak.lock();
    ASSERT_NE(stuck, nullptr);  // kept alive by its own thread
    EXPECT_FALSE(stuck->Finished());
    stuck.reset();
    release = true;  // the stuck call returns; the thread ends by itself
    for (int i = 0; i < 400 && !weak.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(weak.expired());
}

// Holds the threads that enter it, like calls on a dead network mount,
// until the test releases them.
struct TGate {
    std::mutex M;
    std::condition_variable Cv;
    int Inside = 0;
    bool Open = false;
    void Pass() {
        std::unique_lock lock(M);
        ++Inside;
        Cv.notify_all();
        Cv.wait(lock, [&] { return Open; });
    }
    int Count() {
        std::lock_guard lock(M);
        return Inside;
    }
    void Release() {
        std::lock_guard lock(M);
        Open = true;
        Cv.notify_all();
    }
};

bool AllExpire(const std::vector<std::weak_ptr<TPingThread>>& threads) {
    for (int i = 0; i < 1000; ++i) {
        if (std::all_of(threads.begin(), threads.end(), [](const auto& w) { return w.expired(); }))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(PingThreadTest, StuckThreadsShareOneGraceAtClose) {
    constexpr int Stuck = 10;
    constexpr std::uint32_t GraceMs = 300;
    auto gate = std::make_shared<TGate>();
    H.Script->InCycle = [gate](TPingThread&) { gate->Pass(); };
    std::vector<std::weak_ptr<TPingThread>> threads;
    for (int i = 0; i < Stuck; ++i) threads.push_back(H.AddResource("2", 1000));
    Control.Start();
    ASSERT_TRUE(H.PumpUntil([&] { return gate->Count() == Stuck; }));
    TMeasuringControl closing(H.Table, H.Sync, H.Clock, {0, 0, GraceMs, 0});
    const auto start = std::chrono::steady_clock::now();
    closing.Close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(GraceMs));
    // One grace each would be 3 s.
    EXPECT_LT(took, std::chrono::milliseconds(5 * GraceMs));
    gate->Release();
    EXPECT_TRUE(AllExpire(threads));
}

// A clock that counts the calls made after its owners let it go. Its memory
// is never freed, so such a call is counted rather than undefined.
class TWatchedClock final : public IClock {
public:
    std::uint64_t TickMs() const override { return Note(), 1000; }
    std::int64_t Counter() const override { return Note(), 0; }
    std::int64_t CounterFrequency() const override { return Note(), 1'000'000'000; }
    TLocalTime LocalNow() const override { return Note(), TLocalTime{2026, 12, 10, 12, 1, 0, 0}; }
    void SleepMs(std::uint32_t) const override { Note(); }
    std::atomic<bool> Released{false};
    mutable std::atomic<int> LateCalls{0};

private:
    void Note() const {
        if (Released) ++LateCalls;
    }
};

// One cycle whose timed transfer blocks in the gate; after it the cycle ends
// as every probe's does.
class TBlockingProbe final : public TProbe {
public:
    explicit TBlockingProbe(std::shared_ptr<TGate> gate) : Gate_(std::move(gate)) {}
    void RunLoop(TPingThread& t) override {
        while (!t.Restart) {
            if (!t.BeginCycle()) break;
            t.TimedTransfer([&] { Gate_->Pass(); });
            t.ShowResults();
            t.EndCycle();
        }
    }
    void Close(TPingThread&) override {}

private:
    std::shared_ptr<TGate> Gate_;
};

TEST(PingThreadShutdown, AThreadReleasedAfterShutdownTouchesOnlyWhatItKeepsAlive) {
    static TWatchedClock clock;  // outlives every thread
    auto gate = std::make_shared<TGate>();
    std::weak_ptr<TPingThread> weak;
    {
        // The window: its grid on the heap, so that a late touch of it is a
        // use after free that AddressSanitizer reports.
        auto table = std::make_unique<TResourceTable>();
        auto sync = std::make_shared<TSyncCaller>();
        auto ctx = std::make_shared<TEngineContext>();
        ctx->Clock = std::shared_ptr<const IClock>(&clock, [](const IClock*) {
            clock.Released = true;  // the last owner let it go
        });
        ctx->Sync = sync;
        ctx->Table = table.get();
        ctx->ApplyOsPriority = false;
        ctx->Probes = [gate](char, TPingThread&) { return std::make_unique<TBlockingProbe>(gate); };
        const int r = table->AddRow();
        table->SetCell(colAddress, r, "/mnt/hung");
        table->SetCell(colKind, r, "2");
        table->SetCell(colInterval, r, "1000");
        auto t = TPingThread::Create(r, ctx);
        table->SetThread(r, t);
        t->LoadSettings();
        weak = t;
        t.reset();
        ctx.reset();
        TMeasuringControl control(*table, sync, clock, {0, 0, 100, 0});
        control.Start();
        // The window answers display calls until the thread is stuck.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (gate->Count() == 0 && std::chrono::steady_clock::now() < end) {
            sync->RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(gate->Count(), 1);
        control.Close();  // leaves the stuck thread behind
        EXPECT_FALSE(weak.expired());
    }  // the window, its grid, its synchronous caller and its context go
    EXPECT_FALSE(clock.Released);  // the thread still shares it
    gate->Release();  // the hung call returns after shutdown
    EXPECT_TRUE(AllExpire({weak}));
    EXPECT_TRUE(clock.Released);
    EXPECT_EQ(clock.LateCalls, 0);
}

}  // namespace
}  // namespace tarvik
