#pragma once

#include "SheetData.h"
#include "ZipArchive.h"

#include <QStringList>

#include <vector>

namespace dagl {

// The cells of an Excel 2007 workbook (.xlsx): the workbook's sheet order and relationships,
// the shared strings, the cell styles that mark dates, the date system; then one worksheet's
// cells on demand, read with our XML scanner straight from the expanding zip entry.
// A fault throws WorkbookFault.
class XlsxReader {
public:
    XlsxReader(const QByteArray &file, const WorkbookLimits &limits);

    const QStringList &sheetNames() const { return m_sheetNames; }
    SheetData readSheet(int index) const;

private:
    void readStyles(const QString &part);
    void readSharedStrings(const QString &part);
    quint8 format(quint32 style) const { return style < m_styleFormat.size() ? m_styleFormat[style] : 0; }

    ZipArchive m_zip;
    WorkbookLimits m_limits;
    WorkbookBudget m_budget; // after the parts every sheet needs
    QStringList m_sheetNames;
    QStringList m_sheetParts;
    QStringList m_shared;
    std::vector<quint8> m_styleFormat; // SheetCell flags of each cell style
    bool m_date1904 = false;
};

} // namespace dagl
