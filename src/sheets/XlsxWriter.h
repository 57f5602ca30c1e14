#pragma once

#include "ByteSink.h"

namespace dagl {

struct GridTable;

// Writes the table as an Excel 2007 workbook (.xlsx) with libxlsxwriter in its constant-memory
// mode: each row goes to disk as it is written, so a million rows take no more memory than a
// few. Texts stay texts ("009"); cells of integer columns holding a plain integer become
// numbers. Rows beyond what one worksheet holds continue on further worksheets, each with the
// title row. Failures throw dagl::Error with the cause in Chinese.

// Writes the workbook file at `path`, replacing it; the library's working files go to the
// same folder, so only the room on the target's disk matters.
void writeXlsxFile(const GridTable &table, const QString &path);

// The workbook made in a temporary file in `tempFolder` (the system's when empty) and then
// copied to the sink.
void writeXlsx(const GridTable &table, ByteSink &sink, const QString &tempFolder = {});

} // namespace dagl
