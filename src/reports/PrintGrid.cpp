#include "PrintGrid.h"

#include "DBGridEh.h"
#include "Dataset.h"
#include "Error.h"
#include "ExportGrid.h"
#include "PrintFonts.h"
#include "Regional.h"
#include "Ui.h"

#include <QDate>
#include <QFontMetricsF>
#include <QPageLayout>
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

using PrintFonts::face;

void doubleRule(QPainter &painter, qreal left, qreal right, qreal y, qreal point)
{
    painter.setPen(QPen(Qt::black, 0.75 * point));
    painter.drawLine(QPointF(left, y), QPointF(right, y));
    painter.drawLine(QPointF(left, y + 2 * point), QPointF(right, y + 2 * point));
}

enum RowKind { TitleRow, DataRow, FooterRow };

// Rows that fit between `top` and `bottom` below the title row; a page takes at least one,
// so that even a page too small for the grid ends. The small allowance keeps a row that fits
// exactly from being lost to rounding.
int rowsBetween(qreal top, qreal bottom, qreal rowHeight)
{
    if (rowHeight <= 0)
        return 1;
    return std::max(1, int(std::floor((bottom - top - rowHeight) / rowHeight + 1e-6)));
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

GridReportPages::GridReportPages(const GridReport &report, const QPaintDevice &device)
    : m_report(report)
    , m_area(0, 0, device.width(), device.height())
{
    auto *metricsDevice = const_cast<QPaintDevice *>(&device);
    Geometry &m = m_geometry;
    m.point = device.logicalDpiY() / 72.0;
    m.titleFont = layoutFont(face(kLiShu, 24), device);
    m.dateFont = layoutFont(face(kKaiTi, 7), device);
    m.cellFont = layoutFont(face(kSongTi, 9), device); // the footer's too
    const QFontMetricsF title(m.titleFont, metricsDevice);
    const QFontMetricsF date(m.dateFont, metricsDevice);
    const QFontMetricsF cell(m.cellFont, metricsDevice);
    m.headerHeight = title.height() + 8 * m.point;
    m.footerHeight = cell.height() + 8 * m.point;
    m.dateHeight = date.height();
    m.padding = 3 * m.point;
    m.rowHeight = cell.height() + 2 * m.padding;

    const GridTable &table = m_report.table;
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
        const qreal fit = m_area.width() / total;
        if (fit < 1) {
            m.scale = fit; // shrink the whole grid, text included
        } else {
            for (qreal &width : m.widths) // widen the columns, keep the text size
                width *= fit;
        }
    }

    const qreal gridBottom = m_area.bottom() - m.footerHeight;
    const qreal rowHeight = m.rowHeight * m.scale;
    m_firstCapacity = rowsBetween(m_area.top() + m.headerHeight + 2 * m.dateHeight, gridBottom, rowHeight);
    m_capacity = rowsBetween(m_area.top() + m.headerHeight, gridBottom, rowHeight);
    const int count = table.rowCount;
    if (count == 0) {
        m_pages = 1;
        return;
    }
    // Pages with data rows, then one more for the footer row when the last is full.
    const int later = std::max(0, count - m_firstCapacity);
    m_pages = 1 + (later + m_capacity - 1) / m_capacity;
    if (rowsOn(m_pages) == (m_pages == 1 ? m_firstCapacity : m_capacity))
        ++m_pages;
}

int GridReportPages::firstRow(int page) const
{
    if (page <= 1)
        return 0;
    const qint64 first = m_firstCapacity + qint64(page - 2) * m_capacity;
    return int(std::min<qint64>(first, m_report.table.rowCount));
}

int GridReportPages::rowsOn(int page) const
{
    if (page < 1 || page > m_pages)
        return 0;
    const int capacity = page == 1 ? m_firstCapacity : m_capacity;
    return std::min(capacity, m_report.table.rowCount - firstRow(page));
}

void GridReportPages::drawRow(QPainter &painter, int kind, int row) const
{
    const Geometry &m = m_geometry;
    const GridTable &table = m_report.table;
    const QFontMetricsF metrics(m.cellFont);
    qreal x = 0;
    for (int c = 0; c < m.widths.size(); ++c) {
        const QRectF cell(x, 0, m.widths.at(c), m.rowHeight);
        x += m.widths.at(c);
        QString text;
        int align = Qt::AlignVCenter;
        switch (kind) {
        case TitleRow:
            painter.fillRect(cell, kTitleCells);
            text = table.titles.at(c);
            align |= Qt::AlignHCenter;
            break;
        case DataRow:
            painter.fillRect(cell, kDataCells);
            text = table.cell(row, c);
            align |= c < table.numeric.size() && table.numeric.at(c) ? Qt::AlignRight : Qt::AlignLeft;
            break;
        default:
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

void GridReportPages::drawPage(QPainter &painter, int page) const
{
    const Geometry &m = m_geometry;
    const QRectF &area = m_area;
    const qreal gridBottom = area.bottom() - m.footerHeight;
    const qreal rowHeight = m.rowHeight * m.scale;
    painter.save();
    painter.setPen(Qt::black);
    painter.setFont(m.titleFont);
    painter.drawText(
        QRectF(area.left(), area.top(), area.width(), m.headerHeight - 8 * m.point), Qt::AlignCenter, m_report.title);
    doubleRule(painter, area.left(), area.right(), area.top() + m.headerHeight - 6 * m.point, m.point);
    doubleRule(painter, area.left(), area.right(), gridBottom + 2 * m.point, m.point);
    painter.setPen(Qt::black);
    painter.setFont(m.cellFont);
    painter.drawText(QRectF(area.left(), gridBottom + 6 * m.point, area.width(), m.footerHeight - 6 * m.point),
        Qt::AlignHCenter | Qt::AlignVCenter, PrintLayout::footerText(page));
    painter.restore();

    qreal top = area.top() + m.headerHeight;
    if (page == 1) {
        painter.save();
        painter.setPen(Qt::black);
        painter.setFont(m.dateFont);
        painter.drawText(QRectF(area.left(), top, area.width(), m.dateHeight), Qt::AlignRight | Qt::AlignVCenter,
            PrintLayout::dateLine(m_report.date));
        painter.restore();
        top += 2 * m.dateHeight; // the date line and an empty line
    }

    painter.save();
    painter.setFont(m.cellFont);
    int placed = 0;
    auto place = [&](int kind, int row) {
        painter.save();
        painter.translate(area.left(), top + placed * rowHeight);
        painter.scale(m.scale, m.scale);
        drawRow(painter, kind, row);
        painter.restore();
        ++placed;
    };
    place(TitleRow, -1);
    const int first = firstRow(page);
    const int rows = rowsOn(page);
    for (int r = first; r < first + rows; ++r)
        place(DataRow, r);
    if (page == m_pages)
        place(FooterRow, -1);
    painter.restore();
}

GridReportDocument::GridReportDocument(GridReport report)
    : m_report(std::move(report))
{
}

QMarginsF GridReportDocument::margins() const
{
    return QMarginsF(PrintLayout::kLeft, PrintLayout::kTop, PrintLayout::kRight, PrintLayout::kBottom);
}

int GridReportDocument::layOut(const QPaintDevice &device)
{
    m_pages = std::make_unique<GridReportPages>(m_report, device);
    return m_pages->pageCount();
}

void GridReportDocument::drawPage(QPainter &painter, int page) const
{
    if (m_pages)
        m_pages->drawPage(painter, page);
}

int drawGridReport(
    QPainter &painter, const QRectF &area, const GridReport &report, const std::function<void()> &newPage)
{
    // Laid out in layout units, as on every other device.
    const qreal toLayout = kLayoutDpi / qreal(painter.device()->logicalDpiY());
    const PageMetrics device((area.size() * toLayout).toSize(), kLayoutDpi);
    const GridReportPages pages(report, device);
    for (int page = 1; page <= pages.pageCount(); ++page) {
        if (page > 1)
            newPage();
        painter.save();
        painter.translate(area.topLeft());
        painter.scale(1 / toLayout, 1 / toLayout);
        pages.drawPage(painter, page);
        painter.restore();
    }
    return pages.pageCount();
}

void renderGridReport(QPagedPaintDevice &device, const GridReport &report)
{
    GridReportDocument document(report);
    if (printReport(document, device, 0, 0, {}) == PrintOutcome::Failed)
        throw Error(QStringLiteral("无法开始打印"));
}

namespace PrintRules {

QString pagesQuestion(int pages)
{
    return QStringLiteral("该报表共%1页，是否继续？").arg(pages);
}

} // namespace PrintRules

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
    GridReportDocument document(gridReport(grid, title, QDate::currentDate()));
    // Counted on an A4 page, as the preview first shows it and the printer prints it.
    QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait, document.margins(), QPageLayout::Millimeter);
    const int pages = document.layOutFor(a4);
    if (pages > PrintRules::kAskAbovePages
        && ui.messageBox(
               PrintRules::pagesQuestion(pages), QStringLiteral("提示"), Ui::Icon::Question, Ui::Buttons::YesNo)
            != Ui::Answer::Yes)
        return;
    ui.printPreview(parent, title, document);
}

} // namespace dagl
