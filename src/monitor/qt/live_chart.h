// The live chart panel "Display": the chart image display2 (267 x 87 at
// (38, 2)) and its legend box Legend (33 x 87 at (2, 2)) inside a 307 x 91
// panel whose colour is the chart's background. Each redraw paints an
// off-screen image that the chart then shows in one copy; the value tooltip
// shows the speed under the mouse in a hint window.
#pragma once

#include <QFont>
#include <QFrame>
#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "engine/ping_thread.h"

class QLabel;
class QPainter;

#include "ui/chart_image.h"

namespace tarvik {


class TLiveChart;

// One redraw of the chart image: the constructor fills the background, the
// destructor ends the painting and shows the image, also when a step threw.
class TChartPainter {
  public:
    explicit TChartPainter(TLiveChart& chart);
    ~TChartPainter();
    TChartPainter(const TChartPainter&) = delete;
    TChartPainter& operator=(const TChartPainter&) = delete;
    // The 100 samples of a history as one 1-pixel polyline.
    void Series(const THistory& history, double scale, const QColor& color);
    // Black grid lines over the series.
    void Grid(bool horizontal, bool vertical);

  private:
    TLiveChart& Chart_;
    std::unique_ptr<QPainter> Painter_;
};

class TLiveChart : public QFrame {
    Q_OBJECT
  public:
    explicit TLiveChart(QWidget* parent = nullptr);
    ~TLiveChart() override;
    TChartImage* display2;
    TChartImage* Legend;
    QColor PanelColor() const { return PanelColor_; }
    // The legend's own font: a 9-pixel serif font.
    QFont LegendFont;

    // Paints the legend box for a full-scale value (on creation and after a
    // scale change).
    void LegendPaint(double scale);
    double LegendScale() const { return LegendScale_; }

    // The text under chart point (x, y), none when nothing is there.
    std::function<std::optional<QString>(int x, int y)> ValueAt;
    // The value tooltip for the mouse at chart point pos (globalPos on the
    // screen): shows the hint window by the cursor, or hides it.
    void display2MouseMove(const QPoint& pos, const QPoint& globalPos);
    void HideValueHint();
    QLabel* ValueHint() const { return ValueHint_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class TChartPainter;
    QColor PanelColor_{0x00, 0x80, 0x00};
    QImage Canvas_;  // the off-screen chart image
    double LegendScale_ = 0;
    QLabel* ValueHint_;
};

}  // namespace tarvik
