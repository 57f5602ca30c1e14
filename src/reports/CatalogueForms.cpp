// The catalogue forms: 归档文件目录 (by item, one table per group behind a cover) and 卷内目录
// (by volume, one table per volume followed by its record sheet).

#include "FormDrawing.h"
#include "FormText.h"

#include <QPainter>

#include <cmath>

namespace dagl::FormDrawing {

namespace {

enum class Cell { Index, Code, Wh, Zrz, Tm, Date, Mj, Pages, Bz, Sequence };

struct Column {
    const char *title;
    qreal width; // millimetres on the page the form is designed for; scaled to the page given
    Qt::Alignment align;
    Cell cell;
};

// The cells that say which record a row is, repeated where a row goes on over a page.
bool identifies(Cell cell)
{
    return cell == Cell::Index || cell == Cell::Sequence || cell == Cell::Code || cell == Cell::Tm;
}

constexpr Qt::Alignment kCentre = Qt::AlignHCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft;

// A4 landscape within its margins: 257 mm.
const Column kItemColumns[] = {
    { "序号", 12, kCentre, Cell::Index },
    { "档号", 44, kCentre, Cell::Code },
    { "文号", 30, kCentre, Cell::Wh },
    { "责任者", 30, kCentre, Cell::Zrz },
    { "题名", 79, kLeft, Cell::Tm },
    { "日期", 20, kCentre, Cell::Date },
    { "密级", 12, kCentre, Cell::Mj },
    { "页数", 12, kCentre, Cell::Pages },
    { "备注", 18, kLeft, Cell::Bz },
};

// A4 portrait within its margins: 170 mm.
const Column kVolumeColumns[] = {
    { "序号", 12, kCentre, Cell::Sequence },
    { "文号", 26, kCentre, Cell::Wh },
    { "责任者", 28, kCentre, Cell::Zrz },
    { "题名", 54, kLeft, Cell::Tm },
    { "日期", 20, kCentre, Cell::Date },
    { "页号", 12, kCentre, Cell::Pages },
    { "备注", 18, kLeft, Cell::Bz },
};

class CatalogueReport : public ArchivalFormReport {
public:
    CatalogueReport(ArchivalForm form, FormData data)
        : m_byItem(form == ArchivalForm::ItemCatalogue)
        , m_data(std::move(data))
        , m_units(FormRecords::runs(m_data.records, m_byItem ? FormRecords::sameGroup : FormRecords::sameVolume))
    {
        if (m_byItem)
            m_columns = QVector<Column>(std::begin(kItemColumns), std::end(kItemColumns));
        else
            m_columns = QVector<Column>(std::begin(kVolumeColumns), std::end(kVolumeColumns));
    }

    QMarginsF margins() const override { return m_byItem ? QMarginsF(25, 15, 15, 12) : QMarginsF(25, 20, 15, 15); }
    QPageLayout::Orientation orientation() const override
    {
        return m_byItem ? QPageLayout::Landscape : QPageLayout::Portrait;
    }
    int units() const override { return int(m_units.size()); }

    int layOut(const QPaintDevice &device) override;
    void drawPage(QPainter &painter, int page) const override;

private:
    enum class Kind { Cover, Table, Sheet };
    struct Page {
        Kind kind;
        int unit;
        int number; // of the unit's table pages, from 1
        int row; // the first record of a table page
        int line; // its first line
    };

    QString title() const
    {
        return (m_byItem ? QStringLiteral("归档文件目录") : QStringLiteral("卷内目录"))
            + (m_data.extract ? QStringLiteral("（摘录）") : QString());
    }
    QString heading(const FormRecord &r) const;
    QString text(Cell cell, int row, int unit) const;
    QStringList cellLines(int column, int row, int unit) const;
    qreal pieceHeight(int lines) const { return std::max(lines, 1) * m_cell.lineHeight() + 2 * m_padding; }
    void fitCodes();
    void drawCover(QPainter &painter, const FormRecord &r) const;
    void drawSheet(QPainter &painter, int unit) const;
    void drawTable(QPainter &painter, int page) const;

    bool m_byItem;
    FormData m_data;
    QVector<RecordRun> m_units;
    QVector<Column> m_columns;
    QVector<int> m_tablePages; // of each unit

    std::unique_ptr<PageMetrics> m_device; // the page laid out for, in whose units pages are drawn
    QRectF m_area;
    TextWrap m_title, m_heading, m_head, m_cell, m_footer;
    QVector<qreal> m_widths;
    qreal m_padding = 0;
    qreal m_headHeight = 0; // the row of column titles
    qreal m_bodyTop = 0, m_bodyBottom = 0;
    QVector<Page> m_pages;
};

QString CatalogueReport::heading(const FormRecord &r) const
{
    if (m_byItem) {
        return headingLine({ { QStringLiteral("全宗号"), r.qzh }, { QStringLiteral("年度"), r.gdnd },
            { QStringLiteral("保管期限"), r.bgqx }, { QStringLiteral("机构(问题)"), r.jgwt } });
    }
    return headingLine({ { QStringLiteral("全宗号"), r.qzh }, { QStringLiteral("目录号"), r.mlh },
        { QStringLiteral("案卷号"), r.ajh }, { QStringLiteral("保管期限"), r.bgqx } });
}

QString CatalogueReport::text(Cell cell, int row, int unit) const
{
    const FormRecord &r = m_data.records.at(row);
    switch (cell) {
    case Cell::Index:
        return QString::number(row - m_units.at(unit).first + 1);
    case Cell::Sequence:
        return r.sxh.isEmpty() ? QString::number(row - m_units.at(unit).first + 1) : r.sxh;
    case Cell::Code:
        return ArchivalCode::compose(r.number(), m_data.settings);
    case Cell::Wh:
        return r.wh;
    case Cell::Zrz:
        return r.zrz;
    case Cell::Tm:
        return r.tm;
    case Cell::Date:
        return r.cwsj;
    case Cell::Mj:
        return r.mj;
    case Cell::Pages:
        return r.yh;
    case Cell::Bz:
        return r.bz;
    }
    return {};
}

QStringList CatalogueReport::cellLines(int column, int row, int unit) const
{
    return m_cell.lines(text(m_columns.at(column).cell, row, unit), m_widths.at(column) - 2 * m_padding);
}

int CatalogueReport::layOut(const QPaintDevice &device)
{
    m_device = PageMetrics::of(device);
    m_area = QRectF(0, 0, device.width(), device.height());
    m_title = TextWrap(FormFonts::heiTi(18), device);
    m_heading = TextWrap(FormFonts::songTi(10.5), device);
    m_head = TextWrap(FormFonts::heiTi(10), device);
    m_cell = TextWrap(FormFonts::songTi(10), device);
    m_footer = TextWrap(FormFonts::songTi(9), device);
    m_padding = mm(device, 1.5);

    qreal designed = 0;
    for (const Column &c : m_columns)
        designed += c.width;
    m_widths.clear();
    for (const Column &c : m_columns)
        m_widths << c.width / designed * m_area.width();
    fitCodes();
    int headLines = 1;
    for (int c = 0; c < m_columns.size(); ++c) {
        headLines = std::max(
            headLines, m_head.lineCount(QString::fromUtf8(m_columns.at(c).title), m_widths.at(c) - 2 * m_padding));
    }
    m_headHeight = std::max(headLines * m_head.lineHeight() + 2 * m_padding, mm(device, 10));
    m_bodyTop = m_area.top() + m_title.lineHeight() * 1.6 + m_heading.lineHeight() * 1.6 + m_headHeight;
    m_bodyBottom = m_area.bottom() - m_footer.lineHeight() * 2;
    const qreal slack = m_cell.lineHeight() * 1e-6; // a row that fits exactly is not lost to rounding

    m_pages.clear();
    m_tablePages.clear();
    for (int u = 0; u < m_units.size(); ++u) {
        const RecordRun &run = m_units.at(u);
        if (m_byItem)
            m_pages.push_back({ Kind::Cover, u, 0, run.first, 0 });
        int number = 1;
        m_pages.push_back({ Kind::Table, u, number, run.first, 0 });
        qreal y = m_bodyTop;
        bool empty = true;
        auto newPage = [&](int row, int line) {
            m_pages.push_back({ Kind::Table, u, ++number, row, line });
            y = m_bodyTop;
            empty = true;
        };
        for (int row = run.first; row < run.first + run.count; ++row) {
            int total = 1;
            for (int c = 0; c < m_columns.size(); ++c) {
                total = std::max(
                    total, m_cell.lineCount(text(m_columns.at(c).cell, row, u), m_widths.at(c) - 2 * m_padding));
            }
            int line = 0;
            while (true) {
                const int rest = total - line;
                if (y + pieceHeight(rest) <= m_bodyBottom + slack) {
                    y += pieceHeight(rest);
                    empty = false;
                    break;
                }
                if (!empty && m_bodyTop + pieceHeight(rest) <= m_bodyBottom + slack) {
                    newPage(row, line); // the row goes whole to the next page
                    continue;
                }
                if (empty && rest <= 1) { // a page too small for one line still takes one
                    y += pieceHeight(rest);
                    empty = false;
                    break;
                }
                // Taller than a page: as many of its lines as fit, the rest on the next page.
                int fit = int(std::floor((m_bodyBottom - y - 2 * m_padding) / m_cell.lineHeight() + 1e-6));
                if (fit < 1 && !empty) {
                    newPage(row, line);
                    continue;
                }
                line += std::clamp(fit, 1, rest - 1);
                newPage(row, line);
            }
        }
        m_tablePages << number;
        if (!m_byItem)
            m_pages.push_back({ Kind::Sheet, u, 0, run.first, 0 });
    }
    return int(m_pages.size());
}

void CatalogueReport::fitCodes()
{
    // A code is read whole: its column is as wide as the longest code of the table, the
    // width taken from the title's, which keeps at least a fifth of the page.
    const auto at = [this](Cell cell) {
        for (int c = 0; c < m_columns.size(); ++c) {
            if (m_columns.at(c).cell == cell)
                return c;
        }
        return -1;
    };
    const int code = at(Cell::Code), title = at(Cell::Tm);
    if (code < 0 || title < 0)
        return;
    qreal widest = 0;
    for (const FormRecord &r : m_data.records)
        widest = std::max(widest, m_cell.width(ArchivalCode::compose(r.number(), m_data.settings)));
    const qreal spare = std::max<qreal>(0, m_widths.at(title) - m_area.width() / 5);
    const qreal extra = std::clamp<qreal>(widest + 2 * m_padding + 1 - m_widths.at(code), 0, spare);
    m_widths[code] += extra;
    m_widths[title] -= extra;
}

void CatalogueReport::drawCover(QPainter &painter, const FormRecord &r) const
{
    painter.setPen(Qt::black);
    const TextWrap big(FormFonts::heiTi(30), *m_device);
    drawLines(painter, big,
        QRectF(m_area.left(), m_area.top() + m_area.height() * 0.12, m_area.width(), big.lineHeight() * 2), { title() },
        Qt::AlignHCenter);
    drawFieldLines(painter, *m_device, m_area, m_area.top() + m_area.height() * 0.38,
        { { QStringLiteral("全宗号"), r.qzh }, { QStringLiteral("全宗名称"), m_data.unitNameOf(r) },
            { QStringLiteral("年度"), r.gdnd }, { QStringLiteral("保管期限"), r.bgqx },
            { QStringLiteral("机构(问题)"), r.jgwt } },
        15);
}

void CatalogueReport::drawSheet(QPainter &painter, int unit) const
{
    const RecordRun &run = m_units.at(unit);
    const FormRecord &r = m_data.records.at(run.first);
    RecordSheet sheet;
    sheet.title = QStringLiteral("卷内备考表");
    sheet.heading = heading(r);
    sheet.section = QStringLiteral("本卷情况说明");
    // A volume's 页号 are where its items start, not how many pages they have: the count is
    // left for the one who binds it.
    sheet.summary = QStringLiteral("本卷共有文件%1件，共　　页。").arg(run.count);
    sheet.signers = QStringList { QStringLiteral("立卷人"), QStringLiteral("检查人"), QStringLiteral("立卷时间") };
    drawRecordSheet(painter, *m_device, m_area, sheet);
}

void CatalogueReport::drawTable(QPainter &painter, int index) const
{
    const Page &page = m_pages.at(index);
    const RecordRun &run = m_units.at(page.unit);
    const QPaintDevice &device = *m_device;
    painter.setPen(Qt::black);
    qreal y = m_area.top();
    drawLines(painter, m_title, QRectF(m_area.left(), y, m_area.width(), m_title.lineHeight() * 1.6), { title() },
        Qt::AlignHCenter);
    y += m_title.lineHeight() * 1.6;
    const QString line = heading(m_data.records.at(run.first));
    const TextWrap heading(fittedFont(m_heading.font(), line, m_area.width(), 6, device), device);
    drawLines(painter, heading, QRectF(m_area.left(), y, m_area.width(), m_heading.lineHeight() * 1.6), { line },
        Qt::AlignLeft);
    y += m_heading.lineHeight() * 1.6;

    const QPen thin(Qt::black, mm(device, 0.2));
    auto drawRow
        = [&](qreal top, qreal height, const std::function<QStringList(int)> &lines, const TextWrap &wrap, bool head) {
              qreal x = m_area.left();
              for (int c = 0; c < m_columns.size(); ++c) {
                  const QRectF cell(x, top, m_widths.at(c), height);
                  painter.setPen(thin);
                  painter.drawRect(cell);
                  painter.setPen(Qt::black);
                  drawLines(painter, wrap, cell.adjusted(m_padding, m_padding, -m_padding, -m_padding), lines(c),
                      head ? kCentre : m_columns.at(c).align);
                  x += m_widths.at(c);
              }
          };
    drawRow(
        y, m_headHeight,
        [&](int c) { return m_head.lines(QString::fromUtf8(m_columns.at(c).title), m_widths.at(c) - 2 * m_padding); },
        m_head, true);
    y += m_headHeight;

    // From the page's first line to where the next page of the table takes over.
    const bool more = index + 1 < m_pages.size() && m_pages.at(index + 1).kind == Kind::Table
        && m_pages.at(index + 1).unit == page.unit;
    const int endRow = more ? m_pages.at(index + 1).row : run.first + run.count;
    const int endLine = more ? m_pages.at(index + 1).line : 0;
    for (int row = page.row; row < endRow || (row == endRow && endLine > 0); ++row) {
        QVector<QStringList> cells;
        int total = 1;
        for (int c = 0; c < m_columns.size(); ++c) {
            cells << cellLines(c, row, page.unit);
            total = std::max(total, int(cells.last().size()));
        }
        const int from = row == page.row ? page.line : 0;
        const int to = row == endRow ? endLine : total;
        const qreal height = pieceHeight(to - from);
        drawRow(
            y, height,
            [&](int c) {
                const QStringList &lines = cells.at(c);
                if (from == 0 || from < lines.size() || !identifies(m_columns.at(c).cell))
                    return lines.mid(from, to - from);
                // A row carried over from the page before says again whose it is.
                const bool number = m_columns.at(c).cell == Cell::Index || m_columns.at(c).cell == Cell::Sequence;
                const QString again = lines.join(QString()) + (number ? QStringLiteral("续") : QString());
                return m_cell.lines(again, m_widths.at(c) - 2 * m_padding).mid(0, to - from);
            },
            m_cell, false);
        y += height;
    }

    painter.setPen(Qt::black);
    drawLines(painter, m_footer, QRectF(m_area.left(), m_bodyBottom, m_area.width(), m_area.bottom() - m_bodyBottom),
        { ArchivalForms::pageFooter(page.number, m_tablePages.at(page.unit)) }, Qt::AlignHCenter);
}

void CatalogueReport::drawPage(QPainter &painter, int page) const
{
    if (!m_device || page < 1 || page > m_pages.size())
        return;
    const Page &p = m_pages.at(page - 1);
    switch (p.kind) {
    case Kind::Cover:
        drawCover(painter, m_data.records.at(p.row));
        break;
    case Kind::Sheet:
        drawSheet(painter, p.unit);
        break;
    case Kind::Table:
        drawTable(painter, page - 1);
        break;
    }
}

} // namespace

std::unique_ptr<ArchivalFormReport> makeCatalogue(ArchivalForm form, FormData data)
{
    return std::make_unique<CatalogueReport>(form, std::move(data));
}

} // namespace dagl::FormDrawing
