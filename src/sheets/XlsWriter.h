#pragma once

#include "ByteSink.h"

namespace dagl {

struct GridTable;

// Distinct texts the shared string table takes before further ones are written into their
// cells; some readers refuse tables of more than 2^20 strings.
constexpr quint32 XlsSharedStringLimit = 1000000;

// A text a workbook should hold as a number: a plain integer, no leading zero, no sign on
// zero, and few enough digits that Excel's general format shows every one of them.
bool isPlainInteger(QStringView text, double *value);

// Writes the table as an Excel 97-2003 workbook (BIFF8 in a compound file). Texts go to the
// shared string table; cells of integer columns holding a plain integer become numbers. Rows
// beyond what one worksheet holds continue on further worksheets, each with the title row.
void writeXls(const GridTable &table, ByteSink &sink, quint32 sharedStringLimit = XlsSharedStringLimit);

} // namespace dagl
