#pragma once

#include "DatabaseFile.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace dagl {

class Connection;
class TDataModule5;

// Copies of the database: manual backups, restore, compaction and the exit copy. No
// message is shown here; the callers say what happened.
namespace Backup {

// The day as eight digits, year, month, day: the name of an exit copy's folder.
QString dayFolderName(const QDate &day);
// The file name of a manual backup made on that day: a copy of the file, or on a server
// its dump (see PgMaintenance).
QString manualBackupName(const QDate &day, bool server = false);
// The name under which a restore keeps the database it replaced, in backup/.
QString replacedCopyName(const QDateTime &when, bool server = false);
// What backups end in: ".mdb", or ".dump" for a server's.
QString backupSuffix(bool server);
// The tables a file must hold to be taken as a database of this program.
QStringList requiredTables();

// Copies the database of an open connection to `target`, replacing it: a consistent
// snapshot taken while the connection stays usable, written under a temporary name first,
// so that a failure leaves the earlier copy as it was. A closed connection's file is copied
// as it is. Returns why it failed, in Chinese; empty on success.
// `progress` follows the copy of a file and can stop it (the cause is then
// DatabaseFile::Stopped's text).
QString copyDatabase(
    Connection &connection, const QString &source, const QString &target, const DatabaseFile::Progress &progress = {});

// The copy made at every confirmed exit: backup/<yyyymmdd>/kdmx.mdb in the program folder.
// Returns why it was not made (a folder that cannot be made, a full disk), empty on success.
// None is made of a catalogue on a server; the caller logs PgMaintenance::exitCopySkippedText().
QString exitCopy(Connection &connection, const QString &programFolder, const QDate &day,
    const DatabaseFile::Progress &progress = {});

// A manual backup of the live database into `folder` under the day's name. When that file
// exists, `confirmOverwrite` is asked with the name and decides. A missing folder fails
// (after the program folder's BACKUP folder has been made, if it was missing). On failure
// `cause` gets the reason in Chinese, empty when the operator declined the overwrite.
bool saveDatabaseAsDateTime(TDataModule5 &dm, const QString &folder, const QDate &day,
    const std::function<bool(const QString &name)> &confirmOverwrite, QString *cause = nullptr,
    const DatabaseFile::Progress &progress = {});

// Removes what copies, compactions and exports cut short by a kill left in the program
// folder: half-made copies and their journals in data/, backup/ and its day folders, the
// compacted file beside the database, half-made workbooks in Excel/. Only while no other
// copy of the program uses the database (one may be making them). Returns what it removed.
QStringList cleanLeftovers(const QString &programFolder);

enum class RestoreOutcome {
    Restored, // the live database is now the chosen copy; the program must end
    NotADatabase, // the file is no database of this program, or damaged; nothing changed
    InUse, // another copy of the program has the database open; nothing changed
    CopyFailed, // the copy could not be put in place; the live database is unchanged
    ReopenFailed, // the connection could not be opened again afterwards
};

struct RestoreResult {
    RestoreOutcome outcome;
    QString cause; // why it did not restore, in Chinese; empty when restored
};

// Replaces the live database with the copy at `candidate`, once it has been shown to open
// with the program's password and to hold the program's tables, and while no other copy of
// the program has the live database open. The database it replaces is first kept whole in
// backup/ under replacedCopyName(now).
RestoreResult restore(TDataModule5 &dm, const QString &candidate, const QDateTime &now);

enum class CompactOutcome {
    Compacted,
    RowsPending, // a window holds a row not yet saved: nothing was done
    InUse, // another copy of the program has the database open: nothing was done
    Failed, // the live database is unchanged
    Stopped, // the operator stopped it: the live database is unchanged
};

// Compacts the live database. The shared connection is closed meanwhile; the datasets that
// were open are opened again afterwards on the rows they showed. `error` gets why it
// failed, in Chinese where the cause is known. `beforeReplace` is passed to
// DatabaseFile::compact, and so is `progress`.
CompactOutcome compactDatabase(TDataModule5 &dm, QString *error = nullptr,
    const std::function<void(const QString &compacted)> &beforeReplace = {},
    const DatabaseFile::Progress &progress = {});

} // namespace Backup
} // namespace dagl
