#include "SqliteRows.h"

#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "RowWriter.h"
#include "SearchIndex.h"
#include "SelectShape.h"
#include "SortKeys.h"
#include "Sqlite.h"

#include <QHash>
#include <QScopeGuard>

#include <algorithm>

namespace dagl {

namespace {

const QString kKeyAlias = QStringLiteral("__dagl_key");
constexpr int kPageRows = 256; // keys bound to one page statement
constexpr int kLargeBatch = 16 * kPageRows; // rows deleted at once that want a larger page cache

// What each result column of a statement is, from its `skip`th column on.
QVector<SourceColumn> columnsOf(const Connection &connection, const Statement &statement, int skip)
{
    sqlite3_stmt *stmt = statement.handle();
    QVector<SourceColumn> columns;
    for (int i = skip; i < statement.columnCount(); ++i) {
        SourceColumn column;
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char *table = sqlite3_column_table_name(stmt, i);
        const char *origin = sqlite3_column_origin_name(stmt, i);
        if (table && origin) {
            column.table = QString::fromUtf8(table);
            column.origin = QString::fromUtf8(origin);
            column.def = connection.column(column.table, column.origin);
        } else {
            const char *declared = sqlite3_column_decltype(stmt, i);
            column.def = fieldFromDeclaredType(name, QString::fromUtf8(declared ? declared : ""), false);
        }
        column.def.name = name;
        columns.push_back(column);
    }
    return columns;
}

// The rows of a statement whose first column is the row id, stepped forward.
class KeyedStream : public RowStream
{
public:
    explicit KeyedStream(Statement &statement) : m_statement(statement) {}
    explicit KeyedStream(std::unique_ptr<Statement> statement) : m_owned(std::move(statement)), m_statement(*m_owned) {}
    bool next() override { return m_statement.step(); }
    qlonglong key() const override { return sqlite3_column_int64(m_statement.handle(), 0); }
    QVariant value(int column) const override { return m_statement.column(column + 1); }

private:
    std::unique_ptr<Statement> m_owned;
    Statement &m_statement;
};

class WholeStatement : public ResultRows
{
public:
    WholeStatement(Connection &connection, const QString &sql)
        : m_statement(connection.handle(), sql), m_columns(columnsOf(connection, m_statement, 0))
    {
    }
    const QVector<SourceColumn> &columns() const override { return m_columns; }
    bool next() override { return m_statement.step(); }
    qlonglong key() const override { return 0; }
    QVariant value(int column) const override { return m_statement.column(column); }

private:
    Statement m_statement;
    QVector<SourceColumn> m_columns;
};

// The statement of the keys shaped to give its first keys soonest: when the rows that may
// match are too many to sort at once, an index in the statement's order is walked and each of
// its rows checked, so the first keys come at once. Only where the engine does walk such an
// index; otherwise the statement of the keys as it is.
QString soonestKeys(sqlite3 *db, const SelectShape &shape, const QString &walkWhere, const QString &keySql)
{
    if (walkWhere.isEmpty() || shape.orderBy.isEmpty())
        return keySql;
    SelectShape walking = shape;
    walking.where = walkWhere;
    const QString sql = walking.keyStatement(SelectShape::AsWritten);
    try {
        Statement plan(db, QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
        while (plan.step()) {
            if (plan.column(3).toString().contains(QLatin1String("ORDER BY")))
                return keySql; // sorted, not walked
        }
    } catch (const Error &) {
        return keySql;
    }
    return sql;
}

class TableRows : public KeyedRowSource
{
public:
    // Null when the rows cannot be read by key: not a plain select, or a computed column.
    static std::unique_ptr<TableRows> open(Connection &connection, const RowQuery &query)
    {
        sqlite3 *db = connection.handle();
        SelectShape shape;
        QString walkWhere; // the condition for walking an index in the statement's order
        if (!query.table.isEmpty()) {
            shape.plain = true;
            shape.selectList = QStringLiteral("*");
            shape.table = quoteIdentifier(query.table);
        } else {
            shape = SelectShape::of(connection.translate(query.sql));
            // Fragments searched through the index read only the rows that may hold them.
            if (shape.plain && !shape.where.isEmpty())
                shape.where = SearchIndex::narrow(
                    db, connection.searchIndex(), shape.table, shape.where, query.soonest ? &walkWhere : nullptr);
        }
        if (!shape.plain)
            return nullptr;
        // The rows are fetched a page at a time from this statement, which yields the same
        // columns as the statement itself.
        QStringList marks;
        for (int i = 0; i < kPageRows; ++i)
            marks << QStringLiteral("?");
        std::unique_ptr<Statement> page;
        try {
            page = std::make_unique<Statement>(
                db, QStringLiteral("SELECT rowid AS %1, %2 FROM %3 WHERE rowid IN (%4)")
                        .arg(kKeyAlias, shape.selectList, shape.table, marks.join(QLatin1Char(','))));
        } catch (const Error &) {
            return nullptr;
        }
        const QVector<SourceColumn> columns = columnsOf(connection, *page, 1);
        QString base;
        for (const SourceColumn &column : columns) {
            if (column.origin.isEmpty() || (!base.isEmpty() && base.compare(column.table, Qt::CaseInsensitive) != 0))
                return nullptr; // a computed column: the rows are read whole
            base = column.table;
        }
        return std::unique_ptr<TableRows>(new TableRows(
            connection, shape, walkWhere, std::move(page), columns, query.table.isEmpty() ? base : query.table));
    }

    const QVector<SourceColumn> &columns() const override { return m_columns; }
    const QString &table() const override { return m_table; }
    bool wholeTable() const override { return m_shape.where.isEmpty(); }
    QString keyStatement() const override { return m_keySql; }
    QString soonestKeyStatement() const override
    {
        return soonestKeys(m_connection.handle(), m_shape, m_walkWhere, m_keySql);
    }

    void setOrder(const QString &column, bool text, bool descending) override
    {
        m_orderedRowsFrom.clear();
        m_orderedKeySql = column.isEmpty() ? m_keySql : orderedKeyStatement(column, text, descending);
    }

    QVector<qlonglong> readKeys() override
    {
        Statement keys(m_connection.handle(), m_orderedKeySql);
        QVector<qlonglong> read;
        read.reserve(std::max(m_keysRead, qsizetype(1024)));
        sqlite3_stmt *stmt = keys.handle();
        while (keys.step())
            read.push_back(sqlite3_column_int64(stmt, 0));
        m_keysRead = read.size();
        return read;
    }

    void fetch(const QVector<qlonglong> &keys, const std::function<void(const RowStream &row)> &take) override
    {
        Statement &page = *m_page;
        KeyedStream rows(page);
        for (qsizetype from = 0; from < keys.size(); from += kPageRows) {
            page.reset();
            const qsizetype to = std::min(keys.size(), from + kPageRows);
            for (qsizetype i = from; i < to; ++i)
                page.bind(int(i - from) + 1, keys[i]);
            while (rows.next())
                take(rows);
            page.reset();
        }
    }

    std::unique_ptr<RowStream> rowsInOrder() override
    {
        // The statement the keys came from, giving the row's columns beside its key.
        const QString keyHead = QStringLiteral("SELECT rowid ");
        QString from = m_orderedRowsFrom;
        if (from.isEmpty() && m_orderedKeySql.startsWith(keyHead))
            from = m_orderedKeySql.mid(keyHead.size());
        if (from.isEmpty())
            return nullptr;
        // Only the table's own columns, whatever else the statement reads.
        const QString table = quoteIdentifier(m_table);
        const QString list = m_shape.selectList.trimmed() == QLatin1String("*") ? table + QStringLiteral(".*")
                                                                                : m_shape.selectList;
        const QString sql = QStringLiteral("SELECT %1.rowid AS %2, %3 %4").arg(table, kKeyAlias, list, from);
        try {
            return std::make_unique<KeyedStream>(std::make_unique<Statement>(m_connection.handle(), sql));
        } catch (const Error &) {
            return nullptr; // looked up by key instead
        }
    }

private:
    TableRows(Connection &connection, const SelectShape &shape, const QString &walkWhere,
        std::unique_ptr<Statement> page, const QVector<SourceColumn> &columns, const QString &table)
        : m_connection(connection)
        , m_shape(shape)
        , m_walkWhere(walkWhere)
        , m_page(std::move(page))
        , m_columns(columns)
        , m_table(table)
        , m_keySql(shape.keyStatement(SelectShape::SortMatches))
        , m_orderedKeySql(m_keySql)
        , m_keyFrom(QStringLiteral("FROM ") + shape.table
              + (shape.where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + shape.where))
    {
    }

    bool needsCollation(const QString &column) const
    {
        // Text of digits, capitals and signs sorts the same by its bytes, which lets the engine
        // walk an index instead of sorting; any other character needs the operator's order.
        Statement probe(m_connection.handle(), QStringLiteral("SELECT 1 FROM %1 WHERE %2 GLOB '*[^ -`{-~]*' LIMIT 1")
                                                   .arg(quoteIdentifier(m_table), column));
        return probe.step();
    }

    QString orderedKeyStatement(const QString &name, bool text, bool descending)
    {
        const QString column = quoteIdentifier(name);
        // The whole table in a column with kept keys: their index is walked.
        const SortKeys::Spec &kept = m_connection.sortKeys();
        sqlite3 *db = m_connection.handle();
        if (wholeTable() && kept.covers(m_table, name) && SortKeys::exists(db, name)) {
            try {
                SortKeys::refresh(db, kept.table, name);
                m_orderedRowsFrom = SortKeys::rowsFrom(quoteIdentifier(m_table), name, descending);
                return SortKeys::keyStatement(name, descending);
            } catch (const Error &) {
                // Keys that cannot be brought up to date now (a read-only file): the rows are sorted.
            }
        }
        // A filtered result sorts its matches: walking an index of the whole table to pick out a
        // few rows costs far more.
        QString sql = QStringLiteral("SELECT rowid ") + m_keyFrom + QStringLiteral(" ORDER BY ")
            + (wholeTable() ? QString() : QStringLiteral("+")) + column;
        if (text && needsCollation(column))
            sql += QStringLiteral(" COLLATE ") + QLatin1String(Collation::kName);
        if (descending)
            sql += QStringLiteral(" DESC");
        m_orderedRowsFrom.clear();
        return sql;
    }

    Connection &m_connection;
    SelectShape m_shape;
    QString m_walkWhere;
    std::unique_ptr<Statement> m_page;
    QVector<SourceColumn> m_columns;
    QString m_table;
    QString m_keySql; // the keys in the statement's own order
    QString m_orderedKeySql; // the keys in the present order
    QString m_keyFrom; // "FROM table [WHERE ...]" for reading the keys in another order
    QString m_orderedRowsFrom; // what follows the columns in the statement of the rows in that order
    qsizetype m_keysRead = 0;
};

class TableWriter : public RowWriter
{
public:
    TableWriter(Connection &connection, const QString &table, const QStringList &columns)
        : m_connection(connection), m_table(quoteIdentifier(table))
    {
        for (const QString &column : columns)
            m_columns << quoteIdentifier(column);
    }

    WriteResult insert(const QVector<ColumnValue> &values) override
    {
        sqlite3 *db = m_connection.handle();
        QString sql;
        if (values.isEmpty()) {
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_table);
        } else {
            QStringList names, marks;
            for (const ColumnValue &value : values) {
                names << m_columns.at(value.column);
                marks << QStringLiteral("?");
            }
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(m_table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        }
        // Rows of the same shape (a batch import) share one prepared statement.
        if (sql != m_insertSql || !m_insert) {
            m_insert.reset();
            m_insert = std::make_unique<Statement>(db, sql);
            m_insertSql = sql;
        }
        Statement &insert = *m_insert;
        insert.reset();
        for (int i = 0; i < values.size(); ++i)
            insert.bind(i + 1, values[i].value);
        insert.step();
        insert.reset();
        WriteResult result;
        result.key = sqlite3_last_insert_rowid(db);
        return result;
    }

    WriteResult update(const RowImage &asRead, const QVector<ColumnValue> &changes) override
    {
        if (changes.isEmpty())
            return {};
        sqlite3 *db = m_connection.handle();
        QStringList sets;
        for (const ColumnValue &change : changes)
            sets << m_columns.at(change.column) + QStringLiteral("=?");
        Statement update(db, QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?").arg(m_table, sets.join(QLatin1Char(','))));
        for (int i = 0; i < changes.size(); ++i)
            update.bind(i + 1, changes[i].value);
        update.bind(int(changes.size()) + 1, asRead.key);
        update.step();
        return outcome(db);
    }

    WriteResult remove(const RowImage &asRead) override
    {
        Statement remove(m_connection.handle(), QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(m_table));
        remove.bind(1, asRead.key);
        remove.step();
        return outcome(m_connection.handle());
    }

    QVector<qlonglong> removeRows(const QVector<RowImage> &rows, bool everyRow) override
    {
        // In key order the rows are met in the order the file holds them.
        QVector<qlonglong> keys;
        keys.reserve(rows.size());
        for (const RowImage &row : rows)
            keys << row.key;
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        sqlite3 *db = m_connection.handle();
        // Each row leaves every index of its table: a larger page cache for the batch keeps
        // the indexes' pages at hand instead of reading and writing them again and again.
        const bool large = rows.size() > kLargeBatch;
        if (large)
            sqlite3_exec(db, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
        const auto restore = qScopeGuard([&] {
            if (large)
                sqlite3_exec(db, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr);
        });
        QVector<qlonglong> gone;
        Transaction transaction(m_connection);
        if (everyRow) {
            // Every row of the whole table chosen: the engine empties it in one step.
            Statement count(db, QStringLiteral("SELECT count(*) FROM ") + m_table);
            count.step();
            if (count.column(0).toLongLong() == keys.size()) {
                Statement(db, QStringLiteral("DELETE FROM %1").arg(m_table)).step();
                gone = keys;
                keys.clear();
            }
        }
        Statement remove(db, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(m_table));
        for (const qlonglong key : std::as_const(keys)) {
            remove.bind(1, key);
            remove.step();
            if (sqlite3_changes(db) > 0)
                gone.push_back(key);
            remove.reset();
        }
        transaction.commit();
        return gone;
    }

private:
    // A row named by its id changes nothing only when it is gone.
    static WriteResult outcome(sqlite3 *db)
    {
        WriteResult result;
        if (sqlite3_changes(db) == 0)
            result.outcome = WriteOutcome::DeletedByOther;
        return result;
    }

    Connection &m_connection;
    QString m_table;
    QStringList m_columns;
    std::unique_ptr<Statement> m_insert;
    QString m_insertSql;
};

class SqliteDriver : public RowDriver
{
public:
    explicit SqliteDriver(Connection &connection) : m_connection(connection) {}

    std::unique_ptr<KeyedRowSource> keyedRows(const RowQuery &query) override
    {
        return TableRows::open(m_connection, query);
    }

    std::unique_ptr<ResultRows> wholeResult(const RowQuery &query) override
    {
        const QString sql = query.table.isEmpty() ? m_connection.translate(query.sql)
                                                  : QStringLiteral("SELECT * FROM %1").arg(quoteIdentifier(query.table));
        return std::make_unique<WholeStatement>(m_connection, sql);
    }

    std::unique_ptr<RowWriter> writer(const QString &table, const QStringList &columns) override
    {
        return std::make_unique<TableWriter>(m_connection, table, columns);
    }

private:
    Connection &m_connection;
};

} // namespace

std::unique_ptr<RowDriver> sqliteRowDriver(Connection &connection)
{
    return std::make_unique<SqliteDriver>(connection);
}

} // namespace dagl
