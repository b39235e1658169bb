#include "ui/chart_image.h"

#include <QPainter>

namespace tarvik {

void TChartImage::SetImage(const QImage& image) {
    Image_ = image;
    update();
}

void TChartImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (Image_.isNull())
        p.fillRect(rect(), parentWidget() ? parentWidget()->palette().color(QPalette::Window)
                                          : QColor(Qt::green));
    else
        p.drawImage(0, 0, Image_);
}

}  // namespace tarvik
