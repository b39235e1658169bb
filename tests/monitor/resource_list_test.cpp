#include "monitor/resource_list.h"

#include <gtest/gtest.h>

#include "engine/ping_thread.h"
#include "engine/resource_table.h"

namespace tarvik {
namespace {

TEST(ResourceList, RowsBelowMoveUpWithTheirThreadsRenumbered) {
    TResourceTable table;
    auto ctx = std::make_shared<TEngineContext>();
    ctx->Table = &table;
    for (const char* address : {"a", "b", "c", "d"}) {
        const int row = table.AddRow();
        table.SetCell(colAddress, row, address);
        table.SetCell(colReadColor, row, std::string("colour-") + address);
    }
    // Row 3 has no thread: a row without one moves as plain cells.
    for (int row : {1, 2, 4}) table.SetThread(row, TPingThread::Create(row, ctx));
    const auto fourth = table.Thread(4);
    table.SetThread(2, nullptr);  // the deleted row's thread is gone before the shift
    ShiftRowsUp(table, 2);
    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.Cell(colAddress, 2), "c");
    EXPECT_EQ(table.Thread(2), nullptr);
    EXPECT_EQ(table.Cell(colAddress, 3), "d");
    EXPECT_EQ(table.Cell(colReadColor, 3), "colour-d");
    EXPECT_EQ(table.Thread(3), fourth);
    EXPECT_EQ(fourth->Row, 3);
    EXPECT_EQ(table.Cell(colAddress, 1), "a");
    ShiftRowsUp(table, 9);  // outside the list: nothing
    EXPECT_EQ(table.RowCount(), 4);
    for (int row = 1; row < table.RowCount(); ++row)
        if (const auto& t = table.Thread(row)) t->Destroy();
}

}  // namespace
}  // namespace tarvik
