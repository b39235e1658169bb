// Colour values and their text form in the configuration: an identifier of the
// standard colour table ("clBlack", "clBtnText") or "$" and eight hex digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// 0x00BBGGRR for an RGB colour; system colours are 0x80000000 + index.
using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBtnText = 0x80000012;
inline constexpr TColor clNone = 0x1FFFFFFF;

// Integer text as the configuration stores it: an optional sign, then
// decimal digits, "$" and hex digits, or "0x"/"0X" and hex digits (longer than
// two characters), and nothing else. The magnitude is at most 64 bits.
struct TIntegerText {
    bool Negative = false;
    bool Hex = false;
    std::uint64_t Magnitude = 0;
};
std::optional<TIntegerText> ParseIntegerText(std::string_view text);

// The identifier when the colour has one, else "$" + eight upper-case hex digits.
std::string ColorToString(TColor color);

// Accepts an identifier (any letter case), or integer text: decimal with an
// optional sign, "$" hex or "0x" hex. Anything else gives nullopt, so that
// the caller keeps the colour it has.
std::optional<TColor> ColorFromString(std::string_view text);

}  // namespace tarvik
