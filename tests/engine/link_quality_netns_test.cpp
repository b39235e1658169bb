// Link quality end to end: a host behind a link with 20 % loss and
// 5 ms ± 2 ms delay (tc netem between two network namespaces made by the
// test), measured by the ping probe's thread on real sockets. The figures
// must show in the quarter hour's side-file record and in the metrics.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>

#include "engine/measuring_control.h"
#include "engine/ping_probe.h"
#include "monitor/metrics.h"
#include "support/engine_harness.h"
#include "support/icmp_netns.h"
#include "trend/trend_file.h"

extern char** environ;

namespace tarvik {
namespace {

// The real clock, but local time stays at 12:14 until the test lets the
// quarter hour close.
class TQuarterClock final : public IClock {
  public:
    std::uint64_t TickMs() const override { return SystemClock().TickMs(); }
    std::int64_t Counter() const override { return SystemClock().Counter(); }
    std::int64_t CounterFrequency() const override { return SystemClock().CounterFrequency(); }
    TLocalTime LocalNow() const override { return {2026, 12, 10, 12, Closed ? 15 : 14, 0, 0}; }
    void SleepMs(std::uint32_t ms) const override { SystemClock().SleepMs(ms); }
    std::atomic<bool> Closed{false};
};

// Runs a command inside the namespace; true when it exits with status 0.
bool RunIn(const test::TTestNetns& ns, std::vector<std::string> args) {
    bool ok = false;
    ns.Run([&] {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        int status = 0;
        ok = rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    });
    return ok;
}

TEST(LinkQualityNetns, LossAndRoundTripOfANetemLinkReachSideFileAndMetrics) {
    std::string why;
    auto near = test::TTestNetns::Create(why);
    if (!near) GTEST_SKIP() << why;
    auto far = test::TTestNetns::Create(why);
    if (!far) GTEST_SKIP() << why;
    ASSERT_TRUE(near->Ip("link add tq0 type veth peer name tq1 netns " + far->Path()));
    ASSERT_TRUE(near->Ip("addr add 10.77.0.1/24 dev tq0"));
    ASSERT_TRUE(near->Ip("link set tq0 up"));
    ASSERT_TRUE(far->Ip("addr add 10.77.0.2/24 dev tq1"));
    ASSERT_TRUE(far->Ip("link set tq1 up"));
    // The requests leave through the netem queue; the replies come back direct.
    if (!RunIn(*near, {"tc", "qdisc", "add", "dev", "tq0", "root", "netem", "delay", "5ms", "2ms", "loss", "20%"}))
        GTEST_SKIP() << "no netem queueing discipline here (tc missing or the kernel lacks sch_netem)";

    char tmpl[] = "/tmp/tarvik-netem.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    {
        auto clock = std::make_shared<TQuarterClock>();
        TTrendFile trend(dir + "/KOR_VEL.D", dir + "/KOR_VEL.ND", *clock);
        trend.AttachQualityFile(dir + "/KOR_VEL.Q");
        ASSERT_TRUE(trend.HasQualityFile());

        test::TEngineHarness H;
        H.Ctx->Clock = std::shared_ptr<const IClock>(clock);
        H.Ctx->TrendWriter = &trend;
        H.Ctx->Probes = [&](char kind, TPingThread&) -> std::unique_ptr<TProbe> {
            if (kind != '3') return nullptr;
            return MakePingProbe({[&]() -> std::unique_ptr<IEchoSocket> {
                                      std::unique_ptr<IEchoSocket> s;
                                      near->Run([&] { s = OpenEchoSocket(); });
                                      return s;
                                  },
                                  nullptr});
        };
        TMeasuringControl control{H.Table, H.Sync, *clock, {0, 0, 2000, 0}};
        auto t = H.AddResource("3", 0, "10.77.0.2");
        H.Table.SetCell(colAutoSize, t->Row, "0");
        H.Table.SetCell(colTestSize, t->Row, "1024");
        H.Table.SetCell(colTimeout, t->Row, "100");
        t->LoadSettings();
        control.Start();
        constexpr std::uint64_t Echoes = 300;
        ASSERT_TRUE(H.PumpUntil([&] { return t->Results().Echoes.Cycles >= Echoes; }, 120000));
        clock->Closed = true;
        ASSERT_TRUE(H.PumpUntil([&] { return trend.ReadQualityDay({"10.77.0.2"}, 46366)[0][48].has_value(); }, 10000));
        control.Stop();
        ASSERT_TRUE(t->WaitUntilParked(5000));

        // The side file's record of 12:15 (slot 49).
        const TQualityFile side(dir + "/KOR_VEL.Q", TQualityFile::TAccess::ReadShared);
        const auto day = ReadQualityDay(side, {"10.77.0.2"}, 46366);
        ASSERT_TRUE(day[0][48]);
        const TLinkQuality& q = *day[0][48];
        EXPECT_GE(q.Cycles, Echoes);
        EXPECT_GE(*q.Loss(), 0.10);
        EXPECT_LE(*q.Loss(), 0.30);
        EXPECT_GE(*q.PercentileUs(0.5), 3000);
        EXPECT_LE(*q.PercentileUs(0.5), 7000);

        // The metrics: counters and histogram agree with the side file.
        TMetricRow row{"10.77.0.2", '3', 0, 0, 0, true, t->CycleCount(), -1, t->Results().Echoes};
        const std::string page = FormatMetrics({row}, "v");
        const auto value = [&](const std::string& sample) {
            const auto at = page.find("\n" + sample + " ");
            return at == std::string::npos ? -1.0 : std::stod(page.substr(at + sample.size() + 2));
        };
        const double sent = value("tarvik_echo_sent_total{resource=\"10.77.0.2\"}");
        const double lost = value("tarvik_echo_lost_total{resource=\"10.77.0.2\"}");
        ASSERT_GT(sent, 0);
        EXPECT_GE(lost / sent, 0.10);
        EXPECT_LE(lost / sent, 0.30);
        const double count = value("tarvik_rtt_seconds_count{resource=\"10.77.0.2\"}");
        EXPECT_EQ(count, sent - lost);
        // The median from the page's cumulative buckets: the first bound
        // holding half the replies.
        double median = -1;
        const std::string bucket = "tarvik_rtt_seconds_bucket{resource=\"10.77.0.2\",le=\"";
        for (std::size_t at = page.find(bucket); at != std::string::npos && median < 0;
             at = page.find(bucket, at + 1)) {
            const std::size_t le = at + bucket.size();
            const std::size_t close = page.find("\"} ", le);
            if (std::stod(page.substr(close + 3)) >= count / 2) median = std::stod(page.substr(le, close - le));
        }
        EXPECT_GE(median, 0.003);
        EXPECT_LE(median, 0.007 * std::exp2(0.25));  // one bucket above 7 ms at most
        control.Close();
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik
