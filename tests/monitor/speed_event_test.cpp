// Speed event evaluation against a fake clock and a recording action set.
#include "monitor/speed_event.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/recording_actions.h"

namespace tarvik {
namespace {

using TRecorder = test::TRecordingActions;

// One resource row with both events in their new-resource state, switched on
// and set to play "min.wav" / "max.wav".
struct TEventRow {
    TEventRow() {
        row = table.AddRow();
        for (int which : {kMinEvent, kMaxEvent}) {
            TSpeedEvent e = TSpeedEvent::Defaults(which);
            e.Enabled = "1";
            e.ActionKind = "0";
            e.PlayFileName = which == kMinEvent ? "min.wav" : "max.wav";
            e.ToRow(table, row, which);
        }
    }
    const std::string& Cell(int col) const { return table.Cell(col, row); }
    // Moves the clock to `seconds` after the start and evaluates one event.
    bool Tick(int which, double seconds, double speed) {
        const auto target = static_cast<std::uint64_t>(seconds * 1000 + 0.5);
        clock.Advance(target - elapsedMs);
        elapsedMs = target;
        return EvaluateSpeedEvent(table, row, which, speed, clock, actions);
    }

    TResourceTable table;
    int row = 0;
    test::TFakeClock clock;  // starts at tick 1 000 000 ms, a whole second
    std::uint64_t elapsedMs = 0;
    TRecorder actions;
};

struct TTick {
    double Seconds;  // after the fake clock's start
    double Speed;
    bool Performs;
};

struct TTimingCase {
    const char* Name;
    int Which;
    std::map<int, std::string> Cells;  // overrides of the defaults
    std::vector<TTick> Ticks;
};

// Defaults: min threshold 0, max threshold 2, time-out 3 s, perform once.
const TTimingCase kTimingCases[] = {
    {"MinEqualToThreshold",
     kMinEvent,
     {{colMinThreshold, "5"}},
     {{0, 5, false}, {3.999, 5, false}, {4.0, 5, true}}},
    {"MaxEqualToThreshold", kMaxEvent, {}, {{0, 2, false}, {3.999, 2, false}, {4.0, 2, true}}},
    {"MinJustAbove", kMinEvent, {{colMinThreshold, "5"}}, {{0, 5.001, false}, {10, 5.001, false}}},
    {"MaxJustBelow", kMaxEvent, {}, {{0, 1.999, false}, {10, 1.999, false}}},
    {"ThresholdWithBlanksAndSign",
     kMinEvent,
     {{colMinThreshold, " +1.5 "}},
     {{0, 1.5, false}, {4, 1.5, true}}},
    // An unreadable threshold (a damaged cell) never holds.
    {"ThresholdUnreadable", kMinEvent, {{colMinThreshold, "1,5"}}, {{0, 0, false}, {10, 0, false}}},
    {"ThresholdEmpty", kMaxEvent, {{colMaxThreshold, ""}}, {{0, 99, false}, {10, 99, false}}},
    // Time-outs below 2 or without leading digits count as 2 seconds.
    {"TimeoutZero",
     kMinEvent,
     {{colMinTimeout, "0"}},
     {{0, 0, false}, {2.999, 0, false}, {3, 0, true}}},
    {"TimeoutOne",
     kMinEvent,
     {{colMinTimeout, "1"}},
     {{0, 0, false}, {2.999, 0, false}, {3, 0, true}}},
    {"TimeoutEmpty",
     kMinEvent,
     {{colMinTimeout, ""}},
     {{0, 0, false}, {2.999, 0, false}, {3, 0, true}}},
    {"TimeoutNoDigits",
     kMinEvent,
     {{colMinTimeout, "x"}},
     {{0, 0, false}, {2.999, 0, false}, {3, 0, true}}},
    {"TimeoutLeadingBlank",
     kMinEvent,
     {{colMinTimeout, " 9"}},
     {{0, 0, false}, {2.999, 0, false}, {3, 0, true}}},
    {"TimeoutLeadingDigits",
     kMaxEvent,
     {{colMaxTimeout, "5s"}},
     {{0, 2, false}, {5.999, 2, false}, {6, 2, true}}},
    {"TimeoutHuge",
     kMinEvent,
     {{colMinTimeout, "99999999999999999999999999"}},
     {{0, 0, false}, {1e6, 0, false}}},
    // First seen 0.9 s into a second: the start second is the whole second,
    // so the action comes 3.1 s after the condition, within (t, t + 1].
    {"StartMidSecond", kMinEvent, {}, {{0.9, 0, false}, {3.95, 0, false}, {4.0, 0, true}}},
    // A tick without the condition restarts the timing from the next one.
    {"ConditionBroken",
     kMinEvent,
     {},
     {{0, 0, false}, {2, 1, false}, {3, 0, false}, {6.5, 0, false}, {7, 0, true}}},
    // Perform every time: the timing starts over after each performance.
    {"PerformEveryTime",
     kMinEvent,
     {{colMinPerformOnce, "0"}},
     {{0, 0, false}, {4, 0, true}, {4.05, 0, false}, {7.99, 0, false}, {8, 0, true}}},
    // Perform once: performed stays quiet until re-armed.
    {"PerformOnceStaysQuiet",
     kMinEvent,
     {},
     {{0, 0, false}, {4, 0, true}, {5, 0, false}, {20, 0, false}}},
    {"DisabledZero", kMinEvent, {{colMinEnabled, "0"}}, {{0, 0, false}, {10, 0, false}}},
    {"DisabledOtherText", kMinEvent, {{colMinEnabled, "yes"}}, {{0, 0, false}, {10, 0, false}}},
    // A start cell that is not a number restarts the timing instead of firing.
    {"DamagedStartCell",
     kMinEvent,
     {{colMinConditionSince, "abc"}},
     {{0, 0, false}, {3.5, 0, false}, {4, 0, true}}},
};

class SpeedEventTiming : public ::testing::TestWithParam<TTimingCase> {};

TEST_P(SpeedEventTiming, PerformsOnExpectedTicks) {
    const TTimingCase& c = GetParam();
    TEventRow r;
    for (const auto& [col, text] : c.Cells) r.table.SetCell(col, r.row, text);
    std::size_t performed = 0;
    for (const TTick& t : c.Ticks) {
        EXPECT_EQ(r.Tick(c.Which, t.Seconds, t.Speed), t.Performs) << "at " << t.Seconds << " s";
        performed += t.Performs;
    }
    EXPECT_EQ(r.actions.Calls.size(), performed);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpeedEventTiming, ::testing::ValuesIn(kTimingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SpeedEvent, RunTimeCellsFollowTheStates) {
    TEventRow r;
    r.Tick(kMinEvent, 0.4, 0);  // clock 1000.4 s
    EXPECT_EQ(r.Cell(colMinConditionSince), "1000");
    EXPECT_EQ(r.Cell(colMinPerformed), "");
    r.Tick(kMinEvent, 1, 1);  // condition gone
    EXPECT_EQ(r.Cell(colMinConditionSince), "");
    r.Tick(kMinEvent, 2, 0);
    r.Tick(kMinEvent, 6, 0);  // performs
    EXPECT_EQ(r.Cell(colMinConditionSince), "");
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
    // Performed: it keeps timing but the timing stays where it is.
    r.Tick(kMinEvent, 7, 0);
    EXPECT_EQ(r.Cell(colMinConditionSince), "1007");
    r.Tick(kMinEvent, 30, 0);
    EXPECT_EQ(r.Cell(colMinConditionSince), "1007");
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
    // The max event's cells are not touched by the min event.
    EXPECT_EQ(r.Cell(colMaxConditionSince), "");
    EXPECT_EQ(r.Cell(colMaxPerformed), "");
}

struct TActionCase {
    const char* Name;
    std::map<int, std::string> Cells;
    std::vector<std::string> Calls;
};

const TActionCase kActionCases[] = {
    {"Sound", {{colMinActionKind, "0"}}, {"play min.wav"}},
    {"SoundWithoutFile", {{colMinActionKind, "0"}, {colMinPlayFileName, ""}}, {}},
    {"Run",
     {{colMinActionKind, "1"}, {colMinRunFileName, "backup --now"}, {colMinRunDirectory, "/srv"}},
     {"run backup --now in /srv"}},
    {"RunWithoutCommand", {{colMinActionKind, "1"}, {colMinRunDirectory, "/srv"}}, {}},
    {"CloseByFileWinsOverTitle",
     {{colMinActionKind, "2"}, {colMinCloseFileName, "/usr/bin/Dialer"}, {colMinWinTitle, "Dial"}},
     {"close file /usr/bin/Dialer"}},
    {"CloseByTitle", {{colMinActionKind, "2"}, {colMinWinTitle, "Dial"}}, {"close title Dial"}},
    {"CloseWithNothingSet", {{colMinActionKind, "2"}}, {}},
    {"OnlyFirstCharacterCounts",
     {{colMinActionKind, "1x"}, {colMinRunFileName, "a"}},
     {"run a in "}},
    {"EmptyKind", {{colMinActionKind, ""}}, {}},
    {"UnknownKind", {{colMinActionKind, "3"}}, {}},
};

class SpeedEventAction : public ::testing::TestWithParam<TActionCase> {};

// Whatever the action does, also nothing, the event becomes performed.
TEST_P(SpeedEventAction, PerformsAndBecomesPerformed) {
    const TActionCase& c = GetParam();
    TEventRow r;
    for (const auto& [col, text] : c.Cells) r.table.SetCell(col, r.row, text);
    r.Tick(kMinEvent, 0, 0);
    EXPECT_TRUE(r.Tick(kMinEvent, 4, 0));
    EXPECT_EQ(r.actions.Calls, c.Calls);
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
    EXPECT_EQ(r.Cell(colMinConditionSince), "");
    r.Tick(kMinEvent, 5, 0);
    EXPECT_FALSE(r.Tick(kMinEvent, 20, 0));
    EXPECT_EQ(r.actions.Calls, c.Calls);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpeedEventAction, ::testing::ValuesIn(kActionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Min first, then max, on every tick, as the sampling cycle calls them.
struct TBothEvents : TEventRow {
    void Sample(double seconds, double speed) {
        Tick(kMinEvent, seconds, speed);
        Tick(kMaxEvent, seconds, speed);
    }
};

TEST(SpeedEvent, MinAndMaxAlternateThroughEnableOther) {
    TBothEvents r;
    double t = 0;
    auto hold = [&](double speed) {  // one condition held for 5 s
        for (int i = 0; i <= 10; ++i, t += 0.5) r.Sample(t, speed);
    };
    hold(0);
    hold(0);
    hold(5);
    hold(5);
    hold(0);
    EXPECT_EQ(r.actions.Calls,
              (std::vector<std::string>{"play min.wav", "play max.wav", "play min.wav"}));
    // After the second min action the max event is armed again.
    EXPECT_EQ(r.Cell(colMaxPerformed), "");
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
}

TEST(SpeedEvent, EnableOtherOffLeavesTheOppositeEventPerformed) {
    TBothEvents r;
    r.table.SetCell(colMaxEnableOther, r.row, "0");
    double t = 0;
    auto hold = [&](double speed) {
        for (int i = 0; i <= 10; ++i, t += 0.5) r.Sample(t, speed);
    };
    hold(0);
    hold(5);
    hold(0);
    EXPECT_EQ(r.actions.Calls, (std::vector<std::string>{"play min.wav", "play max.wav"}));
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
}

// A sound that fails to play must not end the tick: the event is performed.
TEST(SpeedEvent, FailingActionStillCountsAsPerformed) {
    TBothEvents r;
    r.actions.Throw = true;
    r.table.SetCell(colMaxPerformed, r.row, "1");
    r.Tick(kMinEvent, 0, 0);
    EXPECT_TRUE(r.Tick(kMinEvent, 4, 0));
    EXPECT_EQ(r.actions.Calls.size(), 1u);
    EXPECT_EQ(r.Cell(colMinPerformed), "1");
    EXPECT_EQ(r.Cell(colMaxPerformed), "");
}

TEST(SpeedEvent, HeaderAndMissingRowsAndUnknownEventAreIgnored) {
    TEventRow r;
    for (int row : {0, 2, -1}) {
        EXPECT_FALSE(EvaluateSpeedEvent(r.table, row, kMinEvent, 0, r.clock, r.actions));
    }
    EXPECT_FALSE(EvaluateSpeedEvent(r.table, r.row, 2, 0, r.clock, r.actions));
    EXPECT_EQ(r.table.Cell(colMinConditionSince, 0), "");
    EXPECT_EQ(r.Cell(colMinConditionSince), "");
}

TEST(SpeedEvent, RowRoundTripAndDefaults) {
    TResourceTable table;
    const int row = table.AddRow();
    const TSpeedEvent max = TSpeedEvent::Defaults(kMaxEvent);
    EXPECT_EQ(max.Threshold, "2");
    EXPECT_EQ(TSpeedEvent::Defaults(kMinEvent).Threshold, "0");
    TSpeedEvent e = max;
    e.WinTitle = "Dial-up";
    e.CloseFileName = "dialer";
    e.ToRow(table, row, kMaxEvent);
    EXPECT_EQ(table.Cell(colMaxWinTitle, row), "Dial-up");
    EXPECT_EQ(table.Cell(colMaxCloseFileName, row), "dialer");
    EXPECT_EQ(table.Cell(colMaxPerformOnce, row), "1");
    EXPECT_EQ(table.Cell(colMaxTimeout, row), "3");
    EXPECT_EQ(table.Cell(colMinWinTitle, row), "");
    const TSpeedEvent back = TSpeedEvent::FromRow(table, row, kMaxEvent);
    EXPECT_EQ(back.WinTitle, "Dial-up");
    EXPECT_EQ(back.EnableOther, "1");
    EXPECT_EQ(back.Enabled, "0");
}

// Work posted back to the "window thread": the test drains it on its own thread.
class TPostQueue {
  public:
    TSystemSpeedEventActions::TPostFunction Poster() {
        return [this](std::function<void()> work) {
            std::lock_guard lock(Mutex_);
            Work_.push_back(std::move(work));
            Cv_.notify_all();
        };
    }
    // Runs posted work until done() holds; false after five seconds.
    bool RunUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            std::unique_lock lock(Mutex_);
            if (!Cv_.wait_until(lock, end, [&] { return !Work_.empty(); })) return done();
            auto work = std::move(Work_.front());
            Work_.pop_front();
            lock.unlock();
            work();
        }
        return true;
    }
    std::size_t Size() {
        std::lock_guard lock(Mutex_);
        return Work_.size();
    }

  private:
    std::mutex Mutex_;
    std::condition_variable Cv_;
    std::deque<std::function<void()>> Work_;
};

// An operation that blocks (like a call into a hung file system) until the
// test opens the gate.
class TGate {
  public:
    void Pass() {
        std::unique_lock lock(Mutex_);
        ++Entered_;
        Cv_.notify_all();
        Cv_.wait(lock, [&] { return Open_; });
    }
    void Open() {
        std::lock_guard lock(Mutex_);
        Open_ = true;
        Cv_.notify_all();
    }
    bool WaitEntered(int n) {
        std::unique_lock lock(Mutex_);
        return Cv_.wait_for(lock, std::chrono::seconds(5), [&] { return Entered_ >= n; });
    }

  private:
    std::mutex Mutex_;
    std::condition_variable Cv_;
    int Entered_ = 0;
    bool Open_ = false;
};

// Operations that pass the gate of their target's name (if any) and record.
struct TBlockingOps {
    TActionOperations Ops() {
        TActionOperations ops;
        ops.Run = [this](const std::string& c, const std::string&) { return Pass(c); };
        ops.CloseByFile = [this](const std::string& f) { return Pass(f) ? 42 : 0; };
        ops.CloseByTitle = [this](const std::string& t) { return Pass(t) ? 1 : 0; };
        ops.ProbeSound = [this](const std::string& f) { return Pass(f); };
        return ops;
    }
    bool Pass(const std::string& target) {
        if (const auto it = Gates.find(target); it != Gates.end()) {
            const std::shared_ptr<TGate> gate = it->second;  // the test may drop its own
            gate->Pass();
        }
        return target.find("fail") == std::string::npos;
    }
    std::map<std::string, std::shared_ptr<TGate>> Gates;
};

using TKind = TActionOutcome::TKind;

// No action holds up its caller: each returns while its operation is still
// blocked, and its outcome arrives on the caller's thread once it returns.
TEST(SystemSpeedEventActions, ActionsReturnAtOnceAndReportTheirOutcomeLater) {
    TBlockingOps blocking;
    auto gate = std::make_shared<TGate>();
    for (const char* t : {"hung-run", "hung.wav", "hung-file", "hung-title"}) blocking.Gates[t] = gate;
    TPostQueue queue;
    std::vector<std::string> played;
    TSystemSpeedEventActions actions([&](const std::string& f) { played.push_back(f); },
                                     queue.Poster(), blocking.Ops());
    std::vector<TActionOutcome> outcomes;
    actions.Outcome = [&](const TActionOutcome& o) { outcomes.push_back(o); };

    actions.RunProgram("hung-run", "/mnt/dead");
    actions.PlaySound("hung.wav");
    actions.CloseProgramByFile("hung-file");
    actions.CloseWindowsByTitle("hung-title");
    actions.RunProgram("fail-run", "");
    ASSERT_TRUE(gate->WaitEntered(4));
    EXPECT_TRUE(queue.RunUntil([&] { return outcomes.size() == 1; }));
    EXPECT_EQ(actions.Pending(), 4);
    EXPECT_TRUE(played.empty());  // not before its file system answered

    gate->Open();
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes.size() == 5; }));
    EXPECT_EQ(actions.Pending(), 0);
    EXPECT_EQ(played, std::vector<std::string>{"hung.wav"});
    std::map<std::string, std::pair<TKind, bool>> got;
    for (const TActionOutcome& o : outcomes) got[o.Target] = {o.Kind, o.Done};
    const std::map<std::string, std::pair<TKind, bool>> want{
        {"fail-run", {TKind::Run, false}},
        {"hung-run", {TKind::Run, true}},
        {"hung.wav", {TKind::Play, true}},
        {"hung-file", {TKind::CloseByFile, true}},
        {"hung-title", {TKind::CloseByTitle, true}},
    };
    EXPECT_EQ(got, want);
}

// A sound whose file answers late does not cut off a newer one; a sound file
// that cannot be opened still reaches the player, which reports it.
TEST(SystemSpeedEventActions, NewestSoundWins) {
    TBlockingOps blocking;
    blocking.Gates["old.wav"] = std::make_shared<TGate>();
    TPostQueue queue;
    std::vector<std::string> played;
    TSystemSpeedEventActions actions([&](const std::string& f) { played.push_back(f); },
                                     queue.Poster(), blocking.Ops());
    int outcomes = 0;
    actions.Outcome = [&](const TActionOutcome&) { ++outcomes; };
    actions.PlaySound("old.wav");
    actions.PlaySound("fail-missing.wav");
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes == 1; }));
    EXPECT_EQ(played, std::vector<std::string>{"fail-missing.wav"});
    blocking.Gates["old.wav"]->Open();
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes == 2; }));
    EXPECT_EQ(played, std::vector<std::string>{"fail-missing.wav"});
}

// Stuck actions are bounded: past MaxPending an action fails at once, and a
// destroyed action set posts nothing when its stuck work returns.
TEST(SystemSpeedEventActions, StuckActionsAreBoundedAndOutliveTheirOwner) {
    TBlockingOps blocking;
    auto gate = std::make_shared<TGate>();
    blocking.Gates["stuck"] = gate;
    TPostQueue queue;
    auto actions = std::make_unique<TSystemSpeedEventActions>(nullptr, queue.Poster(), blocking.Ops());
    std::vector<TActionOutcome> outcomes;
    actions->Outcome = [&](const TActionOutcome& o) { outcomes.push_back(o); };
    for (int i = 0; i < TSystemSpeedEventActions::MaxPending; ++i) actions->RunProgram("stuck", "");
    ASSERT_TRUE(gate->WaitEntered(TSystemSpeedEventActions::MaxPending));
    actions->RunProgram("one too many", "");
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes.size() == 1; }));
    EXPECT_EQ(outcomes[0].Target, "one too many");
    EXPECT_FALSE(outcomes[0].Done);
    EXPECT_EQ(actions->Pending(), TSystemSpeedEventActions::MaxPending);

    actions.reset();
    std::weak_ptr<TGate> watch = gate;
    blocking.Gates.clear();
    gate->Open();
    gate.reset();
    // Each stuck worker holds the gate while it passes; it goes once the
    // last of them has returned.
    for (int i = 0; i < 500 && !watch.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(queue.Size(), 0u);
}

// The real operations: the sound reaches the player callback and the program
// starts in its directory.
TEST(SpeedEvent, SystemActionsReachThePlayerAndThePlatform) {
    std::vector<std::string> played;
    TPostQueue queue;
    TSystemSpeedEventActions actions([&](const std::string& f) { played.push_back(f); },
                                     queue.Poster());
    std::vector<TActionOutcome> outcomes;
    actions.Outcome = [&](const TActionOutcome& o) { outcomes.push_back(o); };
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-event-XXXXXX").string();
    const std::filesystem::path dir = ::mkdtemp(pattern.data());

    TEventRow r;
    r.table.SetCell(colMaxActionKind, r.row, "1");
    r.table.SetCell(colMaxRunFileName, r.row, "sh -c 'echo fired > marker'");
    r.table.SetCell(colMaxRunDirectory, r.row, dir.string());
    for (const auto& [which, speed] : {std::pair{kMinEvent, 0.0}, std::pair{kMaxEvent, 9.0}}) {
        EvaluateSpeedEvent(r.table, r.row, which, speed, r.clock, actions);
        r.clock.Advance(4000);
        EXPECT_TRUE(EvaluateSpeedEvent(r.table, r.row, which, speed, r.clock, actions));
    }
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(played, std::vector<std::string>{"min.wav"});
    std::string line;
    bool written = false;
    // The outcome comes once the program has been executed; its output a little later.
    for (int i = 0; i < 500 && !written; ++i) {
        std::ifstream in(dir / "marker");
        written = std::getline(in, line) && line == "fired";
        if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(written);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik
