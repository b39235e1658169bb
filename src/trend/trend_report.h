// The printed trend report of one day, without a printer: every line,
// polyline and text of the one-page report in device pixels of the page, in
// painting order. A painter only has to replay the list.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trend/trend_file.h"

namespace tarvik {

class TResourceTable;

// One resource row of the settings grid as the report sees it. A row without
// a measurement thread prints nothing but keeps its three legend places.
struct TReportResource {
    std::string Address;
    char Kind = 0;
    std::string WriteColor;  // colour texts of the grid's columns 6 and 7
    std::string ReadColor;
    bool HasThread = true;
    std::array<TTrendDaySlot, kTrendSlotsPerDay> Day{};  // index 0 is slot 1
};

struct TReportInput {
    int PageWidth = 0;                       // W: printable width in device pixels
    double PageWidthMm = 0;                  // mm: the paper width in millimetres (> 0)
    double Scale = 1;                        // S: the trend view's full-scale value in KBps
    int FromSlot = 0;                        // a
    int TillSlot = 96;                       // b
    bool HGrid = true;                       // HTrendGrdBtn is down
    bool VGrid = true;                       // VTrendGrdBtn is down
    double Today = 0;                        // the report date (date-time, days since 1899-12-30)
    std::string DateCaption;                 // the trend view's date caption
    std::vector<TReportResource> Resources;  // rows 1..N in order
};

struct TTextSize {
    int Width = 0;
    int Height = 0;
};
// The size of a text on the page: in the printer canvas's own font for
// point size 0, otherwise in the edit-line font at that point size.
using TMeasureText = std::function<TTextSize(std::string_view text, int pointSize)>;

enum class TReportPenStyle { Solid, Dash, Dot, DashDot };
struct TReportPen {
    int Width = 1;
    TReportPenStyle Style = TReportPenStyle::Solid;
    std::string Color;  // colour text; empty is black
    bool operator==(const TReportPen&) const = default;
};
struct TReportPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TReportPoint&) const = default;
};
struct TReportLine {
    TReportPen Pen;
    TReportPoint From, To;
};
struct TReportPolyline {
    TReportPen Pen;
    std::vector<TReportPoint> Points;
};
// Text in black, in the edit-line font at PointSize; (X, Y) is the top left
// of its text cell.
struct TReportText {
    int PointSize = 0;
    TReportPoint At;
    std::string Text;
};
using TReportItem = std::variant<TReportLine, TReportPolyline, TReportText>;

// The page geometry the items are placed by.
struct TReportMetrics {
    double U = 0;  // pixels per millimetre
    int M = 0, L = 0, C = 0, H = 0, D = 0, X0 = 0;
    int ChartTop = 0;    // Y of the chart frame's top edge
    double G = 0;        // distance of the horizontal grid lines
    int LegendTop = 0;   // T
    int LineHeight = 0;  // h: height of "1" at 8 points
};

// Minimum, maximum and average of one series over the slots that take part.
struct TSeriesStats {
    double Min = 0, Max = 0, Average = 0;
};

struct TTrendReport {
    TReportMetrics Metrics;
    std::vector<TReportItem> Items;
};

// Rows 1..N of the settings grid with the day holding `date` read from the
// trend file; without a file every slot is empty.
std::vector<TReportResource> ReportResources(const TResourceTable& table, const TTrendFile* file,
                                             double date);

// "December 10, 2026": English month names whatever the locale.
std::string ReportDateText(double date);

// The slots that take part in a period from a till b: max(a, 1) to
// min(b, 96). With none, every statistic is 0.
TSeriesStats SeriesStats(const std::array<TTrendDaySlot, kTrendSlotsPerDay>& day,
                         double TTrendDaySlot::*value, int fromSlot, int tillSlot);

// `"host"  read speed. Min. =     12.34, Max. = ..., Average = ...`, the
// numbers "%9.2f", the whole line cut to 255 characters.
std::string LegendText(const std::string& address, std::string_view words,
                       const TSeriesStats& stats);

// The whole page. The input's mm must be positive (a width of 0 prints
// nothing, which the caller decides before starting a document).
TTrendReport LayOutTrendReport(const TReportInput& input, const TMeasureText& measure);

}  // namespace tarvik
