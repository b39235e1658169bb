// The trend chart's reads over a year of history: 96 quarter-hour lookups for
// each of 100 resources, through the trend file's stamp index, against a
// linear scan of a list of every index entry with one read per record.
// The year (3.5 million records, about 1 GB) is generated once into a
// temporary directory and removed at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "trend/trend_day.h"
#include "trend/trend_file.h"
#include "trend_year.h"

namespace {

using namespace tarvik;

using namespace tarvik::bench;

// The list lookup for comparison: every index entry in file order, the
// first entry with an equal stamp found by a linear scan, then one read per
// record while the stamp stays the same. `cap` keeps only the newest entries.
class TLinearIndex {
  public:
    TLinearIndex(const TYearFiles& files, std::size_t cap) {
        Fd_ = ::open(files.Data.c_str(), O_RDONLY | O_CLOEXEC);
        std::ifstream in(files.Index, std::ios::binary);
        std::uint8_t e[kTrendIndexEntrySize];
        while (in.read(reinterpret_cast<char*>(e), sizeof e)) {
            TEntry entry;
            std::memcpy(&entry.Time, e, 8);
            std::memcpy(&entry.Offset, e + 8, 4);
            Entries_.push_back(entry);
        }
        if (Entries_.size() > cap) {
            Entries_.erase(Entries_.begin(), Entries_.end() - static_cast<std::ptrdiff_t>(cap));
        }
        Entries_.shrink_to_fit();
    }
    ~TLinearIndex() { ::close(Fd_); }

    bool Find(const std::string& key, double stamp, TTrendRecord& out) const {
        const TEntry* first = nullptr;
        for (const TEntry& e : Entries_) {
            if (e.Time == stamp) {
                first = &e;
                break;
            }
        }
        if (first == nullptr) {
            return false;
        }
        TTrendRecordBytes rec;
        for (off_t pos = first->Offset;; pos += kTrendRecordSize) {
            if (::pread(Fd_, rec.data(), rec.size(), pos) != static_cast<ssize_t>(rec.size())) {
                return false;
            }
            const TTrendRecord r = DecodeTrendRecord(rec);
            if (r.Time != stamp) {
                return false;
            }
            if (r.Name == key && TrendRecordIntact(rec)) {
                out = r;
                return true;
            }
        }
    }
    std::size_t MemoryBytes() const { return Entries_.capacity() * sizeof(TEntry); }

  private:
    struct TEntry {
        double Time;
        std::int32_t Offset;
    };
    int Fd_ = -1;
    std::vector<TEntry> Entries_;
};

void BM_OpenYear(benchmark::State& state) {
    const TYearFiles& files = Year();
    const TNoClock clock;
    for (auto _ : state) {
        TTrendFile file(files.Data, files.Index, clock);
        benchmark::DoNotOptimize(file.IndexedStamps());
    }
    state.counters["records"] = static_cast<double>(files.Records);
}
BENCHMARK(BM_OpenYear)->Unit(benchmark::kMillisecond);

// Opening the year with its index lost: the index is rebuilt from the data
// and written back. The rebuilt index is the one the year had.
void BM_OpenYearRebuildingTheIndex(benchmark::State& state) {
    const TYearFiles& files = Year();
    const TNoClock clock;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::resize_file(files.Index, 0);
        state.ResumeTiming();
        TTrendFile file(files.Data, files.Index, clock);
        if (!file.IndexRebuilt()) {
            state.SkipWithError("the index was not rebuilt");
        }
        benchmark::DoNotOptimize(file.IndexedStamps());
    }
    state.counters["records"] = static_cast<double>(files.Records);
}
BENCHMARK(BM_OpenYearRebuildingTheIndex)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_DayOf100Resources_StampIndex(benchmark::State& state) {
    const TYearFiles& files = Year();
    const TNoClock clock;
    const TTrendFile file(files.Data, files.Index, clock);
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (int r = 0; r < kResources; ++r) {
            const auto day = file.ReadDay(ResourceName(r), kShownDay);
            for (const TTrendDaySlot& slot : day) {
                found += slot.Found;
            }
        }
    }
    state.counters["found"] = found;
    state.counters["stamps"] = static_cast<double>(file.IndexedStamps());
    state.counters["index_bytes"] = static_cast<double>(file.IndexMemoryBytes());
}
BENCHMARK(BM_DayOf100Resources_StampIndex)->Unit(benchmark::kMillisecond);

// Arg 0: every entry kept; otherwise the number of newest entries kept.
void BM_DayOf100Resources_LinearScan(benchmark::State& state) {
    const TYearFiles& files = Year();
    const auto cap = state.range(0) == 0 ? SIZE_MAX : static_cast<std::size_t>(state.range(0));
    const TLinearIndex index(files, cap);
    int found = 0;
    for (auto _ : state) {
        found = 0;
        TTrendRecord out;
        for (int r = 0; r < kResources; ++r) {
            const std::string key = TrendName(ResourceName(r));
            for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
                found += index.Find(key, RoundTrendStamp(TrendSlotStamp(kShownDay, p)), out);
            }
        }
    }
    state.counters["found"] = found;
    state.counters["index_bytes"] = static_cast<double>(index.MemoryBytes());
}
BENCHMARK(BM_DayOf100Resources_LinearScan)
    ->Arg(65000)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The day reader: every resource's 96 slots with one read per stretch of
// consecutive records.
void BM_DayOf100Resources_DayReader(benchmark::State& state) {
    const TYearFiles& files = Year();
    const TNoClock clock;
    const TTrendFile file(files.Data, files.Index, clock);
    std::vector<std::string> names;
    for (int r = 0; r < kResources; ++r) names.push_back(ResourceName(r));
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const TTrendDay& day : ReadTrendDay(file, names, kShownDay))
            for (const TTrendDaySlot& slot : day) found += slot.Found;
    }
    state.counters["found"] = found;
}
BENCHMARK(BM_DayOf100Resources_DayReader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
