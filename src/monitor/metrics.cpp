#include "monitor/metrics.h"

#include <charconv>
#include <cmath>

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
    out.reserve(256 + rows.size() * 400);

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

    Family(out, "tarvik_rtt_seconds", "gauge", "Round trip of the last echo of a host, in seconds.");
    for (const TMetricRow& r : rows) {
        if (r.Kind != '3' || r.RoundTripSeconds < 0) continue;
        out += "tarvik_rtt_seconds";
        Labels(out, r, false);
        AppendValue(out, r.RoundTripSeconds);
        out += '\n';
    }

    Family(out, "tarvik_build_info", "gauge", "Version of the running Tarvik; the value is 1.");
    out += "tarvik_build_info{version=\"";
    out += EscapeLabelValue(version);
    out += "\"} 1\n";
    return out;
}

}  // namespace tarvik
