// TSetEvent: the action of one speed event — play a sound, run a program or
// close a program by file name or window title — with its switches and
// time-out, each action tried at once by its Test button. It edits a copy of
// the event; the wizard stores it on OK.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "monitor/speed_event.h"
#include "platform/window_list.h"
#include "setup/qt/dialog_support.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarvik {

class TPlayer;

// The Test buttons' actions: PlaySound shows the sound player modally.
std::unique_ptr<ISpeedEventActions> MakeEventTestActions(TPlayer* player);

class TSetEvent : public QDialog {
    Q_OBJECT
  public:
    explicit TSetEvent(QWidget* parent = nullptr);

    // Filling for event `which` (kMinEvent / kMaxEvent): switches, choice,
    // texts, captions. Done before the first showing, it moves no choice
    // and enables no Test button.
    void LoadEvent(const TSpeedEvent& e, int which);
    // The dialog's values into the event (after OK).
    void StoreEvent(TSpeedEvent& e) const;

    void reject() override { done(mrCancel); }

    // Set by the creator before showing.
    bool ProcessListAvailable = true;
    ISpeedEventActions* TestActions = nullptr;
    std::function<std::vector<TTopWindow>()> ListWindows;
    TDialogExec Exec = ExecModal;
    QFont EditLineFont;

    QCheckBox* PerfOnceBtn;
    QCheckBox* ResetCounter;
    TTextSpinBox* PerfTimeBtn;
    QRadioButton* PlaySoundBtn;
    QLineEdit* PlayFileName;
    QPushButton* PlayBrowse;
    QPushButton* PlayTest;
    QRadioButton* RunPrgBtn;
    QLineEdit* RunFileName;
    QLineEdit* RunDirectory;
    QPushButton* RunBrowse;
    QPushButton* RunTest;
    QRadioButton* ClosePrgBtn;
    QLabel* CloseFileLbl;
    QLineEdit* CloseFileName;
    QPushButton* CloseBrowse;
    QLabel* ORLabel;
    QLabel* CloseTitleLbl;
    QLineEdit* WinTitle;
    QPushButton* WinTitleBrowse;
    QPushButton* CloseTest;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
    QPushButton* BtnHelp;

    bool Painted() const { return Painted_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void TextChanged(const QString& text, QPushButton* test, QRadioButton* choice);
    void BrowseFile(QLineEdit* edit, const QString& caption, const QString& filter);
    void WinTitleBrowseClick();
    void PlayTestClick();
    void RunTestClick();
    void CloseTestClick();
    void RunTestAction(const std::function<void(ISpeedEventActions&)>& action);

    bool Painted_ = false;
};

}  // namespace tarvik
