// Close signals against the main window in this process: a real SIGTERM
// raised while a modal message waits, while the save's error message waits,
// and while an event action hangs in a call that never returns by itself.
#include <signal.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#include "monitor/qt/main_window.h"
#include "monitor/speed_event.h"
#include "support/fake_clock.h"
#include "support/qt/temp_program_dir.h"
#include "ui/close_signals.h"
#include "ui/msg_dialog.h"
#include "support/qt/wait_for.h"

namespace tarvik {
namespace {

const char* kTwoResources =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=2\n"
    "Object11=127.0.0.1\nObject15=3\nObject18=1000\n"
    "Object21=/srv/share\nObject25=1\nObject28=2000\n";

class CloseSignalTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Signals.Install()); }
    std::unique_ptr<TPingObject> Make(const QByteArray& ini) {
        Dir.Write("QUORBELT.INI", ini);
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 300, 0};
        auto w = std::make_unique<TPingObject>(o);
        Signals.Close = [this, w = w.get()] {
            ++CloseRequests;
            w->CloseBtnClick();
        };
        QObject::connect(w.get(), &TPingObject::Closed, [this] { ++Closed; });
        return w;
    }
    // Raises SIGTERM from the event loop after ms, inside whatever modal
    // loop runs then; never after the test, when no handler is installed.
    void RaiseLater(int ms) {
        QTimer::singleShot(ms, &Context, [] { ::raise(SIGTERM); });
    }
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
    TMsgDialog Messages;
    TCloseSignals Signals;
    QObject Context;  // declared after Signals: its timers go first
    int Closed = 0;
    int CloseRequests = 0;  // close signals handled
};

// The read-error box of a damaged configuration is answered and the close
// goes on as Close does: the configuration is saved and the threads end.
TEST_F(CloseSignalTest, SignalDuringTheStartUpMessageAnswersItAndCloses) {
    Dir.Write("KOR_VEL.D", QByteArray(12, '\0'));  // the program ran here before
    auto w = Make("[Main]\nSign=damaged\n[Custom]\nMine=1\n");
    Clock.Advance(6000);  // past the five seconds of the "Please wait" rule
    bool boxShown = false;
    w->ShowErrorBox = [&](const QString& text) {
        boxShown = true;
        RaiseLater(100);
        QMessageBox::critical(w.get(), "Tarvik", text);  // a real modal box
    };
    w->show();
    EXPECT_TRUE(boxShown);
    ASSERT_TRUE(test::WaitFor([&] { return Closed == 1; }, 5000));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const QByteArray ini = Dir.Read("QUORBELT.INI");
    EXPECT_TRUE(ini.contains("Sign=Network speed")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("[Custom]\nMine=1")) << ini.toStdString();
}

// The save's error message stops nothing: whether the close came from the
// Close button or from the signal itself, the message is answered, the close
// goes on and every thread is ended; a second signal changes nothing.
TEST_F(CloseSignalTest, SignalDuringTheSaveErrorEndsTheClose) {
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "close by signal" : "close by button");
        Closed = CloseRequests = 0;
        auto w = Make(kTwoResources);
        w->show();
        ASSERT_NE(w->ResourceTable.Thread(1), nullptr);
        // The program directory becomes a file: the save cannot write.
        Dir.Write("blocker", "x");
        const_cast<TProgramPaths&>(w->Paths()).ConfigDir = Dir.File("blocker").toStdString() + "/";
        Clock.Advance(6000);
        bool errorShown = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!Messages.isVisible() || errorShown) return;
            errorShown = true;
            if (bySignal) return;
            RaiseLater(50);   // into the open message
            RaiseLater(100);  // a second one, into the closing window
        });
        watch.start(10);
        QElapsedTimer timer;
        timer.start();
        if (bySignal) {
            // The message opens during the signal's own close and is
            // answered at once; a second signal follows.
            ::raise(SIGTERM);
            RaiseLater(50);
        } else {
            w->CloseBtn->click();
        }
        ASSERT_TRUE(test::WaitFor([&] { return Closed == 1; }, 5000));
        watch.stop();
        EXPECT_LT(timer.elapsed(), 3000);
        EXPECT_EQ(w->ResourceTable.Thread(1), nullptr);
        EXPECT_EQ(w->ResourceTable.Thread(2), nullptr);
        // Both signals handled, and the close the second one posted has run.
        ASSERT_TRUE(test::WaitFor([&] { return CloseRequests == 2; }, 3000));
        bool drained = false;
        QMetaObject::invokeMethod(qApp, [&] { drained = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(test::WaitFor([&] { return drained; }));
        EXPECT_EQ(Closed, 1);
        Signals.Close = nullptr;
    }
}

// An action that blocks until the test releases it, like a program start
// into a directory on a hung file system.
class TGate {
public:
    void Pass() {
        std::unique_lock lock(Mutex_);
        Entered_ = true;
        Cv_.wait(lock, [&] { return Open_; });
    }
    void Open() {
        std::lock_guard lock(Mutex_);
        Open_ = true;
        Cv_.notify_all();
    }
    bool Entered() {
        std::lock_guard lock(Mutex_);
        return Entered_;
    }

private:
    std::mutex Mutex_;
    std::condition_variable Cv_;
    bool Entered_ = false;
    bool Open_ = false;
};

TEST_F(CloseSignalTest, HungEventActionLeavesTheWindowAnsweringAndTheSignalCloses) {
    Dir.Write("data.bin", QByteArray(4096, 'x'));
    // The minimum event fires on any speed and runs a program.
    auto w = Make("[Main]\nSign=Network speed\n[Objects]\nNumber=1\n"
                  "Object11=" + Dir.File("data.bin").toUtf8() + "\nObject15=2\nObject18=500\n"
                  "Object112=1000000000\nObject114=1\nObject116=/opt/dead-mount/run\n"
                  "Object117=/opt/dead-mount\nObject122=1\nObject123=2\nObject126=1\n"
                  "[Buttons]\nPing objects=1\n");
    auto gate = std::make_shared<TGate>();
    TActionOperations ops = TActionOperations::System();
    ops.Run = [gate](const std::string&, const std::string&) {
        gate->Pass();
        return true;
    };
    w->SpeedEventActions = std::make_unique<TSystemSpeedEventActions>(
        nullptr,
        [w = w.get()](std::function<void()> work) {
            QMetaObject::invokeMethod(w, std::move(work), Qt::QueuedConnection);
        },
        ops);
    w->show();
    ASSERT_TRUE(w->PingSendTimer->isActive());
    int ticks = 0;
    QObject::connect(w->PingSendTimer, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(test::WaitFor([&] { return !w->ResourceTable.Cell(colMinConditionSince, 1).empty(); }, 3000));
    Clock.Advance(3500);
    ASSERT_TRUE(test::WaitFor([&] { return gate->Entered(); }, 3000));
    EXPECT_EQ(w->ResourceTable.Cell(colMinPerformed, 1), "1");

    // The window goes on: sampling ticks keep coming and a click is served.
    const int before = ticks;
    ASSERT_TRUE(test::WaitFor([&] { return ticks >= before + 5; }, 3000));
    w->BitmapButton1->click();  // Stop
    EXPECT_FALSE(w->PingSendTimer->isActive());

    Clock.Advance(6000);  // no "Please wait"
    QElapsedTimer timer;
    timer.start();
    ::raise(SIGTERM);
    ASSERT_TRUE(test::WaitFor([&] { return Closed == 1; }, 5000));
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(Dir.Read("QUORBELT.INI").contains("Object116=/opt/dead-mount/run"));
    gate->Open();  // the left-behind worker returns and reports to nobody
}

}  // namespace
}  // namespace tarvik
