#pragma once

// The engine's C interface, with the codec (password) and column metadata calls declared.
#ifndef SQLITE_HAS_CODEC
#define SQLITE_HAS_CODEC 1
#endif
#ifndef SQLITE_ENABLE_COLUMN_METADATA
#define SQLITE_ENABLE_COLUMN_METADATA 1
#endif
#include <sqlcipher/sqlite3.h>

#include "Error.h"

#include <QString>
#include <QVariant>

namespace dagl {

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3 *db, const QString &sql); // throws dagl::Error
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *handle() const { return m_stmt; }
    void bind(int index, const QVariant &value); // index from 1
    bool step(); // true while a row is there; throws on error
    void reset();
    int columnCount() const;
    QVariant column(int index) const; // the stored value in its natural type

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// Runs a statement through to its end, whatever rows it gives. Throws dagl::Error.
void runStatement(sqlite3 *db, const QString &sql);

// A savepoint for one block of work, rolled back unless released, so that it works inside
// a caller's transaction too. Throws dagl::Error when it cannot be set or released.
class Savepoint {
public:
    Savepoint(sqlite3 *db, const QString &name);
    ~Savepoint();
    Savepoint(const Savepoint &) = delete;
    Savepoint &operator=(const Savepoint &) = delete;
    void release();

private:
    sqlite3 *m_db;
    QByteArray m_name;
    bool m_open = true;
};

QString sqliteError(sqlite3 *db);
// What an engine result code means for the operator; the system's errno behind an I/O
// failure (0 when none) makes it more precise.
Cause causeOfSqlite(int resultCode, int systemErrno = 0);
// The error to raise for a failed engine call on `db` (may be null) that returned
// `resultCode`: the cause in Chinese when it is known, else the engine's text, which is
// kept as the detail in every case.
Error sqliteFailure(sqlite3 *db, int resultCode);
QString quoteIdentifier(const QString &name);

} // namespace dagl
