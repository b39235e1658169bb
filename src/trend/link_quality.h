// Link quality of a host over a span of echo cycles: how many echoes were
// sent and lost, the spread of the round trips (minimum, maximum, sum, sum of
// squares and a histogram on fixed logarithmic buckets) and the jitter, the
// mean absolute difference of consecutive round trips. The measuring thread
// keeps one for the running quarter hour (written to the side file) and one
// since its start (served as metrics).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tarvik {

// Bucket upper bounds are 2^(3 + k/4) µs for k = 0 .. kRttBucketBounds - 1:
// 8 µs up to 2^26 µs (67.1 s), four buckets per doubling. Count k holds the
// round trips in (bound k-1, bound k]; the last count holds those above the
// last bound.
inline constexpr std::size_t kRttBucketBounds = 93;
inline constexpr std::size_t kRttBuckets = kRttBucketBounds + 1;
// A percentile read from the buckets lies within this factor (either way) of
// the exact nearest-rank percentile of the samples: half a bucket on the
// logarithmic scale, 2^(1/8), so the relative error is below 9.1 %.
inline constexpr double kRttPercentileFactor = 1.0905077326652577;

// Upper bound of bucket k (k < kRttBucketBounds), in microseconds.
double RttBucketBoundUs(std::size_t k);
// The bucket a round trip of rttUs microseconds falls in.
std::size_t RttBucketOf(double rttUs);

struct TLinkQuality {
    std::uint64_t Cycles = 0;  // echoes sent
    std::uint64_t Lost = 0;    // cycles without a valid reply
    std::uint64_t RttMinUs = 0, RttMaxUs = 0;  // of the valid replies; 0 without one
    double RttSumUs = 0;
    double RttSumSquaresUs = 0;
    std::array<std::uint64_t, kRttBuckets> Buckets{};
    // Jitter: sum and count of |rtt - previous rtt| over consecutive valid
    // replies (a lost echo in between does not break the pair).
    double JitterSumUs = 0;
    std::uint64_t JitterCount = 0;
    // The previous valid round trip, or negative; carried into the next
    // span so that its first reply pairs with the last of this one.
    double PreviousRttUs = -1;

    // One cycle: a valid reply with its round trip, or a lost echo.
    void AddReply(double rttUs);
    void AddLost();
    // Starts a new span: everything but the previous round trip is cleared.
    void Restart();

    std::uint64_t Replies() const { return Cycles - Lost; }
    // Lost / Cycles; nullopt without cycles.
    std::optional<double> Loss() const;
    // The p-quantile (0 < p <= 1) of the round trips in µs, nearest rank,
    // read from the buckets (see kRttPercentileFactor); nullopt without replies.
    std::optional<double> PercentileUs(double p) const;
    std::optional<double> MeanUs() const;
    std::optional<double> JitterUs() const;
};

// A quarter hour's figures as the trend chart's tooltip shows them; NaN
// where unknown (no quality data, no reply, fewer than two replies).
struct TQualitySummary {
    static constexpr float Unknown = std::numeric_limits<float>::quiet_NaN();
    float Loss = Unknown;  // fraction 0..1
    float P50Ms = Unknown, P95Ms = Unknown, JitterMs = Unknown;
};
TQualitySummary SummarizeQuality(const TLinkQuality& quality);
// The quality line of the tooltip, "loss 2.1 %, RTT p50 0.41 ms, p95 1.20 ms,
// jitter 0.05 ms", leaving out what is unknown; empty without quality data.
std::string QualityTooltipLine(const TQualitySummary& summary);
// Summaries of a day's quarter hours, index 1..96 (0 unused).
using TDayQuality = std::array<TQualitySummary, 97>;

}  // namespace tarvik
