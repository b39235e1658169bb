#include "setup/colors.h"

#include <array>
#include <charconv>

namespace tarvik {
namespace {

struct TColorName {
    TColor Value;
    std::string_view Name;
};

constexpr TColor Sys(TColor index) { return 0x80000000u + index; }

constexpr std::array<TColorName, 42> ColorNames{{
    {0x000000, "clBlack"},        {0x000080, "clMaroon"},
    {0x008000, "clGreen"},        {0x008080, "clOlive"},
    {0x800000, "clNavy"},         {0x800080, "clPurple"},
    {0x808000, "clTeal"},         {0x808080, "clGray"},
    {0xC0C0C0, "clSilver"},       {0x0000FF, "clRed"},
    {0x00FF00, "clLime"},         {0x00FFFF, "clYellow"},
    {0xFF0000, "clBlue"},         {0xFF00FF, "clFuchsia"},
    {0xFFFF00, "clAqua"},         {0xFFFFFF, "clWhite"},
    {Sys(0), "clScrollBar"},      {Sys(1), "clBackground"},
    {Sys(2), "clActiveCaption"},  {Sys(3), "clInactiveCaption"},
    {Sys(4), "clMenu"},           {Sys(5), "clWindow"},
    {Sys(6), "clWindowFrame"},    {Sys(7), "clMenuText"},
    {Sys(8), "clWindowText"},     {Sys(9), "clCaptionText"},
    {Sys(10), "clActiveBorder"},  {Sys(11), "clInactiveBorder"},
    {Sys(12), "clAppWorkSpace"},  {Sys(13), "clHighlight"},
    {Sys(14), "clHighlightText"}, {Sys(15), "clBtnFace"},
    {Sys(16), "clBtnShadow"},     {Sys(17), "clGrayText"},
    {Sys(18), "clBtnText"},       {Sys(19), "clInactiveCaptionText"},
    {Sys(20), "clBtnHighlight"},  {Sys(21), "cl3DDkShadow"},
    {Sys(22), "cl3DLight"},       {Sys(23), "clInfoText"},
    {Sys(24), "clInfoBk"},        {clNone, "clNone"},
}};

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::string ColorToString(TColor color) {
    for (const auto& c : ColorNames)
        if (c.Value == color) return std::string(c.Name);
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string s = "$00000000";
    for (int i = 8; i >= 1; --i, color >>= 4) s[static_cast<std::size_t>(i)] = Hex[color & 0xF];
    return s;
}

std::optional<TIntegerText> ParseIntegerText(std::string_view t) {
    TIntegerText r;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        r.Negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (!t.empty() && t.front() == '$') {
        r.Hex = true;
        t.remove_prefix(1);
    } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        r.Hex = true;
        t.remove_prefix(2);
    }
    // from_chars would take a second sign; the text must be digits only.
    if (t.empty() || t.front() == '-' || t.front() == '+') return std::nullopt;
    const auto [end, ec] =
        std::from_chars(t.data(), t.data() + t.size(), r.Magnitude, r.Hex ? 16 : 10);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return r;
}

std::optional<TColor> ColorFromString(std::string_view text) {
    for (const auto& c : ColorNames)
        if (SameText(c.Name, text)) return c.Value;
    const auto n = ParseIntegerText(text);
    if (!n) return std::nullopt;
    // Hex spans the 32 bits; decimal is a signed 32-bit value as stored by the
    // colour dialogs, or its unsigned reading.
    if (n->Magnitude > (n->Negative && !n->Hex ? 0x80000000u : 0xFFFFFFFFu)) return std::nullopt;
    const auto u = static_cast<std::uint32_t>(n->Magnitude);
    return n->Negative ? static_cast<TColor>(0u - u) : u;
}

}  // namespace tarvik
