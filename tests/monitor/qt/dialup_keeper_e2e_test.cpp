// The dial-up keeper end to end: a private X server, a private session bus
// with the accessibility bus on it, and a real dialog box of another
// process whose buttons the keeper presses through AT-SPI.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "monitor/dialup_keeper.h"
#include "monitor/qt/main_window.h"
#include "platform/desktop_controls.h"
#include "support/qt/temp_program_dir.h"

extern char** environ;

namespace tarvik {
namespace {

// A child in its own process group, ended with it (SIGTERM, then SIGKILL).
class TChild {
  public:
    TChild(std::vector<std::string> args, int stdoutFd = -1) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
        else
            posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        if (::posix_spawnp(&Pid_, argv[0], &fa, &attr, argv.data(), environ) != 0) Pid_ = 0;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&fa);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild() {
        if (Pid_ <= 0) return;
        ::kill(-Pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(Pid_, nullptr, WNOHANG) == Pid_) {
                ::kill(-Pid_, SIGKILL);  // what it left of its group
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(-Pid_, SIGKILL);
        ::waitpid(Pid_, nullptr, 0);
    }
    pid_t Pid() const { return Pid_; }

  private:
    pid_t Pid_ = 0;
};

// The output of a shell command (stdout and stderr).
std::string Run(const std::string& cmd) {
    std::string out;
    if (FILE* f = ::popen((cmd + " 2>&1").c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, f)) out += buf;
        ::pclose(f);
    }
    return out;
}

// The registry of the accessibility bus answers: programs started from now
// on find it when they join.
bool RegistryAnswers() {
    const std::string reply =
        Run("dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus "
            "org.a11y.Bus.GetAddress");
    const auto start = reply.find("unix:");
    if (start == std::string::npos) return false;
    const std::string address = reply.substr(start, reply.find_first_of(" \n", start) - start);
    const std::string count =
        Run("dbus-send --bus='" + address +
            "' --print-reply --dest=org.a11y.atspi.Registry "
            "/org/a11y/atspi/accessible/root org.freedesktop.DBus.Properties.Get "
            "string:org.a11y.atspi.Accessible string:ChildCount");
    return count.find("int32") != std::string::npos;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(50);
    }
    return true;
}

// The X server, the session bus and the accessibility bus, for the suite.
class KeeperEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* missing = nullptr;
        for (const char* tool :
             {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher"})
            if (!std::filesystem::exists(tool)) missing = tool;
        if (missing) {
            Skip = std::string("no ") + missing + " on this machine";
            return;
        }
        std::srand(static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(std::time(nullptr)));
        for (int tries = 0; tries < 50 && Display.empty(); ++tries) {
            const int n = 100 + std::rand() % 800;
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
            if (!std::filesystem::exists(lock) && !std::filesystem::exists(sock))
                Display = ":" + std::to_string(n);
        }
        X = std::make_unique<TChild>(std::vector<std::string>{
            "Xvfb", Display, "-noreset", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        // The server answers once it has loaded its keyboard maps.
        bool up = false;
        for (int i = 0; i < 300 && !up; ++i) {
            xcb_connection_t* c = xcb_connect(Display.c_str(), nullptr);
            up = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!up) {
            Skip = "the X server " + Display + " did not start";
            return;
        }
        ::setenv("DISPLAY", Display.c_str(), 1);

        // The session bus, as dbus-run-session starts it.
        int pipeFd[2];
        if (::pipe(pipeFd) != 0) return;
        Bus = std::make_unique<TChild>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"},
            pipeFd[1]);
        ::close(pipeFd[1]);
        std::string address;
        char c;
        while (::read(pipeFd[0], &c, 1) == 1 && c != '\n') address += c;
        ::close(pipeFd[0]);
        if (address.empty()) {
            Skip = "the session bus did not start";
            return;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        A11y = std::make_unique<TChild>(std::vector<std::string>{
            "/usr/libexec/at-spi-bus-launcher", "--launch-immediately", "--a11y=1"});
        for (int i = 0; i < 100; ++i) {
            if (RegistryAnswers() && MakeSystemDesktopControls(Display)->Problem().empty()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Skip = "the accessibility bus could not be started";
    }
    static void TearDownTestSuite() {
        A11y.reset();
        Bus.reset();
        X.reset();
    }

    void SetUp() override {
        if (!Skip.empty()) GTEST_SKIP() << Skip;
        ASSERT_TRUE(Dir.isValid());
        Log = Dir.filePath("clicks.txt");
        const std::string helper =
            qEnvironmentVariable("TARVIK_BINARY_DIR").toStdString() + "/tests/keeper_dialog_helper";
        if (!std::filesystem::exists(helper)) GTEST_SKIP() << "no " << helper;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        Dialog = std::make_unique<TChild>(std::vector<std::string>{helper, Log.toStdString()});
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The dialog's buttons are on the accessibility bus before the first
        // pass: its program has registered.
        auto desktop = MakeSystemDesktopControls(Display);
        const bool registered = WaitFor(
            [&] {
                for (const TTopWindow& w : desktop->TopWindows())
                    if (w.Title == "Reestablish Connection - office")
                        for (const auto& c : desktop->ChildControls(w))
                            if (c->Text() == "Reconnect") return true;
                return false;
            },
            15000);
        std::string seen = Display + " " + desktop->Problem();
        for (const TTopWindow& w : desktop->TopWindows())
            seen += " [" + w.Title + " pid " + std::to_string(w.Pid) + ": " +
                    std::to_string(desktop->ChildControls(w).size()) + " controls]";
        ASSERT_TRUE(registered) << "the test dialog did not appear on the accessibility bus:"
                                << seen;
    }

    QStringList Clicks() {
        QFile f(Log);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    static inline std::string Skip;
    static inline std::string Display;
    static inline std::unique_ptr<TChild> X, Bus, A11y;
    QTemporaryDir Dir;
    QString Log;
    std::unique_ptr<TChild> Dialog;
};

TEST_F(KeeperEndToEnd, TheWindowsKeeperPressesReconnectWithinOneInterval) {
    test::TTempProgramDir programDir;
    TPingObjectOptions o;
    o.Paths = programDir.Paths;
    o.DesktopControls = [] { return MakeSystemDesktopControls(); };
    TPingObject window(o);
    window.ConnectWindowsTable = {{"Dialog Box Title", "Button To Push"},
                                  {"Reestablish Connection", "Reconnect"}};
    window.DialUpEnabled = true;
    window.DialUpInterval = 1000;
    QElapsedTimer t;
    t.start();
    window.ApplyDialUpTimer();
    // One interval, and the pass's own D-Bus round trips.
    ASSERT_TRUE(WaitFor([&] { return !Clicks().isEmpty(); }, 1000 + 1500))
        << "no click after " << t.elapsed() << " ms";
    EXPECT_EQ(Clicks().front(), "Reconnect");
    EXPECT_GE(t.elapsed(), 900);  // the first pass comes after one interval, not at once
}

TEST_F(KeeperEndToEnd, AnEmptyCaptionPressesNothingAndTwoRowsActInOnePass) {
    auto desktop = MakeSystemDesktopControls(Display);
    const std::vector<TConnectWindowsRow> header{{"Dialog Box Title", "Button To Push"}};
    auto table = header;
    table.push_back({"Reestablish Connection", ""});
    EXPECT_EQ(RunKeeperPass(table, *desktop), 0);
    QTest::qWait(500);
    EXPECT_TRUE(Clicks().isEmpty()) << Clicks().join(",").toStdString();

    table = header;
    table.push_back({"Reestablish Connection", "Reconnect"});
    table.push_back({"office", "Details"});
    EXPECT_EQ(RunKeeperPass(table, *desktop), 2);
    ASSERT_TRUE(WaitFor([&] { return Clicks().size() >= 2; }, 3000));
    EXPECT_EQ(Clicks(), (QStringList{"Reconnect", "Details"}));
}

// org.a11y.Status.IsEnabled as another client of the session bus sees it.
std::string A11yEnabled(const char* set = nullptr) {
    std::string cmd =
        "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
        "org.freedesktop.DBus.Properties.";
    cmd += set ? std::string("Set string:org.a11y.Status string:IsEnabled variant:boolean:") + set
               : std::string("Get string:org.a11y.Status string:IsEnabled");
    const std::string out = Run(cmd);
    if (out.find("boolean true") != std::string::npos) return "true";
    if (out.find("boolean false") != std::string::npos) return "false";
    return set ? "" : out;
}

TEST_F(KeeperEndToEnd, AccessibilityIsOnWhileTheKeeperRunsAndAScreenReadersSettingStays) {
    auto desktop = MakeSystemDesktopControls(Display);
    A11yEnabled("false");
    ASSERT_EQ(A11yEnabled(), "false");
    desktop->SetAccessibility(true);
    EXPECT_EQ(A11yEnabled(), "true");
    desktop->SetAccessibility(false);
    EXPECT_EQ(A11yEnabled(), "false");
    // Switched on by someone else: the keeper's end leaves it on.
    A11yEnabled("true");
    desktop->SetAccessibility(true);
    desktop->SetAccessibility(false);
    EXPECT_EQ(A11yEnabled(), "true");
}

}  // namespace
}  // namespace tarvik
