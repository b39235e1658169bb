#include "monitor/qt/live_chart.h"

#include <QPainter>

namespace tarvik {

void TChartImage::SetImage(const QImage& image) {
    Image_ = image;
    update();
}

void TChartImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (Image_.isNull())
        p.fillRect(rect(), parentWidget() ? parentWidget()->palette().color(QPalette::Window) : Qt::green);
    else
        p.drawImage(0, 0, Image_);
}

TLiveChart::TLiveChart(QWidget* parent) : QFrame(parent) {
    setObjectName("Display");
    setFixedSize(307, 91);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, PanelColor_);
    setPalette(pal);
    display2 = new TChartImage(this);
    display2->setObjectName("display2");
    display2->setGeometry(38, 2, 267, 87);
    display2->setProperty("helpContext", 194);
    Legend = new TChartImage(this);
    Legend->setObjectName("Legend");
    Legend->setGeometry(2, 2, 33, 87);
    Legend->setProperty("helpContext", 193);
}

}  // namespace tarvik
