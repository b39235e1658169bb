// TEditResource: the resource wizard. Pages: Welcome, Resource (kind and
// address), Color, Frequence (interval, time-out, packet size), MinMaxEvents,
// DialUP, Finish. Add and Edit offer pages 0 to 4 and start on page 1; the
// first start offers pages 0 to 6 and starts on page 0. The creator reads
// Values() after a modal result of 1.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/resource_table.h"
#include "platform/window_list.h"
#include "setup/config_file.h"
#include "setup/qt/dialog_support.h"
#include "setup/wizard_rules.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;

namespace tarvik {

class ISpeedEventActions;
class TSetURL;

// What the wizard reads from and hands to the main window.
struct TWizardEnvironment {
    const TResourceTable* Table = nullptr;
    int CurrentRow = 0;  // the row Edit loads
    bool FirstStart = false;
    bool IcmpAvailable = true;
    bool ProcessListAvailable = true;
    bool* UserKnownCDFileSize = nullptr;
    // The keeper's dialog table and timer (first-start page).
    std::vector<TConnectWindowsRow>* ConnectWindowsTable = nullptr;
    bool KeeperOn = false;
    int KeeperIntervalMs = 3000;
    std::function<void(bool on, int intervalMs)> SetKeeper;
    TFontSetting MainFont, GridFont, EditLineFont;
    std::string HomeDir;  // where bookmarks and Favorites are looked for
    TChannelRandom Random;
    TDialogExec Exec = ExecModal;               // nested dialogs
    ISpeedEventActions* TestActions = nullptr;  // the event dialog's Test buttons
    std::function<std::vector<TTopWindow>()> ListWindows;
};

class TEditResource : public QDialog {
    Q_OBJECT
  public:
    static constexpr int PageCount = 7;

    TEditResource(QWidget* parent, TWizardEnvironment env);
    ~TEditResource() override;

    // The values of the controls and the two event copies.
    TWizardValues Values() const;

    // ---- handlers ----
    void Notebook1PageChanged();
    void KindClick();
    void NextClick();
    void PrevClick();
    void CloseBtnClick();
    void BrowseClick();
    void MinSpeedEventClick();
    void MaxSpeedEventClick();
    void ApplyDialUpPage();
    void HelpBtnClick();
    int LastOfferedPage() const { return PageCount - PagesHidden; }
    void reject() override { done(mrCancel); }

    // ---- state ----
    bool EditMode = false;
    bool FirstStartMode = false;
    int PagesHidden = 3;
    bool Shown = false;
    TSpeedEvent MinEvent = TWizardValues::WizardEventStart();
    TSpeedEvent MaxEvent = TWizardValues::WizardEventStart();
    TColor ReadColour = 0x00FF00;
    TColor WriteColour = 0x00FFFF;

    // ---- controls ----
    QStackedWidget* Notebook1;
    QLabel* WWWAddress;
    QRadioButton* NetwDrive;
    QRadioButton* CDROM;
    QRadioButton* IP;
    QLineEdit* Path;
    QPushButton* Browse;
    QLabel* Page2_Topic;
    QLabel* LabelReadColor;
    QLabel* LabelWriteColor;
    QFrame* ReadColor;
    QFrame* WriteColor;
    QPushButton* ReadColorBtn;
    QPushButton* WriteColorBtn;
    QSpinBox* PingDelay;
    QWidget* TimeoutPanel;
    QSpinBox* TimeOut;
    QWidget* SizeofPacketPanel;
    QSpinBox* SizeOfPacket;
    QCheckBox* DefAuto;
    QCheckBox* PerformMinSpeed;
    TTextSpinBox* MinSpeed;
    QPushButton* MinSpeedEvent;
    QCheckBox* PerformMaxSpeed;
    TTextSpinBox* MaxSpeed;
    QPushButton* MaxSpeedEvent;
    QCheckBox* KeppDialUp;
    QWidget* KeepDialPanel;
    QSpinBox* DialUpTimeout;
    QTableWidget* ConnectWindowsTable;
    QPushButton* Previos;
    QPushButton* Next;
    QPushButton* CloseBtn;
    QPushButton* HelpBtn;
    TSetURL* URLPicker = nullptr;  // lives while the wizard is shown

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void FormShow();
    void LoadSelectedRow();
    void ShowColours();
    void ChooseColour(TColor& colour);
    void EventClick(int which);
    bool ResourcePageChecks();
    int Ask(const QString& text, bool neverAsk = false);
    void FillDialTable();
    void DialTableTyped(int row);
    void DialTableSelected();
    void SyncDialTableView();
    QWidget* MakeWelcomePage();
    QWidget* MakeResourcePage();
    QWidget* MakeColorPage();
    QWidget* MakeFrequencePage();
    QWidget* MakeEventsPage();
    QWidget* MakeDialUpPage();
    QWidget* MakeFinishPage();

    TWizardEnvironment Env_;
    std::vector<TConnectWindowsRow> DialRows_;  // the page's table, row 0 the header
    bool SyncingDial_ = false;
    bool ShowDone_ = false;
};

}  // namespace tarvik
