// Removing a resource row from the settings grid: the rows below move up
// one by one, each with its thread, which is renumbered and reloaded so that
// it reports into its new row.
#pragma once

namespace tarvik {

class TResourceTable;

// For every row k from row+1 on, in increasing order: copy its cells into
// row k-1, move its thread there, set the thread's Row to k-1 and reload
// its settings. Then the last row is removed. The thread of the removed row
// must have been destroyed and detached before.
void ShiftRowsUp(TResourceTable& table, int row);

}  // namespace tarvik
