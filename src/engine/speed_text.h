// Speed texts: two decimals right-aligned in at least 9 characters and
// " KBps"; a point as decimal separator whatever the locale.
#pragma once

#include <string>

namespace tarvik {

std::string FormatSpeed(double kbps);
// The number alone, "%*.*f" with a point (for chart legends and reports).
std::string FormatFixed(double value, int width, int decimals);

}  // namespace tarvik
