#include "monitor/qt/live_chart.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "monitor/chart_geometry.h"
#include "monitor/qt/main_window.h"
#include "monitor/qt/sampling_cycle.h"
#include "support/chart_resources.h"
#include "support/qt/temp_program_dir.h"
#include "ui/icons.h"
#include "ui/msg_dialog.h"
#include "ui/player.h"
#include "support/qt/wait_for.h"

namespace tarvik {
namespace {

using test::Flat;

const QColor kBackground(0x00, 0x80, 0x00);
const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kYellow(255, 255, 0), kAqua(0, 255, 255);

class LiveChartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Cycle.SetLevelIcon = [this](int level) { Levels.push_back(level); };
        Cycle.RefreshTitle = [this] { ++Titles; };
    }
    TSamplingPass Pass(bool events, bool grid = true, int selected = 1) const {
        TSamplingPass p;
        p.EventMode = events;
        p.Scale = 2;
        p.HGrid = p.VGrid = grid;
        p.SelectedRow = selected;
        return p;
    }
    bool Redraw(const TSamplingPass& pass) { return Cycle.Run(pass, Drawing, TitleTick, &Actions); }
    QColor At(int x, int y) const { return Chart.display2->Image().pixelColor(x, y); }
    std::shared_ptr<TPingThread> Add(const std::string& kind, const std::string& address,
                                     const std::string& write = "clRed",
                                     const std::string& read = "clBlue") {
        return test::AddChartResource(H, {kind, address, write, read});
    }

    test::TEngineHarness H;
    TLiveChart Chart;
    TSamplingCycle Cycle{H.Table, Chart, H.Clock};
    test::TRecordingActions Actions;
    bool Drawing = false;
    std::uint64_t TitleTick = 0;
    std::vector<int> Levels;
    int Titles = 0;
    const std::array<int, HistorySize + 1> Xs = ChartPointsX(ChartWidth);
};

TEST_F(LiveChartTest, DrawsTheSeriesOfEachKindAtTheirPointsUnderTheGrid) {
    auto drive = Add("1", "/srv/share");                        // write red, read blue
    test::FillHistory(*drive, drive->WriteHistory, Flat(1.0));  // row 43
    test::FillHistory(*drive, drive->ReadHistory, Flat(0.5));   // row 65
    auto file = Add("2", "/cd/file", "clFuchsia", "clYellow");
    test::FillHistory(*file, file->WriteHistory, Flat(1.4));  // row 26: not drawn
    test::FillHistory(*file, file->ReadHistory, Flat(0.9));   // row 48
    auto host = Add("3", "127.0.0.1", "clFuchsia", "clAqua");
    test::FillHistory(*host, host->ReadHistory, Flat(1.3));  // row 30: not drawn
    test::FillHistory(*host, host->PingHistory, Flat(0.2));  // row 78
    auto halfway = Add("3", "10.0.0.1", "clRed", "clRed");
    test::FillHistory(*halfway, halfway->PingHistory, [](int i) { return i <= 50 ? 0.0 : 5.0; });

    ASSERT_TRUE(Redraw(Pass(false)));
    EXPECT_FALSE(Drawing);
    ASSERT_EQ(ChartY(1.0, 2, ChartHeight), 43);
    for (const int i : {10, 31, 70}) {
        const int x = Xs[i];
        EXPECT_EQ(At(x, 43), kRed) << i;
        EXPECT_EQ(At(x, 65), kBlue) << i;
        EXPECT_EQ(At(x, 48), kYellow) << i;
        EXPECT_EQ(At(x, 78), kAqua) << i;
        EXPECT_EQ(At(x, 26), kBackground) << "a kind 2 resource has no write series";
        EXPECT_EQ(At(x, 30), kBackground) << "a kind 3 resource has no read series";
    }
    // Speed 0 lies on the bottom row; the jump to 5 (above the scale of 2)
    // rises to the top row, where the top grid line covers it.
    EXPECT_EQ(At(Xs[20], ChartHeight - 1), kRed);
    EXPECT_EQ(At(Xs[80], 0), QColor(Qt::black));
    EXPECT_EQ(At(Xs[80], 1), kBackground);

    // Grid lines in black over everything; the series in between.
    for (const int y : HorizontalGridY(ChartHeight)) EXPECT_EQ(At(5, y), QColor(Qt::black)) << y;
    for (const int x : VerticalGridX(ChartWidth)) {
        EXPECT_EQ(At(x, 5), QColor(Qt::black)) << x;
        EXPECT_EQ(At(x, 43), QColor(Qt::black)) << x;
    }
    EXPECT_EQ(At(21, 5), kBackground);

    // Without grid lines the top row shows the series.
    ASSERT_TRUE(Redraw(Pass(false, false)));
    EXPECT_EQ(At(Xs[80], 0), kRed);
    EXPECT_EQ(At(5, 70), kBackground);
    EXPECT_EQ(At(20, 43), kRed);
}

TEST_F(LiveChartTest, WithoutResourcesOnlyTheBackgroundAndTheGridAreShown) {
    H.Table.AddRow();  // a row without a thread draws nothing
    ASSERT_TRUE(Redraw(Pass(true)));
    const QImage image = Chart.display2->Image();
    ASSERT_EQ(image.size(), QSize(ChartWidth, ChartHeight));
    const auto hs = HorizontalGridY(ChartHeight), vs = VerticalGridX(ChartWidth);
    int wrong = 0;
    for (int y = 0; y < ChartHeight; ++y)
        for (int x = 0; x < ChartWidth; ++x) {
            const bool line =
                std::count(hs.begin(), hs.end(), y) || std::count(vs.begin(), vs.end(), x);
            wrong += image.pixelColor(x, y) != (line ? QColor(Qt::black) : kBackground);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(Actions.Calls.empty());
    EXPECT_TRUE(Levels.empty());
}

TEST_F(LiveChartTest, OnlyTheReadSpeedOfADriveDrivesItsEvents) {
    auto drive = Add("1", "/srv/share");
    test::EnableMinEvent(H, 1, "5");
    test::FillHistory(*drive, drive->WriteHistory, Flat(1));  // below the threshold
    test::FillHistory(*drive, drive->ReadHistory, Flat(10));  // above it
    for (int s = 0; s < 6; ++s) {
        ASSERT_TRUE(Redraw(Pass(true)));
        H.Clock.Advance(1000);
    }
    EXPECT_TRUE(Actions.Calls.empty());
    EXPECT_EQ(H.Table.Cell(colMinConditionSince, 1), "");

    // Redraws without events leave the event alone even below the threshold.
    test::FillHistory(*drive, drive->ReadHistory, Flat(3));
    for (int s = 0; s < 4; ++s) {
        ASSERT_TRUE(Redraw(Pass(false)));
        H.Clock.Advance(1000);
    }
    EXPECT_TRUE(Actions.Calls.empty());
    EXPECT_EQ(H.Table.Cell(colMinConditionSince, 1), "");

    // Sampling ticks time it and fire after more than 2 s.
    for (int s = 0; s < 4; ++s) {
        ASSERT_TRUE(Redraw(Pass(true)));
        H.Clock.Advance(1000);
    }
    EXPECT_EQ(Actions.Calls, std::vector<std::string>{"play min.wav"});
}

TEST_F(LiveChartTest, AFailingActionDoesNotStopTheTickAndTheGuardIsCleared) {
    for (const char* address : {"10.0.0.1", "10.0.0.2"}) Add("3", address);
    test::EnableMinEvent(H, 1, "5");
    test::EnableMinEvent(H, 2, "5");
    auto late = H.Table.Thread(2);
    test::FillHistory(*late, late->PingHistory, Flat(1));
    Actions.Throw = true;
    for (int s = 0; s < 4; ++s) {
        ASSERT_TRUE(Redraw(Pass(true, false)));
        EXPECT_FALSE(Drawing);
        H.Clock.Advance(1000);
    }
    EXPECT_EQ(Actions.Calls, (std::vector<std::string>{"play min.wav", "play min.wav"}));
    EXPECT_EQ(H.Table.Cell(colMinPerformed, 2), "1");
    EXPECT_EQ(At(Xs[50], ChartY(1, 2, ChartHeight)), kBlue) << "rows after the failure are drawn";

    // A redraw that is already running is not entered again.
    Drawing = true;
    test::FillHistory(*late, late->PingHistory, Flat(0));
    EXPECT_FALSE(Redraw(Pass(true, false)));
    EXPECT_TRUE(Drawing);
    EXPECT_EQ(At(Xs[50], ChartY(1, 2, ChartHeight)), kBlue);
}

TEST_F(LiveChartTest, LevelIconAndTitleFollowTheSelectedRow) {
    auto host = Add("3", "10.0.0.1");
    auto drive = Add("1", "/srv/share");
    test::FillHistory(*host, host->PingHistory, Flat(60));
    host->UpdateLevelReference(120);
    test::FillHistory(*drive, drive->WriteHistory, Flat(100));
    test::FillHistory(*drive, drive->ReadHistory, Flat(30));
    drive->UpdateLevelReference(120);

    TitleTick = H.Clock.TickMs();
    Redraw(Pass(false, true, 1));
    EXPECT_TRUE(Levels.empty()) << "no icon without events";
    Redraw(Pass(true, true, 1));
    EXPECT_EQ(Levels, std::vector<int>{6});
    EXPECT_EQ(Titles, 0);
    H.Clock.Advance(999);
    Redraw(Pass(true, true, 1));
    EXPECT_EQ(Titles, 0);
    H.Clock.Advance(1);
    Redraw(Pass(true, true, 1));
    EXPECT_EQ(Titles, 1);
    EXPECT_EQ(TitleTick, H.Clock.TickMs());
    EXPECT_EQ(Levels, std::vector<int>{6}) << "an unchanged level is not set again";

    Redraw(Pass(true, true, 2));  // the drive's read speed, not its write speed
    EXPECT_EQ(Levels, (std::vector<int>{6, 3}));

    auto fresh = Add("3", "10.0.0.3");  // no level reference yet
    test::FillHistory(*fresh, fresh->PingHistory, Flat(50));
    Redraw(Pass(true, true, 3));
    EXPECT_EQ(Levels.back(), 0);
}

TEST_F(LiveChartTest, ValueTooltipShowsTheSpeedUnderTheMouse) {
    auto drive = Add("1", "/srv/share");
    test::FillHistory(*drive, drive->WriteHistory, Flat(1.0));
    test::FillHistory(*drive, drive->ReadHistory, Flat(0.5));
    Chart.ValueAt = [this](int x, int y) -> std::optional<QString> {
        if (auto text = Cycle.ValueAt(x, y, 2)) return QString::fromStdString(*text);
        return std::nullopt;
    };
    Chart.show();
    QLabel* hint = Chart.ValueHint();
    const QRect screen = Chart.screen()->geometry();

    Chart.display2MouseMove({134, 44}, {100, 100});
    ASSERT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), "\"/srv/share\" Write      1.00 KBps");
    const QFontMetrics fm(hint->font());
    EXPECT_EQ(hint->geometry(),
              QRect(110, 110, fm.horizontalAdvance(hint->text()) + 6, fm.height() + 4));

    // At the screen's corner the hint stays on the screen.
    const QPoint corner = screen.bottomRight() - QPoint(2, 2);
    Chart.display2MouseMove({134, 65}, corner);
    EXPECT_EQ(hint->text(), "\"/srv/share\" Read      0.50 KBps");
    EXPECT_TRUE(screen.contains(hint->geometry()))
        << hint->geometry().x() << "," << hint->geometry().y();
    EXPECT_EQ(hint->geometry().right(), screen.right());
    EXPECT_EQ(hint->geometry().bottom(), screen.bottom());

    Chart.display2MouseMove({134, 10}, {100, 100});
    EXPECT_FALSE(hint->isVisible());

    // The chart image's own mouse moves drive it, and leaving hides it.
    QMouseEvent move(QEvent::MouseMove, QPointF(134, 43),
                     Chart.display2->mapToGlobal(QPointF(134, 43)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Chart.display2, &move);
    EXPECT_TRUE(hint->isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Chart.display2, &leave);
    EXPECT_FALSE(hint->isVisible());
}

TEST_F(LiveChartTest, LegendLabelsSitOnTheGridLinesRightAligned) {
    const auto rowsWithInk = [this](int from, int to, int fromX = 0) {
        const QImage image = Chart.Legend->Image();
        for (int y = std::max(0, from); y <= std::min(to, image.height() - 1); ++y)
            for (int x = fromX; x < image.width(); ++x)
                if (image.pixelColor(x, y) != kBackground) return true;
        return false;
    };
    Chart.LegendPaint(2);
    ASSERT_EQ(Chart.Legend->Image().size(), QSize(33, 87));
    const int h = QFontMetrics(Chart.LegendFont).height();
    for (const auto& label : LegendLabels(2, ChartHeight)) {
        EXPECT_TRUE(rowsWithInk(label.CenterY - h / 2, label.CenterY + h / 2, 29)) << label.Text;
    }
    EXPECT_TRUE(rowsWithInk(0, h, 29)) << "KBps on top";
    EXPECT_FALSE(rowsWithInk(76, 86)) << "nothing below the lowest label";
    const QImage small = Chart.Legend->Image();
    Chart.LegendPaint(100000);
    EXPECT_NE(Chart.Legend->Image(), small);
    EXPECT_EQ(Chart.LegendScale(), 100000);
}

// ---- the window's part -------------------------------------------------------------------

const char* kHostWithMinEvent =
    "[Main]\nSign=Network speed\n[Objects]\nNumber=1\n"
    "Object11=127.0.0.1\nObject15=3\nObject17=clAqua\nObject18=1000\nObject111=2500\n"
    "Object112=5\nObject114=0\nObject115=/nonexistent/min.wav\nObject122=1\nObject123=2\n"
    "Object126=1\n";

class LiveChartWindowTest : public ::testing::Test {
  protected:
    std::unique_ptr<TPingObject> Make(const char* ini) {
        Dir.Write("QUORBELT.INI", ini);
        TPingObjectOptions o;
        o.Clock = &Clock;
        o.Paths = Dir.Paths;
        o.Delays = {0, 0, 500, 0};
        auto w = std::make_unique<TPingObject>(o);
        w->ShowErrorBox = [](const QString&) {};
        return w;
    }
    test::TFakeClock Clock;
    test::TTempProgramDir Dir;
    TMsgDialog Messages;
};

TEST_F(LiveChartWindowTest, ChartButtonsStepTheScaleAndRedraw) {
    auto w = Make(kHostWithMinEvent);
    w->show();
    EXPECT_EQ(w->Display->LegendScale(), 1000) << "the legend shows the loaded scale";
    const QImage& image = w->Display->display2->Image();
    EXPECT_EQ(image.pixelColor(5, 70), QColor(Qt::black));
    w->ScaleUP->click();
    EXPECT_EQ(w->Scale, 2000);
    EXPECT_EQ(w->Display->LegendScale(), 2000);
    w->ScaleDown->click();
    w->ScaleDown->click();
    EXPECT_EQ(w->Scale, 500);
    w->HGrdBtn->click();
    EXPECT_FALSE(w->HGrdBtn->isChecked());
    EXPECT_EQ(w->Display->display2->Image().pixelColor(5, 70), kBackground);
    EXPECT_EQ(w->Display->display2->Image().pixelColor(20, 5), QColor(Qt::black));
    w->VGrdBtn->click();
    EXPECT_EQ(w->Display->display2->Image().pixelColor(20, 5), kBackground);
    w->HGrdBtn->click();
    EXPECT_EQ(w->Display->display2->Image().pixelColor(5, 70), QColor(Qt::black));
}

TEST_F(LiveChartWindowTest, SamplingTickPlaysTheEventSoundThroughTheProgramsPlayer) {
    TPlayer::SelectMediaBackend();
    TPlayer player;
    QStringList deviceErrors;
    player.ShowDeviceError = [&](const QString& text) { deviceErrors << text; };
    auto w = Make(kHostWithMinEvent);
    w->SetPlayer(&player);
    w->show();
    // The host has not measured yet: its speed of 0 is below the threshold 5.
    for (int s = 0; s < 4; ++s) {
        w->PingSendTimerTimer();
        EXPECT_FALSE(w->Drawing);
        Clock.Advance(1000);
    }
    EXPECT_EQ(w->ResourceTable.Cell(colMinPerformed, 1), "1");
    // The sound reaches the player once its file has answered off the window thread.
    ASSERT_TRUE(test::WaitFor([&] { return player.FileName() == QString("/nonexistent/min.wav"); }, 3000));
    EXPECT_EQ(w->windowIcon().pixmap(32).toImage(), LevelIcon(0).pixmap(32).toImage());
    EXPECT_EQ(w->windowTitle(), "\"127.0.0.1\"  Ping 0.0");
}

}  // namespace
}  // namespace tarvik
