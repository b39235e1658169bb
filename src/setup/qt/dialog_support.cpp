#include "setup/qt/dialog_support.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <cmath>

#include "ui/help.h"

namespace tarvik {

int ExecModal(QDialog& dialog) { return dialog.exec(); }

QFont FontFromSetting(const TFontSetting& f) {
    QFont font(f.Name.empty() ? QStringLiteral("Sans Serif") : QString::fromStdString(f.Name),
               f.Size > 0 ? f.Size : 8);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    return font;
}

void ApplyDialogFont(QWidget* dialog, const QFont& font) {
    static const char* const Marker = "tarvikDialogFont";
    dialog->setFont(font);
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (w->isWindow()) continue;
        if (w->testAttribute(Qt::WA_SetFont) && !w->property(Marker).toBool()) continue;
        w->setFont(font);
        w->setProperty(Marker, true);
    }
}

TDialogKeys::TDialogKeys(QDialog* dialog, std::function<void()> ok, std::function<void()> cancel,
                         std::function<void()> help)
    : QObject(dialog),
      Dialog_(dialog),
      Ok_(std::move(ok)),
      Cancel_(std::move(cancel)),
      Help_(std::move(help)) {
    dialog->installEventFilter(this);
}

void TDialogKeys::WatchChildren() {
    for (QWidget* w : Dialog_->findChildren<QWidget*>()) w->installEventFilter(this);
}

bool TDialogKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && Ok_) {
            // An open cell editor hands its text to the table first.
            if (QWidget* focus = Dialog_->focusWidget()) focus->clearFocus();
            Ok_();
            return true;
        }
        if (key == Qt::Key_Escape && Cancel_) {
            Cancel_();
            return true;
        }
        if (key == Qt::Key_F1 && Help_) {
            Help_();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (mouse->button() == Qt::RightButton && widget) {
            const int context = widget->property("helpContext").toInt();
            if (context > 0) {
                ShowContextHelp(widget, context, mouse->globalPosition().toPoint());
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

TTextSpinBox::TTextSpinBox(double minimum, double maximum, QWidget* parent)
    : QAbstractSpinBox(parent), Min_(minimum), Max_(maximum) {}

QString TTextSpinBox::Text() const { return lineEdit()->text(); }

void TTextSpinBox::SetText(const QString& text) { lineEdit()->setText(text); }

void TTextSpinBox::stepBy(int steps) {
    bool ok = false;
    double v = Text().trimmed().toDouble(&ok);  // C locale: a point separates
    if (!ok) v = Min_;
    v = std::clamp(std::round(v) + steps, Min_, Max_);
    SetText(QString::number(static_cast<long long>(v)));
}

QAbstractSpinBox::StepEnabled TTextSpinBox::stepEnabled() const {
    bool ok = false;
    const double v = Text().trimmed().toDouble(&ok);
    if (!ok) return StepUpEnabled | StepDownEnabled;
    StepEnabled e = StepNone;
    if (v < Max_) e |= StepUpEnabled;
    if (v > Min_) e |= StepDownEnabled;
    return e;
}

QValidator::State TTextSpinBox::validate(QString& input, int&) const {
    for (const QChar c : input)
        if (!c.isDigit() && c != '.' && c != '-' && c != '+' && c != ' ')
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

}  // namespace tarvik
