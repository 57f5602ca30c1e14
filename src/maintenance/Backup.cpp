#include "Backup.h"

#include "Connection.h"
#include "DatabaseFile.h"
#include "Dataset.h"
#include "Error.h"
#include "ProgramFolder.h"
#include "Schema.h"
#include "TDataModule5.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

// Copies a closed file through a temporary name beside the target.
void copyFile(const QString &source, const QString &target)
{
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly))
        throw Error(from.errorString());
    QSaveFile to(target);
    if (!to.open(QIODevice::WriteOnly))
        throw Error(to.errorString());
    QByteArray chunk;
    while (!(chunk = from.read(1 << 20)).isEmpty()) {
        if (to.write(chunk) != chunk.size())
            throw Error(to.errorString());
    }
    if (from.error() != QFileDevice::NoError)
        throw Error(from.errorString());
    if (!to.commit())
        throw Error(to.errorString());
}

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

bool reopen(Connection &connection)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            connection.open();
            return true;
        } catch (const Error &error) {
            qWarning().noquote() << "database not reopened:" << error.message();
        }
    }
    return false;
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

QString manualBackupName(const QDate &day)
{
    return dayFolderName(day) + QStringLiteral("_kdmx.mdb");
}

QString replacedCopyName(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral("_kdmx.mdb");
}

QStringList requiredTables()
{
    return { Schema::kCatalogueTable, QStringLiteral("ljserver"), QStringLiteral("移交表"), QStringLiteral("gly"),
        QStringLiteral("qx"), QStringLiteral("rz") };
}

QString copyDatabase(Connection &connection, const QString &source, const QString &target)
{
    try {
        if (connection.isOpen())
            DatabaseFile::backup(connection.handle(), passwordOf(connection), target);
        else
            copyFile(source, target);
        return {};
    } catch (const Error &error) {
        return error.message();
    }
}

QString exitCopy(Connection &connection, const QString &programFolder, const QDate &day)
{
    ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup"));
    const QString folder = ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup/") + dayFolderName(day));
    return copyDatabase(
        connection, ProgramFolder::resolve(programFolder, Schema::kDatabaseFile), folder + QStringLiteral("kdmx.mdb"));
}

bool saveDatabaseAsDateTime(TDataModule5 &dm, const QString &folder, const QDate &day,
    const std::function<bool(const QString &name)> &confirmOverwrite)
{
    const QString name = manualBackupName(day);
    if (!QFileInfo(folder).isDir()) {
        try {
            ProgramFolder::ensureFolder(dm.programFolder(), QStringLiteral("BACKUP"));
        } catch (const Error &) {
            return false;
        }
    }
    QString target = folder;
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    target += name;
    if (QFileInfo::exists(target) && !confirmOverwrite(name))
        return false;
    if (!QFileInfo(folder).isDir())
        return false;
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    if (sameFile(target, live))
        return false;
    const QString failed = copyDatabase(dm.ADOConnection1, live, target);
    if (!failed.isEmpty())
        qWarning().noquote() << "backup not made:" << failed;
    return failed.isEmpty();
}

RestoreOutcome restore(TDataModule5 &dm, const QString &candidate, const QDateTime &now)
{
    Connection &connection = dm.ADOConnection1;
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    if (sameFile(candidate, live))
        return RestoreOutcome::CopyFailed;
    try {
        DatabaseFile::checkOpens(candidate, passwordOf(connection), requiredTables());
    } catch (const Error &error) {
        qWarning().noquote() << "not restored, no database of the program:" << error.message();
        return RestoreOutcome::NotADatabase;
    }

    OpenDatasets wereOpen(dm);
    connection.close();
    const QString partial = DatabaseFile::sideName(live);
    try {
        // The chosen copy is made whole beside the live file before anything is replaced.
        copyFile(candidate, partial);
        const QString kept
            = ProgramFolder::ensureFolder(dm.programFolder(), QStringLiteral("backup")) + replacedCopyName(now);
        copyFile(live, kept);
        DatabaseFile::replace(partial, live);
    } catch (const Error &error) {
        QFile::remove(partial);
        qWarning().noquote() << "not restored:" << error.message();
        if (!reopen(connection))
            return RestoreOutcome::ReopenFailed;
        wereOpen.reopen();
        return RestoreOutcome::CopyFailed;
    }
    return reopen(connection) ? RestoreOutcome::Restored : RestoreOutcome::ReopenFailed;
}

CompactOutcome compactDatabase(
    TDataModule5 &dm, QString *error, const std::function<void(const QString &compacted)> &beforeReplace)
{
    for (Dataset *dataset : sharedDatasets(dm)) {
        if (dataset->isEditing())
            return CompactOutcome::RowsPending;
    }
    Connection &connection = dm.ADOConnection1;
    const QString password = passwordOf(connection);
    const QString live = ProgramFolder::resolve(dm.programFolder(), Schema::kDatabaseFile);
    OpenDatasets wereOpen(dm);
    connection.close();
    CompactOutcome outcome = CompactOutcome::Compacted;
    try {
        DatabaseFile::compact(live, password, beforeReplace);
    } catch (const Error &failure) {
        qWarning().noquote() << "compaction failed:" << failure.message();
        if (error)
            *error = failure.message();
        outcome = CompactOutcome::Failed;
    }
    if (!reopen(connection)) {
        if (error && error->isEmpty())
            *error = QStringLiteral("The database could not be opened again.");
        return CompactOutcome::Failed;
    }
    wereOpen.reopen();
    return outcome;
}

} // namespace dagl::Backup
