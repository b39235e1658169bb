#include "monitor/qt/resource_table_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "engine/resource_table.h"
#include "monitor/qt/main_window.h"
#include "support/fake_clock.h"
#include "support/qt/temp_program_dir.h"
#include "ui/icons.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

const QColor kBlack(Qt::black), kLime(0, 255, 0), kRed(255, 0, 0), kBlue(0, 0, 255),
    kAqua(0, 255, 255), kSilver(0xC0, 0xC0, 0xC0);

// Records the regions the grid's viewport paints.
class TPaintRecorder : public QObject {
  public:
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) Painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

class ResourceTableViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Plain pixels: text in its exact colour, without smoothing.
        QFont f("Sans Serif", 9);
        f.setBold(true);
        f.setStyleStrategy(QFont::NoAntialias);
        View.setFont(f);
        View.resize(400, 112);
        View.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&View));
    }
    int AddRow(const char* address, const char* kind, const char* write, const char* read,
               const char* writeColor = "clRed", const char* readColor = "clBlue") {
        const int r = Table.AddRow();
        Table.SetCell(colAddress, r, address);
        Table.SetCell(colKind, r, kind);
        Table.SetCell(colWriteText, r, write);
        Table.SetCell(colReadText, r, read);
        Table.SetCell(colWriteColor, r, writeColor);
        Table.SetCell(colReadColor, r, readColor);
        View.SetRowCount(Table.RowCount());
        return r;
    }
    // The viewport as drawn, in viewport coordinates.
    QImage Shot() { return View.viewport()->grab().toImage(); }
    static int Count(const QImage& image, const QRect& rect, const QColor& c) {
        int n = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) n += image.pixelColor(x, y) == c;
        return n;
    }

    TResourceTable Table;
    TDisplayResourceTable View{Table};
};

TEST_F(ResourceTableViewTest, LayoutOfTheGrid) {
    EXPECT_EQ(View.RowCount(), 1);
    EXPECT_EQ(View.FixedRows(), 0);
    const int widths[] = {10, 101, 76, 77, 93};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(View.ColWidth(c), widths[c]);
    AddRow("a", "3", "", "");
    EXPECT_EQ(View.FixedRows(), 1);
    EXPECT_EQ(View.RowHeight(0), 22);
    EXPECT_EQ(View.RowHeight(1), 22);
    // Cells are followed by 2-pixel grid lines.
    EXPECT_EQ(View.CellRect(0, 0), QRect(0, 0, 10, 22));
    EXPECT_EQ(View.CellRect(1, 0), QRect(12, 0, 101, 22));
    EXPECT_EQ(View.CellRect(2, 1), QRect(115, 24, 76, 22));
    EXPECT_EQ(View.Model()->rowCount(), 1);
}

TEST_F(ResourceTableViewTest, CellsShowTheSettingsTextInTheResourceColours) {
    AddRow("/srv/share", "1", "    12.50 KBps", "     3.00 KBps");
    AddRow("127.0.0.1", "3", "", "", "clRed", "clAqua");
    Table.SetCell(colPingText, 2, "     7.00 KBps");
    const QImage img = Shot();

    // Row 1: address lime, write in the write colour, read in the read colour.
    EXPECT_GT(Count(img, View.CellRect(1, 1), kLime), 20);
    EXPECT_GT(Count(img, View.CellRect(2, 1), kRed), 20);
    EXPECT_GT(Count(img, View.CellRect(3, 1), kBlue), 20);
    EXPECT_EQ(Count(img, View.CellRect(4, 1), kBlue), 0) << "empty ping cell";
    EXPECT_GT(Count(img, View.CellRect(4, 2), kAqua), 20) << "ping in the read colour";
    // Text starts inside the cell shrunk by the grid-line width, at its top.
    const QRect c = View.CellRect(1, 1);
    EXPECT_EQ(Count(img, QRect(c.left(), c.top(), 2, c.height()), kLime), 0);
    EXPECT_EQ(Count(img, QRect(c.left(), c.top(), c.width(), 2), kLime), 0);
    EXPECT_EQ(img.pixelColor(c.right() - 1, c.bottom() - 1), kBlack) << "black background";
    // 2-pixel lines between data cells.
    EXPECT_EQ(img.pixelColor(c.right() + 1, c.top() + 5), kSilver);
    EXPECT_EQ(img.pixelColor(c.right() + 2, c.top() + 5), kSilver);
    EXPECT_EQ(img.pixelColor(c.left() + 5, c.bottom() + 2), kSilver);

    // The lime marker is in column 0 of the selected row only.
    const QRect m1 = View.CellRect(0, 1), m2 = View.CellRect(0, 2);
    EXPECT_EQ(View.SelectedRow(), 1);
    EXPECT_GT(Count(img, m1, kLime), 20);
    EXPECT_EQ(img.pixelColor(m1.left() + 4, m1.top() + 4), kLime);  // the corner (left, top)
    EXPECT_EQ(img.pixelColor(m1.left() + 3, m1.top() + 4), kBlack);
    EXPECT_EQ(img.pixelColor(m1.left() + 9, m1.top() + 11), kLime);  // the tip
    EXPECT_EQ(Count(img, m2, kLime), 0);
    QSignalSpy moved(&View, &TDisplayResourceTable::SelectionMoved);
    View.SelectRow(2);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved[0][0].toInt(), 2);
    const QImage after = Shot();
    EXPECT_EQ(Count(after, m1, kLime), 0);
    EXPECT_GT(Count(after, m2, kLime), 20);
}

TEST_F(ResourceTableViewTest, HeaderRowIsRaisedWhiteTextOnButtonFaceWithBevels) {
    AddRow("a", "3", "", "");
    const QImage img = Shot();
    const QPalette pal = View.palette();
    const QRect h = View.CellRect(1, 0);
    EXPECT_GT(Count(img, h, Qt::white), 10) << "white letters";
    EXPECT_GT(Count(img, h.adjusted(4, 2, -4, -3), kBlack), 10) << "their black shadow";
    EXPECT_EQ(img.pixelColor(h.right() - 3, h.center().y()).rgb(),
              pal.color(QPalette::Button).rgb());
    EXPECT_EQ(img.pixelColor(h.center().x() + 40, h.top()).rgb(), pal.color(QPalette::Base).rgb());
    EXPECT_EQ(img.pixelColor(h.center().x() + 40, h.top() + 1).rgb(),
              pal.color(QPalette::Base).rgb());
    EXPECT_EQ(img.pixelColor(h.center().x() + 40, h.bottom()).rgb(),
              pal.color(QPalette::Dark).rgb());
    EXPECT_EQ(img.pixelColor(h.center().x() + 40, h.bottom() - 1).rgb(),
              pal.color(QPalette::Dark).rgb());
    EXPECT_EQ(img.pixelColor(h.right(), h.center().y()).rgb(), pal.color(QPalette::Dark).rgb());
    // Columns 2 to 4 also have a light left edge; column 1 does not.
    const QRect h2 = View.CellRect(2, 0);
    EXPECT_EQ(img.pixelColor(h2.left(), h2.center().y() + 5).rgb(),
              pal.color(QPalette::Base).rgb());
    EXPECT_EQ(img.pixelColor(h.left(), h.center().y() + 5).rgb(),
              pal.color(QPalette::Button).rgb());
    // Lines around header cells are black.
    EXPECT_EQ(img.pixelColor(h.left() + 5, h.bottom() + 1), kBlack);
}

TEST_F(ResourceTableViewTest, WithoutResourcesRowZeroIsAHeaderWithoutMarker) {
    View.SetRowCount(1);
    EXPECT_EQ(View.FixedRows(), 0);
    EXPECT_EQ(View.SelectedRow(), 0);
    const QImage img = Shot();
    EXPECT_GT(Count(img, View.CellRect(2, 0), Qt::white), 10);
    EXPECT_EQ(Count(img, img.rect(), kLime), 0);
    // Clicking the only row selects nothing.
    QTest::mouseClick(View.viewport(), Qt::LeftButton, {}, View.CellRect(1, 0).center());
    EXPECT_EQ(View.SelectedRow(), 0);
}

TEST_F(ResourceTableViewTest, LongTextIsClippedAtTheCellEdgeNotWrapped) {
    AddRow("a", "1", "Host name lookup failed badly", "");
    const QImage img = Shot();
    const QRect w = View.CellRect(2, 1);
    EXPECT_GT(Count(img, w, kRed), 20);
    EXPECT_EQ(Count(img, View.CellRect(3, 1), kRed), 0) << "nothing runs into the next cell";
    // One line only: the lower part of the cell stays black.
    const int lineHeight = QFontMetrics(View.font()).height();
    EXPECT_EQ(
        Count(img,
              QRect(w.left(), w.top() + 2 + lineHeight, w.width(), w.height() - 2 - lineHeight),
              kRed),
        0);
}

TEST_F(ResourceTableViewTest, DisplayUpdateRepaintsExactlyTheGivenCells) {
    AddRow("a", "1", "", "");
    AddRow("b", "3", "", "");
    TPaintRecorder rec;
    View.viewport()->installEventFilter(&rec);
    QApplication::processEvents();
    rec.Painted = QRegion();
    View.RepaintCells(2, 4, 4);
    QApplication::processEvents();
    EXPECT_EQ(rec.Painted, QRegion(View.CellRect(4, 2)));
    rec.Painted = QRegion();
    View.RepaintCells(1, 2, 3);
    QApplication::processEvents();
    EXPECT_EQ(rec.Painted, QRegion(View.CellRect(2, 1)) + View.CellRect(3, 1));
    rec.Painted = QRegion();
    View.RepaintCells(7, 2, 3);  // no such row
    View.RepaintCells(1, -3, -1);
    QApplication::processEvents();
    EXPECT_TRUE(rec.Painted.isEmpty());
}

TEST_F(ResourceTableViewTest, SelectionByMouseAndKeysScrollsUnderTheFixedHeader) {
    for (int i = 0; i < 10; ++i) AddRow("host", "3", "", "");
    QSignalSpy moved(&View, &TDisplayResourceTable::SelectionMoved);
    QTest::mouseClick(View.viewport(), Qt::LeftButton, {}, View.CellRect(1, 3).center());
    EXPECT_EQ(View.SelectedRow(), 3);
    QTest::mouseClick(View.viewport(), Qt::LeftButton, {}, View.CellRect(1, 0).center());
    EXPECT_EQ(View.SelectedRow(), 3) << "the fixed header row is not selectable";
    QTest::keyClick(&View, Qt::Key_Down);
    EXPECT_EQ(View.SelectedRow(), 4);
    QTest::keyClick(&View, Qt::Key_End);
    EXPECT_EQ(View.SelectedRow(), 10);
    EXPECT_EQ(moved.count(), 3);
    // The last row was scrolled into view; the header stays on top.
    const QRect last = View.CellRect(1, 10);
    ASSERT_FALSE(last.isEmpty());
    EXPECT_LE(last.bottom(), View.viewport()->height());
    EXPECT_GT(View.TopRow(), 1);
    EXPECT_EQ(View.CellRect(1, 0).top(), 0);
    EXPECT_TRUE(View.CellRect(1, 1).isEmpty());
    QTest::keyClick(&View, Qt::Key_Home);
    EXPECT_EQ(View.TopRow(), 1);
    // Fewer rows: the selection stays within the grid.
    Table.SetRowCount(3);
    View.SetRowCount(3);
    EXPECT_EQ(View.SelectedRow(), 1);
    View.SelectRow(2);
    Table.SetRowCount(2);
    View.SetRowCount(2);
    EXPECT_EQ(View.SelectedRow(), 1);
    EXPECT_EQ(View.verticalScrollBar()->maximum(), 0);
}

TEST_F(ResourceTableViewTest, ColumnsAndRowsAreResizedByDraggingTheirBorders) {
    AddRow("a", "3", "", "");
    AddRow("b", "3", "", "");
    const auto drag = [&](QPoint from, QPoint to) {
        QMouseEvent press(QEvent::MouseButtonPress, from, View.viewport()->mapToGlobal(from),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(View.viewport(), &press);
        QMouseEvent move(QEvent::MouseMove, to, View.viewport()->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(View.viewport(), &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, View.viewport()->mapToGlobal(to),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(View.viewport(), &release);
    };
    // The border after column 1 in the header row.
    const QRect h1 = View.CellRect(1, 0);
    drag({h1.right() + 2, 10}, {h1.right() + 32, 12});
    EXPECT_EQ(View.ColWidth(1), 131);
    EXPECT_EQ(View.CellRect(2, 1).left(), 12 + 131 + 2);
    // The border below row 1 in the marker column.
    const QRect m1 = View.CellRect(0, 1);
    drag({4, m1.bottom() + 1}, {4, m1.bottom() + 11});
    EXPECT_EQ(View.RowHeight(1), 32);
    EXPECT_EQ(View.SelectedRow(), 1) << "sizing does not select";
    // Borders in the data area only select.
    const QRect d = View.CellRect(2, 2);
    drag({d.right() + 1, d.center().y()}, {d.right() + 40, d.center().y()});
    EXPECT_EQ(View.ColWidth(2), 76);
    EXPECT_EQ(View.SelectedRow(), 2);
    View.SetColWidth(3, -5);  // a damaged setting
    EXPECT_EQ(View.ColWidth(3), 0);
}

// ---- the window's size and layering states -------------------------------------------------

const char* kTwoResources =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=2\n"
    "Object11=127.0.0.1\nObject15=3\nObject18=1000\nObject111=2500\n"
    "Object21=/srv/share\nObject25=1\nObject28=2000\n";

class WindowStatesTest : public ::testing::Test {
  protected:
    std::unique_ptr<TPingObject> Make() {
        Dir.Write("QUORBELT.INI", kTwoResources);
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 500, 0};
        auto w = std::make_unique<TPingObject>(o);
        w->ShowErrorBox = [](const QString&) {};
        return w;
    }
    static QImage Picture(const QIcon& icon) { return icon.pixmap(16).toImage(); }
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
    TMsgDialog Messages;
};

TEST_F(WindowStatesTest, SelectionMovesTheTitleAtOnce) {
    auto w = Make();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QApplication::processEvents();  // the marker is drawn: the title follows it
    EXPECT_EQ(w->windowTitle(), "\"127.0.0.1\"  Ping 0.0");
    w->ResourceTable.SetCell(colReadText, 2, "    42.00 KBps");
    w->DisplayResourceTable->SelectRow(2);
    EXPECT_EQ(w->windowTitle(), "\"/srv/share\"  Read 42.00 KBps");
}

TEST_F(WindowStatesTest, TrendAndShrinkKeepOneSizeState) {
    auto w = Make();
    w->show();
    const QSize compact(408, w->ButtonPanel->y() + w->ButtonPanel->height());
    const QSize full(408, 378);
    ASSERT_EQ(w->size(), compact);
    w->TrendBmp->click();
    EXPECT_EQ(w->size(), full);
    w->ShrinkAndGrow->click();
    EXPECT_TRUE(w->Shrinked);
    EXPECT_EQ(Picture(w->ShrinkAndGrow->icon()), Picture(ButtonIcon("grow")));
    w->ShrinkAndGrow->click();  // grows back to the trend layout
    EXPECT_FALSE(w->Shrinked);
    EXPECT_EQ(w->size(), full);
    EXPECT_EQ(Picture(w->ShrinkAndGrow->icon()), Picture(ButtonIcon("shrink")));

    // The trend button on a shrunk window grows it, and the shrink button follows.
    w->ShrinkAndGrow->click();
    w->TrendBmp->click();  // up
    EXPECT_FALSE(w->Shrinked);
    EXPECT_EQ(w->size(), compact);
    EXPECT_EQ(Picture(w->ShrinkAndGrow->icon()), Picture(ButtonIcon("shrink")));
    w->ShrinkAndGrow->click();
    EXPECT_TRUE(w->Shrinked);
    EXPECT_LT(w->height(), compact.height());
}

TEST_F(WindowStatesTest, StayOnTopIsLiftedAndRestoredWithoutRecreatingTheWindow) {
    auto w = Make();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QWindow* handle = w->windowHandle();
    const QPoint where = w->pos();
    w->StayOnTop->click();
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(Picture(w->StayOnTop->icon()), Picture(ButtonIcon("ontopdown")));
    w->LiftStayOnTop();
    EXPECT_FALSE(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(Picture(w->StayOnTop->icon()), Picture(ButtonIcon("ontopdown"))) << "picture kept";
    w->RestoreStayOnTop();
    EXPECT_TRUE(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(w->windowHandle(), handle);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->pos(), where);
    w->StayOnTop->click();  // up
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(Picture(w->StayOnTop->icon()), Picture(ButtonIcon("ontopup")));
    w->RestoreStayOnTop();  // the button is up: nothing to restore
    EXPECT_FALSE(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
}

}  // namespace
}  // namespace tarvik
