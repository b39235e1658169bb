// Speed event evaluation: the Idle / Timing / Performed bookkeeping held in
// the grid's run-time cells, and the dispatch of the chosen action.
#include "monitor/speed_event.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/program_utils.h"
#include "platform/window_list.h"

namespace tarvik {

namespace {

constexpr TSpeedEventColumns kMinColumns{
    colMinEnabled,     colMinThreshold,    colMinActionKind,    colMinPlayFileName,
    colMinRunFileName, colMinRunDirectory, colMinCloseFileName, colMinWinTitle,
    colMinPerformOnce, colMinTimeout,      colMinEnableOther,   colMinConditionSince,
    colMinPerformed,
};
constexpr TSpeedEventColumns kMaxColumns{
    colMaxEnabled,     colMaxThreshold,    colMaxActionKind,    colMaxPlayFileName,
    colMaxRunFileName, colMaxRunDirectory, colMaxCloseFileName, colMaxWinTitle,
    colMaxPerformOnce, colMaxTimeout,      colMaxEnableOther,   colMaxConditionSince,
    colMaxPerformed,
};

// Larger time-outs are cut here so that start + time-out cannot overflow.
constexpr long long kTimeoutCap = 1'000'000'000'000LL;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole decimal number with an optional sign and blanks around it, point as
// the separator. A text that is not such a number (or not finite) gives none.
std::optional<double> ParseReal(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value,
                        std::chars_format::fixed | std::chars_format::scientific);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// The stored start second: a plain non-negative integer, else none.
std::optional<long long> ParseSecond(std::string_view text) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

}  // namespace

const TSpeedEventColumns& SpeedEventColumns(int which) {
    return which == kMaxEvent ? kMaxColumns : kMinColumns;
}

TSpeedEvent TSpeedEvent::Defaults(int which) {
    TSpeedEvent e;
    e.Enabled = "0";
    e.Threshold = which == kMaxEvent ? "2" : "0";
    e.PerformOnce = "1";
    e.EventTimeout = "3";
    e.EnableOther = "1";
    return e;
}

TSpeedEvent TSpeedEvent::FromRow(const TResourceTable& table, int row, int which) {
    const TSpeedEventColumns& c = SpeedEventColumns(which);
    TSpeedEvent e;
    e.Enabled = table.Cell(c.Enabled, row);
    e.Threshold = table.Cell(c.Threshold, row);
    e.ActionKind = table.Cell(c.ActionKind, row);
    e.PlayFileName = table.Cell(c.PlayFileName, row);
    e.RunFileName = table.Cell(c.RunFileName, row);
    e.RunDirectory = table.Cell(c.RunDirectory, row);
    e.CloseFileName = table.Cell(c.CloseFileName, row);
    e.WinTitle = table.Cell(c.WinTitle, row);
    e.PerformOnce = table.Cell(c.PerformOnce, row);
    e.EventTimeout = table.Cell(c.EventTimeout, row);
    e.EnableOther = table.Cell(c.EnableOther, row);
    e.ConditionSince = table.Cell(c.ConditionSince, row);
    e.Performed = table.Cell(c.Performed, row);
    return e;
}

void TSpeedEvent::ToRow(TResourceTable& table, int row, int which) const {
    const TSpeedEventColumns& c = SpeedEventColumns(which);
    table.SetCell(c.Enabled, row, Enabled);
    table.SetCell(c.Threshold, row, Threshold);
    table.SetCell(c.ActionKind, row, ActionKind);
    table.SetCell(c.PlayFileName, row, PlayFileName);
    table.SetCell(c.RunFileName, row, RunFileName);
    table.SetCell(c.RunDirectory, row, RunDirectory);
    table.SetCell(c.CloseFileName, row, CloseFileName);
    table.SetCell(c.WinTitle, row, WinTitle);
    table.SetCell(c.PerformOnce, row, PerformOnce);
    table.SetCell(c.EventTimeout, row, EventTimeout);
    table.SetCell(c.EnableOther, row, EnableOther);
    table.SetCell(c.ConditionSince, row, ConditionSince);
    table.SetCell(c.Performed, row, Performed);
}

TActionOperations TActionOperations::System() {
    TActionOperations ops;
    ops.Run = [](const std::string& command, const std::string& directory) {
        return tarvik::RunProgram(command, directory);
    };
    ops.CloseByFile = [](const std::string& file) { return tarvik::CloseProgramByFile(file); };
    ops.CloseByTitle = [](const std::string& title) { return tarvik::CloseWindowsByTitle(title); };
    ops.ProbeSound = [](const std::string& file) {
        // Non-blocking: a FIFO in place of the sound must not hold the worker.
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd, &byte, 1);
        ::close(fd);
        return true;
    };
    return ops;
}

struct TSystemSpeedEventActions::TShared {
    std::mutex Mutex;
    TSystemSpeedEventActions* Owner = nullptr;  // null once the owner is gone
    int Pending = 0;
    std::uint64_t PlaysStarted = 0;  // sequence number of the newest play
    std::uint64_t PlayedSeq = 0;     // newest play handed to the player
    TPlayFunction Play;
    TPostFunction Post;
    TActionOperations Ops;

    // On the owner's thread: the outcome reaches the owner, if it still exists.
    void Deliver(TActionOutcome outcome, const std::function<bool(bool)>& then) {
        TSystemSpeedEventActions* owner = nullptr;
        {
            std::lock_guard lock(Mutex);
            owner = Owner;
        }
        if (!owner) return;
        if (then) outcome.Done = then(outcome.Done);
        if (owner->Outcome) owner->Outcome(outcome);
    }
};

TSystemSpeedEventActions::TSystemSpeedEventActions(TPlayFunction play, TPostFunction post,
                                                   TActionOperations operations)
    : Shared_(std::make_shared<TShared>()) {
    Shared_->Owner = this;
    Shared_->Play = std::move(play);
    Shared_->Post = std::move(post);
    Shared_->Ops = std::move(operations);
}

TSystemSpeedEventActions::~TSystemSpeedEventActions() {
    // Workers still running finish on their own and post nothing more.
    std::lock_guard lock(Shared_->Mutex);
    Shared_->Owner = nullptr;
}

int TSystemSpeedEventActions::Pending() const {
    std::lock_guard lock(Shared_->Mutex);
    return Shared_->Pending;
}

void TSystemSpeedEventActions::Launch(TActionOutcome::TKind kind, std::string target,
                                      std::function<bool()> work,
                                      std::function<bool(bool)> then) {
    const std::shared_ptr<TShared> shared = Shared_;
    auto finish = [shared](TActionOutcome outcome, std::function<bool(bool)> after) {
        // Called with the mutex held, so the owner cannot go away meanwhile.
        if (!shared->Owner || !shared->Post) return;
        shared->Post([shared, outcome = std::move(outcome), after = std::move(after)] {
            shared->Deliver(outcome, after);
        });
    };
    std::lock_guard lock(shared->Mutex);
    if (shared->Pending >= MaxPending) {
        finish({kind, std::move(target), false}, nullptr);
        return;
    }
    ++shared->Pending;
    try {
        std::thread([shared, finish, kind, target, work = std::move(work),
                     then = std::move(then)]() mutable {
            bool done = false;
            try {
                done = work();
            } catch (...) {
            }
            std::lock_guard inner(shared->Mutex);
            --shared->Pending;
            finish({kind, std::move(target), done}, std::move(then));
        }).detach();
    } catch (...) {  // no thread could be started
        --shared->Pending;
        finish({kind, target, false}, nullptr);
    }
}

void TSystemSpeedEventActions::PlaySound(const std::string& fileName) {
    std::uint64_t seq = 0;
    {
        std::lock_guard lock(Shared_->Mutex);
        seq = ++Shared_->PlaysStarted;
    }
    const std::shared_ptr<TShared> shared = Shared_;
    Launch(
        TActionOutcome::TKind::Play, fileName,
        [probe = shared->Ops.ProbeSound, fileName] {
            if (probe) probe(fileName);
            return true;  // the file system answered, whether or not the file opened
        },
        // A file that cannot be opened still goes to the player, which reports
        // its device error; a play overtaken by a newer one is dropped.
        [shared, seq, fileName](bool answered) {
            if (!answered || seq < shared->PlayedSeq) return false;
            shared->PlayedSeq = seq;
            if (shared->Play) shared->Play(fileName);
            return true;
        });
}

void TSystemSpeedEventActions::RunProgram(const std::string& commandLine,
                                          const std::string& directory) {
    Launch(TActionOutcome::TKind::Run, commandLine,
           [run = Shared_->Ops.Run, commandLine, directory] {
               return run && run(commandLine, directory);
           });
}

void TSystemSpeedEventActions::CloseProgramByFile(const std::string& fileName) {
    Launch(TActionOutcome::TKind::CloseByFile, fileName,
           [close = Shared_->Ops.CloseByFile, fileName] { return close && close(fileName) != 0; });
}

void TSystemSpeedEventActions::CloseWindowsByTitle(const std::string& titleText) {
    Launch(TActionOutcome::TKind::CloseByTitle, titleText,
           [close = Shared_->Ops.CloseByTitle, titleText] {
               return close && close(titleText) > 0;
           });
}

long long SpeedEventTimeoutSeconds(const std::string& text) {
    long long value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') break;
        value = value * 10 + (ch - '0');
        if (value > kTimeoutCap) {
            value = kTimeoutCap;
            break;
        }
    }
    return value < 2 ? 2 : value;
}

bool EvaluateSpeedEvent(TResourceTable& table, int row, int which, double speed,
                        const IClock& clock, ISpeedEventActions& actions) {
    if (which != kMinEvent && which != kMaxEvent) return false;
    if (row < 1 || row >= table.RowCount()) return false;
    const TSpeedEventColumns& c = SpeedEventColumns(which);

    if (table.Cell(c.Enabled, row) != "1") return false;

    // An unreadable threshold cannot be crossed: the event stays idle.
    const std::optional<double> threshold = ParseReal(table.Cell(c.Threshold, row));
    const bool condition =
        threshold && (which == kMinEvent ? speed <= *threshold : speed >= *threshold);
    if (!condition) {
        table.SetCell(c.ConditionSince, row, "");
        return false;
    }

    const long long now = static_cast<long long>(clock.TickMs() / 1000);
    // A start second that is not a number (a damaged cell) restarts the timing.
    const std::optional<long long> since = ParseSecond(table.Cell(c.ConditionSince, row));
    if (!since) {
        table.SetCell(c.ConditionSince, row, std::to_string(now));
        return false;
    }

    const long long timeout = SpeedEventTimeoutSeconds(table.Cell(c.EventTimeout, row));
    if (now <= *since + timeout) return false;

    const std::string& once = table.Cell(c.PerformOnce, row);
    const bool perform = (once == "1" && table.Cell(c.Performed, row).empty()) || once == "0";
    if (!perform) return false;

    // A failing action must not end the sampling tick: the event still
    // counts as performed, as after a program that could not be started.
    try {
        // The texts are copied: an action may run the event loop, which may
        // change the grid under it.
        const std::string kind = table.Cell(c.ActionKind, row);
        const char first = kind.empty() ? '\0' : kind.front();
        if (first == '0') {
            const std::string file = table.Cell(c.PlayFileName, row);
            if (!file.empty()) actions.PlaySound(file);
        } else if (first == '1') {
            const std::string command = table.Cell(c.RunFileName, row);
            const std::string directory = table.Cell(c.RunDirectory, row);
            if (!command.empty()) actions.RunProgram(command, directory);
        } else if (first == '2') {
            const std::string file = table.Cell(c.CloseFileName, row);
            const std::string title = table.Cell(c.WinTitle, row);
            if (!file.empty())
                actions.CloseProgramByFile(file);
            else if (!title.empty())
                actions.CloseWindowsByTitle(title);
        }
    } catch (...) {
    }

    table.SetCell(c.ConditionSince, row, "");
    table.SetCell(c.Performed, row, "1");
    if (table.Cell(c.EnableOther, row) == "1")
        table.SetCell(SpeedEventColumns(which == kMinEvent ? kMaxEvent : kMinEvent).Performed, row,
                      "");
    return true;
}

}  // namespace tarvik
