#include "PagedReport.h"

#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

namespace dagl {

QFont layoutFont(const QFont &font, const QPaintDevice &device)
{
    QFont sized = font;
    if (font.pointSizeF() > 0)
        sized.setPixelSize(std::max(1, qRound(font.pointSizeF() * device.logicalDpiY() / 72.0)));
    sized.setHintingPreference(QFont::PreferNoHinting);
    return sized;
}

int PagedReport::layOutFor(const QPageLayout &page)
{
    QPageLayout wanted = page;
    wanted.setUnits(QPageLayout::Millimeter);
    wanted.setMargins(margins());
    return layOut(PageMetrics(wanted.paintRectPixels(kLayoutDpi).size(), kLayoutDpi));
}

void PagedReport::paintPage(QPainter &painter, int page) const
{
    painter.save();
    const qreal scale = painter.device()->logicalDpiY() / qreal(kLayoutDpi);
    painter.scale(scale, scale);
    drawPage(painter, page);
    painter.restore();
}

PrintOutcome printReport(PagedReport &report, QPagedPaintDevice &device, int from, int to,
    const std::function<bool(int done, int total)> &progress)
{
    device.setPageMargins(report.margins(), QPageLayout::Millimeter);
    const int pages = report.layOutFor(device.pageLayout());
    const int first = std::clamp(from < 1 ? 1 : from, 1, pages);
    const int last = std::clamp(to < 1 ? pages : to, first, pages);
    QPainter painter;
    if (!painter.begin(&device))
        return PrintOutcome::Failed;
    painter.setRenderHint(QPainter::Antialiasing);
    const int total = last - first + 1;
    for (int page = first; page <= last; ++page) {
        if (page > first && !device.newPage()) {
            painter.end();
            return PrintOutcome::Failed;
        }
        report.paintPage(painter, page);
        if (progress && !progress(page - first + 1, total)) {
            painter.end();
            return PrintOutcome::Stopped;
        }
    }
    return painter.end() ? PrintOutcome::Done : PrintOutcome::Failed;
}

} // namespace dagl
