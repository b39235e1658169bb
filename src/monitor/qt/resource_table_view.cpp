#include "monitor/qt/resource_table_view.h"

#include <QHeaderView>
#include <QMouseEvent>

#include "engine/resource_table.h"
#include "ui/colors_qt.h"
#include "ui/help.h"

namespace tarvik {

TResourceTableModel::TResourceTableModel(const TResourceTable& table, QObject* parent)
    : QAbstractTableModel(parent), Table_(table), Rows_(table.RowCount() - 1) {}

int TResourceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows_;
}
int TResourceTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant TResourceTableModel::data(const QModelIndex& index, int role) const {
    const int row = index.row() + 1, col = index.column();
    if (role == Qt::DisplayRole && col >= 1) return QString::fromStdString(Table_.Cell(col, row));
    if (role == Qt::ForegroundRole) {
        if (col == 1) return QColor(0, 255, 0);
        if (col == 2) return ToQColor(Table_.Cell(colWriteColor, row), QColor(0, 255, 0));
        if (col >= 3) return ToQColor(Table_.Cell(colReadColor, row), QColor(0, 255, 0));
    }
    if (role == Qt::BackgroundRole) return QColor(Qt::black);
    return {};
}

QVariant TResourceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QString::fromStdString(Table_.Cell(section, 0));
    return {};
}

void TResourceTableModel::Reset() {
    beginResetModel();
    Rows_ = Table_.RowCount() - 1;
    endResetModel();
}

void TResourceTableModel::CellsChanged(int row, int firstCol, int lastCol) {
    if (row < 1 || row > Rows_) return;
    emit dataChanged(index(row - 1, firstCol), index(row - 1, lastCol), {Qt::DisplayRole});
}

TDisplayResourceTable::TDisplayResourceTable(const TResourceTable& table, QWidget* parent)
    : QTableView(parent), Model_(new TResourceTableModel(table, this)) {
    setObjectName("DisplayResourceTable");
    setModel(Model_);
    setToolTip("Press F1 or right mouse button for help.");
    setProperty("helpContext", 197);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(22);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(0);
    setStyleSheet("QTableView { background: black; gridline-color: #404040; }");
    const int widths[] = {10, 101, 76, 77, 93};
    for (int c = 0; c < 5; ++c) setColumnWidth(c, widths[c]);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit SelectionMoved(current.row() + 1); });
}

int TDisplayResourceTable::SelectedRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : (Model_->rowCount() > 0 ? 1 : 0);
}

void TDisplayResourceTable::SelectRow(int gridRow) {
    if (gridRow >= 1 && gridRow <= Model_->rowCount()) selectRow(gridRow - 1);
}

void TDisplayResourceTable::SetRowCount(int) {
    const int selected = SelectedRow();
    Model_->Reset();
    SelectRow(std::min(selected, Model_->rowCount()));
}

void TDisplayResourceTable::RepaintCells(int row, int firstCol, int lastCol) {
    Model_->CellsChanged(row, firstCol, lastCol);
}

void TDisplayResourceTable::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // The header row and the rows below have their own help.
        const bool header = event->position().y() < horizontalHeader()->height();
        ShowContextHelp(this, header ? 123 : 197, event->globalPosition().toPoint());
        return;
    }
    QTableView::mousePressEvent(event);
}

}  // namespace tarvik
