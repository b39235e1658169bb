#include "monitor/dialup_keeper.h"

#include <string_view>
#include <unordered_map>

namespace tarvik {

int RunKeeperPass(const std::vector<TConnectWindowsRow>& table, IDesktopControls& desktop,
                  const std::atomic<bool>* cancel) {
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    bool anyTitle = false;
    for (std::size_t r = 1; r < table.size(); ++r) anyTitle = anyTitle || !table[r][0].empty();
    if (!anyTitle) return 0;  // nothing to look for: not even the window list is read

    const std::vector<TTopWindow> windows = desktop.TopWindows();
    // A window's controls are read once per pass, when a row first matches it.
    std::unordered_map<std::size_t, TChildControls> controls;
    int presses = 0;
    for (std::size_t r = 1; r < table.size() && !cancelled(); ++r) {
        const std::string_view title = ComparedTitle(table[r][0]);
        const std::string_view caption = ComparedTitle(table[r][1]);
        if (title.empty()) continue;
        for (std::size_t w = 0; w < windows.size() && !cancelled(); ++w) {
            const std::string_view text = ComparedTitle(windows[w].Title);
            if (text.empty() || text.find(title) == std::string_view::npos) continue;
            auto it = controls.find(w);
            if (it == controls.end())
                it = controls.emplace(w, desktop.ChildControls(windows[w])).first;
            // The dialog is found even when the caption is empty; it only
            // never presses anything then.
            if (caption.empty()) continue;
            for (const auto& child : it->second) {
                const std::string_view childText = ComparedTitle(child->Text());
                if (childText.empty() || childText.find(caption) == std::string_view::npos)
                    continue;
                if (child->Press()) ++presses;
                break;  // the first matching control of this dialog only
            }
        }
    }
    return presses;
}

TDialUpKeeper::TDialUpKeeper(TDesktopFactory factory) : Factory_(std::move(factory)) {
    Worker_ = std::thread([this] { Run(); });
}

TDialUpKeeper::~TDialUpKeeper() {
    {
        std::lock_guard lock(Mutex_);
        Stop_ = true;
        // Accessibility goes back to what it was before the keeper.
        if (Active_) {
            Active_ = false;
            Tasks_.clear();
            Tasks_.push_back([](IDesktopControls& d) { d.SetAccessibility(false); });
        }
    }
    Wake_.notify_all();
    Worker_.join();
}

void TDialUpKeeper::Post(std::function<void(IDesktopControls&)> task) {
    {
        std::lock_guard lock(Mutex_);
        Tasks_.push_back(std::move(task));
    }
    Wake_.notify_all();
}

void TDialUpKeeper::SetActive(bool on) {
    {
        std::lock_guard lock(Mutex_);
        if (Active_ == on) return;
        Active_ = on;
    }
    Post([on](IDesktopControls& d) { d.SetAccessibility(on); });
}

bool TDialUpKeeper::RequestPass(std::vector<TConnectWindowsRow> table) {
    {
        std::lock_guard lock(Mutex_);
        if (PassQueued_) return false;
        PassQueued_ = true;
        Tasks_.push_back([this, table = std::move(table)](IDesktopControls& d) {
            const int presses = RunKeeperPass(table, d, &Stop_);
            Presses_ += static_cast<std::uint64_t>(presses);
            ++Passes_;
            std::lock_guard lock(Mutex_);
            PassQueued_ = false;
        });
    }
    Wake_.notify_all();
    return true;
}

void TDialUpKeeper::Probe() {
    Post([](IDesktopControls&) {});
}

std::string TDialUpKeeper::Problem() const {
    std::lock_guard lock(Mutex_);
    return Problem_;
}

void TDialUpKeeper::WaitIdle() {
    std::unique_lock lock(Mutex_);
    Idle_.wait(lock, [this] { return Tasks_.empty() && !Busy_; });
}

void TDialUpKeeper::Run() {
    std::unique_ptr<IDesktopControls> desktop;
    std::unique_lock lock(Mutex_);
    for (;;) {
        Wake_.wait(lock, [this] { return Stop_ || !Tasks_.empty(); });
        if (Tasks_.empty()) break;  // stopping, and everything left has run
        auto task = std::move(Tasks_.front());
        Tasks_.pop_front();
        Busy_ = true;
        lock.unlock();
        if (!desktop && Factory_) desktop = Factory_();
        std::string problem = "The keeper has no desktop to look at.";
        if (desktop) {
            task(*desktop);
            problem = desktop->Problem();
        }
        lock.lock();
        Problem_ = std::move(problem);
        Busy_ = false;
        if (Tasks_.empty()) Idle_.notify_all();
    }
    Busy_ = false;
    Idle_.notify_all();
    lock.unlock();
    desktop.reset();  // on the thread that made it
}

}  // namespace tarvik
