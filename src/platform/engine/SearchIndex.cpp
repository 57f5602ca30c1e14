#include "SearchIndex.h"

#include "Connection.h"
#include "Error.h"
#include "JetSql.h"
#include "Sqlite.h"

#include <QRegularExpression>
#include <QSet>

#include <memory>
#include <vector>

namespace dagl::SearchIndex {

namespace {

const char *const kFunction = "dagl_grams";
const QString kTable = QStringLiteral("dagl_ngram");
const QStringList kTriggers
    = { QStringLiteral("dagl_ngram_ai"), QStringLiteral("dagl_ngram_ad"), QStringLiteral("dagl_ngram_au") };
// Pieces counted at most when choosing the rarest: past this a piece is common anyway.
constexpr int kCountCap = 100000;
constexpr qint64 kBuildRows = 20000; // rows between two progress steps

// The pieces function as a table ("SELECT gram FROM dagl_grams(text)"), so that triggers can
// insert and delete a row's pieces with one statement each.
struct GramsCursor : sqlite3_vtab_cursor {
    std::vector<QByteArray> grams;
    size_t at = 0;
};

int gramsConnect(sqlite3 *db, void *, int, const char *const *, sqlite3_vtab **table, char **)
{
    const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(gram TEXT, text HIDDEN)");
    if (rc != SQLITE_OK)
        return rc;
    *table = static_cast<sqlite3_vtab *>(sqlite3_malloc(sizeof(sqlite3_vtab)));
    if (!*table)
        return SQLITE_NOMEM;
    std::memset(*table, 0, sizeof(sqlite3_vtab));
    return SQLITE_OK;
}

int gramsDisconnect(sqlite3_vtab *table)
{
    sqlite3_free(table);
    return SQLITE_OK;
}

int gramsBestIndex(sqlite3_vtab *, sqlite3_index_info *info)
{
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &c = info->aConstraint[i];
        if (c.iColumn == 1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ && c.usable) {
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = 1;
            info->estimatedCost = 10;
            info->estimatedRows = 20;
            return SQLITE_OK;
        }
    }
    info->idxNum = 0; // without its text the function gives nothing
    info->estimatedCost = 1e12;
    return SQLITE_OK;
}

int gramsOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor)
{
    *cursor = new GramsCursor();
    return SQLITE_OK;
}

int gramsClose(sqlite3_vtab_cursor *cursor)
{
    delete static_cast<GramsCursor *>(cursor);
    return SQLITE_OK;
}

int gramsFilter(sqlite3_vtab_cursor *base, int idxNum, const char *, int argc, sqlite3_value **argv)
{
    auto *cursor = static_cast<GramsCursor *>(base);
    cursor->grams.clear();
    cursor->at = 0;
    if (idxNum == 1 && argc >= 1 && sqlite3_value_type(argv[0]) != SQLITE_NULL) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
        const QString value = QString::fromUtf8(text, sqlite3_value_bytes(argv[0]));
        for (const QString &gram : grams(value))
            cursor->grams.push_back(gram.toUtf8());
    }
    return SQLITE_OK;
}

int gramsNext(sqlite3_vtab_cursor *base)
{
    ++static_cast<GramsCursor *>(base)->at;
    return SQLITE_OK;
}

int gramsEof(sqlite3_vtab_cursor *base)
{
    auto *cursor = static_cast<GramsCursor *>(base);
    return cursor->at >= cursor->grams.size();
}

int gramsColumn(sqlite3_vtab_cursor *base, sqlite3_context *context, int column)
{
    auto *cursor = static_cast<GramsCursor *>(base);
    if (column == 0) {
        const QByteArray &gram = cursor->grams[cursor->at];
        sqlite3_result_text(context, gram.constData(), int(gram.size()), SQLITE_TRANSIENT);
    } else {
        sqlite3_result_null(context);
    }
    return SQLITE_OK;
}

int gramsRowid(sqlite3_vtab_cursor *base, sqlite3_int64 *rowid)
{
    *rowid = sqlite3_int64(static_cast<GramsCursor *>(base)->at);
    return SQLITE_OK;
}

sqlite3_module gramsModule()
{
    sqlite3_module m {};
    m.iVersion = 0;
    m.xCreate = nullptr; // eponymous only
    m.xConnect = gramsConnect;
    m.xBestIndex = gramsBestIndex;
    m.xDisconnect = gramsDisconnect;
    m.xDestroy = gramsDisconnect;
    m.xOpen = gramsOpen;
    m.xClose = gramsClose;
    m.xFilter = gramsFilter;
    m.xNext = gramsNext;
    m.xEof = gramsEof;
    m.xColumn = gramsColumn;
    m.xRowid = gramsRowid;
    return m;
}

void run(sqlite3 *db, const QString &sql)
{
    Statement statement(db, sql);
    while (statement.step()) { }
}

QString quotedColumn(const QString &column)
{
    return quoteIdentifier(column);
}

// The fragments of a like pattern between its wildcards, when the pattern is one quoted
// text; empty otherwise.
QStringList fragments(const QString &pattern)
{
    return pattern.split(QRegularExpression(QStringLiteral("[%_]")), Qt::SkipEmptyParts);
}

// Splits a condition at its top-level "and"s; empty when it holds a top-level "or" or "not"
// (then a term alone does not decide).
QStringList andTerms(const QString &where)
{
    QStringList terms;
    int depth = 0;
    int start = 0;
    const int n = int(where.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = where.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            for (++i; i < n; ++i) {
                if (where.at(i) == close) {
                    if (close != QLatin1Char(']') && i + 1 < n && where.at(i + 1) == close) {
                        ++i;
                        continue;
                    }
                    break;
                }
            }
            continue;
        }
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')'))
            --depth;
        if (depth != 0 || !c.isLetter() || (i > 0 && (where.at(i - 1).isLetterOrNumber() || where.at(i - 1) == u'_')))
            continue;
        int end = i;
        while (end < n && (where.at(end).isLetterOrNumber() || where.at(end) == u'_'))
            ++end;
        const QString word = where.mid(i, end - i).toLower();
        if (word == QLatin1String("or") || word == QLatin1String("not"))
            return {};
        if (word == QLatin1String("and")) {
            terms << where.mid(start, i - start);
            start = end;
        }
        i = end - 1;
    }
    terms << where.mid(start);
    return terms;
}

} // namespace

QStringList grams(const QString &text)
{
    QStringList found;
    QSet<QString> seen;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        QString gram = text.mid(i, 2);
        for (QChar &c : gram) {
            if (c.unicode() < 0x80)
                c = c.toLower();
        }
        if (!seen.contains(gram)) {
            seen.insert(gram);
            found << gram;
        }
    }
    return found;
}

void install(sqlite3 *db)
{
    static const sqlite3_module module = gramsModule();
    sqlite3_create_module(db, kFunction, &module, nullptr);
}

bool exists(sqlite3 *db)
{
    Statement count(db,
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('%1','%2','%3','%4')")
            .arg(kTable, kTriggers[0], kTriggers[1], kTriggers[2]));
    return count.step() && count.column(0).toInt() == 4;
}

void drop(Connection &connection)
{
    sqlite3 *db = connection.handle();
    for (const QString &trigger : kTriggers)
        run(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger));
    run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable));
}

bool build(Connection &connection, const Spec &spec, const std::function<bool(qint64, qint64)> &progress)
{
    sqlite3 *db = connection.handle();
    const QString table = quoteIdentifier(spec.table);
    QStringList inserts, deletes;
    for (int c = 0; c < spec.columns.size(); ++c) {
        const QString column = quotedColumn(spec.columns.at(c));
        inserts << QStringLiteral(
            "INSERT OR IGNORE INTO %1 (gram, col, rid) SELECT gram, %2, new.rowid FROM %3(new.%4);")
                       .arg(kTable)
                       .arg(c)
                       .arg(QLatin1String(kFunction), column);
        deletes << QStringLiteral(
            "DELETE FROM %1 WHERE col = %2 AND rid = old.rowid AND gram IN (SELECT gram FROM %3(old.%4));")
                       .arg(kTable)
                       .arg(c)
                       .arg(QLatin1String(kFunction), column);
    }
    QStringList columns;
    for (const QString &column : spec.columns)
        columns << quotedColumn(column);

    // A larger page cache while the pieces go in, which come in no order of theirs.
    run(db, QStringLiteral("PRAGMA cache_size = -65536"));
    struct Restore {
        sqlite3 *db;
        ~Restore() { sqlite3_exec(db, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr); }
    } restore { db };
    Transaction transaction(connection);
    run(db,
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (gram TEXT NOT NULL, col INTEGER NOT NULL, rid INTEGER NOT NULL, "
                       "PRIMARY KEY (gram, col, rid)) WITHOUT ROWID")
            .arg(kTable));
    run(db, QStringLiteral("DELETE FROM %1").arg(kTable));
    run(db,
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER INSERT ON %2 BEGIN %3 END")
            .arg(kTriggers[0], table, inserts.join(QLatin1Char(' '))));
    run(db,
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER DELETE ON %2 BEGIN %3 END")
            .arg(kTriggers[1], table, deletes.join(QLatin1Char(' '))));
    run(db,
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER UPDATE OF %2 ON %3 BEGIN %4 %5 END")
            .arg(kTriggers[2], columns.join(QLatin1Char(',')), table, deletes.join(QLatin1Char(' ')),
                inserts.join(QLatin1Char(' '))));

    Statement bounds(db, QStringLiteral("SELECT min(rowid), max(rowid), count(*) FROM %1").arg(table));
    bounds.step();
    const qint64 first = bounds.column(0).toLongLong(), last = bounds.column(1).toLongLong();
    const qint64 total = bounds.column(2).toLongLong();
    std::vector<std::unique_ptr<Statement>> fill;
    for (int c = 0; c < spec.columns.size(); ++c)
        fill.push_back(std::make_unique<Statement>(db,
            QStringLiteral(
                "INSERT OR IGNORE INTO %1 (gram, col, rid) SELECT g.gram, %2, t.rowid FROM %3 AS t, %4(t.%5) "
                "AS g WHERE t.rowid BETWEEN ? AND ?")
                .arg(kTable)
                .arg(c)
                .arg(table, QLatin1String(kFunction), quotedColumn(spec.columns.at(c)))));
    qint64 done = 0;
    for (qint64 from = first; total > 0 && from <= last; from += kBuildRows) {
        for (auto &statement : fill) {
            statement->reset();
            statement->bind(1, from);
            statement->bind(2, from + kBuildRows - 1);
            while (statement->step()) { }
        }
        done = std::min(total, done + kBuildRows);
        if (progress && !progress(done, total))
            return false; // rolled back with the transaction
    }
    transaction.commit();
    return true;
}

QString narrow(sqlite3 *db, const Spec &spec, const QString &table, const QString &where)
{
    const QString bare = table.startsWith(QLatin1Char('[')) || table.startsWith(QLatin1Char('"'))
        ? table.mid(1, table.size() - 2)
        : table;
    if (spec.isEmpty() || where.isEmpty() || bare.compare(spec.table, Qt::CaseInsensitive) != 0 || !exists(db))
        return where;
    static const QRegularExpression like(QStringLiteral("^\\s*\\[?(\\w+)\\]?\\s+like\\s+'((?:[^']|'')*)'\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList joins;
    for (const QString &term : andTerms(where)) {
        const QRegularExpressionMatch m = like.match(term);
        if (!m.hasMatch())
            continue;
        int column = -1;
        for (int c = 0; c < spec.columns.size(); ++c) {
            if (spec.columns.at(c).compare(m.captured(1), Qt::CaseInsensitive) == 0)
                column = c;
        }
        if (column < 0)
            continue;
        const QString pattern = m.captured(2).replace(QStringLiteral("''"), QStringLiteral("'"));
        // The rarest piece of the fragments: the fewest rows to read.
        QString rarest;
        qint64 fewest = -1;
        Statement count(db,
            QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE gram = ? AND col = ? LIMIT %2)")
                .arg(kTable)
                .arg(kCountCap));
        for (const QString &fragment : fragments(pattern)) {
            for (const QString &gram : grams(fragment)) {
                count.reset();
                count.bind(1, gram);
                count.bind(2, column);
                count.step();
                const qint64 n = count.column(0).toLongLong();
                if (fewest < 0 || n < fewest) {
                    fewest = n;
                    rarest = gram;
                }
            }
        }
        if (fewest >= 0)
            joins << QStringLiteral("rowid IN (SELECT rid FROM %1 WHERE gram = %2 AND col = %3)")
                         .arg(kTable, JetSql::quoted(rarest))
                         .arg(column);
    }
    if (joins.isEmpty())
        return where;
    return QStringLiteral("(%1) AND %2").arg(where, joins.join(QStringLiteral(" AND ")));
}

} // namespace dagl::SearchIndex
