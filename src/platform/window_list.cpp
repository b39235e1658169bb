// Top-level window walk over xcb. xcb reports a window that vanished in the
// middle of the walk with an empty reply, where Xlib's error handler would
// end the process, so windows may come and go while we read them.
#include "platform/window_list.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <utility>

#ifdef TARVIK_HAVE_XCB
#include <xcb/res.h>
#include <xcb/xcb.h>
#endif

namespace tarvik {

std::string_view ComparedTitle(std::string_view title) {
    constexpr std::size_t kMax = 254;
    if (title.size() <= kMax) return title;
    std::size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(title[n]) & 0xC0) == 0x80) --n;
    return title.substr(0, n);
}

#ifdef TARVIK_HAVE_XCB

namespace {

struct TFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using TReply = std::unique_ptr<T, TFreeDeleter>;

struct TDisconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// Client windows sit at most this deep below a window manager's frame.
constexpr int kMaxFrameDepth = 4;
// Titles longer than this are never compared in full anyway.
constexpr std::uint32_t kTitleWords = 1024;

std::string LatinToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string LocalHostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

// Host names compare on their first label so that "box" and "box.lan" agree.
bool SameHost(std::string_view a, std::string_view b) {
    a = a.substr(0, a.find('.'));
    b = b.substr(0, b.find('.'));
    return a == b;
}

class TXSession {
  public:
    explicit TXSession(const std::string& display) {
        int screen = 0;
        Conn_.reset(xcb_connect(display.empty() ? nullptr : display.c_str(), &screen));
        if (!Conn_ || xcb_connection_has_error(Conn_.get())) {
            Conn_.reset();
            return;
        }
        const char* names[] = {"_NET_CLIENT_LIST_STACKING",
                               "_NET_WM_NAME",
                               "UTF8_STRING",
                               "WM_STATE",
                               "_NET_WM_PID",
                               "WM_PROTOCOLS",
                               "WM_DELETE_WINDOW"};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] = xcb_intern_atom(Conn_.get(), 1,
                                         static_cast<std::uint16_t>(strlen(names[i])), names[i]);
        xcb_atom_t* targets[] = {&ClientListStacking_, &NetWmName_,   &Utf8String_,    &WmState_,
                                 &NetWmPid_,           &WmProtocols_, &WmDeleteWindow_};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            TReply<xcb_intern_atom_reply_t> r(
                xcb_intern_atom_reply(Conn_.get(), cookies[i], nullptr));
            *targets[i] = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
        const xcb_query_extension_reply_t* res = xcb_get_extension_data(Conn_.get(), &xcb_res_id);
        HaveRes_ = res && res->present;
        if (HaveRes_) {
            // Client ids need version 1.2 of the extension.
            TReply<xcb_res_query_version_reply_t> v(xcb_res_query_version_reply(
                Conn_.get(), xcb_res_query_version(Conn_.get(), 1, 2), nullptr));
            HaveRes_ = v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
        }
    }

    bool Ok() const { return Conn_ != nullptr; }

    std::vector<TTopWindow> List() {
        std::vector<xcb_window_t> order;
        std::set<xcb_window_t> seen;
        auto add = [&](xcb_window_t w) {
            if (seen.insert(w).second) order.push_back(w);
        };
        std::vector<xcb_window_t> roots;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(Conn_.get())); it.rem;
             xcb_screen_next(&it))
            roots.push_back(it.data->root);

        for (const xcb_window_t root : roots) {
            std::vector<xcb_window_t> managed = WindowListProperty(root, ClientListStacking_);
            std::for_each(managed.rbegin(), managed.rend(), add);
        }
        for (const xcb_window_t root : roots) {
            std::vector<xcb_window_t> tops = Children(root);
            std::reverse(tops.begin(), tops.end());  // query order is bottom to top
            for (const xcb_window_t w : ProgramWindows(tops)) add(ClientOf(w));
        }
        return Describe(order);
    }

    int CloseByTitle(const std::string& text) {
        if (text.empty()) return 0;
        int matched = 0;
        std::set<int> signalled;
        for (const TTopWindow& w : List()) {
            if (w.Title.empty() || ComparedTitle(w.Title).find(text) == std::string_view::npos)
                continue;
            ++matched;
            if (w.Pid > 0) {
                if (signalled.insert(w.Pid).second) ::kill(w.Pid, SIGTERM);
            } else {
                SendDeleteWindow(w.Window);
            }
        }
        // One round trip so that the requests have reached the server before
        // the connection closes.
        TReply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(Conn_.get(), xcb_get_input_focus(Conn_.get()), nullptr));
        return matched;
    }

  private:
    xcb_connection_t* C() const { return Conn_.get(); }

    std::vector<xcb_window_t> WindowListProperty(xcb_window_t w, xcb_atom_t prop) {
        if (prop == XCB_ATOM_NONE) return {};
        TReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            C(), xcb_get_property(C(), 0, w, prop, XCB_ATOM_WINDOW, 0, 1u << 16), nullptr));
        if (!r || r->format != 32 || r->type != XCB_ATOM_WINDOW) return {};
        const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(r.get()));
        return {v, v + xcb_get_property_value_length(r.get()) / 4};
    }

    std::vector<xcb_window_t> Children(xcb_window_t w) {
        TReply<xcb_query_tree_reply_t> r(
            xcb_query_tree_reply(C(), xcb_query_tree(C(), w), nullptr));
        if (!r) return {};
        const xcb_window_t* v = xcb_query_tree_children(r.get());
        return {v, v + xcb_query_tree_children_length(r.get())};
    }

    // The root's children that can be program windows: not override-redirect
    // (menus, tooltips) and not input-only.
    std::vector<xcb_window_t> ProgramWindows(const std::vector<xcb_window_t>& tops) {
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(tops.size());
        for (const xcb_window_t w : tops) cookies.push_back(xcb_get_window_attributes(C(), w));
        std::vector<xcb_window_t> kept;
        for (std::size_t i = 0; i < tops.size(); ++i) {
            TReply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(C(), cookies[i], nullptr));
            if (!a || a->override_redirect || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
            kept.push_back(tops[i]);
        }
        return kept;
    }

    // Breadth-first search below a top-level window for the window carrying
    // WM_STATE (the client inside a frame); the window itself when none does,
    // which is the case for every window when no window manager runs.
    xcb_window_t ClientOf(xcb_window_t top) {
        if (WmState_ == XCB_ATOM_NONE) return top;
        std::vector<xcb_window_t> level{top};
        for (int depth = 0; depth <= kMaxFrameDepth && !level.empty(); ++depth) {
            std::vector<xcb_get_property_cookie_t> cookies;
            cookies.reserve(level.size());
            for (const xcb_window_t w : level)
                cookies.push_back(
                    xcb_get_property(C(), 0, w, WmState_, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
            xcb_window_t found = XCB_WINDOW_NONE;
            for (std::size_t i = 0; i < level.size(); ++i) {
                TReply<xcb_get_property_reply_t> r(
                    xcb_get_property_reply(C(), cookies[i], nullptr));
                if (found == XCB_WINDOW_NONE && r && r->type != XCB_ATOM_NONE) found = level[i];
            }
            if (found != XCB_WINDOW_NONE) return found;
            if (depth == kMaxFrameDepth) break;
            std::vector<xcb_query_tree_cookie_t> trees;
            trees.reserve(level.size());
            for (const xcb_window_t w : level) trees.push_back(xcb_query_tree(C(), w));
            std::vector<xcb_window_t> next;
            for (const xcb_query_tree_cookie_t& t : trees) {
                TReply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(C(), t, nullptr));
                if (!r) continue;
                const xcb_window_t* v = xcb_query_tree_children(r.get());
                // Children come bottom to top; the topmost client is taken first.
                for (int k = xcb_query_tree_children_length(r.get()) - 1; k >= 0; --k)
                    next.push_back(v[k]);
            }
            level = std::move(next);
        }
        return top;
    }

    static std::string PropertyText(const xcb_get_property_reply_t* r) {
        if (!r || r->format != 8) return {};
        std::string s(static_cast<const char*>(xcb_get_property_value(r)),
                      static_cast<std::size_t>(xcb_get_property_value_length(r)));
        while (!s.empty() && s.back() == '\0') s.pop_back();
        return s;
    }

    std::vector<TTopWindow> Describe(const std::vector<xcb_window_t>& windows) {
        struct TPending {
            xcb_get_property_cookie_t NetName, Name, Pid, Machine;
        };
        std::vector<TPending> pending;
        pending.reserve(windows.size());
        for (const xcb_window_t w : windows) {
            TPending p{};
            p.NetName = xcb_get_property(C(), 0, w, NetWmName_, Utf8String_, 0, kTitleWords);
            p.Name = xcb_get_property(C(), 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                      kTitleWords);
            p.Pid = xcb_get_property(C(), 0, w, NetWmPid_, XCB_ATOM_CARDINAL, 0, 1);
            p.Machine = xcb_get_property(C(), 0, w, XCB_ATOM_WM_CLIENT_MACHINE,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
            pending.push_back(p);
        }
        const std::string host = LocalHostName();
        std::vector<TTopWindow> out;
        std::vector<bool> local(windows.size(), true);
        out.reserve(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            TTopWindow t;
            t.Window = windows[i];
            TReply<xcb_get_property_reply_t> netName(
                xcb_get_property_reply(C(), pending[i].NetName, nullptr));
            TReply<xcb_get_property_reply_t> name(
                xcb_get_property_reply(C(), pending[i].Name, nullptr));
            TReply<xcb_get_property_reply_t> pid(
                xcb_get_property_reply(C(), pending[i].Pid, nullptr));
            TReply<xcb_get_property_reply_t> machine(
                xcb_get_property_reply(C(), pending[i].Machine, nullptr));
            if (NetWmName_ != XCB_ATOM_NONE && netName && netName->type == Utf8String_)
                t.Title = PropertyText(netName.get());
            if (t.Title.empty() && name) {
                t.Title = PropertyText(name.get());
                if (name->type == XCB_ATOM_STRING) t.Title = LatinToUtf8(t.Title);
            }
            // A pid from another machine would name some unrelated local process.
            const std::string client = PropertyText(machine.get());
            local[i] = client.empty() || SameHost(client, "localhost") || SameHost(client, host);
            if (local[i] && pid && pid->type == XCB_ATOM_CARDINAL && pid->format == 32 &&
                xcb_get_property_value_length(pid.get()) >= 4) {
                t.Pid = static_cast<int>(
                    *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())));
                if (t.Pid < 0) t.Pid = 0;
            }
            out.push_back(std::move(t));
        }
        if (HaveRes_) FillPidsFromResources(out, local);
        return out;
    }

    // The X-Resource extension knows the pid of every local client.
    void FillPidsFromResources(std::vector<TTopWindow>& list, const std::vector<bool>& local) {
        std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> cookies;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].Pid != 0 || !local[i]) continue;
            xcb_res_client_id_spec_t wanted{list[i].Window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            cookies.emplace_back(i, xcb_res_query_client_ids(C(), 1, &wanted));
        }
        for (const auto& [i, cookie] : cookies) {
            TReply<xcb_res_query_client_ids_reply_t> r(
                xcb_res_query_client_ids_reply(C(), cookie, nullptr));
            if (!r) continue;
            for (auto it = xcb_res_query_client_ids_ids_iterator(r.get()); it.rem;
                 xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) >= 1) {
                    const auto pid = static_cast<int>(*xcb_res_client_id_value_value(it.data));
                    if (pid > 0) list[i].Pid = pid;
                    break;
                }
            }
        }
    }

    void SendDeleteWindow(xcb_window_t w) {
        if (WmProtocols_ == XCB_ATOM_NONE || WmDeleteWindow_ == XCB_ATOM_NONE) return;
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = WmProtocols_;
        ev.data.data32[0] = WmDeleteWindow_;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(C(), 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    }

    std::unique_ptr<xcb_connection_t, TDisconnect> Conn_;
    bool HaveRes_ = false;
    xcb_atom_t ClientListStacking_ = XCB_ATOM_NONE;
    xcb_atom_t NetWmName_ = XCB_ATOM_NONE;
    xcb_atom_t Utf8String_ = XCB_ATOM_NONE;
    xcb_atom_t WmState_ = XCB_ATOM_NONE;
    xcb_atom_t NetWmPid_ = XCB_ATOM_NONE;
    xcb_atom_t WmProtocols_ = XCB_ATOM_NONE;
    xcb_atom_t WmDeleteWindow_ = XCB_ATOM_NONE;
};

}  // namespace

std::vector<TTopWindow> ListTopLevelWindows(const std::string& display) {
    TXSession x(display);
    return x.Ok() ? x.List() : std::vector<TTopWindow>{};
}

int CloseWindowsByTitle(const std::string& text, const std::string& display) {
    if (text.empty()) return 0;
    TXSession x(display);
    return x.Ok() ? x.CloseByTitle(text) : 0;
}

#else  // no xcb: there is no desktop to see

std::vector<TTopWindow> ListTopLevelWindows(const std::string&) { return {}; }
int CloseWindowsByTitle(const std::string&, const std::string&) { return 0; }

#endif

}  // namespace tarvik
