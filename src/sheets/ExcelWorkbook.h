#pragma once

#include "SheetData.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>

namespace dagl {

class BiffReader;
class XlsxReader;

// The workbook driver of the import: reads the worksheets of an Excel workbook, Excel
// 97-2003 (.xls) or Excel 2007 and later (.xlsx), told apart by their content, as tables. A
// worksheet's table name is the sheet name followed by "$"; its first row gives the column
// headings (an empty heading cell is named F<n>), the rows below are the data. Cells come as
// QVariant: no value for an empty cell, text, a whole number (qlonglong), a number (double),
// a date (QDate), a date and time (QDateTime), a time (QTime) or a truth value (bool); a
// formula gives its last calculated result, an error result as its text ("#DIV/0!"). A column
// holding any text gives its numbers as text, as the engine's driver reads mixed columns;
// dates stay dates. Every failure throws dagl::Error with a message in plain words.
class ExcelWorkbook {
public:
    ExcelWorkbook();
    ~ExcelWorkbook();
    ExcelWorkbook(const ExcelWorkbook &) = delete;
    ExcelWorkbook &operator=(const ExcelWorkbook &) = delete;

    // Opens the workbook; the first worksheet, if any, is selected.
    void open(const QString &path, const WorkbookLimits &limits = {});
    // The same for a workbook's bytes; `shownName` names it in messages.
    void openData(const QByteArray &data, const QString &shownName, const WorkbookLimits &limits = {});
    void close();
    bool isOpen() const { return m_biff || m_xlsx; }
    const QString &path() const { return m_path; }

    // Worksheet table names ("Sheet1$"), in the workbook's order.
    QStringList tableNames() const;

    // Makes a worksheet the one read below, by its table name with or without "$" and the
    // square brackets of a statement ("[Sheet1$]").
    void selectTable(const QString &tableName);
    const QString &selectedTable() const { return m_table; }

    const QStringList &headings() const { return m_headings; }
    int columnCount() const { return int(m_headings.size()); }
    int rowCount() const { return m_rows; } // data rows, below the headings
    // The cell of a data row (from 0) and column (from 0). A formula stored without its
    // result throws, naming the cell.
    QVariant cell(int row, int column) const;

    // A cell's text form: numbers without a needless fraction (12, not 12.0), dates in the
    // system's short date format, truth values as TRUE and FALSE, no value as the empty text.
    static QString textOf(const QVariant &value);

private:
    QVariant valueOf(const SheetCell &cell) const;
    QString damaged(const QString &detail) const;
    [[noreturn]] void refuse(const WorkbookFault &fault) const;

    std::unique_ptr<BiffReader> m_biff;
    std::unique_ptr<XlsxReader> m_xlsx;
    std::optional<SheetData> m_sheet;
    QString m_path;
    QStringList m_sheetNames;
    QString m_table;
    QStringList m_headings;
    QVector<bool> m_textColumns;
    int m_rows = 0;
};

} // namespace dagl
