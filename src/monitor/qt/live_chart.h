// The live chart panel "Display": the chart image display2 (267 x 87 at
// (38, 2)) and its legend box Legend (33 x 87 at (2, 2)) inside a 307 x 91
// panel whose colour is the chart's background.
#pragma once

#include <QFrame>
#include <QImage>

namespace tarvik {

class TChartImage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Shows a finished off-screen image in one copy.
    void SetImage(const QImage& image);
    const QImage& Image() const { return Image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage Image_;
};

class TLiveChart : public QFrame {
    Q_OBJECT
public:
    explicit TLiveChart(QWidget* parent = nullptr);
    TChartImage* display2;
    TChartImage* Legend;
    QColor PanelColor() const { return PanelColor_; }

private:
    QColor PanelColor_{0x00, 0x80, 0x00};
};

}  // namespace tarvik
