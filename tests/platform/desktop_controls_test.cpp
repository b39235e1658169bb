// The system desktop where buttons cannot be pressed: no session bus, or a
// session bus without the accessibility bus. It says why, quickly, and
// never blocks.
#include "platform/desktop_controls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

extern char** environ;

namespace tarvik {
namespace {

// Sets an environment variable for the scope, restoring the old value.
class TEnvGuard {
  public:
    TEnvGuard(const char* name, const char* value) : Name_(name) {
        if (const char* old = std::getenv(name)) Old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~TEnvGuard() {
        if (Old_)
            ::setenv(Name_, Old_->c_str(), 1);
        else
            ::unsetenv(Name_);
    }

  private:
    const char* Name_;
    std::optional<std::string> Old_;
};

using Clock = std::chrono::steady_clock;

TEST(DesktopControls, WithoutASessionBusItSaysSoAndPressesNothing) {
    TEnvGuard bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarvik-test-bus");
    TEnvGuard run("XDG_RUNTIME_DIR", nullptr);
    const auto start = Clock::now();
    auto desktop = MakeSystemDesktopControls(":987654");
    EXPECT_NE(desktop->Problem().find("session bus of this desktop does not answer"),
              std::string::npos)
        << desktop->Problem();
    EXPECT_TRUE(desktop->ChildControls({1, "Connect To", ::getpid()}).empty());
    desktop->SetAccessibility(true);
    desktop->SetAccessibility(false);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST(DesktopControls, ABusThatAcceptsButNeverAnswersCostsOnlyTheTimeOut) {
    // A socket that listens and never accepts: connecting succeeds, the
    // bus's greeting never comes.
    char dirTemplate[] = "/tmp/tarvik-bus-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string path = std::string(dirTemplate) + "/bus";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    {
        TEnvGuard bus("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str());
        const auto start = Clock::now();
        auto desktop = MakeSystemDesktopControls(":987654", 300);
        EXPECT_FALSE(desktop->Problem().empty());
        desktop->SetAccessibility(true);
        EXPECT_TRUE(desktop->ChildControls({1, "Connect To", ::getpid()}).empty());
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
    ::close(fd);
    std::filesystem::remove_all(dirTemplate);
}

TEST(DesktopControls, ASessionBusWithoutTheAccessibilityBusIsNamedInTheMessage) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    // A private session bus that cannot start services: as on a machine
    // without at-spi2-core, nothing answers for the accessibility bus.
    char dirTemplate[] = "/tmp/tarvik-bus-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string config = dir + "/session.conf";
    {
        FILE* f = std::fopen(config.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(
            f,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=%s</listen>"
            "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
            "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n",
            dir.c_str());
        std::fclose(f);
    }
    const std::string configArg = "--config-file=" + config;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--print-address=1",
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawnp(&pid, argv[0], &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    std::string address;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') address += c;
    ::close(fds[0]);
    {
        ASSERT_FALSE(address.empty());
        TEnvGuard bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());
        const auto start = Clock::now();
        auto desktop = MakeSystemDesktopControls(":987654");
        EXPECT_NE(desktop->Problem().find("no accessibility bus (AT-SPI)"), std::string::npos)
            << desktop->Problem();
        EXPECT_TRUE(desktop->ChildControls({1, "Connect To", ::getpid()}).empty());
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik
