#pragma once

#include "Cause.h"

#include <QAbstractScrollArea>
#include <QDialog>
#include <QHash>
#include <QImage>
#include <QPageLayout>

#include <memory>

class QLabel;
class QPagedPaintDevice;
class QPrinter;

namespace dagl {

class PagedReport;
class Ui;

// The pages of a report one below the other, drawn when they come into view: only the
// pages shown are held as pictures, so a report of thousands of pages opens as fast as one
// of a few.
class PageView : public QAbstractScrollArea {
    Q_OBJECT

public:
    PageView(PagedReport &report, QWidget *parent = nullptr);

    // Lays the report out again for the page; the page in view stays in view.
    void setPageLayout(const QPageLayout &layout);
    const QPageLayout &pageLayout() const { return m_layout; }
    int pageCount() const { return m_pages; }
    int currentPage() const;
    void setCurrentPage(int page);
    qreal zoom() const { return m_zoom; }
    void setZoom(qreal zoom);
    void fitToWidth();
    // Pages whose pictures are held.
    int pagesHeld() const { return int(m_held.size()); }

signals:
    void pageChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QSize pageSize() const; // on the screen, in pixels
    int pageTop(int page) const;
    int pageAt(int y) const; // the page at a height of the whole column of pages
    int pageAtTop() const;
    QImage drawn(int page, const QSize &size) const;
    void updateRanges();

    PagedReport &m_report;
    QPageLayout m_layout;
    int m_pages = 0;
    qreal m_zoom = 1;
    bool m_fitWidth = true;
    QHash<int, QImage> m_held;
};

// The print preview of a report: pages through it, zooms, sets up the printer and prints,
// or saves the same pages as a PDF file. Printing and saving go a page at a time, show how
// far they are and can be stopped. Without a printer it opens all the same, on a PDF device:
// printing is refused, saving works. Its messages and file dialog go through `ui` (the
// running program's own when none is given).
class PrintPreviewDialog : public QDialog {
    Q_OBJECT

public:
    PrintPreviewDialog(const QString &title, PagedReport &report, QWidget *parent = nullptr, Ui *ui = nullptr);
    ~PrintPreviewDialog() override;

    PageView *view() const { return m_view; }
    // Writes the report to a PDF file through a temporary file. False when it failed or was
    // stopped (nothing is left then), with the reason in `cause` when asked for.
    bool savePdf(const QString &path, Cause *cause = nullptr);
    // True when the last print or save was stopped by the operator.
    bool wasStopped() const { return m_stopped; }

private:
    void print();
    void savePdfAs();
    // Runs `run` a page at a time under a progress panel that can stop it.
    bool runPages(QPagedPaintDevice &device, int from, int to, const QString &label);

    std::unique_ptr<Ui> m_ownUi;
    Ui &m_ui;
    bool m_printerInstalled = true;
    PagedReport &m_report;
    QPrinter *m_printer;
    PageView *m_view;
    bool m_stopped = false;
};

} // namespace dagl
