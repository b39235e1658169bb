// The settings grid: one row of 38 text cells per test resource, row 0 the
// header, and the row's measuring thread attached to its column 1. It is
// the window side's only store of resource settings; it lives on the window
// thread and nothing else touches it.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tarvik {

class TPingThread;

// Column meanings of the settings grid.
enum TResourceColumn : int {
    colAddress = 1,
    colWriteText = 2,
    colReadText = 3,
    colPingText = 4,
    colKind = 5,
    colWriteColor = 6,
    colReadColor = 7,
    colInterval = 8,
    colAutoSize = 9,
    colTestSize = 10,
    colTimeout = 11,
    // Speed events: index 0 = minimum event, 1 = maximum event.
    colMinThreshold = 12,
    colMaxThreshold = 13,
    colMinActionKind = 14,
    colMinPlayFileName = 15,
    colMinRunFileName = 16,
    colMinRunDirectory = 17,
    colMaxActionKind = 18,
    colMaxPlayFileName = 19,
    colMaxRunFileName = 20,
    colMaxRunDirectory = 21,
    colMinPerformOnce = 22,
    colMinTimeout = 23,
    colMaxPerformOnce = 24,
    colMaxTimeout = 25,
    colMinEnabled = 26,
    colMaxEnabled = 27,
    colMinConditionSince = 28,
    colMinPerformed = 29,
    colMaxPerformed = 30,
    colMinEnableOther = 31,
    colMaxEnableOther = 32,
    colMaxConditionSince = 33,
    colMinCloseFileName = 34,
    colMaxCloseFileName = 35,
    colMinWinTitle = 36,
    colMaxWinTitle = 37,
};

class TResourceTable {
public:
    static constexpr int ColCount = 38;
    using TRow = std::array<std::string, ColCount>;

    // One header row with "Resource", "Write speed", "Read speed", "Ping speed".
    TResourceTable();

    int RowCount() const { return static_cast<int>(Rows_.size()); }
    // Resizes to n rows (at least 1). New rows are empty; dropped rows
    // release their thread slot.
    void SetRowCount(int n);

    // Cell access in the grid's (column, row) order. Reads outside the grid
    // give an empty text; writes outside it are ignored.
    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, std::string text);
    const TRow& Row(int row) const;
    void SetRow(int row, const TRow& cells);

    // The thread object of a row (column 1); null when the row has none.
    const std::shared_ptr<TPingThread>& Thread(int row) const;
    void SetThread(int row, std::shared_ptr<TPingThread> thread);

    // Appends an empty row and returns its index.
    int AddRow();
    // Removes a row (1..RowCount-1); the rows below move up with their threads.
    void DeleteRow(int row);
    // Moves a resource row to another position, shifting the rows between.
    void MoveRow(int from, int to);

    // Clears the run-time event cells 28, 29, 30 and 33 of a row.
    void ClearEventState(int row);

private:
    struct TEntry {
        TRow Cells;
        std::shared_ptr<TPingThread> Thread;
    };
    bool Valid(int row) const { return row >= 0 && row < RowCount(); }
    std::vector<TEntry> Rows_;
};

}  // namespace tarvik
