// The handlers only write a byte into a socket pair (async-signal-safe); a
// socket notifier turns it into a close on the GUI thread.
#include "ui/close_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

int SignalFds[2] = {-1, -1};
constexpr int CloseSignalNumbers[] = {SIGTERM, SIGINT, SIGHUP};

void OnCloseSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(SignalFds[1], &c, 1);
    errno = saved;
}

bool IsModalWindow(const QWidget* w) {
    return w->isWindow() && w->isVisible() && w->windowModality() != Qt::NonModal;
}

// The message of a modal message window, empty for other windows.
QString MessageOf(QWidget* w) {
    if (auto* msg = qobject_cast<TMsgDialog*>(w)) return msg->MessageTxt->toPlainText();
    if (auto* box = qobject_cast<QMessageBox*>(w)) return box->text();
    return {};
}

// Answers one modal window as its close box would; one that refuses (a
// question without a cancel answer) is rejected, and hidden at the last.
void AnswerOne(QWidget* w) {
    const QString text = MessageOf(w);
    // Nobody is there to read it: the message goes to the session's log.
    if (!text.isEmpty())
        std::fprintf(stderr, "tarvik: closing on a signal; answered \"%s\": %s\n",
                     qPrintable(w->windowTitle()), qPrintable(QString(text).replace('\r', ' ').replace('\n', ' ')));
    const QPointer<QWidget> guard(w);
    w->close();
    if (guard && guard->isVisible())
        if (auto* dialog = qobject_cast<QDialog*>(guard.data())) dialog->reject();
    if (guard && guard->isVisible()) guard->hide();
}

}  // namespace

TCloseSignals::TCloseSignals(QObject* parent) : QObject(parent) {}

TCloseSignals::~TCloseSignals() {
    if (!Installed_) return;
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (const int sig : CloseSignalNumbers) ::sigaction(sig, &dfl, nullptr);
    delete Notifier_;
    for (int& fd : SignalFds) {
        ::close(fd);
        fd = -1;
    }
}

bool TCloseSignals::Install() {
    if (Installed_ || SignalFds[0] >= 0) return Installed_;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, SignalFds) != 0)
        return false;
    Notifier_ = new QSocketNotifier(SignalFds[0], QSocketNotifier::Read, this);
    connect(Notifier_, &QSocketNotifier::activated, this, &TCloseSignals::ReadSignals);
    struct sigaction sa {};
    sa.sa_handler = OnCloseSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : CloseSignalNumbers) ::sigaction(sig, &sa, nullptr);
    Installed_ = true;
    return true;
}

void TCloseSignals::ReadSignals() {
    char buf[64];
    while (::read(SignalFds[0], buf, sizeof buf) > 0) {
    }
    Trigger();
}

void TCloseSignals::Trigger() {
    if (!Triggered_) {
        Triggered_ = true;
        qApp->installEventFilter(this);
    }
    AnswerModalWindows();
    // Every close signal asks again: a close refused before (its message
    // answered only now) goes on, one still running ignores it.
    if (Close) Close();
}

int TCloseSignals::AnswerModalWindows() {
    int answered = 0;
    for (int guard = 0; guard < 100; ++guard) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            ++answered;
            continue;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !IsModalWindow(modal)) break;
        AnswerOne(modal);
        ++answered;
    }
    return answered;
}

bool TCloseSignals::eventFilter(QObject* watched, QEvent* event) {
    // A modal window that opens during the close is answered as soon as its
    // own event loop runs.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow() && w->windowModality() != Qt::NonModal)
            QMetaObject::invokeMethod(
                w, [w] { if (IsModalWindow(w)) AnswerOne(w); }, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarvik
