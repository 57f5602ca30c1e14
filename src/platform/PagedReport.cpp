#include "PagedReport.h"

#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

namespace dagl {

PrintOutcome printReport(PagedReport &report, QPagedPaintDevice &device, int from, int to,
    const std::function<bool(int done, int total)> &progress)
{
    device.setPageMargins(report.margins(), QPageLayout::Millimeter);
    const int pages = report.layOut(device);
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
        painter.save();
        report.drawPage(painter, page);
        painter.restore();
        if (progress && !progress(page - first + 1, total)) {
            painter.end();
            return PrintOutcome::Stopped;
        }
    }
    return painter.end() ? PrintOutcome::Done : PrintOutcome::Failed;
}

} // namespace dagl
