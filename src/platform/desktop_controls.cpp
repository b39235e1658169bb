#include "platform/desktop_controls.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#ifdef TARVIK_HAVE_ATSPI
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#endif

namespace tarvik {

#ifdef TARVIK_HAVE_ATSPI
namespace {

constexpr const char* NoBusText =
    "This desktop has no accessibility bus (AT-SPI), so the dial-up keeper cannot press "
    "buttons in other programs' dialog boxes. Install the at-spi2-core package and log in "
    "again, or start /usr/libexec/at-spi-bus-launcher in this session.";
constexpr const char* NoSessionBusText =
    "The D-Bus session bus of this desktop does not answer, so the dial-up keeper cannot "
    "reach the accessibility bus (AT-SPI) and cannot press buttons in other programs' dialog "
    "boxes.";

// Whether the bus at a unix socket address completes the start of its
// authentication within the time-out. libdbus waits without any time-out
// while it authenticates, so a bus that accepts connections but never
// answers would hold the keeper's thread for good. Other transports are
// left to libdbus.
bool BusGreets(const std::string& address, int timeoutMs) {
    std::string entry = address.substr(0, address.find(';'));
    if (entry.rfind("unix:", 0) != 0) return true;
    std::string path;
    bool abstract = false;
    std::size_t pos = 5;
    while (pos < entry.size()) {
        const std::size_t end = std::min(entry.find(',', pos), entry.size());
        const std::string kv = entry.substr(pos, end - pos);
        const std::size_t eq = kv.find('=');
        if (eq != std::string::npos) {
            const std::string key = kv.substr(0, eq);
            if (key == "path" || key == "abstract") {
                abstract = key == "abstract";
                // Values are %-escaped.
                for (std::size_t i = eq + 1; i < kv.size(); ++i) {
                    if (kv[i] == '%' && i + 2 < kv.size()) {
                        path += static_cast<char>(std::stoi(kv.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    } else {
                        path += kv[i];
                    }
                }
            }
        }
        pos = end + 1;
    }
    if (path.empty()) return true;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (path.size() + (abstract ? 1 : 0) >= sizeof sa.sun_path) return true;
    std::memcpy(sa.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    const socklen_t len =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), abstract ? len : sizeof sa) == 0 ||
        errno == EINPROGRESS) {
        char uid[16];
        std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(::getuid()));
        std::string hello("\0AUTH EXTERNAL ", 15);
        for (const char* c = uid; *c; ++c) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(*c));
            hello += hex;
        }
        hello += "\r\n";
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) == 1 && ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) ==
                                                 static_cast<ssize_t>(hello.size())) {
            p = {fd, POLLIN, 0};
            char reply[3] = {};
            ok = ::poll(&p, 1, timeoutMs) == 1 && ::recv(fd, reply, 2, 0) == 2 &&
                 std::string_view(reply, 2) == "OK";
        }
    }
    ::close(fd);
    return ok;
}

// The libdbus connection to the session bus, private to this object so that
// nothing else's messages are dispatched here.
class TSessionBus {
  public:
    explicit TSessionBus(int timeoutMs) : TimeoutMs_(timeoutMs) {
        std::string address;
        if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) {
            address = a;
        } else if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
            // The systemd user bus; libdbus's own fallback would autolaunch.
            const std::string path = std::string(run) + "/bus";
            std::error_code ec;
            if (std::filesystem::exists(path, ec)) address = "unix:path=" + path;
        }
        if (address.empty() || !BusGreets(address, timeoutMs)) return;
        DBusError err;
        dbus_error_init(&err);
        Conn_ = dbus_connection_open_private(address.c_str(), &err);
        dbus_error_free(&err);
        if (!Conn_) return;
        dbus_connection_set_exit_on_disconnect(Conn_, false);
        // The bus's Hello by hand: dbus_bus_register would wait 25 s for a
        // bus that accepts the connection but does not answer.
        DBusMessage* reply = Call(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                               DBUS_INTERFACE_DBUS, "Hello"));
        const char* name = nullptr;
        if (reply &&
            dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID) &&
            name) {
            dbus_bus_set_unique_name(Conn_, name);
        } else {
            dbus_connection_close(Conn_);
            dbus_connection_unref(Conn_);
            Conn_ = nullptr;
        }
        if (reply) dbus_message_unref(reply);
    }
    ~TSessionBus() {
        if (Conn_) {
            dbus_connection_close(Conn_);
            dbus_connection_unref(Conn_);
        }
    }
    TSessionBus(const TSessionBus&) = delete;
    TSessionBus& operator=(const TSessionBus&) = delete;

    bool Connected() const { return Conn_ != nullptr; }

    // org.a11y.Bus.GetAddress: answers only where an accessibility bus runs.
    bool HasAccessibilityBus() {
        DBusMessage* m = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                      "org.a11y.Bus", "GetAddress");
        DBusMessage* reply = Call(m);
        const char* address = nullptr;
        const bool ok =
            reply &&
            dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &address, DBUS_TYPE_INVALID) &&
            address && *address;
        if (reply) dbus_message_unref(reply);
        return ok;
    }

    // org.a11y.Status.IsEnabled; nullopt-like -1 when unreadable.
    int IsEnabled() {
        DBusMessage* m = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                      DBUS_INTERFACE_PROPERTIES, "Get");
        const char* iface = "org.a11y.Status";
        const char* prop = "IsEnabled";
        dbus_message_append_args(m, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Call(m);
        int result = -1;
        DBusMessageIter it, v;
        if (reply && dbus_message_iter_init(reply, &it) &&
            dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&it, &v);
            if (dbus_message_iter_get_arg_type(&v) == DBUS_TYPE_BOOLEAN) {
                dbus_bool_t b = false;
                dbus_message_iter_get_basic(&v, &b);
                result = b ? 1 : 0;
            }
        }
        if (reply) dbus_message_unref(reply);
        return result;
    }

    bool SetEnabled(bool on) {
        DBusMessage* m = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                      DBUS_INTERFACE_PROPERTIES, "Set");
        const char* iface = "org.a11y.Status";
        const char* prop = "IsEnabled";
        dbus_message_append_args(m, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop,
                                 DBUS_TYPE_INVALID);
        DBusMessageIter it, v;
        dbus_message_iter_init_append(m, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING, &v);
        dbus_bool_t b = on;
        dbus_message_iter_append_basic(&v, DBUS_TYPE_BOOLEAN, &b);
        dbus_message_iter_close_container(&it, &v);
        DBusMessage* reply = Call(m);
        if (reply) dbus_message_unref(reply);
        return reply != nullptr;
    }

  private:
    // Sends m (taking it) and waits at most the time-out for the reply;
    // null on an error reply or none in time.
    DBusMessage* Call(DBusMessage* m) {
        if (!m) return nullptr;
        if (!Conn_) {
            dbus_message_unref(m);
            return nullptr;
        }
        DBusError err;
        dbus_error_init(&err);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(Conn_, m, TimeoutMs_, &err);
        dbus_message_unref(m);
        dbus_error_free(&err);
        return reply;
    }

    int TimeoutMs_;
    DBusConnection* Conn_ = nullptr;
};

// An accessible object reference, released with its owner.
struct TUnref {
    void operator()(void* p) const {
        if (p) g_object_unref(p);
    }
};
using TAccessible = std::unique_ptr<AtspiAccessible, TUnref>;

// Whether a GError was set; it is cleared either way.
bool Failed(GError*& error) {
    if (!error) return false;
    g_error_free(error);
    error = nullptr;
    return true;
}

std::string NameOf(AtspiAccessible* acc) {
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(acc, &error);
    std::string result = (!Failed(error) && name) ? name : "";
    g_free(name);
    return result;
}

std::vector<TAccessible> ChildrenOf(AtspiAccessible* acc) {
    std::vector<TAccessible> out;
    GError* error = nullptr;
    const gint n = atspi_accessible_get_child_count(acc, &error);
    if (Failed(error) || n <= 0) return out;
    for (gint i = 0; i < n; ++i) {
        TAccessible child(atspi_accessible_get_child_at_index(acc, i, &error));
        if (Failed(error)) break;
        if (child) out.push_back(std::move(child));
    }
    return out;
}

class TAtspiControl final : public IChildControl {
  public:
    TAtspiControl(TAccessible acc, std::string text)
        : Acc_(std::move(acc)), Text_(std::move(text)) {}
    const std::string& Text() const override { return Text_; }
    bool Press() override {
        AtspiAction* action = atspi_accessible_get_action_iface(Acc_.get());
        if (!action) return false;
        std::unique_ptr<AtspiAction, TUnref> hold(action);
        GError* error = nullptr;
        const gint n = atspi_action_get_n_actions(action, &error);
        if (Failed(error)) return false;
        for (gint i = 0; i < n; ++i) {
            gchar* name = atspi_action_get_action_name(action, i, &error);
            if (Failed(error)) return false;
            const bool match = name && (g_ascii_strcasecmp(name, "press") == 0 ||
                                        g_ascii_strcasecmp(name, "click") == 0);
            g_free(name);
            if (!match) continue;
            const gboolean done = atspi_action_do_action(action, i, &error);
            return !Failed(error) && done;
        }
        return false;
    }

  private:
    TAccessible Acc_;
    std::string Text_;
};

class TSystemDesktopControls final : public IDesktopControls {
  public:
    TSystemDesktopControls(std::string display, int timeoutMs)
        : Display_(std::move(display)), TimeoutMs_(timeoutMs) {
        TryInit();
    }
    std::vector<TTopWindow> TopWindows() override { return ListTopLevelWindows(Display_); }

    TChildControls ChildControls(const TTopWindow& window) override {
        TChildControls out;
        if (!TryInit() || window.Pid <= 0) return out;
        Dispatch();
        TAccessible app = Application(window.Pid);
        if (!app) return out;
        // The application's windows are its children; the one named as the
        // X window is taken, or all of them when none is.
        std::vector<TAccessible> tops = ChildrenOf(app.get());
        std::vector<TAccessible> chosen;
        for (auto& t : tops)
            if (NameOf(t.get()) == window.Title) chosen.push_back(std::move(t));
        if (chosen.empty()) chosen = std::move(tops);
        int budget = MaxNodes;
        for (auto& t : chosen) Collect(t.get(), out, budget);
        return out;
    }

    void SetAccessibility(bool on) override {
        TryInit();
        if (!Bus_ || !Bus_->Connected()) return;
        if (on) {
            const int was = Bus_->IsEnabled();
            if (was == 1) return;  // a screen reader or the user has it on
            if (Bus_->SetEnabled(true)) ChangedByUs_ = true;
        } else if (ChangedByUs_) {
            Bus_->SetEnabled(false);
            ChangedByUs_ = false;
        }
    }

    std::string Problem() override {
        TryInit();
        return Problem_;
    }

  private:
    static constexpr int MaxNodes = 4000;  // a runaway tree is cut off

    // Connects to the session bus and the accessibility bus; a desktop
    // without them is asked again every few seconds, so that a bus started
    // later is found.
    bool TryInit() {
        if (Ready_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (Tried_ && now - LastTry_ < std::chrono::seconds(5)) return false;
        Tried_ = true;
        LastTry_ = now;
        if (!Bus_ || !Bus_->Connected()) Bus_ = std::make_unique<TSessionBus>(TimeoutMs_);
        if (!Bus_->Connected()) {
            Problem_ = NoSessionBusText;
            return false;
        }
        if (!Bus_->HasAccessibilityBus()) {
            Problem_ = NoBusText;
            return false;
        }
        // The library connects once per process; a failed first connection
        // cannot be repeated (it would report success without a bus).
        static int initResult = -1;
        if (initResult != 0) {
            if (initResult == 2) {
                Problem_ = NoBusText;
                return false;
            }
            atspi_set_timeout(TimeoutMs_, TimeoutMs_);
            initResult = atspi_init() == 2 ? 2 : 0;
            if (initResult == 2) {
                Problem_ = NoBusText;
                return false;
            }
        }
        // The library's bus is served from a loop of the keeper's own, not
        // from the window thread's default context. The library keeps the
        // context for the rest of the process, so it is never freed.
        static GMainContext* const context = g_main_context_new();
        Context_ = context;
        atspi_set_main_context(Context_);
        Problem_.clear();
        Ready_ = true;
        return true;
    }

    void Dispatch() {
        while (g_main_context_iteration(Context_, FALSE)) {
        }
    }

    TAccessible Application(int pid) {
        TAccessible desktop(atspi_get_desktop(0));
        if (!desktop) return {};
        // Programs come and go between passes: ask the registry anew.
        atspi_accessible_clear_cache(desktop.get());
        for (TAccessible& app : ChildrenOf(desktop.get())) {
            GError* error = nullptr;
            const guint appPid = atspi_accessible_get_process_id(app.get(), &error);
            if (!Failed(error) && static_cast<int>(appPid) == pid) return std::move(app);
        }
        return {};
    }

    // Named descendants, depth first in tree order.
    void Collect(AtspiAccessible* node, TChildControls& out, int& budget) {
        for (TAccessible& child : ChildrenOf(node)) {
            if (--budget < 0) return;
            std::string name = NameOf(child.get());
            AtspiAccessible* raw = child.get();
            if (!name.empty()) {
                out.push_back(std::make_unique<TAtspiControl>(TAccessible(g_object_ref(raw)),
                                                              std::move(name)));
            }
            Collect(raw, out, budget);
        }
    }

    std::string Display_;
    int TimeoutMs_;
    std::unique_ptr<TSessionBus> Bus_;
    std::string Problem_;
    bool Tried_ = false;
    std::chrono::steady_clock::time_point LastTry_;
    GMainContext* Context_ = nullptr;
    bool Ready_ = false;
    bool ChangedByUs_ = false;
};

}  // namespace

std::unique_ptr<IDesktopControls> MakeSystemDesktopControls(const std::string& display,
                                                            int callTimeoutMs) {
    return std::make_unique<TSystemDesktopControls>(display, callTimeoutMs);
}

#else

namespace {
class TNoDesktopControls final : public IDesktopControls {
  public:
    explicit TNoDesktopControls(std::string display) : Display_(std::move(display)) {}
    std::vector<TTopWindow> TopWindows() override { return ListTopLevelWindows(Display_); }
    TChildControls ChildControls(const TTopWindow&) override { return {}; }
    void SetAccessibility(bool) override {}
    std::string Problem() override {
        return "This build of Tarvik has no accessibility (AT-SPI) support, so the dial-up "
               "keeper cannot press buttons in other programs' dialog boxes.";
    }

  private:
    std::string Display_;
};
}  // namespace

std::unique_ptr<IDesktopControls> MakeSystemDesktopControls(const std::string& display, int) {
    return std::make_unique<TNoDesktopControls>(display);
}

#endif

}  // namespace tarvik
