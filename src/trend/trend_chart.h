// The trend chart of one day, without a window: the resources as the chart
// sees them, loading their day values, the picture's geometry (axis, ticks,
// hour labels, one polyline per series, grid), the legend, the date
// caption, day navigation and the value tooltip.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/ping_thread.h"
#include "monitor/chart_geometry.h"

namespace tarvik {

class TResourceTable;
class TTrendFile;

// The strip below the time axis holds the hour labels.
inline constexpr int TrendLabelStrip = 15;
inline int TrendBaseOf(int height) { return height - TrendLabelStrip; }

// A resource row as the chart, the tooltip and the export see it. The day
// values belong to the row's thread; a row without a thread has none.
struct TTrendRow {
    std::string Address;
    char Kind = 0;
    std::string WriteColor;  // colour texts of columns 6 and 7
    std::string ReadColor;
    TDayValues* Write = nullptr;  // index 1..96
    TDayValues* Read = nullptr;
    TDayValues* Ping = nullptr;
    TDayQuality* Quality = nullptr;  // hosts' link quality, index 1..96
    bool HasThread() const { return Write && Read && Ping; }
};
// Rows 1..N of the settings grid, in order.
std::vector<TTrendRow> TrendRowsOf(TResourceTable& table);

// Fills the day values of every row with a thread from the day holding
// `date`: the record's averages, 0 where no record was found. Without a
// trend file (or with history off) every value is 0. Hosts also get the
// quality of each slot from the side file; unknown where it has none.
void LoadTrendDay(const TTrendFile* file, const std::vector<TTrendRow>& rows, double date);

// x of slot p (1..96): round(W * p / 96), ties to even.
int TrendPointX(int width, int slot);
// base - 1 - round(base / scale * value), not clamped (saturates far out).
long long TrendYUnclamped(double value, double scale, int base);
// The same with a negative y (a value above the scale) put on the top edge.
int TrendY(double value, double scale, int base);
// x = round(i * W / 24) for i = 0..23: hour ticks and vertical grid lines.
std::vector<int> TrendHourX(int width);
struct THourLabel {
    std::string Text;  // "3:00" ... "21:00"
    int CenterX;       // round(i * W / 8)
};
std::array<THourLabel, 7> TrendHourLabels(int width);
// y = base - round(0.2 * base * k) for k = 1..5.
std::vector<int> TrendHGridY(int base);

struct TTrendPoint {
    int X, Y;
};
struct TTrendPolyline {
    TQuantity Quantity;
    std::string ColorText;
    std::array<TTrendPoint, 96> Points;
};

// Everything one redraw paints, in painting order: background, axis and
// ticks, hour labels, the series of every row with a thread (later rows
// over earlier ones), then the grid.
struct TTrendPicture {
    int Width = 0, Height = 0, Base = 0;
    std::vector<int> TickX;
    std::array<THourLabel, 7> HourLabels;
    std::vector<TTrendPolyline> Series;
    std::vector<int> HGridY;
    std::vector<int> VGridX;
};
TTrendPicture TrendPicture(const std::vector<TTrendRow>& rows, int width, int height, double scale,
                           bool hGrid, bool vGrid);

// "December 10, 2026, Thursday": English names whatever the locale.
std::string TrendDateCaption(double date);
// The next-day button is enabled when today's date lies after the shown date.
bool TrendNextDayEnabled(double now, double trendDate);

// The slot under chart x: round(X / (W / 96)) kept to 1..96.
int TrendTooltipSlot(int x, int width);
// `"host", Read -     12.34 KBps, 12:15`: the text of the first row with a
// day value within one pixel of y at the slot under x (its read value wins
// over its write value); none when no row has one. A host with quality data
// for the slot gets a second line (QualityTooltipLine).
std::optional<std::string> TrendTooltip(const std::vector<TTrendRow>& rows, int x, int y, int width,
                                        int height, double scale);

}  // namespace tarvik
