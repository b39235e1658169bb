#include "setup/preferences.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(FontSample, SixCharactersOfTheCharacterSet) {
    EXPECT_EQ(FontSampleText(1), "ABCabcÀÁÂàáâ");    // the default set reads as Western
    EXPECT_EQ(FontSampleText(0), "ABCabcÀÁÂàáâ");    // ANSI
    EXPECT_EQ(FontSampleText(204), "ABCabcАБВабв");  // Cyrillic
    EXPECT_EQ(FontSampleText(238), "ABCabcŔÁÂŕáâ");  // Central European
    EXPECT_EQ(FontSampleText(161), "ABCabcΐΑΒΰαβ");  // Greek
    EXPECT_EQ(FontSampleText(128), "ABCabcÀÁÂàáâ");  // a multi-byte set: Western
}

}  // namespace
}  // namespace tarvik
