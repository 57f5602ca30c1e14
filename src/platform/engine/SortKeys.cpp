#include "SortKeys.h"

#include "Collation.h"
#include "Error.h"
#include "Sqlite.h"

#include <algorithm>

namespace dagl::SortKeys {

namespace {

const QString kQueue = QStringLiteral("dagl_sortkey_queue");
constexpr qint64 kBuildRows = 50000; // rows between two progress steps


QString suffix(const QString &column)
{
    return column.toLower();
}

QStringList triggerNames(const QString &column)
{
    const QString base = QStringLiteral("dagl_sortkey_%1_").arg(suffix(column));
    return { base + QStringLiteral("ai"), base + QStringLiteral("ad"), base + QStringLiteral("au") };
}

// The column as the queue names it.
QString queued(const QString &column)
{
    return QStringLiteral("'%1'").arg(suffix(column).replace(QLatin1Char('\''), QStringLiteral("''")));
}

QString keyIndex(const QString &column)
{
    return keyTable(column) + QStringLiteral("_key");
}


void bindKey(Statement &statement, int index, sqlite3_stmt *row, int column)
{
    if (sqlite3_column_type(row, column) == SQLITE_NULL) {
        sqlite3_bind_null(statement.handle(), index);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(row, column));
    const QByteArray key = Collation::sortKey(text, sqlite3_column_bytes(row, column));
    sqlite3_bind_blob(statement.handle(), index, key.constData(), int(key.size()), SQLITE_TRANSIENT);
}

} // namespace

bool Spec::covers(const QString &name, const QString &column) const
{
    const QString bare
        = name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char('"')) ? name.mid(1, name.size() - 2) : name;
    return bare.compare(table, Qt::CaseInsensitive) == 0 && columns.contains(column, Qt::CaseInsensitive);
}

QString keyTable(const QString &column)
{
    return QStringLiteral("dagl_sortkey_%1").arg(suffix(column));
}

bool exists(sqlite3 *db, const QString &column)
{
    const QStringList triggers = triggerNames(column);
    Statement count(db,
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('%1','%2','%3','%4','%5','%6')")
            .arg(keyTable(column), keyIndex(column), kQueue, triggers[0], triggers[1], triggers[2]));
    return count.step() && count.column(0).toInt() == 6;
}

void drop(sqlite3 *db, const QString &, const QString &column)
{
    for (const QString &trigger : triggerNames(column))
        runStatement(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger));
    runStatement(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(keyTable(column)));
    Statement queue(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = '%1'").arg(kQueue));
    if (queue.step() && queue.column(0).toInt() == 1)
        runStatement(db, QStringLiteral("DELETE FROM %1 WHERE col = %2").arg(kQueue, queued(column)));
}

bool build(
    sqlite3 *db, const QString &table, const QString &column, const std::function<bool(qint64, qint64)> &progress)
{
    const QString keys = keyTable(column);
    const QString quotedTable = quoteIdentifier(table), quotedColumn = quoteIdentifier(column);
    const QString name = queued(column);
    const QStringList triggers = triggerNames(column);
    Savepoint savepoint(db, QStringLiteral("dagl_sort_keys"));
    drop(db, table, column);
    runStatement(db,
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS %1 (col TEXT NOT NULL, rid INTEGER NOT NULL, PRIMARY KEY (col, rid)) "
            "WITHOUT ROWID")
            .arg(kQueue));
    runStatement(db, QStringLiteral("CREATE TABLE %1 (dagl_rid INTEGER PRIMARY KEY, dagl_key BLOB) WITHOUT ROWID").arg(keys));
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN INSERT OR IGNORE INTO %3 (col, rid) VALUES (%4, "
                       "new.rowid); END")
            .arg(triggers[0], quotedTable, kQueue, name));
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN DELETE FROM %3 WHERE dagl_rid = old.rowid; END")
            .arg(triggers[1], quotedTable, keys));
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE ON %2 WHEN old.rowid IS NOT new.rowid OR old.%3 IS NOT new.%3 "
                       "BEGIN DELETE FROM %4 WHERE dagl_rid = old.rowid; "
                       "INSERT OR IGNORE INTO %5 (col, rid) VALUES (%6, new.rowid); END")
            .arg(triggers[2], quotedTable, quotedColumn, keys, kQueue, name));

    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quotedTable));
    count.step();
    const qint64 total = count.column(0).toLongLong();
    // In key order the keys' table fills at its end; their index is made once they are all in.
    Statement rows(db, QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid").arg(quotedColumn, quotedTable));
    Statement insert(db, QStringLiteral("INSERT INTO %1 (dagl_rid, dagl_key) VALUES (?, ?)").arg(keys));
    qint64 done = 0;
    while (rows.step()) {
        insert.reset();
        sqlite3_bind_int64(insert.handle(), 1, sqlite3_column_int64(rows.handle(), 0));
        bindKey(insert, 2, rows.handle(), 1);
        insert.step();
        if (++done % kBuildRows == 0 && progress && !progress(done, total))
            return false;
    }
    runStatement(db, QStringLiteral("CREATE INDEX %1 ON %2 (dagl_key)").arg(keyIndex(column), keys));
    if (progress && !progress(total, total))
        return false;
    savepoint.release();
    return true;
}

void refresh(sqlite3 *db, const QString &table, const QString &column)
{
    const QString keys = keyTable(column);
    const QString name = queued(column);
    Statement pending(db, QStringLiteral("SELECT 1 FROM %1 WHERE col = %2 LIMIT 1").arg(kQueue, name));
    if (!pending.step())
        return;
    Savepoint savepoint(db, QStringLiteral("dagl_sort_keys"));
    Statement changed(db,
        QStringLiteral("SELECT q.rid, t.rowid IS NOT NULL, t.%1 FROM %2 AS q LEFT JOIN %3 AS t ON t.rowid = q.rid "
                       "WHERE q.col = %4")
            .arg(quoteIdentifier(column), kQueue, quoteIdentifier(table), name));
    Statement put(db, QStringLiteral("INSERT OR REPLACE INTO %1 (dagl_rid, dagl_key) VALUES (?, ?)").arg(keys));
    Statement gone(db, QStringLiteral("DELETE FROM %1 WHERE dagl_rid = ?").arg(keys));
    sqlite3_stmt *row = changed.handle();
    while (changed.step()) {
        const qint64 rid = sqlite3_column_int64(row, 0);
        Statement &write = sqlite3_column_int(row, 1) ? put : gone;
        write.reset();
        sqlite3_bind_int64(write.handle(), 1, rid);
        if (&write == &put)
            bindKey(put, 2, row, 2);
        write.step();
    }
    runStatement(db, QStringLiteral("DELETE FROM %1 WHERE col = %2").arg(kQueue, name));
    savepoint.release();
}

QString keyStatement(const QString &column, bool descending)
{
    return QStringLiteral("SELECT dagl_rid FROM %1 ORDER BY dagl_key%2")
        .arg(keyTable(column), descending ? QStringLiteral(" DESC") : QString());
}

QString rowsFrom(const QString &table, const QString &column, bool descending)
{
    // The keys lead, in their index's order; each row is then found by its key.
    return QStringLiteral("FROM %1 CROSS JOIN %2 ON %2.rowid = %1.dagl_rid ORDER BY %1.dagl_key%3")
        .arg(keyTable(column), table, descending ? QStringLiteral(" DESC") : QString());
}

void upgrade(sqlite3 *db, const Spec &spec)
{
    if (spec.table.isEmpty())
        return;
    Statement collated(
        db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql LIKE ?"));
    collated.bind(1, spec.table);
    collated.bind(2, QStringLiteral("%COLLATE%") + QLatin1String(Collation::kName) + QLatin1Char('%'));
    QStringList names;
    while (collated.step())
        names << collated.column(0).toString();
    for (const QString &index : std::as_const(names))
        runStatement(db, QStringLiteral("DROP INDEX IF EXISTS %1").arg(quoteIdentifier(index)));
}

} // namespace dagl::SortKeys
