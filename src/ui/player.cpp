// The sound player window over Qt Multimedia. Timer1 follows the position
// and closes the window at the end of the sound; Timer2 repeats the start
// request until the device has really begun to play.
#include "ui/player.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace tarvik {

void TPlayer::SelectMediaBackend() {
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

TPlayer::TPlayer(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName("Player");
    setWindowTitle("Phonograph");

    LabelFileName_ = new QLabel(this);
    LabelFileName_->setObjectName("LabelFileName");
    LabelFileName_->setTextFormat(Qt::PlainText);
    LabelFileName_->setMinimumWidth(260);

    auto* panel = new QFrame(this);
    panel->setObjectName("ProgressPanel");
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Progress_ = new QProgressBar(panel);
    Progress_->setObjectName("Progress");
    Progress_->setTextVisible(false);
    Progress_->setRange(0, 1);
    Progress_->setValue(0);
    Progress_->setFixedHeight(14);
    Progress_->setStyleSheet(
        "QProgressBar { background-color: #008000; border: none; }"
        "QProgressBar::chunk { background-color: #00FF00; }");
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    panelLayout->addWidget(Progress_);

    MediaPlayer1_ = new QWidget(this);
    MediaPlayer1_->setObjectName("MediaPlayer1");
    auto makeButton = [this](const char* name, const char* tip, QStyle::StandardPixmap icon) {
        auto* b = new QPushButton(style()->standardIcon(icon), QString(), MediaPlayer1_);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setAutoDefault(false);
        return b;
    };
    PlayButton_ = makeButton("PlayButton", "Play", QStyle::SP_MediaPlay);
    StopButton_ = makeButton("StopButton", "Stop", QStyle::SP_MediaStop);
    PrevButton_ = makeButton("PrevButton", "Prev", QStyle::SP_MediaSkipBackward);
    auto* buttons = new QHBoxLayout(MediaPlayer1_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(PlayButton_);
    buttons->addWidget(StopButton_);
    buttons->addWidget(PrevButton_);
    buttons->addStretch();
    connect(PlayButton_, &QPushButton::clicked, this, [this] { MediaPlayer1Click(TButton::Play); });
    connect(StopButton_, &QPushButton::clicked, this, [this] { MediaPlayer1Click(TButton::Stop); });
    connect(PrevButton_, &QPushButton::clicked, this, [this] { MediaPlayer1Click(TButton::Prev); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelFileName_);
    layout->addWidget(panel);
    layout->addWidget(MediaPlayer1_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName("Timer1");
    Timer1_->setInterval(100);
    connect(Timer1_, &QTimer::timeout, this, &TPlayer::Timer1Timer);
    Timer2_ = new QTimer(this);
    Timer2_->setObjectName("Timer2");
    Timer2_->setInterval(100);
    connect(Timer2_, &QTimer::timeout, this, &TPlayer::Timer2Timer);

    Device_ = new QMediaPlayer(this);
    Device_->setObjectName("Device");
    Output_ = new QAudioOutput(this);
    Device_->setAudioOutput(Output_);
    connect(Device_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::EndOfMedia) Ended_ = true;
            });
    // The length becomes known only once the device has read the file.
    connect(Device_, &QMediaPlayer::durationChanged, this, [this] { SetGaugeMaximum(); });
    connect(Device_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString& text) { DeviceError(text); });

    ShowDeviceError = [this](const QString& text) {
        QMessageBox::critical(parentWidget(), "Tarvik", text);
    };
}

TPlayer::~TPlayer() = default;

void TPlayer::SetFileName(const QString& fileName) { FileName_ = fileName; }

void TPlayer::PlayFile(const QString& fileName) {
    FileName_ = fileName;
    if (FileName_.isEmpty()) {
        PostClose();
        return;
    }
    OpenDevice();
    Timer2_->start();
    StartPlaying();
    Timer1_->start();
    Timer2_->start();
    if (Failed_) StopTimers();
}

void TPlayer::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TPlayer::FormShow() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    if (FileName_.isEmpty()) return;
    OpenDevice();
    LabelFileName_->setText(FileName_);
    Timer2_->start();
    StartPlaying();
    SetGaugeMaximum();
    Timer1_->start();
    Timer2_->start();
    if (Failed_) StopTimers();
}

void TPlayer::Timer1Timer() {
    Progress_->setValue(
        static_cast<int>(std::min<qint64>(Device_->position(), Progress_->maximum())));
    if (Ended_) {
        Timer1_->stop();
        if (!FileName_.isEmpty()) PostClose();
    }
}

void TPlayer::Timer2Timer() {
    if (FileName_.isEmpty()) return;
    // A sound that has already played to its end has started; starting it
    // again would replay a short sound for ever.
    if (Device_->playbackState() == QMediaPlayer::StoppedState && !Ended_ && !Failed_)
        StartPlaying();
    else
        Timer2_->stop();
}

void TPlayer::MediaPlayer1Click(TButton button) {
    switch (button) {
        case TButton::Play:
            SetGaugeMaximum();
            Timer1_->start();
            StartPlaying();
            break;
        case TButton::Stop:
            Device_->stop();
            break;
        case TButton::Prev:
            Progress_->setValue(
                static_cast<int>(std::min<qint64>(Device_->position(), Progress_->maximum())));
            Device_->setPosition(0);
            break;
    }
}

// Opening a file closes the device of the previous one, which cuts off a
// sound still playing; the same file opened again plays from its start.
void TPlayer::OpenDevice() {
    Device_->stop();
    Device_->setSource(QUrl());
    Ended_ = false;
    Failed_ = false;
    Progress_->setValue(0);
    Device_->setSource(QUrl::fromLocalFile(QFileInfo(FileName_).absoluteFilePath()));
}

void TPlayer::StartPlaying() {
    if (Failed_) return;
    Ended_ = false;
    Device_->play();
}

void TPlayer::StopTimers() {
    Timer1_->stop();
    Timer2_->stop();
}

void TPlayer::SetGaugeMaximum() {
    const qint64 length = Device_->duration();
    Progress_->setRange(
        0, static_cast<int>(std::clamp<qint64>(length, 1, std::numeric_limits<int>::max())));
}

void TPlayer::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

// The modal test does not stay open after a device error. The device may
// raise several errors for one file; the first is reported. The message is
// shown from the event loop, not from inside the device's signal, and only
// one at a time: a background sound that fails while a message is open is
// not reported on top of it.
void TPlayer::DeviceError(const QString& text) {
    StopTimers();
    if (Failed_) return;
    Failed_ = true;
    if (isVisible()) PostClose();
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (ErrorShowing_ || !ShowDeviceError) return;
            ErrorShowing_ = true;
            ShowDeviceError(text);
            ErrorShowing_ = false;
        },
        Qt::QueuedConnection);
}

}  // namespace tarvik
