// The link-quality accumulator: bucket edges, percentile error against exact
// percentiles, loss and jitter over scripted echo sequences.
#include "trend/link_quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

namespace tarvik {
namespace {

TEST(LinkQuality, BucketEdgesAreClosedAtTheTop) {
    const struct {
        double Us;
        std::size_t Bucket;
    } cases[] = {
        {0, 0},           {8, 0},           {8.0001, 1},        {std::exp2(3.25), 1}, {9.6, 2},
        {16, 4},          {16.01, 5},       {1000, 28},         {4096, 36},           {4096.5, 37},
        {67108864, 92},   {67108865, 93},   {1e12, 93},
    };
    for (const auto& c : cases) EXPECT_EQ(RttBucketOf(c.Us), c.Bucket) << c.Us;
    // Four buckets per doubling, the bounds strictly rising.
    EXPECT_DOUBLE_EQ(RttBucketBoundUs(0), 8);
    EXPECT_DOUBLE_EQ(RttBucketBoundUs(4), 16);
    EXPECT_DOUBLE_EQ(RttBucketBoundUs(kRttBucketBounds - 1), 67108864);
    for (std::size_t k = 1; k < kRttBucketBounds; ++k)
        EXPECT_NEAR(RttBucketBoundUs(k) / RttBucketBoundUs(k - 1), std::exp2(0.25), 1e-12);
}

double ExactPercentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::max(1.0, std::ceil(p * static_cast<double>(v.size()) - 1e-9)));
    return v[rank - 1];
}

TEST(LinkQuality, PercentilesStayWithinTheStatedFactor) {
    std::mt19937 gen(7);
    const struct {
        const char* Name;
        std::vector<double> Samples;
    } sets[] = {
        {"one sample", {412.7}},
        {"two far apart", {50, 50000}},
        {"same value", std::vector<double>(100, 5000)},
        {"on bucket bounds", {8, 16, 32, 64, 128, 256, 512, 1024}},
        {"uniform 3..7 ms",
         [&] {
             std::vector<double> v;
             std::uniform_real_distribution<double> d(3000, 7000);
             for (int i = 0; i < 500; ++i) v.push_back(d(gen));
             return v;
         }()},
        {"lognormal around 400 us",
         [&] {
             std::vector<double> v;
             std::lognormal_distribution<double> d(std::log(400.0), 1.0);
             for (int i = 0; i < 2000; ++i) v.push_back(d(gen));
             return v;
         }()},
    };
    for (const auto& s : sets) {
        TLinkQuality q;
        for (const double us : s.Samples) q.AddReply(us);
        for (const double p : {0.01, 0.5, 0.95, 0.99, 1.0}) {
            const double exact = ExactPercentile(s.Samples, p);
            const std::optional<double> got = q.PercentileUs(p);
            ASSERT_TRUE(got) << s.Name;
            // Min and max are kept in whole µs: half a µs of slack.
            EXPECT_LE(*got, exact * kRttPercentileFactor + 0.5) << s.Name << " p" << p;
            EXPECT_GE(*got, exact / kRttPercentileFactor - 0.5) << s.Name << " p" << p;
        }
    }
}

// Sequences of echoes: a positive value is a reply's round trip in µs,
// 0 a lost echo.
TEST(LinkQuality, LossAndJitterOverScriptedSequences) {
    const struct {
        const char* Name;
        std::vector<double> Echoes;
        std::optional<double> Loss, JitterUs, P50Us;
    } cases[] = {
        {"none sent", {}, std::nullopt, std::nullopt, std::nullopt},
        {"all lost", {0, 0, 0, 0}, 1.0, std::nullopt, std::nullopt},
        {"none lost, steady", {1000, 1000, 1000}, 0.0, 0.0, 1000},
        {"none lost, swinging", {1000, 3000, 1000, 3000}, 0.0, 2000, 1000},
        // A lost echo does not break the pair around it.
        {"alternating", {1000, 0, 2000, 0, 1000, 0}, 0.5, 1000, 1000},
        {"one reply among losses", {0, 0, 700, 0}, 0.75, std::nullopt, 700},
    };
    for (const auto& c : cases) {
        TLinkQuality q;
        for (const double e : c.Echoes) e > 0 ? q.AddReply(e) : q.AddLost();
        EXPECT_EQ(q.Cycles, c.Echoes.size()) << c.Name;
        EXPECT_EQ(q.Loss(), c.Loss) << c.Name;
        EXPECT_EQ(q.JitterUs(), c.JitterUs) << c.Name;
        const auto p50 = q.PercentileUs(0.5);
        ASSERT_EQ(p50.has_value(), c.P50Us.has_value()) << c.Name;
        if (p50) {
            EXPECT_NEAR(*p50, *c.P50Us, *c.P50Us * (kRttPercentileFactor - 1)) << c.Name;
        }
    }
}

TEST(LinkQuality, RestartKeepsOnlyThePreviousRoundTripForJitter) {
    TLinkQuality q;
    q.AddReply(1000);
    q.AddLost();
    q.Restart();
    EXPECT_EQ(q.Cycles, 0u);
    EXPECT_EQ(q.Replies(), 0u);
    EXPECT_FALSE(q.PercentileUs(0.5));
    // The next quarter hour's first reply pairs with the last one before it.
    q.AddReply(1500);
    EXPECT_EQ(q.JitterUs(), 500.0);
    EXPECT_EQ(q.RttMinUs, 1500u);
    EXPECT_EQ(q.RttMaxUs, 1500u);
    EXPECT_DOUBLE_EQ(q.RttSumSquaresUs, 1500.0 * 1500.0);
}

}  // namespace
}  // namespace tarvik
