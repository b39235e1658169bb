// One year of trend history for the benchmarks: 100 resources, a record of
// each every quarter hour (3.5 million records, about 1 GB), generated once
// into a temporary directory and removed at exit.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "trend/trend_file.h"

namespace tarvik::bench {

constexpr int kResources = 100;
constexpr int kDays = 365;
constexpr int kFirstDay = 46023;  // 2026-01-01
// A day in the middle of the year: what the chart shows.
constexpr int kShownDay = kFirstDay + 182;

inline std::string ResourceName(int r) {
    return "\\\\filer" + std::to_string(r) + "\\share\\speed";
}

class TNoClock final : public IClock {
  public:
    std::uint64_t TickMs() const override { return 0; }
    std::int64_t Counter() const override { return 0; }
    std::int64_t CounterFrequency() const override { return 0; }
    TLocalTime LocalNow() const override { return {}; }
    void SleepMs(std::uint32_t) const override {}
};

// One year of quarter hours, each with a record of every resource, written
// in flush order as the program writes them.
class TYearFiles {
  public:
    TYearFiles() {
        std::string tmpl = "/tmp/tarvik_trend_bench_XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::abort();
        }
        Dir = tmpl;
        Data = Dir + "/KOR_VEL.D";
        Index = Dir + "/KOR_VEL.ND";
        std::ofstream data(Data, std::ios::binary);
        std::ofstream index(Index, std::ios::binary);
        const std::vector<char> header(kTrendHeaderSize, 0);
        data.write(header.data(), static_cast<std::streamsize>(header.size()));
        std::int64_t offset = kTrendHeaderSize;
        std::vector<std::string> names;
        for (int r = 0; r < kResources; ++r) {
            names.push_back(ResourceName(r));
        }
        std::vector<char> dataBuf;
        std::vector<char> indexBuf;
        for (int q = 1; q <= kDays * kTrendSlotsPerDay; ++q) {
            const double stamp = RoundTrendStamp(kFirstDay + q / double{kTrendSlotsPerDay});
            for (int r = 0; r < kResources; ++r) {
                TTrendRecord rec;
                rec.Name = names[static_cast<std::size_t>(r)];
                rec.Read = 1000.0 + r + q % 97;
                rec.Write = 500.0 + r;
                rec.Time = stamp;
                const auto bytes = EncodeTrendRecord(rec);
                const auto entry = EncodeTrendIndexEntry(stamp, static_cast<std::int32_t>(offset));
                dataBuf.insert(dataBuf.end(), bytes.begin(), bytes.end());
                indexBuf.insert(indexBuf.end(), entry.begin(), entry.end());
                offset += kTrendRecordSize;
                ++Records;
            }
            if (dataBuf.size() > (32 << 20)) {
                Flush(data, dataBuf);
                Flush(index, indexBuf);
            }
        }
        Flush(data, dataBuf);
        Flush(index, indexBuf);
    }
    ~TYearFiles() { std::filesystem::remove_all(Dir); }

    std::string Dir, Data, Index;
    std::int64_t Records = 0;

  private:
    static void Flush(std::ofstream& out, std::vector<char>& buf) {
        out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        buf.clear();
    }
};

inline const TYearFiles& Year() {
    static const TYearFiles files;
    return files;
}

}  // namespace tarvik::bench
