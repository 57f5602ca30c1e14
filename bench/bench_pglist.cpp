// The catalogue on a PostgreSQL server at scale: a local catalogue copied to a throwaway
// cluster by the database tool's command, then the record list's first screen, the query
// window's searches and the statistics window's counts through the program's own path,
// each beside the same statements run raw (libpq reading every value as text, and psql for
// the list), and the peak memory of the program.
//
//   dagl-bench-pglist PROGRAM_FOLDER   a folder made by dagl-initdb ... --fill N

#include "BenchSupport.h"
#include "CatalogueLocation.h"
#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "IniFile.h"
#include "Login.h"
#include "PgCluster.h"
#include "PgConnection.h"
#include "QueryStatement.h"
#include "SearchCases.h"
#include "ServerCatalogue.h"
#include "TDataModule5.h"

#include <libpq-fe.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// libpq alone: the whole result of a statement, every value read as text.
qint64 rawRun(dagl::PgConnection &db, const QString &native, long &rows)
{
    QElapsedTimer t;
    t.start();
    PGresult *result = PQexec(db.handle(), native.toUtf8().constData());
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        const QString message = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
        throw dagl::Error(message);
    }
    rows = PQntuples(result);
    std::size_t bytes = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < PQnfields(result); ++c)
            bytes += std::strlen(PQgetvalue(result, r, c));
    }
    PQclear(result);
    return t.elapsed();
}

// psql, as an administrator would time it by hand: start, run, print to nowhere.
qint64 psqlRun(const dagl::PgSettings &server, const QStringList &statements)
{
    QStringList args{QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), server.host,
        QStringLiteral("-p"), QString::number(server.port), QStringLiteral("-U"), server.user,
        QStringLiteral("-d"), server.database, QStringLiteral("-o"), QStringLiteral("/dev/null")};
    for (const QString &statement : statements)
        args << QStringLiteral("-c") << statement;
    QProcess psql;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSFILE"), server.passFile);
    psql.setProcessEnvironment(environment);
    QElapsedTimer t;
    t.start();
    psql.start(QStringLiteral("psql"), args);
    psql.waitForFinished(-1);
    return psql.exitCode() == 0 ? t.elapsed() : -1;
}

// The first screen of a dataset: 40 rows of every column as the grid shows them.
void readFirstScreen(dagl::Dataset &dataset)
{
    for (int row = 0; row < std::min(dataset.recordCount(), 40); ++row) {
        for (int field = 0; field < dataset.fieldCount(); ++field)
            dataset.textAt(row, field);
    }
}

QString keyList(const QVector<qlonglong> &keys)
{
    QStringList texts;
    for (qlonglong key : keys)
        texts << QString::number(key);
    return QStringLiteral("{") + texts.join(QLatin1Char(',')) + QStringLiteral("}");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1) {
        QTextStream(stderr) << "usage: dagl-bench-pglist PROGRAM_FOLDER\n";
        return 2;
    }
    const QString local = args[0].endsWith(QLatin1Char('/')) ? args[0] : args[0] + QLatin1Char('/');
    dagl::test::PgCluster cluster;
    if (!cluster.isRunning()) {
        QTextStream(stderr) << "no cluster: " << cluster.error() << "\n";
        return 1;
    }
    const dagl::PgSettings settings = cluster.freshDatabase(QStringLiteral("bench"));
    try {
        // Moving the office: the tool's copy of the local file, all or nothing.
        dagl::Connection file;
        file.setConnectionString(dagl::TDataModule5::connectionStringFor(local));
        file.open();
        dagl::PgConnection server(settings);
        server.open();
        QElapsedTimer t;
        t.start();
        const auto counts = dagl::ServerCatalogue::copyFrom(server, file, dagl::permissionCodeList());
        out << "copied to the server in " << t.elapsed() << " ms:";
        for (const auto &count : counts)
            out << " " << count.table << " " << count.rows;
        out << "\n";
        t.restart();
        server.executeNative(QStringLiteral("VACUUM (ANALYZE)"));
        out << "VACUUM (ANALYZE) " << t.elapsed() << " ms\n";
    } catch (const dagl::Error &error) {
        QTextStream(stderr) << "copy failed: " << error.logText() << "\n";
        return 1;
    }

    QTemporaryDir folder;
    const QString programFolder = folder.path() + QLatin1Char('/');
    dagl::CatalogueLocation location;
    location.kind = dagl::CatalogueLocation::Kind::Server;
    location.server = settings;
    location.save(dagl::IniFile::settingsOf(programFolder));
    dagl::bench::SilentUi ui;
    dagl::TDataModule5 dm(programFolder, ui);
    if (!dm.isConnected())
        return 1;
    dagl::PgConnection raw(settings);
    raw.open();
    out << "memory after the connections: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";

    // The record list: every key in the list's order, then the first page of rows.
    {
        const QString keys = raw.translate(QStringLiteral("select str_m_date from 文件目录  order by sxh"));
        const QString keySql = keys + QStringLiteral(", str_m_date");
        QElapsedTimer t;
        t.start();
        dm.Tsyyp.close();
        dm.Tsyyp.open();
        readFirstScreen(dm.Tsyyp);
        const qint64 ours = t.elapsed();
        QVector<qlonglong> first;
        for (int row = 0; row < std::min(dm.Tsyyp.recordCount(), 256); ++row)
            first << dm.Tsyyp.bookmarkAt(row);
        const QString page
            = QStringLiteral("SELECT * FROM \"文件目录\" WHERE str_m_date = ANY('%1'::bigint[])").arg(keyList(first));
        long keyRows = 0, pageRows = 0;
        const qint64 rawKeys = rawRun(raw, keySql, keyRows);
        const qint64 rawPage = rawRun(raw, page, pageRows);
        const qint64 psql = psqlRun(settings, {keySql, page});
        out << "record list, " << dm.Tsyyp.recordCount() << " rows: first screen " << ours << " ms; raw keys "
            << rawKeys << " ms + page " << rawPage << " ms; psql " << psql << " ms; ratio to psql "
            << QString::number(double(ours) / double(std::max<qint64>(psql, 1)), 'f', 2) << "\n";
        out.flush();
    }

    struct Case {
        QString name;
        QString sql;
        dagl::Dataset *dataset;
    };
    QVector<Case> cases;
    for (const dagl::bench::SearchCase &c : dagl::bench::searchCases())
        cases.push_back({ c.name, c.sql, c.count ? &dm.Tcxtj : &dm.Tdaly });

    // "raw" runs the statement the program sends for the keys (a count: the statement
    // itself); "ours" is the window's search or count until its first screen is read.
    out << qSetFieldWidth(22) << Qt::left << "statement" << qSetFieldWidth(10) << Qt::right << "rows"
        << "raw ms"
        << "ours ms"
        << "ratio" << qSetFieldWidth(0) << "\n";
    for (const Case &c : cases) {
        const bool count = c.dataset == &dm.Tcxtj;
        QString native = raw.translate(c.sql);
        if (!count) {
            // The keys in the statement's order, as the program reads them.
            const int from = native.indexOf(QStringLiteral(" from "), 0, Qt::CaseInsensitive);
            native = QStringLiteral("select str_m_date") + native.mid(from) + QStringLiteral(", str_m_date");
        }
        long rawRows = 0;
        const qint64 rawMs = rawRun(raw, native, rawRows);
        QElapsedTimer t;
        t.start();
        dagl::QueryStatement::run(dm, *c.dataset, c.sql, ui);
        readFirstScreen(*c.dataset);
        const qint64 ourMs = t.elapsed();
        const int ourRows = c.dataset->recordCount();
        if (rawRows != ourRows)
            out << "row counts differ: " << rawRows << " " << ourRows << "\n";
        out << qSetFieldWidth(22) << Qt::left << c.name << qSetFieldWidth(10) << Qt::right << ourRows << rawMs
            << ourMs << QString::number(double(ourMs) / double(std::max<qint64>(rawMs, 1)), 'f', 2)
            << qSetFieldWidth(0) << "\n";
        out.flush();
    }
    {
        // A title click on the whole list: the server sorts in pinyin order.
        QElapsedTimer t;
        dagl::QueryStatement::run(dm, dm.Tdaly, dagl::QueryStatement::listAll(), ui);
        t.start();
        dm.Tdaly.sort(QStringLiteral("TM ASC"));
        readFirstScreen(dm.Tdaly);
        out << "题名 click ASC: " << t.elapsed() << " ms\n";
    }
    out << "peak memory of the program: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MiB\n";
    return 0;
}
