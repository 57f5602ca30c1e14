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
// step by triggers with every insert, change and delete; it is made when first needed.
namespace SearchIndex {

struct Spec {
    QString table;
    QStringList columns; // in the order their pieces are numbered
    bool isEmpty() const { return table.isEmpty() || columns.isEmpty(); }
};

// The distinct pieces of a text as the index keeps them: each two neighbouring characters,
// Latin letters in lower case (a like compares them without regard to case).
QStringList grams(const QString &text);

// Makes the pieces function known to a connection; every connection that may write the
// table needs it while the index exists.
void install(sqlite3 *db);
bool exists(sqlite3 *db);
// Makes the index and fills it from the rows there are, in one transaction; `progress`
// (rows done, rows in all) stops it, leaving nothing, by answering false. False when stopped.
// Throws dagl::Error.
bool build(Connection &connection, const Spec &spec, const std::function<bool(qint64, qint64)> &progress);
// Drops the index and its triggers.
void drop(Connection &connection);

// The condition of a select of the table with each `column like '...'` term of an indexed
// column joined by the rows holding the term's rarest piece; unchanged where the index is
// missing or no term allows it (a fragment of one character, wildcards only, an "or").
QString narrow(sqlite3 *db, const Spec &spec, const QString &table, const QString &where);

} // namespace SearchIndex
} // namespace dagl
