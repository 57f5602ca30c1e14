// The forms of a box: its spine (several to a sheet), its cover and its record sheet.

#include "FormDrawing.h"
#include "FormText.h"

#include <QPainter>

#include <cmath>

namespace dagl::FormDrawing {

namespace {

struct Box {
    RecordRun run;
    QString firstItem, lastItem;
    int pages = 0;
    int withoutPages = 0; // items whose pages are not given

    QString items() const
    {
        if (firstItem == lastItem)
            return firstItem;
        return firstItem + QLatin1Char('-') + lastItem;
    }
};

enum class SpineValue { Qzh, Year, Retention, Class, Items, Box };

struct SpineField {
    const char *label;
    qreal share; // of the spine's height
    qreal points; // the value's size where it fits
    SpineValue value;
};

// Top to bottom; the box number largest, at the foot where it is read on the shelf. The
// 机构(问题) is printed where the records are filed by it, so that two groups' boxes of the
// same number differ; the shares of the others then make room for it.
const SpineField kSpineFields[] = {
    { "全宗号", 0.12, 16, SpineValue::Qzh },
    { "年度", 0.12, 16, SpineValue::Year },
    { "保管期限", 0.12, 16, SpineValue::Retention },
    { "机构(问题)", 0.14, 14, SpineValue::Class },
    { "起止件号", 0.24, 14, SpineValue::Items },
    { "盒号", 0.26, 40, SpineValue::Box },
};

class BoxReport : public ArchivalFormReport {
public:
    BoxReport(ArchivalForm form, FormData data, int spineWidthCm)
        : m_form(form)
        , m_data(std::move(data))
        , m_spineWidthMm(10.0 * spineWidthCm)
    {
        for (const RecordRun &run : FormRecords::runs(m_data.records, FormRecords::sameBox)) {
            Box box;
            box.run = run;
            const int digits = m_data.settings.itemDigits;
            box.firstItem = ArchivalCode::paddedItem(m_data.records.at(run.first).jh, digits);
            box.lastItem = ArchivalCode::paddedItem(m_data.records.at(run.first + run.count - 1).jh, digits);
            for (int i = run.first; i < run.first + run.count; ++i) {
                box.pages += m_data.records.at(i).pages();
                box.withoutPages += m_data.records.at(i).pages() == 0;
            }
            m_boxes << box;
        }
        m_byClass = std::any_of(
            m_data.records.begin(), m_data.records.end(), [](const FormRecord &r) { return !r.jgwt.isEmpty(); });
    }

    QMarginsF margins() const override
    {
        // A spine runs the height of the sheet: 297 mm less 8.5 mm above and below.
        if (m_form == ArchivalForm::BoxSpine)
            return QMarginsF(10, 8.5, 10, 8.5);
        return QMarginsF(25, 20, 15, 15);
    }
    int units() const override { return int(m_boxes.size()); }

    int layOut(const QPaintDevice &device) override
    {
        m_device = PageMetrics::of(device);
        m_area = QRectF(0, 0, device.width(), device.height());
        m_perSheet = 1;
        if (m_form == ArchivalForm::BoxSpine)
            m_perSheet = std::max(1, int(std::floor(m_area.width() / mm(device, m_spineWidthMm) + 1e-6)));
        return int((m_boxes.size() + m_perSheet - 1) / m_perSheet);
    }

    void drawPage(QPainter &painter, int page) const override
    {
        const int first = (page - 1) * m_perSheet;
        if (!m_device || page < 1 || first >= m_boxes.size())
            return;
        painter.setPen(Qt::black);
        switch (m_form) {
        case ArchivalForm::BoxSpine: {
            const qreal width = mm(*m_device, m_spineWidthMm);
            const qreal height = std::min(m_area.height(), mm(*m_device, ArchivalForms::kSpineHeightMm));
            for (int i = first; i < std::min<int>(first + m_perSheet, int(m_boxes.size())); ++i)
                drawSpine(
                    painter, QRectF(m_area.left() + (i - first) * width, m_area.top(), width, height), m_boxes.at(i));
            break;
        }
        case ArchivalForm::BoxCover:
            drawCover(painter, m_boxes.at(first));
            break;
        default:
            drawSheet(painter, m_boxes.at(first));
            break;
        }
    }

private:
    QString value(SpineValue which, const Box &box) const
    {
        const FormRecord &r = m_data.records.at(box.run.first);
        switch (which) {
        case SpineValue::Qzh:
            return r.qzh;
        case SpineValue::Year:
            return r.gdnd;
        case SpineValue::Retention:
            return r.bgqx;
        case SpineValue::Class:
            return r.jgwt;
        case SpineValue::Items:
            return box.items();
        case SpineValue::Box:
            return r.hh;
        }
        return {};
    }

    void drawSpine(QPainter &painter, const QRectF &spine, const Box &box) const
    {
        const QPaintDevice &device = *m_device;
        const qreal pad = mm(device, 1.5);
        painter.setPen(QPen(Qt::black, mm(device, 0.3)));
        painter.drawRect(spine);
        qreal left = 1; // of the spine's height, for the fields printed
        for (const SpineField &field : kSpineFields) {
            if (field.value == SpineValue::Class && !m_byClass)
                left -= field.share;
        }
        qreal y = spine.top();
        for (const SpineField &field : kSpineFields) {
            if (field.value == SpineValue::Class && !m_byClass)
                continue;
            const QRectF section(spine.left(), y, spine.width(), spine.height() * field.share / left);
            if (y > spine.top())
                painter.drawLine(section.topLeft(), section.topRight());
            const qreal inner = section.width() - 2 * pad;
            const QString label = QString::fromUtf8(field.label);
            const TextWrap labelWrap(fittedFont(FormFonts::heiTi(12), label, inner, 6, device), device);
            const QRectF labelRect(section.left() + pad, section.top() + pad, inner, labelWrap.lineHeight() * 1.4);
            drawLines(painter, labelWrap, labelRect, labelWrap.lines(label, inner), Qt::AlignHCenter);

            // The value as large as it fits; the first and the last item each in a cell of its own.
            const QRectF valueRect(
                section.left() + pad, labelRect.bottom(), inner, section.bottom() - labelRect.bottom() - pad);
            if (field.value == SpineValue::Items) {
                const QString widest = box.firstItem.size() > box.lastItem.size() ? box.firstItem : box.lastItem;
                const TextWrap valueWrap(fittedFont(FormFonts::songTi(field.points), widest, inner, 6, device), device);
                const qreal half = (section.bottom() - labelRect.bottom()) / 2;
                const QRectF cells[] = { QRectF(section.left(), labelRect.bottom(), section.width(), half),
                    QRectF(section.left(), labelRect.bottom() + half, section.width(), half) };
                painter.setPen(QPen(Qt::black, mm(device, 0.3)));
                painter.drawLine(cells[0].topLeft(), cells[0].topRight());
                painter.drawLine(cells[1].topLeft(), cells[1].topRight());
                const QString items[] = { box.firstItem, box.lastItem };
                for (int i = 0; i < 2; ++i) {
                    drawLines(painter, valueWrap, cells[i].adjusted(pad, pad, -pad, -pad),
                        valueWrap.lines(items[i], inner), Qt::AlignHCenter);
                }
            } else {
                const QString text = value(field.value, box);
                const TextWrap valueWrap(fittedFont(FormFonts::songTi(field.points), text, inner, 10, device), device);
                drawLines(painter, valueWrap, valueRect, valueWrap.lines(text, inner), Qt::AlignHCenter);
            }
            painter.setPen(QPen(Qt::black, mm(device, 0.3)));
            y = section.bottom();
        }
    }

    void drawCover(QPainter &painter, const Box &box) const
    {
        const QPaintDevice &device = *m_device;
        const FormRecord &r = m_data.records.at(box.run.first);
        painter.setPen(QPen(Qt::black, mm(device, 0.5)));
        painter.drawRect(m_area);
        const QRectF inner = m_area.adjusted(mm(device, 10), mm(device, 10), -mm(device, 10), -mm(device, 10));
        const TextWrap label(FormFonts::heiTi(16), device);
        drawLines(painter, label,
            QRectF(inner.left(), inner.top() + inner.height() * 0.12, inner.width(), label.lineHeight()),
            { QStringLiteral("全宗名称") }, Qt::AlignHCenter);
        const QString unitName = m_data.unitNameOf(r);
        const TextWrap name(fittedFont(FormFonts::heiTi(28), unitName, inner.width(), 16, device), device);
        const QStringList lines = name.lines(unitName, inner.width());
        const qreal nameTop = inner.top() + inner.height() * 0.12 + label.lineHeight() * 2;
        drawLines(painter, name, QRectF(inner.left(), nameTop, inner.width(), name.lineHeight() * lines.size()), lines,
            Qt::AlignHCenter);
        painter.setPen(QPen(Qt::black, mm(device, 0.25)));
        const qreal under = nameTop + name.lineHeight() * lines.size() + mm(device, 3);
        painter.drawLine(
            QPointF(inner.left() + inner.width() * 0.1, under), QPointF(inner.right() - inner.width() * 0.1, under));

        drawFieldLines(painter, device, inner, inner.top() + inner.height() * 0.5,
            { { QStringLiteral("全宗号"), r.qzh }, { QStringLiteral("年度"), r.gdnd },
                { QStringLiteral("保管期限"), r.bgqx }, { QStringLiteral("机构(问题)"), r.jgwt },
                { QStringLiteral("起止件号"), box.items() }, { QStringLiteral("盒号"), r.hh } },
            15);
    }

    void drawSheet(QPainter &painter, const Box &box) const
    {
        const FormRecord &r = m_data.records.at(box.run.first);
        RecordSheet sheet;
        sheet.title = QStringLiteral("备考表");
        sheet.heading = headingLine({ { QStringLiteral("全宗号"), r.qzh }, { QStringLiteral("年度"), r.gdnd },
            { QStringLiteral("保管期限"), r.bgqx }, { QStringLiteral("机构(问题)"), r.jgwt },
            { QStringLiteral("盒号"), r.hh }, { QStringLiteral("起止件号"), box.items() } });
        sheet.section = QStringLiteral("盒内文件情况说明");
        sheet.summary = ArchivalForms::boxSummary(box.run.count, box.pages, box.withoutPages);
        sheet.signers = QStringList { QStringLiteral("整理人"), QStringLiteral("检查人"), QStringLiteral("整理日期"),
            QStringLiteral("检查日期") };
        sheet.dates = 2;
        drawRecordSheet(painter, *m_device, m_area, sheet);
    }

    ArchivalForm m_form;
    FormData m_data;
    qreal m_spineWidthMm;
    QVector<Box> m_boxes;
    bool m_byClass = false; // records filed by 机构(问题)
    std::unique_ptr<PageMetrics> m_device; // the page laid out for, in whose units pages are drawn
    QRectF m_area;
    int m_perSheet = 1;
};

} // namespace

std::unique_ptr<ArchivalFormReport> makeBoxForm(ArchivalForm form, FormData data, int spineWidthCm)
{
    return std::make_unique<BoxReport>(form, std::move(data), spineWidthCm);
}

} // namespace dagl::FormDrawing
