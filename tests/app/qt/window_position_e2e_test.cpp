// End to end under a framing window manager: the real executable on a
// private Xvfb with openbox. The stored position is the window's outer
// top-left corner, frame included, and stays put from run to run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A helper process started with posix_spawn, ended by its pid.
class TChild {
  public:
    // Descriptors without close-on-exec are inherited (Xvfb's -displayfd).
    TChild(std::vector<std::string> args, const std::vector<std::string>& extraEnv) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings(extraEnv);
        for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&Pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) Pid_ = 0;
        posix_spawn_file_actions_destroy(&fa);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild() {
        if (Pid_ <= 0) return;
        ::kill(Pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(Pid_, nullptr, WNOHANG) == Pid_) return;
            QThread::msleep(10);
        }
        ::kill(Pid_, SIGKILL);
        ::waitpid(Pid_, nullptr, 0);
    }
    pid_t Pid() const { return Pid_; }

  private:
    pid_t Pid_ = 0;
};

// Output of an X tool run against the test's display.
QString Tool(const QString& display, const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

class WindowPosition : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString bin = qEnvironmentVariable("TARVIK_BINARY_DIR") + "/bin/tarvik";
        if (!QFile::exists(bin)) GTEST_SKIP() << "no executable at " << bin.toStdString();
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xwininfo", "xprop"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/test installs it)";
        ASSERT_TRUE(Dir.isValid());
        Exe = Dir.filePath("tarvik");
        ASSERT_TRUE(QFile::copy(bin, Exe));
        StartDisplay();
        ASSERT_FALSE(Display.isEmpty()) << "Xvfb did not start";
        Wm.emplace(std::vector<std::string>{"openbox"},
                   std::vector<std::string>{"DISPLAY=" + Display.toStdString()});
        // The window manager is up once it names its check window on the root.
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            up =
                Tool(Display, "xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
            if (!up) QThread::msleep(50);
        }
        ASSERT_TRUE(up) << "openbox did not start";
    }

    void StartDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        // Xvfb picks a free display itself and writes its number to the pipe.
        Xvfb.emplace(
            std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten",
                                     "tcp", "-noreset", "-screen", "0", "800x600x24"},
            std::vector<std::string>{});
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (Xvfb->Pid() > 0 && ::poll(&p, 1, 10000) == 1) {
            char ch = 0;
            if (::read(fds[0], &ch, 1) != 1 || ch == '\n') break;
            number += ch;
        }
        ::close(fds[0]);
        if (!number.empty()) Display = ":" + QString::fromStdString(number);
    }

    // The outer top-left corner of the program's main window: the client's
    // place on the screen less the frame the window manager put around it.
    std::optional<QPoint> OuterTopLeft(qint64 pid) {
        const QString ids =
            Tool(Display, "xdotool",
                 {"search", "--onlyvisible", "--pid", QString::number(pid), "--name", "."});
        const QString id = ids.section('\n', 0, 0).trimmed();
        if (id.isEmpty()) return std::nullopt;
        const QString info = Tool(Display, "xwininfo", {"-id", id});
        const QString extents = Tool(Display, "xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
        const auto x = QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(info);
        const auto y = QRegularExpression("Absolute upper-left Y:\\s+(-?\\d+)").match(info);
        const auto frame = QRegularExpression("= (\\d+), (\\d+), (\\d+), (\\d+)").match(extents);
        if (!x.hasMatch() || !y.hasMatch() || !frame.hasMatch()) return std::nullopt;
        FrameTop = frame.captured(3).toInt();
        return QPoint(x.captured(1).toInt() - frame.captured(1).toInt(),
                      y.captured(1).toInt() - FrameTop);
    }

    // One run: waits until the window stands at `expected` (or 5 s pass),
    // then closes the program with SIGTERM. Returns where the window stood.
    std::optional<QPoint> Run(const QPoint& expected) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", Display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir::tempPath());
        p.start(Exe, {});
        EXPECT_TRUE(p.waitForStarted(10000));
        std::optional<QPoint> at;
        for (int i = 0; i < 100 && at != expected; ++i) {
            QThread::msleep(50);
            at = OuterTopLeft(p.processId());
        }
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        EXPECT_TRUE(p.waitForFinished(15000)) << "did not close after SIGTERM";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        return at;
    }

    QByteArray ReadIni() {
        QFile f(Dir.filePath("QUORBELT.INI"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir Dir;
    QString Exe;
    QString Display;
    int FrameTop = 0;
    std::optional<TChild> Xvfb;
    std::optional<TChild> Wm;
};

TEST_F(WindowPosition, StoredCornerIsTheFramesCornerAndStaysOverTwoRuns) {
    {
        QFile f(Dir.filePath("QUORBELT.INI"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Main]\nSign=Network speed\n[Objects]\nNumber=0\n[Position]\nLeft=100\nTop=100\n");
    }
    for (int run = 1; run <= 2; ++run) {
        const std::optional<QPoint> at = Run({100, 100});
        ASSERT_TRUE(at.has_value()) << "run " << run << ": the window was not found";
        EXPECT_GT(FrameTop, 0) << "the window manager drew no title bar";
        EXPECT_EQ(*at, QPoint(100, 100))
            << "run " << run << ": the frame's corner stood at " << at->x() << "/" << at->y();
        const QByteArray ini = ReadIni();
        EXPECT_TRUE(ini.contains("[Position]\nLeft=100\nTop=100\n")) << "run " << run << ":\n"
                                                                     << ini.toStdString();
    }
}

}  // namespace
