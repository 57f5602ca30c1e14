#pragma once

#include "DBGridEh.h"
#include "GridWriters.h"

#include <QString>

#include <optional>

namespace dagl {

class Ui;

// The save dialog of a window that exports: the filter entry chosen last is kept for as
// long as the window lives; a new window starts with the Excel entry.
struct ExportDialog {
    int filterIndex = 5;
};

namespace ExportRules {

// The dialog's filter list, entries numbered from 1.
QString filter();
// The writer of a filter entry; none for an entry outside 1 to 6.
std::optional<ExportFormat> formatOf(int filterIndex);
QString extensionOf(ExportFormat format);
// The file written for a chosen name and entry: the extension is appended unless the
// name already ends in its letters, whatever their case. Empty when the entry
// selects no writer.
QString fileName(const QString &chosen, int filterIndex);

} // namespace ExportRules

// The grid as the writers and the printed report take it: its visible columns in grid
// order and then the `extra` ones, every row of its dataset, its footer. Throws when the
// dataset is not open.
GridTable gridTable(const DBGridEh &grid, const QVector<DatasetModel::Column> &extra = {});

// The column "档号": the archival code of the row's record, composed as the settings in
// the program folder's myini.ini say (read again after every save of them).
DatasetModel::Column archivalCodeColumn(const QString &programFolder);
// Keeps the grid's "档号" column as wide as the codes of its rows whenever a result is
// shown, so that no code is cut.
void fitArchivalCodeColumn(DBGridEh &grid);

// Exports the whole grid to a file the operator names, then says where it went, with a
// button that shows its folder. A grid of catalogue records that does not show the archival code has it
// added as the last column of the file. Write errors are thrown to the caller's standard error box; no row stays
// selected afterwards.
void ExportGrid(DBGridEh &grid, ExportDialog &dialog, const QString &defaultName, Ui &ui, const QString &programFolder);

} // namespace dagl
