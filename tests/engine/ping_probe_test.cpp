#include "engine/ping_probe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/measuring_control.h"
#include "engine/speed_text.h"
#include "support/engine_harness.h"
#include "support/icmp_fake_echo.h"
#include "support/icmp_netns.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using test::TEchoStep;

// A host resource's thread with the ping probe on a fake echo layer and a
// fake resolver (no query leaves the machine).
struct TPingRig {
    std::atomic<int> Lookups{0};
    std::function<THostAddress(const std::string&)> Resolve = [](const std::string&) {
        return THostAddress{11001, 0};
    };
    std::shared_ptr<test::TFakeEchoScript> Echo = std::make_shared<test::TFakeEchoScript>();
    TEchoSocketOpener Open;
    test::TEngineHarness H;
    TMeasuringControl Control{H.Table, H.Sync, H.Clock, {0, 0, 2000, 0}};

    TPingRig() {
        Echo->Clock = &H.Clock;
        Open = test::FakeEchoOpener(Echo);
        H.Ctx->Probes = [this](char kind, TPingThread&) -> std::unique_ptr<TProbe> {
            if (kind != '3') return nullptr;
            return MakePingProbe({Open, [this](const std::string& name) {
                                      ++Lookups;
                                      return Resolve(name);
                                  }});
        };
    }

    std::shared_ptr<TPingThread> AddHost(const std::string& address, int interval, bool autoSize,
                                         int testSize, int timeout = 2500) {
        auto t = H.AddResource("3", interval, address);
        H.Table.SetCell(colAutoSize, t->Row, autoSize ? "1" : "0");
        H.Table.SetCell(colTestSize, t->Row, std::to_string(testSize));
        H.Table.SetCell(colTimeout, t->Row, std::to_string(timeout));
        return t;
    }
    bool CyclesDone(const std::shared_ptr<TPingThread>& t, std::uint64_t n) {
        return H.PumpUntil([&] { return t->CycleCount() == n && t->IsParked(); });
    }
    // One activation tick after ms of clock time; waits for the thread to park.
    bool Tick(const std::shared_ptr<TPingThread>& t, std::uint32_t ms, std::uint64_t cycles) {
        H.Clock.Advance(ms);
        Control.Activate();
        return CyclesDone(t, cycles);
    }
    // Back-to-back cycles until n exchanges are logged; the sizes sent.
    std::vector<std::size_t> Sizes(std::size_t n) {
        EXPECT_TRUE(H.PumpUntil([&] { return Echo->Log->Count() >= n; }, 20000));
        std::vector<std::size_t> sizes;
        for (const auto& e : Echo->Log->Copy()) sizes.push_back(e.Size);
        sizes.resize(n);
        return sizes;
    }
    std::string Cell(const std::shared_ptr<TPingThread>& t) const {
        return H.Table.Cell(colPingText, t->Row);
    }
    std::vector<std::string> PingTexts() const {
        std::vector<std::string> texts;
        for (const auto& s : H.Shown)
            if (s.Col == colPingText) texts.push_back(s.Text);
        return texts;
    }
};

using TTexts = std::vector<std::string>;

TEST(PingProbeLookup, DottedAddressIsTakenAsItIs) {
    TPingRig R;
    auto t = R.AddHost("10.1.2.3", 1000, false, 1024);
    t->IPText = "from before";
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 1));
    EXPECT_EQ(R.Lookups, 0);
    EXPECT_EQ(t->IPText, "from before");
    EXPECT_EQ(t->IPAddress, inet_addr("10.1.2.3"));
    EXPECT_EQ(R.Echo->Log->Copy().at(0).Address, inet_addr("10.1.2.3"));
    EXPECT_EQ(R.PingTexts(), (TTexts{"Testing...", "Get address...", FormatSpeed(2000)}));
    EXPECT_EQ(t->CyclePriority, TPriority::Lowest);
}

TEST(PingProbeLookup, NameIsLookedUpOnceAndKeptAcrossRestarts) {
    TPingRig R;
    R.Resolve = [](const std::string& name) {
        return name == "speed.test" ? THostAddress{0, inet_addr("192.0.2.5")}
                                    : THostAddress{11001, 0};
    };
    auto t = R.AddHost("speed.test", 1000, false, 1024);
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 1));
    EXPECT_EQ(t->IPText, "192.0.2.5");
    EXPECT_EQ(R.Echo->Log->Copy().at(0).Address, inet_addr("192.0.2.5"));
    R.Control.Stop();
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 2));
    EXPECT_EQ(R.Lookups, 1);
    EXPECT_EQ(R.PingTexts(), (TTexts{"Testing...", "Get address...", FormatSpeed(2000),
                                     "Testing...", FormatSpeed(2000)}));
}

TEST(PingProbeLookup, UnknownHostIsRetriedAfterEachInterval) {
    TPingRig R;
    std::atomic<bool> known{false};
    R.Resolve = [&](const std::string&) {
        return known ? THostAddress{0, inet_addr("192.0.2.9")} : THostAddress{11001, 0};
    };
    auto t = R.AddHost("no.such.host", 1000, false, 1024);
    // The failed look-up's wait has begun once it took the time it waits from
    // (the fake clock stands still meanwhile).
    const auto waiting = [&] {
        return R.H.PumpUntil([&] { return t->LastRunTick.load() == R.H.Clock.TickMs(); });
    };
    R.Control.Start();
    ASSERT_TRUE(R.H.PumpUntil([&] { return R.Cell(t) == "Host not found"; }));
    EXPECT_EQ(R.PingTexts(), (TTexts{"Testing...", "Get address...", "Host not found"}));
    ASSERT_TRUE(waiting());
    // Not again before more than the interval has passed.
    const std::uint64_t waits = t->WaitCount();
    R.H.Clock.Advance(1000);
    // The thread has looked at the clock again (a wait begun since the move).
    ASSERT_TRUE(R.H.PumpUntil([&] { return t->WaitCount() >= waits + 2; }));
    R.H.Sync->RunPending();
    EXPECT_EQ(R.Lookups, 1);
    R.H.Clock.Advance(1);
    ASSERT_TRUE(R.H.PumpUntil([&] { return R.Lookups == 2 && R.Cell(t) == "Host not found"; }));
    EXPECT_EQ(R.Echo->Log->Count(), 0u);
    EXPECT_EQ(t->CycleCount(), 0u);
    // Once the name resolves, the next attempt measures.
    known = true;
    ASSERT_TRUE(waiting());
    R.H.Clock.Advance(1001);
    ASSERT_TRUE(R.CyclesDone(t, 1));
    EXPECT_EQ(R.Lookups, 3);
    EXPECT_EQ(R.Cell(t), FormatSpeed(2000));
}

TEST(PingProbeLookup, LimitedBroadcastAddressIsRefused) {
    // 255.255.255.255 doubles as the "not resolved" mark: it must not pass as
    // a resolved address nor retry silently.
    TPingRig R;
    auto t = R.AddHost("255.255.255.255", 1000, false, 1024);
    R.Control.Start();
    ASSERT_TRUE(R.H.PumpUntil([&] { return R.Cell(t) == "Address not available"; }));
    EXPECT_EQ(R.Echo->Log->Count(), 0u);
}

TEST(PingProbeSpeed, FormulaAndTimeSource) {
    struct TCase {
        const char* Why;
        int Size;
        std::int64_t TakesUs;
        std::uint32_t RoundTripMs;
        double Speed;
        bool NoCounter = false;
    };
    const TCase cases[] = {
        {"over 100 ms: the reported round trip", 4096, 120000, 150, 4 * 2000000.0 / 150000},
        {"1536 bytes count as 1 KB", 1536, 1000, 1, 2000},
        {"exactly 100 ms: the counter's time", 5120, 100000, 7, 100},
        {"a reported round trip of 0 ms", 6144, 100001, 0, 0},
        {"less than 1 KB", 1023, 500, 1, 0},
        {"no counter", 4096, 1000, 1, 0, true},
    };
    for (const auto& c : cases) {
        TPingRig R;
        if (c.NoCounter) R.H.Clock.SetFrequency(0);
        R.Echo->Next = [&](std::size_t, std::size_t) {
            TEchoStep s;
            s.TakesUs = c.TakesUs;
            s.RoundTripMs = c.RoundTripMs;
            return s;
        };
        auto t = R.AddHost("10.0.0.1", 1000, false, c.Size);
        R.Control.Start();
        ASSERT_TRUE(R.CyclesDone(t, 1)) << c.Why;
        EXPECT_DOUBLE_EQ(t->Results().PingSpeed, c.Speed) << c.Why;
        EXPECT_EQ(R.Cell(t), FormatSpeed(c.Speed)) << c.Why;
    }
    EXPECT_EQ(FormatSpeed(cases[0].Speed), "    53.33 KBps");
}

TEST(PingProbeQuality, EachCycleCountsAsAReplyWithItsRoundTripOrAsLost) {
    // Round trip from the socket, else the counter's time; every failure,
    // the mangled reply included, is a lost echo.
    const struct {
        std::int32_t Status;
        bool Mangle;
        std::int64_t RoundTripNs, TakesUs;
    } steps[] = {
        {0, false, 250000, 900},   // 250 µs
        {11010, false, 0, 900},    // time-out
        {0, true, 300000, 900},    // no marker: lost
        {0, false, 0, 1500},       // 1500 µs by the counter
        {11003, false, 0, 900},    // unreachable
        {0, false, 400000, 900},   // 400 µs
    };
    TPingRig R;
    R.H.Clock.SetLocal({2026, 12, 10, 12, 1, 0, 0});
    R.Echo->Next = [&](std::size_t call, std::size_t) {
        TEchoStep s;
        const auto& c = steps[std::min(call, std::size(steps) - 1)];
        s.Status = c.Status;
        s.Mangle = c.Mangle;
        s.RoundTripNs = c.RoundTripNs;
        s.TakesUs = c.TakesUs;
        return s;
    };
    auto t = R.AddHost("10.0.0.1", 1000, false, 1024);
    R.Control.Start();
    for (std::size_t i = 0; i < std::size(steps); ++i)
        ASSERT_TRUE(i == 0 ? R.CyclesDone(t, 1) : R.Tick(t, 1000, i + 1)) << i;
    const TResultsSnapshot r = t->Results();
    EXPECT_EQ(r.Echoes.Cycles, 6u);
    EXPECT_EQ(r.Echoes.Lost, 3u);
    EXPECT_EQ(r.Echoes.RttMinUs, 250u);
    EXPECT_EQ(r.Echoes.RttMaxUs, 1500u);
    EXPECT_DOUBLE_EQ(r.Echoes.RttSumUs, 2150);
    EXPECT_DOUBLE_EQ(r.LastRoundTripUs, 400);
    EXPECT_EQ(r.Echoes.JitterUs(), (1250.0 + 1100.0) / 2);

    // The quarter hour's quality goes with its trend record, then starts afresh.
    R.H.Clock.SetLocal({2026, 12, 10, 12, 15, 0, 0});
    R.Control.Activate();
    ASSERT_TRUE(R.H.PumpUntil([&] { return R.H.Writer.Qualities.size() == 1 && t->IsParked(); }));
    ASSERT_EQ(R.H.Writer.Entries.size(), 1u);
    const auto& [record, quarter] = R.H.Writer.Qualities[0];
    EXPECT_EQ(record.Name, "10.0.0.1");
    EXPECT_EQ(record.Time, R.H.Writer.Entries[0].Record.Time);
    EXPECT_EQ(quarter.Cycles, 7u);  // the cycle at 12:15 belongs to the quarter it closes
    EXPECT_EQ(quarter.Lost, 3u);
    EXPECT_EQ(t->QuarterQuality.Cycles, 0u);
    EXPECT_EQ(t->Results().Echoes.Cycles, 7u);
}

TEST(PingProbeSpeed, StaleRepliesAreDiscardedBeforeTheTimedExchange) {
    // Throwing away a busy raw socket's queue takes 40 ms here; the exchange
    // itself 1 ms. Only the exchange may count.
    TPingRig R;
    R.Echo->DiscardTakesUs = 40000;
    std::vector<int> discardsAtSend;
    R.Echo->Next = [&](std::size_t, std::size_t) {
        discardsAtSend.push_back(R.Echo->Discards);
        return TEchoStep{};
    };
    auto t = R.AddHost("10.0.0.1", 1000, false, 4096);
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 1));
    ASSERT_TRUE(R.Tick(t, 1000, 2));
    EXPECT_EQ(discardsAtSend, (std::vector<int>{1, 2}));  // one before each exchange
    EXPECT_DOUBLE_EQ(t->Results().PingSpeed, 4 * 2000000.0 / 1000);
}

TEST(PingProbeSpeed, TimeoutGivesZeroAndShrinksTheSize) {
    TPingRig R;
    R.Echo->Next = [](std::size_t call, std::size_t) {
        TEchoStep s;
        s.TakesUs = 1000;  // short: the size rule must take the time-out instead
        if (call == 0) s.Status = 11010;
        return s;
    };
    auto t = R.AddHost("10.0.0.1", 1000, true, 0, 2500);
    t->ReadBlock = 4096;
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 1));
    EXPECT_EQ(R.Cell(t), "Timeout");
    EXPECT_EQ(t->Results().PingSpeed, 0);
    EXPECT_EQ(t->ReadBlock, 3072);
    EXPECT_EQ(R.Echo->Log->Copy().at(0).TimeoutMs, 2500u);
    // The cell keeps the text until the next good sample replaces it.
    const std::uint64_t waits = t->WaitCount();
    R.H.Clock.Advance(500);
    R.Control.Activate();
    // Not yet due: the thread stays in (or goes back to) its wait.
    ASSERT_TRUE(R.H.PumpUntil([&] { return t->IsWaiting() && t->WaitCount() >= waits; }));
    R.H.Sync->RunPending();
    EXPECT_EQ(R.Cell(t), "Timeout");
    ASSERT_TRUE(R.Tick(t, 500, 2));
    EXPECT_EQ(R.Cell(t), FormatSpeed(3 * 2000000.0 / 1000));
    const auto r = t->Results();
    EXPECT_EQ(r.PingHistory[99], 0);  // the failed sample still counts
    EXPECT_EQ(r.PingHistory[100], 6000);
}

TEST(PingProbeSpeed, EveryFailureShowsItsTextAndGivesZero) {
    struct TCase {
        std::int32_t Status;
        bool Mangle;
        const char* Text;
    };
    const TCase cases[] = {
        {11002, false, "Dst.unreachable"},
        {11003, false, "Dst.unreachable"},
        {11004, false, "Dst.unreachable"},
        {11005, false, "Dst.unreachable"},
        {11006, false, "No resources"},
        {11009, false, "Packet too big"},
        {11010, false, "Timeout"},
        {11013, false, "TTL expired in transit"},
        {11014, false, "TTL expired in reassembly"},
        {11015, false, "Parameter problem"},
        {11016, false, "Source quench"},
        {11050, false, "General failure"},
        {0, true, "Hrdwr.Error"},  // a reply without the marker
    };
    TPingRig R;
    R.Echo->Next = [&](std::size_t call, std::size_t) {
        TEchoStep s;
        if (call < std::size(cases)) {
            s.Status = cases[call].Status;
            s.Mangle = cases[call].Mangle;
        }
        return s;
    };
    auto t = R.AddHost("10.0.0.1", 1000, false, 1024);
    R.Control.Start();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_TRUE(i == 0 ? R.CyclesDone(t, 1) : R.Tick(t, 1000, i + 1)) << cases[i].Text;
        EXPECT_EQ(R.Cell(t), cases[i].Text) << i;
        EXPECT_EQ(t->Results().PingSpeed, 0) << i;
        EXPECT_EQ(t->EchoStatus, cases[i].Mangle ? 11008 : cases[i].Status) << i;
    }
    ASSERT_TRUE(R.Tick(t, 1000, std::size(cases) + 1));
    EXPECT_EQ(R.Cell(t), FormatSpeed(2000));
    EXPECT_EQ(R.Echo->Log->Opened, 1);
}

TEST(PingProbeSpeed, UnusableSocketRestartsWithAFreshOne) {
    TPingRig R;
    R.Resolve = [](const std::string&) { return THostAddress{0, inet_addr("192.0.2.7")}; };
    R.Echo->Next = [](std::size_t call, std::size_t) {
        TEchoStep s;
        if (call == 0) s.Status = 1;
        return s;
    };
    auto t = R.AddHost("host.test", 1000, false, 1024);
    R.Control.Start();
    ASSERT_TRUE(R.CyclesDone(t, 1));
    ASSERT_TRUE(R.Tick(t, 1000, 2));
    EXPECT_EQ(R.Echo->Log->Opened, 2);
    EXPECT_EQ(R.Lookups, 1);  // the address stays resolved
    EXPECT_EQ(R.PingTexts(), (TTexts{"Testing...", "Get address...", FormatSpeed(0), "Testing...",
                                     FormatSpeed(2000)}));
}

TEST(PingProbeSize, AdaptationAndLimits) {
    struct TCase {
        const char* Why;
        bool AutoSize;
        int Start;  // ReadBlock before the first cycle, or TestSize
        std::int64_t TakesUs;
        std::vector<std::size_t> Sizes;
    };
    const TCase cases[] = {
        {"slow: shrinks to 1024", true, 4096, 40001, {4096, 3072, 2048, 1024, 1024}},
        {"40 ms: stays", true, 4096, 40000, {4096, 4096, 4096}},
        {"10 ms: stays", true, 4096, 10000, {4096, 4096, 4096}},
        {"fast: grows to the limit", true, 62464, 9999, {62464, 63488, 64512, 64512}},
        {"an odd size grows into the limit", true, 64000, 1000, {64000, 64512, 64512}},
        {"a drive's size is brought into range", true, 300000, 1000, {64512, 64512}},
        {"fixed", false, 1536, 1000, {1536, 1536, 1536}},
        {"fixed above the limit", false, 100000, 1000, {64512, 64512}},
    };
    for (const auto& c : cases) {
        TPingRig R;
        R.Echo->Next = [&](std::size_t, std::size_t) {
            TEchoStep s;
            s.TakesUs = c.TakesUs;
            s.RoundTripMs = static_cast<std::uint32_t>(c.TakesUs / 1000);
            return s;
        };
        auto t = R.AddHost("10.0.0.1", 0, c.AutoSize, c.Start);
        t->ReadBlock = c.Start;
        R.Control.Start();
        EXPECT_EQ(R.Sizes(c.Sizes.size()), c.Sizes) << c.Why;
    }
    // From a new thread's 1024 upward by 1024 per fast cycle.
    TPingRig R;
    auto t = R.AddHost("10.0.0.1", 0, true, 0);
    R.Control.Start();
    const auto sizes = R.Sizes(66);
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], std::min<std::size_t>(1024 * (i + 1), 64512)) << i;
}

TEST(PingProbeSize, PriorityRuleTakesTheRoundTripAbove10ms) {
    struct TCase {
        std::int64_t TakesUs;
        std::uint32_t RoundTripMs;
        TPriority Level;
    };
    const TCase cases[] = {
        {50000, 15, TPriority::Highest},  // the round trip, 15000 µs
        {5000, 100, TPriority::Highest},  // the counter's 5000 µs
        {50000, 50, TPriority::Lowest},
    };
    for (const auto& c : cases) {
        TPingRig R;
        R.Echo->Next = [&](std::size_t, std::size_t) {
            TEchoStep s;
            s.TakesUs = c.TakesUs;
            s.RoundTripMs = c.RoundTripMs;
            return s;
        };
        auto t = R.AddHost("10.0.0.1", 0, false, 1024);
        R.Control.Start();
        ASSERT_TRUE(R.H.PumpUntil([&] { return R.Echo->Log->Count() >= 25; }));
        R.Control.Stop();
        ASSERT_TRUE(t->WaitUntilParked(2000));
        EXPECT_EQ(t->CyclePriority, c.Level) << c.TakesUs << " " << c.RoundTripMs;
    }
}

TEST(PingProbeSize, ANewLookupStartsAgainAtTheLowestPriority) {
    for (const bool newAddress : {false, true}) {
        TPingRig R;
        R.Echo->Next = [](std::size_t, std::size_t) {
            TEchoStep s;
            s.TakesUs = 5000;
            return s;
        };
        auto t = R.AddHost("10.0.0.1", 0, false, 1024);
        R.Control.Start();
        ASSERT_TRUE(R.H.PumpUntil([&] { return R.Echo->Log->Count() >= 25; }));
        R.Control.Stop();
        ASSERT_TRUE(t->WaitUntilParked(2000));
        ASSERT_EQ(t->CyclePriority, TPriority::Highest);
        if (newAddress) R.H.Table.SetCell(colAddress, t->Row, "10.0.0.2");
        const std::size_t before = R.Echo->Log->Count();
        R.Control.Start();
        ASSERT_TRUE(R.H.PumpUntil([&] { return R.Echo->Log->Count() >= before + 3; }));
        R.Control.Stop();
        ASSERT_TRUE(t->WaitUntilParked(2000));
        EXPECT_EQ(t->CyclePriority, newAddress ? TPriority::Lowest : TPriority::Highest)
            << newAddress;
        EXPECT_EQ(R.Echo->Log->Copy().back().Address,
                  inet_addr(newAddress ? "10.0.0.2" : "10.0.0.1"));
    }
}

// ---- closing while an exchange waits ----------------------------------

TEST(PingProbeClosing, WaitingExchangeEndsPromptly) {
    for (const bool destroy : {false, true}) {
        TPingRig R;
        R.Echo->Next = [](std::size_t, std::size_t) {
            TEchoStep s;
            s.BlockUntilWake = true;
            s.Status = 11010;
            return s;
        };
        auto t = R.AddHost("10.0.0.1", 1000, false, 1024, 600000);
        R.Control.Start();
        ASSERT_TRUE(R.H.PumpUntil([&] { return R.Echo->Entered == 1; }));
        const auto start = std::chrono::steady_clock::now();
        if (destroy) {
            R.Control.DestroyRow(t->Row);
            EXPECT_TRUE(t->Finished());
        } else {
            t->RequestTerminate();
            EXPECT_TRUE(R.H.PumpUntil([&] { return t->Finished(); }, 5000));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << destroy;
    }
}

TEST(PingProbeClosing, RealExchangeWithoutAnswerEndsPromptly) {
    // Inside a namespace whose loopback ignores echo requests, a real socket
    // waits for a reply that never comes.
    std::string why;
    auto ns = test::TTestNetns::Create(why);
    if (!ns) GTEST_SKIP() << why;
    ASSERT_TRUE(ns->Sysctl("ipv4/icmp_echo_ignore_all", "1"));
    TPingRig R;
    std::atomic<int> opened{0};
    R.Open = [&]() -> std::unique_ptr<IEchoSocket> {
        std::unique_ptr<IEchoSocket> s;
        ns->Run([&] { s = OpenEchoSocket(); });
        if (s) ++opened;
        return s;
    };
    auto t = R.AddHost("127.0.0.1", 1000, false, 1024, 600000);
    R.Control.Start();
    ASSERT_TRUE(R.H.PumpUntil([&] { return opened == 1; }));
    if (!R.H.PumpUntil([&] { return t->CycleCount() > 0; }, 300)) {
        // Still waiting for the reply, as it should.
        const auto start = std::chrono::steady_clock::now();
        t->RequestTerminate();
        EXPECT_TRUE(R.H.PumpUntil([&] { return t->Finished(); }, 5000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    } else {
        ADD_FAILURE() << "an echo in the namespace was answered or failed at once";
    }
}

// ---- real loopback -----------------------------------------------------------

// The rig on the real clock with real echo sockets to 127.0.0.1.
struct TRealRig : TPingRig {
    std::shared_ptr<test::TEchoLog> Log = std::make_shared<test::TEchoLog>();
    TRealRig() {
        H.Ctx->Clock = &SystemClock();
        Open = test::RecordingOpener(OpenEchoSocket, Log);
    }
    std::vector<test::TEchoLog::TEntry> Run(const std::shared_ptr<TPingThread>& t, std::size_t n) {
        Control.Start();
        EXPECT_TRUE(H.PumpUntil([&] { return Log->Count() >= n; }, 30000));
        Control.Stop();
        EXPECT_TRUE(t->WaitUntilParked(5000));
        return Log->Copy();
    }
};

constexpr const char* NoIcmp =
    "no ICMP socket can be opened here: allow ping sockets (net.ipv4.ping_group_range) or run "
    "as root";

TEST(PingProbeLoopback, SpeedAppearsAndSizesGrowOnFastReplies) {
    if (!OpenEchoSocket()) GTEST_SKIP() << NoIcmp;
    TRealRig R;
    auto t = R.AddHost("127.0.0.1", 0, true, 0);
    const auto log = R.Run(t, 40);
    std::size_t largest = 0;
    for (const auto& e : log) {
        EXPECT_EQ(e.Status, 0);
        largest = std::max(largest, e.Size);
    }
    // Loopback answers well within 10 ms: nearly every cycle grows the size.
    EXPECT_GE(largest, 20u * 1024);
    EXPECT_GT(t->Results().PingSpeed, 0);
    EXPECT_TRUE(R.Cell(t).ends_with(" KBps")) << R.Cell(t);
}

TEST(PingProbeLoopback, FixedSizeStaysFixedBesideAnotherPinger) {
    if (!OpenEchoSocket()) GTEST_SKIP() << NoIcmp;
    TRealRig R;
    std::atomic<bool> done{false};
    std::atomic<int> otherFailures{0};
    std::thread other([&] {
        auto s = OpenEchoSocket();
        if (!s) return;
        std::vector<std::uint8_t> data(8192, 0x5A);
        while (!done)
            if (s->SendEcho(htonl(INADDR_LOOPBACK), data, 2000, -1).Status != 0) ++otherFailures;
    });
    auto t = R.AddHost("127.0.0.1", 0, false, 8192);
    const auto log = R.Run(t, 60);
    done = true;
    other.join();
    for (const auto& e : log) {
        EXPECT_EQ(e.Size, 8192u);
        EXPECT_EQ(e.Status, 0);
    }
    EXPECT_EQ(otherFailures.load(), 0);
    EXPECT_GT(t->Results().PingSpeed, 0);
}

}  // namespace
}  // namespace tarvik
