#pragma once

#include "GridWriters.h"
#include "PagedReport.h"

#include <QFont>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

class QDate;
class QPagedPaintDevice;
class QPainter;
class QWidget;

namespace dagl {

class DBGridEh;
class Ui;

// A grid as printed: the report title at the head of every page, the date line before
// the grid on the first page, the grid scaled to the page width, "第N页" at the foot.
struct GridReport {
    QString title;
    QString date; // the date as the date line shows it
    GridTable table;
};

namespace PrintLayout {
// Page margins in millimetres.
constexpr qreal kTop = 20, kBottom = 20, kLeft = 30, kRight = 20;
QString footerText(int page);
QString dateLine(const QString &date);
} // namespace PrintLayout

// The pages of a grid report laid out for one device: how many there are, which rows each
// takes, and any page drawn alone. Every row is as high as the others, so the layout is
// counted, not drawn; only the first rows are read, to size the columns.
class GridReportPages {
public:
    GridReportPages(const GridReport &report, const QPaintDevice &device);

    int pageCount() const { return m_pages; }
    // The first data row of a page (from 1) and how many data rows it holds.
    int firstRow(int page) const;
    int rowsOn(int page) const;
    // Draws the page in the device's units, from the top left of its printable part.
    void drawPage(QPainter &painter, int page) const;

private:
    struct Geometry {
        qreal point = 1; // device units per point
        qreal headerHeight = 0; // title, double rule and a gap
        qreal footerHeight = 0;
        qreal dateHeight = 0;
        qreal rowHeight = 0; // grid units
        qreal padding = 0; // grid units
        QVector<qreal> widths; // grid units
        qreal scale = 1; // grid units to device units
        // In the units of the device laid out for, so that they draw as measured on any other.
        QFont titleFont, dateFont, cellFont;
    };
    void drawRow(QPainter &painter, int kind, int row) const;

    GridReport m_report;
    QRectF m_area;
    Geometry m_geometry;
    int m_firstCapacity = 1; // data rows the first page holds
    int m_capacity = 1; // data rows every later page holds
    int m_pages = 1;
};

// A grid report as the print preview and the printer take it: laid out again for every page
// size and resolution.
class GridReportDocument : public PagedReport {
public:
    explicit GridReportDocument(GridReport report);
    QMarginsF margins() const override;
    int layOut(const QPaintDevice &device) override;
    void drawPage(QPainter &painter, int page) const override;

private:
    GridReport m_report;
    std::unique_ptr<GridReportPages> m_pages;
};

// Draws the report inside `area` (device units of the painter's device), page by page;
// `newPage` is called between pages. Returns the number of pages drawn.
int drawGridReport(
    QPainter &painter, const QRectF &area, const GridReport &report, const std::function<void()> &newPage);
// Draws the report onto a printer or PDF writer, with the report's margins.
void renderGridReport(QPagedPaintDevice &device, const GridReport &report);

namespace PrintRules {
// Longer reports say how many pages they take before the preview opens.
constexpr int kAskAbovePages = 300;
QString pagesQuestion(int pages);
} // namespace PrintRules

// The report of a grid: its table under the title, dated `today` in the short date format.
GridReport gridReport(const DBGridEh &grid, const QString &title, const QDate &today);

// The print command of a grid window: refuses when no printer is installed, does nothing
// while the grid's dataset is closed, asks before a long report, and otherwise opens the
// print preview of the grid.
void PrintGrid(DBGridEh &grid, const QString &title, Ui &ui, QWidget *parent);

} // namespace dagl
