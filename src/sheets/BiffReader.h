#pragma once

#include "SheetData.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

namespace dagl {

// The cells of an Excel 97-2003 workbook (BIFF8), read from its Workbook stream: the shared
// strings, the formats and cell styles that mark dates, the date system, the worksheets; then
// one worksheet's cells on demand. Every length and index is checked against its record and
// the stream; a fault throws WorkbookFault.
class BiffReader {
public:
    BiffReader(QByteArray stream, const WorkbookLimits &limits);

    const QStringList &sheetNames() const { return m_sheetNames; }
    SheetData readSheet(int index) const;

private:
    void readGlobals();
    quint8 format(quint16 xf) const { return xf < m_xfFormat.size() ? m_xfFormat[xf] : 0; }

    QByteArray m_stream;
    WorkbookLimits m_limits;
    WorkbookBudget m_budget; // after the globals every sheet needs
    QStringList m_sheetNames;
    std::vector<quint32> m_sheetOffsets;
    QStringList m_shared;
    std::vector<quint8> m_xfFormat; // SheetCell flags of each cell style
    bool m_date1904 = false;
};

} // namespace dagl
