// tarvik-cli: the headless companion. It measures the resources of a
// configuration with the same threads, probes, configuration and trend files
// as the window, serves the current measurements to Prometheus, and exports
// a day's trend as TSV, CSV or JSON. It needs no display.
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_export.h"
#include "engine/probe_factory.h"
#include "monitor/metrics.h"
#include "monitor/monitor_session.h"
#include "monitor/speed_event.h"
#include "platform/icmp_socket.h"
#include "platform/ini_file.h"
#include "platform/metrics_server.h"
#include "platform/program_dir.h"
#include "trend/trend_export_formats.h"

namespace tarvik {
namespace {

constexpr int kUsageError = 2;

const char* const kUsage =
    "Usage: tarvik-cli [--dir DIR] COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  measure [--listen ADDR:PORT] [--no-trend]\n"
    "      Measure every resource of the configuration until SIGTERM or SIGINT;\n"
    "      SIGHUP rereads the configuration. --listen serves the measurements\n"
    "      at http://ADDR:PORT/metrics for Prometheus (also [Metrics] Listen= in\n"
    "      QUORBELT.INI; a port alone listens on loopback). --no-trend writes no\n"
    "      trend records.\n"
    "  export --day YYYY-MM-DD [--from HH:MM] [--till HH:MM]\n"
    "         [--format tsv|csv|json] [--output FILE]\n"
    "      Write a day's quarter-hour trend of the configured resources.\n"
    "      tsv (default) is the window's \"Copy to File\" table.\n"
    "\n"
    "Options:\n"
    "  --dir DIR    the directory holding QUORBELT.INI and the trend files\n"
    "               (default: beside the executable, or the XDG directories\n"
    "               when installed)\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

int UsageError(const std::string& message) {
    std::cerr << "tarvik-cli: " << message << "\n\n" << kUsage;
    return kUsageError;
}

TProgramPaths PathsFor(const std::optional<std::string>& dir) {
    if (!dir) return ProgramPaths();
    TProgramPaths paths;
    std::string d = *dir;
    if (d.empty() || d.back() != '/') d += '/';
    paths.ConfigDir = paths.DataDir = d;
    paths.HelpDir = d + "help/";
    return paths;
}

// Events without a display: run and close-by-file act as in the window; a
// sound or a window title cannot, which is said once per kind.
class THeadlessActions final : public ISpeedEventActions {
public:
    explicit THeadlessActions(TSystemSpeedEventActions::TPostFunction post)
        : System_([](const std::string&) {}, std::move(post)) {
        // A failed action is said on standard error, as the window's message would say it.
        System_.Outcome = [](const TActionOutcome& o) {
            if (!o.Done) std::cerr << "tarvik-cli: a speed event's action failed: " << o.Target << "\n";
        };
    }
    void PlaySound(const std::string& fileName) override {
        Once("sound", "a speed event would play " + fileName + ", but the companion has no sound device");
    }
    void RunProgram(const std::string& commandLine, const std::string& directory) override {
        System_.RunProgram(commandLine, directory);
    }
    void CloseProgramByFile(const std::string& fileName) override { System_.CloseProgramByFile(fileName); }
    void CloseWindowsByTitle(const std::string& titleText) override {
        Once("title", "a speed event would close the windows titled \"" + titleText +
                          "\", but the companion has no display");
    }

private:
    void Once(const std::string& what, const std::string& text) {
        if (Said_.insert(what).second) std::cerr << "tarvik-cli: " << text << "\n";
    }
    TSystemSpeedEventActions System_;
    std::set<std::string> Said_;
};

std::string Clock() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

std::string Trimmed(const std::string& s) {
    const auto a = s.find_first_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a);
}

int Measure(const TProgramPaths& paths, std::optional<std::string> listen, bool noTrend) {
    // The close and reload signals arrive through a descriptor; they are
    // blocked before any thread starts, so every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigFd < 0) {
        std::cerr << "tarvik-cli: cannot receive signals: " << std::strerror(errno) << "\n";
        return 1;
    }

    const TIcmpBinding icmp = BindIcmp();
    if (!icmp.Available) {
        std::string text = icmp.Message;
        for (char& c : text)
            if (c == '\r') c = ' ';
        std::cerr << "tarvik-cli: " << text << "\n";
    }

    const bool tty = ::isatty(STDOUT_FILENO) == 1;
    TMonitorSessionOptions options;
    options.Paths = paths;
    options.Probes = MakeProgramProbes(icmp.Available);
    options.Trend = !noTrend;
    options.Notice = [](const std::string& text) { std::cerr << "tarvik-cli: " << text << "\n"; };
    TMonitorSession* sessionPtr = nullptr;
    if (tty)
        options.StatusChanged = [&sessionPtr](int row, const std::string& text) {
            const TResourceTable& t = sessionPtr->Table();
            std::printf("%s  %s  %s\n", Clock().c_str(), t.Cell(colAddress, row).c_str(), Trimmed(text).c_str());
            std::fflush(stdout);
        };
    TMonitorSession session(options);
    sessionPtr = &session;
    THeadlessActions actions([&session](std::function<void()> work) { session.Post(std::move(work)); });
    session.SetActions(&actions);
    std::string error;
    if (!session.Load(&error)) {
        std::cerr << "tarvik-cli: " << error << "\n";
        return 1;
    }

    // The metrics address: the option, else the configuration's key.
    if (!listen) {
        TIniFile ini;
        if (ini.Load(paths.ConfigFile()) == TIniFile::TLoadStatus::Loaded) {
            const std::string key = ini.ReadString("Metrics", "Listen", "");
            if (!key.empty()) listen = key;
        }
    }
    TMetricsServer server;
    if (listen) {
        const std::optional<TListenAddress> address = ParseListenAddress(*listen);
        if (!address) {
            std::cerr << "tarvik-cli: not an address to listen on: " << *listen
                      << " (ADDR:PORT, [ADDR6]:PORT or PORT)\n";
            return 1;
        }
        if (!server.Start(*address, [&session] { return FormatMetrics(session.MetricRows(), TARVIK_VERSION); },
                          &error)) {
            std::cerr << "tarvik-cli: " << error << "\n";
            return 1;
        }
        if (tty) std::printf("serving metrics at http://%s:%d/metrics\n", address->Host.c_str(), server.Port());
    }

    session.Start();
    using namespace std::chrono;
    auto nextTick = steady_clock::now();
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= nextTick) {
            session.Tick();
            nextTick = now + milliseconds(50);
        }
        const int waitMs = static_cast<int>(duration_cast<milliseconds>(nextTick - steady_clock::now()).count());
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {session.WakeFd(), POLLIN, 0}};
        const int n = ::poll(fds, 2, std::max(waitMs, 0));
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) session.RunPending();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            bool close = false;
            while (::read(sigFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGHUP) {
                    if (!session.Reload(&error))
                        std::cerr << "tarvik-cli: the configuration was not reread: " << error << "\n";
                } else {
                    close = true;
                }
            }
            if (close) break;
        }
    }
    server.Stop();
    session.Close();
    ::close(sigFd);
    return 0;
}

}  // namespace
}  // namespace tarvik

int main(int argc, char** argv) {
    using namespace tarvik;
    std::optional<std::string> dir;
    std::string command;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--version") {
            std::cout << "tarvik-cli " << TARVIK_VERSION << "\n";
            return 0;
        }
        if (a == "--dir" || a.rfind("--dir=", 0) == 0) {
            if (a == "--dir") {
                if (i + 1 >= argc) return UsageError("--dir needs a directory");
                dir = argv[++i];
            } else {
                dir = a.substr(6);
            }
            continue;
        }
        if (command.empty() && !a.empty() && a[0] != '-') {
            command = a;
            continue;
        }
        if (command.empty()) return UsageError("unknown option " + a);
        rest.push_back(a);
    }
    if (command.empty()) return UsageError("no command given");
    const TProgramPaths paths = PathsFor(dir);

    // Options of the commands: "--name value" or "--name=value".
    std::map<std::string, std::string> opts;
    auto take = [&](const std::set<std::string>& valued, const std::set<std::string>& flags,
                    std::string& bad) {
        for (std::size_t i = 0; i < rest.size(); ++i) {
            std::string name = rest[i], value;
            if (const auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                if (!valued.count(name)) return bad = rest[i], false;
            } else if (valued.count(name)) {
                if (i + 1 >= rest.size()) return bad = name + " needs a value", false;
                value = rest[++i];
            } else if (!flags.count(name)) {
                return bad = (name.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + name, false;
            }
            opts[name] = value;
        }
        return true;
    };
    std::string bad;
    if (command == "measure") {
        if (!take({"--listen"}, {"--no-trend"}, bad)) return UsageError(bad);
        std::optional<std::string> listen;
        if (opts.count("--listen")) {
            listen = opts["--listen"];
            if (!ParseListenAddress(*listen))
                return UsageError("not an address to listen on: " + *listen + " (ADDR:PORT, [ADDR6]:PORT or PORT)");
        }
        return Measure(paths, listen, opts.count("--no-trend") > 0);
    }
    if (command == "export") {
        if (!take({"--day", "--from", "--till", "--format", "--output"}, {}, bad)) return UsageError(bad);
        TExportRequest request;
        if (!opts.count("--day")) return UsageError("export needs --day YYYY-MM-DD");
        const auto day = ParseExportDay(opts["--day"]);
        if (!day) return UsageError("not a date: " + opts["--day"] + " (YYYY-MM-DD)");
        request.Day = *day;
        if (opts.count("--from")) {
            const auto s = ParseExportTime(opts["--from"]);
            if (!s) return UsageError("not a quarter-hour time: " + opts["--from"] + " (HH:MM, 00:00 to 24:00)");
            request.FromSlot = *s;
        }
        if (opts.count("--till")) {
            const auto s = ParseExportTime(opts["--till"]);
            if (!s) return UsageError("not a quarter-hour time: " + opts["--till"] + " (HH:MM, 00:00 to 24:00)");
            request.TillSlot = *s;
        }
        if (opts.count("--format")) {
            request.Format = opts["--format"];
            if (request.Format != "tsv" && request.Format != "csv" && request.Format != "json")
                return UsageError("unknown format " + request.Format + " (tsv, csv or json)");
        }
        std::string text, error;
        if (!BuildExport(paths, request, text, error)) {
            std::cerr << "tarvik-cli: " << error << "\n";
            return 1;
        }
        if (opts.count("--output")) {
            const std::string& file = opts["--output"];
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            if (!out) {
                std::cerr << "tarvik-cli: Unable to write to " << file << "\n";
                return 1;
            }
        } else {
            std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
            std::cout.flush();
        }
        return 0;
    }
    return UsageError("unknown command " + command);
}
