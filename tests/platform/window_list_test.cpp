// The top-level window list and closing by title, against a private Xvfb
// server without a window manager. The test's own X connection plays the
// programs (and, where needed, the window manager's client list).
#include "platform/window_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#ifdef TARVIK_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char** environ;

namespace tarvik {
namespace {

TEST(WindowList, TitleIsComparedUpTo254BytesAtACharacterBoundary) {
    EXPECT_EQ(ComparedTitle("short"), "short");
    const std::string exact(254, 'a');
    EXPECT_EQ(ComparedTitle(exact), exact);
    const std::string wide = std::string(253, 'a') + "\xC3\xA9";  // 'é' over the limit
    EXPECT_EQ(ComparedTitle(wide), std::string(253, 'a'));
    EXPECT_EQ(ComparedTitle(std::string(300, 'b')).size(), 254u);
}

TEST(WindowList, NoDisplayGivesAnEmptyList) {
    EXPECT_TRUE(ListTopLevelWindows(":987654").empty());
    EXPECT_EQ(CloseWindowsByTitle("anything", ":987654"), 0);
}

#ifdef TARVIK_HAVE_XCB

// A child process, killed and reaped at the end unless it ended before.
class TProcess {
  public:
    explicit TProcess(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&Pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) Pid_ = 0;
        posix_spawn_file_actions_destroy(&fa);
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    ~TProcess() {
        if (Pid_ > 0 && !Reaped_) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return Pid_; }
    bool Running() { return !Reaped_ && ::waitpid(Pid_, nullptr, WNOHANG) == 0; }
    // How the process ended within five seconds: the signal, -1 for a normal
    // exit, 0 when it still runs.
    int WaitEnd() {
        for (int i = 0; i < 500 && !Reaped_; ++i) {
            int status = 0;
            if (::waitpid(Pid_, &status, WNOHANG) == Pid_) {
                Reaped_ = true;
                return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }

  private:
    pid_t Pid_ = 0;
    bool Reaped_ = false;
};

// One private Xvfb for the whole suite; it reports its display number
// through -displayfd once it accepts connections.
class TXvfb {
  public:
    TXvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",     "-displayfd", fd.c_str(), "-nolisten",  "tcp",
                              "-noreset", "-screen",    "0",        "320x240x24", nullptr};
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
        while (Pid_ > 0 && ::poll(&p, 1, 10000) == 1) {
            char ch = 0;
            if (::read(fds[0], &ch, 1) != 1 || ch == '\n') break;
            number += ch;
        }
        ::close(fds[0]);
        if (!number.empty()) Display_ = ":" + number;
    }
    ~TXvfb() {
        if (Pid_ > 0) {
            ::kill(Pid_, SIGTERM);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    const std::string& Display() const { return Display_; }

  private:
    pid_t Pid_ = 0;
    std::string Display_;
};

// A test program's X connection: creates windows and sets their properties.
class TXClient {
  public:
    explicit TXClient(const std::string& display) : C_(xcb_connect(display.c_str(), nullptr)) {
        Root_ = xcb_setup_roots_iterator(xcb_get_setup(C_.get())).data->root;
    }
    xcb_atom_t Atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
            xcb_intern_atom_reply(
                C_.get(),
                xcb_intern_atom(C_.get(), 0, static_cast<std::uint16_t>(strlen(name)), name),
                nullptr),
            &std::free);
        return r ? r->atom : 0;
    }
    xcb_window_t Create(xcb_window_t parent = 0, bool overrideRedirect = false,
                        bool inputOnly = false) {
        const xcb_window_t w = xcb_generate_id(C_.get());
        const std::uint32_t values[] = {overrideRedirect ? 1u : 0u,
                                        XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(
            C_.get(), inputOnly ? 0 : XCB_COPY_FROM_PARENT, w, parent ? parent : Root_, 0, 0, 50,
            50, 0, inputOnly ? XCB_WINDOW_CLASS_INPUT_ONLY : XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        return w;
    }
    void SetText(xcb_window_t w, const char* prop, const char* type, const std::string& text) {
        xcb_change_property(C_.get(), XCB_PROP_MODE_REPLACE, w, Atom(prop), Atom(type), 8,
                            static_cast<std::uint32_t>(text.size()), text.data());
    }
    void SetCardinal(xcb_window_t w, const char* prop, std::uint32_t v) {
        xcb_change_property(C_.get(), XCB_PROP_MODE_REPLACE, w, Atom(prop), XCB_ATOM_CARDINAL, 32,
                            1, &v);
    }
    void SetIds(xcb_window_t w, const char* prop, xcb_atom_t type, std::vector<std::uint32_t> ids) {
        xcb_change_property(C_.get(), XCB_PROP_MODE_REPLACE, w, Atom(prop), type, 32,
                            static_cast<std::uint32_t>(ids.size()), ids.data());
    }
    void DeleteProperty(xcb_window_t w, const char* prop) {
        xcb_delete_property(C_.get(), w, Atom(prop));
    }
    void Map(xcb_window_t w) { xcb_map_window(C_.get(), w); }
    void Sync() {
        std::free(xcb_get_input_focus_reply(C_.get(), xcb_get_input_focus(C_.get()), nullptr));
    }
    xcb_window_t Root() const { return Root_; }

    // True when a WM_DELETE_WINDOW request for w arrives within two seconds.
    bool DeleteRequested(xcb_window_t w) {
        const xcb_atom_t protocols = Atom("WM_PROTOCOLS");
        const xcb_atom_t del = Atom("WM_DELETE_WINDOW");
        for (int i = 0; i < 200; ++i) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(C_.get())) {
                std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> ev(e, &std::free);
                if ((e->response_type & 0x7F) != XCB_CLIENT_MESSAGE) continue;
                const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                if (m->window == w && m->type == protocols && m->data.data32[0] == del) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

  private:
    struct TDisconnect {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    std::unique_ptr<xcb_connection_t, TDisconnect> C_;
    xcb_window_t Root_ = 0;
};

class WindowListX : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { Server_ = std::make_unique<TXvfb>(); }
    static void TearDownTestSuite() { Server_.reset(); }
    void SetUp() override {
        if (Server_->Display().empty())
            GTEST_SKIP() << "Xvfb could not be started; X window tests skipped";
    }
    static const std::string& Display() { return Server_->Display(); }

    static const TTopWindow* Find(const std::vector<TTopWindow>& list, std::uint32_t w) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const TTopWindow& t) { return t.Window == w; });
        return it == list.end() ? nullptr : &*it;
    }
    static std::ptrdiff_t Position(const std::vector<TTopWindow>& list, std::uint32_t w) {
        const TTopWindow* t = Find(list, w);
        return t ? t - list.data() : -1;
    }

    static std::unique_ptr<TXvfb> Server_;
};
std::unique_ptr<TXvfb> WindowListX::Server_;

TEST_F(WindowListX, PlainTopLevelWindowsWithoutWindowManager) {
    TXClient x(Display());
    const xcb_window_t utf = x.Create();
    x.SetText(utf, "_NET_WM_NAME", "UTF8_STRING", "Ünïcode wins");
    x.SetText(utf, "WM_NAME", "STRING", "plain name");
    x.Map(utf);
    const xcb_window_t latin = x.Create();  // never mapped
    x.SetText(latin, "WM_NAME", "STRING", "Caf\xE9");
    x.SetCardinal(latin, "_NET_WM_PID", 12345);
    const xcb_window_t popup = x.Create(0, true);
    x.SetText(popup, "WM_NAME", "STRING", "popup");
    x.Map(popup);
    const xcb_window_t input = x.Create(0, false, true);
    x.SetText(input, "WM_NAME", "STRING", "input only");
    // A frame as a reparenting window manager makes it: the client below it
    // carries WM_STATE.
    const xcb_window_t frame = x.Create();
    const xcb_window_t client = x.Create(frame);
    x.SetIds(client, "WM_STATE", x.Atom("WM_STATE"), {1, 0});
    x.SetText(client, "_NET_WM_NAME", "UTF8_STRING", "framed client");
    x.Map(client);
    x.Map(frame);
    const xcb_window_t remote = x.Create();
    x.SetText(remote, "WM_NAME", "STRING", "remote");
    x.SetText(remote, "WM_CLIENT_MACHINE", "STRING", "elsewhere.invalid");
    x.SetCardinal(remote, "_NET_WM_PID", 4242);
    x.Sync();

    const std::vector<TTopWindow> list = ListTopLevelWindows(Display());
    ASSERT_NE(Find(list, utf), nullptr);
    EXPECT_EQ(Find(list, utf)->Title, "Ünïcode wins");
    // Without _NET_WM_PID the X server tells the owner: this process.
    EXPECT_EQ(Find(list, utf)->Pid, ::getpid());
    ASSERT_NE(Find(list, latin), nullptr);
    EXPECT_EQ(Find(list, latin)->Title, "Caf\xC3\xA9");
    EXPECT_EQ(Find(list, latin)->Pid, 12345);
    EXPECT_EQ(Find(list, popup), nullptr);
    EXPECT_EQ(Find(list, input), nullptr);
    EXPECT_EQ(Find(list, frame), nullptr);
    ASSERT_NE(Find(list, client), nullptr);
    EXPECT_EQ(Find(list, client)->Title, "framed client");
    ASSERT_NE(Find(list, remote), nullptr);
    EXPECT_EQ(Find(list, remote)->Pid, 0);
    // Top first: later windows lie above earlier ones.
    EXPECT_LT(Position(list, remote), Position(list, client));
    EXPECT_LT(Position(list, client), Position(list, latin));
    EXPECT_LT(Position(list, latin), Position(list, utf));
}

TEST_F(WindowListX, ManagedClientsComeFirstInStackingOrder) {
    TXClient x(Display());
    const xcb_window_t bottom = x.Create();
    const xcb_window_t top = x.Create();
    const xcb_window_t unmanaged = x.Create();  // above both in the tree
    x.SetIds(x.Root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, {bottom, top});
    x.Sync();
    const std::vector<TTopWindow> list = ListTopLevelWindows(Display());
    x.DeleteProperty(x.Root(), "_NET_CLIENT_LIST_STACKING");
    x.Sync();
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(list[0].Window, top);
    EXPECT_EQ(list[1].Window, bottom);
    EXPECT_EQ(Position(list, unmanaged), 2);
    EXPECT_EQ(std::count_if(list.begin(), list.end(),
                            [&](const TTopWindow& t) { return t.Window == top; }),
              1);
}

TEST_F(WindowListX, CloseByTitleSignalsOwnersOrAsksTheWindow) {
    TXClient x(Display());
    TProcess owner({"sleep", "30"}), keeper({"sleep", "30"}), caseTwin({"sleep", "30"}),
        longTitle({"sleep", "30"});
    ASSERT_GT(owner.Pid(), 0);
    auto window = [&](const std::string& title, pid_t pid) {
        const xcb_window_t w = x.Create();
        x.SetText(w, "_NET_WM_NAME", "UTF8_STRING", title);
        if (pid) x.SetCardinal(w, "_NET_WM_PID", static_cast<std::uint32_t>(pid));
        return w;
    };
    window("Tarvik close-me main", owner.Pid());
    window("second close-me window", owner.Pid());
    window("Tarvik keep", keeper.Pid());
    window("Tarvik Close-Me", caseTwin.Pid());
    window(std::string(250, 'x') + "close-me", longTitle.Pid());  // beyond 254 bytes
    // A client of another machine: its pid means nothing here, so the window
    // itself is asked to close.
    const xcb_window_t remote = window("remote close-me", 0);
    x.SetText(remote, "WM_CLIENT_MACHINE", "STRING", "elsewhere.invalid");
    x.SetIds(remote, "WM_PROTOCOLS", XCB_ATOM_ATOM, {x.Atom("WM_DELETE_WINDOW")});
    x.Sync();

    EXPECT_EQ(CloseWindowsByTitle("", Display()), 0);
    EXPECT_EQ(CloseWindowsByTitle("close-me", Display()), 3);
    EXPECT_EQ(owner.WaitEnd(), SIGTERM);
    EXPECT_TRUE(x.DeleteRequested(remote));
    EXPECT_TRUE(keeper.Running());
    EXPECT_TRUE(caseTwin.Running());
    EXPECT_TRUE(longTitle.Running());
}

// A real X program found by its title and closed.
TEST_F(WindowListX, ClosesARealProgram) {
    TProcess shown({"xmessage", "-display", Display(), "-title", "tarvik xmessage close-me", "hi"});
    TProcess other({"xmessage", "-display", Display(), "-title", "tarvik xmessage other", "hi"});
    if (shown.Pid() <= 0) GTEST_SKIP() << "xmessage (x11-utils) is not installed";
    const TTopWindow* found = nullptr;
    std::vector<TTopWindow> list;
    for (int i = 0; i < 500 && !found; ++i) {
        list = ListTopLevelWindows(Display());
        for (const TTopWindow& t : list)
            if (t.Title == "tarvik xmessage close-me") found = &t;
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(found, nullptr) << "the xmessage window did not appear";
    EXPECT_EQ(found->Pid, shown.Pid());
    EXPECT_EQ(CloseWindowsByTitle("xmessage close-me", Display()), 1);
    EXPECT_EQ(shown.WaitEnd(), SIGTERM);
    EXPECT_TRUE(other.Running());
}

#endif  // TARVIK_HAVE_XCB

}  // namespace
}  // namespace tarvik
