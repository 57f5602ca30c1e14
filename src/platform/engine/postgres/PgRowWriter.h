#pragma once

#include "Field.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QVector>

namespace dagl {

class PgConnection;

// A row as this workstation read it: its key and the value of every other column, in
// PgRowWriter::columns() order. The cursor keeps one per row it may save or delete; a save
// replaces it with the row the server returned.
struct PgRowImage {
    qlonglong key = 0;
    QVariantList values;
    // The places in columns() the values are of, when the reader held only some columns;
    // empty: every column, in order. Only the columns held are checked.
    QVector<int> columns;
    bool isValid() const { return key > 0; }
};

enum class PgWriteOutcome {
    Done,
    ChangedByOther, // another workstation changed the row since it was read: nothing written
    DeletedByOther, // another workstation deleted it: nothing written
};

struct PgWriteResult {
    PgWriteOutcome outcome = PgWriteOutcome::Done;
    PgRowImage row; // the row as stored after an insert or a save; empty otherwise
    // What the editor or the list tells the operator, empty when done. The caller keeps
    // the operator's typed values.
    QString message;
    bool done() const { return outcome == PgWriteOutcome::Done; }
};

// Writes single rows of one table of the catalogue on the server, several workstations at
// once, so that no workstation overwrites what another wrote since it read the row.
//
// "Unchanged since read" compares the values read: a save or a checked delete names the row
// by its key and by every column as it was read (IS NOT DISTINCT FROM, so nulls match),
// and the server re-checks them on the newest version of the row when another transaction
// wrote it meanwhile. The row's xmin is not used: it changes on any update, a no-op one
// too (an editor saving unchanged values, an import rewriting the unit columns), and on
// every row a restore or a copy writes, so it would refuse saves that lose nothing; and
// it would be a hidden column every page of the cursor reads. The values are what the
// cursor holds for the row anyway.
//
// Only bound parameters reach the server; names come from the server's own catalogue.
// Failures other than a conflict (a value the column cannot take, a duplicate, a lost
// connection) throw dagl::Error.
class PgRowWriter {
public:
    enum class Action { Save, Delete };

    // Throws dagl::Error when the table does not exist or has no key column.
    PgRowWriter(PgConnection &connection, const QString &table);

    const QString &table() const { return m_table; }
    const QString &keyColumn() const { return m_key; }
    // The columns of an image, the key excluded, in table order.
    const QVector<FieldDef> &columns() const { return m_columns; }
    int columnIndex(const QString &name) const; // regardless of case; -1 when none

    // The statement that reads rows as images (key first, then columns()), for the
    // cursor's pages; `where` is appended as it stands (the cursor binds its own values).
    QString selectStatement(const QString &where = {}) const;
    // An image from a row read with selectStatement(): value 0 is the key.
    PgRowImage imageOf(const QVariantList &row) const;
    // The row of that key as it is now; an invalid image when there is none.
    PgRowImage read(qlonglong key);

    // Inserts a row of the given column values (the others take their defaults); the
    // result's row carries the key the server gave. The key is taken from the server before
    // the row is sent (lastKey()), so that a row whose answer a lost connection swallowed
    // can be looked for by it.
    PgWriteResult insert(const QVariantMap &values);
    qlonglong lastKey() const { return m_lastKey; }
    // Whether the row of that key holds those column values now (all of them, none when
    // empty: whether the row exists).
    bool holds(qlonglong key, const QVariantMap &values);
    // Writes the changed columns of the row read as `asRead`, when it is unchanged since.
    PgWriteResult update(const PgRowImage &asRead, const QVariantMap &changes);
    // Deletes the row of that key; DeletedByOther when it is already gone.
    PgWriteResult remove(qlonglong key);
    // Deletes the row read as `asRead` when it is unchanged since; ChangedByOther or
    // DeletedByOther otherwise.
    PgWriteResult remove(const PgRowImage &asRead);

    // The operator's message for an outcome of a save or a delete; empty for Done.
    static QString message(PgWriteOutcome outcome, Action action);

private:
    struct Bound {
        int column;
        QVariant value;
    };
    QVector<Bound> boundValues(const QVariantMap &values) const;
    QVariant columnValue(int column, const QVariant &value) const;
    QString matchAsRead(const PgRowImage &asRead, QVariantList &params) const;
    PgWriteOutcome missedOutcome(qlonglong key);
    PgWriteResult refused(PgWriteOutcome outcome, Action action) const;
    PgWriteResult stored(const QString &sql, const QVariantList &params);

    PgConnection &m_connection;
    QString m_table;
    QString m_key;
    QVector<FieldDef> m_columns;
    QString m_returning; // "RETURNING key, columns..."
    qlonglong m_lastKey = 0; // taken for the last insert
};

} // namespace dagl
