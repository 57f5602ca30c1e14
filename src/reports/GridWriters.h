#pragma once

#include <QIODevice>
#include <QStringList>
#include <QVector>

#include <functional>

namespace dagl {

// What a grid shows, as the export writers take it: the visible columns' titles, the cell
// texts exactly as the grid shows them, and the footer row.
struct GridTable
{
    QStringList titles;
    int rowCount = 0;
    std::function<QString(int row, int column)> cell;
    QStringList footer;    // one text per column, "" for an empty footer cell
    QVector<bool> numeric; // per column: an integer column
};

enum class ExportFormat { Text = 1, Csv = 2, Html = 3, Rtf = 4, Xls = 5 };

// Writes the table to the device. Throws dagl::Error when the device fails.
void writeGrid(ExportFormat format, const GridTable &table, QIODevice &device);

// Writes the table to a file through a temporary file renamed into place, so a failure
// leaves no file posing as an export and keeps an existing one. Throws dagl::Error.
void writeGridFile(ExportFormat format, const GridTable &table, const QString &path);

} // namespace dagl
