// What backup and compaction of a large database cost, beside the engine's own way of
// doing the same work as its shell does it: an online backup copied in steps of 100 pages
// (".backup"), and an export into an attached database with the same key
// ("ATTACH ... KEY ...; SELECT sqlcipher_export(...)"). Peak memory is the whole process's.
//
//   dagl-bench-maintenance [RECORDS] [DATABASE]
// With the path of an existing database file, that file is used (compaction rewrites it
// with the same content); otherwise a new one with RECORDS generated records (default
// 1,000,000) is made, and a tenth of them are deleted to leave free pages.

#include "BenchSupport.h"
#include "Connection.h"
#include "DatabaseFile.h"
#include "Error.h"
#include "Login.h"
#include "Schema.h"
#include "Sqlite.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <fstream>
#include <string>

namespace {


void check(sqlite3 *db, int rc)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw dagl::Error(dagl::sqliteError(db));
}

sqlite3 *openKeyed(const QString &path, const QByteArray &key)
{
    sqlite3 *db = nullptr;
    check(db,
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    sqlite3_key(db, key.constData(), int(key.size()));
    return db;
}

// The shell's ".backup": a new keyed file filled by the online backup, 100 pages a step.
qint64 rawBackup(const QString &source, const QString &target, const QByteArray &key)
{
    QFile::remove(target);
    QElapsedTimer t;
    t.start();
    sqlite3 *from = openKeyed(source, key);
    sqlite3 *to = openKeyed(target, key);
    sqlite3_backup *job = sqlite3_backup_init(to, "main", from, "main");
    int rc;
    while ((rc = sqlite3_backup_step(job, 100)) == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) { }
    sqlite3_backup_finish(job);
    check(to, rc);
    sqlite3_close(to);
    sqlite3_close(from);
    return t.elapsed();
}

// The documented way to rewrite an encrypted database: export into an attached file.
qint64 rawExport(const QString &source, const QString &target, const QByteArray &key)
{
    QFile::remove(target);
    QElapsedTimer t;
    t.start();
    sqlite3 *db = openKeyed(source, key);
    const QByteArray sql = "ATTACH DATABASE '" + QFile::encodeName(target) + "' AS compacted KEY '" + key
        + "'; SELECT sqlcipher_export('compacted'); DETACH DATABASE compacted;";
    check(db, sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
    return t.elapsed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    const int records = args.value(0, QStringLiteral("1000000")).toInt();
    QTemporaryDir work;
    QString path = args.value(1);
    const QByteArray key = dagl::Schema::kDatabasePassword.toUtf8();
    const QString password = dagl::Schema::kDatabasePassword;
    try {
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            path = work.filePath(QStringLiteral("kdmx.mdb"));
            QElapsedTimer t;
            t.start();
            dagl::Schema::NewDatabase spec;
            spec.path = path;
            spec.rightCodes = dagl::permissionCodeList();
            spec.sampleRecords = records;
            dagl::Schema::create(spec);
            dagl::Connection db;
            db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=%2").arg(path, password));
            db.open();
            check(db.handle(),
                sqlite3_exec(db.handle(), "DELETE FROM 文件目录 WHERE rowid % 10 = 0", nullptr, nullptr, nullptr));
            out << "made " << records << " records in " << t.elapsed() << " ms\n";
        }
        out << "database: " << path << ", " << QFileInfo(path).size() / (1024 * 1024) << " MB\n";
        out.flush();

        const QString rawCopy = work.filePath(QStringLiteral("raw-backup.mdb"));
        const QString ourCopy = work.filePath(QStringLiteral("backup.mdb"));
        const qint64 rawB = rawBackup(path, rawCopy, key);
        QFile::remove(rawCopy);
        qint64 ourB;
        {
            dagl::Connection db;
            db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=%2").arg(path, password));
            db.open();
            QElapsedTimer t;
            t.start();
            dagl::DatabaseFile::backup(db.handle(), password, ourCopy);
            ourB = t.elapsed();
        }
        QFile::remove(ourCopy);
        out << "backup:     " << ourB << " ms   (raw online backup " << rawB << " ms, ratio "
            << QString::number(double(ourB) / qMax<qint64>(rawB, 1), 'f', 2) << ")\n";
        out.flush();

        const QString rawCompacted = work.filePath(QStringLiteral("raw-export.mdb"));
        const qint64 rawC = rawExport(path, rawCompacted, key);
        const qint64 rawSize = QFileInfo(rawCompacted).size();
        QFile::remove(rawCompacted);
        const qint64 before = QFileInfo(path).size();
        QElapsedTimer t;
        t.start();
        dagl::DatabaseFile::compact(path, password);
        const qint64 ourC = t.elapsed();
        out << "compaction: " << ourC << " ms   (raw sqlcipher_export " << rawC << " ms, ratio "
            << QString::number(double(ourC) / qMax<qint64>(rawC, 1), 'f', 2) << "); " << before / 1024 << " KB -> "
            << QFileInfo(path).size() / 1024 << " KB (raw " << rawSize / 1024 << " KB)\n";
        out << "peak memory: " << dagl::bench::statusKb("VmHWM:") / 1024 << " MB\n";
    } catch (const dagl::Error &error) {
        out << "failed: " << error.message() << "\n";
        return 1;
    }
    return 0;
}
