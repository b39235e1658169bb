// Program entry: creates the main window, the message dialog, the sound
// player and the preferences dialog, in this order, and runs the event loop
// until the main window has closed. SIGTERM, SIGINT and SIGHUP close the
// program exactly as its Close button does.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>

#include "engine/probe_factory.h"
#include "monitor/qt/main_window.h"
#include "platform/icmp_socket.h"
#include "setup/qt/parameters_dialog.h"
#include "ui/msg_dialog.h"
#include "ui/player.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

void InstallCloseSignals(tarvik::TPingObject& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char buf[16];
        [[maybe_unused]] ssize_t n = ::read(SignalPipe[0], buf, sizeof buf);
        window.CloseBtnClick();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    tarvik::TPlayer::SelectMediaBackend();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarvik");
    QApplication::setQuitOnLastWindowClosed(false);

    // ICMP is checked once, before any window exists.
    const tarvik::TIcmpBinding icmp = tarvik::BindIcmp();
    if (!icmp.Available)
        QMessageBox::critical(nullptr, "Tarvik", QString::fromStdString(icmp.Message).replace('\r', '\n'));

    tarvik::TPingObjectOptions options;
    options.Probes = tarvik::MakeProgramProbes(icmp.Available);
    tarvik::TPingObject mainWindow(options);
    tarvik::TMsgDialog msgDialog(&mainWindow);
    tarvik::TPlayer player;
    player.ShowDeviceError = [&msgDialog](const QString& text) { msgDialog.Execute("Error", text); };
    mainWindow.SetPlayer(&player);
    tarvik::TParameters parameters(&mainWindow);
    mainWindow.SetParameters(&parameters);
    InstallCloseSignals(mainWindow);

    // The loop ends when the main window has closed.
    QObject::connect(&mainWindow, &tarvik::TPingObject::Closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    mainWindow.show();
    return app.exec();
}
