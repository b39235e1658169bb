#include "engine/resource_table.h"

#include <gtest/gtest.h>

namespace tarvik {

TEST(ResourceTable, HeaderRow) {
    TResourceTable t;
    EXPECT_EQ(t.RowCount(), 1);
    EXPECT_EQ(t.Cell(0, 0), "");
    EXPECT_EQ(t.Cell(1, 0), "Resource");
    EXPECT_EQ(t.Cell(2, 0), "Write speed");
    EXPECT_EQ(t.Cell(3, 0), "Read speed");
    EXPECT_EQ(t.Cell(4, 0), "Ping speed");
    EXPECT_EQ(t.Cell(38, 0), "");   // outside: empty, no crash
    EXPECT_EQ(t.Cell(1, 5), "");
}

TEST(ResourceTable, AddDeleteMoveKeepThreadsWithRows) {
    TResourceTable t;
    for (const char* a : {"a", "b", "c", "d"}) {
        const int r = t.AddRow();
        t.SetCell(colAddress, r, a);
    }
    EXPECT_EQ(t.RowCount(), 5);
    t.DeleteRow(2);
    EXPECT_EQ(t.Cell(colAddress, 2), "c");
    t.MoveRow(3, 1);  // d to the top
    EXPECT_EQ(t.Cell(colAddress, 1), "d");
    EXPECT_EQ(t.Cell(colAddress, 2), "a");
    EXPECT_EQ(t.Cell(colAddress, 3), "c");
    t.DeleteRow(0);  // the header cannot be deleted
    EXPECT_EQ(t.Cell(1, 0), "Resource");
    t.SetRowCount(0);
    EXPECT_EQ(t.RowCount(), 1);
}

TEST(ResourceTable, ClearEventState) {
    TResourceTable t;
    const int r = t.AddRow();
    for (int c = 0; c < TResourceTable::ColCount; ++c) t.SetCell(c, r, "x");
    t.ClearEventState(r);
    for (int c = 0; c < TResourceTable::ColCount; ++c) {
        const bool cleared = c == 28 || c == 29 || c == 30 || c == 33;
        EXPECT_EQ(t.Cell(c, r).empty(), cleared) << c;
    }
}

}  // namespace tarvik
