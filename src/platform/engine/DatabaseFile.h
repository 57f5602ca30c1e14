#pragma once

#include "Error.h"

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

// How far a long operation is: told `done` of `total` (bytes or pages; a total of 0 when
// unknown) as it goes; returns false to stop it.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Thrown when a Progress stopped the work; the target is then as it was.
class Stopped : public Error {
public:
    Stopped()
        : Error(QStringLiteral("操作已取消。"))
    {
    }
};

// Copies the database of an open connection, as it stands, to `target` (replaced when it
// exists) with the engine's online backup, while the connection stays usable. The copy is
// keyed with `password`, the key of the source.
void backup(sqlite3 *source, const QString &password, const QString &target, const Progress &progress = {});

// Throws unless `path` is a database that opens with `password` and holds every table of
// `tables` (names match regardless of case), and passes the engine's integrity check.
void checkOpens(const QString &path, const QString &password, const QStringList &tables);

// Rewrites the closed database file `path` without its free space. The compacted file is
// made beside it and replaces it only once it is whole. `beforeReplace`, when given, runs
// with the compacted file's path just before the replacement; an error it throws aborts
// the compaction like any other.
void compact(const QString &path, const QString &password,
    const std::function<void(const QString &compacted)> &beforeReplace = {}, const Progress &progress = {});

// Puts `from` in place of `to` in one step: `to` is either the old or the new file, never
// missing or torn. Throws with the system's reason.
void replace(const QString &from, const QString &to);

// A temporary name beside `target`, for a file being made to replace it.
QString sideName(const QString &target);

// The file a compaction of `database` is made in, beside it.
QString compactionName(const QString &database);

// Removes what a copy or a compaction cut short (the program killed, the power gone) left
// beside `database`: the half-made copy, the compacted file, and their journals. Only for
// when no other copy of the program is at work on the database. Returns what it removed.
QStringList removeLeftovers(const QString &database);

// The same for a folder that copies are made in: every half-made copy in it and its journal.
QStringList removePartialCopies(const QString &folder, const QString &nameFilter = QStringLiteral("*"));

} // namespace DatabaseFile
} // namespace dagl
