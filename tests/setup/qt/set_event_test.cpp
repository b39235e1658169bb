#include "setup/qt/set_event.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "setup/qt/set_url.h"
#include "support/qt/wait_for.h"
#include "support/recording_actions.h"

namespace tarvik {
namespace {

TSpeedEvent Filled() {
    TSpeedEvent e;
    e.PerformOnce = "0";
    e.EventTimeout = "45";
    e.ActionKind = "2";
    e.EnableOther = "0";
    e.PlayFileName = "/usr/share/sounds/alarm.wav";
    e.RunFileName = "xterm";
    e.RunDirectory = "/tmp";
    e.CloseFileName = "firefox-esr";
    e.WinTitle = "Dialer";
    return e;
}

class SetEventTest : public ::testing::Test {
  protected:
    std::unique_ptr<TSetEvent> Show(const TSpeedEvent& e, int which = kMinEvent) {
        auto d = std::make_unique<TSetEvent>();
        d->TestActions = &Actions;
        d->LoadEvent(e, which);
        d->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        EXPECT_TRUE(test::WaitFor([&] { return d->Painted(); }));
        return d;
    }
    test::TRecordingActions Actions;
};

TEST_F(SetEventTest, FillingBeforeThePaintMovesNothing) {
    auto d = Show(Filled(), kMaxEvent);
    EXPECT_TRUE(d->ClosePrgBtn->isChecked());  // from ActionKind, not from the filled texts
    for (QPushButton* test : {d->PlayTest, d->RunTest, d->CloseTest})
        EXPECT_FALSE(test->isEnabled());
    EXPECT_FALSE(d->PerfOnceBtn->isChecked());
    EXPECT_FALSE(d->ResetCounter->isChecked());
    EXPECT_EQ(d->PerfTimeBtn->Text(), "45");
    EXPECT_EQ(d->windowTitle(), "Max speed action setup");
    EXPECT_EQ(d->ResetCounter->text(), "Enable to perform min speed event after that.");
    TSpeedEvent back;
    d->StoreEvent(back);
    EXPECT_EQ(back.ActionKind, "2");
    EXPECT_EQ(back.WinTitle, "Dialer");
    EXPECT_EQ(back.EnableOther, "0");
    EXPECT_EQ(back.EventTimeout, "45");
}

TEST_F(SetEventTest, TypingChoosesTheGroupAndEnablesItsTest) {
    auto d = Show(TSpeedEvent{});  // empty ActionKind keeps "Play a sound:"
    EXPECT_TRUE(d->PlaySoundBtn->isChecked());
    QTest::keyClicks(d->RunFileName, "xterm");
    EXPECT_TRUE(d->RunPrgBtn->isChecked());
    EXPECT_TRUE(d->RunTest->isEnabled());
    QTest::keyClicks(d->CloseFileName, "x");
    QTest::keyClicks(d->WinTitle, "y");
    EXPECT_TRUE(d->ClosePrgBtn->isChecked());
    // Only the edit that changed counts.
    d->WinTitle->clear();
    EXPECT_FALSE(d->CloseTest->isEnabled());
    d->RunDirectory->setText("/tmp");  // the directory has no reaction
    EXPECT_TRUE(d->ClosePrgBtn->isChecked());
}

TEST_F(SetEventTest, EnterInAnEditConfirmsAndEscapeCancels) {
    auto d = Show(TSpeedEvent{});
    QTest::keyClick(d->PlayFileName, Qt::Key_Return);
    EXPECT_EQ(d->result(), mrOk);
    auto e = Show(TSpeedEvent{});
    QTest::keyClick(e->RunDirectory, Qt::Key_Escape);
    EXPECT_EQ(e->result(), mrCancel);
}

TEST_F(SetEventTest, TestButtonsActAndSelectTheirGroup) {
    auto d = Show(TSpeedEvent{});
    d->PlayFileName->setText("/tmp/a.wav");
    d->RunFileName->setText("xterm -e true");
    d->RunDirectory->setText("/tmp");
    d->CloseFileName->setText("xclock");
    d->WinTitle->setText("Clock");
    d->PlayTest->click();
    d->RunTest->click();
    EXPECT_TRUE(d->ClosePrgBtn->isChecked());  // the choice moves only after the posted click
    EXPECT_TRUE(test::WaitFor([&] { return d->RunPrgBtn->isChecked(); }));
    d->CloseTest->click();
    d->CloseFileName->clear();  // disables the Test button until the title changes
    d->WinTitle->setText("Clock 2");
    d->CloseTest->click();
    EXPECT_TRUE(test::WaitFor([&] { return d->ClosePrgBtn->isChecked(); }));
    const std::vector<std::string> want{"play /tmp/a.wav", "run xterm -e true in /tmp",
                                        "close file xclock", "close title Clock 2"};
    EXPECT_EQ(Actions.Calls, want);
    // A failing action ends neither the dialog nor the program.
    Actions.Throw = true;
    d->RunTest->click();
    EXPECT_TRUE(d->isVisible());
}

TEST_F(SetEventTest, WithoutTheProcessListOnlyTheTitleCloses) {
    auto d = std::make_unique<TSetEvent>();
    d->TestActions = &Actions;
    d->ProcessListAvailable = false;
    d->LoadEvent(Filled(), kMinEvent);
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    for (QWidget* w : std::initializer_list<QWidget*>{d->CloseFileLbl, d->CloseFileName,
                                                      d->CloseBrowse, d->ORLabel})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_TRUE(d->WinTitle->isVisible());
    d->CloseTest->setEnabled(true);
    d->CloseTest->click();
    EXPECT_EQ(Actions.Calls, std::vector<std::string>{"close title Dialer"});
}

TEST_F(SetEventTest, WindowListPickerFillsTheTitle) {
    auto d = Show(TSpeedEvent{});
    d->ListWindows = [] {
        return std::vector<TTopWindow>{{1, "Terminal", 10}, {2, "", 11}, {3, "Connect To", 12}};
    };
    QStringList shown;
    QString caption, header;
    d->Exec = [&](QDialog& dialog) {
        auto* list = dynamic_cast<TSetURL*>(&dialog);
        if (!list) return 2;
        caption = list->windowTitle();
        header = list->URLList->horizontalHeaderItem(0)->text();
        for (int r = 0; r < list->URLList->rowCount(); ++r)
            shown << list->URLList->item(r, 0)->text();
        list->URLList->selectRow(1);
        return 1;
    };
    d->WinTitleBrowse->click();
    EXPECT_EQ(caption, "List of windows");
    EXPECT_EQ(header, "Window Title");
    EXPECT_EQ(shown, (QStringList{"Terminal", "Connect To"}));
    EXPECT_EQ(d->WinTitle->text(), "Connect To");
    EXPECT_TRUE(d->ClosePrgBtn->isChecked());
    // No window listed: the title stays.
    d->ListWindows = [] { return std::vector<TTopWindow>{}; };
    d->WinTitleBrowse->click();
    EXPECT_EQ(d->WinTitle->text(), "Connect To");
}

}  // namespace
}  // namespace tarvik
