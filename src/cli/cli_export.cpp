#include "cli/cli_export.h"

#include <sys/stat.h>

#include <cstdio>

#include "engine/resource_table.h"
#include "platform/clock.h"
#include "setup/config_file.h"
#include "trend/trend_chart.h"
#include "trend/trend_day.h"
#include "trend/trend_export.h"
#include "trend/trend_export_formats.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

// The trend file's day number: days since 30 December 1899.
double DayNumber(std::chrono::year_month_day day) {
    using namespace std::chrono;
    return static_cast<double>((sys_days(day) - sys_days(year(1899) / December / 30)).count());
}

}  // namespace

bool BuildExport(const TProgramPaths& paths, const TExportRequest& request, std::string& text,
                 std::string& error) {
    const std::string config = paths.ConfigFile();
    struct stat st {};
    if (::stat(config.c_str(), &st) != 0) {
        error = "no configuration file " + config;
        return false;
    }
    TResourceTable table;
    TWindowSettings settings;
    std::string readError;
    TConfigLoadHooks hooks;
    hooks.ShowReadError = [&readError](const std::string& t) { readError = t; };
    if (!ReadParametersFile(config, false, table, settings, hooks)) {
        for (char& c : readError)
            if (c == '\r' || c == '\n') c = ' ';
        error = readError.empty() ? "cannot use the configuration file " + config : readError;
        return false;
    }
    // Read without the lock: a running window keeps the files locked, and its
    // records reach the data file before the index names them.
    const TTrendFile trend(paths.TrendDataFile(), paths.TrendIndexFile(), SystemClock(),
                           TTrendFile::TAccess::ReadShared);
    const double date = DayNumber(request.Day);
    std::vector<std::string> names;
    std::vector<TExportResource> resources;
    for (int r = 1; r < table.RowCount(); ++r) {
        TExportResource res;
        res.Address = table.Cell(colAddress, r);
        const std::string& kind = table.Cell(colKind, r);
        res.Kind = kind.empty() ? '\0' : kind.front();
        names.push_back(res.Address);
        resources.push_back(std::move(res));
    }
    const std::vector<TTrendDay> days = ReadTrendDay(trend, names, date);
    for (std::size_t i = 0; i < resources.size(); ++i) resources[i].Day = days[i];
    if (request.Format == "csv" || request.Format == "json") {
        // The hosts' link quality; a directory without the side file has none.
        const TQualityFile quality(paths.QualityFile(), TQualityFile::TAccess::ReadShared);
        const std::vector<TQualityDay> q = ReadQualityDay(quality, names, date);
        for (std::size_t i = 0; i < resources.size(); ++i)
            if (resources[i].Kind == '3') resources[i].Quality = q[i];
    }

    if (request.Format == "csv") {
        text = FormatTrendCsv(resources, request.Day, request.FromSlot, request.TillSlot);
    } else if (request.Format == "json") {
        text = FormatTrendJson(resources, request.Day, request.FromSlot, request.TillSlot);
    } else {
        // The window's export table, through the same code.
        std::vector<std::array<TDayValues, 3>> values(resources.size());
        std::vector<TTrendRow> rows;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            auto& [write, read, ping] = values[i];
            for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
                const TTrendDaySlot& slot = days[i][static_cast<std::size_t>(p - 1)];
                write[static_cast<std::size_t>(p)] = slot.Found ? slot.Write : 0;
                read[static_cast<std::size_t>(p)] = slot.Found ? slot.Read : 0;
                ping[static_cast<std::size_t>(p)] = slot.Found ? slot.Ping : 0;
            }
            rows.push_back({resources[i].Address, resources[i].Kind, {}, {}, &write, &read, &ping});
        }
        text = ExportText(BuildExportTable(TrendDateCaption(date), rows, request.FromSlot, request.TillSlot));
    }
    return true;
}

}  // namespace tarvik
