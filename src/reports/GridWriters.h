#pragma once

#include "GridTable.h"

#include <QIODevice>

namespace dagl {

enum class ExportFormat { Text = 1, Csv = 2, Html = 3, Rtf = 4, Xls = 5, Xlsx = 6 };

// Writes the table to the device. Throws dagl::Error when the device fails.
void writeGrid(ExportFormat format, const GridTable &table, QIODevice &device);

// Writes the table to a file through a temporary file renamed into place, so a failure
// leaves no file posing as an export and keeps an existing one. Throws dagl::Error.
void writeGridFile(ExportFormat format, const GridTable &table, const QString &path);

} // namespace dagl
