// Echo exchanges with 127.0.0.1 through the ping probe's socket beside
// iputils ping with the same payload and count, measured in one run: round
// trip and CPU time per exchange, and their ratios. Paced runs send every
// 2 ms (ping -i 0.002, which spins between sends at that interval, so its CPU
// includes the pacing); back-to-back runs send the next request as soon as a
// reply is in (ping -f), which compares the work per exchange alone.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/icmp_socket.h"

extern char** environ;

namespace tarvik {
namespace {

constexpr int Exchanges = 1000;
constexpr long PaceNs = 2'000'000;  // ping -i 0.002

double CpuUs(const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct TPingRun {
    bool Ok = false;
    std::vector<double> TimesUs;  // one per reply line
    double AvgUs = 0;             // from the rtt summary line
    double CpuUs = 0;             // the whole ping process
};

// Runs iputils ping and reads its per-reply times and its summary.
TPingRun RunPing(std::size_t size, bool paced) {
    TPingRun run;
    int out[2];
    if (::pipe(out) != 0) return run;
    const std::string count = std::to_string(Exchanges), bytes = std::to_string(size);
    // Paced: one line per reply with its time; flood: only the summary.
    const char* pacedArgv[] = {"ping",  "-n", "-c",          count.c_str(), "-i",
                               "0.002", "-s", bytes.c_str(), "127.0.0.1",   nullptr};
    const char* floodArgv[] = {"ping",        "-n", "-q",          "-f",        "-c",
                               count.c_str(), "-s", bytes.c_str(), "127.0.0.1", nullptr};
    const char** argv = paced ? pacedArgv : floodArgv;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    rusage before{};
    ::getrusage(RUSAGE_CHILDREN, &before);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "ping", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; rc == 0 && (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    ::close(out[0]);
    if (rc != 0) return run;
    int status = 0;
    ::waitpid(pid, &status, 0);
    rusage after{};
    ::getrusage(RUSAGE_CHILDREN, &after);
    run.CpuUs = CpuUs(after) - CpuUs(before);
    for (std::size_t at = 0; (at = text.find("time=", at)) != std::string::npos; at += 5)
        run.TimesUs.push_back(std::stod(text.substr(at + 5)) * 1000);
    double mn, avg, mx;
    const std::size_t rtt = text.find("rtt min/avg/max/mdev = ");
    if (rtt != std::string::npos &&
        std::sscanf(text.c_str() + rtt, "rtt min/avg/max/mdev = %lf/%lf/%lf", &mn, &avg, &mx) == 3)
        run.AvgUs = avg * 1000;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.AvgUs > 0;
    return run;
}

// Arguments: payload size, paced (1) or back to back (0).
void BM_EchoBesidePing(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const bool paced = state.range(1) != 0;
    auto socket = OpenEchoSocket();
    if (!socket) {
        state.SkipWithError("no ICMP socket can be opened (needs ping sockets or CAP_NET_RAW)");
        return;
    }
    const std::vector<std::uint8_t> data(size, 0x5A);
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    std::vector<double> callUs, kernelUs;
    rusage before{}, after{};
    for (auto _ : state) {
        callUs.clear();
        kernelUs.clear();
        ::getrusage(RUSAGE_THREAD, &before);
        for (int i = 0; i < Exchanges; ++i) {
            socket->DiscardQueued();  // outside the timed call, as in the probe
            const auto t0 = std::chrono::steady_clock::now();
            const TEchoResult r = socket->SendEcho(loopback, data, 2000, -1);
            const auto t1 = std::chrono::steady_clock::now();
            if (r.Status != 0) {
                state.SkipWithError("an echo to 127.0.0.1 failed");
                return;
            }
            callUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            kernelUs.push_back(static_cast<double>(r.RoundTripNs) / 1000);
            if (paced) {
                const timespec pace{0, PaceNs};
                ::nanosleep(&pace, nullptr);
            }
        }
        ::getrusage(RUSAGE_THREAD, &after);
    }
    const TPingRun ping = RunPing(size, paced);
    if (!ping.Ok) {
        state.SkipWithError("iputils ping could not be run");
        return;
    }
    double kernelSum = 0;
    for (double t : kernelUs) kernelSum += t;
    const double kernelMean = kernelSum / static_cast<double>(kernelUs.size());
    const double ourCpu = (CpuUs(after) - CpuUs(before)) / Exchanges;
    const double pingCpu = ping.CpuUs / Exchanges;
    // The whole call, as the probe times it with the counter.
    state.counters["call_median_us"] = Median(callUs);
    // Send to kernel receive stamp, as ping measures it.
    state.counters["rtt_median_us"] = Median(kernelUs);
    state.counters["rtt_mean_us"] = kernelMean;
    state.counters["ping_avg_us"] = ping.AvgUs;
    state.counters["rtt_ratio"] = kernelMean / ping.AvgUs;
    if (!ping.TimesUs.empty()) {
        state.counters["ping_median_us"] = Median(ping.TimesUs);
        state.counters["median_ratio"] = Median(kernelUs) / Median(ping.TimesUs);
    }
    state.counters["cpu_us"] = ourCpu;
    state.counters["ping_cpu_us"] = pingCpu;
    state.counters["cpu_ratio"] = pingCpu > 0 ? ourCpu / pingCpu : 0;
}
BENCHMARK(BM_EchoBesidePing)
    ->ArgsProduct({{1024, 16384, 64512}, {1, 0}})
    ->ArgNames({"size", "paced"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The probe's timed section beside another pinger on the machine that sends
// back to back: without its kernel filter a raw socket is handed that
// pinger's replies too. Counters: the median and 90th percentile of the call
// the probe times, this thread's CPU per exchange (discarding included) and
// the packets discarded before each exchange.
void BM_EchoBesideBusyPinger(benchmark::State& state) {
    auto socket = OpenEchoSocket();
    auto other = OpenEchoSocket();
    if (!socket || !other) {
        state.SkipWithError("no ICMP socket can be opened (needs ping sockets or CAP_NET_RAW)");
        return;
    }
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        const std::vector<std::uint8_t> data(64, 0x33);
        while (!stop) other->SendEcho(loopback, data, 200, -1);
    });
    const std::vector<std::uint8_t> data(1024, 0x5A);
    std::vector<double> callUs;
    double discarded = 0;
    rusage before{}, after{};
    for (auto _ : state) {
        callUs.clear();
        ::getrusage(RUSAGE_THREAD, &before);
        for (int i = 0; i < Exchanges; ++i) {
            const timespec pace{0, PaceNs};
            ::nanosleep(&pace, nullptr);
            discarded += socket->DiscardQueued();
            const auto t0 = std::chrono::steady_clock::now();
            const TEchoResult r = socket->SendEcho(loopback, data, 2000, -1);
            const auto t1 = std::chrono::steady_clock::now();
            if (r.Status != 0) {
                stop = true;
                busy.join();
                state.SkipWithError("an echo to 127.0.0.1 failed");
                return;
            }
            callUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        ::getrusage(RUSAGE_THREAD, &after);
    }
    stop = true;
    busy.join();
    std::sort(callUs.begin(), callUs.end());
    state.counters["call_median_us"] = Median(callUs);
    state.counters["call_p90_us"] = callUs[callUs.size() * 9 / 10];
    state.counters["cpu_us"] = (CpuUs(after) - CpuUs(before)) / Exchanges;
    // Packets found queued before each exchange (late or foreign).
    state.counters["discarded_per_exchange"] = discarded / Exchanges;
}
BENCHMARK(BM_EchoBesideBusyPinger)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
