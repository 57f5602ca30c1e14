// What the record list costs on a large catalogue, beside the engine's own cost of the
// same work: the first screen (the keys in the list's order plus one page of rows), a jump
// to the last row and back, each title-click sort, and deleting many chosen rows. Peak
// memory is the whole process's.
//
//   dagl-bench [RECORDS] [PROGRAM-FOLDER]
// With a program folder whose data/kdmx.mdb exists, that database is used (and changed by
// the final delete); otherwise a new one with RECORDS generated records is made.

#include "BenchSupport.h"
#include "Connection.h"
#include "Dataset.h"
#include "Login.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <fstream>
#include <string>

namespace {


constexpr int kScreenRows = 30;

// The engine alone: the keys of a statement, then one screen of rows by key.
qint64 rawKeysAndPage(dagl::Connection &db, const QString &keySql, int pageAt = 0)
{
    QElapsedTimer t;
    t.start();
    QVector<qlonglong> keys;
    dagl::Statement statement(db.handle(), keySql);
    while (statement.step())
        keys.push_back(sqlite3_column_int64(statement.handle(), 0));
    QStringList ids;
    for (int i = pageAt; i < std::min<int>(int(keys.size()), pageAt + kScreenRows); ++i)
        ids << QString::number(keys[i]);
    dagl::Statement page(db.handle(), QStringLiteral("select * from 文件目录 where rowid in (%1)").arg(ids.join(',')));
    while (page.step()) {
        for (int c = 0; c < page.columnCount(); ++c)
            page.column(c);
    }
    return t.elapsed();
}

// What a grid paints for one screen from `row` on.
void readScreen(dagl::Dataset &ds, int row)
{
    for (int r = row; r < std::min(ds.recordCount(), row + kScreenRows); ++r) {
        for (int f = 0; f < ds.fieldCount(); ++f)
            ds.textAt(r, f);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const dagl::bench::BenchCatalogue catalogue(argc, argv, dagl::permissionCodeList(), out);
    QElapsedTimer t;

    dagl::Connection db;
    catalogue.open(db);
    {
        dagl::Statement count(db.handle(), QStringLiteral("select count(*) from 文件目录"));
        count.step();
        out << "catalogue rows: " << count.column(0).toLongLong() << "\n";
    }
    auto line = [&](const QString &what, qint64 ours, qint64 raw) {
        out << QStringLiteral("%1  ours %2 ms  raw %3 ms  ratio %4\n")
                   .arg(what, -34)
                   .arg(ours, 6)
                   .arg(raw, 6)
                   .arg(raw > 0 ? double(ours) / double(raw) : 0.0, 0, 'f', 2);
        out.flush();
    };

    // First screen.
    const qint64 rawFirst = rawKeysAndPage(db, QStringLiteral("select rowid from 文件目录  order by sxh"));
    dagl::Dataset tsyyp(QStringLiteral("Tsyyp"));
    tsyyp.setConnection(&db);
    tsyyp.setCommandText(QStringLiteral("select * from 文件目录  order by sxh"));
    tsyyp.setDeclaredFields(dagl::Schema::catalogueFields());
    t.start();
    tsyyp.open();
    readScreen(tsyyp, 0);
    line(QStringLiteral("first screen (open Tsyyp)"), t.elapsed(), rawFirst);
    out << "peak memory of the process so far: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";

    // To the end and back.
    t.restart();
    tsyyp.last();
    readScreen(tsyyp, tsyyp.recordCount() - kScreenRows);
    tsyyp.first();
    readScreen(tsyyp, 0);
    line(QStringLiteral("jump to the last row and back"), t.elapsed(), rawFirst);

    // Title-click sorts, each against the engine's own ordered key list.
    const QStringList sorts{QStringLiteral("TM ASC"), QStringLiteral("TM DESC"), QStringLiteral("AJH ASC"),
                            QStringLiteral("QZH DESC"), QStringLiteral("GDND ASC"), QStringLiteral("ZRZ ASC")};
    for (const QString &sort : sorts) {
        const QString column = sort.section(QLatin1Char(' '), 0, 0);
        const QString direction = sort.section(QLatin1Char(' '), 1, 1);
        const qint64 raw =
            rawKeysAndPage(db, QStringLiteral("select rowid from 文件目录 order by %1 %2").arg(column, direction));
        t.restart();
        tsyyp.sort(sort);
        readScreen(tsyyp, 0);
        line(QStringLiteral("sort %1").arg(sort), t.elapsed(), raw);
    }

    // Scrolling through every row, as an export does.
    t.restart();
    for (int r = 0; r < tsyyp.recordCount(); ++r) {
        for (int f = 0; f < tsyyp.fieldCount(); ++f)
            tsyyp.textAt(r, f);
    }
    const qint64 walk = t.elapsed();
    t.restart();
    {
        dagl::Statement raw(db.handle(), QStringLiteral("select * from 文件目录  order by sxh"));
        while (raw.step()) {
            for (int c = 0; c < raw.columnCount(); ++c)
                raw.column(c);
        }
    }
    line(QStringLiteral("every row once, in list order"), walk, t.elapsed());

    out << "peak memory of the process: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";

    // Deleting chosen rows: half of the catalogue, by identity, in one transaction.
    QVector<dagl::Dataset::Bookmark> chosen;
    for (int r = 0; r < tsyyp.recordCount(); r += 2)
        chosen.push_back(tsyyp.bookmarkAt(r));
    t.restart();
    const int deleted = tsyyp.deleteBookmarks(chosen);
    out << "delete " << deleted << " chosen rows in one transaction: " << t.elapsed() << " ms\n";
    chosen.clear();
    for (int r = 0; r < tsyyp.recordCount(); ++r)
        chosen.push_back(tsyyp.bookmarkAt(r));
    t.restart();
    const int rest = tsyyp.deleteBookmarks(chosen);
    out << "delete all " << rest << " remaining rows: " << t.elapsed() << " ms\n";
    out << "peak memory of the process: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";
    return 0;
}
