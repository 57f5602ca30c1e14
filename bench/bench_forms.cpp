// Times the printed forms on a whole catalogue: reading the records of each form beside
// stepping the same statement alone, laying the pages out on A4, drawing the first and the
// last page; with the peak memory.
//
//   dagl-bench-forms PROGRAM_FOLDER      a folder made by dagl-initdb ... --fill N

#include "ArchivalForms.h"
#include "BenchSupport.h"
#include "Sqlite.h"
#include "TDataModule5.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 2) {
        QTextStream(stderr) << "usage: dagl-bench-forms PROGRAM_FOLDER\n";
        return 2;
    }
    QString folder = QString::fromLocal8Bit(argv[1]);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    dagl::bench::SilentUi ui;
    dagl::TDataModule5 dm(folder, ui);
    if (!dm.isConnected())
        return 1;
    constexpr int kDpi = 300;
    {
        QElapsedTimer t;
        t.start();
        const dagl::FormRecords::Choices choices = dagl::FormRecords::choices(dm.ADOConnection1);
        out << "the window's lists: " << choices.qzh.size() + choices.gdnd.size() + choices.bgqx.size() << " values in "
            << t.elapsed() << " ms\n";
        out.flush();
    }
    for (const dagl::ArchivalForms::FormInfo &entry : dagl::ArchivalForms::forms()) {
        QElapsedTimer t;
        t.start();
        {
            dagl::Statement raw(dm.ADOConnection1.handle(), dagl::FormRecords::statement(entry.form, {}, nullptr));
            int rows = 0;
            while (raw.step())
                ++rows;
            out << entry.title << ": raw statement " << rows << " rows in " << t.elapsed() << " ms\n";
        }
        t.restart();
        auto report
            = dagl::ArchivalForms::make(entry.form, dagl::FormRecords::read(dm.ADOConnection1, entry.form, {}, {}), 3);
        out << "  read " << t.elapsed() << " ms";
        t.restart();
        const QPageLayout a4(
            QPageSize(QPageSize::A4), report->orientation(), report->margins(), QPageLayout::Millimeter);
        const QSize size = a4.paintRectPixels(kDpi).size();
        const int pages = report->layOut(dagl::PageMetrics(size, kDpi));
        out << ", " << pages << " pages laid out in " << t.elapsed() << " ms";
        t.restart();
        QImage image(size, QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(kDpi / 0.0254));
        image.setDotsPerMeterY(qRound(kDpi / 0.0254));
        for (int page : { 1, pages }) {
            QPainter painter(&image);
            report->drawPage(painter, page);
        }
        out << ", first and last page drawn in " << t.elapsed() << " ms, peak "
            << dagl::bench::statusKb("VmHWM:") / 1024 << " MB\n";
        out.flush();
    }
    return 0;
}
