// Geometry and texts of the live chart: sample positions, the speed-to-row
// mapping, series per resource kind, grid lines, legend labels, scale steps,
// the level icon index, the value tooltip and the application title.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/ping_thread.h"

namespace tarvik {

class TResourceTable;

// The chart image inside the "Display" panel.
inline constexpr int ChartWidth = 267;
inline constexpr int ChartHeight = 87;
inline constexpr double MinScale = 1;
inline constexpr double MaxScale = 100000;
inline constexpr int LevelCount = 13;

// Nearest integer, ties to the even one (2.5 gives 2).
double RoundHalfEven(double value);

// x of sample i (1..100) is round(i * W * 0.01); index 0 is unused.
std::array<int, HistorySize + 1> ChartPointsX(int width);

// The row of a speed: H - round(H / scale * value), unclamped (it may lie
// outside the image; very large results saturate far outside it).
long long ChartYUnclamped(double value, double scale, int height);
// The same, kept inside the image: H or more gives H - 1, negative gives 0.
int ChartY(double value, double scale, int height);

// One series a resource draws.
enum class TQuantity { Write, Read, Ping };
struct TSeriesSpec {
    TQuantity Quantity;
    int ColorColumn;  // column of the settings grid holding its colour text
};
// Kind "1": write (column 6) then read (column 7); "2": read; "3": ping
// (column 7); any other kind draws nothing.
std::vector<TSeriesSpec> SeriesOfKind(char kind);
const THistory& HistoryOf(const TResultsSnapshot& results, TQuantity quantity);
// The value that drives the events and the level icon: the newest read
// sample for kinds "1" and "2", the newest ping sample for "3", none else.
std::optional<double> CurrentValue(char kind, const TResultsSnapshot& results);

// Horizontal lines H - round(H * 0.2 * k), k = 1..5 (the last is the top).
std::vector<int> HorizontalGridY(int height);
// Vertical lines at x = 1 and every multiple of 20 up to W.
std::vector<int> VerticalGridX(int width);

struct TLegendLabel {
    std::string Text;  // "%6.1f" with a point
    int CenterY;       // the grid line the label sits on
};
// Labels of Scale * 0.2 * i for i = 1..4, lowest first ("KBps" goes on top).
std::array<TLegendLabel, 4> LegendLabels(double scale, int height);
inline constexpr const char* LegendUnit = "KBps";

// One step of the scale buttons, kept within 1..100000.
double ScaleStepUp(double scale);
double ScaleStepDown(double scale);

// Level icon 0..12 of a value against the level reference; 0 when the
// reference is not positive.
int LevelIconIndex(double value, double levelReference);

// The sample index under chart x: round(X / (W * 0.01)) kept to 1..100.
int TooltipSampleIndex(int x, int width);

// A resource as the tooltip sees it.
struct TChartRow {
    std::string Address;
    char Kind = 0;
    TResultsSnapshot Results;
};
// `"<address>" Write     12.50 KBps`; the label is "Write", "Read" or "Ping".
std::string ValueText(const std::string& address, const char* label, double value);
// The text of the first row with a sample within one pixel of y at the
// sample index under x; a read sample wins over the write sample of its row.
std::optional<std::string> ValueTooltip(const std::vector<TChartRow>& rows, int x, int y,
                                        double scale, int width, int height);

struct THintRect {
    int Left, Top, Width, Height;
    bool operator==(const THintRect&) const = default;
};
// The hint window at the cursor plus a third of the cursor size, text size
// plus (6, 4), kept on the screen whose rectangle is given.
THintRect HintPlacement(int cursorX, int cursorY, int textWidth, int textHeight, int screenLeft,
                        int screenTop, int screenWidth, int screenHeight, int cursorSize = 32);

// The application title for the selected row: `"<address>"  Ping <value>`
// or `... Read ...`; "Tarvik" when there is no resource.
std::string ApplicationTitle(const TResourceTable& table, int selectedRow);

}  // namespace tarvik
