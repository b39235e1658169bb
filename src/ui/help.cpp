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

QString ContextHelpText(int contextNumber) {
    struct TEntry {
        int Number;
        const char* Text;
    };
    static const TEntry entries[] = {
        {120, "Opens the help contents (also F1) or the About box."},
        {123,
         "The column headers: the resource, its write speed, its read speed and its ping "
         "speed. Drag the border between two headers to change a column's width."},
        {132, "Closes Tarvik. The settings are saved and every measurement ends."},
        {134,
         "Adds a new test resource: a directory on a network drive, a read-only file or "
         "an Internet host. A wizard asks for its settings."},
        {136,
         "Edits the settings of the resource selected in the table. The new settings take "
         "effect when the resource's current measurement has ended."},
        {157,
         "Deletes the resource selected in the table. Stop measuring first: the button is "
         "enabled only then."},
        {159,
         "The day shown in the trend chart. The arrows beside it go to the day before "
         "and the day after."},
        {162,
         "Shrinks the window to the live chart and the buttons beside it, or grows it "
         "back."},
        {163, "While this button is down, the window stays above all other windows."},
        {164,
         "Shows or hides the trend chart below the buttons: the quarter-hour averages of "
         "one day."},
        {193, "The scale of the chart: speeds in KBps at the grid lines."},
        {194,
         "The live chart: the last 100 speeds of every resource in its own colour, the "
         "newest at the right edge. Point at a line to read its value."},
        {195,
         "Changes the speed at the top of the chart in steps of 1, 2 and 5, from 1 to "
         "100000 KBps."},
        {196, "Shows or hides the horizontal or the vertical grid lines of the chart."},
        {197,
         "Every test resource with its current write, read and ping speed in KBps, or the "
         "reason its last measurement failed. The marked row sets the window's icon and "
         "title."},
        {199,
         "Starts measuring: each resource is measured again whenever its interval has "
         "passed."},
        {201, "Stops measuring. The table keeps the last speeds."},
    };
    for (const TEntry& e : entries)
        if (e.Number == contextNumber) return QString::fromLatin1(e.Text);
    return {};
}

void ShowContextHelp(QWidget* control, int contextNumber, const QPoint& globalPos) {
    if (!control) return;
    QString text = ContextHelpText(contextNumber);
    if (text.isEmpty()) text = control->whatsThis();
    if (text.isEmpty()) text = control->toolTip();
    if (text.isEmpty()) text = QStringLiteral("Press F1 for help.");
    QWhatsThis::showText(globalPos, text, control);
}

void SetHelpOpener(std::function<void(const QString& path)> opener) { Opener() = std::move(opener); }

}  // namespace tarvik
