// A finished off-screen image shown in one copy: the live chart, the trend
// chart and their legends draw into a QImage and hand it over whole.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;

namespace tarvik {

class TChartImage : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    void SetImage(const QImage& image);
    const QImage& Image() const { return Image_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage Image_;
};

// The value hint of a chart: a tool-tip window of its own, owned by `owner`,
// black text on the tool-tip colours, hidden until a value is shown.
QLabel* MakeValueHint(QWidget* owner, const char* objectName);

}  // namespace tarvik
