#include "SearchIndex.h"

#include "Connection.h"
#include "Error.h"
#include "JetSql.h"
#include "Sqlite.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace dagl::SearchIndex {

namespace {

// The function the triggers of earlier versions called; a catalogue still carrying them
// can be written until they are replaced.
const char *const kFunction = "dagl_grams";
const QString kTable = QStringLiteral("dagl_ngram");
const QStringList kTriggers
    = { QStringLiteral("dagl_ngram_ai"), QStringLiteral("dagl_ngram_ad"), QStringLiteral("dagl_ngram_au") };
// The table of positions 1..kPositions the triggers take the pieces at, with the engine's own
// functions only, so that any tool can write the catalogue. A longer text is marked by the
// empty piece and is read by every search of its column.
const QString kPositions = QStringLiteral("dagl_pos");
constexpr int kPositionCount = 1024;
// The share of the keys whose pieces are counted to compare common pieces with each other.
constexpr int kSampleShare = 16;
constexpr qint64 kBuildRows = 20000; // rows between two progress steps
// Rows holding a piece from which walking an index in the result's order gives the first
// rows sooner than fetching and sorting them all (about 20 ms for this many).
constexpr qint64 kWalkFrom = 2000;

// The pieces as earlier versions cut them, by UTF-16 unit.
QStringList unitGrams(const QString &text)
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
        for (const QString &gram : unitGrams(value))
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

// The statements that keep one column's pieces in step, from the engine's own functions.
QString insertPieces(const QString &row, int column, const QString &name)
{
    return QStringLiteral("INSERT OR IGNORE INTO %1 (gram, col, rid) SELECT lower(substr(%2.%3, p, 2)), %4, %2.rowid "
                          "FROM %5 WHERE p < length(%2.%3); "
                          "INSERT OR IGNORE INTO %1 (gram, col, rid) SELECT '', %4, %2.rowid WHERE length(%2.%3) > %6;")
        .arg(kTable, row, name)
        .arg(column)
        .arg(kPositions)
        .arg(kPositionCount);
}

QString deletePieces(int column, const QString &name)
{
    return QStringLiteral("DELETE FROM %1 WHERE col = %2 AND rid = old.rowid AND gram IN (SELECT lower(substr(old.%3, "
                          "p, 2)) FROM %4 WHERE p < length(old.%3) UNION ALL SELECT '');")
        .arg(kTable)
        .arg(column)
        .arg(name, kPositions);
}

void makePositions(sqlite3 *db)
{
    runStatement(db, QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (p INTEGER PRIMARY KEY)").arg(kPositions));
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(kPositions));
    count.step();
    if (count.column(0).toInt() == kPositionCount)
        return;
    runStatement(db, QStringLiteral("DELETE FROM %1").arg(kPositions));
    Statement insert(db, QStringLiteral("INSERT INTO %1 (p) VALUES (?)").arg(kPositions));
    for (int p = 1; p <= kPositionCount; ++p) {
        insert.reset();
        insert.bind(1, p);
        insert.step();
    }
}

void makeTriggers(sqlite3 *db, const Spec &spec)
{
    for (const QString &trigger : kTriggers)
        runStatement(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger));
    const QString table = quoteIdentifier(spec.table);
    QStringList inserts, deletes, changed;
    for (int c = 0; c < spec.columns.size(); ++c) {
        const QString column = quotedColumn(spec.columns.at(c));
        inserts << insertPieces(QStringLiteral("new"), c, column);
        deletes << deletePieces(c, column);
        changed << QStringLiteral("old.%1 IS NOT new.%1").arg(column);
    }
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 END")
            .arg(kTriggers[0], table, inserts.join(QLatin1Char(' '))));
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN %3 END")
            .arg(kTriggers[1], table, deletes.join(QLatin1Char(' '))));
    // Any change of the row's key moves its pieces too.
    runStatement(db,
        QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE ON %2 WHEN old.rowid IS NOT new.rowid OR %3 BEGIN %4 %5 END")
            .arg(kTriggers[2], table, changed.join(QStringLiteral(" OR ")), deletes.join(QLatin1Char(' ')),
                inserts.join(QLatin1Char(' '))));
}

// The statement that adds the pieces of one column of the rows in a range of keys.
QString fillStatement(const Spec &spec, int column)
{
    // The rows lead, each cut at the positions its text has.
    return QStringLiteral("INSERT OR IGNORE INTO %1 (gram, col, rid) SELECT lower(substr(t.%2, p, 2)), %3, t.rowid "
                          "FROM %4 AS t CROSS JOIN %5 WHERE t.rowid BETWEEN ?1 AND ?2 AND p < length(t.%2) "
                          "UNION ALL SELECT '', %3, t.rowid FROM %4 AS t WHERE t.rowid BETWEEN ?1 AND ?2 "
                          "AND length(t.%2) > %6")
        .arg(kTable, quotedColumn(spec.columns.at(column)))
        .arg(column)
        .arg(quoteIdentifier(spec.table), kPositions)
        .arg(kPositionCount);
}


bool hasSupplementary(const unsigned char *text, int size)
{
    for (int i = 0; i < size; ++i) {
        if (text[i] >= 0xF0)
            return true;
    }
    return false;
}

} // namespace

QStringList grams(const QString &text)
{
    // By character, as the engine's substr counts them; Latin letters lowered as its lower().
    QList<uint> characters = text.toUcs4();
    for (uint &c : characters) {
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
    }
    QStringList found;
    QSet<QString> seen;
    for (qsizetype i = 0; i + 1 < characters.size(); ++i) {
        const QString gram = QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData() + i), 2);
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

State state(sqlite3 *db)
{
    Statement found(db,
        QStringLiteral("SELECT name, sql FROM sqlite_master WHERE name IN ('%1','%2','%3','%4','%5')")
            .arg(kTable, kTriggers[0], kTriggers[1], kTriggers[2], kPositions));
    bool table = false, positions = false, earlier = false;
    int triggers = 0;
    while (found.step()) {
        const QString name = found.column(0).toString();
        if (name == kTable)
            table = true;
        else if (name == kPositions)
            positions = true;
        else
            ++triggers;
        if (found.column(1).toString().contains(QLatin1String(kFunction)))
            earlier = true;
    }
    if (!table || triggers != int(kTriggers.size()))
        return State::Missing;
    return earlier || !positions ? State::Outdated : State::Current;
}

bool exists(sqlite3 *db)
{
    return state(db) == State::Current;
}

void drop(Connection &connection)
{
    sqlite3 *db = connection.handle();
    for (const QString &trigger : kTriggers)
        runStatement(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(trigger));
    runStatement(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable));
    runStatement(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kPositions));
}

bool build(Connection &connection, const Spec &spec, const std::function<bool(qint64, qint64)> &progress)
{
    return build(connection.handle(), spec, progress);
}

bool build(sqlite3 *db, const Spec &spec, const std::function<bool(qint64, qint64)> &progress)
{
    const QString table = quoteIdentifier(spec.table);
    // A larger page cache while the pieces go in, which come in no order of theirs.
    runStatement(db, QStringLiteral("PRAGMA cache_size = -65536"));
    struct Restore {
        sqlite3 *db;
        ~Restore() { sqlite3_exec(db, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr); }
    } restore { db };
    Savepoint savepoint(db, QStringLiteral("dagl_search_index"));
    runStatement(db,
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (gram TEXT NOT NULL, col INTEGER NOT NULL, rid INTEGER NOT NULL, "
                       "PRIMARY KEY (gram, col, rid)) WITHOUT ROWID")
            .arg(kTable));
    runStatement(db, QStringLiteral("DELETE FROM %1").arg(kTable));
    makePositions(db);
    makeTriggers(db, spec);

    Statement bounds(db, QStringLiteral("SELECT min(rowid), max(rowid), count(*) FROM %1").arg(table));
    bounds.step();
    const qint64 first = bounds.column(0).toLongLong(), last = bounds.column(1).toLongLong();
    const qint64 total = bounds.column(2).toLongLong();
    std::vector<std::unique_ptr<Statement>> fill;
    for (int c = 0; c < spec.columns.size(); ++c)
        fill.push_back(std::make_unique<Statement>(db, fillStatement(spec, c)));
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
            return false; // rolled back with the savepoint
    }
    savepoint.release();
    return true;
}

void upgrade(sqlite3 *db, const Spec &spec)
{
    if (spec.isEmpty() || state(db) != State::Outdated)
        return;
    Savepoint savepoint(db, QStringLiteral("dagl_search_index"));
    makePositions(db);
    makeTriggers(db, spec);
    // Earlier versions cut a character outside the basic plane in two; the rows holding one
    // get their pieces anew.
    QStringList columns;
    for (const QString &column : spec.columns)
        columns << quotedColumn(column);
    Statement rows(db,
        QStringLiteral("SELECT rowid, %1 FROM %2").arg(columns.join(QLatin1Char(',')), quoteIdentifier(spec.table)));
    Statement remove(db, QStringLiteral("DELETE FROM %1 WHERE gram = ? AND col = ? AND rid = ?").arg(kTable));
    std::vector<std::unique_ptr<Statement>> fill;
    for (int c = 0; c < spec.columns.size(); ++c)
        fill.push_back(std::make_unique<Statement>(db, fillStatement(spec, c)));
    sqlite3_stmt *stmt = rows.handle();
    while (rows.step()) {
        const qint64 rid = sqlite3_column_int64(stmt, 0);
        for (int c = 0; c < spec.columns.size(); ++c) {
            const auto *text = sqlite3_column_text(stmt, c + 1);
            const int size = sqlite3_column_bytes(stmt, c + 1);
            if (!text || !hasSupplementary(text, size))
                continue;
            for (const QString &gram : unitGrams(QString::fromUtf8(reinterpret_cast<const char *>(text), size))) {
                remove.reset();
                remove.bind(1, gram);
                remove.bind(2, c);
                remove.bind(3, rid);
                remove.step();
            }
            fill[size_t(c)]->reset();
            fill[size_t(c)]->bind(1, rid);
            fill[size_t(c)]->bind(2, rid);
            while (fill[size_t(c)]->step()) { }
        }
    }
    savepoint.release();
}

namespace {

// Counts of the rows holding a piece, up to a cap, over all keys or over a slice of them.
class PieceCount {
public:
    PieceCount(sqlite3 *db, const QString &table)
        : m_db(db)
        , m_table(table)
        , m_all(db,
              QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE gram = ? AND col = ? LIMIT ?)").arg(kTable))
        , m_inSlice(db,
              QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE gram = ? AND col = ? AND rid BETWEEN ? AND "
                             "? LIMIT ?)")
                  .arg(kTable))
    {
    }
    struct Slice {
        qint64 from = 0, to = -1;
    };
    // The first share of the table's keys.
    Slice slice()
    {
        if (m_slice.to < m_slice.from) {
            // Each bound by a look-up of its own: together the engine reads every key.
            Statement bounds(
                m_db, QStringLiteral("SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)").arg(m_table));
            bounds.step();
            m_slice.from = bounds.column(0).toLongLong();
            m_slice.to = m_slice.from + (bounds.column(1).toLongLong() - m_slice.from) / kSampleShare;
        }
        return m_slice;
    }
    qint64 take(const QString &gram, int column, const Slice &slice, qint64 cap)
    {
        const bool all = slice.to < slice.from;
        Statement &count = all ? m_all : m_inSlice;
        count.reset();
        count.bind(1, gram);
        count.bind(2, column);
        if (!all) {
            count.bind(3, slice.from);
            count.bind(4, slice.to);
        }
        count.bind(all ? 3 : 5, cap);
        count.step();
        return count.column(0).toLongLong();
    }

private:
    sqlite3 *m_db;
    QString m_table;
    Statement m_all;
    Statement m_inSlice;
    Slice m_slice;
};

} // namespace

QString narrow(sqlite3 *db, const Spec &spec, const QString &table, const QString &where, QString *walkWhere)
{
    if (walkWhere)
        walkWhere->clear();
    const QString bare = table.startsWith(QLatin1Char('[')) || table.startsWith(QLatin1Char('"'))
        ? table.mid(1, table.size() - 2)
        : table;
    if (spec.isEmpty() || where.isEmpty() || bare.compare(spec.table, Qt::CaseInsensitive) != 0 || !exists(db))
        return where;
    static const QRegularExpression like(QStringLiteral("^\\s*\\[?(\\w+)\\]?\\s+like\\s+'((?:[^']|'')*)'\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList joins, checks;
    qint64 fewestOfAll = -1;
    PieceCount count(db, quoteIdentifier(spec.table));
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
        // The rarest piece of the fragments: the fewest rows to read. Pieces are counted up to
        // the number worth walking an index for; past that, among pieces that common, the one
        // the fewest rows of a slice of the keys hold is taken (counting them all costs about
        // as much as reading them).
        QStringList pieces;
        for (const QString &fragment : fragments(pattern))
            pieces << grams(fragment);
        pieces.removeDuplicates();
        QString rarest;
        qint64 fewest = -1;
        for (const QString &gram : std::as_const(pieces)) {
            const qint64 n = count.take(gram, column, {}, fewest < 0 ? kWalkFrom : fewest);
            if (fewest < 0 || n < fewest) {
                fewest = n;
                rarest = gram;
            }
        }
        if (fewest >= kWalkFrom && pieces.size() > 1) {
            qint64 fewestInSlice = -1;
            for (const QString &gram : std::as_const(pieces)) {
                const qint64 n = count.take(gram, column, count.slice(),
                    fewestInSlice < 0 ? std::numeric_limits<qint64>::max() : fewestInSlice);
                if (fewestInSlice < 0 || n < fewestInSlice) {
                    fewestInSlice = n;
                    rarest = gram;
                }
            }
        }
        // Texts too long to be cut at every position are read by every search.
        if (fewest >= 0) {
            const QString holders = QStringLiteral("IN (SELECT rid FROM %1 WHERE gram IN (%2, '') AND col = %3)")
                                        .arg(kTable, JetSql::quoted(rarest))
                                        .arg(column);
            joins << QStringLiteral("rowid ") + holders;
            // "+rowid" is the key's value, not a look-up by it.
            checks << QStringLiteral("+rowid ") + holders;
            fewestOfAll = fewestOfAll < 0 ? fewest : std::min(fewestOfAll, fewest);
        }
    }
    if (joins.isEmpty())
        return where;
    if (walkWhere && fewestOfAll >= kWalkFrom)
        *walkWhere = QStringLiteral("%1 AND (%2)").arg(checks.join(QStringLiteral(" AND ")), where);
    return QStringLiteral("(%1) AND %2").arg(where, joins.join(QStringLiteral(" AND ")));
}

} // namespace dagl::SearchIndex
