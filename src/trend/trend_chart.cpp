#include "trend/trend_chart.h"

#include <algorithm>
#include <cmath>

#include "engine/resource_table.h"
#include "engine/speed_text.h"
#include "platform/date_time.h"
#include "trend/trend_day.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

constexpr double kFarOutside = 1e15;

// A scale that cannot be divided by (a damaged setting) counts as 1.
double UsableScale(double scale) { return scale > 0 ? scale : 1.0; }

const TDayValues& ValuesOf(const TTrendRow& row, TQuantity q) {
    switch (q) {
        case TQuantity::Write:
            return *row.Write;
        case TQuantity::Read:
            return *row.Read;
        case TQuantity::Ping:
        default:
            return *row.Ping;
    }
}

const char* const kMonths[12] = {"January",   "February", "March",    "April",
                                 "May",       "June",     "July",     "August",
                                 "September", "October",  "November", "December"};
const char* const kWeekdays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

std::vector<TTrendRow> TrendRowsOf(TResourceTable& table) {
    std::vector<TTrendRow> rows;
    for (int r = 1; r < table.RowCount(); ++r) {
        TTrendRow row;
        row.Address = table.Cell(colAddress, r);
        const std::string& kind = table.Cell(colKind, r);
        row.Kind = kind.empty() ? 0 : kind[0];
        row.WriteColor = table.Cell(colWriteColor, r);
        row.ReadColor = table.Cell(colReadColor, r);
        if (const auto& thread = table.Thread(r)) {
            row.Write = &thread->DayWrite;
            row.Read = &thread->DayRead;
            row.Ping = &thread->DayPing;
            row.Quality = &thread->DayQuality;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void LoadTrendDay(const TTrendFile* file, const std::vector<TTrendRow>& rows, double date) {
    std::vector<std::string> names;
    std::vector<const TTrendRow*> shown;
    for (const TTrendRow& row : rows) {
        if (!row.HasThread()) continue;
        names.push_back(row.Address);
        shown.push_back(&row);
    }
    std::vector<TTrendDay> days =
        file ? ReadTrendDay(*file, names, date) : std::vector<TTrendDay>(names.size());
    const std::vector<TQualityDay> quality =
        file ? file->ReadQualityDay(names, date) : std::vector<TQualityDay>(names.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const TTrendRow& row = *shown[i];
        (*row.Write)[0] = (*row.Read)[0] = (*row.Ping)[0] = 0;
        for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
            const TTrendDaySlot& slot = days[i][static_cast<std::size_t>(p - 1)];
            (*row.Write)[p] = slot.Found ? slot.Write : 0;
            (*row.Read)[p] = slot.Found ? slot.Read : 0;
            (*row.Ping)[p] = slot.Found ? slot.Ping : 0;
        }
        if (row.Quality) {
            row.Quality->fill({});
            if (row.Kind == '3')
                for (int p = 1; p <= kTrendSlotsPerDay; ++p)
                    if (const auto& q = quality[i][static_cast<std::size_t>(p - 1)])
                        (*row.Quality)[static_cast<std::size_t>(p)] = SummarizeQuality(*q);
        }
    }
}

int TrendPointX(int width, int slot) {
    return static_cast<int>(RoundHalfEven(width * static_cast<double>(slot) / kTrendSlotsPerDay));
}

long long TrendYUnclamped(double value, double scale, int base) {
    if (std::isnan(value)) value = 0;
    const double y = base - 1 - RoundHalfEven(base / UsableScale(scale) * value);
    return static_cast<long long>(std::clamp(y, -kFarOutside, kFarOutside));
}

int TrendY(double value, double scale, int base) {
    const long long y = TrendYUnclamped(value, scale, base);
    // Negative values (never measured, but a damaged record may hold one)
    // stay inside the picture as well.
    return static_cast<int>(std::clamp<long long>(y, 0, 1 << 20));
}

std::vector<int> TrendHourX(int width) {
    std::vector<int> xs;
    for (int i = 0; i < 24; ++i) xs.push_back(static_cast<int>(RoundHalfEven(i * width / 24.0)));
    return xs;
}

std::array<THourLabel, 7> TrendHourLabels(int width) {
    std::array<THourLabel, 7> labels;
    for (int i = 1; i <= 7; ++i)
        labels[static_cast<std::size_t>(i - 1)] = {
            std::to_string(3 * i) + ":00", static_cast<int>(RoundHalfEven(i * width / 8.0))};
    return labels;
}

std::vector<int> TrendHGridY(int base) {
    std::vector<int> ys;
    for (int k = 1; k <= 5; ++k)
        ys.push_back(base - static_cast<int>(RoundHalfEven(0.2 * base * k)));
    return ys;
}

TTrendPicture TrendPicture(const std::vector<TTrendRow>& rows, int width, int height, double scale,
                           bool hGrid, bool vGrid) {
    TTrendPicture pic;
    pic.Width = width;
    pic.Height = height;
    pic.Base = TrendBaseOf(height);
    pic.TickX = TrendHourX(width);
    pic.HourLabels = TrendHourLabels(width);
    std::array<int, 97> xs{};
    for (int p = 1; p <= kTrendSlotsPerDay; ++p)
        xs[static_cast<std::size_t>(p)] = TrendPointX(width, p);
    for (const TTrendRow& row : rows) {
        if (!row.HasThread()) continue;
        for (const TSeriesSpec& item : SeriesOfKind(row.Kind)) {
            TTrendPolyline line;
            line.Quantity = item.Quantity;
            line.ColorText = item.ColorColumn == colWriteColor ? row.WriteColor : row.ReadColor;
            const TDayValues& values = ValuesOf(row, item.Quantity);
            for (int p = 1; p <= kTrendSlotsPerDay; ++p)
                line.Points[static_cast<std::size_t>(p - 1)] = {
                    xs[static_cast<std::size_t>(p)],
                    TrendY(values[static_cast<std::size_t>(p)], scale, pic.Base)};
            pic.Series.push_back(std::move(line));
        }
    }
    if (hGrid) pic.HGridY = TrendHGridY(pic.Base);
    if (vGrid) pic.VGridX = pic.TickX;
    return pic;
}

std::string TrendDateCaption(double date) {
    const int days = static_cast<int>(std::floor(date));
    int y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    // Day 0, 30 December 1899, was a Saturday.
    const int weekday = ((days + 6) % 7 + 7) % 7;
    return std::string(kMonths[(m - 1) % 12]) + " " + std::to_string(d) + ", " + std::to_string(y) +
           ", " + kWeekdays[weekday];
}

bool TrendNextDayEnabled(double now, double trendDate) { return std::floor(now) > trendDate; }

int TrendTooltipSlot(int x, int width) {
    if (width <= 0) return 1;
    const double p = RoundHalfEven(x / (width / static_cast<double>(kTrendSlotsPerDay)));
    return static_cast<int>(std::clamp(p, 1.0, static_cast<double>(kTrendSlotsPerDay)));
}

std::optional<std::string> TrendTooltip(const std::vector<TTrendRow>& rows, int x, int y, int width,
                                        int height, double scale) {
    const int p = TrendTooltipSlot(x, width);
    const int base = TrendBaseOf(height);
    const auto near = [&](const TDayValues& v) {
        const long long vy = TrendYUnclamped(v[static_cast<std::size_t>(p)], scale, base);
        return vy >= y - 1 && vy <= y + 1;
    };
    const auto text = [&](const TTrendRow& row, const char* label, const TDayValues& v) {
        return "\"" + row.Address + "\", " + label + " - " +
               FormatSpeed(v[static_cast<std::size_t>(p)]) + ", ";
    };
    for (const TTrendRow& row : rows) {
        if (!row.HasThread()) continue;
        std::string found;
        if (row.Kind == '1' && near(*row.Write)) found = text(row, "Write", *row.Write);
        if ((row.Kind == '1' || row.Kind == '2') && near(*row.Read))
            found = text(row, "Read", *row.Read);
        if (row.Kind == '3' && near(*row.Ping)) found = text(row, "Ping", *row.Ping);
        if (found.empty()) continue;
        const int minutes = p * 15;
        found += TwoDigits(minutes / 60 % 24) + ":" + TwoDigits(minutes % 60);
        if (row.Kind == '3' && row.Quality) {
            const std::string line = QualityTooltipLine((*row.Quality)[static_cast<std::size_t>(p)]);
            if (!line.empty()) found += "\n" + line;
        }
        return found;
    }
    return std::nullopt;
}

}  // namespace tarvik
