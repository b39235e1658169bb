#include "ui/help.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <QWhatsThis>
#include <QWidget>

#include "platform/program_dir.h"

namespace tarvik {
namespace {
std::function<void(const QString&)>& Opener() {
    static std::function<void(const QString&)> opener;
    return opener;
}
}  // namespace

QString HelpPagePath(const QString& topic) {
    const QString dir = QString::fromStdString(ProgramPaths().HelpDir);
    const QString page = dir + topic + ".html";
    return QFileInfo::exists(page) ? page : dir + "Main_index.html";
}

void OpenHelpTopic(const QString& topic) {
    const QString page = HelpPagePath(topic);
    if (Opener())
        Opener()(page);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

void OpenHelpContents() { OpenHelpTopic("Main_index"); }

void ShowContextHelp(QWidget* control, int contextNumber, const QPoint& globalPos) {
    if (!control) return;
    QString text = control->whatsThis();
    if (text.isEmpty()) text = control->toolTip();
    if (text.isEmpty()) text = QStringLiteral("Press F1 for help.");
    QWhatsThis::showText(globalPos,
                         text + QStringLiteral("\n(help context %1)").arg(contextNumber), control);
}

void SetHelpOpener(std::function<void(const QString& path)> opener) { Opener() = std::move(opener); }

}  // namespace tarvik
