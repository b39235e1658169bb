// Speed event evaluation against a fake clock and a recording action set.
#include "monitor/speed_event.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
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

// The real action set hands the sound to the player callback and starts the
// program in its directory.
TEST(SpeedEvent, SystemActionsReachThePlayerAndThePlatform) {
    std::vector<std::string> played;
    TSystemSpeedEventActions actions([&](const std::string& f) { played.push_back(f); });
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
    EXPECT_EQ(played, std::vector<std::string>{"min.wav"});
    bool written = false;
    for (int i = 0; i < 500 && !written; ++i) {
        std::ifstream in(dir / "marker");
        std::string line;
        written = std::getline(in, line) && line == "fired";
        if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(written);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik
