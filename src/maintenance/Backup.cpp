#include "Backup.h"

#include "CheckedSaveFile.h"
#include "Connection.h"
#include "DatabaseFile.h"
#include "Dataset.h"
#include "Error.h"
#include "PgMaintenance.h"
#include "ProgramFolder.h"
#include "Schema.h"
#include "TDataModule5.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace dagl::Backup {

namespace {

QString passwordOf(const Connection &connection)
{
    return Connection::connectionValue(connection.connectionString(), QStringLiteral("Jet OLEDB:Database Password"));
}

QVector<Dataset *> sharedDatasets(TDataModule5 &dm)
{
    return { &dm.Tsyyp, &dm.Twjml, &dm.Tdaly, &dm.Tcxtj, &dm.TJCsj, &dm.TYjb };
}

// Copies a closed file through a temporary name beside the target; the copy replaces the
// target only once it is as long as the source.
void copyFile(const QString &source, const QString &target, const DatabaseFile::Progress &progress = {})
{
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly)) {
        const Cause cause = causeOfFileError(from.error());
        throw Error(causeText(cause), cause, from.errorString());
    }
    CheckedSaveFile to(target);
    if (!to.open(QIODevice::WriteOnly))
        throw Error(causeText(to.failure()), to.failure(), to.errorString());
    QByteArray chunk;
    qint64 done = 0;
    while (!(chunk = from.read(1 << 20)).isEmpty()) {
        if (to.write(chunk) != chunk.size())
            break; // commitChecked() says why
        done += chunk.size();
        if (progress && !progress(done, from.size()))
            throw DatabaseFile::Stopped(); // the unfinished copy is dropped
    }
    if (from.error() != QFileDevice::NoError) {
        const Cause cause = causeOfFileError(from.error());
        throw Error(causeText(cause), cause, from.errorString());
    }
    to.commitChecked(from.size());
}

// The live database held by this copy of the program alone while a file is put in its place.
class ExclusiveUse {
public:
    explicit ExclusiveUse(Connection &connection)
        : m_connection(connection)
        , m_held(connection.claimExclusive())
    {
    }
    ~ExclusiveUse()
    {
        if (m_held)
            m_connection.releaseExclusive();
    }
    ExclusiveUse(const ExclusiveUse &) = delete;
    ExclusiveUse &operator=(const ExclusiveUse &) = delete;
    bool held() const { return m_held; }

private:
    Connection &m_connection;
    bool m_held;
};

const char *const kHeldByAnother = "数据库正被另一个程序（如同时运行的另一个档案管理系统）使用，请先关闭它。";

// The datasets open on the shared connection and the rows they stood on, so that they can
// be opened again after the connection was closed for a moment.
class OpenDatasets {
public:
    explicit OpenDatasets(TDataModule5 &dm)
    {
        for (Dataset *dataset : sharedDatasets(dm)) {
            if (dataset->isOpen())
                m_open.push_back({ dataset, dataset->currentRow() >= 0 ? dataset->bookmark() : 0 });
        }
    }
    void reopen()
    {
        for (const auto &[dataset, bookmark] : m_open) {
            try {
                dataset->open();
                if (bookmark)
                    dataset->gotoBookmark(bookmark);
            } catch (const Error &error) {
                qWarning().noquote() << "dataset not reopened:" << dataset->objectName() << error.message();
            }
        }
    }

private:
    QVector<QPair<Dataset *, Dataset::Bookmark>> m_open;
};

// Opens the connection again, trying twice. Returns why it failed, empty on success.
QString reopen(Connection &connection)
{
    QString failure;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            connection.open();
            return {};
        } catch (const Error &error) {
            qWarning().noquote() << "database not reopened:" << error.logText();
            failure = error.message();
        }
    }
    return failure;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

} // namespace

QString dayFolderName(const QDate &day)
{
    return day.toString(QStringLiteral("yyyyMMdd"));
}

QString manualBackupName(const QDate &day, bool server)
{
    return dayFolderName(day) + QStringLiteral("_kdmx") + backupSuffix(server);
}

QString replacedCopyName(const QDateTime &when, bool server)
{
    return when.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral("_kdmx") + backupSuffix(server);
}

QString backupSuffix(bool server)
{
    return server ? QStringLiteral(".dump") : QStringLiteral(".mdb");
}

QStringList requiredTables()
{
    return { Schema::kCatalogueTable, QStringLiteral("ljserver"), QStringLiteral("移交表"), QStringLiteral("gly"),
        QStringLiteral("qx"), QStringLiteral("rz") };
}

QString copyDatabase(
    Connection &connection, const QString &source, const QString &target, const DatabaseFile::Progress &progress)
{
    if (connection.onServer()) {
        const QString failure = connection.isOpen() ? PgMaintenance::backup(connection.server(), target)
                                                    : causeText(Cause::CannotOpen);
        if (!failure.isEmpty())
            qWarning().noquote() << "server backup not made:" << target << failure;
        return failure;
    }
    try {
        if (connection.isOpen())
            DatabaseFile::backup(connection.handle(), passwordOf(connection), target, progress);
        else
            copyFile(source, target, progress);
        return {};
    } catch (const Error &error) {
        qWarning().noquote() << "copy not made:" << target << error.logText();
        return error.message();
    }
}

QString exitCopy(
    Connection &connection, const QString &programFolder, const QDate &day, const DatabaseFile::Progress &progress)
{
    if (connection.onServer())
        return {}; // see PgMaintenance: the caller logs that it was skipped
    QString folder;
    try {
        ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup"));
        folder = ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup/") + dayFolderName(day));
    } catch (const Error &error) {
        qWarning().noquote() << "exit copy folder not made:" << error.logText();
        return error.message();
    }
    return copyDatabase(connection, ProgramFolder::resolve(programFolder, Schema::kDatabaseFile),
        folder + QStringLiteral("kdmx.mdb"), progress);
}

QStringList cleanLeftovers(const QString &programFolder)
{
    QStringList removed = DatabaseFile::removeLeftovers(ProgramFolder::resolve(programFolder, Schema::kDatabaseFile));
    const QString backup = ProgramFolder::resolve(programFolder, QStringLiteral("backup"));
    if (QFileInfo(backup).isDir()) {
        removed << DatabaseFile::removePartialCopies(backup);
        const QFileInfoList days = QDir(backup).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo &day : days)
            removed << DatabaseFile::removePartialCopies(day.absoluteFilePath());
    }
    const QString excel = ProgramFolder::resolve(programFolder, QStringLiteral("Excel"));
    if (QFileInfo(excel).isDir())
        removed << DatabaseFile::removePartialCopies(excel, QStringLiteral("*.xlsx"));
    if (!removed.isEmpty())
        qInfo().noquote() << "left by an earlier run, removed:" << removed.join(QStringLiteral(", "));
    return removed;
}

bool saveDatabaseAsDateTime(TDataModule5 &dm, const QString &folder, const QDate &day,
    const std::function<bool(const QString &name)> &confirmOverwrite, QString *cause,
    const DatabaseFile::Progress &progress)
{
    const auto failed = [cause](const QString &why) {
        if (cause)
            *cause = why;
        return false;
    };
    const bool server = dm.ADOConnection1.onServer();
    const QString name = manualBackupName(day, server);
    if (!QFileInfo(folder).isDir()) {
        try {
            ProgramFolder::ensureFolder(dm.programFolder(), QStringLiteral("BACKUP"));
        } catch (const Error &error) {
            return failed(error.message());
        }
    }
    QString target = folder;
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    target += name;
    if (QFileInfo::exists(target) && !confirmOverwrite(name))
        return failed({});
    if (!QFileInfo(folder).isDir())
        return failed(causeText(Cause::NotFound));
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    if (!server && sameFile(target, live))
        return failed(causeText(Cause::InUse));
    const QString error = copyDatabase(dm.ADOConnection1, live, target, progress);
    return error.isEmpty() || failed(error);
}

// The server restores in one transaction of its own, the catalogue as it was kept first as
// a dump in backup/.
RestoreResult restoreOnServer(TDataModule5 &dm, const QString &candidate, const QDateTime &now)
{
    Connection &connection = dm.ADOConnection1;
    QString kept;
    try {
        kept = ProgramFolder::ensureFolder(dm.programFolder(), QStringLiteral("backup")) + replacedCopyName(now, true);
    } catch (const Error &error) {
        return { RestoreOutcome::CopyFailed, error.message() };
    }
    OpenDatasets wereOpen(dm);
    for (Dataset *dataset : sharedDatasets(dm))
        dataset->close();
    const PgMaintenance::RestoreResult result
        = PgMaintenance::restore(connection.server(), candidate, requiredTables(), kept);
    switch (result.outcome) {
    case PgMaintenance::RestoreOutcome::Restored:
        return { RestoreOutcome::Restored, {} };
    case PgMaintenance::RestoreOutcome::InUse:
        wereOpen.reopen();
        return { RestoreOutcome::InUse, result.cause };
    case PgMaintenance::RestoreOutcome::NotADump:
        wereOpen.reopen();
        return { RestoreOutcome::NotADatabase, result.cause };
    case PgMaintenance::RestoreOutcome::Failed:
        break;
    }
    wereOpen.reopen();
    return { RestoreOutcome::CopyFailed, result.cause };
}

RestoreResult restore(TDataModule5 &dm, const QString &candidate, const QDateTime &now)
{
    Connection &connection = dm.ADOConnection1;
    if (connection.onServer())
        return restoreOnServer(dm, candidate, now);
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    if (sameFile(candidate, live))
        return { RestoreOutcome::CopyFailed, QStringLiteral("所选文件就是正在使用的数据库。") };
    try {
        DatabaseFile::checkOpens(candidate, passwordOf(connection), requiredTables());
    } catch (const Error &error) {
        qWarning().noquote() << "not restored, no database of the program:" << error.logText();
        return { error.cause() == Cause::InUse ? RestoreOutcome::InUse : RestoreOutcome::NotADatabase,
            error.message() };
    }

    // Another copy of the program writing on would write into the file replaced here.
    std::optional<ExclusiveUse> alone;
    try {
        alone.emplace(connection);
    } catch (const Error &error) {
        return { RestoreOutcome::CopyFailed, error.message() };
    }
    if (!alone->held())
        return { RestoreOutcome::InUse, QString::fromUtf8(kHeldByAnother) };

    OpenDatasets wereOpen(dm);
    connection.close();
    const QString partial = DatabaseFile::sideName(live);
    try {
        // The chosen copy is made whole beside the live file, and the live file kept whole
        // in backup/, before anything is replaced.
        copyFile(candidate, partial);
        const QString kept
            = ProgramFolder::ensureFolder(dm.programFolder(), QStringLiteral("backup")) + replacedCopyName(now, false);
        copyFile(live, kept);
        DatabaseFile::replace(partial, live);
    } catch (const Error &error) {
        QFile::remove(partial);
        qWarning().noquote() << "not restored:" << error.logText();
        const QString failure = reopen(connection);
        if (!failure.isEmpty())
            return { RestoreOutcome::ReopenFailed, failure };
        wereOpen.reopen();
        return { RestoreOutcome::CopyFailed, error.message() };
    }
    const QString failure = reopen(connection);
    if (!failure.isEmpty())
        return { RestoreOutcome::ReopenFailed, failure };
    return { RestoreOutcome::Restored, {} };
}

CompactOutcome compactDatabase(TDataModule5 &dm, QString *error,
    const std::function<void(const QString &compacted)> &beforeReplace, const DatabaseFile::Progress &progress)
{
    for (Dataset *dataset : sharedDatasets(dm)) {
        if (dataset->isEditing())
            return CompactOutcome::RowsPending;
    }
    Connection &connection = dm.ADOConnection1;
    if (connection.onServer()) {
        const QString failure = PgMaintenance::compact(connection.server());
        if (error)
            *error = failure;
        return failure.isEmpty() ? CompactOutcome::Compacted : CompactOutcome::Failed;
    }
    std::optional<ExclusiveUse> alone;
    try {
        alone.emplace(connection);
    } catch (const Error &failure) {
        if (error)
            *error = failure.message();
        return CompactOutcome::Failed;
    }
    if (!alone->held()) {
        if (error)
            *error = QString::fromUtf8(kHeldByAnother);
        return CompactOutcome::InUse;
    }
    const QString password = passwordOf(connection);
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    OpenDatasets wereOpen(dm);
    connection.close();
    CompactOutcome outcome = CompactOutcome::Compacted;
    try {
        DatabaseFile::compact(live, password, beforeReplace, progress);
    } catch (const DatabaseFile::Stopped &stopped) {
        if (error)
            *error = stopped.message();
        outcome = CompactOutcome::Stopped;
    } catch (const Error &failure) {
        qWarning().noquote() << "compaction failed:" << failure.logText();
        if (error)
            *error = failure.message();
        outcome = CompactOutcome::Failed;
    }
    const QString failure = reopen(connection);
    if (!failure.isEmpty()) {
        if (error && error->isEmpty())
            *error = failure;
        return CompactOutcome::Failed;
    }
    wereOpen.reopen();
    return outcome;
}

} // namespace dagl::Backup
