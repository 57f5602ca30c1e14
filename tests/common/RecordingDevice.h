#pragma once

#include "PagedReport.h"

#include <QFont>
#include <QPaintEngine>
#include <QPointF>
#include <QRectF>
#include <QStringList>
#include <QVector>

namespace dagl::test {

// A paint engine that keeps what is drawn, page by page, instead of pixels: the texts with
// their place and font, and how far the rectangles reach.
class RecordingEngine : public QPaintEngine {
public:
    struct Text {
        int page;
        QString text;
        QPointF position; // device units
        QFont font;
    };

    RecordingEngine();
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override { }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { }
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override { }
    Type type() const override { return QPaintEngine::User; }
    void drawTextItem(const QPointF &p, const QTextItem &item) override;
    void drawRects(const QRectF *rects, int count) override;

    QStringList textsOn(int page) const;
    // The first text drawn that reads `text`, null for none.
    const Text *find(const QString &text) const;
    int count(const QString &text) const;
    // The page a text is first drawn on, 0 for none.
    int pageOf(const QString &text) const;

    int page = 1;
    QVector<Text> texts;
    QRectF bounds;
    // Rectangles drawn beyond `bounds`, and the right edge of the rightmost one.
    int rectsOutside = 0;
    qreal right = 0;
};

// The printable part of a page of the size given, measured as the program measures a page
// (PageMetrics, in layout units), recording what is drawn on it.
class RecordingDevice : public PageMetrics {
public:
    static constexpr int kDpi = kLayoutDpi;

    explicit RecordingDevice(const QSizeF &millimetres);
    // The page a report asks for, A4 turned its way, within its margins.
    static QSizeF pageOf(const PagedReport &report);

    QPaintEngine *paintEngine() const override { return &engine; }
    QRectF area() const { return QRectF(0, 0, width(), height()); }

    mutable RecordingEngine engine;
};

// `text` without blanks of any kind: what a PDF gives back is compared with what was drawn
// whatever blanks a reader puts between the pieces.
QString withoutBlanks(const QString &text);
// What a report draws on each page laid out for `page`, in drawing order, without blanks.
QStringList drawnPages(PagedReport &report, const QPageLayout &page);
// The text of each page of a PDF file as pdftotext gives it back, without blanks. Empty
// when pdftotext is not at hand.
QStringList pdfPages(const QString &path);
// The preview of `report` titled `title` counts as many pages as the layout for `page` has,
// the PDF it saves as many again, and each PDF page gives back the text the layout drew on
// it; `drawn` gets those pages. A difference is the running test's failure. False when
// pdftotext is not at hand to read the PDF.
bool previewAndPdfAgree(PagedReport &report, const QPageLayout &page, const QString &title, QStringList &drawn);

} // namespace dagl::test
