// Help: topics are HTML pages help/<topic>.html opened in the default
// browser; a context number shows a "What's This" pop-up with the control's
// short help.
#pragma once

#include <QString>
#include <functional>

class QPoint;
class QWidget;

namespace tarvik {

// The page of a topic; a missing page gives Main_index.html.
QString HelpPagePath(const QString& topic);
void OpenHelpTopic(const QString& topic);
void OpenHelpContents();
// The short help of a context number: a sentence or two about the control;
// empty for a number without one.
QString ContextHelpText(int contextNumber);
// Shows the short help of a control for its context number near pos; a
// number without its own text shows the control's "What's This" text or hint.
void ShowContextHelp(QWidget* control, int contextNumber, const QPoint& globalPos);

// Test hook: receives the page paths instead of the browser.
void SetHelpOpener(std::function<void(const QString& path)> opener);

}  // namespace tarvik
