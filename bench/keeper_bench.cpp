// One dial-up keeper pass over 50 top-level windows with 10 table rows.
// Scripted: the matching alone. XWindowList: the window list read from a
// private Xvfb holding 50 titled windows (the part of a pass that every tick
// pays), with scripted controls for the two matching dialogs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "monitor/dialup_keeper.h"

#ifdef TARVIK_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char** environ;

namespace tarvik {
namespace {

constexpr int Windows = 50;

std::string TitleOf(int i) {
    if (i == 17) return "Reestablish Connection - office";
    if (i == 33) return "Connect To provider";
    return "Document " + std::to_string(i) + " - Editor";
}

std::vector<TConnectWindowsRow> Table() {
    std::vector<TConnectWindowsRow> t{{"Dialog Box Title", "Button To Push"},
                                      {"Connect To", "Connect"},
                                      {"Dial-Up Networking", "OK"},
                                      {"Reestablish Connection", "Reconnect"}};
    for (int r = 4; r <= 10; ++r) t.push_back({"Unknown dialog " + std::to_string(r), "Retry"});
    return t;
}

class TControl final : public IChildControl {
  public:
    explicit TControl(std::string t) : Text_(std::move(t)) {}
    const std::string& Text() const override { return Text_; }
    bool Press() override { return true; }

  private:
    std::string Text_;
};

// Windows from a list function; every window has the same four controls.
class TDesktop final : public IDesktopControls {
  public:
    explicit TDesktop(std::function<std::vector<TTopWindow>()> list) : List_(std::move(list)) {}
    std::vector<TTopWindow> TopWindows() override { return List_(); }
    TChildControls ChildControls(const TTopWindow&) override {
        TChildControls out;
        for (const char* t : {"The connection was lost.", "Cancel", "Details", "Reconnect"})
            out.push_back(std::make_unique<TControl>(t));
        return out;
    }
    void SetAccessibility(bool) override {}
    std::string Problem() override { return {}; }

  private:
    std::function<std::vector<TTopWindow>()> List_;
};

void BM_KeeperPass_Scripted(benchmark::State& state) {
    std::vector<TTopWindow> windows;
    for (int i = 0; i < Windows; ++i)
        windows.push_back({static_cast<std::uint32_t>(i + 1), TitleOf(i), 1000 + i});
    TDesktop desktop([&] { return windows; });
    const auto table = Table();
    for (auto _ : state) benchmark::DoNotOptimize(RunKeeperPass(table, desktop));
}
BENCHMARK(BM_KeeperPass_Scripted)->Unit(benchmark::kMicrosecond);

#ifdef TARVIK_HAVE_XCB

// A private Xvfb (display chosen by the server) with 50 mapped, titled
// windows of one client connection.
class TXvfbWithWindows {
  public:
    TXvfbWithWindows() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",     "-displayfd", fd.c_str(), "-nolisten",  "tcp",
                              "-noreset", "-screen",    "0",        "640x480x24", nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&Pid_, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
            Pid_ = 0;
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (Pid_ > 0 && ::poll(&p, 1, 15000) == 1) {
            char ch = 0;
            if (::read(fds[0], &ch, 1) != 1 || ch == '\n') break;
            number += ch;
        }
        ::close(fds[0]);
        if (number.empty()) return;
        Display = ":" + number;
        C_ = xcb_connect(Display.c_str(), nullptr);
        if (xcb_connection_has_error(C_)) return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(C_)).data->root;
        for (int i = 0; i < Windows; ++i) {
            const xcb_window_t w = xcb_generate_id(C_);
            xcb_create_window(C_, XCB_COPY_FROM_PARENT, w, root, i * 5, i * 5, 200, 100, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
            const std::string title = TitleOf(i);
            xcb_change_property(C_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                static_cast<std::uint32_t>(title.size()), title.data());
            xcb_map_window(C_, w);
        }
        xcb_aux_sync();
    }
    ~TXvfbWithWindows() {
        if (C_) xcb_disconnect(C_);
        if (Pid_ > 0) {
            ::kill(Pid_, SIGTERM);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    std::string Display;

  private:
    void xcb_aux_sync() {
        std::free(xcb_get_input_focus_reply(C_, xcb_get_input_focus(C_), nullptr));
    }
    pid_t Pid_ = 0;
    xcb_connection_t* C_ = nullptr;
};

void BM_KeeperPass_XWindowList(benchmark::State& state) {
    TXvfbWithWindows x;
    if (x.Display.empty()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    TDesktop desktop([&] { return ListTopLevelWindows(x.Display); });
    const auto table = Table();
    int presses = 0;
    for (auto _ : state) presses = RunKeeperPass(table, desktop);
    state.counters["windows"] = static_cast<double>(desktop.TopWindows().size());
    state.counters["presses"] = presses;
}
BENCHMARK(BM_KeeperPass_XWindowList)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();
