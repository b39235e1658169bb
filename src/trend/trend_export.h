// The export of a day's trend: the time period as the dialog gives it, the
// export table of text cells, and its tab-separated CR LF lines for the
// clipboard and the export file.
#pragma once

#include <string>
#include <vector>

#include "trend/trend_chart.h"

namespace tarvik {

// The four texts of the period dialog, remembered while the program runs
// (not stored): from 0:00 till 24:00 at first.
struct TTrendPeriod {
    std::string FromHours = "00";
    std::string FromMinutes = "00";
    std::string TillHours = "24";
    std::string TillMinutes = "00";
    bool operator==(const TTrendPeriod&) const = default;
};
// hours * 4 + minutes div 15, each text read as a decimal integer (its
// leading digits; unreadable text is 0).
int FromSlot(const TTrendPeriod& period);
int TillSlot(const TTrendPeriod& period);

// "0:15", "9:45", "24:00": hours unpadded, minutes in two digits.
std::string SlotLabel(int slot);

using TExportTable = std::vector<std::vector<std::string>>;  // [row][column]

// Rows: the date caption; the slot labels; then for each resource its
// " Read (KBps)", " Write (KBps)" and " Ping (KBps)" rows. Column j >= 1
// holds slot fromSlot + j, up to tillSlot; at least the label column.
// Values "%9.2f" by kind (write for "1", read for "1" and "2", ping for
// "3"); every other cell, every slot outside 1..96 and every row without a
// thread holds 0.
TExportTable BuildExportTable(const std::string& dateCaption, const std::vector<TTrendRow>& rows,
                              int fromSlot, int tillSlot);

// Each row one line: the cells with surrounding blanks removed, a tab
// between cells, CR LF at the end. No quoting.
std::string ExportLine(const std::vector<std::string>& row);
std::string ExportText(const TExportTable& table);

// Creates or truncates the file and writes the lines, one write per line.
// False when the file cannot be created or a write fails; what was written
// before the failure stays in the file.
bool CopyTableToFile(const TExportTable& table, const std::string& path);

}  // namespace tarvik
