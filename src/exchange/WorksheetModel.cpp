#include "WorksheetModel.h"

#include "Error.h"
#include "ExcelWorkbook.h"

namespace dagl {

WorksheetModel::WorksheetModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void WorksheetModel::setWorkbook(const ExcelWorkbook *workbook)
{
    beginResetModel();
    m_workbook = workbook;
    const bool shown = workbook && workbook->isOpen();
    m_rows = shown ? workbook->rowCount() : 0;
    m_columns = shown ? workbook->columnCount() : 0;
    endResetModel();
}

int WorksheetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int WorksheetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant WorksheetModel::data(const QModelIndex &index, int role) const
{
    if (!m_workbook || !index.isValid() || index.row() >= m_rows || index.column() >= m_columns)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    try {
        return ExcelWorkbook::textOf(m_workbook->cell(index.row(), index.column()));
    } catch (const Error &) {
        return {}; // an unreadable cell shows empty; the import names it
    }
}

QVariant WorksheetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 2; // the worksheet row, as the failure list names it
    if (!m_workbook || section < 0 || section >= m_columns)
        return {};
    return QStringLiteral("%1:%2").arg(section + 1).arg(m_workbook->headings().at(section));
}

} // namespace dagl
