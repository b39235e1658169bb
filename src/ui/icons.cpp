#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace tarvik {
namespace {

QPixmap Canvas(int size = 16) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

void Arrow(QPainter& p, bool up, const QColor& c) {
    QPainterPath path;
    if (up) {
        path.moveTo(8, 2);
        path.lineTo(14, 10);
        path.lineTo(2, 10);
    } else {
        path.moveTo(8, 14);
        path.lineTo(14, 6);
        path.lineTo(2, 6);
    }
    path.closeSubpath();
    p.fillPath(path, c);
}

}  // namespace

QIcon ButtonIcon(const QString& g) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor dark(0x20, 0x20, 0x20), green(0x00, 0x90, 0x00), red(0xC0, 0x10, 0x10);
    QPen pen(dark, 2);
    p.setPen(pen);
    if (g == "add") {
        p.setPen(QPen(green, 3));
        p.drawLine(8, 2, 8, 14);
        p.drawLine(2, 8, 14, 8);
    } else if (g == "edit") {
        p.setPen(QPen(QColor(0x20, 0x40, 0xC0), 3));
        p.drawLine(3, 13, 13, 3);
        p.setPen(QPen(dark, 1));
        p.drawLine(2, 14, 5, 14);
    } else if (g == "delete" || g == "close") {
        p.setPen(QPen(red, 3));
        p.drawLine(3, 3, 13, 13);
        p.drawLine(13, 3, 3, 13);
    } else if (g == "scaleup") {
        Arrow(p, true, dark);
    } else if (g == "scaledown") {
        Arrow(p, false, dark);
    } else if (g == "hgrid") {
        for (int y : {3, 8, 13}) p.drawLine(1, y, 15, y);
    } else if (g == "vgrid") {
        for (int x : {3, 8, 13}) p.drawLine(x, 1, x, 15);
    } else if (g == "shrink" || g == "grow") {
        p.drawRect(2, 2, 12, 12);
        p.fillRect(g == "shrink" ? QRect(3, 3, 6, 6) : QRect(3, 3, 11, 11),
                   QColor(0x60, 0x80, 0xC0));
    } else if (g == "ontopup" || g == "ontopdown") {
        p.drawRect(1, 6, 9, 8);
        p.fillRect(6, 2, 9, 8,
                   g == "ontopdown" ? QColor(0xE0, 0xB0, 0x00) : QColor(0xA0, 0xA0, 0xA0));
        p.drawRect(6, 2, 9, 8);
    } else if (g == "start") {
        QPainterPath path;
        path.moveTo(4, 2);
        path.lineTo(14, 8);
        path.lineTo(4, 14);
        path.closeSubpath();
        p.fillPath(path, green);
    } else if (g == "stop") {
        p.fillRect(3, 3, 10, 10, red);
    } else if (g == "trend") {
        p.setPen(QPen(QColor(0x00, 0x60, 0xC0), 2));
        p.drawPolyline(QPolygon({QPoint(1, 13), QPoint(5, 8), QPoint(9, 10), QPoint(15, 3)}));
    } else if (g == "settings") {
        p.drawEllipse(4, 4, 8, 8);
        for (int i = 0; i < 4; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(45.0 * i);
            p.drawLine(-7, 0, 7, 0);
            p.restore();
        }
    } else if (g == "help") {
        p.setPen(QPen(QColor(0x00, 0x00, 0x80), 1));
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(14);
        p.setFont(f);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, "?");
    } else if (g == "prev" || g == "next") {
        QPainterPath path;
        if (g == "prev") {
            path.moveTo(12, 2);
            path.lineTo(4, 8);
            path.lineTo(12, 14);
        } else {
            path.moveTo(4, 2);
            path.lineTo(12, 8);
            path.lineTo(4, 14);
        }
        path.closeSubpath();
        p.fillPath(path, dark);
    } else if (g == "print") {
        p.drawRect(2, 6, 12, 6);
        p.fillRect(5, 2, 6, 4, Qt::white);
        p.drawRect(5, 2, 6, 4);
    } else if (g == "copy") {
        p.drawRect(2, 2, 8, 9);
        p.fillRect(6, 5, 8, 9, Qt::white);
        p.drawRect(6, 5, 8, 9);
    }
    p.end();
    return QIcon(pm);
}

QIcon LevelIcon(int level) {
    level = std::clamp(level, 0, 12);
    QPixmap pm = Canvas(32);
    QPainter p(&pm);
    p.fillRect(0, 0, 32, 32, Qt::black);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    p.drawRect(0, 0, 31, 31);
    if (level == 0) {
        // No speed: an empty gauge, crossed out.
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0xE0, 0x20, 0x20), 3));
        p.drawLine(7, 7, 25, 25);
        p.drawLine(25, 7, 7, 25);
    } else {
        // Six bars rising left to right, lit up to the level (two levels a
        // bar: half a bar for an odd level); red when slow, lime when fast.
        const QColor colour = level <= 3   ? QColor(0xE0, 0x30, 0x20)
                              : level <= 7 ? QColor(0xF0, 0xD0, 0x00)
                                           : QColor(0x00, 0xFF, 0x00);
        for (int bar = 0; bar < 6; ++bar) {
            const int h = 5 + bar * 4;
            const QRect r(3 + bar * 5, 29 - h, 4, h);
            p.fillRect(r, QColor(0x30, 0x30, 0x30));
            const int lit = std::clamp(level - 2 * bar, 0, 2);
            if (lit == 2)
                p.fillRect(r, colour);
            else if (lit == 1)
                p.fillRect(r.adjusted(0, h / 2, 0, 0), colour);
        }
    }
    p.end();
    return QIcon(pm);
}

QIcon ApplicationIcon() { return LevelIcon(12); }

}  // namespace tarvik
