// The current measurements as a Prometheus text exposition (format 0.0.4):
// one gauge per measured direction, probe health, cycle counters and the
// last echo round trip of hosts. Qt-free; the metrics server and the tests
// call it with rows copied from the measuring threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct TMetricRow {
    std::string Resource;  // the resource's address as the user wrote it
    char Kind = 0;         // '1' drive, '2' file, '3' host; other kinds are left out
    double WriteSpeed = 0;
    double ReadSpeed = 0;
    double PingSpeed = 0;
    bool Up = false;  // the last cycle produced a speed
    std::uint64_t Cycles = 0;
    double RoundTripSeconds = -1;  // hosts: the last echo round trip; negative: none yet
};

// "drive", "file", "host"; empty for a kind that is not measured.
std::string_view MetricKindName(char kind);
// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);
// The whole page, HELP and TYPE lines first for each metric family.
std::string FormatMetrics(const std::vector<TMetricRow>& rows, std::string_view version);

}  // namespace tarvik
