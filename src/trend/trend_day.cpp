#include "trend/trend_day.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "trend/real48.h"

namespace tarvik {
namespace {

using namespace trend_layout;
// A merged stretch of runs is read in pieces of at most this size.
constexpr std::int64_t kMaxSpan = 16 << 20;
// At most this much of the data file is held for one day; records past it
// (a minute of tens of thousands of records, or a damaged index) are read
// one by one as the lookup reads them.
constexpr std::int64_t kMaxLoaded = 64 << 20;

double GetDouble(const std::uint8_t* in) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | in[i];
    return std::bit_cast<double>(v);
}

std::uint32_t GetU32(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
           std::uint32_t{in[3]} << 24;
}

// TrendChecksum of bytes 0..283, eight bytes at a time. The weight of
// position i (from 1) is i mod 256, and the sum is taken modulo 65536, so
// 16-bit lanes may wrap freely; the lanes are added up at the end.
using TU8x8 = std::uint8_t __attribute__((vector_size(8)));
using TU16x8 = std::uint16_t __attribute__((vector_size(16)));

constexpr std::size_t kChunks = kChecksumOffset / 8;  // 35 chunks, 4 bytes left

struct TWeights {
    std::array<TU16x8, kChunks> Chunk{};
    TWeights() {
        for (std::size_t k = 0; k < kChunks; ++k)
            for (std::size_t j = 0; j < 8; ++j)
                Chunk[k][j] = static_cast<std::uint16_t>((8 * k + j + 1) % 256);
    }
};

bool ChecksumRight(const std::uint8_t* rec) {
    static const TWeights weights;
    TU16x8 sum{};
    std::uint64_t x = 0;
    for (std::size_t k = 0; k < kChunks; ++k) {
        TU8x8 bytes;
        std::memcpy(&bytes, rec + 8 * k, 8);
        sum += __builtin_convertvector(bytes, TU16x8) * weights.Chunk[k];
        std::uint64_t word;
        std::memcpy(&word, rec + 8 * k, 8);
        x ^= word;
    }
    std::uint32_t s = 0;
    for (std::size_t j = 0; j < 8; ++j) s += sum[j];
    for (std::size_t i = 8 * kChunks; i < kChecksumOffset; ++i) {
        s += rec[i] * static_cast<std::uint32_t>((i + 1) % 256);
        x ^= rec[i];
    }
    x ^= x >> 32;
    x ^= x >> 16;
    x ^= x >> 8;
    return ((s & 0xFFFF) | (static_cast<std::uint32_t>(x & 0xFF) << 16)) ==
           GetU32(rec + kChecksumOffset);
}

// A stretch of the data file held in memory.
struct TSpan {
    std::int64_t Offset = 0;
    std::vector<std::uint8_t> Bytes;
};

// Hands out the record at a file offset: from a loaded stretch when it lies
// inside one, else by a read of its own (rare: a run that goes on past
// what the index names).
class TRecordSource {
  public:
    TRecordSource(const TTrendFile& file, std::vector<TSpan> spans)
        : File_(file), Spans_(std::move(spans)) {}

    const std::uint8_t* At(std::int64_t pos) {
        auto it = std::upper_bound(Spans_.begin(), Spans_.end(), pos,
                                   [](std::int64_t p, const TSpan& s) { return p < s.Offset; });
        if (it != Spans_.begin()) {
            const TSpan& s = *(it - 1);
            const std::int64_t rel = pos - s.Offset;
            if (rel + static_cast<std::int64_t>(kTrendRecordSize) <=
                static_cast<std::int64_t>(s.Bytes.size()))
                return s.Bytes.data() + rel;
        }
        return File_.ReadDataAt(Spare_.data(), Spare_.size(), pos) == Spare_.size() ? Spare_.data()
                                                                                    : nullptr;
    }

  private:
    const TTrendFile& File_;
    std::vector<TSpan> Spans_;
    TTrendRecordBytes Spare_{};
};

// The runs of all slots merged into as few stretches as their offsets
// allow, each taking one record more than its runs name (where the scan of
// the last run stops), and read.
std::vector<TSpan> LoadSpans(const TTrendFile& file, std::vector<TTrendFile::TRecordRun> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const auto& a, const auto& b) { return a.Offset < b.Offset; });
    std::vector<TSpan> spans;
    std::int64_t begin = -1, end = -1;
    std::int64_t loaded = 0;
    const auto flush = [&] {
        if (begin < 0 || loaded + (end - begin) > kMaxLoaded) return;
        loaded += end - begin;
        TSpan s;
        s.Offset = begin;
        s.Bytes.resize(static_cast<std::size_t>(end - begin));
        s.Bytes.resize(file.ReadDataAt(s.Bytes.data(), s.Bytes.size(), begin));
        spans.push_back(std::move(s));
    };
    for (const auto& run : runs) {
        const std::int64_t runEnd =
            std::max(run.End, run.Offset) + static_cast<std::int64_t>(kTrendRecordSize);
        if (begin >= 0 && run.Offset <= end && runEnd - begin <= kMaxSpan) {
            end = std::max(end, runEnd);
            continue;
        }
        flush();
        begin = run.Offset;
        end = runEnd;
    }
    flush();
    return spans;
}

struct TKey {
    std::string Name;
    std::vector<std::size_t> Targets;  // indices into the result
};

}  // namespace

std::vector<TTrendDay> ReadTrendDay(const TTrendFile& file, std::span<const std::string> names,
                                    double date) {
    std::vector<TTrendDay> out(names.size());
    if (!file.IsOpen() || names.empty()) return out;

    // The wanted names as stored, sorted for look-up; equal names share a key.
    std::vector<TKey> keys;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string name = TrendName(names[i]);
        auto it = std::lower_bound(keys.begin(), keys.end(), name,
                                   [](const TKey& k, const std::string& n) { return k.Name < n; });
        if (it == keys.end() || it->Name != name) it = keys.insert(it, TKey{std::move(name), {}});
        it->Targets.push_back(i);
    }

    struct TSlotPlan {
        bool Valid = false;
        std::int64_t Minute = 0;
        std::vector<TTrendFile::TRecordRun> Runs;
    };
    std::array<TSlotPlan, kTrendSlotsPerDay> plan;
    std::vector<TTrendFile::TRecordRun> all;
    for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
        TSlotPlan& slot = plan[static_cast<std::size_t>(p - 1)];
        const double stamp = TrendSlotStamp(date, p);
        slot.Valid = TrendStampMinute(RoundTrendStamp(stamp), slot.Minute);
        if (!slot.Valid) continue;
        slot.Runs = file.RunsAt(stamp);
        all.insert(all.end(), slot.Runs.begin(), slot.Runs.end());
    }
    TRecordSource source(file, LoadSpans(file, std::move(all)));

    std::vector<char> resolved(keys.size());
    for (std::size_t s = 0; s < plan.size(); ++s) {
        const TSlotPlan& slot = plan[s];
        if (!slot.Valid) continue;
        std::fill(resolved.begin(), resolved.end(), 0);
        std::size_t open = keys.size();
        // The scan of ReadRecord, for every name at once: each run from its
        // first record while the minute stays; the first good record of a
        // name is its answer.
        for (const auto& run : slot.Runs) {
            for (std::int64_t pos = run.Offset; open > 0;
                 pos += static_cast<std::int64_t>(kTrendRecordSize)) {
                const std::uint8_t* rec = source.At(pos);
                std::int64_t minute = 0;
                if (!rec || !TrendStampMinute(GetDouble(rec + kTimeOffset), minute) ||
                    minute != slot.Minute)
                    break;
                const std::string_view name(reinterpret_cast<const char*>(rec + 1), rec[0]);
                auto it = std::lower_bound(
                    keys.begin(), keys.end(), name,
                    [](const TKey& k, std::string_view n) { return std::string_view(k.Name) < n; });
                if (it == keys.end() || it->Name != name) continue;
                const auto k = static_cast<std::size_t>(it - keys.begin());
                if (resolved[k] || !ChecksumRight(rec)) continue;
                resolved[k] = 1;
                --open;
                const TTrendDaySlot found{
                    true, DecodeReal48(std::span<const std::uint8_t, 6>(rec + kReadOffset, 6)),
                    DecodeReal48(std::span<const std::uint8_t, 6>(rec + kWriteOffset, 6)),
                    DecodeReal48(std::span<const std::uint8_t, 6>(rec + kPingOffset, 6))};
                for (const std::size_t t : it->Targets) out[t][s] = found;
            }
        }
    }
    return out;
}

}  // namespace tarvik
