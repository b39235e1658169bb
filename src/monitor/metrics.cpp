#include "monitor/metrics.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include "engine/ping_thread.h"
#include "engine/resource_table.h"

namespace tarvik {
namespace {

// Sample values in the shortest form that reads back exactly; the format
// spells the special values NaN, +Inf and -Inf.
void AppendValue(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v > 0 ? "+Inf" : "-Inf";
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendValue(std::string& out, std::uint64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void Labels(std::string& out, const TMetricRow& row, bool withKind, std::string_view direction = {}) {
    out += "{resource=\"";
    out += EscapeLabelValue(row.Resource);
    out += '"';
    if (withKind) {
        out += ",kind=\"";
        out += MetricKindName(row.Kind);
        out += '"';
    }
    if (!direction.empty()) {
        out += ",direction=\"";
        out += direction;
        out += '"';
    }
    out += "} ";
}

}  // namespace

std::string_view MetricKindName(char kind) {
    switch (kind) {
        case '1':
            return "drive";
        case '2':
            return "file";
        case '3':
            return "host";
        default:
            return {};
    }
}

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string FormatMetrics(const std::vector<TMetricRow>& rows, std::string_view version) {
    std::string out;
    out.reserve(256 + rows.size() * 400);  // hosts grow it once for their histogram

    Family(out, "tarvik_speed_kbps", "gauge",
           "Current transfer speed of a resource in kilobytes (1024 bytes) per second.");
    for (const TMetricRow& r : rows) {
        if (MetricKindName(r.Kind).empty()) continue;
        if (r.Kind == '1') {
            out += "tarvik_speed_kbps";
            Labels(out, r, true, "write");
            AppendValue(out, r.WriteSpeed);
            out += '\n';
        }
        if (r.Kind == '1' || r.Kind == '2') {
            out += "tarvik_speed_kbps";
            Labels(out, r, true, "read");
            AppendValue(out, r.ReadSpeed);
            out += '\n';
        }
        if (r.Kind == '3') {
            out += "tarvik_speed_kbps";
            Labels(out, r, true, "ping");
            AppendValue(out, r.PingSpeed);
            out += '\n';
        }
    }

    Family(out, "tarvik_probe_up", "gauge",
           "1 while the last measuring cycle of the resource produced a speed, else 0.");
    for (const TMetricRow& r : rows) {
        if (MetricKindName(r.Kind).empty()) continue;
        out += "tarvik_probe_up";
        Labels(out, r, true);
        out += r.Up ? "1\n" : "0\n";
    }

    Family(out, "tarvik_cycles_total", "counter", "Measuring cycles of the resource since start.");
    for (const TMetricRow& r : rows) {
        if (MetricKindName(r.Kind).empty()) continue;
        out += "tarvik_cycles_total";
        Labels(out, r, true);
        AppendValue(out, r.Cycles);
        out += '\n';
    }

    Family(out, "tarvik_echo_sent_total", "counter", "Echo requests a host was sent since start.");
    for (const TMetricRow& r : rows) {
        if (r.Kind != '3') continue;
        out += "tarvik_echo_sent_total";
        Labels(out, r, false);
        AppendValue(out, r.Echoes.Cycles);
        out += '\n';
    }

    Family(out, "tarvik_echo_lost_total", "counter",
           "Echo requests of a host without a valid reply (time-out, error) since start.");
    for (const TMetricRow& r : rows) {
        if (r.Kind != '3') continue;
        out += "tarvik_echo_lost_total";
        Labels(out, r, false);
        AppendValue(out, r.Echoes.Lost);
        out += '\n';
    }

    // The histogram owns the name tarvik_rtt_seconds; the last round trip
    // is a gauge of its own.
    Family(out, "tarvik_rtt_last_seconds", "gauge", "Round trip of the last valid echo of a host, in seconds.");
    for (const TMetricRow& r : rows) {
        if (r.Kind != '3' || r.RoundTripSeconds < 0) continue;
        out += "tarvik_rtt_last_seconds";
        Labels(out, r, false);
        AppendValue(out, r.RoundTripSeconds);
        out += '\n';
    }

    Family(out, "tarvik_rtt_seconds", "histogram",
           "Round trips of the valid echoes of a host since start, in seconds.");
    for (const TMetricRow& r : rows) {
        if (r.Kind != '3') continue;
        const std::string labels = "{resource=\"" + EscapeLabelValue(r.Resource) + "\",le=\"";
        std::uint64_t cumulative = 0;
        for (std::size_t k = 0; k < kRttBucketBounds; ++k) {
            cumulative += r.Echoes.Buckets[k];
            out += "tarvik_rtt_seconds_bucket";
            out += labels;
            AppendValue(out, RttBucketBoundUs(k) / 1e6);
            out += "\"} ";
            AppendValue(out, cumulative);
            out += '\n';
        }
        out += "tarvik_rtt_seconds_bucket";
        out += labels;
        out += "+Inf\"} ";
        AppendValue(out, r.Echoes.Replies());
        out += "\ntarvik_rtt_seconds_sum";
        Labels(out, r, false);
        AppendValue(out, r.Echoes.RttSumUs / 1e6);
        out += "\ntarvik_rtt_seconds_count";
        Labels(out, r, false);
        AppendValue(out, r.Echoes.Replies());
        out += '\n';
    }

    Family(out, "tarvik_build_info", "gauge", "Version of the running Tarvik; the value is 1.");
    out += "tarvik_build_info{version=\"";
    out += EscapeLabelValue(version);
    out += "\"} 1\n";
    return out;
}

namespace {

char KindOf(const TResourceTable& table, int row) {
    const std::string& kind = table.Cell(colKind, row);
    return kind.empty() ? '\0' : kind.front();
}

// The cell that carries a resource's status text: the write column for
// directories, the read column for files, the ping column for hosts.
int StatusColumn(char kind) {
    switch (kind) {
        case '1':
            return colWriteText;
        case '2':
            return colReadText;
        default:
            return colPingText;
    }
}

bool IsSpeedText(const std::string& text) {
    return text.size() >= 4 && text.compare(text.size() - 4, 4, "KBps") == 0;
}

}  // namespace

void TMetricsSource::Publish(const TResourceTable& table) {
    // A row keeps its state by its thread, wherever the row moved.
    std::unordered_map<const TPingThread*, std::shared_ptr<TStats>> old;
    old.swap(ByThread_);
    auto rows = std::make_shared<std::vector<TPublished>>();
    for (int r = 1; r < table.RowCount(); ++r) {
        const auto& thread = table.Thread(r);
        if (!thread) continue;
        const auto found = old.find(thread.get());
        std::shared_ptr<TStats> stats = found != old.end() ? found->second : std::make_shared<TStats>();
        ByThread_[thread.get()] = stats;
        rows->push_back({table.Cell(colAddress, r), KindOf(table, r), thread, std::move(stats)});
    }
    const std::lock_guard lock(M_);
    Rows_ = std::move(rows);
}

bool TMetricsSource::CellsShown(const TResourceTable& table, int row) {
    const auto& thread = table.Thread(row);
    if (!thread) return false;
    const auto found = ByThread_.find(thread.get());
    if (found == ByThread_.end()) return false;
    TStats* stats = found->second.get();
    const std::string& text = table.Cell(StatusColumn(KindOf(table, row)), row);
    const bool up = IsSpeedText(text);
    const bool changed = !stats->Seen || stats->Up != up || (!up && text != stats->LastStatus);
    stats->Up = up;
    stats->Seen = true;
    stats->LastStatus = up ? std::string() : text;
    return changed;
}

void TMetricsSource::Clear() {
    ByThread_.clear();
    const std::lock_guard lock(M_);
    Rows_.reset();
}

std::vector<TMetricRow> TMetricsSource::Rows() const {
    std::shared_ptr<const std::vector<TPublished>> rows;
    {
        const std::lock_guard lock(M_);
        rows = Rows_;
    }
    std::vector<TMetricRow> out;
    if (!rows) return out;
    out.reserve(rows->size());
    for (const TPublished& p : *rows) {
        // One copy under the thread's results lock; nothing else is held.
        const TResultsSnapshot results = p.Thread->Results();
        TMetricRow m;
        m.Resource = p.Resource;
        m.Kind = p.Kind;
        m.WriteSpeed = results.WriteSpeed;
        m.ReadSpeed = results.ReadSpeed;
        m.PingSpeed = results.PingSpeed;
        m.Up = p.Stats->Up;
        m.Cycles = p.Thread->CycleCount();
        if (m.Kind == '3') {
            m.Echoes = results.Echoes;
            if (results.LastRoundTripUs >= 0) m.RoundTripSeconds = results.LastRoundTripUs / 1e6;
        }
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace tarvik
