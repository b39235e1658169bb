// Trend chart geometry and texts: positions, the value-to-y rule and its
// clamping, the picture's series per kind, loading the day values, the
// date caption, day navigation and the value tooltip.
#include "trend/trend_chart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/fake_clock.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

constexpr int kDay = 46366;  // Thursday, 10 December 2026

// A resource row with day values of its own (as a thread would hold them).
struct TRowFixture {
    TDayValues Write{}, Read{}, Ping{};
    TDayQuality Quality{};
    TTrendRow Row(const std::string& address, char kind, bool thread = true) {
        TTrendRow r;
        r.Address = address;
        r.Kind = kind;
        r.WriteColor = "clRed";
        r.ReadColor = "clBlue";
        if (thread) {
            r.Write = &Write;
            r.Read = &Read;
            r.Ping = &Ping;
            r.Quality = &Quality;
        }
        return r;
    }
};

TEST(TrendChart, ValueToY) {
    struct TCase {
        double Value, Scale;
        int Base;
        long long Unclamped;
        int Drawn;
    } cases[] = {
        {2.0, 2.0, 72, -1, 0},      // a value equal to the scale sits on the top edge
        {250, 1000, 79, 58, 58},    // 79 - 1 - round(19.75)
        {0, 1000, 79, 78, 78},      // nothing measured: just above the axis
        {5000, 1000, 79, -317, 0},  // far above the scale runs along the top
        {0.5, 2.0, 72, 53, 53},     // 71 - round(18)
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TrendYUnclamped(c.Value, c.Scale, c.Base), c.Unclamped) << c.Value;
        EXPECT_EQ(TrendY(c.Value, c.Scale, c.Base), c.Drawn) << c.Value;
    }
    EXPECT_EQ(TrendBaseOf(94), 79);
}

TEST(TrendChart, PositionsRoundHalfToEven) {
    EXPECT_EQ(TrendPointX(267, 16), 44);   // 44.5
    EXPECT_EQ(TrendPointX(267, 48), 134);  // 133.5
    EXPECT_EQ(TrendPointX(267, 96), 267);
    const auto ticks = TrendHourX(267);
    ASSERT_EQ(ticks.size(), 24u);
    EXPECT_EQ(ticks[0], 0);
    EXPECT_EQ(ticks[12], 134);  // 133.5
    EXPECT_EQ(ticks[23], 256);  // 255.875
    const auto labels = TrendHourLabels(267);
    EXPECT_EQ(labels[0].Text, "3:00");
    EXPECT_EQ(labels[0].CenterX, 33);
    EXPECT_EQ(labels[3].Text, "12:00");
    EXPECT_EQ(labels[3].CenterX, 134);
    EXPECT_EQ(labels[6].Text, "21:00");
    EXPECT_EQ(TrendHGridY(72), (std::vector<int>{58, 43, 29, 14, 0}));
}

TEST(TrendChart, PictureDrawsTheSeriesOfEachKindInRowOrder) {
    TRowFixture a, b, c, d;
    a.Write[10] = 1;
    a.Read[10] = 2;
    const std::vector<TTrendRow> rows = {a.Row("drive", '1'), b.Row("cd", '2'),
                                         c.Row("no thread", '3', false), d.Row("host", '3')};
    const TTrendPicture pic = TrendPicture(rows, 267, 87, 2.0, true, false);
    EXPECT_EQ(pic.Base, 72);
    ASSERT_EQ(pic.Series.size(), 4u);
    EXPECT_EQ(pic.Series[0].Quantity, TQuantity::Write);
    EXPECT_EQ(pic.Series[0].ColorText, "clRed");
    EXPECT_EQ(pic.Series[1].Quantity, TQuantity::Read);
    EXPECT_EQ(pic.Series[1].ColorText, "clBlue");
    EXPECT_EQ(pic.Series[2].Quantity, TQuantity::Read);
    EXPECT_EQ(pic.Series[3].Quantity, TQuantity::Ping);
    EXPECT_EQ(pic.Series[3].ColorText, "clBlue");
    EXPECT_EQ(pic.Series[0].Points[9].Y, 71 - 36);
    EXPECT_EQ(pic.Series[1].Points[9].Y, 0);
    EXPECT_EQ(pic.Series[1].Points[9].X, TrendPointX(267, 10));
    EXPECT_EQ(pic.Series[3].Points[0].Y, 71);
    EXPECT_EQ(pic.HGridY.size(), 5u);
    EXPECT_TRUE(pic.VGridX.empty());
    EXPECT_EQ(TrendPicture(rows, 267, 87, 2.0, false, true).VGridX, TrendHourX(267));
}

TEST(TrendChart, LoadTrendDayFillsValuesAndZeroesMisses) {
    char tmpl[] = "/tmp/tarvik_trendchart_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    test::TFakeClock clock({2026, 12, 10, 0, 0, 0, 0});
    {
        TTrendFile file(dir + "/KOR_VEL.D", dir + "/KOR_VEL.ND", clock);
        clock.SetLocal({2026, 12, 10, 8, 15, 5, 0});
        file.WriteRecord({"drive", 12.5, 3.25, 0, 0, 0});
        TRowFixture a, none;
        a.Read.fill(9);  // yesterday's values are replaced
        none.Read.fill(9);
        const std::vector<TTrendRow> rows = {a.Row("DRIVE", '1'), none.Row("x", '1', false)};
        LoadTrendDay(&file, rows, kDay + 0.9);
        EXPECT_EQ(a.Read[33], 12.5);
        EXPECT_EQ(a.Write[33], 3.25);
        EXPECT_EQ(a.Read[32], 0);
        EXPECT_EQ(a.Read[96], 0);
        EXPECT_EQ(none.Read[33], 9);  // a row without a thread is left alone
        LoadTrendDay(nullptr, rows, kDay);
        EXPECT_EQ(a.Read[33], 0);
    }
    std::filesystem::remove_all(dir);
}

TEST(TrendChart, HostTooltipGetsItsQuarterHoursQualityLine) {
    char tmpl[] = "/tmp/tarvik_trendchart_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    test::TFakeClock clock({2026, 12, 10, 0, 0, 0, 0});
    {
        TTrendFile file(dir + "/KOR_VEL.D", dir + "/KOR_VEL.ND", clock);
        file.AttachQualityFile(dir + "/KOR_VEL.Q");
        // 12:15: 1 of 4 echoes lost, 1 ms, 3 ms, 1 ms; 12:30: all lost.
        TLinkQuality q;
        q.AddReply(1000);
        q.AddLost();
        q.AddReply(3000);
        q.AddReply(1000);
        TLinkQuality lost;
        lost.AddLost();
        const struct {
            int Minute;
            double Ping;
            TLinkQuality Quality;
        } quarters[] = {{15, 30, q}, {30, 0, lost}};
        for (const auto& c : quarters) {
            const TTrendRecord r{"host", 0, 0, c.Ping, kDay + (12 * 60 + c.Minute) / 1440.0, 0};
            file.WriteRecord(r);
            file.WriteQuality(r, c.Quality);
        }
        file.WriteRecord({"drive", 0, 30, 0, kDay + (12 * 60 + 15) / 1440.0, 0});
        TRowFixture host, drive;
        const std::vector<TTrendRow> rows = {host.Row("host", '3'), drive.Row("drive", '1')};
        LoadTrendDay(&file, rows, kDay);
        const auto at = [&](int x, int y) { return TrendTooltip(rows, x, y, 192, 87, 72); };
        EXPECT_EQ(at(98, 41), "\"host\", Ping -     30.00 KBps, 12:15\n"
                              "loss 25.0 %, RTT p50 1.00 ms, p95 3.00 ms, jitter 2.00 ms");
        EXPECT_EQ(at(100, 71), "\"host\", Ping -      0.00 KBps, 12:30\nloss 100.0 %");
        EXPECT_EQ(at(102, 71), "\"host\", Ping -      0.00 KBps, 12:45");  // no quality record
        // Another day's records have no quality line, nor have other kinds.
        LoadTrendDay(&file, rows, kDay - 1);
        EXPECT_EQ(at(98, 71), "\"host\", Ping -      0.00 KBps, 12:15");
        const std::vector<TTrendRow> driveOnly = {drive.Row("drive", '1')};
        LoadTrendDay(&file, driveOnly, kDay);
        EXPECT_EQ(TrendTooltip(driveOnly, 98, 41, 192, 87, 72), "\"drive\", Write -     30.00 KBps, 12:15");
    }
    std::filesystem::remove_all(dir);
}

TEST(TrendChart, DateCaptionInEnglish) {
    EXPECT_EQ(TrendDateCaption(kDay + 0.99), "December 10, 2026, Thursday");
    EXPECT_EQ(TrendDateCaption(46023), "January 1, 2026, Thursday");
    EXPECT_EQ(TrendDateCaption(46054 + 0.5), "February 1, 2026, Sunday");
    EXPECT_EQ(TrendDateCaption(0), "December 30, 1899, Saturday");
}

TEST(TrendChart, NextDayEnabledOnlyBeforeToday) {
    const double started = kDay + 0.5;  // the chart's date at start-up
    EXPECT_FALSE(TrendNextDayEnabled(started, started));
    EXPECT_TRUE(TrendNextDayEnabled(started, started - 1));            // one day back
    EXPECT_FALSE(TrendNextDayEnabled(kDay + 0.999, started));          // late the same day
    EXPECT_TRUE(TrendNextDayEnabled(kDay + 1 + 1.0 / 1440, started));  // after midnight
}

TEST(TrendChart, TooltipTexts) {
    // W 192: slot p lies at x = 2p; base 72, scale 72: y = 71 - value.
    TRowFixture ping, cd, drive;
    ping.Ping[49] = 30;
    cd.Read[49] = 30;  // meets the ping curve of the earlier row
    drive.Write[10] = 50;
    drive.Read[10] = 50;
    drive.Write[11] = 40;
    cd.Read[96] = 12.34;
    const std::vector<TTrendRow> rows = {ping.Row("host", '3'), cd.Row("cd", '2'),
                                         drive.Row("drive", '1')};
    const auto at = [&](int x, int y) { return TrendTooltip(rows, x, y, 192, 87, 72); };
    EXPECT_EQ(at(98, 41), "\"host\", Ping -     30.00 KBps, 12:15");
    EXPECT_EQ(at(98, 40), "\"host\", Ping -     30.00 KBps, 12:15");  // within one pixel
    EXPECT_EQ(at(98, 43), std::nullopt);
    EXPECT_EQ(at(20, 21), "\"drive\", Read -     50.00 KBps, 02:30");  // read wins over write
    EXPECT_EQ(at(22, 31), "\"drive\", Write -     40.00 KBps, 02:45");
    EXPECT_EQ(at(500, 59), "\"cd\", Read -     12.34 KBps, 00:00");  // slot 96, clamped x
    EXPECT_EQ(TrendTooltipSlot(0, 192), 1);
    EXPECT_EQ(TrendTooltipSlot(3, 192), 2);  // 1.5 rounds to 2
    EXPECT_EQ(TrendTooltipSlot(5, 192), 2);  // 2.5 rounds to 2
}

}  // namespace
}  // namespace tarvik
