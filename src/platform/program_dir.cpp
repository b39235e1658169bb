#include "platform/program_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tarvik {
namespace {

std::string WithSlash(std::string p) {
    if (p.empty() || p.back() != '/') p += '/';
    return p;
}

std::string DirName(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDir(const std::string& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0;
}

bool MakeDirs(const std::string& path) {
    if (path.empty() || IsDir(path)) return true;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (IsDir(p)) return true;
    if (!MakeDirs(DirName(p))) return false;
    return ::mkdir(p.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

TProgramPaths ResolveProgramPaths(const std::string& executablePath, const TEnvLookup& envIn) {
    const TEnvLookup env = envIn ? envIn : [](const char* n) { return std::getenv(n); };
    TProgramPaths paths;
    const std::string exeDir = DirName(executablePath);
    const std::string prefix = DirName(exeDir);
    const std::string share = WithSlash(prefix) + "share/tarvik";
    if (BaseName(exeDir) == "bin" && IsDir(share)) {
        paths.Installed = true;
        const char* home = env("HOME");
        const std::string homeDir = home && *home ? home : "/tmp";
        const char* cfg = env("XDG_CONFIG_HOME");
        const char* data = env("XDG_DATA_HOME");
        // The XDG rules ignore relative paths.
        paths.ConfigDir = WithSlash((cfg && *cfg == '/') ? std::string(cfg) : homeDir + "/.config") +
                          "tarvik/";
        paths.DataDir =
            WithSlash((data && *data == '/') ? std::string(data) : homeDir + "/.local/share") +
            "tarvik/";
        paths.HelpDir = share + "/help/";
    } else {
        paths.ConfigDir = WithSlash(exeDir);
        paths.DataDir = paths.ConfigDir;
        paths.HelpDir = paths.ConfigDir + "help/";
    }
    return paths;
}

std::string ExecutablePath() {
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return "./tarvik";
    return std::string(buf, static_cast<std::size_t>(n));
}

const TProgramPaths& ProgramPaths() {
    static const TProgramPaths paths = ResolveProgramPaths(ExecutablePath());
    return paths;
}

bool EnsureProgramDirs(const TProgramPaths& paths) {
    return MakeDirs(paths.ConfigDir) && MakeDirs(paths.DataDir);
}

bool IsFirstRunOnMachine(const TProgramPaths& paths) {
    return !Exists(paths.ConfigFile()) && !Exists(paths.TrendDataFile()) &&
           !Exists(paths.TrendIndexFile());
}

}  // namespace tarvik
