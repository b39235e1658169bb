// The drive probe beside dd on the same file system and block size: the
// probe's write speed (data synced) against dd with oflag=dsync, its read
// speed (cache dropped) against dd with iflag=direct, as ratios from one run;
// also against dd overwriting its file in place, as the probe does.
// The test directory is made in the current directory: run the program from
// the file system to be measured.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/vfs.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/transfer_probe.h"

namespace tarvik {
namespace {

constexpr int Cycles = HistorySize;

const char* FileSystemName(const std::string& path) {
    struct statfs st {};
    if (::statfs(path.c_str(), &st) != 0) return "unknown";
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0xEF53:
            return "ext4";
        case 0x01021994:
            return "tmpfs";
        case 0x9123683E:
            return "btrfs";
        case 0x58465342:
            return "xfs";
        case 0x794C7630:
            return "overlayfs";
        case 0x6969:
            return "nfs";
        case 0xFF534D42:
            return "cifs";
        case 0xFE534D42:
            return "smb2";
        default:
            return "other";
    }
}

struct TScratchDir {
    TScratchDir() {
        std::string pattern = (std::filesystem::current_path() / "tarvik-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data())) Path = pattern;
    }
    ~TScratchDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

// Runs dd and returns its speed in KBps from the "N bytes ... copied, T s"
// line it prints on stderr; 0 when it cannot be read.
double DdSpeed(const std::string& args) {
    const std::string command = "LC_ALL=C dd " + args + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return 0;
    char line[512];
    double speed = 0;
    while (std::fgets(line, sizeof line, pipe.get())) {
        long long bytes = 0;
        const std::string text = line;
        const auto copied = text.find("copied, ");
        if (copied == std::string::npos || std::sscanf(line, "%lld bytes", &bytes) != 1) continue;
        const double seconds = std::strtod(text.c_str() + copied + 8, nullptr);
        if (seconds > 0) speed = static_cast<double>(bytes) / 1024.0 / seconds;
    }
    return speed;
}

struct TProbeSpeeds {
    double Write = 0, Read = 0;
};

// Lets the drive probe measure one directory for Cycles back-to-back cycles
// with a fixed block size and averages its samples.
TProbeSpeeds ProbeSpeeds(const std::string& dir, int block) {
    TResourceTable table;
    auto ctx = std::make_shared<TEngineContext>();
    ctx->Table = &table;
    ctx->ApplyOsPriority = false;
    ctx->Probes = [](char kind, TPingThread&) { return MakeTransferProbe(kind); };
    const int r = table.AddRow();
    table.SetCell(colAddress, r, dir);
    table.SetCell(colKind, r, "1");
    table.SetCell(colInterval, r, "0");
    table.SetCell(colAutoSize, r, "0");
    table.SetCell(colTestSize, r, std::to_string(block));
    auto t = TPingThread::Create(r, ctx);
    t->LoadSettings();
    t->Resume();
    while (t->CycleCount() < static_cast<std::uint64_t>(Cycles) && !t->Halted)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t->Suspend();
    t->WaitUntilParked(10000);
    const TResultsSnapshot s = t->Results();
    t->Destroy(2000);
    TProbeSpeeds speeds;
    for (int i = 1; i <= HistorySize; ++i) {
        speeds.Write += s.WriteHistory[i] / HistorySize;
        speeds.Read += s.ReadHistory[i] / HistorySize;
    }
    return speeds;
}

void BM_DriveProbeAgainstDd(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    TScratchDir dir;
    if (dir.Path.empty()) {
        state.SkipWithError("cannot create a directory here");
        return;
    }
    const std::string file = dir.Path + "/dd.bin";
    const std::string size = " bs=" + std::to_string(block) + " count=" + std::to_string(Cycles);
    TProbeSpeeds probe;
    double ddWrite = 0, ddRead = 0, ddRewrite = 0;
    for (auto _ : state) {
        probe = ProbeSpeeds(dir.Path, block);
        ddWrite = DdSpeed("if=/dev/zero of='" + file + "'" + size + " oflag=dsync");
        ddRead =
            DdSpeed("if='" + file + "' of=/dev/null bs=" + std::to_string(block) + " iflag=direct");
        // The probe overwrites blocks of a file whose size no longer changes;
        // dd over its own file without truncating is that case.
        ddRewrite = DdSpeed("if=/dev/zero of='" + file + "'" + size + " oflag=dsync conv=notrunc");
    }
    state.counters["probe_write_KBps"] = probe.Write;
    state.counters["dd_write_KBps"] = ddWrite;
    state.counters["write_ratio"] = ddWrite > 0 ? probe.Write / ddWrite : 0;
    state.counters["dd_rewrite_KBps"] = ddRewrite;
    state.counters["rewrite_ratio"] = ddRewrite > 0 ? probe.Write / ddRewrite : 0;
    state.counters["probe_read_KBps"] = probe.Read;
    state.counters["dd_read_KBps"] = ddRead;
    state.counters["read_ratio"] = ddRead > 0 ? probe.Read / ddRead : 0;
    state.SetLabel(FileSystemName(dir.Path));
}
BENCHMARK(BM_DriveProbeAgainstDd)
    ->Arg(64 * 1024)
    ->Arg(512 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
