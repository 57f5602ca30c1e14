#pragma once

#include <QFont>
#include <QMarginsF>
#include <QPageLayout>
#include <QPaintDevice>

#include <functional>
#include <memory>

class QPagedPaintDevice;
class QPainter;

namespace dagl {

// Reports are laid out once, in units of 1/1440 inch on the printable part of the page, and
// that one layout is drawn scaled to whatever device shows it: the pages break alike on the
// screen, in a PDF and on paper. At this resolution every half point of a font size is a
// whole number of units.
constexpr int kLayoutDpi = 1440;

// `font` sized in the units of `device` rather than in points, and measured without hinting:
// drawn under a scale to another device it keeps the widths it was measured with.
QFont layoutFont(const QFont &font, const QPaintDevice &device);

// A report that can draw any one of its pages alone, so that a preview draws only the pages
// in view and printing holds one page at a time, whatever the length of the report.
class PagedReport {
public:
    virtual ~PagedReport() = default;

    // The page margins, in millimetres.
    virtual QMarginsF margins() const = 0;
    // The orientation the report is designed for; the preview starts with it.
    virtual QPageLayout::Orientation orientation() const { return QPageLayout::Portrait; }
    // Lays the pages out for `device`, the printable part of a page at its resolution, and
    // returns how many pages there are.
    virtual int layOut(const QPaintDevice &device) = 0;
    // Draws one page (from 1) as last laid out, in the device units of that layout, from the
    // top left of the printable part. The painter's device has the layout's resolution.
    virtual void drawPage(QPainter &painter, int page) const = 0;

    // Lays the report out, in layout units, on the printable part of `page` with the
    // report's margins, and returns how many pages there are: the same page gives the same
    // pages whatever device they are drawn on.
    int layOutFor(const QPageLayout &page);
    // Draws a page of that layout on any device, from the top left of the printable part of
    // the painter's page, scaled from layout units to the device's.
    void paintPage(QPainter &painter, int page) const;
};

// A paint device that draws nothing and only tells its size and resolution: what a layout
// is measured against when no printer is at hand.
class PageMetrics : public QPaintDevice {
public:
    PageMetrics(const QSize &pixels, int dpi)
        : m_pixels(pixels)
        , m_dpi(dpi)
    {
    }
    QPaintEngine *paintEngine() const override { return nullptr; }
    // The same size and resolution as `device`, kept after the device is gone.
    static std::unique_ptr<PageMetrics> of(const QPaintDevice &device)
    {
        return std::make_unique<PageMetrics>(QSize(device.width(), device.height()), device.logicalDpiY());
    }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_pixels.width();
        case PdmHeight:
            return m_pixels.height();
        case PdmWidthMM:
            return qRound(m_pixels.width() * 25.4 / m_dpi);
        case PdmHeightMM:
            return qRound(m_pixels.height() * 25.4 / m_dpi);
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return m_dpi;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return 0x7fffffff;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        default:
            return 0;
        }
    }

private:
    QSize m_pixels;
    int m_dpi;
};

// How a print run of a report ended.
enum class PrintOutcome { Done, Stopped, Failed };

// Sets the report's margins on `device` (a printer or PDF writer), lays the report out for
// its page and draws pages `from` to `to` (from 1; 0 for up to the last) one at a time.
// `progress(done, total)` is told after each page and stops the run by answering false.
PrintOutcome printReport(PagedReport &report, QPagedPaintDevice &device, int from, int to,
    const std::function<bool(int done, int total)> &progress);

} // namespace dagl
