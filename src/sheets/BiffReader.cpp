#include "BiffReader.h"

#include <QHash>

#include <cstring>

namespace dagl {

namespace {

namespace Rec {
constexpr quint16 Bof = 0x0809, Eof = 0x000A, FilePass = 0x002F, DateMode = 0x0022, Format = 0x041E, Xf = 0x00E0,
                  BoundSheet = 0x0085, Sst = 0x00FC, Continue = 0x003C, LabelSst = 0x00FD, Label = 0x0204,
                  RString = 0x00D6, Number = 0x0203, Rk = 0x027E, MulRk = 0x00BD, Formula = 0x0006, String = 0x0207,
                  BoolErr = 0x0205, Blank = 0x0201, MulBlank = 0x00BE;
}

quint16 u16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}

quint32 u32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

double f64(const uchar *p)
{
    quint64 bits = quint64(u32(p)) | quint64(u32(p + 4)) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double rkValue(quint32 rk)
{
    double value;
    if (rk & 2) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFC) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return rk & 1 ? value / 100 : value;
}

QString errorText(quint8 code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    default:
        return QStringLiteral("#N/A");
    }
}

struct Record {
    quint16 id = 0;
    quint32 offset = 0; // of the header in the stream
    const uchar *body = nullptr;
    quint16 size = 0;
};

// Walks the records of the stream from an offset; a header or body past the stream's end
// is a fault.
class Records {
public:
    Records(const QByteArray &stream, quint32 offset)
        : m_data(reinterpret_cast<const uchar *>(stream.constData()))
        , m_size(quint32(stream.size()))
        , m_at(offset)
    {
    }
    bool atEnd() const { return m_at >= m_size; }
    Record next()
    {
        if (quint64(m_at) + 4 > m_size)
            WorkbookFault::damaged(QStringLiteral("工作簿数据在第%1字节处中断").arg(m_at));
        Record r;
        r.offset = m_at;
        r.id = u16(m_data + m_at);
        r.size = u16(m_data + m_at + 2);
        if (quint64(m_at) + 4 + r.size > m_size)
            WorkbookFault::damaged(QStringLiteral("第%1字节处的记录超出了工作簿数据的末尾").arg(m_at));
        r.body = m_data + m_at + 4;
        m_at += 4 + r.size;
        return r;
    }
    // The next record's id, or 0 at the end.
    quint16 peek() const { return quint64(m_at) + 4 <= m_size ? u16(m_data + m_at) : 0; }

private:
    const uchar *m_data;
    quint32 m_size;
    quint32 m_at;
};

// A record body with its CONTINUE records, read as one: strings whose characters cross into
// a CONTINUE record start that record with their flags again.
class Continued {
public:
    void add(const Record &r) { m_parts.push_back({ r.body, r.size }); }
    bool atEnd() const { return m_part >= m_parts.size(); }

    quint8 u8()
    {
        need(1);
        return take(1)[0];
    }
    quint16 u16v()
    {
        uchar b[2] = { u8(), u8() };
        return u16(b);
    }
    quint32 u32v()
    {
        const quint16 low = u16v();
        return low | quint32(u16v()) << 16;
    }
    void skip(quint64 bytes)
    {
        while (bytes > 0) {
            need(1);
            const quint32 n = quint32(qMin<quint64>(bytes, left()));
            take(n);
            bytes -= n;
        }
    }
    // An XLUnicodeRichExtendedString (withFormats) or XLUnicodeString.
    QString string(bool extended, quint64 charLimit)
    {
        const quint16 count = u16v();
        quint8 flags = u8();
        quint16 runs = 0;
        quint32 extra = 0;
        if (extended && (flags & 0x08))
            runs = u16v();
        if (extended && (flags & 0x04))
            extra = u32v();
        if (count > charLimit)
            WorkbookFault::tooLarge(QStringLiteral("文字过多"));
        QString text;
        text.reserve(count);
        for (quint16 i = 0; i < count;) {
            if (left() == 0) {
                // The characters go on in the next part, which starts with its own flags.
                next();
                flags = u8();
            }
            const bool wide = flags & 0x01;
            const quint32 unit = wide ? 2 : 1;
            const quint32 n = qMin<quint32>(count - i, left() / unit);
            if (n == 0)
                WorkbookFault::damaged(QStringLiteral("字符串被截断"));
            const uchar *p = take(n * unit);
            for (quint32 k = 0; k < n; ++k)
                text += QChar(wide ? u16(p + 2 * k) : p[k]);
            i += quint16(n);
        }
        skip(quint64(runs) * 4 + extra);
        return text;
    }

private:
    struct Part {
        const uchar *data;
        quint32 size;
    };
    quint32 left() const { return m_part < m_parts.size() ? m_parts[m_part].size - m_at : 0; }
    void next()
    {
        if (m_part >= m_parts.size())
            WorkbookFault::damaged(QStringLiteral("记录被截断"));
        ++m_part;
        m_at = 0;
        if (m_part >= m_parts.size())
            WorkbookFault::damaged(QStringLiteral("记录被截断"));
    }
    void need(quint32)
    {
        while (left() == 0)
            next();
    }
    const uchar *take(quint32 n)
    {
        const uchar *p = m_parts[m_part].data + m_at;
        m_at += n;
        return p;
    }

    std::vector<Part> m_parts;
    size_t m_part = 0;
    quint32 m_at = 0;
};

// A record's body followed by its CONTINUE records.
Continued continued(const Record &first, Records &records)
{
    Continued c;
    c.add(first);
    while (records.peek() == Rec::Continue)
        c.add(records.next());
    return c;
}

QString recordAt(const Record &r)
{
    return QStringLiteral("第%1字节处的记录（0x%2）").arg(r.offset).arg(r.id, 4, 16, QLatin1Char('0'));
}

void needSize(const Record &r, quint32 size)
{
    if (r.size < size)
        WorkbookFault::damaged(recordAt(r) + QStringLiteral("太短"));
}

} // namespace

BiffReader::BiffReader(QByteArray stream, const WorkbookLimits &limits)
    : m_stream(std::move(stream))
    , m_limits(limits)
    , m_budget(limits, quint64(m_stream.size()))
{
    readGlobals();
}

void BiffReader::readGlobals()
{
    Records records(m_stream, 0);
    const Record bof = records.next();
    if (bof.id == 0x0009 || bof.id == 0x0209 || bof.id == 0x0409)
        throw WorkbookFault { WorkbookFault::Kind::OldFormat, QStringLiteral("Excel 2.x-4.0格式") };
    if (bof.id != Rec::Bof || bof.size < 4)
        WorkbookFault::damaged(QStringLiteral("工作簿数据不以BOF记录开头"));
    if (u16(bof.body) != 0x0600)
        throw WorkbookFault { WorkbookFault::Kind::OldFormat, QStringLiteral("Excel 5.0/95格式") };
    if (u16(bof.body + 2) != 0x0005)
        WorkbookFault::damaged(QStringLiteral("工作簿数据不以工作簿全局记录开头"));

    QHash<quint16, quint8> formatKinds;
    std::vector<quint16> xfFormat;
    bool ended = false;
    while (!records.atEnd() && !ended) {
        const Record r = records.next();
        switch (r.id) {
        case Rec::FilePass:
            throw WorkbookFault { WorkbookFault::Kind::Password, QString() };
        case Rec::DateMode:
            needSize(r, 2);
            m_date1904 = u16(r.body) == 1;
            break;
        case Rec::Format: {
            needSize(r, 5);
            Continued c;
            c.add(r);
            const quint16 id = c.u16v();
            formatKinds.insert(id, formatKind(id, c.string(false, 0xFFFF)));
            break;
        }
        case Rec::Xf:
            needSize(r, 4);
            if (xfFormat.size() < 0xFFFF)
                xfFormat.push_back(u16(r.body + 2));
            break;
        case Rec::BoundSheet: {
            needSize(r, 8);
            const quint32 offset = u32(r.body);
            const quint8 type = r.body[5];
            Continued c;
            c.add(r);
            c.skip(6);
            const quint8 count = c.u8();
            const quint8 flags = c.u8();
            QString name;
            const bool wide = flags & 1;
            for (quint8 i = 0; i < count; ++i)
                name += QChar(wide ? c.u16v() : c.u8());
            if (type == 0) { // worksheets only: no charts, macro sheets or VB modules
                m_sheetNames << name;
                m_sheetOffsets.push_back(offset);
            }
            break;
        }
        case Rec::Sst: {
            Continued c = continued(r, records);
            c.skip(4);
            const quint32 count = c.u32v();
            if (count > m_limits.strings)
                WorkbookFault::tooLarge(QStringLiteral("共享字符串超过%1个").arg(m_limits.strings));
            quint64 chars = 0;
            // Reserve by what the record could hold at most, not by what it claims.
            m_shared.reserve(qsizetype(qMin<quint64>(count, quint64(m_stream.size()) / 3)));
            for (quint32 i = 0; i < count; ++i) {
                QString text = c.string(true, m_limits.stringChars - chars);
                chars += quint64(text.size());
                m_budget.sharedString(quint64(text.size()));
                m_shared.push_back(std::move(text));
            }
            break;
        }
        case Rec::Eof:
            ended = true;
            break;
        default:
            break;
        }
    }
    if (!ended)
        WorkbookFault::damaged(QStringLiteral("工作簿全局记录没有结束（缺少EOF记录）"));
    m_xfFormat.assign(xfFormat.size(), 0);
    for (size_t i = 0; i < xfFormat.size(); ++i)
        m_xfFormat[i] = formatKinds.contains(xfFormat[i]) ? formatKinds.value(xfFormat[i])
                                                          : formatKind(xfFormat[i], QStringView());
}

SheetData BiffReader::readSheet(int index) const
{
    if (index < 0 || index >= m_sheetNames.size())
        WorkbookFault::damaged(QStringLiteral("没有第%1张工作表").arg(index + 1));
    WorkbookBudget budget = m_budget;
    SheetData sheet(m_sheetNames.at(index), budget, m_shared);
    sheet.date1904 = m_date1904;
    const quint32 offset = m_sheetOffsets[size_t(index)];
    if (offset >= quint32(m_stream.size()))
        WorkbookFault::damaged(QStringLiteral("工作表“%1”的位置超出了工作簿数据").arg(sheet.name()));
    Records records(m_stream, offset);
    const Record bof = records.next();
    if (bof.id != Rec::Bof || bof.size < 4 || u16(bof.body + 2) != 0x0010)
        WorkbookFault::damaged(QStringLiteral("工作表“%1”不以BOF记录开头").arg(sheet.name()));

    // A formula whose text result follows in the next STRING record.
    bool pendingString = false;
    quint32 pendingRow = 0;
    quint32 pendingColumn = 0;
    int depth = 1; // charts embedded in the sheet come as nested BOF..EOF
    while (depth > 0) {
        if (records.atEnd())
            WorkbookFault::damaged(QStringLiteral("工作表“%1”没有结束（缺少EOF记录）").arg(sheet.name()));
        const Record r = records.next();
        if (r.id == Rec::Bof) {
            ++depth;
            continue;
        }
        if (r.id == Rec::Eof) {
            --depth;
            continue;
        }
        if (depth > 1)
            continue;
        if (pendingString && r.id != Rec::String && r.id != 0x0221 /* ARRAY */ && r.id != 0x04BC /* SHRFMLA */
            && r.id != 0x0236 /* TABLE */) {
            sheet.addNoResult(pendingRow, pendingColumn);
            pendingString = false;
        }
        switch (r.id) {
        case Rec::LabelSst:
            needSize(r, 10);
            sheet.addSharedText(u16(r.body), u16(r.body + 2), u32(r.body + 6));
            break;
        case Rec::Label:
        case Rec::RString: {
            needSize(r, 9);
            Continued c;
            c.add(r);
            c.skip(6);
            sheet.addText(u16(r.body), u16(r.body + 2), c.string(false, 0xFFFF));
            break;
        }
        case Rec::Number:
            needSize(r, 14);
            sheet.addNumber(u16(r.body), u16(r.body + 2), f64(r.body + 6), format(u16(r.body + 4)));
            break;
        case Rec::Rk:
            needSize(r, 10);
            sheet.addNumber(u16(r.body), u16(r.body + 2), rkValue(u32(r.body + 6)), format(u16(r.body + 4)));
            break;
        case Rec::MulRk: {
            needSize(r, 6);
            const quint32 row = u16(r.body);
            const quint32 first = u16(r.body + 2);
            const quint32 count = (r.size - 6) / 6;
            for (quint32 i = 0; i < count; ++i) {
                const uchar *p = r.body + 4 + 6 * i;
                sheet.addNumber(row, first + i, rkValue(u32(p + 2)), format(u16(p)));
            }
            break;
        }
        case Rec::Formula: {
            needSize(r, 20);
            const quint32 row = u16(r.body);
            const quint32 column = u16(r.body + 2);
            const uchar *value = r.body + 6;
            if (u16(value + 6) != 0xFFFF) {
                sheet.addNumber(row, column, f64(value), format(u16(r.body + 4)));
                break;
            }
            switch (value[0]) {
            case 0: // text, in the STRING record that follows
                pendingString = true;
                pendingRow = row;
                pendingColumn = column;
                break;
            case 1:
                sheet.addBoolean(row, column, value[2] != 0);
                break;
            case 2:
                sheet.addText(row, column, errorText(value[2]), CellKind::Error);
                break;
            case 3: // the empty text
                sheet.addEmpty(row, column);
                break;
            default:
                sheet.addNoResult(row, column);
                break;
            }
            break;
        }
        case Rec::String: {
            if (!pendingString)
                break;
            Continued c = continued(r, records);
            sheet.addText(pendingRow, pendingColumn, c.string(false, 0xFFFF));
            pendingString = false;
            break;
        }
        case Rec::BoolErr:
            needSize(r, 8);
            if (r.body[7])
                sheet.addText(u16(r.body), u16(r.body + 2), errorText(r.body[6]), CellKind::Error);
            else
                sheet.addBoolean(u16(r.body), u16(r.body + 2), r.body[6] != 0);
            break;
        case Rec::Blank:
            needSize(r, 6);
            sheet.addEmpty(u16(r.body), u16(r.body + 2));
            break;
        case Rec::MulBlank:
            needSize(r, 6);
            sheet.addEmpty(u16(r.body), u16(r.body + 2) + (r.size - 6) / 2 - 1 + ((r.size - 6) / 2 == 0 ? 1 : 0));
            break;
        default:
            break;
        }
    }
    if (pendingString)
        sheet.addNoResult(pendingRow, pendingColumn);
    sheet.finish();
    return sheet;
}

} // namespace dagl
