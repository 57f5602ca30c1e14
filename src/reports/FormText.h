#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;
class QPaintDevice;

namespace dagl {

namespace FormFonts {
// 宋体 for the text of the forms, 黑体 for titles and headings, with faces other systems have.
QFont songTi(qreal points);
QFont heiTi(qreal points);
} // namespace FormFonts

// Breaks text into the lines of a cell of a given width, in one font measured on one device
// (and sized in its units, so that it draws as measured under any scale).
// Lines end where the Unicode line-breaking rules allow: Chinese between two characters, but
// closing punctuation never starts a line and an opening bracket never ends one; other words
// and codes at blanks and separators. A line break in the text starts a new line. Nothing is
// ever cut: a word wider than the cell breaks before the character that does not fit. Widths
// are added up per character, so a long catalogue is measured quickly, and the same text
// always breaks the same way.
class TextWrap {
public:
    TextWrap() = default;
    TextWrap(const QFont &font, const QPaintDevice &device);

    const QFont &font() const { return m_font; }
    qreal lineHeight() const { return m_lineHeight; }
    qreal ascent() const { return m_ascent; }
    qreal width(const QString &text) const;
    QStringList lines(const QString &text, qreal width) const;
    int lineCount(const QString &text, qreal width) const;

private:
    template <typename Emit> void breakLines(const QString &text, qreal width, Emit line) const;
    qreal advance(const QString &text, int at, int length) const;

    QFont m_font;
    QFontMetricsF m_metrics { QFont() };
    qreal m_lineHeight = 1;
    qreal m_ascent = 1;
    mutable QHash<uint, qreal> m_advances;
};

// Draws `lines` in `rect`, one below the other and together centred vertically.
void drawLines(
    QPainter &painter, const TextWrap &wrap, const QRectF &rect, const QStringList &lines, Qt::Alignment align);

// The font of `wrap` made smaller (down to `minPoints`) until `text` fits `width` on one line.
QFont fittedFont(const QFont &font, const QString &text, qreal width, qreal minPoints, const QPaintDevice &device);

} // namespace dagl
