// Program start by double fork (the grandchild belongs to no one, so no
// zombie stays) and the /proc process scan behind closing by file name.
#include "platform/program_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tarvik {

namespace {

// Owns one file descriptor.
class TFd {
  public:
    explicit TFd(int fd = -1) : Fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }
    int Get() const { return Fd_; }
    void Reset() {
        if (Fd_ >= 0) ::close(Fd_);
        Fd_ = -1;
    }

  private:
    int Fd_;
};

struct TDirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The path execv gets: names with a '/' as they are (relative ones resolve in
// the child's new working directory), others from PATH. Empty PATH entries
// (the current directory) are not searched.
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        if (end > start) {
            std::string candidate = path.substr(start, end - start) + "/" + name;
            if (IsExecutableFile(candidate)) return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Async-signal-safe report of errno from a forked child.
void ReportErrno(int fd, int error) {
    const char* p = reinterpret_cast<const char*>(&error);
    std::size_t left = sizeof error;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Runs in the grandchild: only async-signal-safe calls from here on.
[[noreturn]] void ExecDetached(int errorFd, const char* program, char* const* argv,
                               const char* directory) {
    ::setsid();
    // Signal mask and ignored signals survive exec; the program must get the
    // defaults (this process may block or ignore signals it handles itself).
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    // Descriptors this process left inheritable are not the program's.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    // A directory that cannot be entered does not stop the program: it runs
    // in this process's own working directory instead.
    if (directory && ::chdir(directory) != 0) {
        // stays where this process is
    }
    ::execv(program, argv);
    ReportErrno(errorFd, errno);
    ::_exit(127);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char ch = line[i];
        if (IsBlank(ch)) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (ch == '\\') {
            if (i + 1 < line.size()) {
                word += line[i + 1];
                i += 2;
            } else {
                word += ch;
                ++i;
            }
        } else if (ch == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            const std::size_t end = close == std::string_view::npos ? line.size() : close;
            word.append(line.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? line.size() : close + 1;
        } else if (ch == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos) {
                    word += line[i + 1];
                    i += 2;
                } else {
                    word += line[i++];
                }
            }
            if (i < line.size()) ++i;  // the closing quote
        } else {
            word += ch;
            ++i;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

bool RunProgram(const std::string& commandLine, const std::string& directory) {
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty() || words.front().empty()) return false;
    const std::string program = ResolveProgram(words.front());
    if (program.empty()) return false;

    // Everything the children need is built before fork: after it, in a
    // threaded process, nothing may allocate.
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const char* dir = directory.empty() ? nullptr : directory.c_str();

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    TFd readEnd(fds[0]);
    TFd writeEnd(fds[1]);

    const pid_t middle = ::fork();
    if (middle < 0) return false;
    if (middle == 0) {
        ::close(fds[0]);
        // _Fork runs no fork handlers, which could wait on locks held by
        // threads that do not exist in this child.
        const pid_t grandchild = ::_Fork();
        if (grandchild < 0) {
            ReportErrno(fds[1], errno);
            ::_exit(127);
        }
        if (grandchild > 0) ::_exit(0);
        ExecDetached(fds[1], program.c_str(), argv.data(), dir);
    }
    writeEnd.Reset();

    // The pipe closes on a successful exec and carries errno otherwise.
    int error = 0;
    std::size_t got = 0;
    while (got < sizeof error) {
        const ssize_t n =
            ::read(readEnd.Get(), reinterpret_cast<char*>(&error) + got, sizeof error - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return got == 0;
}

bool ProcessListAvailable(const std::string& procRoot) {
    const std::unique_ptr<DIR, TDirCloser> dir(::opendir(procRoot.c_str()));
    if (!dir) return false;
    while (const dirent* e = ::readdir(dir.get()))
        if (e->d_name[0] >= '1' && e->d_name[0] <= '9') return true;
    return false;
}

std::string_view LastPathComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace {

// Plain reads: a /proc file of a process that ends meanwhile fails with an
// error (ESRCH), which a stream would turn into an exception on some paths.
bool ReadWholeFile(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// The executable name of one process, empty when the process is gone.
std::string ExeNameOf(const std::string& procDir) {
    char buf[4096];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), buf, sizeof buf);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) {
        std::string_view target(buf, static_cast<std::size_t>(n));
        constexpr std::string_view kDeleted = " (deleted)";
        if (target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
        return std::string(LastPathComponent(target));
    }
    std::string comm;
    if (!ReadWholeFile(procDir + "/comm", comm)) return {};
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    std::string cmdline;
    if (ReadWholeFile(procDir + "/cmdline", cmdline)) {
        const std::string_view argv0(cmdline.c_str());  // up to the first NUL
        const std::string_view last = LastPathComponent(argv0);
        if (!comm.empty() && last.starts_with(comm)) return std::string(last);
    }
    return comm;
}

}  // namespace

std::vector<TProcessInfo> ListProcesses(const std::string& procRoot) {
    std::vector<int> pids;
    {
        const std::unique_ptr<DIR, TDirCloser> dir(::opendir(procRoot.c_str()));
        if (!dir) return {};
        while (const dirent* e = ::readdir(dir.get())) {
            const std::string_view name(e->d_name);
            if (name.empty() || name.front() == '0' ||
                !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            if (name.size() > 9) continue;  // beyond any pid
            pids.push_back(std::atoi(e->d_name));
        }
    }
    std::sort(pids.begin(), pids.end());
    std::vector<TProcessInfo> list;
    list.reserve(pids.size());
    for (const int pid : pids) {
        std::string exe = ExeNameOf(procRoot + "/" + std::to_string(pid));
        if (!exe.empty()) list.push_back({pid, std::move(exe)});
    }
    return list;
}

int CloseProgramByFile(const std::string& fileName) {
    if (!ProcessListAvailable()) return 0;
    const std::string_view wanted = LastPathComponent(fileName);
    if (wanted.empty()) return 0;
    int chosen = 0;
    for (const TProcessInfo& p : ListProcesses())
        if (p.ExeName == wanted) chosen = p.Pid;
    if (chosen == 0) return 0;
    return ::kill(chosen, SIGTERM) == 0 ? chosen : 0;
}

}  // namespace tarvik
