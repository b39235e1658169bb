#include "trend/link_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvik {
namespace {

const std::array<double, kRttBucketBounds>& Bounds() {
    static const std::array<double, kRttBucketBounds> bounds = [] {
        std::array<double, kRttBucketBounds> b{};
        for (std::size_t k = 0; k < kRttBucketBounds; ++k)
            b[k] = std::exp2(3.0 + static_cast<double>(k) / 4.0);
        return b;
    }();
    return bounds;
}

}  // namespace

double RttBucketBoundUs(std::size_t k) { return Bounds()[std::min(k, kRttBucketBounds - 1)]; }

std::size_t RttBucketOf(double rttUs) {
    const auto& b = Bounds();
    // The first bound not below the value: buckets are closed at the top.
    return static_cast<std::size_t>(std::lower_bound(b.begin(), b.end(), rttUs) - b.begin());
}

void TLinkQuality::AddReply(double rttUs) {
    rttUs = std::max(rttUs, 0.0);
    const auto whole = static_cast<std::uint64_t>(std::llround(rttUs));
    if (Replies() == 0) {
        RttMinUs = RttMaxUs = whole;
    } else {
        RttMinUs = std::min(RttMinUs, whole);
        RttMaxUs = std::max(RttMaxUs, whole);
    }
    ++Cycles;
    RttSumUs += rttUs;
    RttSumSquaresUs += rttUs * rttUs;
    ++Buckets[RttBucketOf(rttUs)];
    if (PreviousRttUs >= 0) {
        JitterSumUs += std::fabs(rttUs - PreviousRttUs);
        ++JitterCount;
    }
    PreviousRttUs = rttUs;
}

void TLinkQuality::AddLost() {
    ++Cycles;
    ++Lost;
}

void TLinkQuality::Restart() {
    const double previous = PreviousRttUs;
    *this = TLinkQuality{};
    PreviousRttUs = previous;
}

std::optional<double> TLinkQuality::Loss() const {
    if (Cycles == 0) return std::nullopt;
    return static_cast<double>(Lost) / static_cast<double>(Cycles);
}

std::optional<double> TLinkQuality::PercentileUs(double p) const {
    const std::uint64_t n = Replies();
    if (n == 0) return std::nullopt;
    p = std::clamp(p, 0.0, 1.0);
    // Nearest rank: the ceil(p * n)-th smallest round trip, at least the first.
    const auto rank = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::ceil(p * static_cast<double>(n) - 1e-9)));
    std::uint64_t seen = 0;
    std::size_t k = 0;
    for (; k < kRttBuckets; ++k) {
        seen += Buckets[k];
        if (seen >= rank) break;
    }
    // The bucket's geometric middle, kept within the samples' own range:
    // the first and the overflow bucket have no middle, and min and max
    // are exact.
    double estimate;
    if (k == 0)
        estimate = RttBucketBoundUs(0);
    else if (k >= kRttBucketBounds)
        estimate = static_cast<double>(RttMaxUs);
    else
        estimate = RttBucketBoundUs(k - 1) * std::exp2(1.0 / 8.0);
    return std::clamp(estimate, static_cast<double>(RttMinUs), static_cast<double>(RttMaxUs));
}

std::optional<double> TLinkQuality::MeanUs() const {
    if (Replies() == 0) return std::nullopt;
    return RttSumUs / static_cast<double>(Replies());
}

std::optional<double> TLinkQuality::JitterUs() const {
    if (JitterCount == 0) return std::nullopt;
    return JitterSumUs / static_cast<double>(JitterCount);
}

TQualitySummary SummarizeQuality(const TLinkQuality& q) {
    TQualitySummary s;
    const auto put = [](float& to, std::optional<double> v, double scale) {
        if (v) to = static_cast<float>(*v * scale);
    };
    put(s.Loss, q.Loss(), 1);
    put(s.P50Ms, q.PercentileUs(0.50), 1e-3);
    put(s.P95Ms, q.PercentileUs(0.95), 1e-3);
    put(s.JitterMs, q.JitterUs(), 1e-3);
    return s;
}

std::string QualityTooltipLine(const TQualitySummary& s) {
    if (std::isnan(s.Loss)) return {};
    char buf[160];
    int n = std::snprintf(buf, sizeof buf, "loss %.1f %%", s.Loss * 100.0);
    if (!std::isnan(s.P50Ms))
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ", RTT p50 %.2f ms, p95 %.2f ms",
                           static_cast<double>(s.P50Ms), static_cast<double>(s.P95Ms));
    if (!std::isnan(s.JitterMs))
        std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ", jitter %.2f ms",
                      static_cast<double>(s.JitterMs));
    return buf;
}

}  // namespace tarvik
