// TCloseSignals: SIGTERM, SIGINT and SIGHUP close the program as its Close
// button does, at any moment: a modal window waiting for an answer (a
// message, a dialog, the sound test) is answered as its close box would
// answer it, and so is every modal window that opens during the close.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tarvik {

class TCloseSignals : public QObject {
    Q_OBJECT
public:
    explicit TCloseSignals(QObject* parent = nullptr);
    // Restores the default handling of the three signals.
    ~TCloseSignals() override;

    // Installs the handlers; one instance per process. False when the
    // signal pipe cannot be made.
    bool Install();
    // What a close signal does (the handlers end up here, on the GUI thread):
    // answers the open modal windows, keeps answering those that open from
    // now on, and calls Close.
    void Trigger();
    bool Triggered() const { return Triggered_; }

    // Asks the program to close (the main window's Close button).
    std::function<void()> Close;

    // Answers every open popup and modal window as its close box would.
    // Returns how many there were.
    static int AnswerModalWindows();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ReadSignals();
    QSocketNotifier* Notifier_ = nullptr;
    bool Triggered_ = false;
    bool Installed_ = false;
};

}  // namespace tarvik
