#include "PrintGrid.h"

#include "DBGridEh.h"
#include "Dataset.h"
#include "Error.h"
#include "ExportGrid.h"
#include "Regional.h"
#include "Ui.h"

#include <QDate>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace dagl {

namespace {

// The Windows faces the report was designed with first, then faces other systems have.
const QStringList kLiShu = { QStringLiteral("隶书"), QStringLiteral("LiSu"), QStringLiteral("STLiti"),
    QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC") };
const QStringList kKaiTi = { QStringLiteral("楷体_GB2312"), QStringLiteral("楷体"), QStringLiteral("KaiTi"),
    QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC") };
const QStringList kSongTi = { QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
    QStringLiteral("Noto Sans CJK SC") };

const QColor kTitleCells(0xA6, 0xCA, 0xF0); // sky blue, as on screen
const QColor kDataCells(0xFF, 0xFB, 0xF0); // cream
const QColor kFooterCells(0xF0, 0xF0, 0xF0);

// Rows read to find how wide each column must be; later rows are cut to fit.
constexpr int kMeasuredRows = 200;

QFont face(const QStringList &families, qreal points)
{
    QFont font(families.constFirst());
    font.setFamilies(families);
    font.setPointSizeF(points);
    return font;
}

// Geometry of one report on one device, in device units.
struct Metrics {
    qreal point = 1; // device units per point
    qreal headerHeight = 0; // title, double rule and a gap
    qreal footerHeight = 0;
    qreal dateHeight = 0;
    qreal rowHeight = 0; // grid units
    qreal padding = 0; // grid units
    QVector<qreal> widths; // grid units
    qreal scale = 1; // grid units to device units
};

void doubleRule(QPainter &painter, qreal left, qreal right, qreal y, qreal point)
{
    painter.setPen(QPen(Qt::black, 0.75 * point));
    painter.drawLine(QPointF(left, y), QPointF(right, y));
    painter.drawLine(QPointF(left, y + 2 * point), QPointF(right, y + 2 * point));
}

Metrics measure(QPainter &painter, const QRectF &area, const GridReport &report)
{
    QPaintDevice *device = painter.device();
    Metrics m;
    m.point = device->logicalDpiY() / 72.0;
    const QFontMetricsF title(face(kLiShu, 24), device);
    const QFontMetricsF date(face(kKaiTi, 7), device);
    const QFontMetricsF footer(face(kSongTi, 9), device);
    const QFontMetricsF cell(face(kSongTi, 9), device);
    m.headerHeight = title.height() + 8 * m.point;
    m.footerHeight = footer.height() + 8 * m.point;
    m.dateHeight = date.height();
    m.padding = 3 * m.point;
    m.rowHeight = cell.height() + 2 * m.padding;

    const GridTable &table = report.table;
    const int rows = std::min(table.rowCount, kMeasuredRows);
    qreal total = 0;
    for (int c = 0; c < table.titles.size(); ++c) {
        qreal width = cell.horizontalAdvance(table.titles.at(c));
        if (c < table.footer.size())
            width = std::max(width, cell.horizontalAdvance(table.footer.at(c)));
        for (int r = 0; r < rows; ++r)
            width = std::max(width, cell.horizontalAdvance(table.cell(r, c)));
        width = std::min(width, 60 * cell.averageCharWidth()) + 2 * m.padding;
        m.widths << width;
        total += width;
    }
    if (total > 0) {
        const qreal fit = area.width() / total;
        if (fit < 1) {
            m.scale = fit; // shrink the whole grid, text included
        } else {
            for (qreal &width : m.widths) // widen the columns, keep the text size
                width *= fit;
        }
    }
    return m;
}

enum class RowKind { Title, Data, Footer };

void drawRow(QPainter &painter, const Metrics &m, const GridReport &report, RowKind kind, int row)
{
    const GridTable &table = report.table;
    const QFontMetricsF metrics(painter.font(), painter.device());
    qreal x = 0;
    for (int c = 0; c < m.widths.size(); ++c) {
        const QRectF cell(x, 0, m.widths.at(c), m.rowHeight);
        x += m.widths.at(c);
        QString text;
        int align = Qt::AlignVCenter;
        switch (kind) {
        case RowKind::Title:
            painter.fillRect(cell, kTitleCells);
            text = table.titles.at(c);
            align |= Qt::AlignHCenter;
            break;
        case RowKind::Data:
            painter.fillRect(cell, kDataCells);
            text = table.cell(row, c);
            align |= c < table.numeric.size() && table.numeric.at(c) ? Qt::AlignRight : Qt::AlignLeft;
            break;
        case RowKind::Footer:
            painter.fillRect(cell, kFooterCells);
            text = c < table.footer.size() ? table.footer.at(c) : QString();
            align |= Qt::AlignHCenter;
            break;
        }
        painter.setPen(QPen(Qt::black, 0.5 * m.point));
        painter.drawRect(cell);
        const QRectF inner = cell.adjusted(m.padding, 0, -m.padding, 0);
        if (!text.isEmpty())
            painter.drawText(inner, align, metrics.elidedText(text, Qt::ElideRight, inner.width()));
    }
}

} // namespace

namespace PrintLayout {

QString footerText(int page)
{
    // The footer is "第&[page]页" with the page macro replaced.
    return QStringLiteral("第&[page]页").replace(QStringLiteral("&[page]"), QString::number(page), Qt::CaseInsensitive);
}

QString dateLine(const QString &date)
{
    return QStringLiteral("制表日期：%[today]").replace(QStringLiteral("%[Today]"), date, Qt::CaseInsensitive);
}

} // namespace PrintLayout

int drawGridReport(
    QPainter &painter, const QRectF &area, const GridReport &report, const std::function<void()> &newPage)
{
    const Metrics m = measure(painter, area, report);
    const GridTable &table = report.table;
    const qreal gridBottom = area.bottom() - m.footerHeight;
    const qreal rowHeight = m.rowHeight * m.scale;
    int row = 0;
    bool footerDrawn = false;
    int page = 1;
    for (;; ++page) {
        painter.save();
        painter.setPen(Qt::black);
        painter.setFont(face(kLiShu, 24));
        painter.drawText(
            QRectF(area.left(), area.top(), area.width(), m.headerHeight - 8 * m.point), Qt::AlignCenter, report.title);
        doubleRule(painter, area.left(), area.right(), area.top() + m.headerHeight - 6 * m.point, m.point);
        doubleRule(painter, area.left(), area.right(), gridBottom + 2 * m.point, m.point);
        painter.setPen(Qt::black);
        painter.setFont(face(kSongTi, 9));
        painter.drawText(QRectF(area.left(), gridBottom + 6 * m.point, area.width(), m.footerHeight - 6 * m.point),
            Qt::AlignHCenter | Qt::AlignVCenter, PrintLayout::footerText(page));
        painter.restore();

        qreal y = area.top() + m.headerHeight;
        if (page == 1) {
            painter.save();
            painter.setPen(Qt::black);
            painter.setFont(face(kKaiTi, 7));
            painter.drawText(QRectF(area.left(), y, area.width(), m.dateHeight), Qt::AlignRight | Qt::AlignVCenter,
                PrintLayout::dateLine(report.date));
            painter.restore();
            y += 2 * m.dateHeight; // the date line and an empty line
        }

        painter.save();
        painter.setFont(face(kSongTi, 9));
        auto place = [&](RowKind kind, int r) {
            painter.save();
            painter.translate(area.left(), y);
            painter.scale(m.scale, m.scale);
            drawRow(painter, m, report, kind, r);
            painter.restore();
            y += rowHeight;
        };
        place(RowKind::Title, -1);
        // Every page takes at least one row, so even a page too small for the grid ends.
        bool placed = false;
        while (row < table.rowCount && (!placed || y + rowHeight <= gridBottom)) {
            place(RowKind::Data, row++);
            placed = true;
        }
        if (row >= table.rowCount && (!placed || y + rowHeight <= gridBottom)) {
            place(RowKind::Footer, -1);
            footerDrawn = true;
        }
        painter.restore();
        if (footerDrawn)
            break;
        newPage();
    }
    return page;
}

void renderGridReport(QPagedPaintDevice &device, const GridReport &report)
{
    device.setPageMargins(QMarginsF(PrintLayout::kLeft, PrintLayout::kTop, PrintLayout::kRight, PrintLayout::kBottom),
        QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&device))
        throw Error(QStringLiteral("无法开始打印"));
    painter.setRenderHint(QPainter::Antialiasing);
    drawGridReport(painter, QRectF(0, 0, device.width(), device.height()), report, [&device] { device.newPage(); });
    painter.end();
}

GridReport gridReport(const DBGridEh &grid, const QString &title, const QDate &today)
{
    return GridReport { title, Regional::formatDate(today), gridTable(grid) };
}

void PrintGrid(DBGridEh &grid, const QString &title, Ui &ui, QWidget *parent)
{
    if (ui.printers().isEmpty()) {
        ui.showMessage(QStringLiteral("对不起,没安装打印机不能打印该文档!"));
        return;
    }
    Dataset *dataset = grid.datasetModel()->dataset();
    if (!dataset || !dataset->isOpen())
        return; // nothing to preview before the first result
    const GridReport report = gridReport(grid, title, QDate::currentDate());
    ui.printPreview(parent, title, [report](QPagedPaintDevice &device) { renderGridReport(device, report); });
}

} // namespace dagl
