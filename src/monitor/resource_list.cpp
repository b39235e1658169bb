#include "monitor/resource_list.h"

#include "engine/ping_thread.h"
#include "engine/resource_table.h"

namespace tarvik {

void ShiftRowsUp(TResourceTable& table, int row) {
    const int n = table.RowCount() - 1;
    if (row < 1 || row > n) return;
    for (int k = row + 1; k <= n; ++k) {
        table.SetRow(k - 1, table.Row(k));
        auto thread = table.Thread(k);
        table.SetThread(k, nullptr);
        table.SetThread(k - 1, thread);
        if (thread) {
            thread->Row = k - 1;
            thread->LoadSettings();
        }
    }
    table.SetRowCount(n);
}

}  // namespace tarvik
