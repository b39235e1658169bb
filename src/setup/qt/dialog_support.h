// What the setup dialogs share: running nested modal dialogs through a
// replaceable function, the keyboard rules (Enter is OK, Escape is Cancel,
// F1 is help wherever the focus is), right-button context help, the
// configured fonts as Qt fonts, and a spin field that keeps free text.
#pragma once

#include <QAbstractSpinBox>
#include <QFont>
#include <QObject>
#include <functional>

#include "setup/config_file.h"

class QDialog;
class QWidget;

namespace tarvik {

// Modal results of the setup dialogs.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// Shows a modal dialog and returns its result. Tests put their own here to
// answer a nested dialog.
using TDialogExec = std::function<int(QDialog& dialog)>;
int ExecModal(QDialog& dialog);

// A configured font (face, size, style); its colour is left to the palette,
// so that the lime edit-line colour never lands on a white edit field.
QFont FontFromSetting(const TFontSetting& setting);

// Gives a dialog and each of its controls the font. Controls get it one by
// one: a style sheet of the owner window stops a font set on the dialog from
// reaching them. Controls with a font of their own keep it.
void ApplyDialogFont(QWidget* dialog, const QFont& font);

// Enter, Escape and F1 reach the dialog before the focused control. A
// QObject property "helpContext" on a control makes a right-button press
// on it show that control's context help.
class TDialogKeys : public QObject {
  public:
    TDialogKeys(QDialog* dialog, std::function<void()> ok, std::function<void()> cancel,
                std::function<void()> help);
    // Watches the dialog and every control it holds now.
    void WatchChildren();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QDialog* Dialog_;
    std::function<void()> Ok_, Cancel_, Help_;
};

// A spin field whose text is kept as typed (a number with a point as the
// separator); the arrows step it within its range.
class TTextSpinBox : public QAbstractSpinBox {
  public:
    TTextSpinBox(double minimum, double maximum, QWidget* parent = nullptr);
    QString Text() const;
    void SetText(const QString& text);
    void stepBy(int steps) override;

  protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;

  private:
    double Min_, Max_;
};

}  // namespace tarvik
