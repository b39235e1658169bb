#include "monitor/dialup_keeper.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
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

// Everything the worker touches: shared by the keeper and its thread, so
// that a worker left behind at the end still has it.
struct TDialUpKeeper::TState {
    using TTask = std::function<void(IDesktopControls&)>;
    TDesktopFactory Factory;
    std::chrono::milliseconds StuckAfter{};
    std::mutex Mutex;
    std::condition_variable Wake;
    std::condition_variable Idle;
    std::deque<TTask> Tasks;
    bool Busy = false;
    std::chrono::steady_clock::time_point BusySince;
    bool PassQueued = false;
    bool Active = false;
    bool Finished = false;
    std::string Problem;
    std::atomic<bool> Stop{false};
    std::atomic<std::uint64_t> Passes{0};
    std::atomic<std::uint64_t> Presses{0};

    void Post(TTask task) {
        {
            std::lock_guard lock(Mutex);
            Tasks.push_back(std::move(task));
        }
        Wake.notify_all();
    }

    static void Run(const std::shared_ptr<TState>& s) {
        std::unique_ptr<IDesktopControls> desktop;
        std::unique_lock lock(s->Mutex);
        for (;;) {
            s->Wake.wait(lock, [&] { return s->Stop || !s->Tasks.empty(); });
            if (s->Tasks.empty()) break;  // stopping, and everything left has run
            TTask task = std::move(s->Tasks.front());
            s->Tasks.pop_front();
            s->Busy = true;
            s->BusySince = std::chrono::steady_clock::now();
            lock.unlock();
            if (!desktop && s->Factory) desktop = s->Factory();
            std::string problem = "The keeper has no desktop to look at.";
            if (desktop) {
                task(*desktop);
                problem = desktop->Problem();
            }
            lock.lock();
            s->Problem = std::move(problem);
            s->Busy = false;
            if (s->Tasks.empty()) s->Idle.notify_all();
        }
        lock.unlock();
        desktop.reset();  // on the thread that made it
        lock.lock();
        s->Finished = true;
        s->Idle.notify_all();
    }
};

TDialUpKeeper::TDialUpKeeper(TDesktopFactory factory, std::chrono::milliseconds stuckAfter,
                             std::chrono::milliseconds exitWait)
    : S_(std::make_shared<TState>()) {
    S_->Factory = std::move(factory);
    S_->StuckAfter = stuckAfter;
    ExitWait_ = exitWait;
    std::thread([s = S_] { TState::Run(s); }).detach();
}

TDialUpKeeper::~TDialUpKeeper() {
    std::unique_lock lock(S_->Mutex);
    S_->Stop = true;
    // Accessibility goes back to what it was before the keeper.
    S_->Tasks.clear();
    S_->PassQueued = false;
    if (S_->Active) {
        S_->Active = false;
        S_->Tasks.push_back([](IDesktopControls& d) { d.SetAccessibility(false); });
    }
    S_->Wake.notify_all();
    // A desktop that does not answer must not hold up the program's end.
    S_->Idle.wait_for(lock, ExitWait_, [this] { return S_->Finished; });
}

void TDialUpKeeper::SetActive(bool on) {
    {
        std::lock_guard lock(S_->Mutex);
        if (S_->Active == on) return;
        S_->Active = on;
    }
    S_->Post([on](IDesktopControls& d) { d.SetAccessibility(on); });
}

bool TDialUpKeeper::RequestPass(std::vector<TConnectWindowsRow> table) {
    {
        std::lock_guard lock(S_->Mutex);
        if (S_->PassQueued) return false;
        S_->PassQueued = true;
        TState* s = S_.get();  // the task runs on the worker, which owns the state
        S_->Tasks.push_back([s, table = std::move(table)](IDesktopControls& d) {
            const int presses = RunKeeperPass(table, d, &s->Stop);
            s->Presses += static_cast<std::uint64_t>(presses);
            ++s->Passes;
            std::lock_guard lock(s->Mutex);
            s->PassQueued = false;
        });
    }
    S_->Wake.notify_all();
    return true;
}

void TDialUpKeeper::Probe() {
    S_->Post([](IDesktopControls&) {});
}

std::string TDialUpKeeper::Problem() const {
    std::lock_guard lock(S_->Mutex);
    if (S_->Busy && std::chrono::steady_clock::now() - S_->BusySince > S_->StuckAfter)
        return "The accessibility bus (AT-SPI) of this desktop does not answer, so the dial-up "
               "keeper cannot press buttons in other programs' dialog boxes.";
    return S_->Problem;
}

std::uint64_t TDialUpKeeper::PassesDone() const { return S_->Passes.load(); }
std::uint64_t TDialUpKeeper::PressesDone() const { return S_->Presses.load(); }

void TDialUpKeeper::WaitIdle() {
    std::unique_lock lock(S_->Mutex);
    S_->Idle.wait(lock, [this] { return S_->Tasks.empty() && !S_->Busy; });
}

}  // namespace tarvik
