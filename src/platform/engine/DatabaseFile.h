#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct sqlite3;

namespace dagl {

// Whole-file operations on a password-protected database: a consistent copy of a file in
// use, a check that a file is a database of the program before it replaces the live one,
// and compaction. Every new file is written beside its target under a temporary name and
// put in place by one rename, so a failure at any point (a full disk included) leaves the
// target as it was. Failures throw dagl::Error.
namespace DatabaseFile {

// Copies the database of an open connection, as it stands, to `target` (replaced when it
// exists) with the engine's online backup, while the connection stays usable. The copy is
// keyed with `password`, the key of the source.
void backup(sqlite3 *source, const QString &password, const QString &target);

// Throws unless `path` is a database that opens with `password` and holds every table of
// `tables` (names match regardless of case), and passes the engine's integrity check.
void checkOpens(const QString &path, const QString &password, const QStringList &tables);

// Rewrites the closed database file `path` without its free space. The compacted file is
// made beside it and replaces it only once it is whole. `beforeReplace`, when given, runs
// with the compacted file's path just before the replacement; an error it throws aborts
// the compaction like any other.
void compact(const QString &path, const QString &password,
    const std::function<void(const QString &compacted)> &beforeReplace = {});

// Puts `from` in place of `to` in one step: `to` is either the old or the new file, never
// missing or torn. Throws with the system's reason.
void replace(const QString &from, const QString &to);

// A temporary name beside `target`, for a file being made to replace it.
QString sideName(const QString &target);

} // namespace DatabaseFile
} // namespace dagl
