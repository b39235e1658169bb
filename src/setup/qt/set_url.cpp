#include "setup/qt/set_url.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "setup/qt/dialog_support.h"

namespace tarvik {

TSetURL::TSetURL(QWidget* parent) : QDialog(parent) {
    setObjectName("SetURL");
    setWindowTitle("URL");
    URLList = new QTableWidget(0, 2, this);
    URLList->setObjectName("URLList");
    URLList->setHorizontalHeaderLabels({"Name", "Address"});
    URLList->setSelectionBehavior(QAbstractItemView::SelectRows);
    URLList->setSelectionMode(QAbstractItemView::SingleSelection);
    URLList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    URLList->verticalHeader()->hide();
    URLList->horizontalHeader()->setStretchLastSection(true);
    URLList->setTabKeyNavigation(false);
    OkBtn = new QPushButton("&Ok", this);
    OkBtn->setObjectName("OkBtn");
    CancelBtn = new QPushButton("&Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(URLList, &QTableWidget::cellDoubleClicked, this, [this] { done(mrOk); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(URLList);
    layout->addLayout(buttons);
    resize(460, 300);
    auto* keys = new TDialogKeys(
        this, [this] { done(mrOk); }, [this] { done(mrCancel); }, {});
    keys->WatchChildren();
}

void TSetURL::SetRows(const std::vector<TUrlEntry>& rows) {
    URLList->setRowCount(0);
    URLList->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < URLList->rowCount(); ++r) {
        const auto& e = rows[static_cast<std::size_t>(r)];
        URLList->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(e.Name)));
        URLList->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(e.Address)));
    }
    URLList->resizeColumnToContents(0);
    URLList->horizontalHeader()->resizeSection(0, std::clamp(URLList->columnWidth(0), 120, 240));
    if (URLList->rowCount() > 0) URLList->selectRow(0);
}

void TSetURL::SetWindowTitles(const std::vector<std::string>& titles) {
    setWindowTitle("List of windows");
    URLList->setRowCount(0);
    URLList->setColumnCount(1);
    URLList->setHorizontalHeaderLabels({"Window Title"});
    URLList->setRowCount(static_cast<int>(titles.size()));
    for (int r = 0; r < URLList->rowCount(); ++r)
        URLList->setItem(
            r, 0,
            new QTableWidgetItem(QString::fromStdString(titles[static_cast<std::size_t>(r)])));
    if (URLList->rowCount() > 0) URLList->selectRow(0);
}

int TSetURL::EntryCount() const { return URLList->rowCount(); }

QString TSetURL::SelectedText() const {
    const int row = URLList->currentRow();
    const QTableWidgetItem* item =
        row >= 0 ? URLList->item(row, URLList->columnCount() - 1) : nullptr;
    return item ? item->text() : QString();
}

void TSetURL::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) ApplyDialogFont(this, owner->window()->font());
    URLList->setFocus();
    QDialog::showEvent(event);
}

}  // namespace tarvik
