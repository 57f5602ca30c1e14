#pragma once

#include <QByteArray>
#include <QFont>
#include <QStringList>

namespace dagl::PrintFonts {

// `families` with, just before the face the system would draw them in, a copy of that face
// whose text a PDF gives back exactly. Qt names each glyph of an embedded font after the
// lowest character the font maps to it, so faces that share the glyphs of common characters
// with the Kangxi radicals (the Noto CJK faces do) come back from a PDF as radicals; and
// digits shaped into alternate glyphs come back as nothing. The copy maps no radical and no
// control character and substitutes no glyph. Without a face to copy, `families` as given.
QStringList searchable(const QStringList &families, bool bold);
// A font of the first of `families` the system has, in its searchable copy.
QFont face(const QStringList &families, qreal points, bool bold = false);

// The copy of a face made from its tables: the font file `searchable` registers, under
// `family`. Empty when the tables do not make a font (no character map, no outlines).
struct FontTables {
    virtual ~FontTables() = default;
    // The table `tag`, empty when the face has none.
    virtual QByteArray table(const char *tag) const = 0;
};
QByteArray searchableFont(const FontTables &face, const QString &family, bool bold);

} // namespace dagl::PrintFonts
