#include "ServerRows.h"

#include "Error.h"
#include "PgConnection.h"
#include "PgRowWriter.h"
#include "PgSchema.h"
#include "RowWriter.h"
#include "SelectShape.h"

#include <optional>

namespace dagl {

namespace {

constexpr int kPageRows = 256; // keys asked for in one page statement
constexpr int kDeleteChunk = 10000; // keys deleted by one statement

// A table's name as written in a statement: "name", [name] or name, in the case the server keeps.
QString nameOf(const QString &written)
{
    QString name = written.trimmed();
    if (name.size() >= 2
        && ((name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
            || (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))))
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return name.toLower();
}

// The server's array literal of some keys, bound as one value.
QString keyArray(const QVector<qlonglong> &keys, qsizetype from, qsizetype to)
{
    QString text = QStringLiteral("{");
    for (qsizetype i = from; i < to; ++i) {
        if (i > from)
            text += QLatin1Char(',');
        text += QString::number(keys[i]);
    }
    return text + QLatin1Char('}');
}

// The columns of a result as the server describes them.
struct ResultShape
{
    explicit ResultShape(const PgRows &rows) : names(rows.columnNames())
    {
        for (int i = 0; i < rows.columnCount(); ++i) {
            types << rows.columnType(i);
            sources << rows.columnSource(i);
        }
    }
    QStringList names;
    QVector<unsigned> types;
    QVector<QPair<unsigned, int>> sources;
};

// What each result column is, from its `skip`th column on: a column of a table is named
// by the origin the server gives, a computed one by its type. Looked up once the rows are
// read, the connection being free again.
QVector<SourceColumn> columnsOf(const PgConnection &connection, const ResultShape &shape, int skip)
{
    QVector<SourceColumn> columns;
    for (int i = skip; i < shape.names.size(); ++i) {
        SourceColumn column;
        const QPair<QString, QString> origin = connection.columnOrigin(shape.sources[i].first, shape.sources[i].second);
        if (!origin.first.isEmpty()) {
            column.table = origin.first;
            column.origin = origin.second;
            column.def = connection.column(origin.first, origin.second);
        } else {
            column.def = PgConnection::fieldOfType(shape.names[i], shape.types[i]);
        }
        column.def.name = shape.names[i];
        columns.push_back(column);
    }
    return columns;
}

// A statement's whole result, read at once: the connection is free again before the
// columns' origins are looked up and before the cursor asks anything else.
class WholeResult : public ResultRows
{
public:
    WholeResult(PgConnection &connection, const QString &sql)
    {
        std::optional<ResultShape> shape;
        {
            PgRows rows(connection, sql, {}, true);
            shape.emplace(rows);
            while (rows.next()) {
                QVector<QVariant> row(rows.columnCount());
                for (int i = 0; i < row.size(); ++i)
                    row[i] = rows.value(i);
                m_rows.push_back(std::move(row));
            }
        }
        m_columns = columnsOf(connection, *shape, 0);
    }
    const QVector<SourceColumn> &columns() const override { return m_columns; }
    bool next() override { return ++m_at < m_rows.size(); }
    qlonglong key() const override { return 0; }
    QVariant value(int column) const override { return m_rows.at(m_at).value(column); }

private:
    QVector<SourceColumn> m_columns;
    QVector<QVector<QVariant>> m_rows;
    qsizetype m_at = -1;
};

// The rows of a page statement, their key first.
class PageStream : public RowStream
{
public:
    explicit PageStream(PgRows &rows) : m_rows(rows) {}
    bool next() override { return m_rows.next(); }
    qlonglong key() const override { return m_rows.value(0).toLongLong(); }
    QVariant value(int column) const override { return m_rows.value(column + 1); }

private:
    PgRows &m_rows;
};

class TableRows : public KeyedRowSource
{
public:
    static std::unique_ptr<TableRows> open(PgConnection &connection, const RowQuery &query)
    {
        SelectShape shape;
        if (!query.table.isEmpty()) {
            shape.plain = true;
            shape.selectList = QStringLiteral("*");
            shape.table = PgSchema::quotedName(query.table.toLower());
        } else {
            shape = SelectShape::of(connection.translate(query.sql));
        }
        if (!shape.plain)
            return nullptr;
        const QString table = nameOf(shape.table);
        const QString key = connection.keyColumn(table);
        if (key.isEmpty())
            return nullptr;
        // "*" is the table's own columns: the key kept for tables without an auto-number of
        // their own is not one of them.
        QString list = shape.selectList;
        if (list.trimmed() == QLatin1String("*")) {
            QStringList names;
            for (const FieldDef &column : connection.tableColumns(table)) {
                if (column.name != PgSchema::kRowKey)
                    names << PgSchema::quotedName(column.name);
            }
            list = names.join(QStringLiteral(", "));
        }
        const QString page = QStringLiteral("SELECT %1 AS __dagl_key, %2 FROM %3 WHERE %1 = ANY($1::bigint[])")
                                 .arg(PgSchema::quotedName(key), list, shape.table);
        // The page statement for no key gives no row, only its columns.
        std::optional<ResultShape> result;
        try {
            PgRows rows(connection, page, {QStringLiteral("{}")}, true);
            result.emplace(rows);
            while (rows.next()) { }
        } catch (const Error &) {
            return nullptr;
        }
        const QVector<SourceColumn> columns = columnsOf(connection, *result, 1);
        for (const SourceColumn &column : std::as_const(columns)) {
            if (column.origin.isEmpty() || column.table.compare(table, Qt::CaseInsensitive) != 0)
                return nullptr; // a computed column or another table's: the rows are read whole
        }
        return std::unique_ptr<TableRows>(new TableRows(connection, shape, table, key, page, columns));
    }

    const QVector<SourceColumn> &columns() const override { return m_columns; }
    const QString &table() const override { return m_table; }
    bool wholeTable() const override { return m_shape.where.isEmpty(); }
    QString keyStatement() const override { return m_keySql; }
    QString soonestKeyStatement() const override { return m_keySql; }

    void setOrder(const QString &column, bool, bool descending) override
    {
        // Text columns sort in pinyin order through their collation; ties in key order, so
        // that a page read again finds its rows where they were.
        m_orderedKeySql = column.isEmpty()
            ? m_keySql
            : QStringLiteral("SELECT %1 %2 ORDER BY %3%4, %1")
                  .arg(PgSchema::quotedName(m_key), m_from, PgSchema::quotedName(column.toLower()),
                      descending ? QStringLiteral(" DESC NULLS LAST") : QStringLiteral(" NULLS FIRST"));
    }

    QVector<qlonglong> readKeys() override
    {
        QVector<qlonglong> keys;
        keys.reserve(std::max(m_keysRead, qsizetype(1024)));
        PgRows rows(m_connection, m_orderedKeySql, {}, true);
        while (rows.next())
            keys.push_back(rows.value(0).toLongLong());
        m_keysRead = keys.size();
        return keys;
    }

    void fetch(const QVector<qlonglong> &keys, const std::function<void(const RowStream &row)> &take) override
    {
        for (qsizetype from = 0; from < keys.size(); from += kPageRows) {
            const qsizetype to = std::min(keys.size(), from + kPageRows);
            PgRows rows(m_connection, m_pageSql, {keyArray(keys, from, to)}, true);
            PageStream stream(rows);
            while (stream.next())
                take(stream);
        }
    }

    // A stream would hold the connection while the cursor reads other things: rows are
    // fetched by key instead.
    std::unique_ptr<RowStream> rowsInOrder() override { return nullptr; }

private:
    TableRows(PgConnection &connection, const SelectShape &shape, const QString &table, const QString &key,
        const QString &page, const QVector<SourceColumn> &columns)
        : m_connection(connection)
        , m_shape(shape)
        , m_table(table)
        , m_key(key)
        , m_pageSql(page)
        , m_columns(columns)
        , m_from(QStringLiteral("FROM ") + shape.table
              + (shape.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + shape.where))
    {
        m_keySql = QStringLiteral("SELECT %1 %2 ORDER BY %3")
                       .arg(PgSchema::quotedName(key), m_from,
                           shape.orderBy.isEmpty() ? PgSchema::quotedName(key) : shape.orderBy + QStringLiteral(", ") + PgSchema::quotedName(key));
        m_orderedKeySql = m_keySql;
    }

    PgConnection &m_connection;
    SelectShape m_shape;
    QString m_table;
    QString m_key;
    QString m_pageSql;
    QVector<SourceColumn> m_columns;
    QString m_from; // "FROM table [WHERE ...]"
    QString m_keySql; // the keys in the statement's own order
    QString m_orderedKeySql; // the keys in the present order
    qsizetype m_keysRead = 0;
};

WriteOutcome outcomeOf(PgWriteOutcome outcome)
{
    switch (outcome) {
    case PgWriteOutcome::Done:
        break;
    case PgWriteOutcome::ChangedByOther:
        return WriteOutcome::ChangedByOther;
    case PgWriteOutcome::DeletedByOther:
        return WriteOutcome::DeletedByOther;
    }
    return WriteOutcome::Done;
}

WriteResult resultOf(const PgWriteResult &written)
{
    WriteResult result;
    result.outcome = outcomeOf(written.outcome);
    result.key = written.row.key;
    result.message = written.message;
    result.readAgain = written.done();
    return result;
}

// The cursor's writes through PgRowWriter: its columns mapped to the writer's, and every
// save and delete checked against the row as the cursor read it.
class TableWriter : public RowWriter
{
public:
    TableWriter(PgConnection &connection, const QString &table, const QStringList &columns)
        : m_connection(connection), m_writer(connection, table.toLower())
    {
        for (const QString &column : columns) {
            m_names << column;
            m_places << (column.compare(m_writer.keyColumn(), Qt::CaseInsensitive) == 0
                    ? kKey : m_writer.columnIndex(column));
        }
    }

    WriteResult insert(const QVector<ColumnValue> &values) override
    {
        m_lost.reset();
        const QVariantMap map = valueMap(values);
        try {
            return resultOf(m_writer.insert(map));
        } catch (const Error &error) {
            if (error.cause() == Cause::ConnectionLost && m_writer.lastKey() > 0)
                m_lost = LostWrite{ m_writer.lastKey(), {} }; // the key was taken for this row alone
            throw;
        }
    }

    WriteResult update(const RowImage &asRead, const QVector<ColumnValue> &changes) override
    {
        m_lost.reset();
        try {
            return updateRow(asRead, changes);
        } catch (const Error &error) {
            if (error.cause() == Cause::ConnectionLost)
                m_lost = LostWrite{ asRead.key, valueMap(changes) };
            throw;
        }
    }

    bool lostWriteStored(qlonglong &key) override
    {
        if (!m_lost)
            return false;
        const LostWrite lost = *m_lost;
        const bool stored = m_writer.holds(lost.key, lost.values);
        m_lost.reset();
        key = lost.key;
        return stored;
    }

private:
    WriteResult updateRow(const RowImage &asRead, const QVector<ColumnValue> &changes)
    {
        if (asRead.values.isEmpty()) {
            // Nothing held to check against: the row as it is now.
            const PgRowImage now = m_writer.read(asRead.key);
            if (!now.isValid())
                return resultOf(refusal(PgWriteOutcome::DeletedByOther, PgRowWriter::Action::Save));
            return resultOf(m_writer.update(now, valueMap(changes)));
        }
        return resultOf(m_writer.update(imageOf(asRead), valueMap(changes)));
    }

public:
    WriteResult remove(const RowImage &asRead) override
    {
        return resultOf(asRead.values.isEmpty() ? m_writer.remove(asRead.key) : m_writer.remove(imageOf(asRead)));
    }

    QVector<qlonglong> removeRows(const QVector<RowImage> &rows, bool) override
    {
        // Every row the cursor holds is deleted only if unchanged; the others by key, many
        // at once. Another workstation's new rows are never among them.
        QVector<qlonglong> gone, unheld;
        PgTransaction transaction(m_connection);
        for (const RowImage &row : rows) {
            if (row.values.isEmpty()) {
                unheld << row.key;
            } else if (m_writer.remove(imageOf(row)).done()) {
                gone << row.key;
            }
        }
        const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 = ANY($1::bigint[]) RETURNING %2")
                                .arg(PgSchema::quotedName(m_writer.table()), PgSchema::quotedName(m_writer.keyColumn()));
        for (qsizetype from = 0; from < unheld.size(); from += kDeleteChunk) {
            const qsizetype to = std::min(unheld.size(), from + kDeleteChunk);
            PgRows deleted(m_connection, sql, {keyArray(unheld, from, to)}, true);
            while (deleted.next())
                gone << deleted.value(0).toLongLong();
        }
        transaction.commit();
        return gone;
    }

private:
    static PgWriteResult refusal(PgWriteOutcome outcome, PgRowWriter::Action action)
    {
        PgWriteResult result;
        result.outcome = outcome;
        result.message = PgRowWriter::message(outcome, action);
        return result;
    }

    QVariantMap valueMap(const QVector<ColumnValue> &values) const
    {
        QVariantMap map;
        for (const ColumnValue &value : values) {
            if (m_places.value(value.column) != kKey) // a column the table lacks: the writer names it
                map.insert(m_names.value(value.column), value.value);
        }
        return map;
    }

    PgRowImage imageOf(const RowImage &asRead) const
    {
        PgRowImage image;
        image.key = asRead.key;
        for (int i = 0; i < asRead.values.size() && i < m_places.size(); ++i) {
            if (m_places[i] < 0)
                continue;
            image.values << asRead.values[i];
            image.columns << m_places[i];
        }
        return image;
    }

    // An insert or an update whose answer a lost connection swallowed: its row and values.
    struct LostWrite
    {
        qlonglong key = 0;
        QVariantMap values;
    };
    PgConnection &m_connection;
    PgRowWriter m_writer;
    std::optional<LostWrite> m_lost;
    QStringList m_names;
    static constexpr int kKey = -2;
    QVector<int> m_places; // each cursor column's place among the writer's; kKey, or -1 for none
};

class ServerDriver : public RowDriver
{
public:
    explicit ServerDriver(PgConnection &connection) : m_connection(connection) {}

    std::unique_ptr<KeyedRowSource> keyedRows(const RowQuery &query) override
    {
        return TableRows::open(m_connection, query);
    }

    std::unique_ptr<ResultRows> wholeResult(const RowQuery &query) override
    {
        const QString sql = query.table.isEmpty() ? m_connection.translate(query.sql)
                                                  : QStringLiteral("SELECT * FROM %1").arg(PgSchema::quotedName(query.table.toLower()));
        return std::make_unique<WholeResult>(m_connection, sql);
    }

    std::unique_ptr<RowWriter> writer(const QString &table, const QStringList &columns) override
    {
        return std::make_unique<TableWriter>(m_connection, table, columns);
    }

private:
    PgConnection &m_connection;
};

} // namespace

std::unique_ptr<RowDriver> serverRowDriver(PgConnection &connection)
{
    return std::make_unique<ServerDriver>(connection);
}

} // namespace dagl
