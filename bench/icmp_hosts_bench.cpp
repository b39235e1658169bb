// Process CPU of many host resources pinging 127.0.0.1 at a 10 ms interval,
// on raw sockets and on ping sockets, measured in one run. Each host has its
// own measuring thread and echo socket, as in the program; this thread plays
// the window (the 50 ms activation tick and the synchronous display calls).
// A raw socket is handed every ICMP packet of the machine unless its kernel
// filter keeps only its own, so without one the cost grows with the square
// of the host count.
//
// Ping sockets are enabled for the ping-socket half of each case through
// net.ipv4.ping_group_range (root only) and the old value is put back right
// after; without root that half is skipped.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/measuring_control.h"
#include "engine/ping_probe.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/sync_caller.h"
#include "platform/clock.h"
#include "platform/icmp_socket.h"

namespace tarvik {
namespace {

constexpr auto MeasureFor = std::chrono::seconds(2);
constexpr auto WarmUp = std::chrono::milliseconds(500);
const char* const GroupRange = "/proc/sys/net/ipv4/ping_group_range";

double ProcessCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::optional<std::string> ReadGroupRange() {
    std::ifstream in(GroupRange);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}

bool WriteGroupRange(const std::string& value) {
    std::ofstream out(GroupRange);
    out << value << '\n';
    out.flush();
    return static_cast<bool>(out);
}

// Allows ping sockets for every group while it lives; restores the old range.
class TPingSocketsAllowed {
  public:
    TPingSocketsAllowed() : Old_(ReadGroupRange()) {
        Ok_ = Old_ && WriteGroupRange("0 2147483647") &&
              TIcmpEchoSocket::Open(TIcmpSocketKind::Datagram) != nullptr;
    }
    ~TPingSocketsAllowed() {
        if (Old_) WriteGroupRange(*Old_);
    }
    TPingSocketsAllowed(const TPingSocketsAllowed&) = delete;
    TPingSocketsAllowed& operator=(const TPingSocketsAllowed&) = delete;
    bool Ok() const { return Ok_; }

  private:
    std::optional<std::string> Old_;
    bool Ok_ = false;
};

struct THostsRun {
    double CpuPercent = 0;     // of one core
    double ExchangesPerS = 0;  // all hosts together
};

// distinct: host i pings 127.0.0.(i+1) (every 127/8 address answers on the
// loopback), as rows naming different hosts do; else all ping 127.0.0.1.
THostsRun RunHosts(int hosts, TIcmpSocketKind kind, bool distinct) {
    TResourceTable table;
    auto sync = std::make_shared<TSyncCaller>();
    auto ctx = std::make_shared<TEngineContext>();
    ctx->Sync = sync;
    ctx->Table = &table;
    ctx->ApplyOsPriority = false;
    ctx->Probes = [kind](char, TPingThread&) -> std::unique_ptr<TProbe> {
        TPingProbeServices s;
        s.OpenSocket = [kind]() -> std::unique_ptr<IEchoSocket> {
            return TIcmpEchoSocket::Open(kind);
        };
        return MakePingProbe(std::move(s));
    };
    for (int i = 0; i < hosts; ++i) {
        const int r = table.AddRow();
        table.SetCell(colAddress, r,
                      distinct ? "127.0." + std::to_string((i + 1) / 256) + "." +
                                     std::to_string((i + 1) % 256)
                               : std::string("127.0.0.1"));
        table.SetCell(colKind, r, "3");
        table.SetCell(colInterval, r, "10");
        table.SetCell(colAutoSize, r, "0");
        table.SetCell(colTestSize, r, "1024");
        table.SetCell(colTimeout, r, "2500");
        auto t = TPingThread::Create(r, ctx);
        table.SetThread(r, t);
        t->LoadSettings();
    }
    TMeasuringControl control(table, sync, SystemClock(), {0, 0, 1000, 0});
    auto cycles = [&] {
        std::uint64_t n = 0;
        for (int r = 1; r < table.RowCount(); ++r) n += table.Thread(r)->CycleCount();
        return n;
    };
    // The window's part: activation every 50 ms, display calls in between.
    auto runFor = [&](auto span) {
        using clock = std::chrono::steady_clock;
        const auto end = clock::now() + span;
        auto nextTick = clock::now();
        while (clock::now() < end) {
            if (clock::now() >= nextTick) {
                control.Activate();
                nextTick += std::chrono::milliseconds(50);
            }
            sync->RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    control.Start();
    runFor(WarmUp);
    const double cpu0 = ProcessCpuSeconds();
    const std::uint64_t cycles0 = cycles();
    const auto t0 = std::chrono::steady_clock::now();
    runFor(MeasureFor);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    THostsRun run;
    run.CpuPercent = (ProcessCpuSeconds() - cpu0) / wall * 100;
    run.ExchangesPerS = static_cast<double>(cycles() - cycles0) / wall;
    control.Close();
    return run;
}

void BM_HostsAt10ms(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    const bool distinct = state.range(1) != 0;
    if (!TIcmpEchoSocket::Open(TIcmpSocketKind::Raw)) {
        state.SkipWithError("no raw ICMP socket (needs root or CAP_NET_RAW)");
        return;
    }
    THostsRun raw, ping;
    bool pingOk = false;
    for (auto _ : state) {
        raw = RunHosts(hosts, TIcmpSocketKind::Raw, distinct);
        TPingSocketsAllowed allowed;
        pingOk = allowed.Ok();
        if (pingOk) ping = RunHosts(hosts, TIcmpSocketKind::Datagram, distinct);
    }
    state.counters["raw_cpu_pct"] = raw.CpuPercent;
    state.counters["raw_echo_per_s"] = raw.ExchangesPerS;
    if (pingOk) {
        state.counters["ping_cpu_pct"] = ping.CpuPercent;
        state.counters["ping_echo_per_s"] = ping.ExchangesPerS;
        state.counters["raw_to_ping"] = ping.CpuPercent > 0 ? raw.CpuPercent / ping.CpuPercent : 0;
    } else {
        state.SetLabel("ping sockets could not be enabled (needs root)");
    }
}
BENCHMARK(BM_HostsAt10ms)
    ->ArgsProduct({{50, 100, 200}, {0, 1}})
    ->ArgNames({"hosts", "distinct"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
