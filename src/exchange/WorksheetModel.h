#pragma once

#include <QAbstractTableModel>

namespace dagl {

class ExcelWorkbook;

// The selected worksheet of a workbook as a table for the preview grid. Cells are read
// when shown, so a large sheet costs no more than the rows on screen. Column titles are
// the column number, ":" and the heading ("3:题名"), the numbers the mapping uses.
class WorksheetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit WorksheetModel(QObject *parent = nullptr);

    // Shows the workbook's selected sheet; nullptr shows nothing. Call again after the
    // workbook changes.
    void setWorkbook(const ExcelWorkbook *workbook);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const ExcelWorkbook *m_workbook = nullptr;
    int m_rows = 0;
    int m_columns = 0;
};

} // namespace dagl
