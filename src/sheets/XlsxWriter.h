#pragma once

#include "ByteSink.h"

namespace dagl {

struct GridTable;

// Writes the table as an Excel 2007 workbook (.xlsx) with libxlsxwriter in its constant-memory
// mode: each row goes to disk as it is written, so a million rows take no more memory than a
// few. Texts stay texts ("009"); cells of integer columns holding a plain integer become
// numbers. Rows beyond what one worksheet holds continue on further worksheets, each with the
// title row. The workbook is made in a temporary file and copied to the sink.
void writeXlsx(const GridTable &table, ByteSink &sink);

} // namespace dagl
