// DisplayResourceTable: the visible resource table. It holds no text of its
// own: every cell shows the same cell of the settings grid, so the
// measuring threads' display updates only need to repaint cells.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

namespace tarvik {

class TResourceTable;

class TResourceTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TResourceTableModel(const TResourceTable& table, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Rows follow the settings grid (grid row r is model row r - 1).
    void Reset();
    void CellsChanged(int row, int firstCol, int lastCol);

private:
    const TResourceTable& Table_;
    int Rows_ = 0;
};

class TDisplayResourceTable : public QTableView {
    Q_OBJECT
public:
    TDisplayResourceTable(const TResourceTable& table, QWidget* parent = nullptr);
    // The selected resource row of the settings grid (0 when there is none).
    int SelectedRow() const;
    void SelectRow(int gridRow);
    void SetRowCount(int gridRows);  // follows the settings grid's row count
    void RepaintCells(int row, int firstCol, int lastCol);
    int ColWidth(int col) const { return columnWidth(col); }
    void SetColWidth(int col, int width) { setColumnWidth(col, width); }
    TResourceTableModel* Model() const { return Model_; }

signals:
    void SelectionMoved(int gridRow);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    TResourceTableModel* Model_;
};

}  // namespace tarvik
