// The 6-byte real: known encodings, rounding at the 40th bit, and the ends
// of its range.
#include "trend/real48.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarvik {
namespace {

double RoundTrip(double v) { return DecodeReal48(EncodeReal48(v)); }

// Hand-computed: value = 2^(e-129) * (1 + f/2^39); bytes are e, then f in
// little-endian order over bytes 1..5 with the sign in bit 7 of byte 5.
TEST(Real48, GoldenBytes) {
    struct Case {
        double value;
        TReal48 bytes;
        bool exact = true;  // the value survives the round trip unchanged
    };
    const Case cases[] = {
        {0.0, {0, 0, 0, 0, 0, 0}},
        // 1 = 2^0: e = 129 = 0x81, f = 0.
        {1.0, {0x81, 0, 0, 0, 0, 0}},
        // 0.5 = 2^-1: e = 128.
        {0.5, {0x80, 0, 0, 0, 0, 0}},
        // 100 = 1.5625 * 2^6: e = 135 = 0x87, f = 0.5625 * 2^39 = 2^38 + 2^35,
        // which is 0x48 in byte 5.
        {100.0, {0x87, 0, 0, 0, 0, 0x48}},
        // -2.5 = -1.25 * 2^1: e = 130 = 0x82, f = 2^37 (0x20 in byte 5), sign 0x80.
        {-2.5, {0x82, 0, 0, 0, 0, 0xA0}},
        // 0.1 = 1.6 * 2^-4: e = 125 = 0x7D, f = 0.6 * 2^39 = 329853488332.8,
        // rounded up to 0x4CCCCCCCCD.
        {0.1, {0x7D, 0xCD, 0xCC, 0xCC, 0xCC, 0x4C}, false},
        // Largest: e = 255, all 39 fraction bits set.
        {kReal48Max, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
        // Smallest: 2^-128, e = 1.
        {kReal48Min, {0x01, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeReal48(c.value), c.bytes) << c.value;
        if (c.exact) {
            EXPECT_EQ(DecodeReal48(c.bytes), c.value) << c.value;
        }
    }
}

TEST(Real48, RoundsHalvesAwayFromZero) {
    const double ulp = std::ldexp(1.0, -39);  // one step of the fraction at 1.0
    const double half = ulp / 2;
    EXPECT_EQ(RoundTrip(1.0 + ulp), 1.0 + ulp);
    EXPECT_EQ(RoundTrip(1.0 + half), 1.0 + ulp);
    EXPECT_EQ(RoundTrip(-(1.0 + half)), -(1.0 + ulp));
    EXPECT_EQ(RoundTrip(std::nextafter(1.0 + half, 0.0)), 1.0);
    EXPECT_EQ(RoundTrip(1.0 + 3 * half), 1.0 + 2 * ulp);
    // Rounding up the largest fraction carries into the exponent.
    EXPECT_EQ(EncodeReal48(2.0 - half), (TReal48{0x82, 0, 0, 0, 0, 0}));
}

TEST(Real48, RangeEnds) {
    const double inf = std::numeric_limits<double>::infinity();
    // Too small for the format: no subnormals, so 0 ...
    EXPECT_EQ(EncodeReal48(std::ldexp(1.0, -129)), TReal48{});
    EXPECT_EQ(EncodeReal48(std::numeric_limits<double>::denorm_min()), TReal48{});
    EXPECT_EQ(EncodeReal48(-std::ldexp(1.0, -140)), TReal48{});
    // ... unless rounding to 40 bits lifts it to the smallest value.
    EXPECT_EQ(RoundTrip(std::nextafter(kReal48Min, 0.0)), kReal48Min);
    // Too large, infinite: saturated with the sign kept. A value just above
    // the largest rounds to 2^127, which does not fit either.
    EXPECT_EQ(RoundTrip(1e39), kReal48Max);
    EXPECT_EQ(RoundTrip(std::nextafter(kReal48Max, inf)), kReal48Max);
    EXPECT_EQ(RoundTrip(inf), kReal48Max);
    EXPECT_EQ(RoundTrip(-inf), -kReal48Max);
    EXPECT_EQ(RoundTrip(-std::numeric_limits<double>::max()), -kReal48Max);
    EXPECT_EQ(EncodeReal48(std::numeric_limits<double>::quiet_NaN()), TReal48{});
    EXPECT_EQ(EncodeReal48(-0.0), TReal48{});
}

TEST(Real48, DecodesEveryPatternToAFiniteValue) {
    // e = 0 is zero whatever the fraction and sign.
    EXPECT_EQ(DecodeReal48(TReal48{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0.0);
    EXPECT_EQ(DecodeReal48(TReal48{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), -kReal48Max);
}

TEST(Real48, RoundTripKeepsFortyBits) {
    for (double v : {3.14159265358979, 1234.5678, 65536.0 / 3, 1e-30, 9.99e37, 0.001}) {
        const double back = RoundTrip(v);
        EXPECT_LE(std::fabs(back - v), std::fabs(v) * std::ldexp(1.0, -40)) << v;
        EXPECT_EQ(RoundTrip(back), back) << v;
    }
}

}  // namespace
}  // namespace tarvik
