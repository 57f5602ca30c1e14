#include "DatasetModel.h"

#include "Dataset.h"
#include "Error.h"

#include <QDebug>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

namespace dagl {

DatasetModel::DatasetModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void DatasetModel::setDataset(Dataset *dataset)
{
    if (m_dataset)
        disconnect(m_dataset, nullptr, this, nullptr);
    m_dataset = dataset;
    if (dataset) {
        connect(dataset, &Dataset::rowsReset, this, &DatasetModel::reset);
        // The dataset tells of a row after it came or went; between begin and end the
        // model still answers with the rows as they were before.
        connect(dataset, &Dataset::rowInserted, this, [this](int row) {
            m_shiftFrom = row;
            m_shift = 1;
            beginInsertRows({}, row, row);
            m_shift = 0;
            ++m_rows;
            endInsertRows();
        });
        // Rows read after the result opened come at its end.
        connect(dataset, &Dataset::rowsAppended, this, [this](int first, int last) {
            if (last >= first) {
                beginInsertRows({}, m_rows, m_rows + last - first);
                m_rows += last - first + 1;
                endInsertRows();
            }
            if (m_dataset->allRowsRead())
                emit rowsComplete();
        });
        connect(dataset, &Dataset::rowRemoved, this, [this](int row) {
            m_shiftFrom = row;
            m_shift = -1;
            beginRemoveRows({}, row, row);
            m_shift = 0;
            --m_rows;
            endRemoveRows();
        });
        connect(dataset, &Dataset::rowChanged, this, [this](int row) {
            if (row >= 0 && row < m_rows && columnCount() > 0)
                emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        });
    }
    reset();
}

void DatasetModel::setColumns(const QVector<Column> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

void DatasetModel::reset()
{
    beginResetModel();
    m_rows = m_dataset ? m_dataset->recordCount() : 0;
    m_fieldColumns = m_dataset && m_dataset->isOpen() ? m_dataset->fieldCount() : 0;
    endResetModel();
}

bool DatasetModel::rowsStillComing() const
{
    return m_dataset && !m_dataset->allRowsRead();
}

QString DatasetModel::fieldAt(int column) const
{
    if (!m_columns.isEmpty())
        return column >= 0 && column < m_columns.size() ? m_columns[column].field : QString();
    return m_dataset && column >= 0 && column < m_fieldColumns ? m_dataset->fieldDef(column).name : QString();
}

DatasetModel::Column DatasetModel::columnAt(int column) const
{
    if (!m_columns.isEmpty() && column >= 0 && column < m_columns.size())
        return m_columns[column];
    return { fieldAt(column), fieldAt(column) };
}

int DatasetModel::fieldIndexOf(int column) const
{
    if (!m_dataset || !m_dataset->isOpen())
        return -1;
    return m_columns.isEmpty() ? column : m_dataset->fieldIndex(fieldAt(column));
}

int DatasetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DatasetModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_columns.isEmpty() ? m_fieldColumns : int(m_columns.size());
}

QVariant DatasetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.column() >= columnCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const bool computed = !m_columns.isEmpty() && m_columns[index.column()].isComputed();
    const int field = computed ? -1 : fieldIndexOf(index.column());
    if (!computed && field < 0)
        return {};
    if (!m_dataset || !m_dataset->isOpen())
        return {};
    int row = index.row();
    if (m_shift > 0 && row >= m_shiftFrom)
        ++row;
    else if (m_shift < 0 && row == m_shiftFrom)
        return {};
    else if (m_shift < 0 && row > m_shiftFrom)
        --row;
    if (!computed)
        return m_dataset->textAt(row, field);
    // Read from the row's page like any other cell: no statement of its own.
    const Column &column = m_columns[index.column()];
    QStringList texts;
    for (const QString &input : column.inputs) {
        const int at = m_dataset->fieldIndex(input);
        texts << (at < 0 ? QString() : m_dataset->textAt(row, at));
    }
    return column.compute(texts);
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (!m_columns.isEmpty())
        return section < m_columns.size() ? m_columns[section].title : QVariant();
    return fieldAt(section);
}

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new DatasetModel(this))
{
    setModel(m_model);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (currentIndex().isValid())
            m_keptColumn = currentIndex().column();
    });
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows all of one height: nothing is measured per row, however many there are.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(22);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex &current) {
        Dataset *dataset = m_model->dataset();
        if (m_following || !dataset || !current.isValid() || current.row() == dataset->currentRow())
            return;
        if (dataset->isEditing()) {
            followDataset(dataset->currentRow());
            return;
        }
        // The grid is already on the row: the selection being made there stays as it is.
        m_following = true;
        try {
            dataset->moveTo(current.row());
            m_following = false;
        } catch (const Error &error) {
            m_following = false;
            qWarning().noquote() << objectName() << error.message();
            followDataset(dataset->currentRow());
        }
    });
}

void DBGrid::setDataset(Dataset *dataset, const QVector<DatasetModel::Column> &columns)
{
    m_model->setColumns(columns);
    m_model->setDataset(dataset);
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &DBGrid::followDataset);
        connect(dataset, &Dataset::rowsReset, this, [this, dataset] { followDataset(dataset->currentRow()); });
        followDataset(dataset->currentRow());
    }
}

bool DBGrid::rowLocked() const
{
    const Dataset *dataset = m_model->dataset();
    return dataset && dataset->isEditing();
}

QItemSelectionModel::SelectionFlags DBGrid::selectionCommand(const QModelIndex &index, const QEvent *event) const
{
    if (rowLocked())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QTableView::selectionCommand(index, event);
    if (!event || command == QItemSelectionModel::NoUpdate)
        return command;
    Qt::KeyboardModifiers modifiers;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        modifiers = static_cast<const QMouseEvent *>(event)->modifiers();
        break;
    case QEvent::KeyPress:
        modifiers = static_cast<const QKeyEvent *>(event)->modifiers();
        break;
    default:
        return command;
    }
    // Dragging over other rows marks them as a Shift-click would.
    const bool dragged = event->type() == QEvent::MouseMove && index.row() != currentIndex().row();
    if (modifiers & (Qt::ControlModifier | Qt::ShiftModifier))
        m_marked = true;
    else if (dragged)
        m_marked = true;
    else if (event->type() != QEvent::MouseMove)
        m_marked = false;
    return command;
}

void DBGrid::selectAll()
{
    QTableView::selectAll();
    m_marked = true;
}

void DBGrid::followDataset(int row)
{
    if (m_following)
        return;
    m_following = true;
    if (row >= 0 && row < m_model->rowCount()) {
        // A reset (a sort, a new result) loses the current cell: its column is kept, and
        // the columns in view stay in view, so a sorted column does not scroll away.
        const int column = currentIndex().isValid() ? currentIndex().column() : m_keptColumn;
        const QModelIndex index = m_model->index(row, std::max(0, column));
        if (index != currentIndex() || !selectionModel()->hasSelection()) {
            m_marked = false;
            const int across = horizontalScrollBar()->value();
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            scrollTo(index);
            horizontalScrollBar()->setValue(across);
        }
    }
    m_following = false;
}

} // namespace dagl
