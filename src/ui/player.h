// The "Phonograph" sound player: plays a speed event's sound in the
// background, or shows itself modally for the event dialog's test with a
// progress gauge and Play / Stop / Prev buttons. One instance per run.
#pragma once

#include <QDialog>
#include <QMediaPlayer>
#include <QString>
#include <functional>

class QAudioOutput;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tarvik {

class TPlayer : public QDialog {
    Q_OBJECT

  public:
    explicit TPlayer(QWidget* parent = nullptr);
    ~TPlayer() override;

    // Asks Qt Multimedia for its GStreamer backend (its FFmpeg backend fails
    // without an audio device) unless QT_MEDIA_BACKEND is set already. Must
    // run before the first media object is created.
    static void SelectMediaBackend();

    // Stores the file for the modal test; showing the window plays it.
    void SetFileName(const QString& fileName);
    // Plays the file in the background without showing the window. An empty
    // name only closes the window.
    void PlayFile(const QString& fileName);
    QString FileName() const { return FileName_; }

    // How a device error (a file that cannot be opened or played) reaches
    // the user; the text comes from the multimedia system.
    std::function<void(const QString& text)> ShowDeviceError;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    enum class TButton { Play, Stop, Prev };

    void FormShow();
    void Timer1Timer();
    void Timer2Timer();
    void MediaPlayer1Click(TButton button);
    void OpenDevice();
    void StartPlaying();
    void StopTimers();
    void PostClose();
    void DeviceError(const QString& text);
    void SetGaugeMaximum();

    QString FileName_;
    // Set when the device has played to its end; cleared on every start.
    bool Ended_ = false;
    // Set by the first device error after a file was opened: the file is
    // reported once and not started again.
    bool Failed_ = false;
    bool ErrorShowing_ = false;

    QLabel* LabelFileName_;
    QProgressBar* Progress_;
    QWidget* MediaPlayer1_;
    QPushButton* PlayButton_;
    QPushButton* StopButton_;
    QPushButton* PrevButton_;
    QTimer* Timer1_;
    QTimer* Timer2_;
    QMediaPlayer* Device_;
    QAudioOutput* Output_;
};

}  // namespace tarvik
