#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct sqlite3;

namespace dagl {

// Text columns kept in the operator's order (see Collation) for a title click on the whole
// table: each row's sort key in a table of its own with an index on the key, so the engine
// walks the index instead of sorting every row. The engine cannot compute the keys, and an
// index naming the program's order would stop every other tool from writing the table; so
// triggers of the engine's own functions only note the rows changed in a queue, and the
// program brings the keys up to date before it sorts.
namespace SortKeys {

struct Spec {
    QString table;
    QStringList columns;
    bool covers(const QString &table, const QString &column) const;
};

// The table of a column's keys.
QString keyTable(const QString &column);
bool exists(sqlite3 *db, const QString &column);
// Makes the column's keys for the rows there are, in one savepoint; `progress` (rows done,
// rows in all) stops it, leaving nothing, by answering false. False when stopped. Throws
// dagl::Error.
bool build(
    sqlite3 *db, const QString &table, const QString &column, const std::function<bool(qint64, qint64)> &progress = {});
// Takes in the rows changed since the keys were last brought up to date. Throws dagl::Error.
void refresh(sqlite3 *db, const QString &table, const QString &column);
// The statements of the rows' keys, and of the rows themselves beside their keys, in the
// column's order, the keys being up to date: "SELECT rowid <from>" and "SELECT rowid, ... <from>".
QString keyStatement(const QString &column, bool descending);
QString rowsFrom(const QString &table, const QString &column, bool descending);
// Drops the indexes of the table that name the program's order (made by earlier versions),
// which tools without it cannot keep up. Throws dagl::Error.
void upgrade(sqlite3 *db, const Spec &spec);
void drop(sqlite3 *db, const QString &table, const QString &column);

} // namespace SortKeys
} // namespace dagl
