#include "platform/date_time.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"

namespace tarvik {

TEST(DateTime, KnownDays) {
    EXPECT_EQ(DaysFromCivil(1899, 12, 30), 0);
    EXPECT_EQ(DaysFromCivil(1900, 1, 1), 2);
    EXPECT_EQ(DaysFromCivil(2000, 1, 1), 36526);
    EXPECT_EQ(DaysFromCivil(2026, 12, 10), 46366);
}

TEST(DateTime, RoundTrip) {
    for (int d : {0, 1, 59, 60, 36526, 46366, 50000}) {
        int y, m, dd;
        CivilFromDays(d, y, m, dd);
        EXPECT_EQ(DaysFromCivil(y, m, dd), d);
    }
    const TLocalTime t{2026, 12, 10, 12, 15, 40, 0};
    const TLocalTime back = DecodeDateTime(EncodeDateTime(t));
    EXPECT_EQ(back.Hour, 12);
    EXPECT_EQ(back.Minute, 15);
    EXPECT_EQ(back.Second, 40);
    EXPECT_DOUBLE_EQ(EncodeDateTime({2026, 12, 10, 18, 0, 0, 0}), 46366.75);
}

TEST(DateTime, FakeClockMovesWallTime) {
    test::TFakeClock clock({2026, 12, 10, 12, 58, 0, 0});
    clock.Advance(17 * 60 * 1000);
    const TLocalTime t = clock.LocalNow();
    EXPECT_EQ(t.Hour, 13);
    EXPECT_EQ(t.Minute, 15);
}

}  // namespace tarvik
