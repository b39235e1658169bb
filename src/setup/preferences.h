// The settings the Global Preferences dialog edits: handed to it by the main
// window on show, handed back on OK.
#pragma once

#include <string>
#include <vector>

#include "setup/config_file.h"

namespace tarvik {

struct TPreferences {
    bool KeeperEnabled = false;
    int KeeperIntervalMs = 3000;
    std::vector<TConnectWindowsRow> ConnectWindowsTable;  // row 0 is the header
    TFontSetting MainFont, GridFont, EditLineFont;
    bool TrendEnabled = true;
    // Why the keeper cannot press buttons on this desktop; empty when it can.
    std::string KeeperProblem;

    bool operator==(const TPreferences&) const = default;
};

// The font samples' text: "ABCabc" and the characters of codes 192, 193,
// 194, 224, 225, 226 in the font's character set (its Windows code page;
// the default and unknown sets read as Western), in UTF-8.
std::string FontSampleText(int charset);

}  // namespace tarvik
