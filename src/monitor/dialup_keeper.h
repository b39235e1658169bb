// The dial-up connection keeper: answers the dialog boxes a broken dial-up
// connection shows by pressing the configured button in each.
//
// RunKeeperPass is one search pass over the dialog table. TDialUpKeeper runs
// the passes on a worker thread of its own, because every look at another
// program's controls is a D-Bus round trip: the window thread only hands
// over a copy of the table and never waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop_controls.h"
#include "setup/config_file.h"

namespace tarvik {

// One search pass. For each table row from 1 on with a title: every top-
// level window (top first) whose title contains the row's title (exact,
// case-sensitive) has its first control whose text contains the row's
// button caption pressed. All rows and all matching windows are served;
// an empty caption never matches. Texts are compared up to 254 bytes.
// A set cancel flag ends the pass early. Returns the number of presses.
int RunKeeperPass(const std::vector<TConnectWindowsRow>& table, IDesktopControls& desktop,
                  const std::atomic<bool>* cancel = nullptr);

class TDialUpKeeper {
  public:
    using TDesktopFactory = std::function<std::unique_ptr<IDesktopControls>()>;

    // The desktop is made on the worker thread at its first use. A task
    // running longer than stuckAfter makes Problem() say that the desktop
    // does not answer; the destructor waits at most exitWait for a running
    // task and then leaves the worker behind (it owns what it uses).
    explicit TDialUpKeeper(TDesktopFactory factory,
                           std::chrono::milliseconds stuckAfter = std::chrono::seconds(5),
                           std::chrono::milliseconds exitWait = std::chrono::seconds(3));
    ~TDialUpKeeper();
    TDialUpKeeper(const TDialUpKeeper&) = delete;
    TDialUpKeeper& operator=(const TDialUpKeeper&) = delete;

    // The keeper is switched on or off: accessibility follows it.
    void SetActive(bool on);
    // Queues one pass over a copy of the table. False, and nothing queued,
    // while the previous pass has not finished: a slow desktop skips ticks
    // instead of piling them up.
    bool RequestPass(std::vector<TConnectWindowsRow> table);
    // Checks the desktop once (on the worker) so that Problem() is known.
    void Probe();

    // Why buttons cannot be pressed here (empty when they can, or before the
    // first look at the desktop).
    std::string Problem() const;
    std::uint64_t PassesDone() const;
    std::uint64_t PressesDone() const;
    // Blocks until every queued task has run (tests).
    void WaitIdle();

    struct TState;

  private:
    std::shared_ptr<TState> S_;
    std::chrono::milliseconds ExitWait_{};
};

}  // namespace tarvik
