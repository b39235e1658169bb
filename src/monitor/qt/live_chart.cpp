#include "monitor/qt/live_chart.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

#include "monitor/chart_geometry.h"

namespace tarvik {


// ---- one redraw ---------------------------------------------------------------

TChartPainter::TChartPainter(TLiveChart& chart)
    : Chart_(chart), Painter_(std::make_unique<QPainter>(&chart.Canvas_)) {
    Painter_->fillRect(chart.Canvas_.rect(), chart.PanelColor_);
}

TChartPainter::~TChartPainter() {
    Painter_->end();
    Chart_.display2->SetImage(Chart_.Canvas_);
}

void TChartPainter::Series(const THistory& history, double scale, const QColor& color) {
    static const auto xs = ChartPointsX(ChartWidth);
    QPoint points[HistorySize];
    for (int i = 1; i <= HistorySize; ++i)
        points[i - 1] = QPoint(xs[i], ChartY(history[i], scale, ChartHeight));
    Painter_->setPen(QPen(color, 1, Qt::SolidLine));
    Painter_->drawPolyline(points, HistorySize);
}

void TChartPainter::Grid(bool horizontal, bool vertical) {
    Painter_->setPen(QPen(Qt::black, 1, Qt::SolidLine));
    if (horizontal)
        for (const int y : HorizontalGridY(ChartHeight)) Painter_->drawLine(0, y, ChartWidth, y);
    if (vertical)
        for (const int x : VerticalGridX(ChartWidth)) Painter_->drawLine(x, 0, x, ChartHeight);
}

// ---- the panel ------------------------------------------------------------------

TLiveChart::TLiveChart(QWidget* parent)
    : QFrame(parent), Canvas_(ChartWidth, ChartHeight, QImage::Format_RGB32) {
    setObjectName("Display");
    setFixedSize(307, 91);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, PanelColor_);
    setPalette(pal);
    display2 = new TChartImage(this);
    display2->setObjectName("display2");
    display2->setGeometry(38, 2, ChartWidth, ChartHeight);
    display2->setProperty("helpContext", 194);
    display2->setMouseTracking(true);
    display2->installEventFilter(this);
    Legend = new TChartImage(this);
    Legend->setObjectName("Legend");
    Legend->setGeometry(2, 2, 33, ChartHeight);
    Legend->setProperty("helpContext", 193);

    // A narrow serif face first: "10000.0" must fit the 33-pixel box.
    LegendFont.setFamilies(
        {"Times New Roman", "Times", "Nimbus Roman", "Liberation Serif", "Serif"});
    LegendFont.setStyleHint(QFont::Serif);
    LegendFont.setPixelSize(9);

    ValueHint_ = MakeValueHint(this, "ValueHint");

    Canvas_.fill(PanelColor_);
    LegendPaint(2.0);
}

TLiveChart::~TLiveChart() = default;

void TLiveChart::LegendPaint(double scale) {
    LegendScale_ = scale;
    const QSize size = Legend->size();
    QImage image(size, QImage::Format_RGB32);
    image.fill(PanelColor_);
    QPainter p(&image);
    p.setFont(LegendFont);
    p.setPen(Qt::black);
    const QFontMetrics fm(LegendFont);
    const int textHeight = fm.height();
    const auto rightAligned = [&](const QString& text, int top) {
        p.drawText(size.width() - fm.horizontalAdvance(text), top + fm.ascent(), text);
    };
    for (const TLegendLabel& label : LegendLabels(scale, size.height()))
        rightAligned(QString::fromStdString(label.Text), label.CenterY - textHeight / 2);
    rightAligned(LegendUnit, 0);
    p.end();
    Legend->SetImage(image);
}

void TLiveChart::display2MouseMove(const QPoint& pos, const QPoint& globalPos) {
    const std::optional<QString> text = ValueAt ? ValueAt(pos.x(), pos.y()) : std::nullopt;
    if (!text) {
        HideValueHint();
        return;
    }
    const QFontMetrics fm(ValueHint_->font());
    const QScreen* screen = QGuiApplication::screenAt(globalPos);
    if (!screen) screen = this->screen();
    const QRect s = screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
    const THintRect r = HintPlacement(globalPos.x(), globalPos.y(), fm.horizontalAdvance(*text),
                                      fm.height(), s.x(), s.y(), s.width(), s.height());
    ValueHint_->setText(*text);
    ValueHint_->setGeometry(r.Left, r.Top, r.Width, r.Height);
    ValueHint_->show();
}

void TLiveChart::HideValueHint() { ValueHint_->hide(); }

bool TLiveChart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == display2) {
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            display2MouseMove(mouse->position().toPoint(), mouse->globalPosition().toPoint());
        } else if (event->type() == QEvent::Leave || event->type() == QEvent::Hide) {
            // The hint belongs to the point under the mouse: it goes with it.
            HideValueHint();
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace tarvik
