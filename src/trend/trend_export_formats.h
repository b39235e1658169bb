// The companion's machine-readable exports of one day's trend: RFC 4180 CSV
// and JSON, one record per quarter hour, resource and measured direction
// (write and read for directories, read for files, ping for hosts). Host
// records also carry the link quality of their quarter hour: loss (the
// fraction of echoes lost, 0 to 1), the median and 95th percentile of the
// round trips and the jitter, in ms; empty (CSV) or null (JSON) where the
// side file has no data or a value is undefined.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "trend/trend_file.h"

namespace tarvik {

struct TExportResource {
    std::string Address;
    char Kind = 0;
    std::array<TTrendDaySlot, kTrendSlotsPerDay> Day{};  // index 0 is slot 1
    TQualityDay Quality{};                               // hosts; index 0 is slot 1
};

// Slots fromSlot + 1 .. tillSlot (at most 96) of the day; the record time is
// the end of the slot in local time, "2026-12-09T00:15:00", the last slot
// "2026-12-10T00:00:00". A slot without a record gives no record.
std::string FormatTrendCsv(const std::vector<TExportResource>& resources, std::chrono::year_month_day day,
                           int fromSlot, int tillSlot);
std::string FormatTrendJson(const std::vector<TExportResource>& resources, std::chrono::year_month_day day,
                            int fromSlot, int tillSlot);

// "2026-12-09" (a real calendar day); nullopt otherwise.
std::optional<std::chrono::year_month_day> ParseExportDay(const std::string& text);
// "HH:MM" on the quarter-hour grid, 00:00 to 24:00, as its slot number
// (hours × 4 + minutes ÷ 15); nullopt otherwise.
std::optional<int> ParseExportTime(const std::string& text);

}  // namespace tarvik
