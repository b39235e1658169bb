// The desktop as the dial-up keeper sees it: the top-level windows, the
// named controls inside a window, and pressing one of them. The system's
// implementation reads the X window list and drives the controls through
// the accessibility bus (AT-SPI); tests use a scripted fake.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/window_list.h"

namespace tarvik {

// A named control inside another program's window.
class IChildControl {
  public:
    virtual ~IChildControl() = default;
    virtual const std::string& Text() const = 0;  // UTF-8; may be empty
    // Presses the control; false when it has no press action or the call
    // failed. Asynchronous for the pressed program: the result of the press
    // is not waited for.
    virtual bool Press() = 0;
};

using TChildControls = std::vector<std::unique_ptr<IChildControl>>;

class IDesktopControls {
  public:
    virtual ~IDesktopControls() = default;
    // Top-level windows, top first.
    virtual std::vector<TTopWindow> TopWindows() = 0;
    // The named controls of a window, in the order of its control tree;
    // empty when the window's program cannot be reached.
    virtual TChildControls ChildControls(const TTopWindow& window) = 0;
    // Switches the desktop's accessibility on or off for the keeper (the
    // programs then publish their controls). Switching off only undoes what
    // switching on changed.
    virtual void SetAccessibility(bool on) = 0;
    // Why buttons cannot be pressed on this desktop; empty when they can.
    virtual std::string Problem() = 0;
};

// The system's desktop: the X window list of display (empty for $DISPLAY)
// and AT-SPI. Every accessibility call waits at most callTimeoutMs. Use the
// object from one thread only (the keeper's worker).
std::unique_ptr<IDesktopControls> MakeSystemDesktopControls(const std::string& display = {},
                                                            int callTimeoutMs = 1000);

}  // namespace tarvik
