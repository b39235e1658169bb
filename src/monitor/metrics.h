// The current measurements as a Prometheus text exposition (format 0.0.4):
// one gauge per measured direction, probe health, cycle counters and, for
// hosts, echoes sent and lost, the last round trip and a round-trip histogram. Qt-free; the metrics server and the tests
// call it with rows copied from the measuring threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "trend/link_quality.h"

namespace tarvik {

class TPingThread;
class TResourceTable;

struct TMetricRow {
    std::string Resource;  // the resource's address as the user wrote it
    char Kind = 0;         // '1' drive, '2' file, '3' host; other kinds are left out
    double WriteSpeed = 0;
    double ReadSpeed = 0;
    double PingSpeed = 0;
    bool Up = false;  // the last cycle produced a speed
    std::uint64_t Cycles = 0;
    double RoundTripSeconds = -1;  // hosts: the last echo round trip; negative: none yet
    TLinkQuality Echoes;           // hosts: every echo since the thread started
};

// "drive", "file", "host"; empty for a kind that is not measured.
std::string_view MetricKindName(char kind);
// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);
// The whole page, HELP and TYPE lines first for each metric family.
std::string FormatMetrics(const std::vector<TMetricRow>& rows, std::string_view version);

// What the metrics page reads, kept apart from the settings grid so that the
// server's threads never touch the grid: the owner of the grid (the window or
// the companion's session) publishes its rows whenever they change and
// reports each display update; Rows() copies the measurements from any thread.
class TMetricsSource {
public:
    // Owner's thread: the rows of the grid (with their threads) changed.
    void Publish(const TResourceTable& table);
    // Owner's thread: the row's speed cells were just written. Returns true
    // when the row's status changed (its first result, a speed after a
    // failure, a failure after speeds, another failure text).
    bool CellsShown(const TResourceTable& table, int row);
    // Owner's thread: nothing is served any more.
    void Clear();
    // Any thread.
    std::vector<TMetricRow> Rows() const;

private:
    struct TStats {
        std::atomic<bool> Up{false};
        bool Seen = false;       // owner's thread only
        std::string LastStatus;  // owner's thread only
    };
    struct TPublished {
        std::string Resource;
        char Kind = 0;
        std::shared_ptr<TPingThread> Thread;
        std::shared_ptr<TStats> Stats;
    };
    // The owner's thread only: each row's state by its thread, so that a row
    // keeps its state when rows move.
    std::unordered_map<const TPingThread*, std::shared_ptr<TStats>> ByThread_;

    mutable std::mutex M_;
    std::shared_ptr<const std::vector<TPublished>> Rows_;
};

}  // namespace tarvik
