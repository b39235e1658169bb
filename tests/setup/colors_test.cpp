#include "setup/colors.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(Colors, ToString) {
    const std::pair<TColor, const char*> cases[] = {
        {0x000000, "clBlack"},     {0x00FF00, "clLime"},        {0xFFFFFF, "clWhite"},
        {0x80000012, "clBtnText"}, {0x80000000, "clScrollBar"}, {0x80000018, "clInfoBk"},
        {0x1FFFFFFF, "clNone"},    {0x00123456, "$00123456"},   {0x80000019, "$80000019"},
        {0xFFFFFFFF, "$FFFFFFFF"}, {0x00C0DCC0, "$00C0DCC0"},
    };
    for (const auto& [color, text] : cases) EXPECT_EQ(ColorToString(color), text) << text;
}

TEST(Colors, FromString) {
    const std::pair<const char*, std::optional<TColor>> cases[] = {
        {"clRed", 0x0000FF},
        {"CLRED", 0x0000FF},
        {"clBtnText", 0x80000012},
        {"cl3DDkShadow", 0x80000015},
        {"$00123456", 0x00123456},
        {"$ff", 0xFF},
        {"0x80000012", 0x80000012},
        {"255", 255},
        {"-2147483630", 0x80000012},  // a system colour as signed decimal
        {"4294967295", 0xFFFFFFFF},
        {"", std::nullopt},
        {"clNoSuchColour", std::nullopt},
        {"12abc", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"$100000000", std::nullopt},
        {"--5", std::nullopt},
        {"1.5", std::nullopt},
    };
    for (const auto& [text, color] : cases) EXPECT_EQ(ColorFromString(text), color) << text;
}

TEST(Colors, RoundTrip) {
    for (TColor c : {0x0u, 0x000080u, 0x80000005u, 0x1FFFFFFFu, 0x00ABCDEFu, 0x7FFFFFFFu})
        EXPECT_EQ(ColorFromString(ColorToString(c)), c);
}

}  // namespace
}  // namespace tarvik
