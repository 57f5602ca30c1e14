#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace dagl {

// The engine's Excel driver: reads the worksheets of an Excel 97-2003 workbook (.xls) as
// tables. A worksheet's table name is the sheet name followed by "$"; its first row gives
// the column headings (an empty heading cell is named F<n>), the rows below are the data.
// Cells come as QVariant: no value for an empty cell, text, a whole number (qlonglong), a
// number (double), a date (QDate), a date and time (QDateTime) or a time (QTime). A column
// holding any text gives all its cells as text, as the driver reads mixed columns.
// Every failure throws dagl::Error with a message in plain words.
class ExcelWorkbook {
public:
    ExcelWorkbook() = default;
    ~ExcelWorkbook();
    ExcelWorkbook(const ExcelWorkbook &) = delete;
    ExcelWorkbook &operator=(const ExcelWorkbook &) = delete;

    // Opens the workbook; the first worksheet, if any, is selected.
    void open(const QString &path);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
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
    // The cell of a data row (from 0) and column (from 0).
    QVariant cell(int row, int column) const;

    // A cell's text form: numbers without a needless fraction (12, not 12.0), dates in the
    // system's short date format, no value as the empty text.
    static QString textOf(const QVariant &value);

private:
    QVariant rawCell(unsigned int row, unsigned short column) const;

    const void *m_handle = nullptr;
    QString m_path;
    QStringList m_sheetNames;
    QString m_table;
    QStringList m_headings;
    QVector<bool> m_textColumns;
    int m_rows = 0;
};

} // namespace dagl
