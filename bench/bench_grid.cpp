// Times the record grid on a large catalogue: opening the records, binding the grid and
// showing it, paging to the last row, a select-all with its count, a title-click sort and
// the bookmarks of a selection, each beside the dataset alone doing the nearest work.
//
//   dagl-bench-grid [--records N]      a temporary folder with N generated records (1000000)

#include "BenchSupport.h"
#include "DBGridEh.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "SortByTitle.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    int records = 1000000;
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--records")));
    if (at > 0 && at + 1 < args.size())
        records = args[at + 1].toInt();

    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    dagl::Schema::NewDatabase spec;
    spec.path = folder + QStringLiteral("data/kdmx.mdb");
    dagl::Schema::create(spec);
    dagl::bench::SilentUi ui;
    dagl::TDataModule5 dm(folder, ui);
    dagl::SampleCatalogue::fill(dm.ADOConnection1, records, 1);

    auto report = [&out](const char *what, qint64 ms, const char *beside = nullptr, qint64 rawMs = -1) {
        out << qSetFieldWidth(34) << Qt::left << what << qSetFieldWidth(0) << ms << " ms";
        if (beside)
            out << "   (" << beside << ": " << rawMs << " ms)";
        out << Qt::endl;
    };
    out << "records: " << records << Qt::endl;

    QElapsedTimer t;
    t.start();
    dm.Tsyyp.open();
    report("open Tsyyp", t.elapsed());

    t.restart();
    dagl::DBGridEh grid;
    grid.setDataset(&dm.Tsyyp,
        { { QStringLiteral("SXH"), QStringLiteral("序号") }, { QStringLiteral("TM"), QStringLiteral("题名") },
            { QStringLiteral("QZH"), QStringLiteral("全宗号") } });
    grid.setFooter({ { dagl::DBGridEh::FooterCell::Kind::Text, QStringLiteral("总计") },
        { dagl::DBGridEh::FooterCell::Kind::RecordCount, {} } });
    grid.resize(800, 450);
    grid.show();
    (void)QTest::qWaitForWindowExposed(&grid);
    QApplication::processEvents();
    report("bind and show grid", t.elapsed());

    t.restart();
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    const qint64 toEnd = t.elapsed();
    t.restart();
    dm.Tsyyp.last();
    report("Ctrl+End in the grid", toEnd, "dataset last()", t.elapsed());

    t.restart();
    grid.selectAllRows();
    const int selected = grid.selectedCount();
    report("select all + count", t.elapsed());
    t.restart();
    const int marks = int(grid.selectedBookmarks().size());
    const qint64 bookmarks = t.elapsed();
    t.restart();
    long long sum = 0;
    for (int row = 0; row < dm.Tsyyp.recordCount(); ++row)
        sum += dm.Tsyyp.bookmarkAt(row);
    report("bookmarks of all selected", bookmarks, "bookmarkAt over all rows", t.elapsed());
    grid.clearRowSelection();

    t.restart();
    dagl::SortByTitle(grid, 1, dm.Tsyyp);
    QApplication::processEvents();
    const qint64 sorted = t.elapsed();
    t.restart();
    dm.Tsyyp.sort(QStringLiteral("TM DESC"));
    report("title click sort (TM ASC)", sorted, "dataset sort TM DESC", t.elapsed());

    out << "selected " << selected << ", bookmarks " << marks << " (" << (sum != 0) << ")" << Qt::endl;
    return 0;
}
