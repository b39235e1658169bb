#include "monitor/qt/resource_table_view.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "engine/icmp_status.h"
#include "engine/resource_table.h"
#include "engine/speed_text.h"
#include "ui/colors_qt.h"
#include "ui/help.h"

namespace tarvik {
namespace {

constexpr int g = TDisplayResourceTable::GridLineWidth;
// Widths and heights beyond this are damaged settings, not a user's choice.
constexpr int kMaxExtent = 10000;

const QColor kLime(0x00, 0xFF, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
// Lines between data cells; lines at the header and marker cells are black.
const QColor kBodyLine(0xC0, 0xC0, 0xC0);

QColor TextColor(const TResourceTable& t, int col, int row) {
    if (col == 1) return kLime;
    if (col == 2) return ToQColor(t.Cell(colWriteColor, row), kYellow);
    return ToQColor(t.Cell(colReadColor, row), kLime);
}

}  // namespace

// ---- item model ------------------------------------------------------------------

TResourceTableModel::TResourceTableModel(const TResourceTable& table, QObject* parent)
    : QAbstractTableModel(parent), Table_(table), Rows_(table.RowCount() - 1) {}

int TResourceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows_;
}
int TResourceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : TDisplayResourceTable::ColCount;
}

QVariant TResourceTableModel::data(const QModelIndex& index, int role) const {
    const int row = index.row() + 1, col = index.column();
    if (role == Qt::DisplayRole && col >= 1) return QString::fromStdString(Table_.Cell(col, row));
    if (role == Qt::ForegroundRole && col >= 1) return TextColor(Table_, col, row);
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
    firstCol = std::max(firstCol, 0);
    lastCol = std::min(lastCol, TDisplayResourceTable::ColCount - 1);
    if (firstCol > lastCol) return;
    emit dataChanged(index(row - 1, firstCol), index(row - 1, lastCol), {Qt::DisplayRole});
}

// ---- the grid ------------------------------------------------------------------------

TDisplayResourceTable::TDisplayResourceTable(const TResourceTable& table, QWidget* parent)
    : QAbstractScrollArea(parent),
      Table_(table),
      Model_(new TResourceTableModel(table, this)),
      RowHeights_(std::max(1, table.RowCount()), DefaultRowHeight) {
    setObjectName("DisplayResourceTable");
    setToolTip("Press F1 or right mouse button for help.");
    setProperty("helpContext", 197);
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    Current_ = RowCount() > 1 ? 1 : 0;
    TopRow_ = FixedRows();
    UpdateScrollBars();
}

int TDisplayResourceTable::SelectedRow() const {
    if (Current_ >= 1 && Current_ < RowCount()) return Current_;
    return RowCount() > 1 ? 1 : 0;
}

void TDisplayResourceTable::SelectRow(int gridRow) {
    if (gridRow >= 1 && gridRow < RowCount()) MoveSelection(gridRow);
}

void TDisplayResourceTable::SetRowCount(int gridRows) {
    const int before = SelectedRow();
    RowHeights_.resize(static_cast<std::size_t>(std::max(1, gridRows)), DefaultRowHeight);
    Current_ = RowCount() > 1 ? std::clamp(std::max(Current_, 1), 1, RowCount() - 1) : 0;
    Model_->Reset();
    UpdateScrollBars();
    MakeRowVisible(Current_);
    viewport()->update();
    if (Current_ != before) emit SelectionMoved(Current_);
}

void TDisplayResourceTable::RepaintCells(int row, int firstCol, int lastCol) {
    Model_->CellsChanged(row, firstCol, lastCol);
    for (int c = std::max(firstCol, 0); c <= std::min(lastCol, ColCount - 1); ++c) {
        const QRect r = CellRect(c, row);
        if (!r.isEmpty()) viewport()->update(r);
    }
}

int TDisplayResourceTable::ColWidth(int col) const {
    return col >= 0 && col < ColCount ? ColWidths_[col] : 0;
}

void TDisplayResourceTable::SetColWidth(int col, int width) {
    if (col < 0 || col >= ColCount) return;
    ColWidths_[col] = std::clamp(width, 0, kMaxExtent);
    UpdateScrollBars();
    viewport()->update();
}

int TDisplayResourceTable::RowHeight(int row) const {
    return row >= 0 && row < RowCount() ? RowHeights_[static_cast<std::size_t>(row)] : 0;
}

void TDisplayResourceTable::SetRowHeight(int row, int height) {
    if (row < 0 || row >= RowCount()) return;
    RowHeights_[static_cast<std::size_t>(row)] = std::clamp(height, 0, kMaxExtent);
    UpdateScrollBars();
    viewport()->update();
}

// ---- geometry ----------------------------------------------------------------------------

int TDisplayResourceTable::ColLeft(int col) const {
    if (col < 0 || col >= ColCount) return -1;
    if (col == 0) return 0;
    if (col < LeftCol_) return -1;
    int x = ColWidths_[0] + g;
    for (int c = LeftCol_; c < col; ++c) x += ColWidths_[c] + g;
    return x;
}

int TDisplayResourceTable::RowTop(int row) const {
    if (row < 0 || row >= RowCount()) return -1;
    const int fixed = FixedRows();
    int y = 0;
    if (row < fixed) {
        for (int r = 0; r < row; ++r) y += RowHeight(r) + g;
        return y;
    }
    if (row < TopRow_) return -1;
    for (int r = 0; r < fixed; ++r) y += RowHeight(r) + g;
    for (int r = TopRow_; r < row; ++r) y += RowHeight(r) + g;
    return y;
}

QRect TDisplayResourceTable::CellRect(int col, int row) const {
    const int x = ColLeft(col), y = RowTop(row);
    if (x < 0 || y < 0) return {};
    return QRect(x, y, ColWidths_[col], RowHeight(row));
}

QPoint TDisplayResourceTable::CellAt(const QPoint& pos) const {
    QPoint cell(-1, -1);
    for (int c = 0; c < ColCount; ++c) {
        const int x = ColLeft(c);
        if (x >= 0 && pos.x() >= x && pos.x() < x + ColWidths_[c] + g) cell.setX(c);
    }
    for (int r = 0; r < RowCount(); ++r) {
        const int y = RowTop(r);
        if (y >= 0 && pos.y() >= y && pos.y() < y + RowHeight(r) + g) cell.setY(r);
    }
    return cell;
}

int TDisplayResourceTable::ColBorderAt(const QPoint& pos) const {
    // Columns are sized in the fixed header row only.
    if (FixedRows() == 0 || pos.y() < 0 || pos.y() >= RowHeight(0) + g) return -1;
    for (int c = 0; c < ColCount; ++c) {
        const int x = ColLeft(c);
        if (x < 0) continue;
        const int border = x + ColWidths_[c];
        if (pos.x() >= border - 2 && pos.x() < border + g + 2) return c;
    }
    return -1;
}

int TDisplayResourceTable::RowBorderAt(const QPoint& pos) const {
    // Rows are sized in the fixed marker column only.
    if (pos.x() < 0 || pos.x() >= ColWidths_[0] + g) return -1;
    for (int r = 0; r < RowCount(); ++r) {
        const int y = RowTop(r);
        if (y < 0) continue;
        const int border = y + RowHeight(r);
        if (pos.y() >= border - 2 && pos.y() < border + g + 2) return r;
    }
    return -1;
}

void TDisplayResourceTable::UpdateScrollBars() {
    const int fixed = FixedRows();
    const int last = RowCount() - 1;
    // The highest top row that still fills the view down to the last row.
    int fixedHeight = 0;
    for (int r = 0; r < fixed; ++r) fixedHeight += RowHeight(r) + g;
    const int rowRoom = viewport()->height() - fixedHeight;
    int maxTop = std::max(last, fixed);
    for (int acc = RowHeight(last) + g; maxTop - 1 >= fixed;) {
        acc += RowHeight(maxTop - 1) + g;
        if (acc > rowRoom) break;
        --maxTop;
    }
    verticalScrollBar()->setRange(0, std::max(0, maxTop - fixed));
    verticalScrollBar()->setPageStep(RowsPerPage());
    verticalScrollBar()->setSingleStep(1);
    TopRow_ = fixed + verticalScrollBar()->value();

    const int colRoom = viewport()->width() - (ColWidths_[0] + g);
    int maxLeft = ColCount - 1;
    for (int acc = ColWidths_[ColCount - 1] + g; maxLeft - 1 >= 1;) {
        acc += ColWidths_[maxLeft - 1] + g;
        if (acc > colRoom) break;
        --maxLeft;
    }
    horizontalScrollBar()->setRange(0, maxLeft - 1);
    horizontalScrollBar()->setPageStep(1);
    horizontalScrollBar()->setSingleStep(1);
    LeftCol_ = 1 + horizontalScrollBar()->value();
}

int TDisplayResourceTable::RowsPerPage() const {
    int rows = 0;
    for (int r = TopRow_; r < RowCount(); ++r) {
        const int y = RowTop(r);
        if (y < 0 || y + RowHeight(r) > viewport()->height()) break;
        ++rows;
    }
    return std::max(1, rows);
}

void TDisplayResourceTable::MakeRowVisible(int row) {
    const int fixed = FixedRows();
    if (row < fixed || row >= RowCount()) return;
    if (row < TopRow_) {
        verticalScrollBar()->setValue(row - fixed);
        return;
    }
    const int y = RowTop(row);
    if (y >= 0 && y + RowHeight(row) <= viewport()->height()) return;
    // Scroll just far enough that the row ends inside the view.
    int fixedHeight = 0;
    for (int r = 0; r < fixed; ++r) fixedHeight += RowHeight(r) + g;
    const int room = viewport()->height() - fixedHeight;
    int top = row;
    for (int acc = RowHeight(row) + g; top - 1 >= fixed;) {
        acc += RowHeight(top - 1) + g;
        if (acc > room) break;
        --top;
    }
    verticalScrollBar()->setValue(top - fixed);
}

void TDisplayResourceTable::MoveSelection(int row) {
    if (RowCount() < 2) return;
    row = std::clamp(row, 1, RowCount() - 1);
    MakeRowVisible(row);
    if (row == Current_) return;
    Current_ = row;
    // The whole grid is repainted so that the marker leaves its old row.
    viewport()->update();
    emit SelectionMoved(row);
}

void TDisplayResourceTable::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TDisplayResourceTable::scrollContentsBy(int, int) {
    TopRow_ = FixedRows() + verticalScrollBar()->value();
    LeftCol_ = 1 + horizontalScrollBar()->value();
    viewport()->update();
}

// ---- column widths -----------------------------------------------------------------------

QStringList TDisplayResourceTable::ColumnTexts(int col, bool header) {
    static const char* const headers[ColCount] = {"", "Resource", "Write speed", "Read speed",
                                                  "Ping speed"};
    if (col < 0 || col >= ColCount) return {};
    if (header) return {QString::fromLatin1(headers[col])};
    if (col < 2) return {};
    // Every digit of the speed field, and the widest one in every place.
    QStringList texts;
    for (int d = '0'; d <= '9'; ++d)
        texts << QString::fromStdString(FormatSpeed((d - '0') * 111111.11));
    texts << "Testing...";
    if (col < 4) {
        texts << "I/O error.";
        return texts;
    }
    // Every echo status but the rare "TTL expired in reassembly", which
    // would widen the columns past a table with a vertical scroll bar.
    for (std::int32_t code = 11001; code <= 11050; ++code)
        if (const auto text = IcmpStatusText(code); !text.empty() && code != 11014)
            texts << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // The look-up failures a user meets most; the long ones stay cut.
    for (std::int32_t code : {11001, 11004, 10049, 10051, 10065})
        texts << QString::fromUtf8(SocketErrorText(code).data(),
                                   static_cast<qsizetype>(SocketErrorText(code).size()));
    return texts;
}

int TDisplayResourceTable::FittingColWidth(int col) const {
    if (col < 0 || col >= ColCount) return 0;
    const QFontMetrics fm(font());
    int width = BuiltInColWidths[col];
    for (const QString& t : ColumnTexts(col, true))
        width = std::max(width, fm.horizontalAdvance(t) + (width - HeaderTextRoom(width)));
    for (const QString& t : ColumnTexts(col, false))
        width = std::max(width, fm.horizontalAdvance(t) + (width - DataTextRoom(width)));
    return width;
}

bool TDisplayResourceTable::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QPoint cell = CellAt(help->pos());
        if (cell.x() >= 1 && cell.y() >= 1 && cell.y() < RowCount()) {
            const QString text = QString::fromStdString(Table_.Cell(cell.x(), cell.y()));
            if (fontMetrics().horizontalAdvance(text) > DataTextRoom(ColWidths_[cell.x()])) {
                QToolTip::showText(help->globalPos(), text, viewport());
                return true;
            }
        }
        QToolTip::showText(help->globalPos(), toolTip(), viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

// ---- painting ------------------------------------------------------------------------------

void TDisplayResourceTable::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const QRect dirty = event->rect();
    p.fillRect(dirty, Qt::black);
    p.setFont(font());
    const int vw = viewport()->width(), vh = viewport()->height();
    std::vector<int> rows, cols;
    for (int r = 0; r < FixedRows(); ++r) rows.push_back(r);
    for (int r = TopRow_; r < RowCount(); ++r) rows.push_back(r);
    cols.push_back(0);
    for (int c = LeftCol_; c < ColCount; ++c) cols.push_back(c);
    for (const int r : rows) {
        const int y = RowTop(r);
        if (y >= vh) break;
        for (const int c : cols) {
            const int x = ColLeft(c);
            if (x >= vw) break;
            const QRect cell(x, y, ColWidths_[c], RowHeight(r));
            if (!dirty.intersects(cell.adjusted(0, 0, g, g))) continue;
            const QColor line = r == 0 || c == 0 ? QColor(Qt::black) : kBodyLine;
            p.fillRect(cell.right() + 1, y, g, cell.height() + g, line);
            p.fillRect(x, cell.bottom() + 1, cell.width(), g, line);
            if (cell.isEmpty()) continue;
            p.save();
            p.setClipRect(cell);
            DisplayResourceTableDrawCell(p, c, r, cell);
            p.restore();
        }
    }
}

void TDisplayResourceTable::DisplayResourceTableDrawCell(QPainter& p, int col, int row,
                                                         const QRect& rect) {
    if (row == 0)
        DrawHeaderCell(p, col, rect);
    else
        DrawDataCell(p, col, row, rect);
}

void TDisplayResourceTable::DrawDataCell(QPainter& p, int col, int row, const QRect& rect) {
    p.fillRect(rect, Qt::black);
    if (col >= 1) {
        p.setPen(TextColor(Table_, col, row));
        // One line from the top left, cut at the cell's edge; no wrapping,
        // no ellipsis (a line break in the text still starts a new line).
        p.drawText(rect.adjusted(g, g, -g, -g), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(Table_.Cell(col, row)));
        return;
    }
    if (row != SelectedRow()) return;
    const int left = rect.left() + 2 * g;
    const int top = rect.top() + 2 * g;
    const int bottom = rect.top() + rect.height() - 2 * g;
    const QPolygon marker(
        {QPoint(left, top), QPoint(left + 5, top + (bottom - top) / 2), QPoint(left, bottom)});
    p.setPen(QPen(kLime, 1));
    p.setBrush(kLime);
    p.drawPolygon(marker);
    p.setBrush(Qt::NoBrush);
    emit MarkerDrawn(row);
}

void TDisplayResourceTable::DrawHeaderCell(QPainter& p, int col, const QRect& rect) {
    p.fillRect(rect, palette().color(QPalette::Button));
    const int s = g / 2;
    // Edges as the grid counts them: right and bottom lie just past the cell.
    const int left = rect.left(), top = rect.top();
    const int right = left + rect.width(), bottom = top + rect.height();
    const QPen light(palette().color(QPalette::Base), g, Qt::SolidLine, Qt::SquareCap,
                     Qt::MiterJoin);
    const QPen shadow(palette().color(QPalette::Dark), g, Qt::SolidLine, Qt::SquareCap,
                      Qt::MiterJoin);
    if (col == 0) {
        p.setPen(light);
        p.drawLine(right, top + s, left + s, top + s);
        p.setPen(shadow);
        p.drawLine(right - s, bottom - s, left, bottom - s);
        return;
    }
    p.setPen(light);
    if (col == 1)
        p.drawLine(right - s, top + s, left + s, top + s);
    else
        p.drawPolyline(QPolygon(
            {QPoint(right - s, top + s), QPoint(left + s, top + s), QPoint(left + s, bottom - s)}));
    p.setPen(shadow);
    p.drawPolyline(QPolygon(
        {QPoint(right - s, top), QPoint(right - s, bottom - s), QPoint(left, bottom - s)}));

    // Raised letters: the text in black, then in white one pixel up and left.
    QRect text(QPoint(left + 2 * g, top + 2), QPoint(right - 2 * g - 1, bottom + 1 - 2 * g - 1));
    const QString caption = QString::fromStdString(Table_.Cell(col, 0));
    p.setPen(Qt::black);
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, caption);
    text.translate(-1, -1);
    p.setPen(Qt::white);
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, caption);
}

// ---- input -----------------------------------------------------------------------------------

void TDisplayResourceTable::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        // The header row and the rows below have their own help.
        const bool header = pos.y() < RowHeight(0);
        ShowContextHelp(this, header ? 123 : 197, event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (const int c = ColBorderAt(pos); c >= 0) {
        SizingCol_ = c;
        SizingStart_ = ColWidths_[c];
        SizingOrigin_ = pos.x();
        return;
    }
    if (const int r = RowBorderAt(pos); r >= 0) {
        SizingRow_ = r;
        SizingStart_ = RowHeight(r);
        SizingOrigin_ = pos.y();
        return;
    }
    const QPoint cell = CellAt(pos);
    if (cell.y() >= std::max(FixedRows(), 1)) MoveSelection(cell.y());
}

void TDisplayResourceTable::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (SizingCol_ >= 0) {
        SetColWidth(SizingCol_, SizingStart_ + pos.x() - SizingOrigin_);
        return;
    }
    if (SizingRow_ >= 0) {
        SetRowHeight(SizingRow_, SizingStart_ + pos.y() - SizingOrigin_);
        return;
    }
    if (event->buttons() & Qt::LeftButton) {
        // Dragging with the button down moves the selection along.
        const QPoint cell = CellAt(pos);
        if (cell.y() >= std::max(FixedRows(), 1)) MoveSelection(cell.y());
        return;
    }
    if (ColBorderAt(pos) >= 0)
        viewport()->setCursor(Qt::SplitHCursor);
    else if (RowBorderAt(pos) >= 0)
        viewport()->setCursor(Qt::SplitVCursor);
    else
        viewport()->unsetCursor();
}

void TDisplayResourceTable::mouseReleaseEvent(QMouseEvent* event) {
    SizingCol_ = SizingRow_ = -1;
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TDisplayResourceTable::keyPressEvent(QKeyEvent* event) {
    const int row = SelectedRow();
    switch (event->key()) {
        case Qt::Key_Up:
            MoveSelection(row - 1);
            break;
        case Qt::Key_Down:
            MoveSelection(row + 1);
            break;
        case Qt::Key_PageUp:
            MoveSelection(row - RowsPerPage());
            break;
        case Qt::Key_PageDown:
            MoveSelection(row + RowsPerPage());
            break;
        case Qt::Key_Home:
            MoveSelection(1);
            break;
        case Qt::Key_End:
            MoveSelection(RowCount() - 1);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace tarvik
