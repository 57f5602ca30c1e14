#pragma once

// Small .xlsx workbooks of a given shape made in memory for tests: a part is described as a
// head, a piece repeated any number of times and a tail, and deflated as it is made, so a
// part of hundreds of megabytes costs a few hundred kilobytes and a fraction of a second.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <zlib.h>

#include <stdexcept>

namespace dagl::test {

struct CraftedPart {
    QString name;
    QByteArray head;
    QByteArray piece;
    quint64 count = 0;
    QByteArray tail;
};

struct PackedPart {
    QString name;
    QByteArray packed;
    quint32 crc = 0;
    quint32 size = 0;
};

inline PackedPart pack(const CraftedPart &part)
{
    z_stream stream {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    PackedPart out;
    out.name = part.name;
    uLong crc = crc32(0, Z_NULL, 0);
    quint64 size = 0;
    QByteArray buffer(1 << 16, '\0');
    auto feed = [&](const QByteArray &bytes, int flush) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
        stream.avail_in = uInt(bytes.size());
        crc = crc32(crc, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size()));
        size += quint64(bytes.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
            stream.avail_out = uInt(buffer.size());
            deflate(&stream, flush);
            out.packed.append(buffer.constData(), buffer.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0);
    };
    feed(part.head, Z_NO_FLUSH);
    // The piece in runs of about a megabyte.
    QByteArray run;
    const quint64 perRun = part.piece.isEmpty() ? 0 : qMax<quint64>(1, (1u << 20) / quint64(part.piece.size()));
    for (quint64 done = 0; done < part.count;) {
        const quint64 n = qMin(perRun, part.count - done);
        if (quint64(run.size()) != n * quint64(part.piece.size()))
            run = part.piece.repeated(qsizetype(n));
        feed(run, Z_NO_FLUSH);
        done += n;
    }
    feed(part.tail, Z_FINISH);
    deflateEnd(&stream);
    out.crc = quint32(crc);
    out.size = quint32(size);
    return out;
}

inline void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

inline void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline QByteArray zipOf(const QVector<PackedPart> &parts)
{
    QByteArray file;
    QByteArray directory;
    for (const PackedPart &part : parts) {
        const QByteArray name = part.name.toUtf8();
        const quint32 offset = quint32(file.size());
        put32(file, 0x04034b50);
        put16(file, 20);
        put16(file, 0x0800); // UTF-8 names
        put16(file, 8);
        put32(file, 0);
        put32(file, part.crc);
        put32(file, quint32(part.packed.size()));
        put32(file, part.size);
        put16(file, quint32(name.size()));
        put16(file, 0);
        file.append(name).append(part.packed);
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0x0800);
        put16(directory, 8);
        put32(directory, 0);
        put32(directory, part.crc);
        put32(directory, quint32(part.packed.size()));
        put32(directory, part.size);
        put16(directory, quint32(name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory.append(name);
    }
    const quint32 at = quint32(file.size());
    file.append(directory);
    put32(file, 0x06054b50);
    put16(file, 0);
    put16(file, 0);
    put16(file, quint32(parts.size()));
    put16(file, quint32(parts.size()));
    put32(file, quint32(directory.size()));
    put32(file, at);
    put16(file, 0);
    return file;
}

// A workbook of one sheet "Sheet1" from its sheet part and, when given, its shared strings.
inline QByteArray craftedXlsx(const CraftedPart &sheet, const CraftedPart *shared = nullptr)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QByteArray rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\""
        + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    if (shared)
        rels += "<Relationship Id=\"rId2\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/>";
    rels += "</Relationships>";
    QVector<PackedPart> parts;
    parts << pack({ QStringLiteral("xl/workbook.xml"),
        "<workbook " + ns + "><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>", {}, 0,
        {} });
    parts << pack({ QStringLiteral("xl/_rels/workbook.xml.rels"), rels, {}, 0, {} });
    CraftedPart sheetPart = sheet;
    sheetPart.name = QStringLiteral("xl/worksheets/sheet1.xml");
    parts << pack(sheetPart);
    if (shared) {
        CraftedPart sharedPart = *shared;
        sharedPart.name = QStringLiteral("xl/sharedStrings.xml");
        parts << pack(sharedPart);
    }
    return zipOf(parts);
}

} // namespace dagl::test
