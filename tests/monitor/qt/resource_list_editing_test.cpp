// Add, Edit and Delete on the main window, with the wizard answered by the
// test and real read-only file resources measured by real threads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "engine/ping_thread.h"
#include "engine/probe_factory.h"
#include "monitor/qt/main_window.h"
#include "monitor/qt/resource_table_view.h"
#include "setup/qt/edit_resource.h"
#include "support/qt/temp_program_dir.h"
#include "support/qt/wait_for.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

class ListEditingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"})
            Dir.Write(name, QByteArray(64 * 1024, 'x'));
        // A valid configuration without resources: no first-start wizard.
        Dir.Write("QUORBELT.INI", "[Main]\nSign=Network speed\n[Objects]\nNumber=0\n");
        TPingObjectOptions o;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 500, 0};
        o.HomeDir = Dir.Dir.path().toStdString();
        o.Probes = MakeProgramProbes(true);
        o.Dialogs.Exec = [this](QDialog& d) {
            auto* wizard = dynamic_cast<TEditResource*>(&d);
            if (!wizard || !Answer) return 2;
            wizard->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(wizard));
            EXPECT_TRUE(test::WaitFor([&] { return !wizard->EditMode; }));
            const int result = Answer(*wizard);
            wizard->hide();
            return result;
        };
        W = std::make_unique<TPingObject>(o);
        W->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(W.get()));
    }
    // Adds a read-only file resource through the wizard.
    void AddFile(const char* name, int interval = 100) {
        Answer = [=, this](TEditResource& w) {
            w.CDROM->click();
            w.Path->setText(Dir.File(name));
            w.PingDelay->setValue(interval);
            return 1;
        };
        W->AddResourceClick();
    }
    QString Cell(int col, int row) const {
        return QString::fromStdString(W->ResourceTable.Cell(col, row));
    }

    test::TTempProgramDir Dir;
    TMsgDialog Messages;
    std::function<int(TEditResource&)> Answer;
    std::unique_ptr<TPingObject> W;
};

TEST_F(ListEditingTest, AddWritesTheRowAndCancelAddsNothing) {
    Answer = [](TEditResource&) { return 2; };
    W->AddResourceClick();
    EXPECT_EQ(W->ResourceTable.RowCount(), 1);
    EXPECT_FALSE(W->EditCurResource->isEnabled());
    AddFile("a.bin");
    ASSERT_EQ(W->ResourceTable.RowCount(), 2);
    EXPECT_EQ(W->DisplayResourceTable->RowCount(), 2);
    EXPECT_EQ(Cell(1, 1), Dir.File("a.bin"));
    EXPECT_EQ(Cell(5, 1), "2");
    EXPECT_EQ(Cell(7, 1), "clLime");
    EXPECT_EQ(Cell(6, 1), "clYellow");
    EXPECT_NE(W->ResourceTable.Thread(1), nullptr);
    EXPECT_TRUE(W->EditCurResource->isEnabled());
    EXPECT_TRUE(W->DelResource->isEnabled());
    // The second resource takes the next two free colours.
    AddFile("b.bin");
    EXPECT_EQ(Cell(7, 2), "clAqua");
    EXPECT_EQ(Cell(6, 2), "clFuchsia");
}

TEST_F(ListEditingTest, AddWhileMeasuringStartsTheThreadAtOnce) {
    W->StartBtn->click();
    AddFile("a.bin");
    EXPECT_FALSE(W->DelResource->isEnabled());  // measuring runs
    EXPECT_TRUE(W->EditCurResource->isEnabled());
    EXPECT_TRUE(test::WaitFor([&] { return Cell(3, 1).contains("KBps"); }))
        << Cell(3, 1).toStdString();
}

TEST_F(ListEditingTest, DeletingTheMiddleOfThreeMovesTheThirdUpWithItsThread) {
    AddFile("a.bin");
    AddFile("b.bin");
    AddFile("c.bin");
    const auto third = W->ResourceTable.Thread(3);
    const QString thirdRead = Cell(7, 3);
    W->DisplayResourceTable->SelectRow(2);
    W->DelResourceClick();
    ASSERT_EQ(W->ResourceTable.RowCount(), 3);
    EXPECT_EQ(W->DisplayResourceTable->RowCount(), 3);
    EXPECT_EQ(W->ResourceTable.Thread(2), third);
    EXPECT_EQ(third->Row, 2);
    EXPECT_EQ(Cell(1, 2), Dir.File("c.bin"));
    EXPECT_EQ(Cell(7, 2), thirdRead);
    EXPECT_EQ(Cell(1, 1), Dir.File("a.bin"));
    // It measures its own file and reports into row 2.
    W->StartBtn->click();
    EXPECT_TRUE(test::WaitFor([&] { return Cell(3, 2).contains("KBps"); }))
        << Cell(3, 2).toStdString();
    EXPECT_TRUE(W->ThreadsActivation->isActive());
}

TEST_F(ListEditingTest, DeletingTheOnlyResourceDisablesEditAndDelete) {
    AddFile("a.bin");
    W->DelResourceClick();
    EXPECT_EQ(W->ResourceTable.RowCount(), 1);
    EXPECT_FALSE(W->EditCurResource->isEnabled());
    EXPECT_FALSE(W->DelResource->isEnabled());
    W->DelResourceClick();  // an empty list: nothing happens
    EXPECT_EQ(W->ResourceTable.RowCount(), 1);
}

TEST_F(ListEditingTest, EditKeepsTheThreadAndTheShownSpeeds) {
    AddFile("a.bin");
    AddFile("b.bin");
    W->ResourceTable.SetCell(3, 2, "  123.00 KBps");
    const auto thread = W->ResourceTable.Thread(2);
    W->DisplayResourceTable->SelectRow(2);
    QString loaded;
    Answer = [&](TEditResource& w) {
        loaded = w.Path->text();
        w.Path->setText(Dir.File("d.bin"));
        return 1;
    };
    W->EditCurResourceClick();
    EXPECT_EQ(loaded, Dir.File("b.bin"));
    EXPECT_EQ(Cell(1, 2), Dir.File("d.bin"));
    EXPECT_EQ(Cell(3, 2), "  123.00 KBps");
    EXPECT_EQ(Cell(7, 2), "clAqua");  // the colours stay
    EXPECT_EQ(W->ResourceTable.Thread(2), thread);
    EXPECT_EQ(W->ResourceTable.RowCount(), 3);
    // Cancel changes nothing.
    Answer = [](TEditResource& w) {
        w.Path->setText("elsewhere");
        return 2;
    };
    W->EditCurResourceClick();
    EXPECT_EQ(Cell(1, 2), Dir.File("d.bin"));
}

TEST_F(ListEditingTest, TwelveResourcesSurviveARestart) {
    for (int i = 0; i < 12; ++i) AddFile("a.bin");
    W->ResourceTable.SetCell(1, 12, "twelfth");
    W->ResourceTable.SetCell(1, 11, "eleventh");
    W->WriteParametersFile();
    TPingObjectOptions o;
    o.Paths = Dir.Paths;
    o.Delays = {0, 0, 500, 0};
    TPingObject again(o);
    again.show();
    ASSERT_EQ(again.ResourceTable.RowCount(), 13);
    EXPECT_EQ(again.ResourceTable.Cell(1, 11), "eleventh");
    EXPECT_EQ(again.ResourceTable.Cell(1, 12), "twelfth");
    EXPECT_EQ(again.ResourceTable.Cell(5, 12), "2");
}

}  // namespace
}  // namespace tarvik
