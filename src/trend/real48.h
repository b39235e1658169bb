// The 6-byte real of the trend records: exponent byte with bias 129, 39-bit
// fraction with a hidden leading 1, sign in the top bit of the last byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarvik {

using TReal48 = std::array<std::uint8_t, 6>;

// The largest finite magnitude: 2^126 * (2 - 2^-39), about 1.7e38.
inline constexpr double kReal48Max = 0x1.FFFFFFFFFEp126;
// The smallest non-zero magnitude: 2^-128.
inline constexpr double kReal48Min = 0x1p-128;

// Rounds to 40 significant bits, halves away from zero. Magnitudes that round
// below 2^-128 become 0 (the format has no subnormals); magnitudes above the
// largest one, infinities included, saturate to +-kReal48Max so that a stored
// speed never turns into something else. NaN is stored as 0.
TReal48 EncodeReal48(double value);

// Every bit pattern decodes to a finite double; an exponent byte of 0 is 0.
double DecodeReal48(std::span<const std::uint8_t, 6> bytes);

}  // namespace tarvik
