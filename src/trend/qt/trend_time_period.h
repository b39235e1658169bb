// TTrendTimePeriod "Select the Time Period": the part of the day that an
// export or a report covers, as four spin editors. Created for each use.
#pragma once

#include <QDialog>

#include "trend/trend_export.h"

class QPushButton;
class QSpinBox;

namespace tarvik {

class TTrendTimePeriod : public QDialog {
    Q_OBJECT
  public:
    explicit TTrendTimePeriod(QWidget* parent = nullptr);

    QSpinBox* FromTimeHours;
    QSpinBox* FromTimeMin;
    QSpinBox* TillTimeHours;
    QSpinBox* TillTimeMins;
    QPushButton* BtnOk;
    QPushButton* CancelBtn;
    QPushButton* BtnHelp;

    // Results of OK.
    int FromSlot = 0;
    int TillSlot = 0;

    // The four texts, from and to the remembered period; texts outside an
    // editor's range are kept within it.
    void SetTexts(const TTrendPeriod& period);
    TTrendPeriod Texts() const;
    // The edit-line font of the preferences for the four editors.
    void SetEditorFont(const QFont& font);

    // OK gives 1 and computes the slots; Cancel, Esc and closing give 2.
    void done(int result) override;
    void reject() override { done(2); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tarvik
