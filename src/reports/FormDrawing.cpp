#include "FormDrawing.h"

#include "FormText.h"

#include <QPaintDevice>
#include <QPainter>

namespace dagl::FormDrawing {

namespace {

const QString kSpace = QStringLiteral("　"); // an ideographic space between fields

} // namespace

qreal mm(const QPaintDevice &device, qreal millimetres)
{
    return device.logicalDpiY() / 25.4 * millimetres;
}

QString headingLine(const QVector<Field> &fields)
{
    QStringList parts;
    for (const Field &field : fields) {
        if (!field.second.isEmpty())
            parts << field.first + QStringLiteral("：") + field.second;
    }
    return parts.join(kSpace);
}

qreal drawFieldLines(QPainter &painter, const QPaintDevice &device, const QRectF &area, qreal top,
    const QVector<Field> &fields, qreal points)
{
    const qreal labelWidth = std::min(mm(device, 40), area.width() * 0.3);
    const qreal valueWidth = std::min(mm(device, 120), area.width() - labelWidth);
    const qreal left = area.left() + (area.width() - labelWidth - valueWidth) / 2;
    const TextWrap label(FormFonts::heiTi(points), device);
    qreal y = top;
    painter.setPen(QPen(Qt::black, mm(device, 0.25)));
    for (const Field &field : fields) {
        const QFont font = fittedFont(FormFonts::songTi(points), field.second, valueWidth, points * 0.75, device);
        const TextWrap value(font, device);
        const QStringList lines = value.lines(field.second, valueWidth);
        const qreal height = std::max(label.lineHeight(), value.lineHeight() * lines.size()) + mm(device, 3);
        drawLines(painter, label, QRectF(left, y, labelWidth, height), { field.first + QStringLiteral("：") },
            Qt::AlignRight);
        drawLines(painter, value, QRectF(left + labelWidth, y, valueWidth, height), lines, Qt::AlignHCenter);
        painter.drawLine(QPointF(left + labelWidth, y + height), QPointF(left + labelWidth + valueWidth, y + height));
        y += height + mm(device, 6);
    }
    return y;
}

void drawRecordSheet(QPainter &painter, const QPaintDevice &device, const QRectF &area, const RecordSheet &sheet)
{
    painter.setPen(Qt::black);
    const TextWrap title(FormFonts::heiTi(22), device);
    const qreal titleHeight = title.lineHeight() * 2;
    drawLines(
        painter, title, QRectF(area.left(), area.top(), area.width(), titleHeight), { sheet.title }, Qt::AlignHCenter);
    const TextWrap heading(fittedFont(FormFonts::songTi(10.5), sheet.heading, area.width(), 7, device), device);
    qreal y = area.top() + titleHeight;
    drawLines(painter, heading, QRectF(area.left(), y, area.width(), heading.lineHeight() * 1.5),
        heading.lines(sheet.heading, area.width()), Qt::AlignLeft);
    y += heading.lineHeight() * 1.5;

    const QRectF frame(area.left(), y, area.width(), area.bottom() - y);
    painter.setPen(QPen(Qt::black, mm(device, 0.5)));
    painter.drawRect(frame);
    const QRectF inner = frame.adjusted(mm(device, 8), mm(device, 8), -mm(device, 8), -mm(device, 8));
    const TextWrap section(FormFonts::heiTi(14), device);
    drawLines(painter, section, QRectF(inner.left(), inner.top(), inner.width(), section.lineHeight()),
        { sheet.section }, Qt::AlignLeft);
    const TextWrap summary(FormFonts::songTi(14), device);
    const QStringList lines = summary.lines(sheet.summary, inner.width() - mm(device, 10));
    drawLines(painter, summary,
        QRectF(inner.left() + mm(device, 10), inner.top() + section.lineHeight() * 2, inner.width() - mm(device, 10),
            summary.lineHeight() * lines.size()),
        lines, Qt::AlignLeft);

    // The blanks to sign at the foot, on the right, the dates last.
    const TextWrap signer(FormFonts::songTi(14), device);
    const qreal rowHeight = mm(device, 14);
    const qreal labelWidth = mm(device, 30);
    const qreal lineWidth = std::min(mm(device, 60), inner.width() / 2);
    const qreal left = inner.right() - labelWidth - lineWidth;
    qreal row = inner.bottom() - rowHeight * sheet.signers.size();
    painter.setPen(QPen(Qt::black, mm(device, 0.25)));
    for (int i = 0; i < sheet.signers.size(); ++i) {
        const QRectF labelRect(left, row, labelWidth, rowHeight);
        drawLines(painter, signer, labelRect, { sheet.signers.at(i) + QStringLiteral("：") }, Qt::AlignRight);
        const qreal base = row + (rowHeight + signer.lineHeight()) / 2;
        painter.drawLine(QPointF(left + labelWidth, base), QPointF(left + labelWidth + lineWidth, base));
        if (i >= sheet.signers.size() - sheet.dates) {
            // 年, 月 and 日 stand on the date's line with room before each.
            const QString parts[] = { QStringLiteral("年"), QStringLiteral("月"), QStringLiteral("日") };
            const qreal at[] = { 0.42, 0.7, 0.96 };
            for (int p = 0; p < 3; ++p) {
                const qreal x = left + labelWidth + lineWidth * at[p] - signer.width(parts[p]);
                drawLines(
                    painter, signer, QRectF(x, row, signer.width(parts[p]), rowHeight), { parts[p] }, Qt::AlignLeft);
            }
        }
        row += rowHeight;
    }
}

} // namespace dagl::FormDrawing
