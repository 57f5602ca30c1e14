#pragma once

#include "Field.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

namespace dagl {

class RowWriter;

// What the cursor reads its rows through, so that it does not depend on the server that
// holds them. Values come as stored (the cursor turns them into its fields' types); every
// failure throws dagl::Error.

// A result column: its field as the result gives it (named as the result names it) and,
// when it is a column of a table rather than computed, that table and the column's name there.
struct SourceColumn
{
    FieldDef def;
    QString table;
    QString origin;
};

// Rows read forward one at a time, in the order their statement gives them. Values by
// column, in the order of their source's columns.
class RowStream
{
public:
    virtual ~RowStream() = default;
    virtual bool next() = 0; // false after the last row
    virtual qlonglong key() const = 0; // of a keyed row; 0 otherwise
    virtual QVariant value(int column) const = 0;
};

// A statement's whole result, read at once; it names no row of a table, so it is read-only.
class ResultRows : public RowStream
{
public:
    virtual const QVector<SourceColumn> &columns() const = 0;
};

// The rows of one table (all of them, or those of a plain select of it), read lazily: their
// keys first, in the result's order, then the rows themselves by key, a page at a time.
// A key names its row for as long as the row exists.
class KeyedRowSource
{
public:
    virtual ~KeyedRowSource() = default;
    virtual const QVector<SourceColumn> &columns() const = 0;
    // The table the rows are written to.
    virtual const QString &table() const = 0;
    // Every row of the table, no condition.
    virtual bool wholeTable() const = 0;

    // The statement of the keys in the result's own order, and the same shaped to give its
    // first keys soonest, for a reader of keys apart (Dataset::KeyReader).
    virtual QString keyStatement() const = 0;
    virtual QString soonestKeyStatement() const = 0;
    // Puts the keys in a column's order (`column` as the table names it; `text` whether it
    // holds text, sorted in the operator's order), or back in the result's own for none.
    virtual void setOrder(const QString &column, bool text, bool descending) = 0;
    // Every key in the present order.
    virtual QVector<qlonglong> readKeys() = 0;
    // The rows of some keys, each handed to `take` as it is read (in no given order); a key
    // whose row is gone gives nothing.
    virtual void fetch(const QVector<qlonglong> &keys, const std::function<void(const RowStream &row)> &take) = 0;
    // Every row with its key in the present order, for reading a result front to back; null
    // when there is no such statement (the rows are then fetched by key).
    virtual std::unique_ptr<RowStream> rowsInOrder() = 0;
};

// What a dataset reads: a whole table, or a statement in the program's dialect.
struct RowQuery
{
    QString table;
    QString sql;
    bool soonest = false; // the keys are read apart: shape a statement for the first of them
};

// The sources and writers of one connection's server.
class RowDriver
{
public:
    virtual ~RowDriver() = default;
    // Null when the query is not a plain select of one table's columns: it is then read whole.
    virtual std::unique_ptr<KeyedRowSource> keyedRows(const RowQuery &query) = 0;
    virtual std::unique_ptr<ResultRows> wholeResult(const RowQuery &query) = 0;
    // Writes rows of `table`; `columns` are the table's columns a cursor's values come from,
    // in the order of the values it passes (see RowWriter).
    virtual std::unique_ptr<RowWriter> writer(const QString &table, const QStringList &columns) = 0;
};

} // namespace dagl
