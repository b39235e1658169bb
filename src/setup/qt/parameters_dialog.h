// TParameters: the "Global Preferences" dialog. Created once at start and
// shown any number of times; it works on a copy of the settings it is given
// and hands them back through Apply only on OK (or Enter).
#pragma once

#include <QDialog>
#include <QFont>
#include <functional>

#include "setup/preferences.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace tarvik {

QFont QFontOf(const TFontSetting& f);
// The setting of a chosen font; colour and character set stay those of base.
TFontSetting FontSettingOf(const QFont& font, TFontSetting base);

class TParameters : public QDialog {
    Q_OBJECT
  public:
    explicit TParameters(QWidget* parent = nullptr);

    // Switches the dial-up keeper on or off (off while the dialog is open).
    std::function<void(bool on)> SwitchKeeper;
    // Takes the edited settings (ApplyPreferences of the main window).
    std::function<void(const TPreferences&)> Apply;
    // The keeper's current problem text, polled while the dialog is open.
    std::function<std::string()> KeeperProblem;
    // The font dialog; null: QFontDialog. Returns false on its Cancel.
    std::function<bool(QFont& font, QWidget* parent)> ChooseFont;

    // Loads p into the controls (the show steps) and runs the dialog modally.
    int Execute(const TPreferences& p);
    // The show steps alone: the dialog's controls take p.
    void Load(const TPreferences& p);
    // What the controls hold now.
    TPreferences Edited() const;
    void ApplyPreferences();
    // The help topic of the tab in view.
    QString CurrentHelpTopic() const;

    QTabWidget* TabbedNotebook1;
    QCheckBox* KeppDialUp;
    QWidget* KeepDialPanel;
    QSpinBox* DialUpTimeout;
    QTableWidget* ConnectWindowsTable;
    QLabel* KeeperProblemText;
    QLabel* DialogsText;
    QLabel* TableFont;
    QLabel* EditLine;
    QPushButton* ChoiseDlgFnt;
    QPushButton* ChoiseTblFnt;
    QPushButton* ChoiseEdLnFnt;
    QCheckBox* TrendEnabledBtn;
    QPushButton* BtnOk;
    QPushButton* BtnHelp;
    QPushButton* CancelBtn;

    bool SavedKeeperEnabled = false;
    bool Shown = false;

  public slots:
    void accept() override;
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ChangeFont(QLabel* sample);
    void SetSample(QLabel* sample, const TFontSetting& f);
    void OnCellChanged(int row);
    void OnCellSelected(int row);
    void ShowProblem();
    void HelpClick();

    TFontSetting Dialogs_, Table_, Edit_;  // the samples' fonts
    TPreferences Loaded_;
    QTimer* ProblemPoll_;
    bool Loading_ = false;
};

}  // namespace tarvik
