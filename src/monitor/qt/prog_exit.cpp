#include "monitor/qt/prog_exit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace tarvik {

TProgExit::TProgExit(QWidget* mainWindow, bool& exitConfirmed)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Main_(mainWindow),
      ExitConfirmed_(exitConfirmed) {
    setObjectName("TProgExit");
    setWindowTitle("Please wait");
    setFixedSize(260, 100);
    Animation = new QLabel(this);
    Animation->setObjectName("Animation");
    Animation->setGeometry(12, 26, 48, 48);
    Message = new QLabel("Please wait while Tarvik closes all network calls.", this);
    Message->setObjectName("Message");
    Message->setAlignment(Qt::AlignCenter);
    Message->setWordWrap(true);
    Message->setGeometry(66, 10, 184, 80);

    CloseTimer = new QTimer(this);
    CloseTimer->setObjectName("CloseTimer");
    CloseTimer->setInterval(3000);
    CloseTimer->setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5 % early
    CloseTimer->setSingleShot(false);
    connect(CloseTimer, &QTimer::timeout, this, &TProgExit::CloseTimerTimer);

    // Six frames, five a second.
    AnimationTimer_ = new QTimer(this);
    AnimationTimer_->setInterval(200);
    connect(AnimationTimer_, &QTimer::timeout, this, [this] {
        Frame_ = (Frame_ + 1) % 6;
        DrawFrame();
    });
    DrawFrame();
}

void TProgExit::DrawFrame() {
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 6; ++i) {
        p.save();
        p.translate(24, 24);
        p.rotate(60.0 * i);
        p.setBrush(i == Frame_ ? QColor(0x00, 0xA0, 0x00) : QColor(0xC0, 0xC0, 0xC0));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(0, -15), 5, 5);
        p.restore();
    }
    p.end();
    Animation->setPixmap(pm);
}

void TProgExit::showEvent(QShowEvent* event) {
    if (Main_) setFont(Main_->font());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    AnimationTimer_->start();
    QDialog::showEvent(event);
}

void TProgExit::paintEvent(QPaintEvent* event) {
    // The wait starts with the first paint; later paints do not restart it.
    if (!ExitConfirmed_ && !CloseTimer->isActive()) CloseTimer->start();
    QDialog::paintEvent(event);
}

void TProgExit::CloseTimerTimer() {
    CloseTimer->stop();
    ExitConfirmed_ = true;
    if (Main_) QMetaObject::invokeMethod(Main_, "close", Qt::QueuedConnection);
}

}  // namespace tarvik
