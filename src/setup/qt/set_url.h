// TSetURL: a list picker. The wizard shows web addresses in it (columns
// "Name" and "Address"); the event dialog shows window titles in one column.
// Enter or Ok closes with 1, Escape or Cancel with 2.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "setup/bookmarks.h"

class QPushButton;
class QTableWidget;

namespace tarvik {

class TSetURL : public QDialog {
    Q_OBJECT
  public:
    explicit TSetURL(QWidget* parent = nullptr);

    // Empties the list down to its header, then fills it.
    void SetRows(const std::vector<TUrlEntry>& rows);
    // One column "Window Title", caption "List of windows".
    void SetWindowTitles(const std::vector<std::string>& titles);
    int EntryCount() const;
    // The last column of the selected row (the address, or the title).
    QString SelectedText() const;

    void reject() override { done(2); }

    QTableWidget* URLList;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace tarvik
