#pragma once

#include <QString>
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

} // namespace dagl
