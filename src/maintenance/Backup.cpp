#include "Backup.h"

#include "Connection.h"
#include "Error.h"
#include "ProgramFolder.h"
#include "Schema.h"
#include "Sqlite.h"

#include <QFile>

namespace dagl::Backup {

QString dayFolderName(const QDate &day)
{
    return day.toString(QStringLiteral("yyyyMMdd"));
}

QString manualBackupName(const QDate &day)
{
    return dayFolderName(day) + QStringLiteral("_kdmx.mdb");
}

QString copyDatabase(Connection &connection, const QString &source, const QString &target)
{
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    // A read transaction holds the shared lock: no writer can change the file meanwhile.
    sqlite3 *db = nullptr;
    bool locked = false;
    if (connection.isOpen()) {
        db = connection.handle();
        locked = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    QFile from(source);
    QString error;
    if (!from.copy(partial))
        error = from.errorString();
    if (locked)
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (!error.isEmpty()) {
        QFile::remove(partial);
        return error;
    }
    QFile::remove(target);
    QFile copied(partial);
    if (!copied.rename(target)) {
        error = copied.errorString();
        QFile::remove(partial);
    }
    return error;
}

QString exitCopy(Connection &connection, const QString &programFolder, const QDate &day)
{
    ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup"));
    const QString folder = ProgramFolder::ensureFolder(programFolder, QStringLiteral("backup/") + dayFolderName(day));
    return copyDatabase(connection, ProgramFolder::resolve(programFolder, Schema::kDatabaseFile),
                        folder + QStringLiteral("kdmx.mdb"));
}

} // namespace dagl::Backup
