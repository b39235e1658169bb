// End to end under a virtual X server: the real executable, driven with
// synthetic input (xdotool), adds resources through its wizard, measures,
// closes on SIGTERM and reads its configuration back on the next start.
#include <gtest/gtest.h>

#include <iostream>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "platform/icmp_socket.h"

namespace {

// Positions inside the main window (its fixed layout): the centres of the
// Add and Start buttons of the button row.
constexpr int AddButtonX = 17, AddButtonY = 232;
constexpr int StartButtonX = 118, StartButtonY = 232;
const char* const WizardTitle = "Adding new resource";

class WizardEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString bin = qEnvironmentVariable("TARVIK_BINARY_DIR") + "/bin/tarvik";
        if (!QFile::exists(bin)) GTEST_SKIP() << "no executable at " << bin.toStdString();
        for (const char* tool : {"Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        ASSERT_TRUE(Dir.isValid());
        Exe = Dir.filePath("tarvik");
        ASSERT_TRUE(QFile::copy(bin, Exe));
        StartXvfb();
    }
    void TearDown() override {
        if (App.state() != QProcess::NotRunning) {
            App.kill();
            App.waitForFinished(5000);
        }
        if (Xvfb.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(Xvfb.processId()), SIGTERM);
            Xvfb.waitForFinished(5000);
        }
    }

    void StartXvfb() {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const int n = 100 + static_cast<int>(QRandomGenerator::global()->bounded(800));
            if (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) ||
                QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            Display = QString(":%1").arg(n);
            // A screen height of our own tells our server from one another
            // test started on the same number a moment earlier.
            const int height = 768 + static_cast<int>(QRandomGenerator::global()->bounded(256));
            const QString geometry = QString("1024x%1x24").arg(height);
            Xvfb.start("Xvfb", {Display, "-screen", "0", geometry, "-nolisten", "tcp"});
            ASSERT_TRUE(Xvfb.waitForStarted(5000));
            QDeadlineTimer deadline(10000);
            while (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) && !deadline.hasExpired() &&
                   Xvfb.state() == QProcess::Running)
                QThread::msleep(50);
            // The server answering on this display must be ours.
            if (Xvfb.state() == QProcess::Running &&
                Xdo({"getdisplaygeometry"}) == QString("1024 %1").arg(height))
                return;
            if (Xvfb.state() != QProcess::NotRunning) {
                ::kill(static_cast<pid_t>(Xvfb.processId()), SIGTERM);
                Xvfb.waitForFinished(5000);
            }
        }
        FAIL() << "no free X display";
    }
    QString Xdo(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", Display);
        p.setProcessEnvironment(env);
        p.start("xdotool", args);
        p.waitForFinished(10000);
        LastXdoError = QString::fromUtf8(p.readAllStandardError());
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // The first visible window of the program whose title contains name
    // (any title when name is empty); empty when none appears in time. The
    // bound is generous: a program starting beside other end-to-end tests
    // on a loaded machine can take many seconds to map its first window.
    QString WaitForWindow(const QString& name, int timeoutMs = 45000) {
        QDeadlineTimer deadline(timeoutMs);
        do {
            const QStringList ids =
                name.isEmpty()
                    ? Xdo({"search", "--onlyvisible", "--pid", QString::number(App.processId())})
                          .split('\n', Qt::SkipEmptyParts)
                    : Xdo({"search", "--onlyvisible", "--name", name})
                          .split('\n', Qt::SkipEmptyParts);
            if (!ids.isEmpty()) return ids.first();
            QThread::msleep(100);
        } while (!deadline.hasExpired());
        return {};
    }
    bool WaitUntilGone(const QString& name, int timeoutMs = 30000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!Xdo({"search", "--onlyvisible", "--name", name}).isEmpty())
            if (deadline.hasExpired())
                return false;
            else
                QThread::msleep(100);
        return true;
    }
    void Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", Display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        App.setProcessEnvironment(env);
        App.setWorkingDirectory(QDir::tempPath());
        App.start(Exe, {});
        ASSERT_TRUE(App.waitForStarted(10000));
    }
    // Starts the program on an empty directory and returns the wizard that
    // its first start opens. A start that showed no window at all (seen now
    // and then when it began beside the other end-to-end tests, not yet
    // understood) is reported on standard error and tried once more, so the
    // wizard must still open by itself.
    QString StartFirstTime() {
        Start();
        QString wizard = WaitForWindow(WizardTitle);
        if (!wizard.isEmpty()) return wizard;
        std::cerr << "first start showed no wizard; program "
                  << (App.state() == QProcess::Running ? "running" : "ended") << ": "
                  << App.readAllStandardError().toStdString()
                  << " windows: " << Xdo({"search", "--name", "."}).toStdString() << "\n";
        App.kill();
        App.waitForFinished(5000);
        for (const char* f : {"QUORBELT.INI", "KOR_VEL.D", "KOR_VEL.ND", "KOR_VEL.Q"})
            QFile::remove(Dir.filePath(f));
        Start();
        return WaitForWindow(WizardTitle);
    }
    int Terminate() {
        ::kill(static_cast<pid_t>(App.processId()), SIGTERM);
        EXPECT_TRUE(App.waitForFinished(15000)) << "did not close after SIGTERM";
        return App.exitStatus() == QProcess::NormalExit ? App.exitCode() : -1;
    }
    // Types an address into the open wizard's address field and accepts it
    // with Enter (the wizard accepts on any page).
    void AddThroughWizard(const QString& wizard, const QString& address, bool firstStart) {
        // Keys go to the focused window: wait until the wizard has the focus.
        QDeadlineTimer focused(5000);
        do {
            Xdo({"windowfocus", "--sync", wizard});
            QThread::msleep(100);
        } while (Xdo({"getwindowfocus"}) != wizard && !focused.hasExpired());
        if (firstStart) Xdo({"key", "--delay", "100", "alt+n"});  // Welcome → Resource page
        Xdo({"key", "--delay", "50", "ctrl+a"});
        Xdo({"type", "--delay", "20", address});
        Xdo({"key", "Return"});
        if (!WaitUntilGone(WizardTitle, 3000)) {
            // A key press lost on a loaded machine: Enter once more.
            Xdo({"windowfocus", "--sync", wizard});
            Xdo({"key", "Return"});
        }
        ASSERT_TRUE(WaitUntilGone(WizardTitle)) << "the wizard stayed open";
    }
    void ClickInMainWindow(int x, int y) {
        const QString main = WaitForWindow({});
        ASSERT_FALSE(main.isEmpty());
        Xdo({"mousemove", "--window", main, QString::number(x), QString::number(y), "click", "1"});
    }
    QByteArray Ini() {
        QFile f(Dir.filePath("QUORBELT.INI"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray Value(const QByteArray& ini, const QByteArray& key) {
        const int at = ini.indexOf("\n" + key + "=");
        if (at < 0) return "<missing>";
        const int start = at + key.size() + 2;
        return ini.mid(start, ini.indexOf('\n', start) - start);
    }

    QTemporaryDir Dir;
    QString Exe;
    QString Display;
    QString LastXdoError;
    QProcess Xvfb;
    QProcess App;
};

TEST_F(WizardEndToEnd, FirstStartOpensTheWizardAndTheAddedHostIsMeasured) {
    const QString wizard = StartFirstTime();
    ASSERT_FALSE(wizard.isEmpty())
        << "the wizard did not open on the first start; program "
        << (App.state() == QProcess::Running ? "running" : "ended") << ": "
        << App.readAllStandardError().toStdString()
        << " windows: " << Xdo({"search", "--name", "."}).toStdString()
        << " xdotool: " << LastXdoError.toStdString() << " display " << Display.toStdString()
        << " xvfb " << (Xvfb.state() == QProcess::Running ? "running" : "ended")
        << Xvfb.readAllStandardError().toStdString();
    AddThroughWizard(wizard, "127.0.0.1", true);
    ClickInMainWindow(StartButtonX, StartButtonY);
    QThread::msleep(5500);  // past the close wait of the first five seconds, several pings
    ASSERT_EQ(Terminate(), 0);
    const QByteArray ini = Ini();
    EXPECT_EQ(Value(ini, "Number"), "1") << ini.toStdString();
    EXPECT_EQ(Value(ini, "Object11"), "127.0.0.1");
    EXPECT_EQ(Value(ini, "Object15"), "3");
    EXPECT_EQ(Value(ini, "Object17"), "clLime");
    EXPECT_EQ(Value(ini, "Ping objects"), "1");
    if (tarvik::BindIcmp().Available) {
        EXPECT_TRUE(Value(ini, "Object14").contains("KBps"))
            << Value(ini, "Object14").toStdString();
    }
}

TEST_F(WizardEndToEnd, TwelveResourcesAreAddedAndReadBackAfterARestart) {
    const QString first = StartFirstTime();
    ASSERT_FALSE(first.isEmpty())
        << "the wizard did not open on the first start; program "
        << (App.state() == QProcess::Running ? "running" : "ended") << ": "
        << App.readAllStandardError().toStdString()
        << " windows: " << Xdo({"search", "--name", "."}).toStdString()
        << " xdotool: " << LastXdoError.toStdString() << " display " << Display.toStdString();
    AddThroughWizard(first, "127.0.0.1", true);
    for (int i = 2; i <= 12; ++i) {
        ClickInMainWindow(AddButtonX, AddButtonY);
        const QString wizard = WaitForWindow(WizardTitle);
        ASSERT_FALSE(wizard.isEmpty()) << "resource " << i;
        AddThroughWizard(wizard, QString("127.0.0.%1").arg(i), false);
    }
    ASSERT_EQ(Terminate(), 0);
    QByteArray ini = Ini();
    EXPECT_EQ(Value(ini, "Number"), "12") << ini.toStdString();
    EXPECT_EQ(Value(ini, "Object101"), "127.0.0.10");
    EXPECT_EQ(Value(ini, "Object11_1"), "127.0.0.11");
    EXPECT_EQ(Value(ini, "Object12_1"), "127.0.0.12");
    EXPECT_EQ(Value(ini, "Object12_5"), "3");

    // Second start: no wizard, all twelve read and written back.
    Start();
    ASSERT_FALSE(WaitForWindow({}).isEmpty());
    QThread::msleep(1500);
    EXPECT_TRUE(Xdo({"search", "--onlyvisible", "--name", WizardTitle}).isEmpty());
    ASSERT_EQ(Terminate(), 0);
    ini = Ini();
    EXPECT_EQ(Value(ini, "Number"), "12");
    EXPECT_EQ(Value(ini, "Object12_1"), "127.0.0.12");
    EXPECT_EQ(Value(ini, "Object11_5"), "3");
}

}  // namespace
