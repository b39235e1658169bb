#include "trend/qt/trend_panel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolTip>

#include "engine/resource_table.h"
#include "platform/clock.h"
#include "platform/date_time.h"
#include "trend/qt/trend_time_period.h"
#include "trend/trend_file.h"
#include "ui/colors_qt.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

constexpr int kChartWidth = 267;
constexpr int kChartHeight = 87;

QColor SeriesFallback(TQuantity q) {
    return q == TQuantity::Write ? QColor(0xFF, 0xFF, 0x00) : QColor(0x00, 0xFF, 0x00);
}

// Clears a flag when the scope ends, also when a step throws.
struct TFlagGuard {
    bool& Flag;
    ~TFlagGuard() { Flag = false; }
};

}  // namespace


QPushButton* TTrendPanel::MakeButton(const char* name, const QString& glyph, const QString& hint,
                                     int helpContext, const QRect& geometry, bool checkable) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setIcon(ButtonIcon(glyph));
    b->setToolTip(hint);
    b->setWhatsThis(hint);
    b->setGeometry(geometry);
    b->setCheckable(checkable);
    b->setFocusPolicy(Qt::TabFocus);
    if (helpContext > 0) b->setProperty("helpContext", helpContext);
    b->installEventFilter(this);  // right-button context help
    return b;
}

TTrendPanel::TTrendPanel(TResourceTable& table, const IClock& clock, QWidget* parent)
    : QWidget(parent),
      Table_(table),
      Clock_(clock),
      Canvas_(kChartWidth, kChartHeight, QImage::Format_RGB32) {
    setObjectName("TrendPanel");
    setFixedSize(408, 128);

    TrendDisplay = new QFrame(this);
    TrendDisplay->setObjectName("TrendDisplay");
    TrendDisplay->setGeometry(4, 2, 307, 91);
    TrendDisplay->setAutoFillBackground(true);
    QPalette tp = TrendDisplay->palette();
    tp.setColor(QPalette::Window, PanelColor_);
    TrendDisplay->setPalette(tp);
    // The hour labels must fit the 11-pixel strip below the axis and the
    // three hours between two of them: a small plain face of their own.
    QFont hourFont("Sans Serif");
    hourFont.setPixelSize(9);
    TrendDisplay->setFont(hourFont);
    TrendLegend = new TChartImage(TrendDisplay);
    TrendLegend->setObjectName("TrendLegend");
    TrendLegend->setGeometry(2, 2, 33, kChartHeight);
    TrendLegend->setProperty("helpContext", 193);
    TrendLegend->installEventFilter(this);
    TrendDisplay2 = new TChartImage(TrendDisplay);
    TrendDisplay2->setObjectName("TrendDisplay2");
    TrendDisplay2->setGeometry(38, 2, kChartWidth, kChartHeight);
    TrendDisplay2->setProperty("helpContext", 194);
    TrendDisplay2->setMouseTracking(true);
    TrendDisplay2->installEventFilter(this);
    // A narrow serif face first: "10000.0" must fit the 33-pixel box.
    LegendFont.setFamilies(
        {"Times New Roman", "Times", "Nimbus Roman", "Liberation Serif", "Serif"});
    LegendFont.setStyleHint(QFont::Serif);
    LegendFont.setPixelSize(9);

    const QString scaleHint = "Changes the scale on the vertical axis";
    TrendScaleUp = MakeButton("TrendScaleUp", "scaleup", scaleHint, 195, {315, 12, 22, 22});
    TrendScaleDown = MakeButton("TrendScaleDown", "scaledown", scaleHint, 195, {315, 38, 22, 22});
    HTrendGrdBtn = MakeButton("HTrendGrdBtn", "hgrid", "Displays horisontal grid lines", 196,
                              {342, 12, 30, 26}, true);
    VTrendGrdBtn = MakeButton("VTrendGrdBtn", "vgrid", "Displays vertical grid lines", 196,
                              {375, 12, 30, 26}, true);
    HTrendGrdBtn->setChecked(true);
    VTrendGrdBtn->setChecked(true);
    PrintTrend = MakeButton("PrintTrend", "print", "Prints the trend report", 0, {342, 56, 30, 26});
    CopyTrendBtn =
        MakeButton("CopyTrendBtn", "copy", "Copies trend of current day", 0, {375, 56, 30, 26});
    // The caption does not fit the glyph button; its mnemonic still works.
    CopyTrendBtn->setAccessibleName("Copy trend");
    CopyTrendBtn->setShortcut(QKeySequence("Alt+Y"));
    TrendPrevDate = MakeButton("TrendPrevDate", "prev", "Previous day", 0, {4, 98, 26, 24});
    TrendNextDate = MakeButton("TrendNextDate", "next", "Next day", 0, {285, 98, 26, 24});
    TrendNextDate->setEnabled(false);
    TrendDatePanel = new QLabel(this);
    TrendDatePanel->setObjectName("TrendDatePanel");
    TrendDatePanel->setGeometry(34, 98, 247, 24);
    TrendDatePanel->setAlignment(Qt::AlignCenter);
    TrendDatePanel->setFrameShape(QFrame::Panel);
    TrendDatePanel->setFrameShadow(QFrame::Sunken);
    TrendDatePanel->setToolTip("Trend date");
    TrendDatePanel->setProperty("helpContext", 159);
    TrendDatePanel->installEventFilter(this);

    CopyBarPopupMenu = new QMenu(this);
    CopyBarPopupMenu->setObjectName("CopyBarPopupMenu");
    CopyToClipbrdMenu = new QAction("&Copy to Clipboard", this);
    CopyToClipbrdMenu->setObjectName("CopyToClipbrdMenu");
    CopyToClipbrdMenu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    CopyToFile = new QAction("Copy to &File", this);
    CopyToFile->setObjectName("CopyToFile");
    CopyToFile->setShortcut(QKeySequence(Qt::Key_F2));
    for (QAction* a : {CopyToClipbrdMenu, CopyToFile}) {
        a->setShortcutContext(Qt::WindowShortcut);
        CopyBarPopupMenu->addAction(a);
        addAction(a);  // the shortcuts work without opening the menu
    }

    TrendTimer = new QTimer(this);
    TrendTimer->setObjectName("TrendTimer");
    TrendTimer->setInterval(60000);
    TrendTimer->start();
    HideValueWindow = new QTimer(this);
    HideValueWindow->setObjectName("HideValueWindow");
    HideValueWindow->setInterval(1000);
    HideValueWindow->start();

    TrendHint = MakeValueHint(this, "TrendHint");

    connect(TrendScaleUp, &QPushButton::clicked, this, &TTrendPanel::TrendScaleUpClick);
    connect(TrendScaleDown, &QPushButton::clicked, this, &TTrendPanel::TrendScaleDownClick);
    connect(HTrendGrdBtn, &QPushButton::clicked, this, &TTrendPanel::HTrendGrdBtnClick);
    connect(VTrendGrdBtn, &QPushButton::clicked, this, &TTrendPanel::VTrendGrdBtnClick);
    connect(TrendPrevDate, &QPushButton::clicked, this, &TTrendPanel::TrendPrevDateClick);
    connect(TrendNextDate, &QPushButton::clicked, this, &TTrendPanel::TrendNextDateClick);
    connect(CopyTrendBtn, &QPushButton::clicked, this, &TTrendPanel::CopyTrendBtnClick);
    connect(CopyToClipbrdMenu, &QAction::triggered, this, &TTrendPanel::CopyToClipbrdMenuClick);
    connect(CopyToFile, &QAction::triggered, this, &TTrendPanel::CopyToFileClick);
    connect(TrendTimer, &QTimer::timeout, this, &TTrendPanel::TrendTimerTimer);
    connect(HideValueWindow, &QTimer::timeout, this, &TTrendPanel::HideValueWindowTimer);

    ChoosePeriod = [this](TTrendPeriod& p, int& a, int& b) { return DefaultChoosePeriod(p, a, b); };
    ChooseExportFile = [this] { return DefaultChooseExportFile(); };

    TrendDate = Now();
    Canvas_.fill(PanelColor_);
    TrendDatePanel->setText(QString::fromStdString(TrendDateCaption(TrendDate)));
    TrendLegendPaint();
}

TTrendPanel::~TTrendPanel() = default;

double TTrendPanel::Now() const { return EncodeDateTime(Clock_.LocalNow()); }

void TTrendPanel::SetEditLineFont(const QFont& font) {
    EditLineFont_ = font;
    TrendDatePanel->setFont(font);
}

// ---- drawing ----------------------------------------------------------------

void TTrendPanel::DrawTrend() {
    if (TrendDrawing) return;
    TrendDrawing = true;
    {
        const TFlagGuard guard{TrendDrawing};
        const std::vector<TTrendRow> rows = TrendRowsOf(Table_);
        LoadTrendDay(File_, rows, TrendDate);
        PaintPicture(TrendPicture(rows, kChartWidth, kChartHeight, TrendScale,
                                  HTrendGrdBtn->isChecked(), VTrendGrdBtn->isChecked()));
    }
    TrendDatePanel->setText(QString::fromStdString(TrendDateCaption(TrendDate)));
    if (RefreshTitle) RefreshTitle();
}

void TTrendPanel::PaintPicture(const TTrendPicture& pic) {
    QPainter p(&Canvas_);
    p.fillRect(0, 0, pic.Width, pic.Height, PanelColor_);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(0, pic.Base, pic.Width, pic.Base);
    for (const int x : pic.TickX) p.drawLine(x, pic.Base, x, pic.Base + 4);
    p.setFont(TrendDisplay->font());
    const QFontMetrics fm(p.font());
    const int stripTop = pic.Base + 4;
    for (const THourLabel& label : pic.HourLabels) {
        const QString text = QString::fromStdString(label.Text);
        const int w = fm.horizontalAdvance(text);
        p.drawText(QRect(label.CenterX - w / 2 - 1, stripTop, w + 2, pic.Height - stripTop),
                   Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
    }
    QPoint points[96];
    for (const TTrendPolyline& line : pic.Series) {
        for (std::size_t i = 0; i < line.Points.size(); ++i)
            points[i] = QPoint(line.Points[i].X, line.Points[i].Y);
        p.setPen(QPen(ToQColor(line.ColorText, SeriesFallback(line.Quantity)), 1, Qt::SolidLine));
        p.drawPolyline(points, 96);
    }
    p.setPen(QPen(Qt::black, 1));
    for (const int y : pic.HGridY) p.drawLine(0, y, pic.Width, y);
    for (const int x : pic.VGridX) p.drawLine(x, 0, x, pic.Base);
    p.end();
    TrendDisplay2->SetImage(Canvas_);
}

void TTrendPanel::TrendLegendPaint() {
    const QSize size = TrendLegend->size();
    QImage image(size, QImage::Format_RGB32);
    image.fill(PanelColor_);
    QPainter p(&image);
    p.setFont(LegendFont);
    p.setPen(Qt::black);
    const QFontMetrics fm(LegendFont);
    const auto rightAligned = [&](const QString& text, int top) {
        p.drawText(size.width() - fm.horizontalAdvance(text), top + fm.ascent(), text);
    };
    for (const TLegendLabel& label : LegendLabels(TrendScale, TrendBaseOf(kChartHeight)))
        rightAligned(QString::fromStdString(label.Text), label.CenterY - fm.height() / 2);
    rightAligned(LegendUnit, 0);
    p.end();
    TrendLegend->SetImage(image);
}

void TTrendPanel::TrendScaleUpClick() {
    TrendScale = ScaleStepUp(TrendScale);
    TrendLegendPaint();
    DrawTrend();
}

void TTrendPanel::TrendScaleDownClick() {
    TrendScale = ScaleStepDown(TrendScale);
    TrendLegendPaint();
    DrawTrend();
}

// ---- days and the timer ----------------------------------------------------

void TTrendPanel::TrendPrevDateClick() {
    TrendDate -= 1;
    DrawTrend();
    if (TrendNextDayEnabled(Now(), TrendDate)) TrendNextDate->setEnabled(true);
}

void TTrendPanel::TrendNextDateClick() {
    TrendDate += 1;
    DrawTrend();
    if (!TrendNextDayEnabled(Now(), TrendDate)) TrendNextDate->setEnabled(false);
}

void TTrendPanel::TrendTimerTimer() {
    // The day may have changed since it was shown; the chart stays on it.
    if (TrendNextDayEnabled(Now(), TrendDate)) TrendNextDate->setEnabled(true);
    if (IsMeasuring && IsMeasuring()) DrawTrend();
}

// ---- value tooltip ------------------------------------------------------------

void TTrendPanel::TrendDisplay2MouseMove(const QPoint& pos, const QPoint& globalPos) {
    const std::optional<std::string> text =
        TrendTooltip(TrendRowsOf(Table_), pos.x(), pos.y(), kChartWidth, kChartHeight, TrendScale);
    if (!text) {
        TrendHint->hide();
        return;
    }
    const QString shown = QString::fromStdString(*text);
    const QFontMetrics fm(TrendHint->font());
    const QScreen* screen = QGuiApplication::screenAt(globalPos);
    if (!screen) screen = this->screen();
    const QRect s = screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
    // A host's quality adds a second line: the widest line and all lines' height.
    int textWidth = 0;
    const QStringList lines = shown.split('\n');
    for (const QString& line : lines) textWidth = std::max(textWidth, fm.horizontalAdvance(line));
    const THintRect r = HintPlacement(globalPos.x(), globalPos.y(), textWidth,
                                      fm.height() * static_cast<int>(lines.size()), s.x(), s.y(), s.width(),
                                      s.height());
    TrendHint->setText(shown);
    TrendHint->setGeometry(r.Left, r.Top, r.Width, r.Height);
    TrendHint->show();
}

void TTrendPanel::HideValueWindowTimer() {
    const QPoint at = TrendDisplay2->mapFromGlobal(QCursor::pos());
    if (!TrendDisplay2->rect().contains(at)) TrendHint->hide();
    if (HideOtherHints) HideOtherHints();
}

bool TTrendPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TrendDisplay2) {
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            TrendDisplay2MouseMove(mouse->position().toPoint(), mouse->globalPosition().toPoint());
        } else if (event->type() == QEvent::Leave || event->type() == QEvent::Hide) {
            TrendHint->hide();
        }
    }
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        const int context = widget ? widget->property("helpContext").toInt() : 0;
        if (mouse->button() == Qt::RightButton && context > 0) {
            ShowContextHelp(widget, context, mouse->globalPosition().toPoint());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- copy and export ----------------------------------------------------------

void TTrendPanel::CopyTrendBtnClick() { CopyBarPopupMenu->popup(QCursor::pos()); }

TExportTable TTrendPanel::BuildExportTable(int fromSlot, int tillSlot) {
    return tarvik::BuildExportTable(TrendDatePanel->text().toStdString(), TrendRowsOf(Table_),
                                    fromSlot, tillSlot);
}

void TTrendPanel::CopyTableToClipboard(const TExportTable& table) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(ExportText(table)));
}

bool TTrendPanel::CopyTableToFile(const TExportTable& table, const QString& path) {
    if (tarvik::CopyTableToFile(table, QFile::encodeName(path).toStdString())) return true;
    ReportWriteError(path);
    return false;
}

void TTrendPanel::ReportWriteError(const QString& path) {
    // The user must not believe that the export worked.
    if (Messages_) Messages_->Execute("Error", "Unable to write to " + path);
}

void TTrendPanel::CopyToClipbrdMenuClick() {
    if (LiftStayOnTop) LiftStayOnTop();
    TTrendPeriod period = Period;
    int a = 0, b = 0;
    if (ChoosePeriod(period, a, b)) {
        const TExportTable table = BuildExportTable(a, b);
        Period = period;
        CopyTableToClipboard(table);
    }
    if (RestoreStayOnTop) RestoreStayOnTop();
}

void TTrendPanel::CopyToFileClick() {
    if (LiftStayOnTop) LiftStayOnTop();
    if (const std::optional<QString> path = ChooseExportFile()) {
        TTrendPeriod period = Period;
        int a = 0, b = 0;
        if (ChoosePeriod(period, a, b)) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const TExportTable table = BuildExportTable(a, b);
            Period = period;
            const bool written =
                tarvik::CopyTableToFile(table, QFile::encodeName(*path).toStdString());
            QApplication::restoreOverrideCursor();
            if (!written) ReportWriteError(*path);
        }
    }
    if (RestoreStayOnTop) RestoreStayOnTop();
}

bool TTrendPanel::DefaultChoosePeriod(TTrendPeriod& period, int& fromSlot, int& tillSlot) {
    TTrendTimePeriod dialog(window());
    dialog.setFont(window()->font());
    dialog.SetEditorFont(EditLineFont_);
    dialog.SetTexts(period);
    if (dialog.exec() != 1) return false;
    period = dialog.Texts();
    fromSlot = dialog.FromSlot;
    tillSlot = dialog.TillSlot;
    return true;
}

std::optional<QString> TTrendPanel::DefaultChooseExportFile() {
    QFileDialog dialog(window(), "Save As");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({"CSV files (*.CSV *.csv)", "All files (*)"});
    dialog.setDefaultSuffix("csv");
    dialog.setDirectory(ExportDir_.isEmpty() ? QDir::homePath() : ExportDir_);
    dialog.selectFile("trend.csv");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().first();
    ExportDir_ = QFileInfo(path).absolutePath();
    return path;
}

}  // namespace tarvik
