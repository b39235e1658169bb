// A dialog box like the one a broken dial-up connection shows, for the
// keeper's end-to-end test: "Reestablish Connection - office" with the
// buttons "&Reconnect" and "&Details". Every click appends the button's
// name and a newline to the file given as the first argument.
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString log = QString::fromLocal8Bit(argv[1]);
    QDialog dialog;
    dialog.setWindowTitle("Reestablish Connection - office");
    auto* layout = new QHBoxLayout(&dialog);
    layout->addWidget(new QLabel("The connection to office was lost."));
    for (const char* caption : {"&Reconnect", "&Details"}) {
        auto* button = new QPushButton(caption, &dialog);
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, [log, button] {
            QFile f(log);
            if (f.open(QIODevice::Append)) f.write(button->text().remove('&').toUtf8() + "\n");
        });
    }
    dialog.show();
    // The window is on the accessibility bus from now on.
    QFile ready(log + ".ready");
    if (ready.open(QIODevice::WriteOnly)) ready.write("1");
    return app.exec();
}
