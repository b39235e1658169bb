#include "trend/trend_export_formats.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace tarvik {
namespace {

struct TExportItem {
    const char* Direction;
    double TTrendDaySlot::*Value;
};

// The measured directions of a kind, in the order they are written.
std::vector<TExportItem> Directions(char kind) {
    switch (kind) {
        case '1':
            return {{"write", &TTrendDaySlot::Write}, {"read", &TTrendDaySlot::Read}};
        case '2':
            return {{"read", &TTrendDaySlot::Read}};
        case '3':
            return {{"ping", &TTrendDaySlot::Ping}};
        default:
            return {};
    }
}

const char* KindName(char kind) {
    switch (kind) {
        case '1':
            return "drive";
        case '2':
            return "file";
        default:
            return "host";
    }
}

std::string SlotTime(std::chrono::year_month_day day, int slot) {
    using namespace std::chrono;
    const int minutes = slot * 15;
    const year_month_day d{sys_days(day) + days(minutes / 1440)};
    const int m = minutes % 1440;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:00", static_cast<int>(d.year()),
                  static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()), m / 60, m % 60);
    return buf;
}

std::string Kbps(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", v);  // the C locale's point: nothing here sets a locale
    return buf;
}

// Link-quality fields of a host record, in their order: empty where unknown.
std::array<std::string, 4> QualityFields(const std::optional<TLinkQuality>& q) {
    std::array<std::string, 4> out;
    if (!q) return out;
    const auto fixed = [](std::optional<double> v, const char* format, double scale) {
        if (!v) return std::string();
        char buf[64];
        std::snprintf(buf, sizeof buf, format, *v * scale);
        return std::string(buf);
    };
    out[0] = fixed(q->Loss(), "%.4f", 1);
    out[1] = fixed(q->PercentileUs(0.50), "%.3f", 1e-3);
    out[2] = fixed(q->PercentileUs(0.95), "%.3f", 1e-3);
    out[3] = fixed(q->JitterUs(), "%.3f", 1e-3);
    return out;
}

constexpr const char* QualityNames[4] = {"loss", "rtt_p50_ms", "rtt_p95_ms", "jitter_ms"};

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + '"';
}

template <class F>
void ForEachRecord(const std::vector<TExportResource>& resources, int fromSlot, int tillSlot, F&& f) {
    const int first = std::max(fromSlot + 1, 1);
    const int last = std::min(tillSlot, kTrendSlotsPerDay);
    for (int slot = first; slot <= last; ++slot)
        for (const TExportResource& r : resources) {
            const TTrendDaySlot& s = r.Day[static_cast<std::size_t>(slot - 1)];
            if (!s.Found) continue;  // no record: nothing to report, not a zero speed
            const auto& q = r.Quality[static_cast<std::size_t>(slot - 1)];
            for (const TExportItem& d : Directions(r.Kind)) f(slot, r, d.Direction, s.*d.Value, q);
        }
}

}  // namespace

std::string FormatTrendCsv(const std::vector<TExportResource>& resources, std::chrono::year_month_day day,
                           int fromSlot, int tillSlot) {
    std::string out = "time,resource,kind,direction,kbps,loss,rtt_p50_ms,rtt_p95_ms,jitter_ms\r\n";
    ForEachRecord(resources, fromSlot, tillSlot,
                  [&](int slot, const TExportResource& r, const char* direction, double v,
                      const std::optional<TLinkQuality>& q) {
                      out += SlotTime(day, slot) + ',' + CsvField(r.Address) + ',' + KindName(r.Kind) + ',' +
                             direction + ',' + Kbps(v);
                      for (const std::string& field : QualityFields(r.Kind == '3' ? q : std::nullopt))
                          out += ',' + field;
                      out += "\r\n";
                  });
    return out;
}

std::string FormatTrendJson(const std::vector<TExportResource>& resources, std::chrono::year_month_day day,
                            int fromSlot, int tillSlot) {
    std::string out = "[";
    bool first = true;
    ForEachRecord(resources, fromSlot, tillSlot,
                  [&](int slot, const TExportResource& r, const char* direction, double v,
                      const std::optional<TLinkQuality>& q) {
                      out += first ? "\n  " : ",\n  ";
                      first = false;
                      out += "{\"time\": " + JsonString(SlotTime(day, slot)) +
                             ", \"resource\": " + JsonString(r.Address) + ", \"kind\": \"" + KindName(r.Kind) +
                             "\", \"direction\": \"" + direction + "\", \"kbps\": " + Kbps(v);
                      if (r.Kind == '3') {
                          const auto fields = QualityFields(q);
                          for (std::size_t i = 0; i < fields.size(); ++i)
                              out += std::string(", \"") + QualityNames[i] +
                                     "\": " + (fields[i].empty() ? "null" : fields[i]);
                      }
                      out += "}";
                  });
    out += first ? "]\n" : "\n]\n";
    return out;
}

std::optional<std::chrono::year_month_day> ParseExportDay(const std::string& text) {
    int y = 0;
    unsigned m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &tail) != 3)
        return std::nullopt;
    for (const std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(m), std::chrono::day(d)};
    if (!ymd.ok()) return std::nullopt;
    return ymd;
}

std::optional<int> ParseExportTime(const std::string& text) {
    if (text.size() != 5 || text[2] != ':') return std::nullopt;
    for (const std::size_t i : {0u, 1u, 3u, 4u})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const int h = (text[0] - '0') * 10 + (text[1] - '0');
    const int m = (text[3] - '0') * 10 + (text[4] - '0');
    if (m % 15 != 0 || m > 45 || h > 24 || (h == 24 && m != 0)) return std::nullopt;
    return h * 4 + m / 15;
}

}  // namespace tarvik
