#include "cli/cli_export.h"

#include <sys/stat.h>

#include <cstdio>

#include "engine/resource_table.h"
#include "platform/clock.h"
#include "setup/config_file.h"
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
    const TTrendFile trend(paths.TrendDataFile(), paths.TrendIndexFile(), SystemClock());
    std::vector<TExportResource> resources;
    const double date = DayNumber(request.Day);
    for (int r = 1; r < table.RowCount(); ++r) {
        TExportResource res;
        res.Address = table.Cell(colAddress, r);
        const std::string& kind = table.Cell(colKind, r);
        res.Kind = kind.empty() ? '\0' : kind.front();
        res.Day = trend.ReadDay(res.Address, date);
        resources.push_back(std::move(res));
    }
    if (request.Format == "csv")
        text = FormatTrendCsv(resources, request.Day, request.FromSlot, request.TillSlot);
    else if (request.Format == "json")
        text = FormatTrendJson(resources, request.Day, request.FromSlot, request.TillSlot);
    else
        text = FormatTrendTsv(resources, request.Day, request.FromSlot, request.TillSlot);
    return true;
}

}  // namespace tarvik
