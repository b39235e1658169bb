// The drive probe beside dd on the same file system and block size: the
// probe's write speed (data synced) against dd with oflag=dsync, its read
// speed against dd with iflag=direct; also against dd overwriting its file
// in place, as the probe does. Probe and dd take turns for several rounds,
// so that a burst of other disk traffic does not decide a ratio; the
// figures are the medians of the rounds.
// BM_ReadPath times the probe's read step in several ways on the same file
// to show where a read's time goes: through the page cache with read-ahead
// (how the probe read before), without read-ahead, direct (how it reads
// now), direct with an open per cycle (as dd does), and from the cache
// (what a dishonest probe would show). Each is compared with dd and with
// dd's read step done in the same cycle (paired_ratio), which a busy
// machine disturbs far less than runs taken one after the other;
// direct_second swaps the two reads of a cycle, to show the cost of being
// the first request after the sync.
// The test directory is made in the current directory: run the program from
// the file system to be measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/transfer_probe.h"
#include "platform/file_io.h"

namespace tarvik {
namespace {

constexpr int Cycles = HistorySize;
constexpr int Rounds = 5;

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

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
    std::vector<double> probeWrite, probeRead, ddWrite, ddRead, ddRewrite, writeRatio, readRatio,
        rewriteRatio;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            const TProbeSpeeds probe = ProbeSpeeds(dir.Path, block);
            // /dev/zero: dd's source must cost nothing (ext4 and tmpfs do not
            // compress; on a compressing file system read its figure with care).
            const double w = DdSpeed("if=/dev/zero of='" + file + "'" + size + " oflag=dsync");
            const double r = DdSpeed("if='" + file + "' of=/dev/null bs=" + std::to_string(block) +
                                     " iflag=direct");
            // The probe overwrites blocks of a file whose size no longer
            // changes; dd over its own file without truncating is that case.
            const double rw =
                DdSpeed("if=/dev/zero of='" + file + "'" + size + " oflag=dsync conv=notrunc");
            probeWrite.push_back(probe.Write);
            probeRead.push_back(probe.Read);
            ddWrite.push_back(w);
            ddRead.push_back(r);
            ddRewrite.push_back(rw);
            writeRatio.push_back(Ratio(probe.Write, w));
            readRatio.push_back(Ratio(probe.Read, r));
            rewriteRatio.push_back(Ratio(probe.Write, rw));
        }
    }
    state.counters["probe_write_KBps"] = Median(probeWrite);
    state.counters["dd_write_KBps"] = Median(ddWrite);
    state.counters["write_ratio"] = Median(writeRatio);
    state.counters["dd_rewrite_KBps"] = Median(ddRewrite);
    state.counters["rewrite_ratio"] = Median(rewriteRatio);
    state.counters["probe_read_KBps"] = Median(probeRead);
    state.counters["dd_read_KBps"] = Median(ddRead);
    state.counters["read_ratio"] = Median(readRatio);
    state.counters["read_ratio_min"] = *std::min_element(readRatio.begin(), readRatio.end());
    state.SetLabel(FileSystemName(dir.Path));
}
BENCHMARK(BM_DriveProbeAgainstDd)
    ->Arg(64 * 1024)
    ->Arg(512 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

enum TReadPath : int {
    CachedReadAhead,     // buffered read, default read-ahead, cache dropped
    CachedNoReadAhead,   // buffered read, POSIX_FADV_RANDOM, cache dropped
    Direct,              // O_DIRECT on a descriptor kept open
    DirectOpenPerCycle,  // O_DIRECT, opened for each read
    PageCache,           // buffered read of cached pages: not an honest figure
    // As Direct, but dd's read step comes first in each cycle, so that the
    // probe's read is not the first request after the sync.
    DirectSecond,
};
const char* const ReadPathNames[] = {"cached_readahead", "cached_no_readahead",
                                     "direct",           "direct_open_per_cycle",
                                     "page_cache",       "direct_second"};

struct TReadPathSpeeds {
    double Variant = 0;  // the probe's read step done one way
    double Paired = 0;   // dd's read step, right after it in each cycle
};

// The probe's cycle with raw calls: write a block at the end of the last
// read and sync it (untimed here), drop the cache, time one read of the
// block from offset 0. Each cycle is followed by the step dd iflag=direct
// repeats, one direct read of the next block of a file written beforehand,
// so that both see the same moment of the machine. Mean speeds in KBps.
TReadPathSpeeds ReadPathSpeed(const std::string& path, const std::string& streamPath, int block,
                              TReadPath how) {
    TReadPathSpeeds speeds;
    const auto n = static_cast<std::size_t>(block);
    TPageBuffer buffer(n);
    const int stream = ::open(streamPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (stream < 0) return speeds;
    for (int c = 0; c < Cycles; ++c)
        if (::pwrite(stream, TransferSource() + c % 7, n, static_cast<off_t>(c) * block) < 0) break;
    ::fdatasync(stream);
    ::posix_fadvise(stream, 0, 0, POSIX_FADV_DONTNEED);
    const int streamDirect = ::open(streamPath.c_str(), O_RDONLY | O_DIRECT);

    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (how == CachedNoReadAhead) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    const int direct =
        how == Direct || how == DirectSecond ? ::open(path.c_str(), O_RDONLY | O_DIRECT) : -1;
    off_t at = 0;
    for (int c = 0; c < Cycles && fd >= 0 && streamDirect >= 0; ++c) {
        if (::pwrite(fd, TransferSource(), n, at) != static_cast<ssize_t>(n) ||
            ::fdatasync(fd) != 0)
            break;
        if (how != PageCache) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        const auto pairedStep = [&] {
            const auto start = std::chrono::steady_clock::now();
            const ssize_t streamed =
                ::pread(streamDirect, buffer.Data(), n, static_cast<off_t>(c) * block);
            const auto end = std::chrono::steady_clock::now();
            speeds.Paired += (block / 1024) / std::chrono::duration<double>(end - start).count();
            return streamed > 0;
        };
        if (how == DirectSecond && !pairedStep()) break;
        const auto start = std::chrono::steady_clock::now();
        int from = how == Direct || how == DirectSecond ? direct : fd;
        if (how == DirectOpenPerCycle) from = ::open(path.c_str(), O_RDONLY | O_DIRECT);
        const ssize_t got = ::pread(from, buffer.Data(), n, 0);
        if (how == DirectOpenPerCycle) ::close(from);
        const auto end = std::chrono::steady_clock::now();
        if (got <= 0) break;
        at = got;
        speeds.Variant += (block / 1024) / std::chrono::duration<double>(end - start).count();
        if (how != DirectSecond && !pairedStep()) break;
    }
    for (const int f : {direct, fd, streamDirect, stream})
        if (f >= 0) ::close(f);
    ::unlink(path.c_str());
    ::unlink(streamPath.c_str());
    speeds.Variant /= Cycles;
    speeds.Paired /= Cycles;
    return speeds;
}

void BM_ReadPath(benchmark::State& state) {
    const auto how = static_cast<TReadPath>(state.range(0));
    const int block = static_cast<int>(state.range(1));
    TScratchDir dir;
    if (dir.Path.empty()) {
        state.SkipWithError("cannot create a directory here");
        return;
    }
    const std::string file = dir.Path + "/read.bin";
    const std::string stream = dir.Path + "/stream.bin";
    const std::string ddFile = dir.Path + "/dd.bin";
    std::vector<double> speed, paired, pairedRatio, dd, ratio;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            const TReadPathSpeeds s = ReadPathSpeed(file, stream, block, how);
            DdSpeed("if=/dev/urandom of='" + ddFile + "' bs=" + std::to_string(block) +
                    " count=" + std::to_string(Cycles) + " conv=fdatasync");
            const double d = DdSpeed(
                "if='" + ddFile + "' of=/dev/null bs=" + std::to_string(block) + " iflag=direct");
            speed.push_back(s.Variant);
            paired.push_back(s.Paired);
            pairedRatio.push_back(Ratio(s.Variant, s.Paired));
            dd.push_back(d);
            ratio.push_back(Ratio(s.Variant, d));
        }
    }
    state.counters["read_KBps"] = Median(speed);
    state.counters["paired_direct_KBps"] = Median(paired);
    state.counters["paired_ratio"] = Median(pairedRatio);
    state.counters["dd_read_KBps"] = Median(dd);
    state.counters["dd_ratio"] = Median(ratio);
    state.SetLabel(std::string(ReadPathNames[how]) + " " + FileSystemName(dir.Path));
}
BENCHMARK(BM_ReadPath)
    ->ArgsProduct({{CachedReadAhead, CachedNoReadAhead, Direct, DirectOpenPerCycle, PageCache,
                    DirectSecond},
                   {64 * 1024, 512 * 1024}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
