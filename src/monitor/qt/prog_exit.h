// TProgExit: the "Please wait" window shown when the program is closed
// within five seconds of its start; three seconds after its first paint it
// confirms the exit and closes the main window again.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace tarvik {

class TProgExit : public QDialog {
    Q_OBJECT
public:
    // exitConfirmed is the main window's flag; mainWindow receives the close.
    TProgExit(QWidget* mainWindow, bool& exitConfirmed);

    QTimer* CloseTimer;
    QLabel* Message;
    QLabel* Animation;
    int Frame() const { return Frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CloseTimerTimer();
    void DrawFrame();
    QWidget* Main_;
    bool& ExitConfirmed_;
    QTimer* AnimationTimer_;
    int Frame_ = 0;
};

}  // namespace tarvik
