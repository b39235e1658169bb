// The desktop's top-level program windows, read through an own X connection,
// and closing them by title for the event actions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct TTopWindow {
    std::uint32_t Window = 0;  // X window id of the client window
    std::string Title;         // UTF-8; empty when it has none
    int Pid = 0;               // owning process on this machine; 0 when unknown
};

// Top-level client windows, top first: the window manager's managed clients
// in stacking order, then every other client window found under the root
// (unmapped ones, and all of them when no window manager runs). Override-
// redirect and input-only windows are left out. A window of a client on
// another machine has no pid. Empty when no X display can be opened.
// display: an X display name; empty for $DISPLAY.
std::vector<TTopWindow> ListTopLevelWindows(const std::string& display = {});

// A title as far as it is compared: at most 254 bytes, cut at a character
// boundary.
std::string_view ComparedTitle(std::string_view title);

// Closes every top-level window whose title contains text (case-sensitive;
// an empty text matches nothing): SIGTERM to its process when the pid is
// known (once per process), else a WM_DELETE_WINDOW request to the window.
// This program's own windows are not exempt. Returns the number of windows
// matched.
int CloseWindowsByTitle(const std::string& text, const std::string& display = {});

}  // namespace tarvik
