#include "ui/chart_image.h"

#include <QLabel>
#include <QPainter>
#include <QToolTip>

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

QLabel* MakeValueHint(QWidget* owner, const char* objectName) {
    auto* hint = new QLabel(owner, Qt::ToolTip | Qt::FramelessWindowHint);
    hint->setObjectName(objectName);
    hint->setFont(QToolTip::font());
    hint->setFrameStyle(QFrame::Box | QFrame::Plain);
    hint->setLineWidth(1);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    hint->setIndent(2);
    hint->setAutoFillBackground(true);
    QPalette palette = QToolTip::palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    hint->setPalette(palette);
    hint->hide();
    return hint;
}

}  // namespace tarvik
