#include "PrintFonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QList>
#include <QRawFont>
#include <QSet>

#include <hb-subset.h>

#include <algorithm>

namespace dagl::PrintFonts {

namespace {

// The tables a face is drawn and measured from, with its character map. The glyph
// substitutions are left out, and the names made anew.
const char *const kCopied[] = { "cmap", "CFF ", "CFF2", "glyf", "loca", "head", "hhea", "hmtx", "maxp", "OS/2", "post",
    "vhea", "vmtx", "VORG", "BASE", "GDEF", "GPOS", "cvt ", "fpgm", "prep", "gasp", "hdmx", "kern", "EBDT", "EBLC",
    "EBSC", "VDMX", "LTSH", "fvar", "gvar", "avar", "HVAR", "MVAR", "STAT" };

hb_tag_t tagOf(const char *tag)
{
    return HB_TAG(tag[0], tag[1], tag[2], tag[3]);
}

template <typename T, void (*destroy)(T *)> struct Owned {
    T *const p;
    explicit Owned(T *object)
        : p(object)
    {
    }
    ~Owned() { destroy(p); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
};
using Blob = Owned<hb_blob_t, hb_blob_destroy>;
using Face = Owned<hb_face_t, hb_face_destroy>;
using Font = Owned<hb_font_t, hb_font_destroy>;
using Input = Owned<hb_subset_input_t, hb_subset_input_destroy>;

// A blob that keeps its own copy of `data` alive.
hb_blob_t *blobOf(const QByteArray &data)
{
    auto *held = new QByteArray(data);
    return hb_blob_create(held->constData(), uint(held->size()), HB_MEMORY_MODE_READONLY, held,
        [](void *bytes) { delete static_cast<QByteArray *>(bytes); });
}

// Characters never to be given back for a glyph another character also has: controls,
// radicals, strokes and the Kanbun marks look like the common characters they share with.
bool neverGivenBack(uint c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3190 && c <= 0x319F)
        || (c >= 0x31C0 && c <= 0x31EF);
}

// The characters of `face` the copy maps: all but those whose glyph another gives back.
void givenBack(hb_face_t *face, hb_set_t *kept)
{
    const Font font(hb_font_create(face));
    const Owned<hb_set_t, hb_set_destroy> mapped(hb_set_create());
    hb_face_collect_unicodes(face, mapped.p);
    QSet<hb_codepoint_t> plain; // glyphs a character that is given back maps to
    QList<QPair<hb_codepoint_t, hb_codepoint_t>> doubtful; // character, glyph
    for (hb_codepoint_t c = HB_SET_VALUE_INVALID; hb_set_next(mapped.p, &c);) {
        hb_codepoint_t glyph = 0;
        if (!hb_font_get_nominal_glyph(font.p, c, &glyph) || glyph == 0)
            continue;
        if (neverGivenBack(c)) {
            doubtful.append({ c, glyph });
        } else {
            plain.insert(glyph);
            hb_set_add(kept, c);
        }
    }
    for (const auto &[c, glyph] : doubtful) {
        if (!plain.contains(glyph))
            hb_set_add(kept, c);
    }
}

void write(QByteArray &data, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        data.append(char(value >> (8 * i) & 0xFF));
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

struct RawTables : FontTables {
    QRawFont font;
    QByteArray table(const char *tag) const override { return font.fontTable(tag); }
};

} // namespace

QByteArray searchableFont(const FontTables &face, const QString &family, bool bold)
{
    QSet<QByteArray> present;
    const Face source(hb_face_builder_create());
    for (const char *tag : kCopied) {
        const QByteArray table = face.table(tag);
        if (table.isEmpty())
            continue;
        const Blob blob(blobOf(table));
        if (!hb_face_builder_add_table(source.p, tagOf(tag), blob.p))
            return {};
        present.insert(QByteArray(tag));
    }
    const bool outlines = present.contains("CFF ") || present.contains("CFF2") || present.contains("glyf");
    if (!outlines || !present.contains("head") || !present.contains("hmtx"))
        return {};
    // Read back as a font file, so the subsetter sees the table directory.
    const Blob file(hb_face_reference_blob(source.p));
    const Face original(hb_face_create(file.p, 0));

    const Input input(hb_subset_input_create_or_fail());
    if (input.p == nullptr)
        return {};
    hb_set_t *const characters = hb_subset_input_unicode_set(input.p);
    givenBack(original.p, characters);
    if (hb_set_is_empty(characters))
        return {};
    // Every glyph keeps its number, so all but the character map go across as they are; that
    // also keeps the copy quick for faces of tens of thousands of glyphs.
    hb_set_t *const asTheyAre = hb_subset_input_set(input.p, HB_SUBSET_SETS_NO_SUBSET_TABLE_TAG);
    for (const char *tag : kCopied) {
        if (qstrcmp(tag, "cmap") != 0)
            hb_set_add(asTheyAre, tagOf(tag));
    }
    // The subsetter would otherwise leave out tables the face is measured from (kern, BASE,
    // hdmx...); only the substitutions go, and the names, which are made anew below.
    hb_set_t *const dropped = hb_subset_input_set(input.p, HB_SUBSET_SETS_DROP_TABLE_TAG);
    hb_set_clear(dropped);
    for (const char *tag : { "GSUB", "name", "morx", "mort" })
        hb_set_add(dropped, tagOf(tag));
    hb_subset_input_set_flags(input.p,
        HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NOTDEF_OUTLINE | HB_SUBSET_FLAGS_GLYPH_NAMES
            | HB_SUBSET_FLAGS_NO_PRUNE_UNICODE_RANGES);

    const Face copy(hb_subset_or_fail(original.p, input.p));
    if (copy.p == nullptr)
        return {};
    const Blob name(blobOf(names(family, bold)));
    if (!hb_face_builder_add_table(copy.p, HB_TAG('n', 'a', 'm', 'e'), name.p))
        return {};
    const Blob result(hb_face_reference_blob(copy.p));
    unsigned length = 0;
    const char *data = hb_blob_get_data(result.p, &length);
    return length == 0 ? QByteArray() : QByteArray(data, int(length));
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
