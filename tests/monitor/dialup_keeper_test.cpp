// The keeper's matching rules against a scripted desktop, and its worker.
#include "monitor/dialup_keeper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "support/fake_desktop.h"

namespace tarvik {
namespace {

using TTable = std::vector<TConnectWindowsRow>;
const TConnectWindowsRow Header{"Dialog Box Title", "Button To Push"};

struct TPassCase {
    const char* Name;
    std::vector<TFakeDesktop::TWindow> Windows;
    TTable Rows;  // after the header
    std::vector<std::string> Presses;
};

class KeeperPass : public ::testing::TestWithParam<TPassCase> {};

TEST_P(KeeperPass, PressesWhatTheRulesSay) {
    const TPassCase& c = GetParam();
    TFakeDesktop desktop;
    desktop.Windows = c.Windows;
    TTable table{Header};
    table.insert(table.end(), c.Rows.begin(), c.Rows.end());
    const int presses = RunKeeperPass(table, desktop);
    EXPECT_EQ(desktop.Presses, c.Presses);
    EXPECT_EQ(presses, static_cast<int>(c.Presses.size()));
}

const std::string Long(260, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rules, KeeperPass,
    ::testing::Values(
        TPassCase{"TitleAmongOtherWords",
                  {{"Untitled - Editor", {"Connect"}},
                   {"Connect To office", {"Cancel", "Connect...", "Connect"}}},
                  {{"Connect To", "Connect"}},
                  {"Connect To office|Connect..."}},
        TPassCase{"CaseSensitive",
                  {{"connect to office", {"Connect"}}, {"Connect To", {"connect"}}},
                  {{"Connect To", "Connect"}},
                  {}},
        TPassCase{"EmptyCaptionNeverPresses",
                  {{"Reestablish Connection", {"", "Reconnect"}}},
                  {{"Reestablish Connection", ""}},
                  {}},
        TPassCase{"EmptyTextsAreSkipped",
                  {{"", {"OK"}}, {"Dial-Up Networking", {"", "OK"}}},
                  {{"", "OK"}, {"Dial-Up Networking", "OK"}},
                  {"Dial-Up Networking|OK"}},
        TPassCase{"TwoRowsOneDialogBothAct",
                  {{"Reestablish Connection - office", {"Reconnect", "Details"}}},
                  {{"Reestablish Connection", "Reconnect"}, {"office", "Details"}},
                  {"Reestablish Connection - office|Reconnect",
                   "Reestablish Connection - office|Details"}},
        TPassCase{
            "EveryMatchingDialogTopFirst",
            {{"Connect To A", {"Connect"}}, {"Other", {"Connect"}}, {"Connect To B", {"Connect"}}},
            {{"Connect To", "Connect"}},
            {"Connect To A|Connect", "Connect To B|Connect"}},
        TPassCase{"RowsInTableOrder",
                  {{"B dialog", {"Go"}}, {"A dialog", {"Go"}}},
                  {{"A dialog", "Go"}, {"B dialog", "Go"}},
                  {"A dialog|Go", "B dialog|Go"}},
        TPassCase{"HeaderRowNeverActs", {{"Dialog Box Title", {"Button To Push"}}}, {}, {}},
        TPassCase{"TitleComparedUpTo254Bytes",
                  {{Long + "Connect To", {"Connect"}}},
                  {{"Connect To", "Connect"}},
                  {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(KeeperPass, WithoutTitlesTheDesktopIsNotAsked) {
    TFakeDesktop desktop;
    desktop.Windows = {{"Connect To", {"Connect"}}};
    EXPECT_EQ(RunKeeperPass({Header}, desktop), 0);
    EXPECT_EQ(RunKeeperPass({Header, {"", "Connect"}}, desktop), 0);
    EXPECT_EQ(desktop.ListReads, 0);
}

TEST(KeeperPass, AWindowsControlsAreReadOncePerPass) {
    TFakeDesktop desktop;
    desktop.Windows = {{"Reestablish Connection - office", {"Reconnect", "Details"}}};
    RunKeeperPass({Header, {"Reestablish", "Reconnect"}, {"office", "Details"}, {"Connection", ""}},
                  desktop);
    EXPECT_EQ(desktop.ListReads, 1);
    EXPECT_EQ(desktop.ControlReads, 1);
}

TEST(DialUpKeeper, RunsPassesOnItsWorkerAndSkipsTicksWhileBusy) {
    auto* desktop = new TFakeDesktop;
    desktop->Windows = {{"Connect To", {"Connect"}}};
    std::promise<void> entered, release;
    std::shared_future<void> go = release.get_future().share();
    desktop->OnList = [&, go] {
        if (desktop->ListReads == 1) {
            entered.set_value();
            go.wait();
        }
    };
    std::thread::id worker;
    TDialUpKeeper keeper([&] {
        worker = std::this_thread::get_id();
        return std::unique_ptr<IDesktopControls>(desktop);
    });
    const TTable table{Header, {"Connect To", "Connect"}};
    EXPECT_TRUE(keeper.RequestPass(table));
    entered.get_future().wait();
    EXPECT_FALSE(keeper.RequestPass(table));  // the running pass refuses the next tick
    release.set_value();
    keeper.WaitIdle();
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_EQ(keeper.PassesDone(), 1u);
    EXPECT_EQ(keeper.PressesDone(), 1u);
    EXPECT_TRUE(keeper.RequestPass(table));
    keeper.WaitIdle();
    EXPECT_EQ(keeper.PassesDone(), 2u);
    EXPECT_EQ(keeper.PressesDone(), 2u);
}

TEST(DialUpKeeper, AccessibilityFollowsTheSwitchAndIsUndoneAtTheEnd) {
    auto* desktop = new TFakeDesktop;
    const auto log = desktop->SwitchLog;
    {
        TDialUpKeeper keeper([&] { return std::unique_ptr<IDesktopControls>(desktop); });
        keeper.SetActive(true);
        keeper.SetActive(true);  // no second switch
        keeper.SetActive(false);
        keeper.SetActive(true);
        keeper.WaitIdle();
        EXPECT_EQ(*log, (std::vector<bool>{true, false, true}));
    }
    EXPECT_EQ(*log, (std::vector<bool>{true, false, true, false}));
}

TEST(DialUpKeeper, ADesktopThatHangsIsReportedAndDoesNotHoldUpTheEnd) {
    // The gate outlives the keeper: the worker left behind waits on it.
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> release = gate->get_future().share();
    auto* desktop = new TFakeDesktop;
    desktop->Windows = {{"Connect To", {"Connect"}}};
    desktop->OnList = [release] { release.wait(); };
    const auto start = std::chrono::steady_clock::now();
    {
        TDialUpKeeper keeper([desktop] { return std::unique_ptr<IDesktopControls>(desktop); },
                             std::chrono::milliseconds(100), std::chrono::milliseconds(200));
        ASSERT_TRUE(keeper.RequestPass({Header, {"Connect To", "Connect"}}));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_NE(keeper.Problem().find("does not answer"), std::string::npos);
        EXPECT_FALSE(keeper.RequestPass({Header, {"Connect To", "Connect"}}));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    gate->set_value();  // the worker finishes its pass and ends
}

TEST(DialUpKeeper, ReportsTheDesktopsProblem) {
    auto* desktop = new TFakeDesktop;
    desktop->ProblemText = "no accessibility bus";
    TDialUpKeeper keeper([&] { return std::unique_ptr<IDesktopControls>(desktop); });
    EXPECT_EQ(keeper.Problem(), "");
    keeper.Probe();
    keeper.WaitIdle();
    EXPECT_EQ(keeper.Problem(), "no accessibility bus");
}

}  // namespace
}  // namespace tarvik
