#include "XlsWriter.h"

#include "CompoundFile.h"
#include "GridTable.h"

#include <QHashFunctions>

#include <cstring>
#include <memory>
#include <vector>

namespace dagl {

namespace {

constexpr int SheetRows = 65536; // rows a worksheet holds, the title row included
constexpr int MaxColumns = 256; // columns a worksheet holds
constexpr int MaxCellChars = 32767; // Excel's limit for the text of one cell
constexpr int MaxRecordData = 8224; // BIFF8 limit for the body of one record

// A cell as the first pass classifies it: an index into the string table, a number (high bit
// set, index into the numbers) or nothing.
constexpr quint32 EmptyCell = 0xFFFFFFFF;
constexpr quint32 NumberFlag = 0x80000000;

// A string kept in the cell's own LABEL record instead of the shared string table.
constexpr quint32 InlineString = 0xFFFFFFFF;
// Texts a LABEL record may hold in a BIFF8 workbook.
constexpr int MaxLabelChars = 255;

// Column widths follow the titles, the footer and the first records.
constexpr int WidthSampleRows = 1000;

constexpr quint16 XfDefaultCell = 15;
constexpr quint16 XfTitleCell = 16;

namespace Rec {
constexpr quint16 Bof = 0x0809, Eof = 0x000A, CodePage = 0x0042, Window1 = 0x003D, Font = 0x0031, Xf = 0x00E0,
                  Style = 0x0293, BoundSheet = 0x0085, Sst = 0x00FC, Continue = 0x003C, ExtSst = 0x00FF,
                  Dimensions = 0x0200, Window2 = 0x023E, ColInfo = 0x007D, LabelSst = 0x00FD, Label = 0x0204,
                  Rk = 0x027E, Number = 0x0203;
}

// A record body being assembled; small records only.
class Body {
public:
    Body &u8(quint8 v)
    {
        m_bytes.append(char(v));
        return *this;
    }
    Body &u16(quint16 v) { return u8(quint8(v & 0xFF)).u8(quint8(v >> 8)); }
    Body &u32(quint32 v) { return u16(quint16(v & 0xFFFF)).u16(quint16(v >> 16)); }
    // ShortXLUnicodeString: 8-bit length, flags, characters.
    Body &shortString(const QString &text)
    {
        bool wide = false;
        for (QChar c : text)
            wide = wide || c.unicode() > 0xFF;
        u8(quint8(text.size())).u8(wide ? 1 : 0);
        for (QChar c : text) {
            if (wide)
                u16(c.unicode());
            else
                u8(quint8(c.unicode()));
        }
        return *this;
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

void writeRecord(ByteSink &sink, quint16 id, const QByteArray &body)
{
    sink.writeU16(id);
    sink.writeU16(quint16(body.size()));
    sink.write(body);
}

// The workbook's shared strings, each kept once. The characters live in fixed-size blocks
// (growing never copies them), and an open-addressing table of indices with their hashes
// finds a text again touching little memory, so 100,000 rows of distinct texts stay compact
// and quick.
class StringTable {
public:
    quint32 add(QStringView text)
    {
        if ((m_entries.size() + 1) * 10 > m_slots.size() * 7)
            rehash(m_slots.empty() ? 1024 : m_slots.size() * 2);
        const auto hash = quint32(qHash(text));
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (slot.entry == 0) {
                slot = { quint32(m_entries.size()) + 1, hash };
                m_entries.push_back(store(text));
                return slot.entry - 1;
            }
            if (slot.hash == hash && at(slot.entry - 1) == text)
                return slot.entry - 1;
        }
    }
    quint32 count() const { return quint32(m_entries.size()); }
    QStringView at(quint32 index) const
    {
        const Entry &e = m_entries[index];
        return QStringView(
            m_blocks[e.offset / BlockChars].get() + e.offset % BlockChars, qsizetype(e.length & ~WideFlag));
    }
    bool wide(quint32 index) const { return m_entries[index].length & WideFlag; }

private:
    static constexpr quint32 WideFlag = 0x80000000;
    static constexpr quint32 BlockChars = 1 << 20; // more than the longest cell text
    struct Entry {
        quint32 offset; // block * BlockChars + position in the block
        quint32 length; // with WideFlag when a character needs two bytes
    };
    struct Slot {
        quint32 entry; // index + 1, 0 for a free slot
        quint32 hash; // low bits of the text's hash, which also place the slot
    };

    Entry store(QStringView text)
    {
        const auto size = quint32(text.size());
        if (m_blocks.empty() || m_used + size > BlockChars) {
            if (m_blocks.size() >= 4096)
                throw Error(QStringLiteral("导出的文字过多，超出了 Excel 97-2003 工作簿能容纳的大小"));
            m_blocks.emplace_back(new char16_t[BlockChars]);
            m_used = 0;
        }
        const auto offset = quint32(m_blocks.size() - 1) * BlockChars + m_used;
        std::memcpy(m_blocks.back().get() + m_used, text.utf16(), size * sizeof(char16_t));
        m_used += size;
        bool wide = false;
        for (QChar c : text)
            wide = wide || c.unicode() > 0xFF;
        return { offset, size | (wide ? WideFlag : 0) };
    }

    void rehash(size_t size)
    {
        std::vector<Slot> old(size, Slot { 0, 0 });
        old.swap(m_slots);
        const size_t mask = size - 1;
        for (const Slot &slot : old) {
            if (slot.entry == 0)
                continue;
            size_t i = slot.hash & mask;
            while (m_slots[i].entry != 0)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    quint32 m_used = 0;
    std::vector<Entry> m_entries;
    std::vector<Slot> m_slots;
};

// Everything the workbook needs, gathered in one pass over the grid.
class Workbook {
public:
    Workbook(const GridTable &table, quint32 sharedStringLimit)
        : m_columns(int(table.titles.size()))
    {
        m_width.assign(size_t(m_columns), 0);
        for (int c = 0; c < m_columns; ++c)
            m_titles.push_back(classify(c, table.titles.at(c), false));
        m_records = table.rowCount;
        m_cells.reserve(size_t(m_records) * size_t(m_columns));
        for (int r = 0; r < m_records; ++r)
            for (int c = 0; c < m_columns; ++c)
                m_cells.push_back(classify(c, table.cell(r, c), isNumeric(table, c), r < WidthSampleRows));
        m_hasFooter = !table.footer.isEmpty();
        if (m_hasFooter)
            for (int c = 0; c < m_columns; ++c)
                m_footer.push_back(
                    classify(c, c < table.footer.size() ? table.footer.at(c) : QString(), isNumeric(table, c)));
        const int bodyRows = m_records + (m_hasFooter ? 1 : 0);
        m_sheets = qMax(1, (bodyRows + SheetRows - 2) / (SheetRows - 1));
        planSharedStrings(sharedStringLimit);
    }

    int columns() const { return m_columns; }
    int sheets() const { return m_sheets; }
    const StringTable &strings() const { return m_strings; }
    double number(quint32 code) const { return m_numbers[code & ~NumberFlag]; }
    int width(int column) const { return m_width[size_t(column)]; }

    // Rows of a sheet after its title row.
    int bodyRows(int sheet) const
    {
        const int total = m_records + (m_hasFooter ? 1 : 0);
        return qMin(SheetRows - 1, total - sheet * (SheetRows - 1));
    }
    // Cell codes of the n-th row after the title rows, across sheets: records, then the footer.
    const quint32 *bodyRow(int index) const
    {
        return index < m_records ? m_cells.data() + size_t(index) * size_t(m_columns) : m_footer.data();
    }
    const quint32 *titleRow() const { return m_titles.data(); }

    // Position of a string in the shared string table, or InlineString.
    quint32 sharedIndex(quint32 string) const { return m_sharedIndex[string]; }
    quint32 sharedCount() const { return m_sharedCount; }

    // Number of cells referring to the shared string table, for the table's header.
    quint32 sharedReferences() const
    {
        quint64 n = 0;
        for (quint32 code : m_titles)
            n += isShared(code) ? m_sheets : 0;
        for (quint32 code : m_cells)
            n += isShared(code);
        for (quint32 code : m_footer)
            n += isShared(code);
        return quint32(qMin<quint64>(n, 0xFFFFFFFF));
    }

private:
    bool isShared(quint32 code) const
    {
        return code != EmptyCell && !(code & NumberFlag) && m_sharedIndex[code] != InlineString;
    }

    // Readers cap the shared string table (some refuse more than 2^20 strings), so strings
    // past the limit go into their cells' own records; only texts too long for those stay
    // shared.
    void planSharedStrings(quint32 limit)
    {
        m_sharedIndex.assign(m_strings.count(), InlineString);
        for (quint32 i = 0; i < m_strings.count(); ++i)
            if (i < limit || m_strings.at(i).size() > MaxLabelChars)
                m_sharedIndex[i] = m_sharedCount++;
    }

    static bool isNumeric(const GridTable &table, int column)
    {
        return column < table.numeric.size() && table.numeric.at(column);
    }

    quint32 classify(int column, const QString &full, bool numeric, bool measure = true)
    {
        if (full.isEmpty())
            return EmptyCell;
        double value = 0;
        if (numeric && isPlainInteger(full, &value)) {
            m_numbers.push_back(value);
            if (measure)
                noteWidth(column, int(full.size()));
            return quint32(m_numbers.size() - 1) | NumberFlag;
        }
        QStringView text(full);
        if (text.size() > MaxCellChars)
            text = text.left(text.at(MaxCellChars - 1).isHighSurrogate() ? MaxCellChars - 1 : MaxCellChars);
        if (measure) {
            int width = 0;
            for (QChar c : text)
                width += c.unicode() >= 0x1100 ? 2 : 1;
            noteWidth(column, width);
        }
        return m_strings.add(text);
    }

    void noteWidth(int column, int width)
    {
        int &w = m_width[size_t(column)];
        w = qMax(w, width);
    }

    int m_columns;
    int m_records = 0;
    bool m_hasFooter = false;
    int m_sheets = 1;
    StringTable m_strings;
    std::vector<quint32> m_titles;
    std::vector<quint32> m_cells;
    std::vector<quint32> m_footer;
    std::vector<double> m_numbers;
    std::vector<int> m_width;
    std::vector<quint32> m_sharedIndex;
    quint32 m_sharedCount = 0;
};

// Writes a record whose body may pass the size limit, going on in CONTINUE records; notes
// where strings start for the EXTSST index.
class ContinuedRecord {
public:
    ContinuedRecord(ByteSink &sink, quint16 id)
        : m_sink(sink)
        , m_id(id)
    {
        m_body.reserve(MaxRecordData);
    }

    int space() const { return MaxRecordData - int(m_body.size()); }
    // Stream position the next byte will have, and its offset within its record.
    quint64 nextPosition() const { return m_sink.position() + 4 + quint64(m_body.size()); }
    quint16 nextOffset() const { return quint16(4 + m_body.size()); }

    void append(const char *data, int size) { m_body.append(data, size); }
    void u8(quint8 v) { m_body.append(char(v)); }
    void u16(quint16 v)
    {
        u8(quint8(v & 0xFF));
        u8(quint8(v >> 8));
    }
    void u32(quint32 v)
    {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    }

    void flush()
    {
        writeRecord(m_sink, m_id, m_body);
        m_id = Rec::Continue;
        m_body.clear();
    }

private:
    ByteSink &m_sink;
    quint16 m_id;
    QByteArray m_body;
};

void writeSst(ByteSink &sink, quint64 streamStart, const Workbook &book)
{
    const StringTable &strings = book.strings();
    const quint32 shared = book.sharedCount();
    const quint32 perBucket = qMax<quint32>(8, (shared + 127) / 128);
    Body ext;
    ext.u16(quint16(perBucket));

    ContinuedRecord sst(sink, Rec::Sst);
    sst.u32(book.sharedReferences());
    sst.u32(shared);
    char chunk[MaxRecordData];
    for (quint32 i = 0; i < strings.count(); ++i) {
        const quint32 index = book.sharedIndex(i);
        if (index == InlineString)
            continue;
        const QStringView text = strings.at(i);
        const bool wide = strings.wide(i);
        const int unit = wide ? 2 : 1;
        // The length and flags may not be split from the first character.
        if (sst.space() < 3 + unit)
            sst.flush();
        if (index % perBucket == 0)
            ext.u32(quint32(sst.nextPosition() - streamStart)).u16(sst.nextOffset()).u16(0);
        sst.u16(quint16(text.size()));
        sst.u8(wide ? 1 : 0);
        const char16_t *c = text.utf16();
        qsizetype left = text.size();
        while (left > 0) {
            qsizetype n = qMin<qsizetype>(left, sst.space() / unit);
            if (n == 0) {
                // A string going on in a CONTINUE record starts it with its flags again.
                sst.flush();
                sst.u8(wide ? 1 : 0);
                continue;
            }
            for (qsizetype k = 0; k < n; ++k) {
                if (wide) {
                    chunk[2 * k] = char(c[k] & 0xFF);
                    chunk[2 * k + 1] = char(c[k] >> 8);
                } else {
                    chunk[k] = char(c[k]);
                }
            }
            sst.append(chunk, int(n * unit));
            c += n;
            left -= n;
        }
    }
    sst.flush();
    writeRecord(sink, Rec::ExtSst, ext.bytes());
}

void writeBof(ByteSink &sink, quint16 type)
{
    writeRecord(
        sink, Rec::Bof, Body().u16(0x0600).u16(type).u16(0x18AF).u16(0x07CD).u32(0x000080C1).u32(0x00000306).bytes());
}

void writeGlobals(ByteSink &sink, quint64 streamStart, const Workbook &book, const std::vector<quint32> &sheetOffsets)
{
    writeBof(sink, 0x0005);
    writeRecord(sink, Rec::CodePage, Body().u16(1200).bytes());
    writeRecord(sink, Rec::Window1,
        Body().u16(0).u16(0).u16(0x4000).u16(0x2000).u16(0x0038).u16(0).u16(0).u16(1).u16(0x0258).bytes());

    // Fonts 0-3 are the default font; index 4 does not exist in BIFF, so the bold font is 5.
    const QString fontName = QStringLiteral("宋体");
    for (int i = 0; i < 5; ++i) {
        const bool bold = i == 4;
        writeRecord(sink, Rec::Font,
            Body()
                .u16(240) // 12 points
                .u16(0)
                .u16(0x7FFF)
                .u16(bold ? 700 : 400)
                .u16(0)
                .u8(0)
                .u8(0)
                .u8(134) // GB2312 character set
                .u8(0)
                .shortString(fontName)
                .bytes());
    }

    // Style XFs 0-14 (Normal and the built-in ones), the default cell XF 15, the title XF 16.
    struct XfSpec {
        quint16 font;
        quint16 flags; // locked, style bit, parent
        quint8 used;
    };
    static const XfSpec xfs[] = {
        { 0, 0xFFF5, 0x00 },
        { 1, 0xFFF5, 0xF4 },
        { 1, 0xFFF5, 0xF4 },
        { 2, 0xFFF5, 0xF4 },
        { 2, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0xFFF5, 0xF4 },
        { 0, 0x0001, 0x00 },
        { 5, 0x0001, 0xF8 },
    };
    for (const XfSpec &xf : xfs) {
        writeRecord(sink, Rec::Xf,
            Body()
                .u16(xf.font)
                .u16(0) // General format
                .u16(xf.flags)
                .u8(0x20) // bottom aligned
                .u8(0)
                .u8(0)
                .u8(xf.used)
                .u16(0) // no borders
                .u16(0)
                .u32(0)
                .u16(0x20C0) // automatic pattern colours
                .bytes());
    }
    writeRecord(sink, Rec::Style, Body().u16(0x8000).u8(0).u8(0xFF).bytes());

    for (int s = 0; s < book.sheets(); ++s)
        writeRecord(sink, Rec::BoundSheet,
            Body().u32(sheetOffsets[size_t(s)]).u8(0).u8(0).shortString(QStringLiteral("Sheet%1").arg(s + 1)).bytes());
    writeSst(sink, streamStart, book);
    writeRecord(sink, Rec::Eof, QByteArray());
}

void writeCell(ByteSink &sink, const Workbook &book, quint16 row, quint16 column, quint16 xf, quint32 code)
{
    if (code == EmptyCell)
        return;
    char r[18];
    auto put16 = [&r](int at, quint16 v) {
        r[at] = char(v & 0xFF);
        r[at + 1] = char(v >> 8);
    };
    auto put32 = [&](int at, quint32 v) {
        put16(at, quint16(v & 0xFFFF));
        put16(at + 2, quint16(v >> 16));
    };
    put16(4, row);
    put16(6, column);
    put16(8, xf);
    if (!(code & NumberFlag)) {
        const quint32 shared = book.sharedIndex(code);
        if (shared != InlineString) {
            put16(0, Rec::LabelSst);
            put16(2, 10);
            put32(10, shared);
            sink.write(r, 14);
            return;
        }
        // LABEL: the cell with its text (at most MaxLabelChars characters) in place.
        const QStringView text = book.strings().at(code);
        const bool wide = book.strings().wide(code);
        put16(0, Rec::Label);
        put16(2, quint16(9 + text.size() * (wide ? 2 : 1)));
        put16(10, quint16(text.size()));
        r[12] = wide ? 1 : 0;
        sink.write(r, 13);
        char chars[2 * MaxLabelChars];
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text.at(i).unicode();
            if (wide) {
                chars[2 * i] = char(c & 0xFF);
                chars[2 * i + 1] = char(c >> 8);
            } else {
                chars[i] = char(c);
            }
        }
        sink.write(chars, text.size() * (wide ? 2 : 1));
        return;
    }
    const double value = book.number(code);
    if (value >= -(1 << 29) && value < (1 << 29)) {
        put16(0, Rec::Rk);
        put16(2, 10);
        put32(10, (quint32(qint32(value)) << 2) | 0x2); // RK: a 30-bit integer
        sink.write(r, 14);
        return;
    }
    put16(0, Rec::Number);
    put16(2, 14);
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    put32(10, quint32(bits & 0xFFFFFFFF));
    put32(14, quint32(bits >> 32));
    sink.write(r, 18);
}

void writeSheet(ByteSink &sink, const Workbook &book, int sheet)
{
    writeBof(sink, 0x0010);
    for (int c = 0; c < book.columns(); ++c) {
        const int chars = qBound(8, book.width(c) + 2, 60);
        writeRecord(sink, Rec::ColInfo,
            Body().u16(quint16(c)).u16(quint16(c)).u16(quint16(chars * 256)).u16(XfDefaultCell).u16(0).u16(0).bytes());
    }
    const int rows = 1 + book.bodyRows(sheet);
    writeRecord(
        sink, Rec::Dimensions, Body().u32(0).u32(quint32(rows)).u16(0).u16(quint16(book.columns())).u16(0).bytes());

    const quint32 *title = book.titleRow();
    for (int c = 0; c < book.columns(); ++c)
        writeCell(sink, book, 0, quint16(c), XfTitleCell, title[c]);
    const int first = sheet * (SheetRows - 1);
    for (int r = 1; r < rows; ++r) {
        const quint32 *cells = book.bodyRow(first + r - 1);
        for (int c = 0; c < book.columns(); ++c)
            writeCell(sink, book, quint16(r), quint16(c), XfDefaultCell, cells[c]);
    }
    // The first sheet is the one selected and shown.
    writeRecord(sink, Rec::Window2,
        Body().u16(sheet == 0 ? 0x06B6 : 0x00B6).u16(0).u16(0).u16(64).u16(0).u16(0).u16(0).u16(0).u16(0).bytes());
    writeRecord(sink, Rec::Eof, QByteArray());
}

// The whole Workbook stream. Sheet offsets are taken as given and the offsets met are returned,
// so a dry run over a counting sink yields the offsets for the real one.
std::vector<quint32> writeStream(ByteSink &sink, const Workbook &book, const std::vector<quint32> &sheetOffsets)
{
    const quint64 start = sink.position();
    writeGlobals(sink, start, book, sheetOffsets);
    std::vector<quint32> met;
    for (int s = 0; s < book.sheets(); ++s) {
        met.push_back(quint32(sink.position() - start));
        writeSheet(sink, book, s);
    }
    met.push_back(quint32(sink.position() - start)); // the stream's size
    return met;
}

} // namespace

bool isPlainInteger(QStringView text, double *value)
{
    qsizetype i = text.startsWith(u'-') ? 1 : 0;
    const qsizetype digits = text.size() - i;
    if (digits < 1 || digits > 11 || (text.at(i) == u'0' && (digits > 1 || i == 1)))
        return false;
    double v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    *value = text.startsWith(u'-') ? -v : v;
    return true;
}

void writeXls(const GridTable &table, ByteSink &sink, quint32 sharedStringLimit)
{
    if (table.titles.size() > MaxColumns)
        throw Error(QStringLiteral("Excel 97-2003 工作表最多只能容纳 %1 列，无法导出 %2 列")
                        .arg(MaxColumns)
                        .arg(table.titles.size()));
    const Workbook book(table, sharedStringLimit);
    ByteSink counter(nullptr);
    std::vector<quint32> offsets = writeStream(counter, book, std::vector<quint32>(size_t(book.sheets()), 0));
    const quint64 size = counter.position();
    if (size >= 0x7FFFFFFF)
        throw Error(QStringLiteral("导出的数据过多，超出了 Excel 97-2003 工作簿能容纳的大小"));
    offsets.pop_back();

    CompoundFileWriter file(sink, QStringLiteral("Workbook"), size);
    file.begin();
    writeStream(sink, book, offsets);
    file.finish();
}

} // namespace dagl
