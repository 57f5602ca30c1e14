#pragma once

#include "GridWriters.h"

#include <QRectF>
#include <QString>

#include <functional>

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

// Draws the report inside `area` (device units of the painter's device), page by page;
// `newPage` is called between pages. Returns the number of pages drawn.
int drawGridReport(
    QPainter &painter, const QRectF &area, const GridReport &report, const std::function<void()> &newPage);
// Draws the report onto a printer or PDF writer, with the report's margins.
void renderGridReport(QPagedPaintDevice &device, const GridReport &report);

// The report of a grid: its table under the title, dated `today` in the short date format.
GridReport gridReport(const DBGridEh &grid, const QString &title, const QDate &today);

// The print command of a grid window: refuses when no printer is installed, does nothing
// while the grid's dataset is closed, and otherwise opens the print preview of the grid.
void PrintGrid(DBGridEh &grid, const QString &title, Ui &ui, QWidget *parent);

} // namespace dagl
