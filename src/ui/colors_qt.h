// Stored colour values (0x00BBGGRR, or system colours 0x80000000 + index)
// as Qt colours; system colours map to the palette roles of the same meaning.
#pragma once

#include <QColor>
#include <string>

#include "setup/colors.h"

namespace tarvik {

QColor ToQColor(TColor color);
// Colour text of a settings cell; an unparsable text gives fallback.
QColor ToQColor(const std::string& text, const QColor& fallback);

}  // namespace tarvik
