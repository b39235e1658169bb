#include "monitor/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "monitor/qt/prog_exit.h"
#include "monitor/qt/resource_table_view.h"
#include "trend/qt/trend_panel.h"
#include "support/fake_clock.h"
#include "support/qt/temp_program_dir.h"
#include "ui/msg_dialog.h"
#include "support/qt/wait_for.h"

namespace tarvik {
namespace {

const char* kTwoResources =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=2\n"
    "Object11=127.0.0.1\nObject15=3\nObject18=1000\nObject111=2500\n"
    "Object21=/srv/share\nObject25=1\nObject28=2000\n";

class MainWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TPingObject> Make(const char* ini = nullptr) {
        if (ini) Dir.Write("QUORBELT.INI", ini);
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 500, 0};
        auto w = std::make_unique<TPingObject>(o);
        w->ShowErrorBox = [this](const QString& text) { Errors << text; };
        return w;
    }
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
    QStringList Errors;
    TMsgDialog Messages;
};

TEST_F(MainWindowTest, CreationState) {
    auto w = Make();
    EXPECT_EQ(w->size(), QSize(408, 378));
    EXPECT_EQ(w->windowTitle(), "Tarvik");
    struct TTimerCase {
        QTimer* Timer;
        int Interval;
        bool Active;
    };
    for (const auto& t : {TTimerCase{w->PingSendTimer, 50, false}, {w->ThreadsActivation, 50, false},
                          {w->DialUpTimer, 3000, false}, {w->TrendPanel->TrendTimer, 60000, true},
                          {w->TrendPanel->HideValueWindow, 1000, true}}) {
        EXPECT_EQ(t.Timer->interval(), t.Interval) << t.Timer->objectName().toStdString();
        EXPECT_EQ(t.Timer->isActive(), t.Active) << t.Timer->objectName().toStdString();
    }
    EXPECT_TRUE(w->BitmapButton1->isChecked());
    EXPECT_FALSE(w->StartBtn->isChecked());
    EXPECT_TRUE(w->HGrdBtn->isChecked());
    EXPECT_TRUE(w->VGrdBtn->isChecked());
    EXPECT_FALSE(w->StayOnTop->isChecked());
    EXPECT_FALSE(w->TrendBmp->isChecked());
    EXPECT_FALSE(w->EditCurResource->isEnabled());
    EXPECT_FALSE(w->DelResource->isEnabled());
    EXPECT_EQ(w->DelResource->toolTip(), "Deletes current resource. Enabled when process stopped.");
    EXPECT_EQ(w->CloseBtn->property("helpContext").toInt(), 132);
    EXPECT_EQ(w->Scale, 2.0);
    EXPECT_EQ(w->TrendPanel->TrendScale, 2.0);
    EXPECT_EQ(w->ResourceTable.Cell(1, 0), "Resource");
    EXPECT_EQ(w->ResourceTable.Cell(4, 0), "Ping speed");
    // Every control is reachable by its object name.
    for (const char* name : {"AddResource", "EditCurResource", "DelResource", "ScaleUP", "ScaleDown",
                             "HGrdBtn", "VGrdBtn", "ShrinkAndGrow", "StayOnTop", "StartBtn",
                             "BitmapButton1", "TrendBmp", "SetBtn", "CloseBtn", "HelpBtn",
                             "DisplayResourceTable", "TrendScaleUp", "TrendScaleDown",
                             "HTrendGrdBtn", "VTrendGrdBtn", "TrendPrevDate", "TrendNextDate",
                             "PrintTrend", "CopyTrendBtn", "TrendDatePanel"})
        EXPECT_NE(w->findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(MainWindowTest, FirstShowingLoadsOnceAndCreatesOneThreadPerRow) {
    auto w = Make(kTwoResources);
    w->show();
    ASSERT_EQ(w->ResourceTable.RowCount(), 3);
    const auto first = w->ResourceTable.Thread(1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(w->ResourceTable.Thread(2), nullptr);
    EXPECT_TRUE(w->EditCurResource->isEnabled());
    EXPECT_TRUE(w->DelResource->isEnabled());
    EXPECT_EQ(w->DisplayResourceTable->Model()->rowCount(), 2);
    EXPECT_EQ(w->Scale, 1000.0);  // missing scale key
    w->hide();
    w->show();
    EXPECT_EQ(w->ResourceTable.Thread(1), first);
    EXPECT_EQ(w->ResourceTable.RowCount(), 3);
    EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(MainWindowTest, StartAndStopSwitchTimersAndDelete) {
    auto w = Make(kTwoResources);
    w->show();
    QTest::mouseClick(w->StartBtn, Qt::LeftButton);
    EXPECT_TRUE(w->StartBtn->isChecked());
    EXPECT_FALSE(w->BitmapButton1->isChecked());
    EXPECT_TRUE(w->PingSendTimer->isActive());
    EXPECT_TRUE(w->ThreadsActivation->isActive());
    EXPECT_FALSE(w->DelResource->isEnabled());
    EXPECT_FALSE(w->ResourceTable.Thread(1)->StopRequested);
    QTest::mouseClick(w->BitmapButton1, Qt::LeftButton);
    EXPECT_TRUE(w->BitmapButton1->isChecked());
    EXPECT_FALSE(w->PingSendTimer->isActive());
    EXPECT_FALSE(w->ThreadsActivation->isActive());
    EXPECT_TRUE(w->DelResource->isEnabled());
    EXPECT_TRUE(w->ResourceTable.Thread(1)->StopRequested);
}

TEST_F(MainWindowTest, StoredStateIsAppliedAndMeasuringResumes) {
    std::string ini = kTwoResources;
    ini += "[Buttons]\nPing objects=1\nTrend=1\nHGrdBtn=0\nStayOnTop=1\n[Scale]\nScale=250000\n";
    auto w = Make(ini.c_str());
    w->show();
    EXPECT_TRUE(w->StartBtn->isChecked());
    EXPECT_TRUE(w->PingSendTimer->isActive());
    EXPECT_TRUE(w->TrendBmp->isChecked());
    EXPECT_EQ(w->size(), QSize(408, 378));
    EXPECT_FALSE(w->HGrdBtn->isChecked());
    EXPECT_EQ(w->Scale, 100000.0);
    EXPECT_TRUE(w->StayOnTopSetting);
    ASSERT_TRUE(test::WaitFor([&] { return w->StayOnTop->isChecked(); }));  // applied after start-up
}

TEST_F(MainWindowTest, ShrinkAndGrowRestoresTheCompactHeightWhileTrendIsUp) {
    auto w = Make(kTwoResources);
    w->show();
    const QSize compact = w->size();
    EXPECT_EQ(compact, QSize(408, w->ButtonPanel->y() + w->ButtonPanel->height()));
    w->ShrinkAndGrow->click();
    EXPECT_TRUE(w->Shrinked);
    EXPECT_LT(w->width(), 408);
    EXPECT_EQ(w->width(), w->ShrinkAndGrow->x() + w->ShrinkAndGrow->width() + 2);
    w->ShrinkAndGrow->click();
    EXPECT_FALSE(w->Shrinked);
    EXPECT_EQ(w->size(), compact);
}

TEST_F(MainWindowTest, MissingFileOnFirstRunOpensTheWizardWithoutAMessage) {
    auto w = Make();
    int wizard = 0;
    w->OnAddResource = [&] { ++wizard; };
    w->show();
    EXPECT_TRUE(Errors.isEmpty());
    ASSERT_TRUE(test::WaitFor([&] { return wizard == 1; }));
    EXPECT_FALSE(w->FirstStart);
    ASSERT_EQ(w->ConnectWindowsTable.size(), 4u);
    EXPECT_EQ(w->ConnectWindowsTable[2][0], "Dial-Up Networking");
}

TEST_F(MainWindowTest, BadSignatureAfterAnEarlierRunShowsTheReadError) {
    Dir.Write("KOR_VEL.D", QByteArray(12, '\0'));  // the program ran here before
    auto w = Make("[Main]\nSign=network speed\n");
    w->show();
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_EQ(Errors[0], "An ERROR occured during reading parameters file\r" +
                             QString::fromStdString(Dir.Paths.ConfigFile()));
}

// Notes the moment the first "Please wait" window paints.
class TFirstPaintOfExit : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !Painted.isValid() &&
            qobject_cast<TProgExit*>(watched))
            Painted.start();
        return false;
    }
    QElapsedTimer Painted;
};

TEST_F(MainWindowTest, CloseWithinFiveSecondsWaitsThreeSecondsAfterThePleaseWaitWindow) {
    auto w = Make(kTwoResources);
    w->show();
    TFirstPaintOfExit firstPaint;
    qApp->installEventFilter(&firstPaint);
    w->close();
    EXPECT_TRUE(w->isVisible());  // refused
    ASSERT_NE(w->ProgExit, nullptr);
    EXPECT_EQ(w->ProgExit->windowTitle(), "Please wait");
    EXPECT_EQ(w->ProgExit->CloseTimer->timerType(), Qt::PreciseTimer);
    bool closed = false;
    qint64 closedAfterPaintNs = -1;
    QObject::connect(w.get(), &TPingObject::Closed, [&] {
        closed = true;
        if (firstPaint.Painted.isValid()) closedAfterPaintNs = firstPaint.Painted.nsecsElapsed();
    });
    ASSERT_TRUE(test::WaitFor([&] { return closed; }, 6000));
    qApp->removeEventFilter(&firstPaint);
    // Never before the three seconds, counted from the first paint.
    ASSERT_GE(closedAfterPaintNs, 0) << "the wait window never painted";
    EXPECT_GE(closedAfterPaintNs, 3000LL * 1000 * 1000);
    EXPECT_TRUE(w->ExitConfirmed);
    EXPECT_TRUE(Dir.Read("QUORBELT.INI").contains("Sign=Network speed"));
    EXPECT_EQ(w->ResourceTable.Thread(1), nullptr);  // threads destroyed
}

TEST_F(MainWindowTest, CloseAfterFiveSecondsIsImmediate) {
    auto w = Make(kTwoResources);
    w->show();
    Clock.Advance(5001);
    bool closed = false;
    QObject::connect(w.get(), &TPingObject::Closed, [&] { closed = true; });
    w->close();
    EXPECT_TRUE(closed);
    EXPECT_EQ(w->ProgExit, nullptr);
    const QByteArray ini = Dir.Read("QUORBELT.INI");
    EXPECT_TRUE(ini.contains("Number=2"));
    EXPECT_TRUE(ini.contains("Object21=/srv/share"));
}

TEST_F(MainWindowTest, ASecondCloseDuringTheSaveMessageIsIgnored) {
    auto w = Make(kTwoResources);
    w->show();
    Dir.Write("blocker", "x");
    const_cast<TProgramPaths&>(w->Paths()).ConfigDir = Dir.File("blocker").toStdString() + "/";
    Clock.Advance(6000);
    int closed = 0;
    QObject::connect(w.get(), &TPingObject::Closed, [&] { ++closed; });
    // The write error opens the message dialog; a signal's close arrives meanwhile.
    bool secondClose = false;
    QTimer::singleShot(100, w.get(), [&] {
        w->close();
        Messages.done(1);
        secondClose = true;
    });
    w->close();
    // Both closes have run; queued work after them has been processed.
    ASSERT_TRUE(test::WaitFor([&] { return secondClose && closed >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(closed, 1);
}

TEST_F(MainWindowTest, FailedSaveShowsTheWriteError) {
    auto w = Make(kTwoResources);
    w->show();
    // The program directory becomes a file: the save cannot create its temporary file.
    Dir.Write("blocker", "x");
    const_cast<TProgramPaths&>(w->Paths()).ConfigDir = Dir.File("blocker").toStdString() + "/";
    Clock.Advance(6000);
    TMsgDialog::SetNextAnswer(1);
    w->close();
    EXPECT_EQ(TMsgDialog::LastTitle(), "Error");
    EXPECT_TRUE(TMsgDialog::LastText().startsWith("An ERROR occurred during writing parameters file\r"));
}

}  // namespace
}  // namespace tarvik
