#include "engine/resource_table.h"

#include <algorithm>

namespace tarvik {

TResourceTable::TResourceTable() : Rows_(1) {
    Rows_[0].Cells[1] = "Resource";
    Rows_[0].Cells[2] = "Write speed";
    Rows_[0].Cells[3] = "Read speed";
    Rows_[0].Cells[4] = "Ping speed";
}

void TResourceTable::SetRowCount(int n) { Rows_.resize(static_cast<std::size_t>(std::max(1, n))); }

const std::string& TResourceTable::Cell(int col, int row) const {
    static const std::string empty;
    if (!Valid(row) || col < 0 || col >= ColCount) return empty;
    return Rows_[static_cast<std::size_t>(row)].Cells[static_cast<std::size_t>(col)];
}

void TResourceTable::SetCell(int col, int row, std::string text) {
    if (!Valid(row) || col < 0 || col >= ColCount) return;
    Rows_[static_cast<std::size_t>(row)].Cells[static_cast<std::size_t>(col)] = std::move(text);
}

const TResourceTable::TRow& TResourceTable::Row(int row) const {
    static const TRow empty{};
    return Valid(row) ? Rows_[static_cast<std::size_t>(row)].Cells : empty;
}

void TResourceTable::SetRow(int row, const TRow& cells) {
    if (Valid(row)) Rows_[static_cast<std::size_t>(row)].Cells = cells;
}

const std::shared_ptr<TPingThread>& TResourceTable::Thread(int row) const {
    static const std::shared_ptr<TPingThread> none;
    return Valid(row) ? Rows_[static_cast<std::size_t>(row)].Thread : none;
}

void TResourceTable::SetThread(int row, std::shared_ptr<TPingThread> thread) {
    if (Valid(row)) Rows_[static_cast<std::size_t>(row)].Thread = std::move(thread);
}

int TResourceTable::AddRow() {
    Rows_.emplace_back();
    return RowCount() - 1;
}

void TResourceTable::DeleteRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    Rows_.erase(Rows_.begin() + row);
}

void TResourceTable::MoveRow(int from, int to) {
    if (from < 1 || from >= RowCount() || to < 1 || to >= RowCount() || from == to) return;
    auto first = Rows_.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

void TResourceTable::ClearEventState(int row) {
    for (int c : {colMinConditionSince, colMinPerformed, colMaxPerformed, colMaxConditionSince})
        SetCell(c, row, "");
}

}  // namespace tarvik
