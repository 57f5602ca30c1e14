#include "DBGridEh.h"
#include "PrintFonts.h"
#include "PrintGrid.h"
#include "PrintPreviewDialog.h"
#include "RecordingDevice.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TFrm_cxly.h"
#include "TFrm_tjbb.h"
#include "TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace dagl;

namespace {

using test::RecordingDevice;
using test::RecordingEngine;

// The printable part of an A4 page within the grid report's margins.
const QSizeF kGridPage(210 - PrintLayout::kLeft - PrintLayout::kRight, 297 - PrintLayout::kTop - PrintLayout::kBottom);

GridReport report(int rows, int columns = 3, int cellLength = 4)
{
    GridReport r;
    r.title = QStringLiteral("翠岚档案查询报表");
    r.date = QStringLiteral("2026/12/10");
    for (int c = 0; c < columns; ++c) {
        r.table.titles << QStringLiteral("列%1").arg(c);
        r.table.footer << (c == 0 ? QStringLiteral("总计") : c == 1 ? QString::number(rows) : QString());
        r.table.numeric << (c == 1);
    }
    r.table.rowCount = rows;
    r.table.cell = [cellLength](int row, int column) {
        return QStringLiteral("r%1c%2").arg(row).arg(column).leftJustified(cellLength, QLatin1Char('x'));
    };
    return r;
}

// A report of catalogue rows: Chinese, codes with digits after letters, punctuation.
GridReport catalogueReport(int rows)
{
    GridReport r = report(rows);
    r.table.titles = QStringList { QStringLiteral("档号"), QStringLiteral("页数"), QStringLiteral("题名") };
    r.table.cell = [](int row, int column) {
        switch (column) {
        case 0:
            return QStringLiteral("J012-WS·2022-D-%1").arg(row + 1, 4, 10, QLatin1Char('0'));
        case 1:
            return QString::number(row % 7 + 1);
        default:
            return QStringLiteral("广东省人民政府关于印发《文件目录》的通知（第%1号）").arg(row + 1);
        }
    };
    return r;
}

int draw(RecordingDevice &device, const GridReport &r)
{
    QPainter painter(&device);
    return drawGridReport(painter, device.area(), r, [&device] { ++device.engine.page; });
}

// A grid report that tells what was asked of it: the pages it was laid out for, the pages
// drawn and the cells read.
class CountingReport : public PagedReport {
public:
    explicit CountingReport(GridReport r)
        : m_document(counted(std::move(r)))
    {
    }
    QMarginsF margins() const override { return m_document.margins(); }
    int layOut(const QPaintDevice &device) override
    {
        layouts << QSizeF(device.width(), device.height());
        return m_document.layOut(device);
    }
    void drawPage(QPainter &painter, int page) const override
    {
        drawn << page;
        m_document.drawPage(painter, page);
    }

    QVector<QSizeF> layouts;
    mutable QVector<int> drawn;
    std::shared_ptr<int> cellsRead = std::make_shared<int>(0);

private:
    GridReport counted(GridReport r)
    {
        r.table.cell = [cell = r.table.cell, reads = cellsRead](int row, int column) {
            ++*reads;
            return cell(row, column);
        };
        return r;
    }
    GridReportDocument m_document;
};

} // namespace

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void macros()
    {
        QCOMPARE(PrintLayout::footerText(3), QStringLiteral("第3页"));
        QCOMPARE(PrintLayout::dateLine(QStringLiteral("2026/1/5")), QStringLiteral("制表日期：2026/1/5"));
    }

    void headerDateLineAndFooterOnEveryPage()
    {
        // Fonts are sized in the units of the page laid out, whatever device draws it.
        const auto pixels = [](qreal points) { return qRound(points * RecordingDevice::kDpi / 72.0); };
        RecordingDevice device(kGridPage);
        const int pages = draw(device, report(300));
        QVERIFY(pages >= 3);
        QCOMPARE(device.engine.page, pages);
        for (int p = 1; p <= pages; ++p) {
            const QStringList texts = device.engine.textsOn(p);
            QVERIFY(texts.contains(QStringLiteral("翠岚档案查询报表")));
            QVERIFY2(texts.contains(QStringLiteral("第%1页").arg(p)), qPrintable(QString::number(p)));
            QVERIFY(texts.contains(QStringLiteral("列0"))); // column titles repeat
            QCOMPARE(texts.contains(QStringLiteral("制表日期：2026/12/10")), p == 1);
            QCOMPARE(texts.contains(QStringLiteral("总计")), p == pages);
        }
        QVERIFY(device.engine.textsOn(3).contains(QStringLiteral("第3页")));
        QVERIFY(device.engine.textsOn(pages).contains(QStringLiteral("r299c0")));

        const RecordingEngine::Text *title = device.engine.find(QStringLiteral("翠岚档案查询报表"));
        QCOMPARE(title->font.pixelSize(), pixels(24));
        QCOMPARE(title->font.families().value(0), QStringLiteral("隶书"));
        const RecordingEngine::Text *date = device.engine.find(QStringLiteral("制表日期：2026/12/10"));
        QCOMPARE(date->font.pixelSize(), pixels(7));
        QVERIFY(date->font.families().contains(QStringLiteral("楷体_GB2312")));
        QVERIFY(date->position.x() > device.area().width() / 2); // right-aligned
        QVERIFY(date->position.y() > title->position.y());
        const RecordingEngine::Text *footer = device.engine.find(QStringLiteral("第1页"));
        QCOMPARE(footer->font.pixelSize(), pixels(9));
        QVERIFY(footer->position.y() > device.area().height() * 0.9);
    }

    void everyRowPrintedOnce()
    {
        RecordingDevice device(kGridPage);
        draw(device, report(150));
        QStringList rows;
        for (const RecordingEngine::Text &t : device.engine.texts) {
            if (t.text.startsWith(QLatin1Char('r')) && t.text.contains(QStringLiteral("c0")))
                rows << t.text;
        }
        QCOMPARE(rows.size(), 150);
        QCOMPARE(rows.first(), QStringLiteral("r0c0"));
        QCOMPARE(rows.last(), QStringLiteral("r149c0"));
    }

    void emptyGridPrintsTitlesAndFooter()
    {
        RecordingDevice device(kGridPage);
        QCOMPARE(draw(device, report(0)), 1);
        const QStringList texts = device.engine.textsOn(1);
        QVERIFY(texts.contains(QStringLiteral("列2")));
        QVERIFY(texts.contains(QStringLiteral("总计")));
        QVERIFY(texts.contains(QStringLiteral("0")));
        QVERIFY(texts.contains(QStringLiteral("第1页")));
    }

    void wideGridIsScaledToThePageWidth_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("cellLength");
        QTest::newRow("narrow grid widened") << 2 << 4;
        QTest::newRow("wide grid shrunk") << 17 << 40;
    }
    void wideGridIsScaledToThePageWidth()
    {
        QFETCH(int, columns);
        QFETCH(int, cellLength);
        RecordingDevice device(kGridPage);
        draw(device, report(5, columns, cellLength));
        QVERIFY(qAbs(device.engine.right - device.area().width()) < 2);
    }

    void pdfHasPagesAndTheMargins()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter writer(&buffer);
            writer.setPageSize(QPageSize(QPageSize::A4));
            writer.setResolution(300);
            renderGridReport(writer, report(200));
            QCOMPARE(writer.pageLayout().margins(QPageLayout::Millimeter), QMarginsF(30, 20, 20, 20));
        }
        const QByteArray pdf = buffer.data();
        QVERIFY(pdf.startsWith("%PDF"));
        const qsizetype pages = QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b")));
        RecordingDevice device(kGridPage);
        QCOMPARE(int(pages), draw(device, report(200)));
    }

    // The preview counts the pages the saved PDF has, each PDF page holds the rows the one
    // layout put on it, and the PDF gives back every text drawn, also where the rows end at
    // or just after the end of a page.
    void pdfHoldsThePreviewsPages_data()
    {
        QTest::addColumn<int>("rows");
        GridReportDocument probe(catalogueReport(1000));
        const QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait, probe.margins(), QPageLayout::Millimeter);
        const GridReportPages pages(
            catalogueReport(1000), PageMetrics(a4.paintRectPixels(kLayoutDpi).size(), kLayoutDpi));
        const int first = pages.rowsOn(1), later = pages.rowsOn(2);
        QVERIFY(first > 3 && later > first);
        QTest::newRow("one row") << 1;
        QTest::newRow("first page short by one") << first - 1;
        QTest::newRow("first page full") << first;
        QTest::newRow("one row over") << first + 1;
        QTest::newRow("second page full") << first + later;
    }
    void pdfHoldsThePreviewsPages()
    {
        QFETCH(int, rows);
        GridReportDocument document(catalogueReport(rows));
        const QPageLayout a4(
            QPageSize(QPageSize::A4), QPageLayout::Portrait, document.margins(), QPageLayout::Millimeter);
        QStringList drawn;
        if (!test::previewAndPdfAgree(document, a4, QStringLiteral("翠岚档案查询报表"), drawn))
            QSKIP("pdftotext is not installed");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(drawn.join(QString()).contains(QStringLiteral("J012-WS·2022-D-%1").arg(rows, 4, 10, QLatin1Char('0'))));
        QVERIFY(drawn.last().contains(QStringLiteral("总计")));
    }

    // The copy of a print face the PDF writer gets maps each common character to the face's
    // own glyph, with the face's metrics, and leaves out the radicals drawn with that glyph: a
    // PDF names each glyph after the lowest character mapped to it.
    void printFaceCopyLeavesOutLookAlikes_data()
    {
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("common");
        QTest::addColumn<QString>("lookAlike");
        QTest::newRow("文") << false << QStringLiteral("文") << QStringLiteral("⽂");
        QTest::newRow("广") << false << QStringLiteral("广") << QStringLiteral("⼴");
        QTest::newRow("一 bold") << true << QStringLiteral("一") << QStringLiteral("⼀");
    }
    void printFaceCopyLeavesOutLookAlikes()
    {
        QFETCH(bool, bold);
        QFETCH(QString, common);
        QFETCH(QString, lookAlike);
        const QString family = QStringLiteral("Noto Serif CJK SC");
        QFont original(family);
        original.setBold(bold);
        if (QFontInfo(original).family() != family)
            QSKIP("Noto Serif CJK SC is not installed");
        const QString digits = QStringLiteral("0123456789");
        const QRawFont face = QRawFont::fromFont(original);
        const QList<quint32> shared = face.glyphIndexesForString(common + lookAlike);
        QCOMPARE(shared.size(), 2);
        QVERIFY(shared.at(0) != 0);
        QCOMPARE(shared.at(1), shared.at(0));

        const QStringList families = PrintFonts::searchable({ family }, bold);
        QCOMPARE(families, (QStringList { QStringLiteral("dagl Noto Serif CJK SC"), family }));
        QFont copyFont(families.first());
        copyFont.setBold(bold);
        QCOMPARE(QFontInfo(copyFont).family(), families.first());
        const QRawFont copy = QRawFont::fromFont(copyFont);
        QCOMPARE(copy.glyphIndexesForString(common + lookAlike), (QList<quint32> { shared.at(0), 0 }));
        const QList<quint32> faceDigits = face.glyphIndexesForString(digits);
        QCOMPARE(copy.glyphIndexesForString(digits), faceDigits);
        QCOMPARE(copy.advancesForGlyphIndexes(faceDigits), face.advancesForGlyphIndexes(faceDigits));
        QCOMPARE(copy.ascent(), face.ascent());
        QCOMPARE(copy.descent(), face.descent());
        QCOMPARE(copy.unitsPerEm(), face.unitsPerEm());
    }

    // A face without outlines makes no copy.
    void noCopyWithoutOutlines()
    {
        struct CharacterMapOnly : PrintFonts::FontTables {
            QRawFont face = QRawFont::fromFont(QFont(QStringLiteral("Noto Serif CJK SC")));
            QByteArray table(const char *tag) const override
            {
                return qstrcmp(tag, "cmap") == 0 || qstrcmp(tag, "head") == 0 ? face.fontTable(tag) : QByteArray();
            }
        } tables;
        if (tables.table("cmap").isEmpty())
            QSKIP("Noto Serif CJK SC is not installed");
        QVERIFY(PrintFonts::searchableFont(tables, QStringLiteral("dagl copy"), false).isEmpty());
    }

    void noPrinterRefuses()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.BitBtn2Click();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QCOMPARE(ui.texts(), (QStringList { "没有找到相应的单据", "对不起,没安装打印机不能打印该文档!" }));
        QVERIFY(ui.previews.isEmpty());
    }

    // The preview without a printer: 打印 says there is none, 保存为PDF starts in the export
    // folder, writes the file and says where it went.
    void previewWithoutAPrinterSavesPdf()
    {
        CountingReport counting(report(60));
        test::FakeUi ui;
        QTemporaryDir dir;
        ui.setExportFolder(dir.path() + QStringLiteral("/Excel/"));
        PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), counting, nullptr, &ui);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("PrintButton")), Qt::LeftButton);
        QCOMPARE(ui.texts(), QStringList { "对不起,没安装打印机不能打印该文档!" });

        const QString path = dir.filePath(QStringLiteral("报表"));
        ui.saveAnswers << test::FakeUi::SaveAnswer { true, path, 0 };
        ui.answers << Ui::Answer::OpenFolder;
        QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("SavePdf")), Qt::LeftButton);
        QCOMPARE(ui.saveCalls.size(), 1);
        QCOMPARE(ui.saveCalls[0].folder, dir.path() + QStringLiteral("/Excel/"));
        QCOMPARE(ui.saveCalls[0].fileName, QStringLiteral("翠岚档案查询报表"));
        QFile file(path + QStringLiteral(".pdf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("%PDF"));
        QCOMPARE(ui.lastText(), QStringLiteral("已导出到 ") + QDir::toNativeSeparators(path + QStringLiteral(".pdf")));
        QCOMPARE(ui.opened, QStringList { QDir(dir.path()).absolutePath() });
    }

    void previewBeforeTheFirstSearchDoesNothing()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        ui.printerNames << QStringLiteral("办公室打印机");
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.BitBtn1Click();
        QVERIFY(ui.previews.isEmpty());
        QVERIFY(ui.shown.isEmpty());
    }

    void previewOfTheWindowsGrid()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (gdm,qzh,mlh,tm) values ('G1','1','1','会议纪要')"));
        test::FakeUi ui;
        ui.printerNames << QStringLiteral("办公室打印机");
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        ui.onPreview = [&buffer](PagedReport &preview) {
            QPdfWriter writer(&buffer);
            QCOMPARE(printReport(preview, writer, 0, 0, {}), PrintOutcome::Done);
        };
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.BitBtn2Click();
        window.BitBtn1Click();
        QCOMPARE(ui.previews, QStringList { "翠岚档案查询报表" });
        QVERIFY(buffer.data().startsWith("%PDF"));
        ui.onPreview = nullptr;
        QCOMPARE(ui.previewPages, QVector<int> { 1 });

        TFrm_tjbb statistics(dm, ui);
        statistics.BitBtn2Click();
        statistics.BitBtn1Click();
        QCOMPARE(ui.previews, (QStringList { "翠岚档案查询报表", "翠岚档案查询报表" }));
        QCOMPARE(ui.previewPages.size(), 2);
    }

    void reportOfTheGridIsDatedInTheShortDate()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (gdm,qzh,mlh,tm) values ('G1','1','1','会议纪要')"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.BitBtn2Click();
        const GridReport r = gridReport(*window.grid(), QStringLiteral("标题"), QDate(2026, 3, 7));
        QCOMPARE(r.title, QStringLiteral("标题"));
        QCOMPARE(r.date, QStringLiteral("2026/3/7"));
        QCOMPARE(r.table.rowCount, 1);
        QCOMPARE(r.table.cell(0, 0), QStringLiteral("G1"));
        QCOMPARE(r.table.footer.mid(0, 2), (QStringList { "总计", "1" }));
    }

    void previewSavesTheSameReportAsPdf()
    {
        CountingReport counting(report(120));
        PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), counting);
        preview.show();
        QTRY_VERIFY(!counting.drawn.isEmpty()); // the preview draws the pages itself
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("报表.pdf"));
        QVERIFY(preview.savePdf(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("%PDF"));
        QVERIFY(!preview.savePdf(dir.filePath(QStringLiteral("no-such-folder/报表.pdf"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no-such-folder/报表.pdf"))));
        QVERIFY(preview.findChild<QPushButton *>(QStringLiteral("SavePdf")));
    }

    // A wide grid is laid out again across a landscape page, chosen from the keyboard, and
    // saved that way.
    void previewTurnsToLandscape()
    {
        CountingReport counting(report(30, 17, 12));
        const QVector<QSizeF> &pages = counting.layouts; // the page each layout was given, in device units
        PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), counting);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTRY_VERIFY(!pages.isEmpty());
        QVERIFY(pages.last().width() < pages.last().height());
        auto *orientation = preview.findChild<QComboBox *>(QStringLiteral("Orientation"));
        QVERIFY(orientation);
        QCOMPARE(orientation->currentText(), QStringLiteral("纵向"));
        preview.activateWindow();
        QTest::keyClick(&preview, Qt::Key_O, Qt::AltModifier); // 纸张方向(&O)
        QTRY_COMPARE(QApplication::focusWidget(), orientation);
        const int before = int(pages.size());
        QTest::keyClick(orientation, Qt::Key_Down);
        QCOMPARE(orientation->currentText(), QStringLiteral("横向"));
        QTRY_VERIFY(pages.size() > before);
        QVERIFY(pages.last().width() > pages.last().height());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("横向.pdf"));
        QVERIFY(preview.savePdf(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch box
            = QRegularExpression(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([\\d.]+)\\s+([\\d.]+)"))
                  .match(QString::fromLatin1(file.readAll()));
        QVERIFY(box.hasMatch());
        QVERIFY(box.captured(1).toDouble() > box.captured(2).toDouble());
    }

    // The pages are counted without drawing them, and any page drawn alone is the page as
    // drawn in the run of the whole report, reading only its own rows.
    void pageCountedAndDrawnAlone_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0;
        QTest::newRow("one row") << 1;
        QTest::newRow("a few thousand rows") << 4000;
    }
    void pageCountedAndDrawnAlone()
    {
        QFETCH(int, rows);
        RecordingDevice whole(kGridPage);
        const int pages = draw(whole, report(rows));
        RecordingDevice metrics(kGridPage);
        CountingReport counting(report(rows));
        QCOMPARE(counting.layOut(metrics), pages);
        const int widthRows = std::min(rows, 200) * 3; // the rows that size the columns
        QVERIFY(*counting.cellsRead <= widthRows);
        for (int page : { 1, pages / 2 + 1, pages }) {
            RecordingDevice alone(kGridPage);
            *counting.cellsRead = 0;
            {
                QPainter painter(&alone);
                counting.drawPage(painter, page);
            }
            QCOMPARE(alone.engine.textsOn(1), whole.engine.textsOn(page));
            QVERIFY(*counting.cellsRead <= 3 * 80); // one page of rows, not the report
        }
    }

    // Every row exactly once over the pages, the footer row after the last, also when the
    // last page is full to the line.
    void rowsSplitOverPages()
    {
        RecordingDevice device(kGridPage);
        const GridReportPages probe(report(1000), device);
        const int fullFirst = probe.rowsOn(1);
        const int full = probe.rowsOn(2);
        for (int rows : { fullFirst, fullFirst + full, fullFirst + full + 1 }) {
            const GridReportPages pages(report(rows), device);
            int covered = 0;
            for (int page = 1; page <= pages.pageCount(); ++page) {
                QCOMPARE(pages.firstRow(page), covered);
                covered += pages.rowsOn(page);
            }
            QCOMPARE(covered, rows);
            RecordingDevice drawn(kGridPage);
            QCOMPARE(draw(drawn, report(rows)), pages.pageCount());
            QVERIFY(drawn.engine.textsOn(pages.pageCount()).contains(QStringLiteral("总计")));
        }
    }

    // The preview holds only the pages in view, wherever the operator goes in a long report.
    void previewDrawsOnlyThePagesInView()
    {
        CountingReport counting(report(5000));
        PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), counting);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTRY_VERIFY(!counting.drawn.isEmpty());
        const int pages = preview.view()->pageCount();
        QVERIFY(pages > 50);
        QVERIFY(preview.findChild<QLabel *>(QStringLiteral("PageLabel"))
                    ->text()
                    .endsWith(QStringLiteral("共%1页").arg(pages)));
        QVERIFY(preview.view()->pagesHeld() <= 3);
        QVERIFY(*std::max_element(counting.drawn.cbegin(), counting.drawn.cend()) <= 3);
        // It opens on the first page, wherever the window's size puts the pages.
        QCOMPARE(preview.view()->currentPage(), 1);
        QVERIFY(preview.findChild<QLabel *>(QStringLiteral("PageLabel"))->text().startsWith(QStringLiteral("第1页")));
        counting.drawn.clear();
        QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("LastPage")), Qt::LeftButton);
        QTRY_VERIFY(counting.drawn.contains(pages));
        QCOMPARE(preview.view()->currentPage(), pages);
        QVERIFY(preview.view()->pagesHeld() <= 3);
        QVERIFY(counting.drawn.size() <= 3);
        QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("ZoomIn")), Qt::LeftButton);
        QTRY_VERIFY(preview.view()->pagesHeld() >= 1);
        QVERIFY(preview.view()->pagesHeld() <= 3);
        QCOMPARE(preview.view()->currentPage(), pages);
    }

    // A run stops when its progress says so: the pages before are drawn, none after.
    void printRunStops()
    {
        CountingReport counting(report(2000));
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        const PrintOutcome outcome = printReport(counting, writer, 0, 0, [](int done, int) { return done < 3; });
        QCOMPARE(outcome, PrintOutcome::Stopped);
        QCOMPARE(counting.drawn, (QVector<int> { 1, 2, 3 }));
        counting.drawn.clear();
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        QPdfWriter range(&part);
        QCOMPARE(printReport(counting, range, 4, 6, {}), PrintOutcome::Done);
        QCOMPARE(counting.drawn, (QVector<int> { 4, 5, 6 }));
    }

    // Esc on the progress panel stops saving the PDF, and no file is left.
    void savingStoppedLeavesNoFile()
    {
        CountingReport counting(report(3000));
        PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), counting);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("报表.pdf"));
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, &preview, [&preview] {
            auto *progress = preview.findChild<QProgressDialog *>(QStringLiteral("PrintProgress"));
            if (progress && progress->isVisible() && progress->value() >= 2)
                QTest::keyClick(progress, Qt::Key_Escape);
        });
        stopper.start(0);
        QVERIFY(!preview.savePdf(path));
        stopper.stop();
        QVERIFY(preview.wasStopped());
        QVERIFY(counting.drawn.size() < 3000 / 40);
        QVERIFY(!QFile::exists(path));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    // More than a few hundred pages: the operator is told how many before the preview opens.
    void longReportAsksFirst_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("asked");
        QTest::newRow("short") << 100 << true << false;
        QTest::newRow("long, yes") << 20000 << true << true;
        QTest::newRow("long, no") << 20000 << false << true;
    }
    void longReportAsksFirst()
    {
        QFETCH(int, rows);
        QFETCH(bool, yes);
        QFETCH(bool, asked);
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                                    "insert into 文件目录 (gdm,qzh,mlh,tm) select 'G1','1','1','会议纪要'||i from n")
                         .arg(rows));
        test::FakeUi ui;
        ui.printerNames << QStringLiteral("办公室打印机");
        ui.answers << (yes ? Ui::Answer::Yes : Ui::Answer::No);
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.BitBtn2Click();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        if (asked) {
            QCOMPARE(ui.shown.size(), 1);
            QVERIFY(ui.lastText().startsWith(QStringLiteral("该报表共")));
            QCOMPARE(ui.shown.last().buttons, Ui::Buttons::YesNo);
            QVERIFY(ui.lastText().contains(QRegularExpression(QStringLiteral("共\\d{3,}页"))));
        } else {
            QVERIFY(ui.shown.isEmpty());
        }
        QCOMPARE(ui.previews.size(), yes ? 1 : 0);
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
