#include "monitor/chart_geometry.h"

#include <algorithm>
#include <cmath>

#include "engine/resource_table.h"
#include "engine/speed_text.h"

namespace tarvik {
namespace {

// Far outside any image, yet safe to convert and to compare with.
constexpr double kFarOutside = 1e15;

// A scale that cannot be divided by (zero, negative, NaN from a damaged
// setting) is taken as the smallest step rather than filling the chart
// with infinities.
double UsableScale(double scale) { return scale > 0 ? scale : MinScale; }

// The limits also catch what a damaged setting would step into (0, negative).
double KeepInRange(double scale) {
    if (!(scale >= MinScale)) return MinScale;  // also NaN
    return std::min(scale, MaxScale);
}

// First decimal digit of a whole non-negative number's text.
char FirstDigit(double value) {
    const std::string text = FormatFixed(value, 0, 0);
    for (const char c : text)
        if (c >= '0' && c <= '9') return c;
    return '0';
}

}  // namespace

double RoundHalfEven(double value) {
    // nearbyint follows the default rounding mode, round-to-nearest-even.
    return std::nearbyint(value);
}

std::array<int, HistorySize + 1> ChartPointsX(int width) {
    std::array<int, HistorySize + 1> xs{};
    for (int i = 1; i <= HistorySize; ++i)
        xs[i] = static_cast<int>(RoundHalfEven(i * width * 0.01));
    return xs;
}

long long ChartYUnclamped(double value, double scale, int height) {
    if (std::isnan(value)) value = 0;
    const double y = height - RoundHalfEven(height / UsableScale(scale) * value);
    return static_cast<long long>(std::clamp(y, -kFarOutside, kFarOutside));
}

int ChartY(double value, double scale, int height) {
    const long long y = ChartYUnclamped(value, scale, height);
    if (y >= height) return height - 1;
    if (y < 0) return 0;
    return static_cast<int>(y);
}

std::vector<TSeriesSpec> SeriesOfKind(char kind) {
    switch (kind) {
        case '1':
            return {{TQuantity::Write, colWriteColor}, {TQuantity::Read, colReadColor}};
        case '2':
            return {{TQuantity::Read, colReadColor}};
        case '3':
            return {{TQuantity::Ping, colReadColor}};
        default:
            return {};
    }
}

const THistory& HistoryOf(const TResultsSnapshot& results, TQuantity quantity) {
    switch (quantity) {
        case TQuantity::Write:
            return results.WriteHistory;
        case TQuantity::Read:
            return results.ReadHistory;
        case TQuantity::Ping:
            break;
    }
    return results.PingHistory;
}

std::optional<double> CurrentValue(char kind, const TResultsSnapshot& results) {
    if (kind == '1' || kind == '2') return results.ReadHistory[HistorySize];
    if (kind == '3') return results.PingHistory[HistorySize];
    return std::nullopt;
}

std::vector<int> HorizontalGridY(int height) {
    std::vector<int> ys;
    const double step = height * 0.2;
    for (int k = 1; k <= 5; ++k) ys.push_back(height - static_cast<int>(RoundHalfEven(step * k)));
    return ys;
}

std::vector<int> VerticalGridX(int width) {
    std::vector<int> xs;
    for (int x = 1; x <= width; ++x)
        if (x == 1 || x % 20 == 0) xs.push_back(x);
    return xs;
}

std::array<TLegendLabel, 4> LegendLabels(double scale, int height) {
    std::array<TLegendLabel, 4> labels;
    for (int i = 1; i <= 4; ++i)
        labels[i - 1] = {FormatFixed(scale * 0.2 * i, 6, 1),
                         height - static_cast<int>(RoundHalfEven(0.2 * height * i))};
    return labels;
}

double ScaleStepUp(double scale) {
    scale = RoundHalfEven(scale * 2);
    if (FirstDigit(scale) == '4') scale = RoundHalfEven(scale * 1.25);
    return KeepInRange(scale);
}

double ScaleStepDown(double scale) {
    scale = RoundHalfEven(scale * 0.5);
    if (FirstDigit(scale) == '2') scale = RoundHalfEven(scale * 0.8);
    return KeepInRange(scale);
}

int LevelIconIndex(double value, double levelReference) {
    if (!(levelReference > 0) || std::isnan(value)) return 0;
    const double n = RoundHalfEven(value / (levelReference / 12));
    return static_cast<int>(std::clamp(n, 0.0, 12.0));
}

int TooltipSampleIndex(int x, int width) {
    if (width <= 0) return 1;
    const double i = RoundHalfEven(x / (width * 0.01));
    return static_cast<int>(std::clamp(i, 1.0, static_cast<double>(HistorySize)));
}

std::string ValueText(const std::string& address, const char* label, double value) {
    return "\"" + address + "\" " + label + " " + FormatFixed(value, 9, 2) + " KBps";
}

std::optional<std::string> ValueTooltip(const std::vector<TChartRow>& rows, int x, int y,
                                        double scale, int width, int height) {
    const int i = TooltipSampleIndex(x, width);
    const auto near = [&](double value) {
        const long long sy = ChartYUnclamped(value, scale, height);
        return y - 1 <= sy && sy <= y + 1;
    };
    for (const TChartRow& row : rows) {
        std::optional<std::string> text;
        for (const TSeriesSpec& s : SeriesOfKind(row.Kind)) {
            const double v = HistoryOf(row.Results, s.Quantity)[i];
            if (!near(v)) continue;
            // Later series of the row replace earlier ones: read over write.
            const char* label = s.Quantity == TQuantity::Write  ? "Write"
                                : s.Quantity == TQuantity::Read ? "Read"
                                                                : "Ping";
            text = ValueText(row.Address, label, v);
        }
        if (text) return text;
    }
    return std::nullopt;
}

THintRect HintPlacement(int cursorX, int cursorY, int textWidth, int textHeight, int screenLeft,
                        int screenTop, int screenWidth, int screenHeight, int cursorSize) {
    THintRect r{cursorX + cursorSize / 3, cursorY + cursorSize / 3, textWidth + 6, textHeight + 4};
    const int screenRight = screenLeft + screenWidth;
    const int screenBottom = screenTop + screenHeight;
    if (r.Top + r.Height > screenBottom) r.Top = screenBottom - r.Height;
    if (r.Left + r.Width >= screenRight) r.Left = screenRight - r.Width;
    if (r.Left < screenLeft) r.Left = screenLeft;
    return r;
}

std::string ApplicationTitle(const TResourceTable& table, int selectedRow) {
    if (table.RowCount() < 2 || selectedRow < 1 || selectedRow >= table.RowCount()) return "Tarvik";
    // The kind is its first character, as the measuring thread reads it.
    const std::string& kind = table.Cell(colKind, selectedRow);
    const bool readKind = !kind.empty() && (kind[0] == '1' || kind[0] == '2');
    std::string value = table.Cell(readKind ? colReadText : colPingText, selectedRow);
    if (value.empty()) value = "0.0";
    value.erase(0, value.find_first_not_of(' '));
    return "\"" + table.Cell(colAddress, selectedRow) + "\" " + (readKind ? " Read " : " Ping ") +
           value;
}

}  // namespace tarvik
