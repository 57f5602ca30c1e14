#include "DatabaseFile.h"

#include "Collation.h"
#include "Error.h"
#include "SearchIndex.h"
#include "Sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace dagl::DatabaseFile {

namespace {

// What the engine keeps beside a file it writes, to undo a write cut short.
const QString kJournal = QStringLiteral("-journal");

// A connection of its own to one file, closed when it goes out of scope.
class Handle {
public:
    Handle(const QString &path, int flags, const QString &password)
    {
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const Error failure = sqliteFailure(m_db, rc);
            sqlite3_close(m_db);
            throw failure;
        }
        const QByteArray key = password.toUtf8();
        if (!key.isEmpty())
            sqlite3_key(m_db, key.constData(), int(key.size()));
        // An index kept in the operator's order is checked and copied in that order.
        Collation::install(m_db);
        SearchIndex::install(m_db);
    }
    ~Handle() { sqlite3_close(m_db); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    sqlite3 *db() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
};

// Runs `work`, removing `partial` when it fails so that no half-made file stays behind,
// nor the engine's journal of it: a full disk can leave that behind, and it would be taken
// for the journal of the next file made under that name.
template <typename Work> void removingOnFailure(const QString &partial, Work work)
{
    try {
        work();
    } catch (...) {
        QFile::remove(partial);
        QFile::remove(partial + kJournal);
        throw;
    }
}

void syncFolderOf(const QString &path)
{
#ifndef Q_OS_WIN
    // The rename itself is only lasting once the folder's entry is on disk.
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path)
#endif
}

#ifndef Q_OS_WIN
Error systemError(int error)
{
    const Cause cause = causeOfErrno(error);
    const QString system = QString::fromLocal8Bit(std::strerror(error));
    return Error(cause == Cause::Unknown ? system : causeText(cause), cause, system);
}
#endif

qlonglong pragmaValue(sqlite3 *db, const QString &pragma)
{
    Statement value(db, QStringLiteral("PRAGMA ") + pragma);
    return value.step() ? value.column(0).toLongLong() : 0;
}

// Throws unless the file at `path` is as long as the database in it says it is: a write
// the disk did not take whole leaves it short.
void checkWhole(sqlite3 *db, const QString &schema, const QString &path)
{
    const qlonglong expected = pragmaValue(db, schema + QStringLiteral(".page_count"))
        * pragmaValue(db, schema + QStringLiteral(".page_size"));
    const qint64 actual = QFileInfo(path).size();
    if (actual != expected)
        throw Error(causeText(Cause::DiskFull), Cause::DiskFull,
            QStringLiteral("%1 holds %2 of %3 bytes").arg(path).arg(actual).arg(expected));
}

bool isPlainSqlite(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

} // namespace

QString compactionName(const QString &path)
{
    const QFileInfo info(path);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".BAK");
}

QStringList removeLeftovers(const QString &database)
{
    QStringList removed;
    for (const QString &made : { sideName(database), compactionName(database) }) {
        for (const QString &file : { made, made + kJournal }) {
            if (QFileInfo(file).isFile() && QFile::remove(file))
                removed << file;
        }
    }
    return removed;
}

QStringList removePartialCopies(const QString &folder, const QString &nameFilter)
{
    QStringList removed;
    const QString partial = sideName(nameFilter);
    const QFileInfoList found = QDir(folder).entryInfoList(
        { partial, partial + kJournal }, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo &file : found) {
        if (QFile::remove(file.absoluteFilePath()))
            removed << file.absoluteFilePath();
    }
    return removed;
}

QString sideName(const QString &target)
{
    return target + QStringLiteral(".part");
}

void replace(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()), reinterpret_cast<const wchar_t *>(to.utf16()),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw Error(causeText(Cause::InUse), Cause::InUse,
            QStringLiteral("Cannot replace %1 (error %2)").arg(to).arg(GetLastError()));
#else
    // rename(2) swaps the directory entry atomically, replacing an existing target.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw systemError(errno);
    syncFolderOf(to);
#endif
}

void backup(sqlite3 *source, const QString &password, const QString &target, const Progress &progress)
{
    if (!source)
        throw Error(QStringLiteral("The database is not open."));
    const QString partial = sideName(target);
    QFile::remove(partial);
    QFile::remove(partial + kJournal); // left by a copy cut short
    removingOnFailure(partial, [&] {
        {
            Handle copy(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, password);
            sqlite3_backup *job = sqlite3_backup_init(copy.db(), "main", source, "main");
            if (!job)
                throw sqliteFailure(copy.db(), sqlite3_errcode(copy.db()));
            int rc = SQLITE_OK;
            int waits = 0;
            // Steps of a few thousand pages: each holds the read lock only briefly, and a
            // change made meanwhile through another connection restarts the copy. A writer
            // that keeps the file locked for seconds makes the copy fail, not hang.
            bool stopped = false;
            do {
                rc = sqlite3_backup_step(job, 1024);
                if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                    if (++waits > 250)
                        break;
                    sqlite3_sleep(20);
                }
                if (progress && rc != SQLITE_DONE) {
                    const int total = sqlite3_backup_pagecount(job);
                    stopped = !progress(total - sqlite3_backup_remaining(job), total);
                }
            } while (!stopped && (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED));
            // The copy's connection keeps what the system said about a failed write.
            const int finished = sqlite3_backup_finish(job);
            if (stopped)
                throw Stopped();
            if (rc != SQLITE_DONE)
                throw sqliteFailure(copy.db(), rc);
            if (finished != SQLITE_OK)
                throw sqliteFailure(copy.db(), finished);
            checkWhole(copy.db(), QStringLiteral("main"), partial);
        }
        replace(partial, target);
    });
}

void checkOpens(const QString &path, const QString &password, const QStringList &tables)
{
    if (!QFileInfo(path).isFile())
        throw Error(causeText(Cause::NotFound), Cause::NotFound, QStringLiteral("Could not find file '%1'.").arg(path));
    // Our files are keyed: one that reads without a key is somebody else's database, one
    // that does not read with ours has another password or is no database at all.
    const Cause unreadable = password.isEmpty() || isPlainSqlite(path) ? Cause::NotADatabase : Cause::WrongPassword;
    Handle candidate(path, SQLITE_OPEN_READONLY, password);
    QSet<QString> present;
    try {
        Statement names(candidate.db(), QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
        while (names.step())
            present.insert(names.column(0).toString().toLower());
    } catch (const Error &error) {
        if (error.cause() == Cause::NotADatabase)
            throw Error(causeText(unreadable), unreadable, error.detail());
        throw;
    }
    for (const QString &table : tables) {
        if (!present.contains(table.toLower()))
            throw Error(causeText(Cause::NotADatabase), Cause::NotADatabase,
                QStringLiteral("The database has no table '%1'.").arg(table));
    }
    // A cut or damaged file may still show its first pages whole.
    Statement check(candidate.db(), QStringLiteral("PRAGMA quick_check"));
    while (check.step()) {
        const QString result = check.column(0).toString();
        if (result != QLatin1String("ok"))
            throw Error(causeText(Cause::Corrupt), Cause::Corrupt, result);
    }
}

namespace {

// Told by the engine every so often while it writes the compacted file: how far the file
// has grown towards the size of the live one.
struct CompactionWatch {
    const Progress *progress;
    QString compacted;
    qint64 total;
    bool stopped = false;
};

int compactionStep(void *context)
{
    auto *watch = static_cast<CompactionWatch *>(context);
    const qint64 done = std::min(QFileInfo(watch->compacted).size(), watch->total);
    watch->stopped = !(*watch->progress)(done, watch->total);
    return watch->stopped ? 1 : 0;
}

} // namespace

void compact(const QString &path, const QString &password,
    const std::function<void(const QString &compacted)> &beforeReplace, const Progress &progress)
{
    if (!QFileInfo(path).isFile())
        throw Error(causeText(Cause::NotFound), Cause::NotFound, QStringLiteral("Could not find file '%1'.").arg(path));
    const QString compacted = compactionName(path);
    // A file left by an earlier compaction that did not end.
    if (QFileInfo::exists(compacted) && !QFile::remove(compacted))
        throw Error(causeText(Cause::InUse), Cause::InUse, QStringLiteral("Cannot remove %1").arg(compacted));
    removingOnFailure(compacted, [&] {
        {
            // CREATE is for the attached file; the live one is known to exist.
            Handle live(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, password);
            Statement(live.db(), QStringLiteral("SELECT count(*) FROM sqlite_master")).step();
            Statement attach(live.db(), QStringLiteral("ATTACH DATABASE ?1 AS compacted KEY ?2"));
            attach.bind(1, compacted);
            attach.bind(2, password);
            attach.step();
            // The export writes every table, index and sequence afresh, page by page.
            CompactionWatch watch { &progress, compacted, QFileInfo(path).size() };
            if (progress)
                sqlite3_progress_handler(live.db(), 20000, &compactionStep, &watch);
            try {
                Statement(live.db(), QStringLiteral("SELECT sqlcipher_export('compacted')")).step();
            } catch (const Error &) {
                if (watch.stopped)
                    throw Stopped();
                throw;
            }
            sqlite3_progress_handler(live.db(), 0, nullptr, nullptr);
            qlonglong userVersion = 0;
            {
                Statement version(live.db(), QStringLiteral("PRAGMA main.user_version"));
                if (version.step())
                    userVersion = version.column(0).toLongLong();
            }
            Statement(live.db(), QStringLiteral("PRAGMA compacted.user_version = %1").arg(userVersion)).step();
            checkWhole(live.db(), QStringLiteral("compacted"), compacted);
            Statement(live.db(), QStringLiteral("DETACH DATABASE compacted")).step();
        }
        if (beforeReplace)
            beforeReplace(compacted);
        replace(compacted, path);
    });
}

} // namespace dagl::DatabaseFile
