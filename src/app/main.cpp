// Program entry: creates the main window, the message dialog, the sound
// player and the preferences dialog, in this order, and runs the event loop
// until the main window has closed. SIGTERM, SIGINT and SIGHUP close the
// program exactly as its Close button does, from the first message on.
#include <QApplication>
#include <QMessageBox>

#include "engine/probe_factory.h"
#include "monitor/qt/main_window.h"
#include "platform/icmp_socket.h"
#include "setup/qt/parameters_dialog.h"
#include "ui/close_signals.h"
#include "ui/msg_dialog.h"
#include "ui/player.h"

int main(int argc, char** argv) {
    tarvik::TPlayer::SelectMediaBackend();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarvik");
    // Desktops match the window to its launcher and icon by this id.
    QGuiApplication::setDesktopFileName("org.tarvik.Tarvik");
    QApplication::setQuitOnLastWindowClosed(false);
    tarvik::TCloseSignals closeSignals;
    closeSignals.Install();

    // ICMP is checked once, before any window exists.
    const tarvik::TIcmpBinding icmp = tarvik::BindIcmp();
    if (!icmp.Available)
        QMessageBox::critical(nullptr, "Tarvik", QString::fromStdString(icmp.Message).replace('\r', '\n'));

    tarvik::TPingObjectOptions options;
    options.Probes = tarvik::MakeProgramProbes(icmp.Available);
    options.IcmpAvailable = icmp.Available;
    tarvik::TPingObject mainWindow(options);
    tarvik::TMsgDialog msgDialog(&mainWindow);
    tarvik::TPlayer player;
    player.ShowDeviceError = [&msgDialog](const QString& text) { msgDialog.Execute("Error", text); };
    mainWindow.SetPlayer(&player);
    tarvik::TParameters parameters(&mainWindow);
    mainWindow.SetParameters(&parameters);
    closeSignals.Close = [&mainWindow] { mainWindow.CloseBtnClick(); };

    // The loop ends when the main window has closed.
    QObject::connect(&mainWindow, &tarvik::TPingObject::Closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    mainWindow.show();  // loads the configuration
    // A signal that came before the window existed closes it now.
    if (closeSignals.Triggered()) mainWindow.CloseBtnClick();
    const int code = app.exec();
    closeSignals.Close = nullptr;
    return code;
}
