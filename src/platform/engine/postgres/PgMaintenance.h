#pragma once

#include <QString>
#include <QStringList>

namespace dagl {

class PgConnection;

// Backup, restore and compaction of the catalogue on a PostgreSQL server, for the backup
// window. Nothing is shown here; each call returns why it failed, in Chinese.
//
// Backup: the server's own dump (pg_dump, custom format -Fc) of the catalogue's database,
// which pg_restore of any later server reads. pg_dump reads one consistent snapshot, so
// other workstations go on working meanwhile. It runs as a separate process with the
// connection settings in its environment (the password stays in the password or service
// file) and writes under a temporary name beside the chosen file, renamed over it only
// when the dump is whole: a failed backup leaves no file and an earlier one as it was.
//
// Restore: pg_restore --single-transaction --clean --if-exists into the live database,
// so that the tables are dropped and made again from the dump in one transaction: a dump
// that breaks off half-way, a lost connection or a full disk roll everything back and the
// catalogue stays as it was. Restoring into a new database and renaming it in place was
// not chosen: renaming needs the right to create databases and no connection to either,
// ours included, and the new database would lose the grants and settings given to the
// catalogue's own. It refuses while other connections use the database (they would go on
// with rows that are gone), and a file that pg_restore cannot list, or whose tables are
// not the catalogue's, is refused before anything is touched.
//
// Compaction: VACUUM ANALYZE of the catalogue's tables, outside a transaction. It marks
// the space of deleted and old rows for reuse and renews the planner's figures without
// locking other workstations out; VACUUM FULL, which gives space back to the system,
// would stop them all while it rewrites the tables.
//
// The exit copy: the server's data is not one file the program can copy, and a copy per
// workstation at every exit would only load the server; the caller skips it and logs
// exitCopySkippedText().
namespace PgMaintenance {

enum class RestoreOutcome {
    Restored, // the catalogue is now the dump's; the caller reopens its datasets
    InUse, // other connections use the catalogue: nothing changed
    NotADump, // no dump, a damaged one or one of something else: nothing changed
    Failed, // the restore failed and was rolled back: nothing changed
};

struct RestoreResult {
    RestoreOutcome outcome = RestoreOutcome::Failed;
    QString cause; // empty when restored
};

// The server program `tool` (pg_dump, pg_restore) of the server's major version: in
// `folder` when given, else /usr/lib/postgresql/<major>/bin, else the search path when its
// version is not older than the server's. Throws dagl::Error naming what is missing.
QString toolPath(PgConnection &connection, const QString &tool, const QString &folder = {});

// Writes a dump of the connection's database to `target`, replacing it. Empty on success.
QString backup(PgConnection &connection, const QString &target, const QString &toolFolder = {});

// Who else uses the connection's database: one line each (address, program).
QStringList otherConnections(PgConnection &connection);

// Replaces the catalogue with the dump at `dump`. `requiredTables`: the tables a dump must
// hold to be the catalogue's (empty: the tables the live catalogue has). `keepReplacedAs`,
// when given, first receives a backup of the catalogue as it was; a restore whose backup
// fails is not done.
RestoreResult restore(PgConnection &connection, const QString &dump, const QStringList &requiredTables = {},
    const QString &keepReplacedAs = {}, const QString &toolFolder = {});

// VACUUM ANALYZE of `tables` (empty: every table of the catalogue). Empty on success.
QString compact(PgConnection &connection, const QStringList &tables = {});

// The log record the caller writes instead of the exit copy.
QString exitCopySkippedText();

} // namespace PgMaintenance
} // namespace dagl
