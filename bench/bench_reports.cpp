// Times what the query window does with a whole catalogue once it is listed: the export
// of every row in each format beside the engine's own shell dumping the same columns as CSV
// (`sqlcipher -csv`), and the printed report: counting its pages, opening the preview, its
// first and last page, and a run of pages to PDF; with the peak memory of each.
//
//   dagl-bench-reports PROGRAM_FOLDER      a folder made by dagl-initdb ... --fill N

#include "BenchSupport.h"
#include "DBGridEh.h"
#include "DatasetModel.h"
#include "ExportGrid.h"
#include "PagedReport.h"
#include "PrintGrid.h"
#include "PrintPreviewDialog.h"
#include "Schema.h"
#include "SortByTitle.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TFrm_cxly.h"

#include <QApplication>
#include <QBuffer>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPdfWriter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <fstream>

namespace {

void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

long peakMb()
{
    return dagl::bench::statusKb("VmHWM:") / 1024;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 2) {
        QTextStream(stderr) << "usage: dagl-bench-reports PROGRAM_FOLDER [txt|csv|htm|rtf|xls|print]\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]).endsWith(QLatin1Char('/'))
        ? QString::fromLocal8Bit(argv[1])
        : QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    dagl::bench::SilentUi ui;
    dagl::TDataModule5 dm(folder, ui);
    if (!dm.isConnected())
        return 1;
    dagl::TFrm_cxly window(dm, ui, nullptr, nullptr);
    QElapsedTimer t;
    t.start();
    window.BitBtn2Click();
    dagl::DBGridEh &grid = *window.grid();
    out << "查询全部: " << dm.Tdaly.recordCount() << " rows in " << t.elapsed() << " ms\n";

    {
        // Title clicks on 题名: the first makes the order index when the catalogue lacks it.
        int title = -1;
        for (int column : grid.visibleColumns())
            if (grid.datasetModel()->fieldAt(column).compare(QLatin1String("TM"), Qt::CaseInsensitive) == 0)
                title = column;
        dagl::Connection &db = dm.ADOConnection1;
        t.restart();
        {
            dagl::Statement raw(db.handle(), QStringLiteral("SELECT rowid FROM 文件目录 ORDER BY TM"));
            while (raw.step()) { }
        }
        const qint64 rawSort = t.elapsed();
        const char *clicks[] = { "题名 click 1 (ascending)", "题名 click 2 (descending)", "题名 click 3 (marker off)",
            "题名 click 4 (ascending)" };
        for (const char *click : clicks) {
            t.restart();
            dagl::SortByTitle(grid, title, dm.Tdaly);
            QApplication::processEvents();
            out << click << ": " << t.elapsed() << " ms (raw byte-order sort " << rawSort << " ms), first row "
                << dm.Tdaly.textAt(0, dm.Tdaly.fieldIndex(QStringLiteral("TM"))) << "\n";
            out.flush();
        }
        window.BitBtn2Click();
    }
    if (only == QLatin1String("sort"))
        return 0;

    // The same columns as the grid shows, in the statement's order, dumped by the shell.
    QStringList columns;
    for (int column : grid.visibleColumns())
        columns << grid.datasetModel()->fieldAt(column);
    const QString select = QStringLiteral("select %1 from 文件目录 order by qzh,mlh,ajh,yh").arg(columns.join(QLatin1Char(',')));
    QTemporaryDir dir;
    t.restart();
    QProcess shell;
    shell.setStandardOutputFile(dir.filePath(QStringLiteral("raw.csv")));
    shell.start(QStringLiteral("sqlcipher"),
        { QStringLiteral("-csv"), folder + dagl::Schema::kDatabaseFile,
            QStringLiteral("PRAGMA key='%1';").arg(dagl::Schema::kDatabasePassword), select });
    const bool shellRan = shell.waitForFinished(-1) && shell.exitCode() == 0;
    const qint64 rawMs = shellRan ? t.elapsed() : -1;
    out << "raw sqlcipher -csv: " << rawMs << " ms, " << QFileInfo(dir.filePath(QStringLiteral("raw.csv"))).size() / 1048576
        << " MB" << (shellRan ? "" : " (no sqlcipher shell)") << "\n";
    out.flush();

    for (int entry = 1; entry <= 5; ++entry) {
        const dagl::ExportFormat format = *dagl::ExportRules::formatOf(entry);
        const QString extension = dagl::ExportRules::extensionOf(format);
        if (!only.isEmpty() && only != extension)
            continue;
        const QString path = dir.filePath(QStringLiteral("export.") + extension);
        resetPeak();
        const long before = dagl::bench::statusKb("VmRSS:") / 1024;
        t.restart();
        dagl::writeGridFile(format, dagl::gridTable(grid), path);
        const qint64 ms = t.elapsed();
        out << extension << ": " << ms << " ms, " << QFileInfo(path).size() / 1048576 << " MB, ratio to raw "
            << QString::number(double(ms) / double(std::max<qint64>(rawMs, 1)), 'f', 2) << ", peak memory "
            << peakMb() << " MB (" << before << " MB before)\n";
        out.flush();
        QFile::remove(path);
    }

    if (!only.isEmpty() && only != QLatin1String("print"))
        return 0;
    resetPeak();
    t.restart();
    dagl::GridReportDocument document(dagl::gridReport(grid, QStringLiteral("翠岚档案查询报表"), QDate::currentDate()));
    const QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait, document.margins(), QPageLayout::Millimeter);
    const int pages = document.layOut(dagl::PageMetrics(a4.paintRectPixels(300).size(), 300));
    out << "print: " << pages << " pages counted in " << t.elapsed() << " ms\n";
    {
        t.restart();
        dagl::PrintPreviewDialog preview(QStringLiteral("翠岚档案查询报表"), document);
        preview.resize(1000, 800);
        preview.show();
        (void)QTest::qWaitForWindowExposed(&preview);
        while (preview.view()->pagesHeld() == 0 && t.elapsed() < 60000)
            QApplication::processEvents();
        out << "preview open, first page shown: " << t.elapsed() << " ms\n";
        t.restart();
        QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("LastPage")), Qt::LeftButton);
        QApplication::processEvents();
        preview.view()->viewport()->repaint();
        out << "last page shown: " << t.elapsed() << " ms (page " << preview.view()->currentPage() << ")\n";
        t.restart();
        for (int i = 0; i < 20; ++i) {
            QTest::mouseClick(preview.findChild<QPushButton *>(QStringLiteral("PriorPage")), Qt::LeftButton);
            preview.view()->viewport()->repaint();
        }
        out << "20 pages back, one by one: " << t.elapsed() << " ms\n";
        out << "preview peak memory: " << peakMb() << " MB, pages held " << preview.view()->pagesHeld() << "\n";
    }
    resetPeak();
    t.restart();
    {
        QFile pdf(dir.filePath(QStringLiteral("report.pdf")));
        pdf.open(QIODevice::WriteOnly);
        QPdfWriter writer(&pdf);
        writer.setResolution(600);
        const int upTo = std::min(pages, 200);
        dagl::printReport(document, writer, 1, upTo, {});
        out << "PDF of " << upTo << " pages: " << t.elapsed() << " ms, peak memory " << peakMb() << " MB\n";
    }
    out << "after the preview: " << dagl::bench::statusKb("VmRSS:") / 1024 << " MB resident\n";
    return 0;
}
