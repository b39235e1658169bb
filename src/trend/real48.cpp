// Conversion between doubles and the 6-byte reals of the trend records.
#include "trend/real48.h"

#include <cmath>

namespace tarvik {
namespace {
constexpr int kBias = 129;
constexpr int kFractionBits = 39;
constexpr std::uint64_t kFractionMask = (std::uint64_t{1} << kFractionBits) - 1;

TReal48 Pack(int exponent, std::uint64_t fraction, bool negative) {
    TReal48 out{};
    out[0] = static_cast<std::uint8_t>(exponent);
    for (int i = 0; i < 5; ++i) {
        out[1 + i] = static_cast<std::uint8_t>(fraction >> (8 * i));
    }
    out[5] = static_cast<std::uint8_t>((out[5] & 0x7F) | (negative ? 0x80 : 0));
    return out;
}
}  // namespace

TReal48 EncodeReal48(double value) {
    if (std::isnan(value) || value == 0) {
        return TReal48{};
    }
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        return Pack(255, kFractionMask, negative);
    }
    // magnitude = m * 2^e with m in [0.5, 1); as an integer the 53-bit
    // significand is m * 2^53, and 1.m * 2^(e-1) is the format's reading.
    int e = 0;
    const double m = std::frexp(magnitude, &e);
    auto significand = static_cast<std::uint64_t>(std::ldexp(m, 53));
    // Keep 40 of the 53 bits; adding half of the dropped weight before the
    // shift rounds halves away from zero since we work on the magnitude.
    significand = (significand + (std::uint64_t{1} << 12)) >> 13;
    int exponent = e - 1 + kBias;
    if (significand == (std::uint64_t{1} << 40)) {
        significand >>= 1;
        ++exponent;
    }
    if (exponent < 1) {
        return TReal48{};
    }
    if (exponent > 255) {
        return Pack(255, kFractionMask, negative);
    }
    return Pack(exponent, significand & kFractionMask, negative);
}

double DecodeReal48(std::span<const std::uint8_t, 6> bytes) {
    const int exponent = bytes[0];
    if (exponent == 0) {
        return 0.0;
    }
    std::uint64_t fraction = 0;
    for (int i = 4; i >= 0; --i) {
        fraction = (fraction << 8) | bytes[1 + i];
    }
    fraction &= kFractionMask;
    const double significand = 1.0 + std::ldexp(static_cast<double>(fraction), -kFractionBits);
    const double magnitude = std::ldexp(significand, exponent - kBias);
    return (bytes[5] & 0x80) ? -magnitude : magnitude;
}

}  // namespace tarvik
