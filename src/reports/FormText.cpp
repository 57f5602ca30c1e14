#include "FormText.h"

#include "PagedReport.h"
#include "PrintFonts.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QVector>

namespace dagl {

namespace {

using PrintFonts::face;

} // namespace

namespace FormFonts {

QFont songTi(qreal points)
{
    static const QStringList families = { QStringLiteral("宋体"), QStringLiteral("SimSun"),
        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC") };
    return face(families, points);
}

QFont heiTi(qreal points)
{
    static const QStringList families = { QStringLiteral("黑体"), QStringLiteral("SimHei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC") };
    return face(families, points, true);
}

} // namespace FormFonts

TextWrap::TextWrap(const QFont &font, const QPaintDevice &device)
    : m_font(layoutFont(font, device))
    , m_metrics(m_font, const_cast<QPaintDevice *>(&device))
    , m_lineHeight(m_metrics.height())
    , m_ascent(m_metrics.ascent())
{
}

qreal TextWrap::advance(const QString &text, int at, int length) const
{
    const uint key = length == 2 ? QChar::surrogateToUcs4(text.at(at), text.at(at + 1)) : text.at(at).unicode();
    auto it = m_advances.constFind(key);
    if (it != m_advances.constEnd())
        return *it;
    const qreal a = m_metrics.horizontalAdvance(text.mid(at, length));
    m_advances.insert(key, a);
    return a;
}

qreal TextWrap::width(const QString &text) const
{
    qreal w = 0;
    for (int i = 0; i < text.size();) {
        const int length
            = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
        w += advance(text, i, length);
        i += length;
    }
    return w;
}

template <typename Emit> void TextWrap::breakLines(const QString &text, qreal width, Emit line) const
{
    const int n = int(text.size());
    // Where a line may end by the Unicode rules: between Chinese characters, never before
    // closing punctuation or after an opening bracket, in a code only after its separators.
    QVector<bool> breakable(n + 1, false);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0 && at <= n; at = finder.toNextBoundary())
        breakable[at] = true;
    int start = 0;
    int lastBreak = -1; // the last place this line may end, after `start`
    qreal used = 0;
    for (int i = 0; i < n;) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n')) {
            line(start, i - start);
            start = i + 1;
            lastBreak = -1;
            used = 0;
            ++i;
            continue;
        }
        if (breakable[i] && i > start)
            lastBreak = i;
        const int length = c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate() ? 2 : 1;
        const qreal a = advance(text, i, length);
        // Blanks may hang beyond the cell's edge: they are not drawn at a line's end.
        if (used + a > width && i > start && !c.isSpace()) {
            // Back to the last place the line may end; where there is none the text breaks
            // before this character, so that nothing is lost.
            const int end = lastBreak > start ? lastBreak : i;
            line(start, end - start);
            start = end;
            lastBreak = -1;
            used = 0;
            for (int k = start; k < i; ++k) {
                if (breakable[k] && k > start)
                    lastBreak = k;
                used += advance(text, k, 1);
            }
            if (end < i)
                continue; // the character is measured again on its new line
        }
        used += a;
        i += length;
    }
    line(start, n - start);
}

QStringList TextWrap::lines(const QString &text, qreal width) const
{
    QStringList found;
    breakLines(text, width, [&](int from, int length) { found << text.mid(from, length).trimmed(); });
    return found;
}

int TextWrap::lineCount(const QString &text, qreal width) const
{
    int count = 0;
    breakLines(text, width, [&count](int, int) { ++count; });
    return count;
}

void drawLines(
    QPainter &painter, const TextWrap &wrap, const QRectF &rect, const QStringList &lines, Qt::Alignment align)
{
    painter.setFont(wrap.font());
    const qreal height = wrap.lineHeight() * lines.size();
    qreal y = rect.top() + (rect.height() - height) / 2;
    for (const QString &line : lines) {
        if (!line.isEmpty()) {
            const qreal w = wrap.width(line);
            qreal x = rect.left();
            if (align & Qt::AlignHCenter)
                x += (rect.width() - w) / 2;
            else if (align & Qt::AlignRight)
                x = rect.right() - w;
            painter.drawText(QPointF(x, y + wrap.ascent()), line);
        }
        y += wrap.lineHeight();
    }
}

QFont fittedFont(const QFont &font, const QString &text, qreal width, qreal minPoints, const QPaintDevice &device)
{
    QFont fitted = font;
    auto *measured = const_cast<QPaintDevice *>(&device);
    while (fitted.pointSizeF() > minPoints
        && QFontMetricsF(layoutFont(fitted, device), measured).horizontalAdvance(text) > width)
        fitted.setPointSizeF(std::max(minPoints, fitted.pointSizeF() - 0.5));
    return fitted;
}

} // namespace dagl
