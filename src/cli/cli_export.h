// The companion's export command: one day's trend of the configured
// resources, read from the trend files of the program directory.
#pragma once

#include <chrono>
#include <string>

#include "platform/program_dir.h"

namespace tarvik {

struct TExportRequest {
    std::chrono::year_month_day Day{};
    int FromSlot = 0;   // 00:00
    int TillSlot = 96;  // 24:00
    std::string Format = "tsv";
};

// Fills text with the export; false with a one-line reason when the
// configuration cannot be used.
bool BuildExport(const TProgramPaths& paths, const TExportRequest& request, std::string& text,
                 std::string& error);

}  // namespace tarvik
