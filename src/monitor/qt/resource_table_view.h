// DisplayResourceTable: the visible resource table, an owner-drawn grid of
// five columns. It holds no text of its own: every cell shows the same cell
// of the settings grid, so the measuring threads' display updates only need
// to repaint cells. Row 0 is the header (fixed while there are resources),
// column 0 the fixed marker column; the selected row carries a lime marker.
#pragma once

#include <QAbstractScrollArea>
#include <QAbstractTableModel>
#include <vector>

class QPainter;

namespace tarvik {

class TResourceTable;

// The table's default face: a narrow sans serif (Debian: fonts-liberation),
// in which a six-digit speed and every echo status text fit their columns at
// 8 points bold. Where it is missing, fontconfig offers its metric twin.
inline constexpr char NarrowFace[] = "Liberation Sans Narrow";

// The resource rows as an item model (grid row r is model row r - 1), for
// accessibility and for reading the table without painting it.
class TResourceTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TResourceTableModel(const TResourceTable& table, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Rows follow the settings grid.
    void Reset();
    void CellsChanged(int row, int firstCol, int lastCol);

  private:
    const TResourceTable& Table_;
    int Rows_ = 0;
};

class TDisplayResourceTable : public QAbstractScrollArea {
    Q_OBJECT
  public:
    static constexpr int ColCount = 5;
    static constexpr int GridLineWidth = 2;
    static constexpr int DefaultRowHeight = 22;

    TDisplayResourceTable(const TResourceTable& table, QWidget* parent = nullptr);

    // The selected resource row of the settings grid (0 when there is none).
    int SelectedRow() const;
    void SelectRow(int gridRow);
    void SetRowCount(int gridRows);  // follows the settings grid's row count
    int RowCount() const { return static_cast<int>(RowHeights_.size()); }
    // Row 0 is fixed whenever there is at least one resource.
    int FixedRows() const { return RowCount() > 1 ? 1 : 0; }
    // Repaints exactly the cells firstCol..lastCol of a row.
    void RepaintCells(int row, int firstCol, int lastCol);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    // The built-in column widths.
    static constexpr int BuiltInColWidths[ColCount] = {10, 101, 76, 77, 93};
    // The texts a column is made to show whole: its header, the widest speed
    // text and the status texts that reach it (an address is as long as the
    // user made it; the long look-up failures stay cut and show whole in the
    // cell's tooltip).
    static QStringList ColumnTexts(int col, bool header);
    // A column's default width in the table's font: the built-in width, or
    // wider where one of its texts would be cut.
    int FittingColWidth(int col) const;
    // The room a text has in a cell of a column: data rows, header row.
    static int DataTextRoom(int colWidth) { return colWidth - 2 * GridLineWidth; }
    static int HeaderTextRoom(int colWidth) { return colWidth - 4 * GridLineWidth; }
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    // The first scrolled row and column shown after the fixed ones.
    int TopRow() const { return TopRow_; }
    int LeftCol() const { return LeftCol_; }
    // A cell's rectangle on the viewport; empty when it is scrolled away.
    QRect CellRect(int col, int row) const;
    TResourceTableModel* Model() const { return Model_; }

    // Draws one cell into its rectangle.
    void DisplayResourceTableDrawCell(QPainter& p, int col, int row, const QRect& rect);

  signals:
    void SelectionMoved(int gridRow);
    // The row marker was drawn: the application title follows the selection.
    void MarkerDrawn(int gridRow);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // A cell whose text is cut shows the whole text as its tooltip.
    bool viewportEvent(QEvent* event) override;

  private:
    void DrawDataCell(QPainter& p, int col, int row, const QRect& rect);
    void DrawHeaderCell(QPainter& p, int col, const QRect& rect);
    // Left edge of a column / top edge of a row on the viewport; -1 when scrolled away.
    int ColLeft(int col) const;
    int RowTop(int row) const;
    // The cell under a viewport point; -1 parts where there is none.
    QPoint CellAt(const QPoint& pos) const;
    // Sizing handles: the column whose right border / the row whose bottom
    // border lies under pos (in the header row / the marker column), or -1.
    int ColBorderAt(const QPoint& pos) const;
    int RowBorderAt(const QPoint& pos) const;
    void UpdateScrollBars();
    void MakeRowVisible(int row);
    void MoveSelection(int row);
    int RowsPerPage() const;

    const TResourceTable& Table_;
    TResourceTableModel* Model_;
    int ColWidths_[ColCount] = {BuiltInColWidths[0], BuiltInColWidths[1], BuiltInColWidths[2],
                                BuiltInColWidths[3], BuiltInColWidths[4]};
    std::vector<int> RowHeights_;
    int Current_ = 0;  // the grid's current row
    int TopRow_ = 0;
    int LeftCol_ = 1;
    // Border being dragged: column or row, with the size and position it started from.
    int SizingCol_ = -1, SizingRow_ = -1;
    int SizingStart_ = 0, SizingOrigin_ = 0;
};

}  // namespace tarvik
