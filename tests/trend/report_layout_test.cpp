#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/date_time.h"
#include "trend/trend_report.h"

namespace tarvik {
namespace {

// A font whose glyphs are `size` pixels wide and 2 * `size` high; the
// printer's own font (size 0) behaves like size 8.
TTextSize FakeMeasure(std::string_view text, int size) {
    const int s = size == 0 ? 8 : size;
    return {static_cast<int>(text.size()) * s, 2 * s};
}

// A 2000-pixel page of 200 mm: u = 10, M = 200, L = 8 * 8 + 10 = 74,
// C = 1526, H = 763, D = 748, X0 = 274, G = 149.6.
TReportInput Page() {
    TReportInput in;
    in.PageWidth = 2000;
    in.PageWidthMm = 200;
    in.Scale = 1000;
    in.Today = DaysFromCivil(2026, 12, 10) + 0.5;
    in.DateCaption = "December 9, 2026, Wednesday";
    return in;
}

TReportResource Resource(std::string address, char kind) {
    TReportResource r;
    r.Address = std::move(address);
    r.Kind = kind;
    r.WriteColor = "clRed";
    r.ReadColor = "clBlue";
    return r;
}

std::vector<TReportText> Texts(const TTrendReport& report) {
    std::vector<TReportText> out;
    for (const auto& item : report.Items)
        if (auto* t = std::get_if<TReportText>(&item)) out.push_back(*t);
    return out;
}
const TReportText* FindText(const TTrendReport& report, std::string_view prefix) {
    for (const auto& item : report.Items)
        if (auto* t = std::get_if<TReportText>(&item); t && t->Text.starts_with(prefix)) return t;
    return nullptr;
}
std::vector<TReportPolyline> Curves(const TTrendReport& report) {
    std::vector<TReportPolyline> out;
    for (const auto& item : report.Items)
        if (auto* p = std::get_if<TReportPolyline>(&item); p && p->Pen.Width == 1)
            out.push_back(*p);
    return out;
}

TEST(ReportLayout, PageGeometryHeadingFrameAndLabels) {
    const TTrendReport report = LayOutTrendReport(Page(), FakeMeasure);
    const TReportMetrics& m = report.Metrics;
    EXPECT_DOUBLE_EQ(m.U, 10);
    EXPECT_EQ(m.M, 200);
    EXPECT_EQ(m.L, 74);
    EXPECT_EQ(m.C, 1526);
    EXPECT_EQ(m.H, 763);
    EXPECT_EQ(m.D, 748);
    EXPECT_EQ(m.X0, 274);
    // Heading 200 + 36 + 28, rule 30 below, chart 60 below.
    EXPECT_EQ(m.ChartTop, 324);
    EXPECT_EQ(m.LegendTop, 24 + 100 + 324 + 763);
    EXPECT_EQ(m.LineHeight, 16);

    struct Want {
        const char* text;
        int size, x, y;
    };
    const Want wants[] = {
        {"Network speed", 18, 274, 200},
        {"Report Date : December 10, 2026", 14, 274, 236},
        {" 200.0", 6, 228, 324 + 748 - 150 - 6},  // right-aligned in 6, k = 1
        {" 800.0", 6, 228, 324 + 748 - 598 - 6},  // k = 4, the last one
        {"KBps", 6, 240, 324},
        {"3:00", 6, 190 + 274 - 12, 1092},
        {"21:00", 6, 7 * 190 + 274 - 15, 1092},
        {"December 9, 2026, Wednesday", 12, 800 + 274 - 162, 324 + 763 + 100},
    };
    const auto texts = Texts(report);
    // 2 heading lines, 4 value labels (no 1000.0), "KBps", 7 hour labels, the
    // caption; no legend without resources.
    ASSERT_EQ(texts.size(), 15u);
    EXPECT_EQ(texts.front().Text, "Network speed");
    EXPECT_EQ(texts.back().Text, wants[std::size(wants) - 1].text);
    for (const Want& w : wants) {
        SCOPED_TRACE(w.text);
        const TReportText* t = FindText(report, w.text);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->Text, w.text);
        EXPECT_EQ(t->PointSize, w.size);
        EXPECT_EQ(t->At, (TReportPoint{w.x, w.y}));
    }

    // Heading rule, frame, ticks.
    const auto& rule = std::get<TReportLine>(report.Items[2]);
    EXPECT_EQ(rule.Pen, (TReportPen{5, TReportPenStyle::Solid, ""}));
    EXPECT_EQ(rule.From, (TReportPoint{274, 294}));
    EXPECT_EQ(rule.To, (TReportPoint{1800, 294}));
    const auto& frame = std::get<TReportPolyline>(report.Items[8]);
    EXPECT_EQ(frame.Pen.Width, 4);
    EXPECT_EQ(frame.Points, (std::vector<TReportPoint>{
                                {274, 324}, {1800, 324}, {1800, 1072}, {274, 1072}, {274, 324}}));
    const auto& lastTick = std::get<TReportLine>(report.Items[9 + 23]);
    EXPECT_EQ(lastTick.Pen.Width, 4);
    EXPECT_EQ(lastTick.From, (TReportPoint{63 * 23 + 274, 1072}));
    EXPECT_EQ(lastTick.To, (TReportPoint{63 * 23 + 274, 1082}));

    // The grid comes last: 5 horizontal lines, then 24 vertical ones.
    const std::size_t n = report.Items.size();
    const auto& h1 = std::get<TReportLine>(report.Items[n - 29]);
    EXPECT_EQ(h1.Pen, (TReportPen{1, TReportPenStyle::Solid, ""}));
    EXPECT_EQ(h1.From, (TReportPoint{274, 1072 - 150}));
    EXPECT_EQ(h1.To, (TReportPoint{1800, 1072 - 150}));
    const auto& h5 = std::get<TReportLine>(report.Items[n - 25]);
    EXPECT_EQ(h5.From.Y, 324);
    const auto& v23 = std::get<TReportLine>(report.Items[n - 1]);
    EXPECT_EQ(v23.From, (TReportPoint{63 * 23 + 274, 324}));
    EXPECT_EQ(v23.To, (TReportPoint{63 * 23 + 274, 1072}));
}

TEST(ReportLayout, GridButtonsUpLeaveTheGridOut) {
    TReportInput in = Page();
    const std::size_t full = LayOutTrendReport(in, FakeMeasure).Items.size();
    in.HGrid = false;
    EXPECT_EQ(LayOutTrendReport(in, FakeMeasure).Items.size(), full - 5);
    in.VGrid = false;
    EXPECT_EQ(LayOutTrendReport(in, FakeMeasure).Items.size(), full - 29);
}

TEST(ReportLayout, DirectoryResourceCurvesAndLegendLines) {
    TReportInput in = Page();
    TReportResource r = Resource("\\\\srv\\share", '1');
    for (auto& slot : r.Day) slot = {true, 10, 4, 99};
    r.Day[95].Read = 106;
    r.Day[0].Write = 0.5;
    in.Resources = {r};
    const TTrendReport report = LayOutTrendReport(in, FakeMeasure);

    // Write dashed in the write colour, read dotted in the read colour; no ping.
    const auto curves = Curves(report);
    ASSERT_EQ(curves.size(), 2u);
    EXPECT_EQ(curves[0].Pen, (TReportPen{1, TReportPenStyle::Dash, "clRed"}));
    EXPECT_EQ(curves[1].Pen, (TReportPen{1, TReportPenStyle::Dot, "clBlue"}));
    ASSERT_EQ(curves[1].Points.size(), 96u);
    EXPECT_EQ(curves[1].Points[0], (TReportPoint{274 + 16, 1071 - 7}));  // 10 * 748 / 1000
    EXPECT_EQ(curves[1].Points[95], (TReportPoint{1800, 1071 - 79}));
    EXPECT_EQ(curves[0].Points[1].Y, 1071 - 3);

    // Separator above the legend, then per series a sample stroke and its text.
    const int T = report.Metrics.LegendTop;
    const TReportText* read = FindText(report, "\"\\\\srv\\share\"  read");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Text,
              "\"\\\\srv\\share\"  read speed. Min. =     10.00, Max. =    106.00, Average =     "
              "11.00");  // (95 * 10 + 106) / 96: the average is over the 96 slots
    EXPECT_EQ(read->PointSize, 8);
    EXPECT_EQ(read->At, (TReportPoint{474, 16 * 1 + 100 + T}));
    const TReportText* write = FindText(report, "\"\\\\srv\\share\"  write");
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write->Text,
              "\"\\\\srv\\share\"  write speed. Min. =      0.50, Max. =      4.00, Average =      "
              "3.96");
    EXPECT_EQ(write->At.Y, 100 + T);

    bool separator = false, stroke = false;
    for (const auto& item : report.Items) {
        if (auto* l = std::get_if<TReportLine>(&item)) {
            separator |= l->Pen.Width == 5 && l->From == TReportPoint{274, T + 60} &&
                         l->To == TReportPoint{1800, T + 60};
            stroke |= l->Pen.Style == TReportPenStyle::Dot &&
                      l->From == TReportPoint{274, T + 124} && l->To == TReportPoint{424, T + 124};
        }
    }
    EXPECT_TRUE(separator);
    EXPECT_TRUE(stroke);
}

TEST(ReportLayout, PeriodDecidesDrawnSlotsAndStatistics) {
    struct Case {
        const char* name;
        int from, till;
        const char* legend;         // the numbers of the read legend line
        int firstDrawn, lastDrawn;  // slots off the base line (0: none)
    };
    // Slot s holds the read value s.
    const Case cases[] = {
        {"0:00 till 24:00", 0, 96, "Min. =      1.00, Max. =     96.00, Average =     48.50", 1,
         96},
        {"2:00 till 3:00", 8, 12, "Min. =      8.00, Max. =     12.00, Average =     10.00", 8, 12},
        {"end before start", 12, 8, "Min. =      0.00, Max. =      0.00, Average =      0.00", 0,
         0},
        {"only slot 0", 0, 0, "Min. =      0.00, Max. =      0.00, Average =      0.00", 0, 0},
        {"past the day", 97, 99, "Min. =      0.00, Max. =      0.00, Average =      0.00", 0, 0},
        {"till 24:45", 95, 99, "Min. =     95.00, Max. =     96.00, Average =     95.50", 95, 96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TReportInput in = Page();
        in.Scale = 100;
        in.FromSlot = c.from;
        in.TillSlot = c.till;
        TReportResource r = Resource("cd", '2');
        for (int s = 1; s <= 96; ++s) r.Day[s - 1] = {true, static_cast<double>(s), 0, 0};
        in.Resources = {r};
        const TTrendReport report = LayOutTrendReport(in, FakeMeasure);
        const TReportText* legend = FindText(report, "\"cd\"  read speed. ");
        ASSERT_NE(legend, nullptr);
        EXPECT_EQ(legend->Text, std::string("\"cd\"  read speed. ") + c.legend);
        const auto curves = Curves(report);
        ASSERT_EQ(curves.size(), 1u);
        for (int s = 1; s <= 96; ++s) {
            const bool drawn = c.firstDrawn && c.firstDrawn <= s && s <= c.lastDrawn;
            const int y = drawn ? 1071 - static_cast<int>(std::nearbyint(s * 7.48)) : 1071;
            ASSERT_EQ(curves[0].Points[s - 1].Y, y) << "slot " << s;
        }
    }
}

TEST(ReportLayout, MissingRecordsLieOnTheBaseLineAndCountAsZero) {
    TReportInput in = Page();
    TReportResource r = Resource("host", '3');
    r.Day[3] = {true, 0, 0, 96};  // one record in the whole day
    in.Resources = {r};
    const TTrendReport report = LayOutTrendReport(in, FakeMeasure);
    const auto curves = Curves(report);
    ASSERT_EQ(curves.size(), 1u);
    EXPECT_EQ(curves[0].Pen, (TReportPen{1, TReportPenStyle::DashDot, "clBlue"}));
    EXPECT_EQ(curves[0].Points[3].Y, 1071 - 72);
    EXPECT_EQ(curves[0].Points[4].Y, 1071);
    const TReportText* legend = FindText(report, "\"host\"");
    ASSERT_NE(legend, nullptr);
    EXPECT_EQ(legend->Text,
              "\"host\"  Ping speed. Min. =      0.00, Max. =     96.00, Average =      1.00");
    EXPECT_EQ(legend->At.Y, 16 * 2 + 100 + report.Metrics.LegendTop);
}

TEST(ReportLayout, ValuesAboveTheScaleRunAlongTheTopEdge) {
    TReportInput in = Page();
    TReportResource r = Resource("host", '3');
    r.Day[0] = {true, 0, 0, 1000.5};  // just above a scale of 1000
    r.Day[1] = {true, 0, 0, 1e300};   // a damaged record: no overflow
    r.Day[2] = {true, 0, 0, 1000};    // the scale itself: one pixel lower (base - D)
    r.Day[3] = {true, 0, 0, -5};      // stays on the base line
    in.Resources = {r};
    const auto curves = Curves(LayOutTrendReport(in, FakeMeasure));
    ASSERT_EQ(curves.size(), 1u);
    EXPECT_EQ(curves[0].Points[0].Y, 324);
    EXPECT_EQ(curves[0].Points[1].Y, 324);
    EXPECT_EQ(curves[0].Points[2].Y, 324);
    EXPECT_EQ(curves[0].Points[3].Y, 1071);
}

TEST(ReportLayout, EveryResourceTakesThreeLegendLines) {
    TReportInput in = Page();
    TReportResource noThread = Resource("gone", '1');
    noThread.HasThread = false;
    in.Resources = {noThread, Resource("cd", '2'), Resource("drive", '1'), Resource("odd", '9')};
    const TTrendReport report = LayOutTrendReport(in, FakeMeasure);
    const int top = 100 + report.Metrics.LegendTop;

    EXPECT_EQ(FindText(report, "\"gone\""), nullptr);  // a row without a thread prints nothing
    EXPECT_EQ(FindText(report, "\"odd\""), nullptr);   // nor does an unknown kind
    // Row 2 (kind "2"): only the read line, in its middle place 3 + 1.
    const TReportText* cd = FindText(report, "\"cd\"");
    ASSERT_NE(cd, nullptr);
    EXPECT_EQ(cd->At.Y, top + 16 * 4);
    EXPECT_EQ(FindText(report, "\"cd\"  write"), nullptr);
    EXPECT_EQ(FindText(report, "\"cd\"  Ping"), nullptr);
    // Row 3 starts at place 6.
    ASSERT_NE(FindText(report, "\"drive\"  write"), nullptr);
    EXPECT_EQ(FindText(report, "\"drive\"  write")->At.Y, top + 16 * 6);
    EXPECT_EQ(FindText(report, "\"drive\"  read")->At.Y, top + 16 * 7);
    EXPECT_EQ(Curves(report).size(), 3u);  // one dotted, then dashed and dotted

    // The separator is drawn once, also when row 1 has no thread.
    int separators = 0;
    for (const auto& item : report.Items)
        if (auto* l = std::get_if<TReportLine>(&item); l && l->Pen.Width == 5) ++separators;
    EXPECT_EQ(separators, 2);  // the heading rule and the legend separator
}

TEST(ReportLayout, LegendLineIsCutTo255Characters) {
    const std::string address(300, 'a');
    const std::string text = LegendText(address, "read speed. Min. = ", {1, 2, 3});
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text, ("\"" + address).substr(0, 255));
    // A huge value keeps its digits instead of overflowing a buffer.
    EXPECT_EQ(LegendText("x", "w ", {1e20, 1e20, 1e20}),
              "\"x\"  w 100000000000000000000.00, Max. = 100000000000000000000.00, Average = "
              "100000000000000000000.00");
}

TEST(ReportLayout, ReportDateHasTheFullMonthName) {
    EXPECT_EQ(ReportDateText(DaysFromCivil(2027, 1, 1) + 0.99), "January 1, 2027");
    EXPECT_EQ(ReportDateText(DaysFromCivil(2026, 12, 31)), "December 31, 2026");
}

}  // namespace
}  // namespace tarvik
