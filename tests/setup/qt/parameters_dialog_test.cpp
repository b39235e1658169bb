// The Global Preferences dialog with a real main window (offscreen).
#include "setup/qt/parameters_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "monitor/dialup_keeper.h"
#include "monitor/qt/main_window.h"
#include "trend/qt/trend_panel.h"
#include "monitor/qt/resource_table_view.h"
#include "support/fake_clock.h"
#include "support/fake_desktop.h"
#include "support/qt/temp_program_dir.h"
#include "ui/help.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

const char* kKeeperOn =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=1\n"
    "Object11=127.0.0.1\nObject15=3\nObject18=1000\nObject111=2500\n"
    "[Dial_Up]\nEnabled=1\nInterval=3000\nNumber=3\n"
    "Dialog1=Connect To\nButton1=Connect\nDialog2=Reestablish Connection\nButton2=Reconnect\n";

class PreferencesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Dir.Write("QUORBELT.INI", kKeeperOn);
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.DesktopControls = [this] {
            auto d = std::make_unique<TFakeDesktop>();
            d->ProblemText = DesktopProblem;
            return d;
        };
        Window = std::make_unique<TPingObject>(o);
        Window->ShowErrorBox = [](const QString&) {};
        Window->show();
        Parameters = new TParameters(Window.get());
        Window->SetParameters(Parameters);
    }
    void TearDown() override { SetHelpOpener(nullptr); }

    // Opens the dialog with SetBtn and runs act inside it; act closes it.
    void WithDialog(const std::function<void(TParameters&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, Parameters, [&] {
            ran = true;
            act(*Parameters);
            if (Parameters->isVisible()) Parameters->reject();
        });
        Window->SetBtn->click();
        ASSERT_TRUE(ran);
    }
    // Types text into a table cell as a user does: editor, text, Enter.
    static void TypeIntoCell(TParameters& p, int row, int col, const QString& text) {
        QTableWidget* t = p.ConnectWindowsTable;
        const QModelIndex index = t->model()->index(row, col);
        t->setCurrentIndex(index);
        if (!t->indexWidget(index)) t->edit(index);  // a new current cell opens its editor itself
        auto* editor = qobject_cast<QLineEdit*>(t->indexWidget(index));
        ASSERT_NE(editor, nullptr);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The view commits a Return's text through a queued call.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string DesktopProblem;
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
    TMsgDialog Messages;
    std::unique_ptr<TPingObject> Window;
    TParameters* Parameters = nullptr;
};

TEST_F(PreferencesTest, ShowsTheWindowsValuesAndStopsTheKeeperWhileOpen) {
    ASSERT_TRUE(Window->DialUpTimer->isActive());
    WithDialog([&](TParameters& p) {
        EXPECT_EQ(p.windowTitle(), "Global Preferences");
        EXPECT_EQ(p.TabbedNotebook1->currentIndex(), 0);
        EXPECT_EQ(p.TabbedNotebook1->tabText(0), "Keep &Dial-Up connection");
        EXPECT_EQ(p.TabbedNotebook1->tabText(1), "&Fonts");
        EXPECT_EQ(p.TabbedNotebook1->tabText(2), "&Miscellaneous");
        EXPECT_TRUE(p.KeppDialUp->isChecked());
        EXPECT_TRUE(p.KeepDialPanel->isVisible());
        EXPECT_EQ(p.DialUpTimeout->value(), 3);
        ASSERT_EQ(p.ConnectWindowsTable->rowCount(), 2);
        EXPECT_EQ(p.ConnectWindowsTable->item(1, 1)->text(), "Reconnect");
        EXPECT_EQ(p.ConnectWindowsTable->horizontalHeaderItem(0)->text(), "Dialog Box Title");
        EXPECT_EQ(p.ConnectWindowsTable->horizontalHeaderItem(1)->text(), "Button To Push");
        EXPECT_FALSE(Window->DialUpTimer->isActive());
        // The samples: the grid font's Cyrillic set, the others Western.
        EXPECT_EQ(p.TableFont->text(), "ABCabcАБВабв");
        EXPECT_EQ(p.DialogsText->text(), "ABCabcÀÁÂàáâ");
        EXPECT_TRUE(p.TrendEnabledBtn->isChecked());
        p.KeppDialUp->click();
        EXPECT_FALSE(p.KeepDialPanel->isVisible());
    });
}

TEST_F(PreferencesTest, StayOnTopIsLiftedWhileTheDialogIsOpen) {
    Window->StayOnTop->click();
    ASSERT_TRUE(Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    WithDialog([&](TParameters&) {
        EXPECT_FALSE(Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    });
    EXPECT_TRUE(Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

// Cancel, Escape and the close box all drop the edits and restore the keeper.
class PreferencesCancel : public PreferencesTest, public ::testing::WithParamInterface<int> {};

TEST_P(PreferencesCancel, LeavesTheKeeperOnAndTheTableUnchanged) {
    const auto table = Window->ConnectWindowsTable;
    WithDialog([&](TParameters& p) {
        TypeIntoCell(p, 0, 0, "Edited title");
        TypeIntoCell(p, 1, 0, "Other");  // the last row: a new one appears
        EXPECT_EQ(p.ConnectWindowsTable->rowCount(), 3);
        p.KeppDialUp->click();
        p.DialUpTimeout->setValue(7);
        switch (GetParam()) {
            case 0:
                p.CancelBtn->click();
                break;
            case 1:
                QTest::keyClick(&p, Qt::Key_Escape);
                break;
            default:
                p.close();
                break;
        }
        EXPECT_FALSE(p.isVisible());
    });
    EXPECT_TRUE(Window->DialUpTimer->isActive());
    EXPECT_EQ(Window->DialUpTimer->interval(), 3000);
    EXPECT_EQ(Window->ConnectWindowsTable, table);
    // The next show starts from the window's values again.
    WithDialog([&](TParameters& p) {
        EXPECT_EQ(p.ConnectWindowsTable->rowCount(), 2);
        EXPECT_EQ(p.ConnectWindowsTable->item(0, 0)->text(), "Connect To");
        EXPECT_TRUE(p.KeppDialUp->isChecked());
    });
}

INSTANTIATE_TEST_SUITE_P(Ways, PreferencesCancel, ::testing::Values(0, 1, 2), [](const auto& info) {
    return std::string(info.param == 0 ? "CancelButton" : info.param == 1 ? "Escape" : "CloseBox");
});

TEST_F(PreferencesTest, OkTakesThePeriodTheTableAndTheKeeperSwitch) {
    WithDialog([&](TParameters& p) {
        p.DialUpTimeout->setValue(2);
        TypeIntoCell(p, 1, 1, "Retry");
        p.BtnOk->click();
    });
    EXPECT_EQ(Window->DialUpInterval, 2000);
    EXPECT_TRUE(Window->DialUpTimer->isActive());
    EXPECT_EQ(Window->DialUpTimer->interval(), 2000);
    ASSERT_EQ(Window->ConnectWindowsTable.size(), 4u);  // header, two rows, the new empty one
    EXPECT_EQ(Window->ConnectWindowsTable[2][1], "Retry");
    // A period of 0 keeps the keeper idle although switched on.
    WithDialog([&](TParameters& p) {
        p.DialUpTimeout->setValue(0);
        QTest::keyClick(&p, Qt::Key_Return);  // Enter is OK
    });
    EXPECT_TRUE(Window->DialUpEnabled);
    EXPECT_FALSE(Window->DialUpTimer->isActive());
}

TEST_F(PreferencesTest, UntickedTrendRecordingIsWrittenAtClose) {
    WithDialog([&](TParameters& p) {
        p.TabbedNotebook1->setCurrentIndex(2);
        p.TrendEnabledBtn->click();
        p.BtnOk->click();
    });
    EXPECT_FALSE(Window->TrendEnabled);
    EXPECT_FALSE(Window->Engine()->TrendEnabled);
    Clock.Advance(6000);
    Window->close();
    const QByteArray ini = Dir.Read("QUORBELT.INI");
    EXPECT_TRUE(ini.contains("[Trend]\nEnabled=0")) << ini.toStdString();
}

TEST_F(PreferencesTest, ANonBoldGridFontShowsAtOnceInTheTable) {
    ASSERT_TRUE(Window->DisplayResourceTable->font().bold());
    QFont chosen("DejaVu Sans", 10);
    chosen.setBold(false);
    enum { Cancel, Unchanged, Choose } answer = Cancel;
    bool offeredBold = false;
    Parameters->ChooseFont = [&](QFont& f, QWidget*) {
        offeredBold = f.bold();
        if (answer == Choose) f = chosen;
        return answer != Cancel;
    };
    WithDialog([&](TParameters& p) {
        const QFont before = p.TableFont->font();
        p.ChoiseTblFnt->click();
        EXPECT_EQ(p.TableFont->font(), before);  // Cancel leaves the sample
        // OK without a change keeps the bold face and its stored name.
        answer = Unchanged;
        p.ChoiseDlgFnt->click();
        EXPECT_TRUE(offeredBold);
        EXPECT_EQ(p.Edited().MainFont, Window->MainFont);
        answer = Choose;
        p.ChoiseTblFnt->click();
        EXPECT_FALSE(p.TableFont->font().bold());
        EXPECT_TRUE(Window->DisplayResourceTable->font().bold());  // nothing before OK
        p.ChoiseEdLnFnt->click();
        p.BtnOk->click();
    });
    EXPECT_FALSE(Window->DisplayResourceTable->font().bold());
    EXPECT_EQ(Window->DisplayResourceTable->font().family(), "DejaVu Sans");
    EXPECT_FALSE(Window->GridFont.Bold);
    EXPECT_EQ(Window->GridFont.Charset, 204);  // the character set is kept
    EXPECT_EQ(Window->TrendPanel->TrendDatePanel->font().pointSize(), 10);
}

TEST_F(PreferencesTest, TheRealFontDialogsOkKeepsABoldAliasFontBold) {
    ASSERT_TRUE(Window->MainFont.Bold);
    WithDialog([&](TParameters& p) {
        QTimer::singleShot(0, &p, [] {
            if (auto* d = qobject_cast<QFontDialog*>(QApplication::activeModalWidget()))
                d->accept();
        });
        p.ChoiseDlgFnt->click();
        EXPECT_TRUE(p.DialogsText->font().bold());
        EXPECT_EQ(p.Edited().MainFont, Window->MainFont);
    });
}

TEST_F(PreferencesTest, TableEditingAddsAndDropsTheLastRow) {
    WithDialog([&](TParameters& p) {
        QTableWidget* t = p.ConnectWindowsTable;
        TypeIntoCell(p, 1, 0, "Reestablish Connection!");  // last row: one more
        ASSERT_EQ(t->rowCount(), 3);
        TypeIntoCell(p, 2, 0, "Third");
        ASSERT_EQ(t->rowCount(), 4);
        // Row 3 stays empty; emptying row 2 and moving on drops the last row.
        TypeIntoCell(p, 2, 0, "");
        t->setCurrentCell(0, 1);
        EXPECT_EQ(t->rowCount(), 3);
    });
}

TEST_F(PreferencesTest, HelpOpensTheTopicOfTheTab) {
    QStringList opened, topics;
    SetHelpOpener([&](const QString& path) { opened << path; });
    WithDialog([&](TParameters& p) {
        topics << p.CurrentHelpTopic();
        p.BtnHelp->click();
        p.TabbedNotebook1->setCurrentIndex(1);
        topics << p.CurrentHelpTopic();
        QTest::keyClick(&p, Qt::Key_F1);
        p.TabbedNotebook1->setCurrentIndex(2);
        topics << p.CurrentHelpTopic();
        p.BtnHelp->click();
    });
    EXPECT_EQ(topics, (QStringList{"Setup1", "Setup2", "Setup3"}));
    QStringList pages;
    for (const QString& t : topics) pages << HelpPagePath(t);
    EXPECT_EQ(opened, pages);
}

class PreferencesWithoutBus : public PreferencesTest {
  protected:
    void SetUp() override {
        DesktopProblem = "This desktop has no accessibility bus (AT-SPI).";
        PreferencesTest::SetUp();
    }
};

TEST_F(PreferencesWithoutBus, TheKeeperPageSaysWhyNothingIsPressed) {
    Window->DialUpKeeper().WaitIdle();
    WithDialog([&](TParameters& p) {
        EXPECT_TRUE(p.KeeperProblemText->isVisible());
        EXPECT_EQ(p.KeeperProblemText->text().toStdString(), DesktopProblem);
    });
}

}  // namespace
}  // namespace tarvik
