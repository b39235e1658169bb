#include "engine/speed_text.h"

#include <charconv>
#include <cmath>

namespace tarvik {

std::string FormatFixed(double value, int width, int decimals) {
    char buf[400];
    std::string text;
    if (std::isfinite(value)) {
        const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
        text.assign(buf, r.ec == std::errc() ? r.ptr : buf);
    } else {
        text = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    }
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

std::string FormatSpeed(double kbps) { return FormatFixed(kbps, 9, 2) + " KBps"; }

}  // namespace tarvik
