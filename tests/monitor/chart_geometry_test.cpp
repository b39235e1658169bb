#include "monitor/chart_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/resource_table.h"

namespace tarvik {
namespace {

constexpr int W = ChartWidth, H = ChartHeight;

TEST(ChartGeometry, RoundingTiesGoToTheEvenNeighbour) {
    const std::pair<double, double> cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {0.5, 0}, {2.6, 3}};
    for (const auto& [in, out] : cases) EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST(ChartGeometry, SamplePositionsSpanTheImage) {
    const auto xs = ChartPointsX(W);
    EXPECT_EQ(xs[1], 3);     // 2.67
    EXPECT_EQ(xs[50], 134);  // 133.5
    EXPECT_EQ(xs[99], 264);  // 264.33
    EXPECT_EQ(xs[100], W);   // the newest sample sits on the right edge
    for (int i = 2; i <= 100; ++i) EXPECT_GT(xs[i], xs[i - 1]) << i;
}

TEST(ChartGeometry, SpeedToRow) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct TCase {
        double Value, Scale;
        int Y;
    } cases[] = {
        {0, 2, H - 1},     // zero on the bottom row
        {0.01, 2, H - 1},  // rounds to H
        {2, 2, 0},         // full scale on the top row
        {5, 2, 0},         // above full scale stays on the top row
        {1, 2, 43},        // 87 - round(43.5)
        {500, 1000, 43},  {-1, 2, H - 1}, {nan, 2, H - 1},
        {inf, 2, 0},      {1e300, 1, 0},  // no overflow on the way
        {0.5, 0, 43},                     // an unusable scale counts as 1
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChartY(c.Value, c.Scale, H), c.Y) << c.Value << " " << c.Scale;
    EXPECT_EQ(ChartYUnclamped(5, 2, H), 87 - 218);
    EXPECT_EQ(ChartYUnclamped(0, 2, H), H);
    EXPECT_LT(ChartYUnclamped(1e300, 1, H), -1000000);
}

TEST(ChartGeometry, SeriesAndCurrentValuePerKind) {
    using Q = TQuantity;
    const auto k1 = SeriesOfKind('1');
    ASSERT_EQ(k1.size(), 2u);
    EXPECT_EQ(k1[0].Quantity, Q::Write);
    EXPECT_EQ(k1[0].ColorColumn, colWriteColor);
    EXPECT_EQ(k1[1].Quantity, Q::Read);
    EXPECT_EQ(k1[1].ColorColumn, colReadColor);
    ASSERT_EQ(SeriesOfKind('2').size(), 1u);
    EXPECT_EQ(SeriesOfKind('2')[0].Quantity, Q::Read);
    ASSERT_EQ(SeriesOfKind('3').size(), 1u);
    EXPECT_EQ(SeriesOfKind('3')[0].Quantity, Q::Ping);
    EXPECT_EQ(SeriesOfKind('3')[0].ColorColumn, colReadColor);
    EXPECT_TRUE(SeriesOfKind('4').empty());
    EXPECT_TRUE(SeriesOfKind(0).empty());

    TResultsSnapshot r;
    r.WriteHistory[100] = 1;
    r.ReadHistory[100] = 2;
    r.PingHistory[100] = 3;
    EXPECT_EQ(CurrentValue('1', r), 2.0);  // the write speed never drives events
    EXPECT_EQ(CurrentValue('2', r), 2.0);
    EXPECT_EQ(CurrentValue('3', r), 3.0);
    EXPECT_EQ(CurrentValue('x', r), std::nullopt);
}

TEST(ChartGeometry, GridLines) {
    EXPECT_EQ(HorizontalGridY(H), (std::vector<int>{70, 52, 35, 17, 0}));
    const auto xs = VerticalGridX(W);
    ASSERT_EQ(xs.size(), 14u);
    EXPECT_EQ(xs.front(), 1);
    EXPECT_EQ(xs[1], 20);
    EXPECT_EQ(xs.back(), 260);
    EXPECT_EQ(VerticalGridX(40), (std::vector<int>{1, 20, 40}));
}

TEST(ChartGeometry, LegendLabels) {
    const auto small = LegendLabels(2, H);
    const char* texts[] = {"   0.4", "   0.8", "   1.2", "   1.6"};
    const int ys[] = {70, 52, 35, 17};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(small[i].Text, texts[i]);
        EXPECT_EQ(small[i].CenterY, ys[i]);
    }
    EXPECT_EQ(LegendLabels(100000, H)[3].Text, "80000.0");
    EXPECT_EQ(LegendLabels(5, H)[0].Text, "   1.0");
    EXPECT_STREQ(LegendUnit, "KBps");
}

TEST(ChartGeometry, ScaleWalksItsStepsBetweenTheLimits) {
    const std::vector<double> steps = {1,   2,    5,    10,   20,    50,    100,   200,
                                       500, 1000, 2000, 5000, 10000, 20000, 50000, 100000};
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        EXPECT_EQ(ScaleStepUp(steps[i]), steps[i + 1]) << steps[i];
        EXPECT_EQ(ScaleStepDown(steps[i + 1]), steps[i]) << steps[i + 1];
    }
    const std::pair<double, double> up[] = {{100000, 100000}, {3, 6},  {2.5, 5},
                                            {0.2, 1},         {-7, 1}, {250000, 100000}};
    for (const auto& [from, to] : up) EXPECT_EQ(ScaleStepUp(from), to) << from;
    // 5 halves to 2.5, which rounds to 2 (not 3) and stays; 25 halves to 12.5 -> 12.
    const std::pair<double, double> down[] = {{5, 2}, {1, 1}, {25, 12},
                                              {7, 4}, {0, 1}, {1e9, 100000}};
    for (const auto& [from, to] : down) EXPECT_EQ(ScaleStepDown(from), to) << from;
}

TEST(ChartGeometry, LevelIconIndex) {
    struct TCase {
        double Value, Reference;
        int Level;
    } cases[] = {
        {0, 100, 0},    {100, 100, 12},
        {250, 100, 12}, {50, 100, 6},
        {6.5, 12, 6},   {7.5, 12, 8},
        {30, 0, 0},     {30, -1, 0},
        {-5, 100, 0},   {std::numeric_limits<double>::quiet_NaN(), 100, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(LevelIconIndex(c.Value, c.Reference), c.Level) << c.Value;
}

TEST(ChartGeometry, TooltipSampleIndexIsLimited) {
    const std::pair<int, int> cases[] = {{0, 1},    {-20, 1},   {3, 1},
                                         {133, 50}, {267, 100}, {400, 100}};
    for (const auto& [x, i] : cases) EXPECT_EQ(TooltipSampleIndex(x, W), i) << x;
}

TEST(ChartGeometry, ValueTooltip) {
    // Sample 50 sits at x 134; scale 2 puts 1 KBps on row 43 and 0.5 on row 65.
    TChartRow drive{"/srv/share", '1', {}};
    drive.Results.WriteHistory[50] = 1.0;
    drive.Results.ReadHistory[50] = 0.5;
    TChartRow host{"127.0.0.1", '3', {}};
    host.Results.PingHistory[50] = 0.5;
    const std::vector<TChartRow> rows = {drive, host};

    EXPECT_EQ(ValueTooltip(rows, 134, 43, 2, W, H), "\"/srv/share\" Write      1.00 KBps");
    EXPECT_EQ(ValueTooltip(rows, 134, 44, 2, W, H), "\"/srv/share\" Write      1.00 KBps");
    EXPECT_EQ(ValueTooltip(rows, 134, 45, 2, W, H), std::nullopt);  // two pixels off
    // Both rows have a sample on row 65: the first row in order wins.
    EXPECT_EQ(ValueTooltip(rows, 134, 65, 2, W, H), "\"/srv/share\" Read      0.50 KBps");
    EXPECT_EQ(ValueTooltip({host}, 134, 66, 2, W, H), "\"127.0.0.1\" Ping      0.50 KBps");

    // Write and read on the same row: the read text replaces the write text.
    TChartRow same{"/mnt/a", '1', {}};
    same.Results.WriteHistory[50] = 1.0;
    same.Results.ReadHistory[50] = 1.0;
    EXPECT_EQ(ValueTooltip({same, host}, 134, 43, 2, W, H), "\"/mnt/a\" Read      1.00 KBps");

    // A kind "2" row has no write series even when its write history holds data.
    TChartRow file{"/f", '2', {}};
    file.Results.WriteHistory[50] = 1.0;
    EXPECT_EQ(ValueTooltip({file}, 134, 43, 2, W, H), std::nullopt);

    // The tooltip maps without clamping: a value above the scale lies above
    // the image and is not found on the top row.
    TChartRow fast{"fast", '3', {}};
    fast.Results.PingHistory[50] = 5;
    EXPECT_EQ(ValueTooltip({fast}, 134, 0, 2, W, H), std::nullopt);
    EXPECT_EQ(ValueTooltip({fast}, 134, -131, 2, W, H), "\"fast\" Ping      5.00 KBps");
    EXPECT_EQ(ValueTooltip({}, 134, 43, 2, W, H), std::nullopt);
}

TEST(ChartGeometry, HintPlacementStaysOnTheScreen) {
    struct TCase {
        const char* Name;
        int X, Y, TextW, TextH;
        int ScreenX, ScreenY, ScreenW, ScreenH;
        THintRect Expected;
    } cases[] = {
        {"inside", 100, 100, 200, 14, 0, 0, 1024, 768, {110, 110, 206, 18}},
        {"bottom", 100, 760, 200, 14, 0, 0, 1024, 768, {110, 750, 206, 18}},
        {"bottom exactly fits", 100, 740, 200, 14, 0, 0, 1024, 768, {110, 750, 206, 18}},
        {"right reaches the edge", 808, 100, 200, 14, 0, 0, 1024, 768, {818, 110, 206, 18}},
        {"right one past", 809, 100, 200, 14, 0, 0, 1024, 768, {818, 110, 206, 18}},
        {"right one short", 807, 100, 200, 14, 0, 0, 1024, 768, {817, 110, 206, 18}},
        {"wider than the screen", 10, 10, 2000, 14, 0, 0, 1024, 768, {0, 20, 2006, 18}},
        {"second screen", 1100, 100, 200, 14, 1024, 0, 800, 600, {1110, 110, 206, 18}},
        {"second screen right", 1800, 590, 200, 14, 1024, 0, 800, 600, {1618, 582, 206, 18}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            HintPlacement(c.X, c.Y, c.TextW, c.TextH, c.ScreenX, c.ScreenY, c.ScreenW, c.ScreenH),
            c.Expected)
            << c.Name;
}

TEST(ChartGeometry, ApplicationTitle) {
    TResourceTable t;
    EXPECT_EQ(ApplicationTitle(t, 0), "Tarvik");
    EXPECT_EQ(ApplicationTitle(t, 1), "Tarvik");
    const struct {
        const char* Address;
        const char* Kind;
        const char* Write;
        const char* Read;
        const char* Ping;
        const char* Title;
    } rows[] = {
        {"127.0.0.1", "3", "", "", "    12.50 KBps", "\"127.0.0.1\"  Ping 12.50 KBps"},
        {"/srv/share", "1", "    99.00 KBps", "", "", "\"/srv/share\"  Read 0.0"},
        {"/cd/file", "2", "", "Testing...", "", "\"/cd/file\"  Read Testing..."},
        {"host", "3", "", "    5.00 KBps", "", "\"host\"  Ping 0.0"},
    };
    for (const auto& r : rows) {
        const int row = t.AddRow();
        t.SetCell(colAddress, row, r.Address);
        t.SetCell(colKind, row, r.Kind);
        t.SetCell(colWriteText, row, r.Write);
        t.SetCell(colReadText, row, r.Read);
        t.SetCell(colPingText, row, r.Ping);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ApplicationTitle(t, i + 1), rows[i].Title) << i;
    EXPECT_EQ(ApplicationTitle(t, 5), "Tarvik");  // outside the grid
}

}  // namespace
}  // namespace tarvik
