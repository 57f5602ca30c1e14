#pragma once

#include "GridTable.h"

#include <QIODevice>

namespace dagl {

enum class ExportFormat { Text = 1, Csv = 2, Html = 3, Rtf = 4, Xls = 5, Xlsx = 6 };

// Writes the table to the device. Throws dagl::Error when the device fails.
void writeGrid(ExportFormat format, const GridTable &table, QIODevice &device);

// Writes the table to a file through a temporary file renamed into place, so a failure
// leaves no file posing as an export and keeps an existing one. Throws dagl::Error.
// An Excel 2007 workbook is made beside the file under workbookPartName() instead.
void writeGridFile(ExportFormat format, const GridTable &table, const QString &path);

// The name an Excel 2007 workbook is made under before it is put in place of `path`.
QString workbookPartName(const QString &path);

} // namespace dagl
