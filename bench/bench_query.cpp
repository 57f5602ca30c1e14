// Times the query window's searches, its list-all and the statistics window's counts on a
// large catalogue, each beside the engine alone running the same statement (prepare, step
// every row, read every column as text, as the engine's own shell does) and the same
// statement with the better plan (the order's first column unindexed, so the engine filters
// first and sorts the matches), and the peak memory of the run. The generated catalogue has
// no rare word, so a few rows with one are added when missing.
//
//   dagl-bench-query PROGRAM_FOLDER      a folder made by dagl-initdb ... --fill N
//   dagl-bench-query PROGRAM_FOLDER TEXT only the statements whose name holds TEXT
//   dagl-bench-query --records N         a temporary folder with N generated records

#include "BenchSupport.h"
#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "Login.h"
#include "QueryStatement.h"
#include "ReadApart.h"
#include "Schema.h"
#include "SearchCases.h"
#include "SearchIndex.h"
#include "SortKeys.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>

#include <fstream>
#include <string>

namespace {

const QString kRareWord = QStringLiteral("麒麟瑞兽");
constexpr int kRareRows = 5;

// A handful of rows holding a word the generated titles never use, kept in step by the
// indexes' triggers like any other insert.
void addRareRows(dagl::Connection &db)
{
    dagl::Statement present(db.handle(), QStringLiteral("SELECT count(*) FROM 文件目录 WHERE tm LIKE '%") + kRareWord
            + QStringLiteral("%'"));
    present.step();
    if (present.column(0).toInt() > 0)
        return;
    dagl::Transaction transaction(db);
    dagl::Statement insert(db.handle(),
        QStringLiteral("INSERT INTO 文件目录 (QZH, MLH, AJH, YH, ZRZ, TM) VALUES (?, '1', ?, 1, '麒麟文化馆', ?)"));
    for (int i = 0; i < kRareRows; ++i) {
        insert.reset();
        insert.bind(1, QStringLiteral("%1").arg(i * 3 + 1, 3, 10, QLatin1Char('0')));
        insert.bind(2, i + 1);
        insert.bind(3, QStringLiteral("关于%1石刻保护的第%2次报告").arg(kRareWord).arg(i + 1));
        insert.step();
    }
    transaction.commit();
}


// The engine alone: every row stepped and every column read.
qint64 rawRun(dagl::Connection &db, const QString &sql, long &rows)
{
    QElapsedTimer t;
    t.start();
    const QByteArray text = db.translate(sql).toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db.handle(), text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
        throw dagl::Error(dagl::sqliteError(db.handle()));
    rows = 0;
    std::size_t bytes = 0;
    const int columns = sqlite3_column_count(stmt);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        ++rows;
        for (int c = 0; c < columns; ++c) {
            sqlite3_column_text(stmt, c);
            bytes += std::size_t(sqlite3_column_bytes(stmt, c));
        }
    }
    sqlite3_finalize(stmt);
    return t.elapsed();
}

// Ours: what the window does before the operator sees the result, and the first screen
// of rows the grid then reads; `allMs` until every row of the result is known (the rest
// are read while the operator already sees the first).
qint64 ourRun(dagl::TDataModule5 &dm, dagl::Dataset &dataset, const QString &sql, dagl::Ui &ui, int &rows,
    qint64 *allMs = nullptr)
{
    QElapsedTimer t;
    t.start();
    dagl::QueryStatement::run(dm, dataset, sql, ui);
    for (int row = 0; row < std::min(dataset.recordCount(), 40); ++row) {
        for (int field = 0; field < dataset.fieldCount(); ++field)
            dataset.textAt(row, field);
    }
    const qint64 first = t.elapsed();
    dataset.readRemainingRows();
    rows = dataset.recordCount();
    if (allMs)
        *allMs = t.elapsed();
    return first;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    QTemporaryDir temporary;
    QString folder;
    if (args.size() == 2 && args[0] == QLatin1String("--records")) {
        folder = temporary.path() + QLatin1Char('/');
        dagl::Schema::NewDatabase spec;
        spec.path = folder + dagl::Schema::kDatabaseFile;
        spec.rightCodes = dagl::permissionCodeList();
        spec.sampleRecords = args[1].toInt();
        dagl::Schema::create(spec);
    } else if (args.size() == 1 || args.size() == 2) {
        folder = args[0].endsWith(QLatin1Char('/')) ? args[0] : args[0] + QLatin1Char('/');
    } else {
        QTextStream(stderr) << "usage: dagl-bench-query PROGRAM_FOLDER [TEXT] | --records N\n";
        return 2;
    }

    dagl::bench::SilentUi ui;
    dagl::TDataModule5 dm(folder, ui);
    if (!dm.isConnected())
        return 1;
    dagl::Connection raw;
    raw.setConnectionString(dagl::TDataModule5::connectionStringFor(folder));
    raw.open();

    struct Case {
        QString name;
        QString sql;
        dagl::Dataset *dataset;
    };
    QVector<Case> cases;
    const QVector<dagl::bench::SearchCase> searches = dagl::bench::searchCases({
        { QStringLiteral("查询 题名 罕见词"), dagl::bench::searchOf({ { QStringLiteral("Edit6"), kRareWord } }) },
        { QStringLiteral("查询 责任者 罕见词"),
            dagl::bench::searchOf({ { QStringLiteral("Edit4"), QStringLiteral("麒麟") } }) },
    });
    for (const dagl::bench::SearchCase &c : searches)
        cases.push_back({ c.name, c.sql, c.count ? &dm.Tcxtj : &dm.Tdaly });

    // The query window opens the searches' reader as it opens.
    std::unique_ptr<dagl::ReadApart::KeyStream> readerAhead = dagl::ReadApart::openAhead(dm.ADOConnection1);
    out << "folder: " << folder << "\n";
    {
        QElapsedTimer added;
        added.start();
        addRareRows(dm.ADOConnection1);
        out << "rows with a rare word in place: " << added.elapsed() << " ms\n";
    }
    {
        // The search index is made at the first search; made here, its cost stands alone.
        QElapsedTimer made;
        made.start();
        if (!dagl::SearchIndex::exists(dm.ADOConnection1.handle())) {
            dagl::SearchIndex::build(dm.ADOConnection1, dagl::Schema::searchIndex(), {});
            out << "search index made in " << made.elapsed() << " ms\n";
        } else {
            out << "search index already there\n";
        }
    }
    // "ours" is the window's search until its first screen of rows is read; the ratio is
    // ours beside the raw statement with the better plan; "all" until every row is known.
    out << qSetFieldWidth(22) << Qt::left << "statement" << qSetFieldWidth(10) << Qt::right << "rows"
        << "raw ms"
        << "raw+ ms"
        << "ours ms"
        << "ratio"
        << "all ms" << qSetFieldWidth(0) << "\n";
    readerAhead.reset();
    const QString only = args.size() == 2 && args[0] != QLatin1String("--records") ? args[1] : QString();
    for (const Case &c : cases) {
        if (!c.name.contains(only))
            continue;
        long rawRows = 0, betterRows = 0;
        int ourRows = 0;
        const qint64 rawMs = rawRun(raw, c.sql, rawRows);
        QString better = c.sql;
        better.replace(QStringLiteral("order by qzh"), QStringLiteral("order by +qzh"));
        const qint64 betterMs = better == c.sql ? rawMs : rawRun(raw, better, betterRows);
        qint64 allMs = 0;
        const qint64 ourMs = ourRun(dm, *c.dataset, c.sql, ui, ourRows, &allMs);
        if (rawRows != ourRows)
            out << "row counts differ: " << rawRows << " " << ourRows << "\n";
        out << qSetFieldWidth(22) << Qt::left << c.name << qSetFieldWidth(10) << Qt::right << ourRows << rawMs
            << betterMs << ourMs << QString::number(double(ourMs) / double(std::max<qint64>(betterMs, 1)), 'f', 2)
            << allMs << qSetFieldWidth(0) << "\n";
        out.flush();
    }
    if (!only.isEmpty())
        return 0;
    // Title clicks on 题名 of the whole list: the sort keys made when missing (as the first
    // click does), then each click to its first screen, beside the engine sorting the keys
    // by their bytes.
    {
        QElapsedTimer t;
        t.start();
        const bool made = !dagl::SortKeys::exists(dm.ADOConnection1.handle(), QStringLiteral("TM"));
        dagl::Schema::ensureSortIndex(dm.ADOConnection1, QStringLiteral("TM"));
        if (made)
            out << "sort keys of 题名 made in " << t.elapsed() << " ms\n";
        int rows = 0;
        ourRun(dm, dm.Tdaly, dagl::QueryStatement::listAll(), ui, rows);
        for (const QString &direction : { QStringLiteral("ASC"), QStringLiteral("DESC") }) {
            long rawRows = 0;
            const qint64 rawMs
                = rawRun(raw, QStringLiteral("select rowid from 文件目录 order by tm ") + direction, rawRows);
            t.restart();
            dm.Tdaly.sort(QStringLiteral("TM ") + direction);
            for (int row = 0; row < std::min(dm.Tdaly.recordCount(), 40); ++row) {
                for (int field = 0; field < dm.Tdaly.fieldCount(); ++field)
                    dm.Tdaly.textAt(row, field);
            }
            out << "题名 click " << direction << ": ours " << t.elapsed() << " ms, raw byte order " << rawMs
                << " ms\n";
            out.flush();
        }
    }
    out << "peak memory: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";
    return 0;
}
