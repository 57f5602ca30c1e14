#include "PrintFonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QMap>
#include <QRawFont>

#include <algorithm>

namespace dagl::PrintFonts {

namespace {

// The tables a face is drawn and measured from; the character map and the names are made
// anew, the glyph substitutions left out.
const char *const kCopied[] = { "CFF ", "CFF2", "glyf", "loca", "head", "hhea", "hmtx", "maxp", "OS/2", "post", "vhea",
    "vmtx", "VORG", "BASE", "GDEF", "GPOS", "cvt ", "fpgm", "prep", "gasp", "hdmx", "kern", "EBDT", "EBLC", "EBSC",
    "VDMX", "LTSH", "fvar", "gvar", "avar", "HVAR", "MVAR", "STAT" };

quint32 read(const QByteArray &data, qint64 at, int bytes)
{
    if (at < 0 || at + bytes > data.size())
        return 0;
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | quint8(data.at(at + i));
    return value;
}

void write(QByteArray &data, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        data.append(char(value >> (8 * i) & 0xFF));
}

using CharMap = QMap<uint, uint>; // character to glyph

void readFormat12(const QByteArray &cmap, qint64 at, CharMap &map)
{
    const quint32 groups = read(cmap, at + 12, 4);
    for (quint32 g = 0; g < groups && at + 16 + 12 * qint64(g + 1) <= cmap.size(); ++g) {
        const qint64 group = at + 16 + 12 * qint64(g);
        const quint32 first = read(cmap, group, 4), last = std::min<quint32>(read(cmap, group + 4, 4), 0x10FFFF);
        const quint32 glyph = read(cmap, group + 8, 4);
        for (quint32 c = first; c <= last && c >= first; ++c)
            map.insert(c, glyph + (c - first));
    }
}

void readFormat4(const QByteArray &cmap, qint64 at, CharMap &map)
{
    const int segments = int(read(cmap, at + 6, 2) / 2);
    const qint64 ends = at + 14, starts = ends + 2 * segments + 2, deltas = starts + 2 * segments,
                 offsets = deltas + 2 * segments;
    for (int s = 0; s < segments; ++s) {
        const uint first = read(cmap, starts + 2 * s, 2), last = read(cmap, ends + 2 * s, 2);
        const uint delta = read(cmap, deltas + 2 * s, 2), offset = read(cmap, offsets + 2 * s, 2);
        for (uint c = first; c <= last && c < 0xFFFF; ++c) {
            uint glyph = 0;
            if (offset == 0) {
                glyph = (c + delta) & 0xFFFF;
            } else {
                glyph = read(cmap, offsets + 2 * s + offset + 2 * (c - first), 2);
                if (glyph != 0)
                    glyph = (glyph + delta) & 0xFFFF;
            }
            if (glyph != 0)
                map.insert(c, glyph);
        }
    }
}

// The face's Unicode character map, the full one where it has it.
CharMap readCharMap(const QByteArray &cmap)
{
    CharMap map;
    const int tables = int(read(cmap, 2, 2));
    qint64 full = -1, basic = -1;
    for (int t = 0; t < tables; ++t) {
        const uint platform = read(cmap, 4 + 8 * t, 2), encoding = read(cmap, 6 + 8 * t, 2);
        const qint64 at = read(cmap, 8 + 8 * t, 4);
        const uint format = read(cmap, at, 2);
        const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        if (unicode && format == 12 && full < 0)
            full = at;
        else if (unicode && format == 4 && basic < 0)
            basic = at;
    }
    if (full >= 0)
        readFormat12(cmap, full, map);
    else if (basic >= 0)
        readFormat4(cmap, basic, map);
    return map;
}

// Characters never to be given back for a glyph another character also has: controls,
// radicals, strokes and the Kanbun marks look like the common characters they share with.
bool neverGivenBack(uint c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3190 && c <= 0x319F)
        || (c >= 0x31C0 && c <= 0x31EF);
}

QByteArray format12(const CharMap &map)
{
    QByteArray groups;
    quint32 count = 0;
    for (auto it = map.constBegin(); it != map.constEnd();) {
        const uint first = it.key(), glyph = it.value();
        uint last = first;
        ++it;
        while (it != map.constEnd() && it.key() == last + 1 && it.value() == glyph + (last + 1 - first)) {
            last = it.key();
            ++it;
        }
        write(groups, first, 4);
        write(groups, last, 4);
        write(groups, glyph, 4);
        ++count;
    }
    QByteArray table;
    write(table, 0, 2); // version
    // One subtable, full Unicode, for both platforms: a reader of outlines without glyph names
    // that finds no Unicode platform entry makes up a character map of its own.
    write(table, 2, 2);
    for (const quint32 platform : { 0, 3 }) {
        write(table, platform, 2);
        write(table, platform == 0 ? 4 : 10, 2);
        write(table, 20, 4);
    }
    write(table, 12, 2); // format
    write(table, 0, 2);
    write(table, quint32(16 + groups.size()), 4);
    write(table, 0, 4); // any language
    write(table, count, 4);
    return table + groups;
}

QByteArray names(const QString &family, bool bold)
{
    QString postScript;
    for (QChar c : family) {
        if (c.unicode() < 128 && c.isLetterOrNumber())
            postScript += c;
    }
    const QString style = bold ? QStringLiteral("Bold") : QStringLiteral("Regular");
    const QPair<int, QString> entries[] = { { 1, family }, { 2, style }, { 3, family + QLatin1Char(' ') + style },
        { 4, family + QLatin1Char(' ') + style },
        { 6, (postScript.isEmpty() ? QStringLiteral("PrintFont") : postScript) + QLatin1Char('-') + style } };
    QByteArray records, strings;
    for (const auto &entry : entries) {
        QByteArray text;
        for (QChar c : entry.second)
            write(text, c.unicode(), 2);
        write(records, 3, 2); // Windows, Unicode, US English
        write(records, 1, 2);
        write(records, 0x409, 2);
        write(records, quint32(entry.first), 2);
        write(records, quint32(text.size()), 2);
        write(records, quint32(strings.size()), 2);
        strings += text;
    }
    QByteArray table;
    write(table, 0, 2);
    write(table, quint32(std::size(entries)), 2);
    write(table, quint32(6 + records.size()), 2);
    return table + records + strings;
}

quint32 checksum(const QByteArray &table)
{
    const QByteArray padded = table + QByteArray(int((4 - table.size() % 4) % 4), '\0');
    quint32 sum = 0;
    for (qint64 i = 0; i < padded.size(); i += 4)
        sum += read(padded, i, 4);
    return sum;
}

struct RawTables : FontTables {
    QRawFont font;
    QByteArray table(const char *tag) const override { return font.fontTable(tag); }
};

} // namespace

QByteArray searchableFont(const FontTables &face, const QString &family, bool bold)
{
    CharMap map = readCharMap(face.table("cmap"));
    // A character is left out only where another gives its glyph back.
    QHash<uint, bool> plain; // glyphs a character that is given back maps to
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (!neverGivenBack(it.key()))
            plain.insert(it.value(), true);
    }
    for (auto it = map.begin(); it != map.end();) {
        if (neverGivenBack(it.key()) && plain.contains(it.value()))
            it = map.erase(it);
        else
            ++it;
    }
    QMap<QByteArray, QByteArray> tables; // by tag, the order of the table directory
    for (const char *tag : kCopied) {
        const QByteArray table = face.table(tag);
        if (!table.isEmpty())
            tables.insert(QByteArray(tag), table);
    }
    const bool outlines = tables.contains("CFF ") || tables.contains("CFF2") || tables.contains("glyf");
    if (map.isEmpty() || !outlines || !tables.contains("head") || !tables.contains("hmtx"))
        return {};
    tables.insert("cmap", format12(map));
    tables.insert("name", names(family, bold));
    QByteArray &head = tables["head"];
    if (head.size() >= 12)
        head.replace(8, 4, QByteArray(4, '\0')); // the whole file's checksum is not kept

    const int count = int(tables.size());
    int power = 1, log = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++log;
    }
    QByteArray font;
    write(font, tables.contains("glyf") ? 0x00010000 : 0x4F54544F, 4); // TrueType or 'OTTO'
    write(font, quint32(count), 2);
    write(font, quint32(power * 16), 2);
    write(font, quint32(log), 2);
    write(font, quint32(count * 16 - power * 16), 2);
    qint64 offset = 12 + 16 * count;
    for (auto it = tables.constBegin(); it != tables.constEnd(); ++it) {
        font += it.key();
        write(font, checksum(it.value()), 4);
        write(font, quint32(offset), 4);
        write(font, quint32(it.value().size()), 4);
        offset += (it.value().size() + 3) / 4 * 4;
    }
    for (const QByteArray &table : tables) {
        font += table;
        font += QByteArray(int((4 - table.size() % 4) % 4), '\0');
    }
    return font;
}

QStringList searchable(const QStringList &families, bool bold)
{
    QFont probe;
    probe.setFamilies(families);
    probe.setBold(bold);
    const QString used = QFontInfo(probe).family();
    // Made once for each face the program prints in, for the rest of the run.
    static QHash<QString, QString> made;
    const QString key = used + (bold ? QStringLiteral("\n1") : QStringLiteral("\n0"));
    auto it = made.find(key);
    if (it == made.end()) {
        QString copy;
        RawTables face;
        face.font = QRawFont::fromFont(probe, QFontDatabase::SimplifiedChinese);
        const QByteArray data
            = face.font.isValid() ? searchableFont(face, QStringLiteral("dagl ") + used, bold) : QByteArray();
        const int id = data.isEmpty() ? -1 : QFontDatabase::addApplicationFontFromData(data);
        if (id >= 0)
            copy = QFontDatabase::applicationFontFamilies(id).value(0);
        it = made.insert(key, copy);
    }
    if (it->isEmpty())
        return families;
    QStringList result = families;
    const auto at = std::find_if(result.begin(), result.end(),
        [&used](const QString &family) { return family.compare(used, Qt::CaseInsensitive) == 0; });
    result.insert(at, *it);
    return result;
}

QFont face(const QStringList &families, qreal points, bool bold)
{
    QFont font(families.constFirst());
    font.setFamilies(searchable(families, bold));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace dagl::PrintFonts
