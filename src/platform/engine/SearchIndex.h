#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct sqlite3;

namespace dagl {

class Connection;

// An index of the two-character pieces of some text columns of a table, so that a search
// for a fragment ("tm like '%会议%'") reads only the rows that hold its rarest piece instead
// of every row. The condition itself still decides, so the rows and their order are exactly
// those of the plain statement. The index lives in a table of its own, `dagl_ngram`, kept in
// step by triggers with every insert, change and delete; it is made when first needed. The
// triggers use the engine's own functions only, so any tool that opens the file can write it.
namespace SearchIndex {

struct Spec {
    QString table;
    QStringList columns; // in the order their pieces are numbered
    bool isEmpty() const { return table.isEmpty() || columns.isEmpty(); }
};

// The distinct pieces of a text as the index keeps them: each two neighbouring characters
// (as the engine counts characters), Latin letters in lower case (a like compares them
// without regard to case).
QStringList grams(const QString &text);

// Makes known to a connection the function the triggers of earlier versions call, so that a
// catalogue still carrying them can be written until upgrade() replaces them.
void install(sqlite3 *db);

// Missing: no index (or a broken one); Outdated: made by an earlier version, with triggers
// only the program can run; Current: in use.
enum class State { Missing, Outdated, Current };
State state(sqlite3 *db);
bool exists(sqlite3 *db); // Current
// Makes the index and fills it from the rows there are, in one savepoint; `progress`
// (rows done, rows in all) stops it, leaving nothing, by answering false. False when stopped.
// Throws dagl::Error.
bool build(Connection &connection, const Spec &spec, const std::function<bool(qint64, qint64)> &progress);
bool build(sqlite3 *db, const Spec &spec, const std::function<bool(qint64, qint64)> &progress);
// Replaces an earlier version's triggers by the current ones, keeping the pieces; nothing
// for any other state. Throws dagl::Error.
void upgrade(sqlite3 *db, const Spec &spec);
// Drops the index and its triggers.
void drop(Connection &connection);

// The condition of a select of the table with each `column like '...'` term of an indexed
// column joined by the rows holding the term's rarest piece; unchanged where the index is
// missing or no term allows it (a fragment of one character, wildcards only, an "or").
// When every such piece is held by too many rows to sort them quickly, `*walkWhere` gets the
// same condition checking each row against those pieces instead of fetching the rows holding
// them, for walking an index in the result's order; otherwise it is emptied.
QString narrow(sqlite3 *db, const Spec &spec, const QString &table, const QString &where, QString *walkWhere = nullptr);

} // namespace SearchIndex
} // namespace dagl
