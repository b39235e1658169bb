// TPingObject: the main window and the spine of the program. It owns the
// settings grid, one measuring thread per resource, the timers and the
// parts of the window (live chart, resource table, trend area), and routes
// Start, Stop, closing and the configuration between them.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "engine/measuring_control.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "platform/desktop_controls.h"
#include "platform/program_dir.h"
#include "platform/program_utils.h"
#include "setup/config_file.h"
#include "setup/qt/dialog_factory.h"
#include "setup/preferences.h"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace tarvik {

class ISpeedEventActions;
class TDialUpKeeper;
class TDisplayResourceTable;
class TParameters;
class TLiveChart;
class TPlayer;
class TProgExit;
class TSamplingCycle;
class TSyncCaller;
class TTrendFile;
class TMetricsSource;
class TMetricsServer;
class TTrendPanel;

struct TPingObjectOptions {
    const IClock* Clock = &SystemClock();
    TProgramPaths Paths = ProgramPaths();
    TProbeFactory Probes;  // null: the program's own probes
    TMeasuringDelays Delays;
    // The dialogs the window opens (tests replace them).
    TDialogFactory Dialogs;
    // Host resources can be measured (an ICMP echo socket opens).
    bool IcmpAvailable = true;
    bool ProcessListAvailable = tarvik::ProcessListAvailable();
    // Where the wizard looks for bookmarks and Favorites; empty: the user's home.
    std::string HomeDir;
    // The desktop the dial-up keeper presses buttons on; null: the system's
    // (X window list and AT-SPI).
    std::function<std::unique_ptr<IDesktopControls>()> DesktopControls;
};

class TPingObject : public QWidget {
    Q_OBJECT
public:
    explicit TPingObject(TPingObjectOptions options = {});
    ~TPingObject() override;

    // ---- controls, by the names the handlers and tests use ----
    QPushButton* AddResource;
    QPushButton* EditCurResource;
    QPushButton* DelResource;
    QPushButton* ScaleUP;
    QPushButton* ScaleDown;
    QPushButton* HGrdBtn;
    QPushButton* VGrdBtn;
    QPushButton* ShrinkAndGrow;
    QPushButton* StayOnTop;
    QPushButton* StartBtn;
    QPushButton* BitmapButton1;  // "Stop"
    QPushButton* TrendBmp;
    QPushButton* SetBtn;
    QPushButton* CloseBtn;
    QPushButton* HelpBtn;
    QMenu* HelpPopup;
    QWidget* ButtonPanel;
    TLiveChart* Display;
    TDisplayResourceTable* DisplayResourceTable;
    TTrendPanel* TrendPanel;  // the trend area with its controls and timers

    QTimer* PingSendTimer;
    QTimer* ThreadsActivation;
    QTimer* DialUpTimer;

    // ---- window state ----
    TResourceTable ResourceTable;
    std::vector<TConnectWindowsRow> ConnectWindowsTable;
    double Scale = 2.0;
    bool Drawing = false;
    std::uint64_t StartTick = 0;
    std::uint64_t TitleTick = 0;
    int FullWidth = 0;
    int FullHeight = 0;
    bool Shrinked = false;
    bool StayOnTopSetting = false;
    bool FirstStart = false;
    bool ExitConfirmed = false;
    bool TrendEnabled = true;
    bool UserKnownCDFileSize = false;
    // The dial-up keeper's settings as stored; the timer runs only while
    // enabled with a positive interval.
    bool DialUpEnabled = false;
    int DialUpInterval = 3000;
    bool HintsCreated = false;
    TFontSetting MainFont, GridFont, EditLineFont;
    std::unique_ptr<TTrendFile> TrendFile;
    TProgExit* ProgExit = nullptr;

    // ---- handlers ----
    void StartBtnClick();
    void StopBtnClick();
    void ThreadsActivationTimer();
    void PingSendTimerTimer();
    // Redraws the live chart; event mode also evaluates the speed events and
    // sets the level icon and the title (the sampling tick does that).
    void RedrawLiveChart(bool eventMode = false);
    void ScaleUPClick();
    void ScaleDownClick();
    void HGrdBtnClick();
    void VGrdBtnClick();
    // Redraws the trend chart (after loading, adding, editing, deleting).
    void DrawTrend();
    // The resource rows changed (added, edited, deleted): the trend chart and
    // the metrics follow.
    void ResourceRowsChanged();
    // The application title of the selected resource, and the level icon.
    void RefreshApplicationTitle();
    void SetLevelIcon(int level);
    // The program's one sound player, which plays the speed events' sounds.
    void SetPlayer(TPlayer* player);
    void ShrinkAndGrowClick();
    void TrendBmpClick();
    void StayOnTopClick();
    void LiftStayOnTop();
    void RestoreStayOnTop();
    void AddResourceClick();
    void EditCurResourceClick();
    void DelResourceClick();
    void CloseBtnClick();
    void HelpBtnClick();
    void ShowAbout();
    void ReadParametersFile();
    void WriteParametersFile();
    // Creates the thread of a settings row and copies the row into it.
    void CreateRowThread(int row);
    // Starts or stops DialUpTimer from DialUpEnabled and DialUpInterval.
    void ApplyDialUpTimer();
    // One search pass of the dial-up keeper, run on the keeper's worker.
    void DialUpTimerTimer();
    TDialUpKeeper& DialUpKeeper() { return *Keeper_; }
    // The Global Preferences dialog: shown by SetBtn with stay-on-top lifted.
    void SetParameters(TParameters* parameters);
    void SetBtnClick();
    // What the preferences edit, and taking them back on OK.
    TPreferences CurrentPreferences() const;
    void ApplyPreferences(const TPreferences& p);

    // Replaces the Add resource wizard when set (test hook of the start-up).
    std::function<void()> OnAddResource;
    // Standard error box of the configuration load (test hook).
    std::function<void(const QString&)> ShowErrorBox;
    // What the speed events do; the system's actions unless a test sets others.
    std::unique_ptr<ISpeedEventActions> SpeedEventActions;

    const std::shared_ptr<TEngineContext>& Engine() const { return Ctx_; }
    TMeasuringControl& Control() { return *Control_; }
    const TProgramPaths& Paths() const { return Options_.Paths; }

signals:
    // The window has closed: configuration saved, threads ended.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void ApplySettings(const TWindowSettings& s);
    TWindowSettings CollectSettings() const;
    void HandleFirstStart();  // WM_FIRSTSTART
    void ApplyStayOnTop();    // WM_APPLYSTAYONTOP
    void SetTopmost(bool on);
    void MoveOuterTopLeft(const QPoint& outer);
    QPoint OuterTopLeft() const;
    void UpdateRowButtons();
    TWizardEnvironment MakeWizardEnvironment(bool editMode);
    std::unique_ptr<ISpeedEventActions> EventTestActions_;
    void WireLiveChart();
    void WireTrendPanel();
    QPushButton* MakeButton(const char* name, const QString& caption, const QString& glyph,
                            const QString& hint, int helpContext, const QRect& geometry,
                            QWidget* parent, bool checkable = false);

    // Serves [Metrics] Listen=ADDR:PORT of the configuration, when set.
    void StartMetricsServer();
    TPingObjectOptions Options_;
    std::unique_ptr<TMetricsSource> Metrics_;
    std::unique_ptr<TMetricsServer> MetricsServer_;
    std::shared_ptr<TSyncCaller> Sync_;
    std::shared_ptr<TEngineContext> Ctx_;
    std::unique_ptr<TMeasuringControl> Control_;
    std::unique_ptr<TSamplingCycle> Sampling_;
    QPointer<TPlayer> Player_;
    QPointer<TParameters> Parameters_;
    std::unique_ptr<TDialUpKeeper> Keeper_;
    bool Closed_ = false;
    bool Closing_ = false;          // FormClose is running
    bool Loading_ = false;          // FormShow is running
    bool CloseDuringLoad_ = false;  // a close came while loading
};

// Lifts stay-on-top for the life of a modal dialog and restores it after.
class TStayOnTopGuard {
public:
    explicit TStayOnTopGuard(TPingObject& window) : Window_(window) { Window_.LiftStayOnTop(); }
    ~TStayOnTopGuard() { Window_.RestoreStayOnTop(); }
    TStayOnTopGuard(const TStayOnTopGuard&) = delete;
    TStayOnTopGuard& operator=(const TStayOnTopGuard&) = delete;

private:
    TPingObject& Window_;
};

}  // namespace tarvik
