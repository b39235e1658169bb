#include "monitor/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <limits>

#include "engine/sync_caller.h"
#include "monitor/chart_geometry.h"
#include "monitor/dialup_keeper.h"
#include "monitor/qt/live_chart.h"
#include "monitor/qt/prog_exit.h"
#include "monitor/qt/resource_table_view.h"
#include "monitor/qt/sampling_cycle.h"
#include "monitor/resource_list.h"
#include "monitor/speed_event.h"
#include "platform/date_time.h"
#include "setup/qt/set_event.h"
#include "trend/qt/report_printer.h"
#include "trend/qt/trend_panel.h"
#include "setup/qt/parameters_dialog.h"
#include "trend/trend_file.h"
#include "monitor/metrics.h"
#include "platform/ini_file.h"
#include "platform/metrics_server.h"
#include "ui/colors_qt.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/msg_dialog.h"
#include "ui/player.h"

namespace tarvik {
namespace {

// Client-area layout of the fixed window.
constexpr int ClientWidth = 408;
constexpr int ClientHeight = 378;
const QRect ButtonPanelRect(0, 215, 408, 34);
// A column width that the configuration file does not store.
constexpr int WidthNotStored = std::numeric_limits<int>::min();

QFont ToQFont(const TFontSetting& f) {
    QFont font(QString::fromStdString(f.Name), f.Size > 0 ? f.Size : 8);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    return font;
}

// The labels over the chart buttons: a small plain narrow face, so that
// "Hor.Grid" and "Vert.Grid" stand apart over their 30-pixel buttons.
QFont SmallLabelFont() {
    QFont font;
    font.setFamilies({QString::fromLatin1(NarrowFace), QStringLiteral("DejaVu Sans Condensed")});
    font.setPixelSize(8);
    font.setBold(false);
    return font;
}

QLabel* SmallLabel(const QString& text, const QRect& geometry, QWidget* parent, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setObjectName("ButtonLabel");
    label->setFont(SmallLabelFont());
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    if (buddy) label->setBuddy(buddy);
    return label;
}

}  // namespace

TPingObject::TPingObject(TPingObjectOptions options) : Options_(std::move(options)) {
    FormCreate();
}

TPingObject::~TPingObject() {
    // A window destroyed without closing still ends its threads.
    if (!Closed_) {
        Closed_ = true;  // ~QWidget's close must not run the close handlers again
        Sync_->Release();
        Control_->Close();
    }
    // The table view reads the settings grid, a member that dies before the
    // widget base: take the view down first.
    Ctx_->RepaintCells = nullptr;
    delete DisplayResourceTable;
    DisplayResourceTable = nullptr;
}

QPushButton* TPingObject::MakeButton(const char* name, const QString& caption, const QString& glyph,
                                     const QString& hint, int helpContext, const QRect& geometry,
                                     QWidget* parent, bool checkable) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    if (!glyph.isEmpty()) b->setIcon(ButtonIcon(glyph));
    b->setToolTip(hint);
    b->setWhatsThis(hint);
    b->setGeometry(geometry);
    b->setCheckable(checkable);
    if (checkable) {
        // A pressed toggle shows a tinted face. Only the palette's button
        // colour is set: a style sheet here would pin the button's font and
        // cascade into every dialog parented to the window.
        connect(b, &QPushButton::toggled, b, [b](bool down) {
            QPalette pal;
            if (down) pal.setColor(QPalette::Button, QColor(0xa8, 0xc4, 0xa8));
            b->setPalette(pal);
        });
    }
    b->setFocusPolicy(Qt::TabFocus);
    if (helpContext > 0) b->setProperty("helpContext", helpContext);
    b->installEventFilter(this);  // right-button context help
    return b;
}

void TPingObject::FormCreate() {
    setObjectName("PingObject");
    setWindowTitle("Tarvik");
    setWindowIcon(ApplicationIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont font("Sans Serif", 8);
    font.setBold(true);
    setFont(font);
    setFixedSize(ClientWidth, ClientHeight);

    // The synchronous call from the measuring threads: queued onto the
    // application's event loop, run there, the caller waiting meanwhile.
    auto self = std::make_shared<std::weak_ptr<TSyncCaller>>();
    Sync_ = std::make_shared<TSyncCaller>([self] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [weak = *self] { if (auto s = weak.lock()) s->RunPending(); },
                Qt::QueuedConnection);
    });
    *self = Sync_;
    Ctx_ = std::make_shared<TEngineContext>();
    Ctx_->Clock = Options_.Clock;
    Ctx_->Sync = Sync_;
    Ctx_->Table = &ResourceTable;
    Ctx_->Probes = Options_.Probes;

    // ---- the live chart and the buttons beside it ----
    Display = new TLiveChart(this);
    Display->move(4, 4);
    Display->display2->installEventFilter(this);
    Display->Legend->installEventFilter(this);
    // The buttons beside the chart span its height: the shrunk window ends
    // 2 pixels below the shrink button and so below the chart's bottom row.
    ScaleUP = MakeButton("ScaleUP", "", "scaleup", "Changes the scale on the vertical axis", 195,
                         {315, 18, 22, 22}, this);
    ScaleDown = MakeButton("ScaleDown", "", "scaledown", "Changes the scale on the vertical axis",
                           195, {315, 44, 22, 22}, this);
    SmallLabel("Scale", {313, 68, 26, 12}, this, nullptr);
    HGrdBtn = MakeButton("HGrdBtn", "", "hgrid", "Displays horisontal grid lines", 196,
                         {342, 16, 30, 26}, this, true);
    VGrdBtn = MakeButton("VGrdBtn", "", "vgrid", "Displays vertical grid lines", 196,
                         {375, 16, 30, 26}, this, true);
    StayOnTop = MakeButton("StayOnTop", "", "ontopup", "Keeps the window visible", 163,
                           {342, 67, 30, 26}, this, true);
    ShrinkAndGrow = MakeButton("ShrinkAndGrow", "", "shrink", "Shrinks or grows the window", 162,
                               {375, 67, 30, 26}, this);
    SmallLabel("Hor.Grid", {341, 3, 32, 12}, this, HGrdBtn);
    SmallLabel("Vert.Grid", {374, 3, 32, 12}, this, VGrdBtn);
    SmallLabel("On Top", {341, 54, 32, 12}, this, StayOnTop);
    SmallLabel("&Shrink", {374, 54, 32, 12}, this, ShrinkAndGrow);
    HGrdBtn->setChecked(true);
    VGrdBtn->setChecked(true);

    // ---- the resource table ----
    DisplayResourceTable = new TDisplayResourceTable(ResourceTable, this);
    DisplayResourceTable->setGeometry(4, 99, 400, 112);
    DisplayResourceTable->installEventFilter(this);

    // ---- the button row ----
    ButtonPanel = new QWidget(this);
    ButtonPanel->setObjectName("ButtonPanel");
    ButtonPanel->setGeometry(ButtonPanelRect);
    AddResource = MakeButton("AddResource", "", "add", "Adds new test resource", 134,
                             {4, 4, 26, 26}, ButtonPanel);
    EditCurResource = MakeButton("EditCurResource", "", "edit", "Edits current resource", 136,
                                 {32, 4, 26, 26}, ButtonPanel);
    DelResource = MakeButton("DelResource", "", "delete",
                             "Deletes current resource. Enabled when process stopped.", 157,
                             {60, 4, 26, 26}, ButtonPanel);
    EditCurResource->setEnabled(false);
    DelResource->setEnabled(false);
    StartBtn = MakeButton("StartBtn", "Start", "start", "Starts the test process", 199,
                          {90, 4, 56, 26}, ButtonPanel, true);
    BitmapButton1 = MakeButton("BitmapButton1", "Stop", "stop", "Stops the test process", 201,
                               {148, 4, 56, 26}, ButtonPanel, true);
    StartBtn->setAutoExclusive(true);
    BitmapButton1->setAutoExclusive(true);
    BitmapButton1->setChecked(true);
    TrendBmp = MakeButton("TrendBmp", "Trend", "", "Shows or hides trend screen", 164,
                          {208, 4, 52, 26}, ButtonPanel, true);
    SetBtn = MakeButton("SetBtn", "S&ettings", "", "Program settings", 0,
                        {262, 4, 52, 26}, ButtonPanel);
    CloseBtn = MakeButton("CloseBtn", "&Close", "", "Closes the program.", 132,
                          {316, 4, 44, 26}, ButtonPanel);
    HelpBtn = MakeButton("HelpBtn", "&Help", "", "", 120, {362, 4, 42, 26}, ButtonPanel);

    HelpPopup = new QMenu(this);
    HelpPopup->setObjectName("HelpPopup");
    QAction* helpItem = HelpPopup->addAction("Help", this, [] { OpenHelpContents(); });
    helpItem->setShortcut(Qt::Key_F1);
    HelpPopup->setDefaultAction(helpItem);
    HelpPopup->addAction("About", this, [this] { ShowAbout(); });

    // ---- the trend area ----
    TrendPanel = new TTrendPanel(ResourceTable, *Options_.Clock, this);
    TrendPanel->move(0, 250);
    // The printed report of the shown day, for the period chosen in the trend
    // panel's period dialog (filled from and stored to the remembered period).
    ConnectPrintTrend(TrendPanel->PrintTrend,
                      {[this] { LiftStayOnTop(); }, [this] { RestoreStayOnTop(); },
                       [this](QPrinter& printer) { return ExecPrintDialog(printer, this); },
                       [this]() -> std::optional<TReportPeriod> {
                           TTrendPeriod period = TrendPanel->Period;
                           int a = 0, b = 0;
                           if (!TrendPanel->ChoosePeriod(period, a, b)) return std::nullopt;
                           TrendPanel->Period = period;
                           return TReportPeriod{a, b};
                       },
                       [this] {
                           return TReportContent{
                               TrendPanel->TrendScale, TrendPanel->HTrendGrdBtn->isChecked(),
                               TrendPanel->VTrendGrdBtn->isChecked(),
                               TrendPanel->TrendDatePanel->text().toStdString(),
                               ReportResources(ResourceTable, TrendFile.get(), TrendPanel->TrendDate)};
                       },
                       [this] { return ToQFont(EditLineFont); },
                       [this] { return TrendPanel->TrendDate; },
                       [this](const QString& m) { QMessageBox::warning(this, "Tarvik", m); }});

    // ---- timers ----
    auto makeTimer = [this](const char* name, int ms, bool enabled) {
        auto* t = new QTimer(this);
        t->setObjectName(name);
        // The intervals are promises (activation granularity, keeper period,
        // trend minute): a coarse timer may fire up to 5 % early.
        t->setTimerType(Qt::PreciseTimer);
        t->setInterval(ms);
        if (enabled) t->start();
        return t;
    };
    PingSendTimer = makeTimer("PingSendTimer", 50, false);
    ThreadsActivation = makeTimer("ThreadsActivation", 50, false);
    DialUpTimer = makeTimer("DialUpTimer", 3000, false);
    connect(PingSendTimer, &QTimer::timeout, this, &TPingObject::PingSendTimerTimer);
    connect(ThreadsActivation, &QTimer::timeout, this, &TPingObject::ThreadsActivationTimer);
    Keeper_ = std::make_unique<TDialUpKeeper>(
        Options_.DesktopControls ? Options_.DesktopControls
                                 : [] { return MakeSystemDesktopControls(); });
    connect(DialUpTimer, &QTimer::timeout, this, &TPingObject::DialUpTimerTimer);
    connect(SetBtn, &QPushButton::clicked, this, &TPingObject::SetBtnClick);

    // ---- handlers ----
    connect(StartBtn, &QPushButton::clicked, this, [this] {
        StartBtn->setChecked(true);
        StartBtnClick();
    });
    connect(BitmapButton1, &QPushButton::clicked, this, [this] {
        BitmapButton1->setChecked(true);
        StopBtnClick();
    });
    connect(ShrinkAndGrow, &QPushButton::clicked, this, &TPingObject::ShrinkAndGrowClick);
    connect(TrendBmp, &QPushButton::clicked, this, &TPingObject::TrendBmpClick);
    connect(StayOnTop, &QPushButton::clicked, this, &TPingObject::StayOnTopClick);
    connect(AddResource, &QPushButton::clicked, this, &TPingObject::AddResourceClick);
    connect(EditCurResource, &QPushButton::clicked, this, &TPingObject::EditCurResourceClick);
    connect(DelResource, &QPushButton::clicked, this, &TPingObject::DelResourceClick);
    // QPushButton::clicked comes on mouse-up, as the close button wants.
    connect(CloseBtn, &QPushButton::clicked, this, &TPingObject::CloseBtnClick);
    connect(HelpBtn, &QPushButton::clicked, this, &TPingObject::HelpBtnClick);
    WireLiveChart();
    WireTrendPanel();

    Control_ = std::make_unique<TMeasuringControl>(ResourceTable, Sync_, *Options_.Clock,
                                                   Options_.Delays);
    Metrics_ = std::make_unique<TMetricsSource>();
    Ctx_->RepaintCells = [this](int row, int first, int last) {
        DisplayResourceTable->RepaintCells(row, first, last);
        Metrics_->CellsShown(ResourceTable, row);
    };

    // Creation steps in their order.
    Scale = TrendPanel->TrendScale = 2.0;
    Drawing = false;
    FullWidth = ClientWidth;
    FullHeight = ClientHeight;
    Shrinked = false;
    TrendEnabled = true;
    StayOnTopSetting = false;
    ExitConfirmed = false;
    StartTick = TitleTick = Options_.Clock->TickMs();
    ConnectWindowsTable.assign(2, {});
    const TWindowSettings defaults;
    MainFont = defaults.MainFont;
    GridFont = defaults.GridFont;
    GridFont.Name = NarrowFace;  // the speed texts fit the table's columns
    EditLineFont = defaults.EditLineFont;
    DisplayResourceTable->setFont(ToQFont(GridFont));
    for (int c = 0; c < 5; ++c)
        DisplayResourceTable->SetColWidth(c, DisplayResourceTable->FittingColWidth(c));
    ShowErrorBox = [this](const QString& text) {
        QMessageBox::critical(this, "Tarvik", QString(text).replace('\r', '\n'));
    };
}

// ---- first showing ----------------------------------------------------------

void TPingObject::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TPingObject::FormShow() {
    if (HintsCreated) return;  // the body runs once
    HintsCreated = true;
    Loading_ = true;
    TrendBmp->setChecked(false);
    ReadParametersFile();
    RedrawLiveChart();  // redraw once without events
    if (FirstStart)
        QMetaObject::invokeMethod(this, [this] { HandleFirstStart(); }, Qt::QueuedConnection);
    else if (StayOnTopSetting)
        QMetaObject::invokeMethod(this, [this] { ApplyStayOnTop(); }, Qt::QueuedConnection);
    TrendPanel->SetEditLineFont(ToQFont(EditLineFont));
    Keeper_->Probe();  // the preferences tell when buttons cannot be pressed here
    Loading_ = false;
    // A close asked for while a load message was open runs now.
    if (CloseDuringLoad_) QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

void TPingObject::HandleFirstStart() {
    if (FirstStart) {
        AddResourceClick();
        FirstStart = false;
    }
    if (StayOnTopSetting)
        QMetaObject::invokeMethod(this, [this] { ApplyStayOnTop(); }, Qt::QueuedConnection);
}

void TPingObject::ApplyStayOnTop() {
    StayOnTop->setChecked(true);
    StayOnTopClick();
}

void TPingObject::CreateRowThread(int row) {
    auto thread = TPingThread::Create(row, Ctx_);
    ResourceTable.SetThread(row, thread);
    thread->LoadSettings();
}

void TPingObject::UpdateRowButtons() {
    const bool any = ResourceTable.RowCount() >= 2;
    EditCurResource->setEnabled(any);
    DelResource->setEnabled(any && !StartBtn->isChecked());
}

void TPingObject::ReadParametersFile() {
    TWindowSettings s = CollectSettings();
    // Column widths the file does not store fit the grid font loaded with it.
    s.ColWidths.fill(WidthNotStored);
    TConfigLoadHooks hooks;
    hooks.RowLoaded = [this](int row) { CreateRowThread(row); };
    hooks.RowsLoaded = [this](int rows) {
        DisplayResourceTable->SetRowCount(rows);
        EditCurResource->setEnabled(rows >= 2);
        DelResource->setEnabled(rows >= 2);
    };
    hooks.PositionLoaded = [this](int left, int top) { MoveOuterTopLeft({left, top}); };
    hooks.StartMeasuring = [this] {
        StartBtn->setChecked(true);
        StartBtnClick();
    };
    hooks.ShowReadError = [this](const std::string& text) {
        if (ShowErrorBox) ShowErrorBox(QString::fromStdString(text));
    };
    const bool firstRun = IsFirstRunOnMachine(Options_.Paths);
    EnsureProgramDirs(Options_.Paths);
    const bool valid = tarvik::ReadParametersFile(Options_.Paths.ConfigFile(), firstRun,
                                                  ResourceTable, s, hooks);
    if (!valid) {
        // First start: the live chart is shown, the rest keeps its start values.
        TrendBmp->setChecked(false);
        TrendBmpClick();
        ConnectWindowsTable = s.ConnectWindowsTable;
        MainFont = s.MainFont;
        GridFont = s.GridFont;
        setFont(ToQFont(MainFont));
        FirstStart = s.FirstStart;
    } else {
        ApplySettings(s);
        // The size changes of the settings may have placed the window by its
        // client area: place it by its frame again.
        MoveOuterTopLeft({s.Left, s.Top});
    }
    setWindowTitle("Tarvik");
    Ctx_->TrendEnabled = TrendEnabled;
    TrendFile = std::make_unique<TTrendFile>(Options_.Paths.TrendDataFile(),
                                             Options_.Paths.TrendIndexFile(), *Options_.Clock);
    TrendFile->AttachQualityFile(Options_.Paths.QualityFile());
    Ctx_->TrendWriter = TrendFile.get();
    // A full history is said once, after the write that found it returns
    // (a measuring thread waits for that write).
    TrendFile->SetFullHandler([this] {
        const QString text = QString::fromStdString(
            tarvik::TrendFullText(Options_.Paths.TrendDataFile(), Options_.Paths.TrendIndexFile()));
        QMetaObject::invokeMethod(
            this,
            [text] {
                if (TMsgDialog::Instance()) TMsgDialog::Instance()->Execute("Trend history", text);
            },
            Qt::QueuedConnection);
    });
    TrendPanel->SetTrendFile(TrendFile.get());
    TrendPanel->SetMessageDialog(TMsgDialog::Instance());
    TrendPanel->TrendLegendPaint();
    DrawTrend();
    Metrics_->Publish(ResourceTable);
    StartMetricsServer();
    DisplayResourceTable->setFont(ToQFont(GridFont));
    for (int c = 0; c < 5; ++c)
        if (s.ColWidths[c] == WidthNotStored)
            DisplayResourceTable->SetColWidth(c, DisplayResourceTable->FittingColWidth(c));
}

void TPingObject::ApplySettings(const TWindowSettings& s) {
    TrendBmp->setChecked(s.Trend);
    HGrdBtn->setChecked(s.HGrdBtn);
    VGrdBtn->setChecked(s.VGrdBtn);
    TrendPanel->HTrendGrdBtn->setChecked(s.HTrendGrdBtn);
    TrendPanel->VTrendGrdBtn->setChecked(s.VTrendGrdBtn);
    // The click flips the state back and lays the window out for it.
    Shrinked = !s.Shrinked;
    ShrinkAndGrowClick();
    StayOnTopSetting = s.StayOnTopSetting;
    for (int c = 0; c < 5; ++c)
        if (s.ColWidths[c] != WidthNotStored) DisplayResourceTable->SetColWidth(c, s.ColWidths[c]);
    Scale = s.Scale;
    TrendPanel->TrendScale = s.TrendScale;
    DialUpEnabled = s.DialUpEnabled;
    DialUpInterval = s.DialUpInterval;
    ApplyDialUpTimer();
    ConnectWindowsTable = s.ConnectWindowsTable;
    MainFont = s.MainFont;
    GridFont = s.GridFont;
    EditLineFont = s.EditLineFont;
    setFont(ToQFont(MainFont));
    TrendEnabled = s.TrendEnabled;
    UserKnownCDFileSize = s.UserKnownCDFileSize;
    FirstStart = s.FirstStart;
}

TWindowSettings TPingObject::CollectSettings() const {
    TWindowSettings s;
    const QPoint outer = OuterTopLeft();
    s.Left = outer.x();
    s.Top = outer.y();
    s.PingObjects = StartBtn->isChecked();
    s.Trend = TrendBmp->isChecked();
    s.HGrdBtn = HGrdBtn->isChecked();
    s.VGrdBtn = VGrdBtn->isChecked();
    s.HTrendGrdBtn = TrendPanel->HTrendGrdBtn->isChecked();
    s.VTrendGrdBtn = TrendPanel->VTrendGrdBtn->isChecked();
    s.Shrinked = Shrinked;
    s.StayOnTopSetting = StayOnTopSetting;
    s.StayOnTopDown = StayOnTop->isChecked();
    for (int c = 0; c < 5; ++c) s.ColWidths[c] = DisplayResourceTable->ColWidth(c);
    s.Scale = Scale;
    s.TrendScale = TrendPanel->TrendScale;
    s.DialUpEnabled = DialUpEnabled;
    s.DialUpInterval = DialUpInterval;
    s.ConnectWindowsTable = ConnectWindowsTable;
    s.MainFont = MainFont;
    s.GridFont = GridFont;
    s.EditLineFont = EditLineFont;
    s.TrendEnabled = TrendEnabled;
    s.UserKnownCDFileSize = UserKnownCDFileSize;
    s.FirstStart = FirstStart;
    return s;
}

void TPingObject::WriteParametersFile() {
    EnsureProgramDirs(Options_.Paths);
    const auto error =
        tarvik::WriteParametersFile(Options_.Paths.ConfigFile(), ResourceTable, CollectSettings());
    if (error && TMsgDialog::Instance())
        TMsgDialog::Instance()->Execute("Error", QString::fromStdString(*error));
}

// ---- Start and Stop -----------------------------------------------------------

void TPingObject::StartBtnClick() {
    PingSendTimer->start();
    Control_->Start();
    DelResource->setEnabled(false);
    ThreadsActivation->start();
}

void TPingObject::StopBtnClick() {
    PingSendTimer->stop();
    ThreadsActivation->stop();
    Control_->Stop();
    DelResource->setEnabled(ResourceTable.RowCount() >= 2);
}

void TPingObject::ThreadsActivationTimer() { Control_->Activate(); }

void TPingObject::ApplyDialUpTimer() {
    // An interval of 0 or less keeps the keeper idle: a Qt timer of interval
    // 0 would fire on every pass of the event loop.
    const bool run = DialUpEnabled && DialUpInterval > 0;
    if (run) {
        DialUpTimer->setInterval(DialUpInterval);
        DialUpTimer->start();
    } else {
        DialUpTimer->stop();
    }
    // Other programs publish their controls only while accessibility is on.
    Keeper_->SetActive(run);
}

void TPingObject::DialUpTimerTimer() {
    // The worker reads a copy; a pass still running makes this tick a no-op.
    Keeper_->RequestPass(ConnectWindowsTable);
}

void TPingObject::SetParameters(TParameters* parameters) {
    Parameters_ = parameters;
    if (!parameters) return;
    // While the dialog is open the keeper is off; Cancel puts it back.
    parameters->SwitchKeeper = [this](bool on) {
        if (on && DialUpInterval > 0) {
            DialUpTimer->setInterval(DialUpInterval);
            DialUpTimer->start();
        } else {
            DialUpTimer->stop();
        }
    };
    parameters->Apply = [this](const TPreferences& p) { ApplyPreferences(p); };
    parameters->KeeperProblem = [this] { return Keeper_->Problem(); };
}

void TPingObject::SetBtnClick() {
    if (!Parameters_) return;
    Keeper_->Probe();  // the keeper page tells at once when the desktop changed
    LiftStayOnTop();
    Parameters_->Execute(CurrentPreferences());
    RestoreStayOnTop();
}

TPreferences TPingObject::CurrentPreferences() const {
    TPreferences p;
    p.KeeperEnabled = DialUpEnabled;
    p.KeeperIntervalMs = DialUpInterval;
    p.ConnectWindowsTable = ConnectWindowsTable;
    p.MainFont = MainFont;
    p.GridFont = GridFont;
    p.EditLineFont = EditLineFont;
    p.TrendEnabled = TrendEnabled;
    p.KeeperProblem = Keeper_->Problem();
    return p;
}

void TPingObject::ApplyPreferences(const TPreferences& p) {
    // Fonts first, shown at once: the window (and the dialogs that take its
    // font when shown), the table and the trend date panel.
    GridFont = p.GridFont;
    EditLineFont = p.EditLineFont;
    MainFont = p.MainFont;
    setFont(ToQFont(MainFont));
    TrendPanel->SetEditLineFont(ToQFont(EditLineFont));
    DisplayResourceTable->setFont(ToQFont(GridFont));
    ConnectWindowsTable = p.ConnectWindowsTable;
    DialUpEnabled = p.KeeperEnabled;
    DialUpInterval = p.KeeperIntervalMs;
    ApplyDialUpTimer();
    TrendEnabled = p.TrendEnabled;
    Ctx_->TrendEnabled = TrendEnabled;
}

// ---- live chart and sampling cycle ----------------------------------------------

void TPingObject::WireLiveChart() {
    Sampling_ = std::make_unique<TSamplingCycle>(ResourceTable, *Display, *Options_.Clock);
    Sampling_->SetLevelIcon = [this](int level) { SetLevelIcon(level); };
    Sampling_->RefreshTitle = [this] { RefreshApplicationTitle(); };
    // The actions run off the window thread and report back through its
    // event loop; queued work dies with the window.
    SpeedEventActions = std::make_unique<TSystemSpeedEventActions>(
        [this](const std::string& file) {
            if (Player_) Player_->PlayFile(QString::fromStdString(file));
        },
        [this](std::function<void()> work) {
            QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
        });
    Display->ValueAt = [this](int x, int y) -> std::optional<QString> {
        if (const auto text = Sampling_->ValueAt(x, y, Scale)) return QString::fromStdString(*text);
        return std::nullopt;
    };
    Display->LegendPaint(Scale);
    connect(ScaleUP, &QPushButton::clicked, this, &TPingObject::ScaleUPClick);
    connect(ScaleDown, &QPushButton::clicked, this, &TPingObject::ScaleDownClick);
    connect(HGrdBtn, &QPushButton::clicked, this, &TPingObject::HGrdBtnClick);
    connect(VGrdBtn, &QPushButton::clicked, this, &TPingObject::VGrdBtnClick);
    // The title follows the marked row at once.
    connect(DisplayResourceTable, &TDisplayResourceTable::SelectionMoved, this,
            &TPingObject::RefreshApplicationTitle);
    connect(DisplayResourceTable, &TDisplayResourceTable::MarkerDrawn, this,
            &TPingObject::RefreshApplicationTitle);
}

void TPingObject::SetPlayer(TPlayer* player) { Player_ = player; }

void TPingObject::PingSendTimerTimer() { RedrawLiveChart(true); }

void TPingObject::RedrawLiveChart(bool eventMode) {
    TSamplingPass pass;
    pass.EventMode = eventMode;
    pass.Scale = Scale;
    pass.HGrid = HGrdBtn->isChecked();
    pass.VGrid = VGrdBtn->isChecked();
    pass.SelectedRow = DisplayResourceTable->SelectedRow();
    // The legend shows the scale in force, also after the configuration set it.
    if (Display->LegendScale() != Scale) Display->LegendPaint(Scale);
    Sampling_->Run(pass, Drawing, TitleTick, SpeedEventActions.get());
}

void TPingObject::ScaleUPClick() {
    Scale = ScaleStepUp(Scale);
    Display->LegendPaint(Scale);
    RedrawLiveChart();
}

void TPingObject::ScaleDownClick() {
    Scale = ScaleStepDown(Scale);
    Display->LegendPaint(Scale);
    RedrawLiveChart();
}

void TPingObject::HGrdBtnClick() { RedrawLiveChart(); }

void TPingObject::VGrdBtnClick() { RedrawLiveChart(); }

void TPingObject::RefreshApplicationTitle() {
    if (!DisplayResourceTable) return;
    setWindowTitle(QString::fromStdString(
        ApplicationTitle(ResourceTable, DisplayResourceTable->SelectedRow())));
}

void TPingObject::SetLevelIcon(int level) { setWindowIcon(LevelIcon(level)); }

// ---- size and layering ------------------------------------------------------------

// The stored position is the window's outer top-left corner, frame included.
// A window manager that frames the window learns that from the position
// policy of QWindow::setFramePosition (north-west gravity); QWidget::move
// before the frame is known would place the client area there instead.
void TPingObject::MoveOuterTopLeft(const QPoint& outer) {
    move(outer);
    if (QWindow* window = windowHandle()) window->setFramePosition(outer);
}

QPoint TPingObject::OuterTopLeft() const {
    if (const QWindow* window = windowHandle()) return window->framePosition();
    return pos();
}

void TPingObject::ShrinkAndGrowClick() {
    if (!Shrinked) {
        // Only the live chart and the buttons beside it stay in view.
        setFixedSize(ShrinkAndGrow->x() + ShrinkAndGrow->width() + 2,
                     ShrinkAndGrow->y() + ShrinkAndGrow->height() + 2);
        ShrinkAndGrow->setIcon(ButtonIcon("grow"));
        Shrinked = true;
    } else {
        TrendBmpClick();  // grows back as the trend button has it
    }
}

void TPingObject::TrendBmpClick() {
    // The trend button always sets the full layout; a shrunk window grows
    // with it, so the shrink button and its state stay in step.
    if (Shrinked) {
        Shrinked = false;
        ShrinkAndGrow->setIcon(ButtonIcon("shrink"));
    }
    if (TrendBmp->isChecked())
        setFixedSize(FullWidth, FullHeight);
    else
        setFixedSize(FullWidth, ButtonPanel->y() + ButtonPanel->height());
}

void TPingObject::SetTopmost(bool on) {
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (flags == windowFlags()) return;
    // Changing the flags through the widget would re-create the window (it
    // hides, flickers and may move); the window system is told directly.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlag(Qt::WindowStaysOnTopHint, on);
}

void TPingObject::StayOnTopClick() {
    SetTopmost(StayOnTop->isChecked());
    StayOnTop->setIcon(ButtonIcon(StayOnTop->isChecked() ? "ontopdown" : "ontopup"));
}

void TPingObject::LiftStayOnTop() {
    if (StayOnTop->isChecked()) SetTopmost(false);
}

void TPingObject::RestoreStayOnTop() {
    if (StayOnTop->isChecked()) {
        SetTopmost(true);
        StayOnTop->setIcon(ButtonIcon("ontopdown"));
    }
}

// ---- resource list editing ---------------------------------------------------------

TWizardEnvironment TPingObject::MakeWizardEnvironment(bool editMode) {
    TWizardEnvironment env;
    env.Table = &ResourceTable;
    env.CurrentRow = editMode ? DisplayResourceTable->SelectedRow() : 0;
    env.FirstStart = FirstStart;
    env.IcmpAvailable = Options_.IcmpAvailable;
    env.ProcessListAvailable = Options_.ProcessListAvailable;
    env.UserKnownCDFileSize = &UserKnownCDFileSize;
    env.ConnectWindowsTable = &ConnectWindowsTable;
    env.KeeperOn = DialUpTimer->isActive();
    env.KeeperIntervalMs = DialUpTimer->interval();
    env.SetKeeper = [this](bool on, int intervalMs) {
        DialUpTimer->setInterval(intervalMs);
        // A period of 0 keeps the keeper from running while it is on.
        if (on && intervalMs > 0)
            DialUpTimer->start();
        else
            DialUpTimer->stop();
    };
    env.MainFont = MainFont;
    env.GridFont = GridFont;
    env.EditLineFont = EditLineFont;
    env.HomeDir = Options_.HomeDir.empty() ? QDir::homePath().toStdString() : Options_.HomeDir;
    env.Exec = Options_.Dialogs.Exec;
    if (!EventTestActions_) EventTestActions_ = MakeEventTestActions(Player_);
    env.TestActions = EventTestActions_.get();
    return env;
}

void TPingObject::AddResourceClick() {
    TStayOnTopGuard onTop(*this);
    if (OnAddResource) {
        OnAddResource();
        return;
    }
    auto wizard = Options_.Dialogs.MakeEditResource(this, MakeWizardEnvironment(false));
    if (Options_.Dialogs.Exec(*wizard) == mrOk) {
        const int row = ResourceTable.AddRow();
        DisplayResourceTable->SetRowCount(ResourceTable.RowCount());
        UpdateRowButtons();
        WriteResourceRow(ResourceTable, row, wizard->Values(), true);
        CreateRowThread(row);
        if (StartBtn->isChecked()) ResourceTable.Thread(row)->Resume();
        DisplayResourceTable->viewport()->update();
    }
    wizard.reset();
    ResourceRowsChanged();
}

void TPingObject::EditCurResourceClick() {
    const int row = DisplayResourceTable->SelectedRow();
    if (row < 1 || row >= ResourceTable.RowCount()) return;
    TStayOnTopGuard onTop(*this);
    auto wizard = Options_.Dialogs.MakeEditResource(this, MakeWizardEnvironment(true));
    wizard->EditMode = true;
    if (Options_.Dialogs.Exec(*wizard) == mrOk) {
        // The shown speeds stay until the thread next updates them.
        WriteResourceRow(ResourceTable, row, wizard->Values(), false);
        if (const auto& thread = ResourceTable.Thread(row)) {
            thread->LoadSettings();
            if (StartBtn->isChecked()) thread->Resume();
        }
        DisplayResourceTable->viewport()->update();
    }
    wizard.reset();
    ResourceRowsChanged();
}

void TPingObject::DelResourceClick() {
    ThreadsActivation->stop();
    const bool measuring = StartBtn->isChecked();
    if (ResourceTable.RowCount() >= 2) {
        const int row = DisplayResourceTable->SelectedRow();
        if (row >= 1 && row < ResourceTable.RowCount()) {
            // Stop it, wait, suspend every thread, wait, destroy it.
            Control_->DestroyRow(row);
            ShiftRowsUp(ResourceTable, row);
            DisplayResourceTable->SetRowCount(ResourceTable.RowCount());
            UpdateRowButtons();
            if (measuring)
                for (int r = 1; r < ResourceTable.RowCount(); ++r)
                    if (const auto& t = ResourceTable.Thread(r)) t->Resume();
            DisplayResourceTable->viewport()->update();
            RedrawLiveChart();
        }
    }
    ResourceRowsChanged();
    if (measuring) ThreadsActivation->start();
}

// ---- help -------------------------------------------------------------------------

void TPingObject::HelpBtnClick() { HelpPopup->popup(QCursor::pos()); }

void TPingObject::ShowAbout() {
    LiftStayOnTop();
    QMessageBox about(QMessageBox::NoIcon, "About Tarvik",
                      "<b>Tarvik</b><br>Measures the data transfer speed of network resources "
                      "and keeps a day-by-day history of it.",
                      QMessageBox::Ok, this);
    about.setObjectName("AboutBox");
    about.setIconPixmap(ApplicationIcon().pixmap(48, 48));
    // A dialog window does not inherit its parent's font by itself.
    about.setFont(font());
    about.exec();
    RestoreStayOnTop();
}

void TPingObject::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        OpenHelpContents();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TPingObject::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (mouse->button() == Qt::RightButton && widget && widget != DisplayResourceTable) {
            const int context = widget->property("helpContext").toInt();
            if (context > 0) {
                ShowContextHelp(widget, context, mouse->globalPosition().toPoint());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- closing -------------------------------------------------------------------------

void TPingObject::CloseBtnClick() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

bool TPingObject::FormCloseQuery() {
    StopBtnClick();
    if (!ExitConfirmed && Options_.Clock->TickMs() - StartTick <= 5000) {
        LiftStayOnTop();
        if (!ProgExit) ProgExit = new TProgExit(this, ExitConfirmed);
        ProgExit->show();
        return false;
    }
    return true;
}

void TPingObject::closeEvent(QCloseEvent* event) {
    if (Closed_) {
        event->accept();
        return;
    }
    // One close at a time: a signal can arrive while a message of the load
    // or of the save is open.
    if (Loading_ || Closing_) {
        CloseDuringLoad_ = CloseDuringLoad_ || Loading_;
        event->ignore();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    emit Closed();
}

void TPingObject::FormClose() {
    Closing_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A window closed before its first showing never loaded the
    // configuration: its defaults must not be written over the user's file.
    // (A file that cannot be read is never replaced by the save itself.)
    try {
        if (HintsCreated) WriteParametersFile();
    } catch (...) {
        // the threads are ended all the same
    }
    // The metrics server's threads stop before the measuring threads end.
    MetricsServer_.reset();
    Metrics_->Clear();
    Control_->Close();
    Ctx_->TrendWriter = nullptr;
    TrendPanel->SetTrendFile(nullptr);
    TrendFile.reset();
    if (ProgExit) {
        ProgExit->close();
        delete ProgExit;
        ProgExit = nullptr;
    }
    Closed_ = true;
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

// ---- trend area ---------------------------------------------------------------------

void TPingObject::WireTrendPanel() {
    TrendPanel->IsMeasuring = [this] { return PingSendTimer->isActive(); };
    TrendPanel->RefreshTitle = [this] { RefreshApplicationTitle(); };
    TrendPanel->LiftStayOnTop = [this] { LiftStayOnTop(); };
    TrendPanel->RestoreStayOnTop = [this] { RestoreStayOnTop(); };
    // The hide timer also hides the live chart's hint once the cursor has left it.
    TrendPanel->HideOtherHints = [this] {
        if (!Display->display2->rect().contains(Display->display2->mapFromGlobal(QCursor::pos())))
            Display->HideValueHint();
    };
}

void TPingObject::DrawTrend() { TrendPanel->DrawTrend(); }

void TPingObject::ResourceRowsChanged() {
    DrawTrend();
    Metrics_->Publish(ResourceTable);
}

// ---- metrics ------------------------------------------------------------------------

void TPingObject::StartMetricsServer() {
    TIniFile ini;
    if (ini.Load(Options_.Paths.ConfigFile()) != TIniFile::TLoadStatus::Loaded) return;
    const std::string listen = ini.ReadString("Metrics", "Listen", "");
    if (listen.empty()) return;
    QString problem;
    std::string error;
    if (const auto address = ParseListenAddress(listen)) {
        MetricsServer_ = std::make_unique<TMetricsServer>();
        TMetricsSource* source = Metrics_.get();
        if (!MetricsServer_->Start(*address, [source] { return FormatMetrics(source->Rows(), TARVIK_VERSION); },
                                   &error)) {
            MetricsServer_.reset();
            problem = QString::fromStdString(error);
        }
    } else {
        problem = QString::fromStdString("not an address to listen on: " + listen);
    }
    if (problem.isEmpty()) return;
    // Said once the window is up, like the other start-up messages.
    QMetaObject::invokeMethod(
        this,
        [problem] {
            if (TMsgDialog::Instance())
                TMsgDialog::Instance()->Execute("Error", "Unable to serve the metrics ([Metrics] Listen): " + problem);
        },
        Qt::QueuedConnection);
}

}  // namespace tarvik
