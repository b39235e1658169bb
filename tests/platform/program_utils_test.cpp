// Program start and close-by-file-name with real processes in temporary
// directories, and the /proc naming rules on a small fake /proc tree.
#include "platform/program_utils.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace tarvik {
namespace {

namespace fs = std::filesystem;

class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarvik-prog-XXXXXX").string();
        Path_ = ::mkdtemp(pattern.data());
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(Path_, ec);
    }
    const fs::path& Path() const { return Path_; }

  private:
    fs::path Path_;
};

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits up to five seconds for a file that a detached program writes.
bool WaitForFile(const fs::path& p, const std::string& content) {
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(p) && ReadFile(p) == content) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(SplitCommandLine, QuotingRules) {
    struct {
        const char* Line;
        std::vector<std::string> Words;
    } cases[] = {
        {"", {}},
        {" \t ", {}},
        {"prog", {"prog"}},
        {"  prog   a\tb  ", {"prog", "a", "b"}},
        {R"(prog "a b" 'c d' e\ f)", {"prog", "a b", "c d", "e f"}},
        {R"(prog "say \"hi\" \\ \$x \n")", {"prog", R"(say "hi" \ $x \n)"}},
        {R"(prog 'it\'s)", {"prog", R"(it\s)"}},
        {R"(prog "" '')", {"prog", "", ""}},
        {R"(pre"mid"'post' x)", {"premidpost", "x"}},
        {R"(prog "open quote)", {"prog", "open quote"}},
        {R"(prog trailing\)", {"prog", R"(trailing\)"}},
        {"/opt/My Tools/run", {"/opt/My", "Tools/run"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.Line), c.Words) << c.Line;
}

TEST(RunProgram, StartsInTheGivenDirectoryAndKeepsOwnCwd) {
    TTempDir dir;
    const fs::path before = fs::current_path();
    ASSERT_TRUE(RunProgram(R"(/bin/sh -c 'printf "%s|" "$@" > out' sh "a b" 'c"d' e)",
                           dir.Path().string()));
    EXPECT_TRUE(WaitForFile(dir.Path() / "out", "a b|c\"d|e|"));
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_FALSE(fs::exists(before / "out"));
}

TEST(RunProgram, FindsProgramOnPathAndRelativeToDirectory) {
    TTempDir dir;
    {
        std::ofstream script(dir.Path() / "job.sh");
        script << "#!/bin/sh\necho ran > done\n";
    }
    fs::permissions(dir.Path() / "job.sh", fs::perms::owner_all);
    // A relative program path counts from the new working directory.
    ASSERT_TRUE(RunProgram("./job.sh", dir.Path().string()));
    EXPECT_TRUE(WaitForFile(dir.Path() / "done", "ran\n"));
    ASSERT_TRUE(RunProgram("sh -c 'echo path > viapath'", dir.Path().string()));
    EXPECT_TRUE(WaitForFile(dir.Path() / "viapath", "path\n"));
}

TEST(RunProgram, ReportsWhatCouldNotBeStarted) {
    TTempDir dir;
    {
        std::ofstream plain(dir.Path() / "plain.txt");
        plain << "not a program\n";
    }
    const std::string d = dir.Path().string();
    EXPECT_FALSE(RunProgram("", d));
    EXPECT_FALSE(RunProgram("   ", d));
    EXPECT_FALSE(RunProgram("\"\" arg", d));
    EXPECT_FALSE(RunProgram("/nonexistent/program", d));
    EXPECT_FALSE(RunProgram("no-such-program-tarvik-test", d));
    EXPECT_FALSE(RunProgram(d + "/plain.txt", d));  // not executable
}

// A directory that cannot be entered (missing, or a file) does not stop the command: it runs in this process's own directory.
TEST(RunProgram, RunsInOwnDirectoryWhenTheDirectoryCannotBeEntered) {
    TTempDir dir;
    std::ofstream(dir.Path() / "plain.txt") << "x\n";
    const std::string own = fs::current_path().string();
    const std::string unenterable[] = {(dir.Path() / "missing").string(),
                                       (dir.Path() / "plain.txt").string()};
    int n = 0;
    for (const std::string& target : unenterable) {
        const fs::path out = dir.Path() / ("pwd" + std::to_string(n++));
        ASSERT_TRUE(RunProgram("/bin/sh -c 'pwd > " + out.string() + "'", target)) << target;
        EXPECT_TRUE(WaitForFile(out, own + "\n")) << target << ": " << ReadFile(out);
    }
}

// The program is not this process's child: nothing is left to reap.
TEST(RunProgram, LeavesNoChildBehind) {
    ASSERT_TRUE(RunProgram("/bin/sleep 0.2", ""));
    ASSERT_TRUE(RunProgram("/bin/true", ""));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// The detached program starts with no blocked signals, so SIGTERM reaches it
// even when this process blocks it for its own handling.
TEST(RunProgram, ProgramGetsDefaultSignalMask) {
    TTempDir dir;
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    const bool started =
        RunProgram("/bin/sh -c 'grep SigBlk /proc/self/status > mask'", dir.Path().string());
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(started);
    EXPECT_TRUE(WaitForFile(dir.Path() / "mask", "SigBlk:\t0000000000000000\n"));
}

TEST(ProcessList, AvailableAndOrderedWithOwnEntry) {
    EXPECT_TRUE(ProcessListAvailable());
    EXPECT_FALSE(ProcessListAvailable("/nonexistent-proc"));
    const std::vector<TProcessInfo> list = ListProcesses();
    ASSERT_FALSE(list.empty());
    for (std::size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1].Pid, list[i].Pid);
    const std::string self = fs::read_symlink("/proc/self/exe").filename().string();
    bool found = false;
    for (const TProcessInfo& p : list)
        if (p.Pid == ::getpid()) found = p.ExeName == self;
    EXPECT_TRUE(found) << self;
}

// The naming rules when the exe link is unreadable, on a fake /proc tree.
TEST(ProcessList, NameRulesOnFakeProc) {
    TTempDir proc;
    auto make = [&](const std::string& pid, const char* exe, const std::string& cmdline,
                    const char* comm) {
        const fs::path d = proc.Path() / pid;
        fs::create_directory(d);
        if (exe) fs::create_symlink(exe, d / "exe");
        std::ofstream(d / "cmdline", std::ios::binary) << cmdline;
        if (comm) std::ofstream(d / "comm") << comm << "\n";
    };
    using namespace std::string_literals;
    make("300", "/usr/lib/app/Updater (deleted)", "", "Updater");
    make("42", nullptr, "/opt/tool/a-very-long-name-tool\0--flag\0"s, "a-very-long-nam");
    make("1000", nullptr, "-bash\0"s, "bash");
    make("7", nullptr, "", "kworker/0:1");
    make("8", nullptr, "", nullptr);  // ended during the scan
    fs::create_directory(proc.Path() / "self");
    fs::create_directory(proc.Path() / "012");
    const std::vector<TProcessInfo> list = ListProcesses(proc.Path().string());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Pid, 7);
    EXPECT_EQ(list[0].ExeName, "kworker/0:1");  // comm may hold a '/'
    EXPECT_EQ(list[1].Pid, 42);
    EXPECT_EQ(list[1].ExeName, "a-very-long-name-tool");
    EXPECT_EQ(list[2].Pid, 300);
    EXPECT_EQ(list[2].ExeName, "Updater");
    EXPECT_EQ(list[3].Pid, 1000);
    EXPECT_EQ(list[3].ExeName, "bash");
}

// Runs a copy of a binary under a name of our choosing; reaped by the test.
class TChild {
  public:
    TChild(const fs::path& exe, const char* arg) {
        const std::string path = exe.string();
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(arg), nullptr};
        if (::posix_spawn(&Pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) Pid_ = 0;
    }
    ~TChild() {
        if (Pid_ > 0 && !Reaped_) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return Pid_; }
    // The signal that ended the child within five seconds, or 0.
    int EndedBySignal() {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(Pid_, &status, WNOHANG) == Pid_) {
                Reaped_ = true;
                return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    bool Running() { return ::waitpid(Pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t Pid_ = 0;
    bool Reaped_ = false;
};

TEST(CloseProgramByFile, EndsTheLastExactMatchOnly) {
    TTempDir dir;
    const fs::path exact = dir.Path() / "SleepyTarvikTest";
    const fs::path twin = dir.Path() / "sleepyTarvikTest";
    fs::copy_file("/bin/sleep", exact);
    fs::copy_file("/bin/sleep", twin);
    TChild first(exact, "30");
    TChild second(exact, "30");
    TChild other(twin, "30");
    ASSERT_GT(first.Pid(), 0);
    ASSERT_GT(second.Pid(), 0);
    ASSERT_GT(other.Pid(), 0);
    TChild& last = first.Pid() > second.Pid() ? first : second;
    TChild& earlier = first.Pid() > second.Pid() ? second : first;

    // A directory part is ignored; case and length must match exactly.
    EXPECT_EQ(CloseProgramByFile("/somewhere/else/SleepyTarvikTest"), last.Pid());
    EXPECT_EQ(last.EndedBySignal(), SIGTERM);
    EXPECT_TRUE(earlier.Running());
    EXPECT_TRUE(other.Running());

    EXPECT_EQ(CloseProgramByFile("SleepyTarvik"), 0);
    EXPECT_EQ(CloseProgramByFile("SleepyTarvikTest2"), 0);
    EXPECT_EQ(CloseProgramByFile("SLEEPYTARVIKTEST"), 0);
    EXPECT_EQ(CloseProgramByFile(""), 0);
    EXPECT_EQ(CloseProgramByFile(dir.Path().string() + "/"), 0);
    EXPECT_TRUE(earlier.Running());
    EXPECT_TRUE(other.Running());
}

}  // namespace
}  // namespace tarvik
