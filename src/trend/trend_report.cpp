#include "trend/trend_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/resource_table.h"
#include "platform/date_time.h"
#include "platform/utf8.h"

namespace tarvik {

namespace {

// Nearest integer, ties to even; far-out and non-finite values saturate so
// that a damaged record can never overflow a coordinate.
int Round(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<int>::min() / 2;
    constexpr double hi = std::numeric_limits<int>::max() / 2;
    return static_cast<int>(std::nearbyint(std::clamp(v, lo, hi)));
}

std::string Fixed(const char* format, double v) {
    // "%9.2f" of the largest double is about 310 characters.
    char buf[400];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

struct TSeriesSpec {
    double TTrendDaySlot::*Value;
    TReportPenStyle Style;
    bool Write;  // coloured with the write colour (else the read colour)
    int LegendIndex;
    const char* Words;
};
// Write, read and ping: their pens and legend places.
constexpr std::array<TSeriesSpec, 3> kSeries{{
    {&TTrendDaySlot::Write, TReportPenStyle::Dash, true, 0, "write speed. Min. = "},
    {&TTrendDaySlot::Read, TReportPenStyle::Dot, false, 1, "read speed. Min. = "},
    {&TTrendDaySlot::Ping, TReportPenStyle::DashDot, false, 2, "Ping speed. Min. = "},
}};

bool Printed(char kind, int series) {
    switch (series) {
        case 0:
            return kind == '1';
        case 1:
            return kind == '1' || kind == '2';
        default:
            return kind == '3';
    }
}

bool InPeriod(int slot, int fromSlot, int tillSlot) { return fromSlot <= slot && slot <= tillSlot; }

}  // namespace

std::vector<TReportResource> ReportResources(const TResourceTable& table, const TTrendFile* file,
                                             double date) {
    std::vector<TReportResource> out;
    for (int row = 1; row < table.RowCount(); ++row) {
        TReportResource r;
        r.Address = table.Cell(colAddress, row);
        const std::string& kind = table.Cell(colKind, row);
        r.Kind = kind.empty() ? 0 : kind[0];
        r.WriteColor = table.Cell(colWriteColor, row);
        r.ReadColor = table.Cell(colReadColor, row);
        r.HasThread = table.Thread(row) != nullptr;
        if (file && r.HasThread) r.Day = file->ReadDay(r.Address, date);
        out.push_back(std::move(r));
    }
    return out;
}

std::string ReportDateText(double date) {
    static constexpr std::array<const char*, 12> kMonths{
        "January", "February", "March",     "April",   "May",      "June",
        "July",    "August",   "September", "October", "November", "December"};
    int y = 0, m = 0, d = 0;
    CivilFromDays(static_cast<int>(std::floor(date)), y, m, d);
    return std::string(kMonths[static_cast<std::size_t>(m - 1)]) + " " + std::to_string(d) + ", " +
           std::to_string(y);
}

TSeriesStats SeriesStats(const std::array<TTrendDaySlot, kTrendSlotsPerDay>& day,
                         double TTrendDaySlot::*value, int fromSlot, int tillSlot) {
    const int first = std::max(fromSlot, 1);
    const int last = std::min(tillSlot, kTrendSlotsPerDay);
    TSeriesStats stats;
    if (first > last) return stats;
    double sum = 0;
    for (int s = first; s <= last; ++s) {
        const TTrendDaySlot& slot = day[static_cast<std::size_t>(s - 1)];
        const double v = slot.Found ? slot.*value : 0.0;  // a missing record counts as 0
        if (s == first) {
            stats.Min = stats.Max = v;
        } else {
            stats.Min = std::min(stats.Min, v);
            stats.Max = std::max(stats.Max, v);
        }
        sum += v;
    }
    stats.Average = sum / (last - first + 1);
    return stats;
}

std::string LegendText(const std::string& address, std::string_view words,
                       const TSeriesStats& stats) {
    std::string text = "\"" + address + "\"  ";
    text += words;
    text += Fixed("%9.2f", stats.Min) + ", Max. = " + Fixed("%9.2f", stats.Max) +
            ", Average = " + Fixed("%9.2f", stats.Average);
    return CutUtf8(text, 255);
}

TTrendReport LayOutTrendReport(const TReportInput& in, const TMeasureText& measure) {
    TTrendReport report;
    TReportMetrics& m = report.Metrics;
    auto& items = report.Items;
    auto text = [&](int size, int x, int y, std::string s) {
        items.push_back(TReportText{size, {x, y}, std::move(s)});
    };
    auto line = [&](const TReportPen& pen, int x1, int y1, int x2, int y2) {
        items.push_back(TReportLine{pen, {x1, y1}, {x2, y2}});
    };

    const int W = in.PageWidth;
    m.U = in.PageWidthMm > 0 ? W / in.PageWidthMm : 0;
    const double u = m.U;
    m.M = Round(20 * u);
    m.L = measure("100000.0", 0).Width + Round(u);
    m.C = W - 2 * m.M - m.L;
    m.H = m.C / 2;
    m.D = m.H - 15;
    m.X0 = m.M + m.L;
    m.G = m.D * 0.2;
    const int M = m.M, L = m.L, C = m.C, H = m.H, D = m.D, X0 = m.X0;
    const double G = m.G;
    // A scale of 0 or below cannot come from the view; it would divide by zero.
    const double S = in.Scale > 0 ? in.Scale : 1;
    int Y = M;

    // ---- heading ----
    const TReportPen black{1, TReportPenStyle::Solid, ""};
    const TReportPen rule{Round(0.5 * u), TReportPenStyle::Solid, ""};
    text(18, X0, Y, "Network speed");
    Y += measure("Network speed", 18).Height;
    const std::string dateLine = "Report Date : " + ReportDateText(in.Today);
    text(14, X0, Y, dateLine);
    Y += measure(dateLine, 14).Height;
    line(rule, X0, Y + Round(3 * u), W - M, Y + Round(3 * u));
    Y += Round(6 * u);
    m.ChartTop = Y;

    // ---- chart frame and axes ----
    for (int k = 1; k <= 4; ++k) {
        const std::string label = Fixed("%6.1f", S * 0.2 * k);
        const TTextSize size = measure(label, 6);
        text(6, M + L - Round(u) - size.Width, Y + D - Round(G * k) - size.Height / 2, label);
    }
    text(6, M + L - Round(u) - measure("KBps", 6).Width, Y, "KBps");
    const TReportPen frame{4, TReportPenStyle::Solid, ""};
    items.push_back(
        TReportPolyline{frame, {{X0, Y}, {X0 + C, Y}, {X0 + C, Y + D}, {X0, Y + D}, {X0, Y}}});
    for (int k = 0; k <= 23; ++k) {
        const int x = (C / 24) * k + X0;
        line(frame, x, Y + D, x, Y + D + Round(u));
    }
    for (int k = 1; k <= 7; ++k) {
        const std::string label = std::to_string(3 * k) + ":00";
        text(6, (C / 8) * k + X0 - measure(label, 6).Width / 2, Y + D + Round(2 * u), label);
    }

    // ---- date and legend area ----
    const TTextSize caption = measure(in.DateCaption, 12);
    text(12, (W - 2 * M) / 2 + X0 - caption.Width / 2, Y + H + Round(10 * u), in.DateCaption);
    m.LegendTop = caption.Height + Round(10 * u) + Y + H;
    m.LineHeight = measure("1", 8).Height;
    const int T = m.LegendTop, h = m.LineHeight;

    // ---- per resource ----
    std::array<int, kTrendSlotsPerDay> x{};
    for (int s = 1; s <= kTrendSlotsPerDay; ++s)
        x[s - 1] = X0 + Round(s * static_cast<double>(C) / 96);
    const int base = Y + D - 1;
    auto pointY = [&](double value) {
        // Values above the scale run along the top edge; a negative value
        // (only a damaged record holds one) stays on the base line.
        return std::clamp(base - Round(value * D / S), Y, std::max(Y, base));
    };
    bool ruled = false;
    for (std::size_t row = 0; row < in.Resources.size(); ++row) {
        const TReportResource& res = in.Resources[row];
        if (!res.HasThread) continue;
        if (!ruled) {
            // Above the first printed resource's legend, also when row 1 has no thread.
            line(rule, X0, T + Round(6 * u), W - M, T + Round(6 * u));
            ruled = true;
        }
        for (int series = 0; series < 3; ++series) {
            if (!Printed(res.Kind, series)) continue;
            const TSeriesSpec& item = kSeries[static_cast<std::size_t>(series)];
            const TReportPen pen{1, item.Style, item.Write ? res.WriteColor : res.ReadColor};
            TReportPolyline curve{pen, {}};
            curve.Points.reserve(kTrendSlotsPerDay);
            for (int s = 1; s <= kTrendSlotsPerDay; ++s) {
                const TTrendDaySlot& slot = res.Day[static_cast<std::size_t>(s - 1)];
                const bool shown = slot.Found && InPeriod(s, in.FromSlot, in.TillSlot);
                curve.Points.push_back({x[s - 1], shown ? pointY(slot.*item.Value) : base});
            }
            items.push_back(std::move(curve));
            const int yi = h * (3 * static_cast<int>(row) + item.LegendIndex) + Round(10 * u) + T;
            line(pen, X0, yi + h / 2, X0 + Round(15 * u), yi + h / 2);
            text(8, X0 + Round(20 * u), yi,
                 LegendText(res.Address, item.Words,
                            SeriesStats(res.Day, item.Value, in.FromSlot, in.TillSlot)));
        }
    }

    // ---- grid, over the series ----
    if (in.HGrid) {
        for (int k = 1; k <= 5; ++k)
            line(black, X0, Y + D - Round(G * k), X0 + C, Y + D - Round(G * k));
    }
    if (in.VGrid) {
        for (int k = 0; k <= 23; ++k) line(black, (C / 24) * k + X0, Y, (C / 24) * k + X0, Y + D);
    }
    return report;
}

}  // namespace tarvik
