// The headless companion under a fleet-sized load: `tarvik-cli measure`
// with 1000 loopback hosts at a 1 s interval, run as its own process.
//   BM_Companion1000Hosts: CPU share of one core and resident memory over a
//     measured stretch after a warm-up (TARVIK_BENCH_SECONDS, default 60);
//   BM_MetricsPage1000: one GET /metrics answer for those 1000 resources.
// The program is found beside this benchmark's build tree (bin/tarvik-cli).
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// The whole answer of one GET, or empty when the server does not answer.
std::string Get(int port, const char* path) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string out;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string req = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        if (::write(s, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
            char buf[65536];
            for (ssize_t n; (n = ::read(s, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(s);
    return out;
}

struct TProcStat {
    double CpuSeconds = 0;
    double RssMb = 0;
};

TProcStat Stat(pid_t pid) {
    TProcStat r;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream in(all.substr(all.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    r.CpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) r.RssMb = std::stod(line.substr(6)) / 1024.0;
    return r;
}

class TCompanion {
public:
    explicit TCompanion(int hosts) {
        char tmpl[] = "/tmp/tarvik-bench.XXXXXX";
        Dir = ::mkdtemp(tmpl);
        std::ofstream ini(Dir / "QUORBELT.INI");
        ini << "[Main]\nSign=Network speed\n[Objects]\nNumber=" << hosts << "\n";
        for (int r = 1; r <= hosts; ++r) {
            // 127.0.a.b: every host its own loopback address.
            const std::string key = r <= 10 ? "Object" + std::to_string(r) : "Object" + std::to_string(r) + "_";
            ini << key << "1=127.0." << (r / 250) << "." << (r % 250 + 1) << "\n"
                << key << "5=3\n" << key << "8=1000\n" << key << "9=0\n" << key << "10=1024\n" << key << "11=1000\n";
        }
        ini << "[Trend]\nEnabled=0\n";
        ini.close();
        Port = FreePort();
        const fs::path cli = fs::path(TARVIK_BINARY_DIR) / "bin" / "tarvik-cli";
        Pid = ::fork();
        if (Pid == 0) {
            const std::string listen = "127.0.0.1:" + std::to_string(Port);
            if (!std::freopen("/dev/null", "w", stdout)) std::_Exit(126);
            ::execl(cli.c_str(), "tarvik-cli", "--dir", Dir.c_str(), "measure", "--listen", listen.c_str(),
                    "--no-trend", static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        for (int i = 0; i < 200 && Get(Port, "/metrics").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~TCompanion() {
        ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
        fs::remove_all(Dir);
    }
    fs::path Dir;
    int Port = 0;
    pid_t Pid = -1;
};

int BenchSeconds() {
    const char* s = std::getenv("TARVIK_BENCH_SECONDS");
    return s ? std::max(1, std::atoi(s)) : 60;
}

void BM_Companion1000Hosts(benchmark::State& state) {
    TCompanion companion(1000);
    std::this_thread::sleep_for(std::chrono::seconds(5));  // every row up and measuring
    const int seconds = BenchSeconds();
    for (auto _ : state) {
        const TProcStat before = Stat(companion.Pid);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const TProcStat after = Stat(companion.Pid);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * (after.CpuSeconds - before.CpuSeconds) / wall;
        state.counters["rss_MB"] = after.RssMb;
    }
    const std::string page = Get(companion.Port, "/metrics");
    std::size_t measured = 0;
    for (std::size_t p = 0; (p = page.find("tarvik_probe_up{", p)) != std::string::npos; ++p)
        if (page.compare(page.find('}', p) + 1, 3, " 1\n") == 0) ++measured;
    state.counters["hosts_measured"] = static_cast<double>(measured);
}
BENCHMARK(BM_Companion1000Hosts)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_MetricsPage1000(benchmark::State& state) {
    TCompanion companion(1000);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::size_t bytes = 0;
    for (auto _ : state) bytes = Get(companion.Port, "/metrics").size();
    state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsPage1000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
