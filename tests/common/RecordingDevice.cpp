#include "RecordingDevice.h"

#include "PrintPreviewDialog.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace dagl::test {

RecordingEngine::RecordingEngine()
    : QPaintEngine(QPaintEngine::AllFeatures)
{
}

void RecordingEngine::drawTextItem(const QPointF &p, const QTextItem &item)
{
    texts.push_back({ page, item.text(), state->transform().map(p), item.font() });
}

void RecordingEngine::drawRects(const QRectF *rects, int count)
{
    for (int i = 0; i < count; ++i) {
        const QRectF drawn = state->transform().mapRect(rects[i]);
        rectsOutside += !bounds.contains(drawn.adjusted(1, 1, -1, -1));
        right = std::max(right, drawn.right());
    }
}

QStringList RecordingEngine::textsOn(int p) const
{
    QStringList found;
    for (const Text &t : texts) {
        if (t.page == p)
            found << t.text;
    }
    return found;
}

const RecordingEngine::Text *RecordingEngine::find(const QString &text) const
{
    const auto at = std::find_if(texts.begin(), texts.end(), [&](const Text &t) { return t.text == text; });
    return at == texts.end() ? nullptr : &*at;
}

int RecordingEngine::count(const QString &text) const
{
    return int(std::count_if(texts.begin(), texts.end(), [&](const Text &t) { return t.text == text; }));
}

int RecordingEngine::pageOf(const QString &text) const
{
    const Text *t = find(text);
    return t ? t->page : 0;
}

RecordingDevice::RecordingDevice(const QSizeF &millimetres)
    : PageMetrics(QSize(qRound(millimetres.width() * kDpi / 25.4), qRound(millimetres.height() * kDpi / 25.4)), kDpi)
{
    engine.bounds = area();
}

QSizeF RecordingDevice::pageOf(const PagedReport &report)
{
    const QPageLayout a4(QPageSize(QPageSize::A4), report.orientation(), report.margins(), QPageLayout::Millimeter);
    return a4.paintRect(QPageLayout::Millimeter).size();
}

QString withoutBlanks(const QString &text)
{
    QString kept;
    for (QChar c : text) {
        if (!c.isSpace())
            kept += c;
    }
    return kept;
}

QStringList drawnPages(PagedReport &report, const QPageLayout &page)
{
    const int pages = report.layOutFor(page);
    RecordingDevice device(page.paintRect(QPageLayout::Millimeter).size());
    QPainter painter(&device);
    QStringList drawn;
    for (int p = 1; p <= pages; ++p) {
        device.engine.page = p;
        report.paintPage(painter, p);
        drawn << withoutBlanks(device.engine.textsOn(p).join(QString()));
    }
    return drawn;
}

QStringList pdfPages(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return {};
    QProcess process;
    // In the order the text is drawn, as the PDF holds it.
    process.start(
        tool, { QStringLiteral("-raw"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-") });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return { QStringLiteral("pdftotext failed: ") + QString::fromLocal8Bit(process.readAllStandardError()) };
    QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && withoutBlanks(pages.last()).isEmpty())
        pages.removeLast(); // after the last page's form feed
    for (QString &text : pages)
        text = withoutBlanks(text);
    return pages;
}

namespace {

void compareWithPdf(PagedReport &report, const QPageLayout &page, const QString &title, QStringList &drawn,
    bool &readable)
{
    drawn = drawnPages(report, page);
    QVERIFY(!drawn.isEmpty());
    PrintPreviewDialog preview(title, report);
    QCOMPARE(preview.view()->pageCount(), drawn.size());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(preview.savePdf(path));
    const QStringList pdf = pdfPages(path);
    readable = !pdf.isEmpty();
    if (!readable)
        return;
    QCOMPARE(pdf.size(), drawn.size());
    for (int p = 0; p < drawn.size(); ++p)
        QCOMPARE(pdf.at(p), drawn.at(p));
}

} // namespace

bool previewAndPdfAgree(PagedReport &report, const QPageLayout &page, const QString &title, QStringList &drawn)
{
    bool readable = true;
    compareWithPdf(report, page, title, drawn, readable);
    return readable;
}

} // namespace dagl::test
