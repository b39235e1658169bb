// The trend area: the chart drawn from a real trend file, day navigation
// and the timer rule with a fake clock, the scale limits, the tooltip, the
// period dialog and both exports, and the panel inside the main window.
#include "trend/qt/trend_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "monitor/qt/main_window.h"
#include "support/chart_resources.h"
#include "support/engine_harness.h"
#include "support/qt/temp_program_dir.h"
#include "trend/qt/trend_time_period.h"
#include "trend/trend_file.h"
#include "ui/help.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

constexpr int kDay = 46366;  // Thursday, 10 December 2026; the harness clock says 12:00
constexpr int kW = 267;
constexpr int kH = 87;
constexpr int kBase = kH - 15;

TLocalTime On(int day, int hour, int minute, int second = 0) {
    TLocalTime t;
    CivilFromDays(day, t.Year, t.Month, t.Day);
    t.Hour = hour;
    t.Minute = minute;
    t.Second = second;
    return t;
}

class TrendPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Drive = test::AddChartResource(H, {"1", "//filer/share", "clRed", "clBlue"});
        Host = test::AddChartResource(H, {"3", "host", "clRed", "clYellow"});
        Panel = std::make_unique<TTrendPanel>(H.Table, H.Clock);
        Panel->SetMessageDialog(&Messages);
    }
    // Writes records through the trend file code itself, then opens the
    // pair for reading as the program does.
    void WriteRecords(const std::function<void(test::TFakeClock&, TTrendFile&)>& write) {
        {
            test::TFakeClock clock(On(kDay - 1, 0, 0));
            TTrendFile file(Dir.File("KOR_VEL.D").toStdString(),
                            Dir.File("KOR_VEL.ND").toStdString(), clock);
            file.AttachQualityFile(Dir.File("KOR_VEL.Q").toStdString());
            write(clock, file);
        }
        File = std::make_unique<TTrendFile>(Dir.File("KOR_VEL.D").toStdString(),
                                            Dir.File("KOR_VEL.ND").toStdString(), H.Clock);
        File->AttachQualityFile(Dir.File("KOR_VEL.Q").toStdString());
        Panel->SetTrendFile(File.get());
    }
    static void Put(test::TFakeClock& clock, TTrendFile& file, const TLocalTime& at,
                    const std::string& name, double read, double write, double ping) {
        clock.SetLocal(at);
        file.WriteRecord({name, read, write, ping, 0, 0});
    }
    QRgb Pixel(int x, int y) const { return Panel->TrendDisplay2->Image().pixel(x, y); }

    test::TEngineHarness H;
    std::shared_ptr<TPingThread> Drive, Host;
    test::TTempProgramDir Dir;
    TMsgDialog Messages;
    std::unique_ptr<TTrendFile> File;
    std::unique_ptr<TTrendPanel> Panel;
};

TEST_F(TrendPanelTest, StartState) {
    EXPECT_EQ(Panel->TrendDate, EncodeDateTime(On(kDay, 12, 0)));
    EXPECT_FALSE(Panel->TrendNextDate->isEnabled());
    EXPECT_TRUE(Panel->HTrendGrdBtn->isChecked());
    EXPECT_TRUE(Panel->VTrendGrdBtn->isChecked());
    EXPECT_EQ(Panel->TrendTimer->interval(), 60000);
    EXPECT_TRUE(Panel->TrendTimer->isActive());
    EXPECT_EQ(Panel->HideValueWindow->interval(), 1000);
    EXPECT_EQ(Panel->TrendDatePanel->text(), "December 10, 2026, Thursday");
    EXPECT_EQ(Panel->TrendDatePanel->toolTip(), "Trend date");
    EXPECT_EQ(Panel->TrendNextDate->toolTip(), "Next day");
    EXPECT_EQ(Panel->HTrendGrdBtn->toolTip(), "Displays horisontal grid lines");
    EXPECT_EQ(Panel->CopyTrendBtn->toolTip(), "Copies trend of current day");
    EXPECT_EQ(Panel->CopyToClipbrdMenu->text(), "&Copy to Clipboard");
    EXPECT_EQ(Panel->CopyToClipbrdMenu->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Insert));
    EXPECT_EQ(Panel->CopyToFile->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(Panel->TrendDisplay2->size(), QSize(kW, kH));
}

TEST_F(TrendPanelTest, ChartShowsTheRecordsOfTheFileAtTheComputedPoints) {
    WriteRecords([](test::TFakeClock& c, TTrendFile& f) {
        for (int p = 1; p <= 96; ++p) {
            const int minutes = p * 15;
            const TLocalTime at = On(kDay + minutes / 1440, minutes / 60 % 24, minutes % 60, 7);
            Put(c, f, at, "//FILER/share", 1.0, 0.5, 0);    // read 1.0, write 0.5 KBps
            if (p <= 48) Put(c, f, at, "host", 0, 0, 1.5);  // the morning only
        }
    });
    Panel->HTrendGrdBtn->setChecked(false);
    Panel->VTrendGrdBtn->setChecked(false);
    int refreshed = 0;
    Panel->RefreshTitle = [&] { ++refreshed; };
    Panel->DrawTrend();
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(Drive->DayRead[40], 1.0);
    EXPECT_EQ(Drive->DayWrite[96], 0.5);
    EXPECT_EQ(Host->DayPing[40], 1.5);
    EXPECT_EQ(Host->DayPing[49], 0);

    // Scale 2: y = 71 - round(36 * value). Points of slots in the middle of
    // flat stretches: read 35 (blue), write 53 (red); the host's ping 17
    // (yellow) in the morning, on the base line (71) without records.
    const QRgb blue = qRgb(0, 0, 255), red = qRgb(255, 0, 0), yellow = qRgb(255, 255, 0);
    for (const int p : {20, 60}) {
        EXPECT_EQ(Pixel(TrendPointX(kW, p), TrendY(1.0, 2.0, kBase)), blue) << p;
        EXPECT_EQ(Pixel(TrendPointX(kW, p), TrendY(0.5, 2.0, kBase)), red) << p;
        EXPECT_EQ(Pixel(TrendPointX(kW, p), p < 48 ? 17 : 71), yellow) << p;
    }
    EXPECT_EQ(TrendY(1.0, 2.0, kBase), 35);
    // The axis, a tick, the background.
    EXPECT_EQ(Pixel(5, kBase), qRgb(0, 0, 0));
    EXPECT_EQ(Pixel(TrendHourX(kW)[6], kBase + 3), qRgb(0, 0, 0));
    EXPECT_EQ(Pixel(5, 5), qRgb(0, 0x80, 0));

    // The grids lie over the curves.
    Panel->HTrendGrdBtn->setChecked(true);
    Panel->VTrendGrdBtn->setChecked(true);
    Panel->DrawTrend();
    EXPECT_EQ(Pixel(3, TrendHGridY(kBase)[1]), qRgb(0, 0, 0));
    EXPECT_EQ(Pixel(TrendHourX(kW)[5], TrendY(1.0, 2.0, kBase)), qRgb(0, 0, 0));

    // A redraw asked for while one runs does nothing.
    Drive->DayRead[40] = 77;
    Panel->TrendDrawing = true;
    Panel->DrawTrend();
    EXPECT_EQ(Drive->DayRead[40], 77);
    EXPECT_EQ(refreshed, 2);
}

TEST_F(TrendPanelTest, DayNavigationAndTheTimerAfterMidnight) {
    WriteRecords([](test::TFakeClock& c, TTrendFile& f) {
        Put(c, f, On(kDay - 1, 10, 0), "host", 0, 0, 1);
        Put(c, f, On(kDay, 10, 0), "host", 0, 0, 2);
    });
    Panel->DrawTrend();
    EXPECT_EQ(Host->DayPing[40], 2);
    Panel->TrendPrevDate->click();
    EXPECT_TRUE(Panel->TrendNextDate->isEnabled());
    EXPECT_EQ(Panel->TrendDatePanel->text(), "December 9, 2026, Wednesday");
    EXPECT_EQ(Host->DayPing[40], 1);
    Panel->TrendNextDate->click();
    EXPECT_FALSE(Panel->TrendNextDate->isEnabled());
    EXPECT_EQ(Host->DayPing[40], 2);

    // Not measuring: the timer neither redraws nor moves the day, but after
    // midnight it enables the next-day button.
    bool measuring = false;
    Panel->IsMeasuring = [&] { return measuring; };
    Host->DayPing[40] = 99;
    H.Clock.SetLocal(On(kDay, 23, 59, 30));
    Panel->TrendTimerTimer();
    EXPECT_FALSE(Panel->TrendNextDate->isEnabled());
    H.Clock.SetLocal(On(kDay + 1, 0, 0, 30));
    Panel->TrendTimerTimer();
    EXPECT_TRUE(Panel->TrendNextDate->isEnabled());
    EXPECT_EQ(Host->DayPing[40], 99);
    EXPECT_EQ(Panel->TrendDatePanel->text(), "December 10, 2026, Thursday");
    measuring = true;
    Panel->TrendTimerTimer();
    EXPECT_EQ(Host->DayPing[40], 2);  // redrawn, still the same day
}

TEST_F(TrendPanelTest, ScaleStepsStayWithinLimits) {
    struct TCase {
        double From;
        bool Up;
        double To;
    } cases[] = {{2, true, 5},  {5, false, 2},         {2, false, 1},
                 {1, false, 1}, {50000, true, 100000}, {100000, true, 100000}};
    for (const TCase& c : cases) {
        Panel->TrendScale = c.From;
        (c.Up ? Panel->TrendScaleUp : Panel->TrendScaleDown)->click();
        EXPECT_EQ(Panel->TrendScale, c.To) << c.From << (c.Up ? " up" : " down");
    }
    // The legend follows: its top label is 80 % of the scale.
    const QImage before = Panel->TrendLegend->Image();
    Panel->TrendScaleDown->click();
    EXPECT_NE(Panel->TrendLegend->Image(), before);
}

TEST_F(TrendPanelTest, HostTooltipShowsItsQualityOnASecondLine) {
    WriteRecords([](test::TFakeClock& c, TTrendFile& f) {
        c.SetLocal(On(kDay, 12, 15));
        const TTrendRecord r{"host", 0, 0, 1.0, 0, 0};
        f.WriteRecord(r);
        TLinkQuality q;
        q.AddReply(410);
        q.AddReply(1200);
        q.AddLost();
        f.WriteQuality(r, q);
    });
    ASSERT_TRUE(File->HasQualityFile());
    Panel->DrawTrend();
    const int x = TrendPointX(kW, 49), y = TrendY(1.0, 2.0, kBase);
    Panel->TrendDisplay2MouseMove({x, y}, {500, 400});
    ASSERT_TRUE(Panel->TrendHint->isVisible());
    const QString text = Panel->TrendHint->text();
    EXPECT_EQ(text.section('\n', 0, 0), "\"host\", Ping -      1.00 KBps, 12:15");
    EXPECT_TRUE(text.section('\n', 1, 1).startsWith("loss 33.3 %, RTT p50 0.41 ms, p95 1.12 ms, jitter 0.79 ms"))  // 1.2 ms read from its bucket
        << text.toStdString();
    // The hint window holds both lines.
    const QFontMetrics fm(Panel->TrendHint->font());
    EXPECT_GE(Panel->TrendHint->height(), 2 * fm.height());
    EXPECT_GE(Panel->TrendHint->width(), fm.horizontalAdvance(text.section('\n', 1, 1)));
}

TEST_F(TrendPanelTest, TooltipNamesTheEarlierRowWhereCurvesMeet) {
    WriteRecords([](test::TFakeClock& c, TTrendFile& f) {
        Put(c, f, On(kDay, 12, 15), "//filer/share", 1.0, 0, 0);
        Put(c, f, On(kDay, 12, 15, 20), "host", 0, 0, 1.0);
    });
    Panel->DrawTrend();
    const int x = TrendPointX(kW, 49), y = TrendY(1.0, 2.0, kBase);
    Panel->TrendDisplay2MouseMove({x, y + 1}, {500, 400});
    ASSERT_TRUE(Panel->TrendHint->isVisible());
    EXPECT_EQ(Panel->TrendHint->text(), "\"//filer/share\", Read -      1.00 KBps, 12:15");
    EXPECT_EQ(Panel->TrendHint->pos(), QPoint(510, 410));  // a third of a 32-pixel cursor
    Panel->TrendDisplay2MouseMove({x, y + 4}, {500, 400});
    EXPECT_FALSE(Panel->TrendHint->isVisible());

    // The hide timer takes the hint away once the cursor is off the chart,
    // and lets the window hide its other hints.
    Panel->TrendDisplay2MouseMove({x, y}, {500, 400});
    ASSERT_TRUE(Panel->TrendHint->isVisible());
    int others = 0;
    Panel->HideOtherHints = [&] { ++others; };
    QCursor::setPos(Panel->TrendDisplay2->mapToGlobal(QPoint(x, y)));
    Panel->HideValueWindowTimer();
    EXPECT_TRUE(Panel->TrendHint->isVisible());
    QCursor::setPos(Panel->TrendDisplay2->mapToGlobal(QPoint(kW + 5, y)));
    Panel->HideValueWindowTimer();
    EXPECT_FALSE(Panel->TrendHint->isVisible());
    EXPECT_EQ(others, 2);
}

TEST_F(TrendPanelTest, ClipboardExportRemembersThePeriod) {
    Drive->DayRead[5] = 1234.5;
    std::vector<TTrendPeriod> offered;
    bool ok = true;
    int lifted = 0, restored = 0;
    Panel->LiftStayOnTop = [&] { ++lifted; };
    Panel->RestoreStayOnTop = [&] { ++restored; };
    Panel->ChoosePeriod = [&](TTrendPeriod& p, int& a, int& b) {
        offered.push_back(p);
        if (!ok) return false;
        p = {"1", "0", "1", "15"};
        a = FromSlot(p);
        b = TillSlot(p);
        return true;
    };
    Panel->CopyToClipbrdMenu->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "December 10, 2026, Thursday\t\r\n\t1:15\r\n"
              "//filer/share Read (KBps)\t1234.50\r\n//filer/share Write (KBps)\t0.00\r\n"
              "//filer/share Ping (KBps)\t0.00\r\n"
              "host Read (KBps)\t0.00\r\nhost Write (KBps)\t0.00\r\nhost Ping (KBps)\t0.00\r\n");
    ok = false;
    Panel->CopyToClipbrdMenu->trigger();  // cancelled: the period stays
    Panel->CopyToClipbrdMenu->trigger();
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0], TTrendPeriod{});
    EXPECT_EQ(offered[1], (TTrendPeriod{"1", "0", "1", "15"}));
    EXPECT_EQ(offered[2], offered[1]);
    EXPECT_EQ(lifted, 3);
    EXPECT_EQ(restored, 3);
}

TEST_F(TrendPanelTest, FileExportWritesTheLinesOrShowsTheWriteError) {
    std::optional<QString> chosen = Dir.File("trend.csv");
    Panel->ChooseExportFile = [&] { return chosen; };
    int asked = 0;
    Panel->ChoosePeriod = [&](TTrendPeriod& p, int& a, int& b) {
        ++asked;
        p = {"0", "0", "0", "15"};
        a = 0;
        b = 1;
        return true;
    };
    Panel->CopyToFile->trigger();
    EXPECT_EQ(Dir.Read("trend.csv").count('\t'), 8);
    EXPECT_TRUE(Dir.Read("trend.csv").startsWith("December 10, 2026, Thursday\t\r\n\t0:15\r\n"));

    chosen = Dir.File("no such dir/trend.csv");
    TMsgDialog::SetNextAnswer(1);
    Panel->CopyToFile->trigger();
    EXPECT_EQ(TMsgDialog::LastTitle(), "Error");
    EXPECT_EQ(TMsgDialog::LastText(), "Unable to write to " + *chosen);

    chosen.reset();  // the save dialog cancelled: no period asked
    Panel->CopyToFile->trigger();
    EXPECT_EQ(asked, 2);
}

TEST(TrendTimePeriod, EditorsKeysAndSlots) {
    TTrendTimePeriod d;
    EXPECT_EQ(d.windowTitle(), "Select the Time Period");
    EXPECT_EQ(d.FromTimeHours->maximum(), 24);
    EXPECT_EQ(d.FromTimeMin->maximum(), 45);
    EXPECT_EQ(d.FromTimeMin->singleStep(), 15);
    EXPECT_EQ(d.TillTimeHours->value(), 24);
    EXPECT_EQ(d.TillTimeMins->singleStep(), 15);
    EXPECT_EQ(d.BtnOk->text(), "&Ok");
    d.SetTexts({"02", "00", "03", "45"});
    QTimer::singleShot(0, &d, [&] { QTest::keyClick(d.TillTimeMins, Qt::Key_Return); });
    EXPECT_EQ(d.exec(), 1);
    EXPECT_EQ(d.FromSlot, 8);
    EXPECT_EQ(d.TillSlot, 15);
    EXPECT_EQ(d.Texts(), (TTrendPeriod{"2", "0", "3", "45"}));
    QTimer::singleShot(0, &d, [&] { QTest::keyClick(d.FromTimeHours, Qt::Key_Escape); });
    EXPECT_EQ(d.exec(), 2);

    QStringList opened;
    SetHelpOpener([&](const QString& page) { opened << page; });
    d.BtnHelp->click();
    SetHelpOpener(nullptr);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].endsWith("Copy.html") || opened[0].endsWith("Main_index.html"));
}

TEST(TrendInMainWindow, LoadedConfigurationDrawsTheStoredDay) {
    test::TTempProgramDir dir;
    test::TFakeClock clock(On(kDay, 0, 0));
    {
        TTrendFile file(dir.Paths.TrendDataFile(), dir.Paths.TrendIndexFile(), clock);
        clock.SetLocal(On(kDay, 9, 0, 10));
        file.WriteRecord({"127.0.0.1", 0, 0, 42, 0, 0});
    }
    clock.SetLocal(On(kDay, 12, 0));
    dir.Write("QUORBELT.INI",
              "[Main]\nSign=Network speed\n[Objects]\nNumber=1\nObject11=127.0.0.1\nObject15=3\n"
              "Object18=1000\n[Scale]\nTrendScale=50\n");
    TMsgDialog messages;
    TPingObjectOptions o;
    o.Clock = &clock;
    o.Paths = dir.Paths;
    o.Delays = {0, 0, 500, 0};
    TPingObject w(o);
    w.show();
    EXPECT_EQ(w.TrendPanel->TrendScale, 50);
    EXPECT_EQ(w.ResourceTable.Thread(1)->DayPing[36], 42);
    EXPECT_EQ(w.TrendPanel->TrendDatePanel->text(), "December 10, 2026, Thursday");
    w.close();
}

}  // namespace
}  // namespace tarvik
