// The main window as a user sees it: every text whole in the default layout,
// the shrunk window, fonts reaching the dialogs, the context help and the
// stored dial-up interval.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "monitor/qt/live_chart.h"
#include "monitor/qt/main_window.h"
#include "monitor/qt/resource_table_view.h"
#include "support/fake_clock.h"
#include "support/qt/temp_program_dir.h"
#include "ui/help.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

const char* kValid =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=1\nObject11=127.0.0.1\nObject15=3\n";

class MainWindowView : public ::testing::Test {
  protected:
    std::unique_ptr<TPingObject> Make(const std::string& ini) {
        Dir.Write("QUORBELT.INI", QByteArray::fromStdString(ini));
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 0, 0};
        auto w = std::make_unique<TPingObject>(o);
        w->ShowErrorBox = [](const QString&) {};
        w->show();
        return w;
    }
    void CloseNow(TPingObject& w) {
        Clock.Advance(6000);  // past the "Please wait" rule
        w.close();
    }
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
};

// The longest texts each column shows in the default layout, against the
// widths they are drawn in.
TEST_F(MainWindowView, EveryTextFitsItsColumnInTheDefaultLayout) {
    auto w = Make(kValid);
    TDisplayResourceTable& table = *w->DisplayResourceTable;
    EXPECT_EQ(QFontInfo(table.font()).family(), "Liberation Sans Narrow")
        << "the narrow face is missing: install fonts-liberation";
    EXPECT_EQ(table.font().pointSize(), 8);
    EXPECT_TRUE(table.font().bold());
    struct TCase {
        int Col;
        bool Header;
        const char* Text;
    };
    const TCase cases[] = {
        {1, true, "Resource"},
        {2, true, "Write speed"},
        {3, true, "Read speed"},
        {4, true, "Ping speed"},
        {2, false, "400000.00 KBps"},
        {2, false, "999999.99 KBps"},
        {2, false, "I/O error."},
        {2, false, "Testing..."},
        {3, false, "400000.00 KBps"},
        {3, false, "  1911.44 KBps"},
        {3, false, "I/O error."},
        {4, false, "400000.00 KBps"},
        {4, false, "Host not found"},
        {4, false, "Dst.unreachable"},
        {4, false, "General failure"},
        {4, false, "Address not available"},
        {4, false, "TTL expired in transit"},
        {4, false, "Parameter problem"},
    };
    const QFontMetrics fm(table.font());
    for (const TCase& c : cases) {
        const int width = table.ColWidth(c.Col);
        const int room = c.Header ? TDisplayResourceTable::HeaderTextRoom(width)
                                  : TDisplayResourceTable::DataTextRoom(width);
        EXPECT_LE(fm.horizontalAdvance(c.Text), room)
            << '"' << c.Text << "\" in column " << c.Col << " (" << width << " px)";
    }
    EXPECT_LE(fm.height(), TDisplayResourceTable::DefaultRowHeight - 2 * 2);
    // The columns fit the table as the window has it, also beside a vertical
    // scroll bar (many resources): no sideways scrolling.
    int total = 0;
    for (int c = 0; c < TDisplayResourceTable::ColCount; ++c)
        total += table.ColWidth(c) + TDisplayResourceTable::GridLineWidth;
    EXPECT_LE(total + table.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &table),
              table.viewport()->width());
    QApplication::processEvents();  // the scroll area shows or hides its bars later
    EXPECT_FALSE(table.horizontalScrollBar()->isVisible());
    EXPECT_EQ(w->width(), 408);
}

TEST_F(MainWindowView, StoredWidthsStayAndMissingOnesFitTheStoredFont) {
    // A width the user set stays, however narrow; the others follow the font.
    auto w = Make(std::string(kValid) + "[Resource Window]\nColWidth 3=50\n");
    EXPECT_EQ(w->DisplayResourceTable->ColWidth(2), 50);
    EXPECT_EQ(w->DisplayResourceTable->ColWidth(1), 101);
    EXPECT_EQ(w->DisplayResourceTable->ColWidth(3), 77);
    CloseNow(*w);
    EXPECT_TRUE(Dir.Read("QUORBELT.INI").contains("ColWidth 3=50\n"));

    // A wider grid face stored without widths: the speed columns grow with it.
    auto wide = Make(std::string(kValid) +
                     "[Fonts]\nString Grid Text Font Name=DejaVu Sans\n"
                     "String Grid Text Font Size=10\n");
    const QFontMetrics fm(wide->DisplayResourceTable->font());
    for (int col : {2, 3, 4})
        EXPECT_LE(fm.horizontalAdvance("400000.00 KBps"),
                  TDisplayResourceTable::DataTextRoom(wide->DisplayResourceTable->ColWidth(col)))
            << "column " << col;
}

TEST_F(MainWindowView, ACutCellShowsItsWholeTextAsTooltip) {
    auto w = Make(kValid);
    TDisplayResourceTable& table = *w->DisplayResourceTable;
    const QPoint inCell = table.CellRect(4, 1).center();
    auto tooltipAt = [&] {
        QHelpEvent help(QEvent::ToolTip, inCell, table.viewport()->mapToGlobal(inCell));
        QApplication::sendEvent(table.viewport(), &help);
        return QToolTip::text();
    };
    w->ResourceTable.SetCell(4, 1, "Host not found or server failure");
    EXPECT_EQ(tooltipAt(), "Host not found or server failure");
    w->ResourceTable.SetCell(4, 1, "Timeout");
    EXPECT_EQ(tooltipAt(), "Press F1 or right mouse button for help.");
    QToolTip::hideText();
}

TEST_F(MainWindowView, ButtonLabelsStandApartInsideTheWindow) {
    auto w = Make(kValid);
    const QList<QLabel*> labels = w->findChildren<QLabel*>("ButtonLabel");
    ASSERT_EQ(labels.size(), 5);
    for (const QLabel* a : labels) {
        const QString text = QString(a->text()).remove('&');
        EXPECT_LE(a->fontMetrics().horizontalAdvance(text), a->width()) << text.toStdString();
        EXPECT_TRUE(w->rect().contains(a->geometry())) << text.toStdString();
        for (const QLabel* b : labels)
            if (a != b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << text.toStdString() << " / " << b->text().toStdString();
            }
    }
}

TEST_F(MainWindowView, ShrunkWindowHoldsTheWholeChart) {
    auto w = Make(kValid);
    w->ShrinkAndGrow->click();
    ASSERT_TRUE(w->Shrinked);
    EXPECT_TRUE(w->rect().contains(w->Display->geometry()))
        << w->height() << " px high, the chart ends at " << w->Display->geometry().bottom();
    EXPECT_EQ(w->height(), w->ShrinkAndGrow->y() + w->ShrinkAndGrow->height() + 2);
}

// The message dialog and the About box, parented to the real window, show
// every control in the window's font.
TEST_F(MainWindowView, DialogsTakeTheWindowsFontInEveryControl) {
    // A stored dialog font, applied after the controls exist.
    auto w = Make(std::string(kValid) +
                  "[Fonts]\nDialog Text Font Name=DejaVu Serif\nDialog Text Font Size=10\n");
    const QFont main = w->font();
    ASSERT_EQ(main.family(), "DejaVu Serif");
    ASSERT_EQ(main.pointSize(), 10);
    ASSERT_TRUE(main.bold());
    QStringList wrong;
    // The window's own buttons, toggles included, follow it too.
    for (const QPushButton* b : w->findChildren<QPushButton*>())
        if (b->font() != main) wrong << "window " + b->objectName();
    TMsgDialog messages(w.get());
    auto checkControls = [&](QWidget* dialog) {
        if (!dialog) {
            wrong << "no dialog";
            return;
        }
        for (QWidget* child : dialog->findChildren<QWidget*>()) {
            if (!qobject_cast<QLabel*>(child) && !qobject_cast<QPushButton*>(child) &&
                !qobject_cast<QCheckBox*>(child) && !qobject_cast<QPlainTextEdit*>(child))
                continue;
            const QFont f = child->font();
            if (f.family() != main.family() || f.pointSize() != main.pointSize() ||
                f.bold() != main.bold())
                wrong << QString("%1 %2: %3 %4pt%5")
                             .arg(dialog->objectName(), child->objectName(), f.family())
                             .arg(f.pointSize())
                             .arg(f.bold() ? " bold" : "");
        }
    };
    QTimer::singleShot(0, &messages, [&] {
        checkControls(&messages);
        messages.done(1);
    });
    messages.Execute("Error", "A message\rof two lines");
    QTimer::singleShot(0, w.get(), [&] {
        auto* about = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        checkControls(about);
        if (about) about->done(0);
    });
    w->ShowAbout();
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join('\n').toStdString();
}

// Every control's right-button help says what the control does.
TEST_F(MainWindowView, EveryContextHelpIsASentenceAboutItsControl) {
    auto w = Make(kValid);
    QList<int> numbers{123};  // the table's header row
    for (const QWidget* child : w->findChildren<QWidget*>())
        if (const int n = child->property("helpContext").toInt(); n > 0) numbers << n;
    for (const int n : numbers) {
        const QString text = ContextHelpText(n);
        EXPECT_GE(text.size(), 30) << n << ": \"" << text.toStdString() << '"';
        EXPECT_TRUE(text.endsWith('.')) << n;
        EXPECT_FALSE(text.contains(QString::number(n))) << n;
        EXPECT_FALSE(text.contains("F1 or right mouse button")) << n;
    }
    EXPECT_TRUE(ContextHelpText(123) != ContextHelpText(197));
}

TEST_F(MainWindowView, DialUpIntervalIsKeptAsStoredAndZeroKeepsTheKeeperIdle) {
    struct TCase {
        const char* Interval;
        bool Active;
    };
    for (const TCase& c : {TCase{"0", false}, {"-5", false}, {"500", true}}) {
        auto w = Make(std::string(kValid) + "[Dial_Up]\nEnabled=1\nInterval=" + c.Interval + "\n");
        EXPECT_EQ(w->DialUpTimer->isActive(), c.Active) << c.Interval;
        if (c.Active) {
            EXPECT_EQ(w->DialUpTimer->interval(), 500);
        }
        CloseNow(*w);
        const QByteArray ini = Dir.Read("QUORBELT.INI");
        EXPECT_TRUE(ini.contains(QByteArray("Interval=") + c.Interval + "\n")) << ini.toStdString();
        EXPECT_TRUE(ini.contains("[Dial_Up]\nEnabled=1\n")) << ini.toStdString();
    }
}

}  // namespace
}  // namespace tarvik
