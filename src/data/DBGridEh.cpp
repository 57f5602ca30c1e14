#include "DBGridEh.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <utility>

namespace dagl {

namespace {

const QColor kTitleColor(0xA6, 0xCA, 0xF0); // sky blue
const QColor kCellColor(0xFF, 0xFB, 0xF0); // cream
const QColor kLineColor(0x80, 0x80, 0x80);

// Draws the raised cell of a title or footer with its text.
void paintCell(QPainter &painter, const QRect &rect, const QColor &fill, const QString &text, Qt::Alignment alignment,
    int rightInset = 0)
{
    painter.fillRect(rect, fill);
    painter.setPen(Qt::white);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(kLineColor);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
    const QRect textRect = rect.adjusted(3, 0, -3 - rightInset, 0);
    painter.setPen(Qt::black);
    painter.drawText(textRect, int(alignment | Qt::AlignVCenter),
        painter.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
}

} // namespace

// Title cells in the grid's colours with the sort marker arrow. The view never sorts by
// itself: the marker changes only through setMarker.
class DBGridEhHeader : public QHeaderView {
public:
    explicit DBGridEhHeader(QWidget *parent)
        : QHeaderView(Qt::Horizontal, parent)
    {
        setSortIndicatorShown(false);
        setHighlightSections(false);
        setDefaultAlignment(Qt::AlignCenter);
    }

    void setMarker(int column, DBGridEh::SortMarker marker)
    {
        if (marker == DBGridEh::SortMarker::None) {
            if (column != m_column)
                return;
            m_column = -1;
        } else {
            m_column = column;
        }
        m_marker = marker;
        viewport()->update();
    }
    DBGridEh::SortMarker marker(int column) const
    {
        return column == m_column && column >= 0 ? m_marker : DBGridEh::SortMarker::None;
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        if (!rect.isValid())
            return;
        painter->save();
        const DBGridEh::SortMarker mark = marker(logicalIndex);
        const int arrow = mark == DBGridEh::SortMarker::None ? 0 : 12;
        const QString text = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
        paintCell(*painter, rect, kTitleColor, text, Qt::AlignHCenter, arrow);
        if (arrow) {
            // Down: ascending, Up: descending.
            const QPointF c(rect.right() - 8, rect.center().y());
            QPainterPath path;
            if (mark == DBGridEh::SortMarker::Down) {
                path.moveTo(c.x() - 4, c.y() - 2);
                path.lineTo(c.x() + 4, c.y() - 2);
                path.lineTo(c.x(), c.y() + 3);
            } else {
                path.moveTo(c.x() - 4, c.y() + 3);
                path.lineTo(c.x() + 4, c.y() + 3);
                path.lineTo(c.x(), c.y() - 2);
            }
            path.closeSubpath();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->fillPath(path, kLineColor.darker(150));
        }
        painter->restore();
    }

private:
    int m_column = -1;
    DBGridEh::SortMarker m_marker = DBGridEh::SortMarker::None;
};

namespace {

// The footer row under the table: one cell per column, following the columns' widths,
// order and horizontal scroll.
class FooterStrip : public QWidget {
public:
    explicit FooterStrip(DBGridEh *grid)
        : QWidget(grid)
        , m_grid(grid)
    {
        setObjectName(QStringLiteral("footer"));
        setAutoFillBackground(false);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kTitleColor);
        const QHeaderView *header = m_grid->horizontalHeader();
        const int offset = m_grid->viewport()->x() - x();
        painter.setClipRect(QRect(offset, 0, width() - offset, height()));
        for (const int column : m_grid->visibleColumns()) {
            const QRect cell(
                offset + header->sectionViewportPosition(column), 0, header->sectionSize(column), height());
            if (cell.right() < offset || cell.left() > width())
                continue;
            paintCell(painter, cell, kCellColor, m_grid->footerText(column), m_grid->footerCell(column).alignment);
        }
    }

private:
    DBGridEh *m_grid;
};

// Ctrl+Tab and Ctrl+Shift+Tab of a grid that Tab leaves: the next or previous cell.
class CellByCellKeys : public QObject {
public:
    explicit CellByCellKeys(QTableView *grid)
        : QObject(grid)
        , m_grid(grid)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_grid || event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (!tab || !(key->modifiers() & Qt::ControlModifier))
            return false;
        const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
        step(back ? -1 : 1);
        return true;
    }

private:
    void step(int by)
    {
        const QAbstractItemModel *model = m_grid->model();
        if (!model)
            return;
        const int rows = model->rowCount();
        const int columns = model->columnCount();
        if (rows <= 0 || columns <= 0)
            return;
        const QModelIndex current = m_grid->currentIndex();
        qint64 at = current.isValid() ? qint64(current.row()) * columns + current.column() + by : 0;
        const qint64 cells = qint64(rows) * columns;
        // Hidden columns are passed over; the first and last cells stay where they are.
        while (at >= 0 && at < cells && m_grid->isColumnHidden(int(at % columns)))
            at += by;
        if (at < 0 || at >= cells)
            return;
        m_grid->setCurrentIndex(model->index(int(at / columns), int(at % columns)));
    }

    QTableView *m_grid;
};

} // namespace

void takeOneTabStop(QTableView *grid)
{
    grid->setTabKeyNavigation(false);
    grid->installEventFilter(new CellByCellKeys(grid));
}

DBGridEh::DBGridEh(QWidget *parent)
    : DBGrid(parent)
    , m_header(new DBGridEhHeader(this))
    , m_footer(new FooterStrip(this))
{
    setHorizontalHeader(m_header);
    m_header->setSectionsClickable(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    setWordWrap(false);
    takeOneTabStop(this);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, kCellColor);
    colours.setColor(QPalette::AlternateBase, kCellColor);
    setPalette(colours);
    // The program's style sheet gives tables a white ground, which a palette cannot
    // override: the grid's own sheet keeps its cells cream.
    setStyleSheet(
        QStringLiteral("QTableView { background: %1; alternate-background-color: %1; }").arg(kCellColor.name()));

    connect(m_header, &QHeaderView::sectionClicked, this, [this](int column) {
        if (m_titleButtons)
            emit titleClicked(column);
    });
    auto repaintFooter = [this] { m_footer->update(); };
    connect(m_header, &QHeaderView::sectionResized, this, repaintFooter);
    connect(m_header, &QHeaderView::sectionMoved, this, repaintFooter);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, repaintFooter);
    DatasetModel *rows = datasetModel();
    connect(rows, &QAbstractItemModel::modelReset, this, repaintFooter);
    connect(rows, &QAbstractItemModel::rowsInserted, this, repaintFooter);
    connect(rows, &DatasetModel::rowsComplete, this, repaintFooter);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, repaintFooter);
    connect(rows, &QAbstractItemModel::layoutChanged, this, repaintFooter);
}

DBGridEh::~DBGridEh() = default;

void DBGridEh::setFooter(const QVector<FooterCell> &cells)
{
    m_footerCells = cells;
    m_footer->update();
}

DBGridEh::FooterCell DBGridEh::footerCell(int column) const
{
    return column >= 0 && column < m_footerCells.size() ? m_footerCells[column] : FooterCell();
}

QString DBGridEh::footerText(int column) const
{
    const FooterCell cell = footerCell(column);
    switch (cell.kind) {
    case FooterCell::Kind::Text:
        return cell.text;
    case FooterCell::Kind::RecordCount:
        // Still counting while the rest of the rows are read.
        return QString::number(datasetModel()->rowCount())
            + (datasetModel()->rowsStillComing() ? QStringLiteral("…") : QString());
    case FooterCell::Kind::Empty:
        break;
    }
    return {};
}

QVector<int> DBGridEh::visibleColumns() const
{
    QVector<int> columns;
    for (int visual = 0; visual < m_header->count(); ++visual) {
        const int column = m_header->logicalIndex(visual);
        if (!m_header->isSectionHidden(column))
            columns << column;
    }
    return columns;
}

QStringList DBGridEh::footerTexts() const
{
    QStringList texts;
    for (const int column : visibleColumns())
        texts << footerText(column);
    return texts;
}

QStringList DBGridEh::titles() const
{
    QStringList texts;
    for (const int column : visibleColumns())
        texts << datasetModel()->headerData(column, Qt::Horizontal).toString();
    return texts;
}

DBGridEh::SortMarker DBGridEh::sortMarker(int column) const
{
    return m_header->marker(column);
}

void DBGridEh::setSortMarker(int column, SortMarker marker)
{
    m_header->setMarker(column, marker);
}

void DBGridEh::setTitleButtons(bool on)
{
    m_titleButtons = on;
    m_header->setSectionsClickable(on);
}

QVector<Dataset::Bookmark> DBGridEh::selectedBookmarks() const
{
    if (!rowsMarked())
        return {};
    // Walk the selected ranges rather than listing indexes: a select-all of a large table
    // is one range.
    QVector<std::pair<int, int>> spans;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection)
        spans.push_back({ range.top(), range.bottom() });
    std::sort(spans.begin(), spans.end());
    QVector<Dataset::Bookmark> bookmarks;
    const Dataset *dataset = datasetModel()->dataset();
    if (!dataset)
        return bookmarks;
    int next = 0;
    for (const auto &span : std::as_const(spans)) {
        for (int row = std::max(span.first, next); row <= span.second; ++row) {
            if (const Dataset::Bookmark mark = dataset->bookmarkAt(row))
                bookmarks.push_back(mark);
        }
        next = std::max(next, span.second + 1);
    }
    return bookmarks;
}

int DBGridEh::selectedCount() const
{
    if (!rowsMarked())
        return 0;
    QVector<std::pair<int, int>> spans;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection)
        spans.push_back({ range.top(), range.bottom() });
    std::sort(spans.begin(), spans.end());
    int count = 0;
    int next = 0;
    for (const auto &span : std::as_const(spans)) {
        const int from = std::max(span.first, next);
        if (span.second >= from)
            count += span.second - from + 1;
        next = std::max(next, span.second + 1);
    }
    return count;
}

void DBGridEh::selectAllRows()
{
    const DatasetModel *rows = datasetModel();
    if (rows->rowCount() == 0 || rows->columnCount() == 0)
        return;
    selectionModel()->select(
        QItemSelection(rows->index(0, 0), rows->index(rows->rowCount() - 1, rows->columnCount() - 1)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    setRowsMarked(true);
}

void DBGridEh::clearRowSelection()
{
    selectionModel()->clearSelection();
    setRowsMarked(false);
}

void DBGridEh::updateGeometries()
{
    DBGrid::updateGeometries();
    layoutFooter();
}

void DBGridEh::layoutFooter()
{
    // The footer takes the bottom of the viewport's room; the scroll range is then made
    // for the smaller viewport so the last row is never hidden under it.
    const int height = verticalHeader()->defaultSectionSize();
    const QMargins margins = viewportMargins();
    if (margins.bottom() != height)
        setViewportMargins(margins.left(), margins.top(), margins.right(), height);
    const QRect port = viewport()->geometry();
    const int left = frameWidth();
    m_footer->setGeometry(left, port.bottom() + 1, port.right() + 1 - left, height);
    m_footer->raise();
    m_footer->update();
}

} // namespace dagl
