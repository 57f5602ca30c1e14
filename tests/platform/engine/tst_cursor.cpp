// The dataset's lazy cursor checked against the engine itself: whatever the dataset shows
// (count, order, values, keys) must be what the same statement gives, through sorts,
// appends, edits and deletes.
#include "Collation.h"
#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "ReadApart.h"
#include "RowSource.h"
#include "RowWriter.h"
#include "SelectShape.h"
#include "Sqlite.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace dagl;

namespace {

const QString kPassword = QStringLiteral("secret'pw");

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

// A keyed database file with a catalogue-like table of `rows` rows.
class CursorFixture
{
public:
    explicit CursorFixture(int rows)
    {
        const QString path = m_dir.filePath(QStringLiteral("t.db"));
        sqlite3 *raw = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &raw);
        const QByteArray key = kPassword.toUtf8();
        sqlite3_key(raw, key.constData(), int(key.size()));
        sqlite3_exec(raw,
                     "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, tm VARCHAR(250), sxh VARCHAR(4),"
                     " ajh INTEGER, qzh VARCHAR(10));"
                     "CREATE TABLE u (id INTEGER PRIMARY KEY, name VARCHAR(10));"
                     "INSERT INTO u VALUES (1, 'x');",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt *insert = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO t (tm, sxh, ajh, qzh) VALUES (?,?,?,?)", -1, &insert, nullptr);
        const QStringList words{QStringLiteral("中国"), QStringLiteral("北京"), QStringLiteral("阿里"),
                                QStringLiteral("会议"), QStringLiteral("Zeta"), QStringLiteral("alpha"),
                                QStringLiteral("档案"), QStringLiteral("2024")};
        QRandomGenerator random(42);
        for (int i = 0; i < rows; ++i) {
            const QByteArray tm = (words[random.bounded(words.size())] + QString::number(random.bounded(50))).toUtf8();
            const QByteArray sxh = QByteArray::number(random.bounded(1, 200));
            sqlite3_bind_text(insert, 1, tm.constData(), -1, SQLITE_TRANSIENT);
            if (i % 17 == 0)
                sqlite3_bind_null(insert, 2);
            else
                sqlite3_bind_text(insert, 2, sxh.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 3, random.bounded(1000));
            sqlite3_bind_text(insert, 4, QByteArray::number(i % 7).constData(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        db.setConnectionString(QStringLiteral("Provider=x;Data Source=%1;Jet OLEDB:Database Password=%2")
                                   .arg(path, kPassword));
        db.open();
    }

    // (key, tm) pairs of a statement, as the engine gives them.
    QVector<QPair<qlonglong, QString>> engineRows(const QString &sql)
    {
        QVector<QPair<qlonglong, QString>> rows;
        Statement statement(db.handle(), sql);
        while (statement.step())
            rows.push_back({statement.column(0).toLongLong(), statement.column(1).toString()});
        return rows;
    }

    Connection db;

private:
    QTemporaryDir m_dir;
};

QVector<QPair<qlonglong, QString>> datasetRows(const Dataset &ds, const QString &field = QStringLiteral("TM"))
{
    QVector<QPair<qlonglong, QString>> rows;
    const int column = ds.fieldIndex(field);
    for (int r = 0; r < ds.recordCount(); ++r)
        rows.push_back({ds.bookmarkAt(r), ds.textAt(r, column)});
    return rows;
}

// The same rows with the same values in the same order of values; rows of equal value may
// come in any order among themselves.
bool sameSortedRows(QVector<QPair<qlonglong, QString>> ours, QVector<QPair<qlonglong, QString>> engine)
{
    if (ours.size() != engine.size())
        return false;
    for (int i = 0; i < ours.size(); ++i) {
        if (ours[i].second != engine[i].second)
            return false;
    }
    std::sort(ours.begin(), ours.end());
    std::sort(engine.begin(), engine.end());
    return ours == engine;
}

// Keys handed over as a reader apart would: the first of them at once, the rest only when
// waited for (or never, failing then).
class HeldKeys : public Dataset::KeySource {
public:
    HeldKeys(QVector<qlonglong> keys, int first, bool fails)
        : m_keys(std::move(keys))
        , m_first(first)
        , m_fails(fails)
    {
    }
    QVector<qlonglong> take(bool wait) override
    {
        if (!m_firstTaken) {
            m_firstTaken = true;
            return m_keys.mid(0, m_first);
        }
        if (!wait)
            return {};
        m_done = true;
        if (m_fails)
            throw Error(QStringLiteral("磁盘 I/O 错误"));
        return m_keys.mid(m_first);
    }
    bool atEnd() const override { return m_done; }

private:
    QVector<qlonglong> m_keys;
    int m_first;
    bool m_fails;
    bool m_firstTaken = false;
    bool m_done = false;
};

// One table's rows held in memory, as a server shared with other workstations would hold
// them: what another workstation does is a change of `rows` behind the dataset's back.
struct MemoryTable
{
    QVector<SourceColumn> columns{
        {{QStringLiteral("ID"), FieldType::AutoInc, 0}, QStringLiteral("t"), QStringLiteral("id")},
        {{QStringLiteral("TM"), FieldType::WideString, 250}, QStringLiteral("t"), QStringLiteral("tm")},
        {{QStringLiteral("AJH"), FieldType::Integer, 0}, QStringLiteral("t"), QStringLiteral("ajh")},
    };
    QMap<qlonglong, QVector<QVariant>> rows; // by key, the values of every column
    qlonglong nextKey = 1;
    QVector<int> pages; // how many keys each fetch asked for
    QVector<QVector<ColumnValue>> updates; // the changes each update was given

    int columnIndex(const QString &name) const
    {
        for (int i = 0; i < columns.size(); ++i) {
            if (columns[i].origin.compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }
    void add(const QString &tm, qlonglong ajh)
    {
        const qlonglong key = nextKey++;
        rows.insert(key, {key, tm, ajh});
    }
};

class MemoryRow : public RowStream
{
public:
    MemoryRow(const MemoryTable &table, QVector<qlonglong> keys) : m_table(table), m_keys(std::move(keys)) {}
    bool next() override
    {
        while (++m_at < m_keys.size()) {
            if (m_table.rows.contains(m_keys[m_at]))
                return true;
        }
        return false;
    }
    qlonglong key() const override { return m_keys.at(m_at); }
    QVariant value(int column) const override { return m_table.rows.value(key()).value(column); }

private:
    const MemoryTable &m_table;
    QVector<qlonglong> m_keys;
    qsizetype m_at = -1;
};

class MemorySource : public KeyedRowSource
{
public:
    explicit MemorySource(MemoryTable &table) : m_table(table) {}
    const QVector<SourceColumn> &columns() const override { return m_table.columns; }
    const QString &table() const override { return m_name; }
    bool wholeTable() const override { return true; }
    QString keyStatement() const override { return {}; }
    QString soonestKeyStatement() const override { return {}; }
    void setOrder(const QString &column, bool, bool descending) override
    {
        m_column = m_table.columnIndex(column);
        m_descending = descending;
    }
    QVector<qlonglong> readKeys() override
    {
        QVector<qlonglong> keys = m_table.rows.keys().toVector();
        if (m_column >= 0) {
            std::stable_sort(keys.begin(), keys.end(), [&](qlonglong a, qlonglong b) {
                const QString x = m_table.rows[a][m_column].toString(), y = m_table.rows[b][m_column].toString();
                return m_descending ? y < x : x < y;
            });
        }
        m_keys = keys;
        return keys;
    }
    void fetch(const QVector<qlonglong> &keys, const std::function<void(const RowStream &row)> &take) override
    {
        m_table.pages << int(keys.size());
        MemoryRow rows(m_table, keys);
        while (rows.next())
            take(rows);
    }
    std::unique_ptr<RowStream> rowsInOrder() override { return std::make_unique<MemoryRow>(m_table, m_keys); }

private:
    MemoryTable &m_table;
    const QString m_name = QStringLiteral("t");
    int m_column = -1;
    bool m_descending = false;
    QVector<qlonglong> m_keys;
};

// Writes as a server shared by several workstations would: only a row unchanged since it
// was read, as the values the dataset read tell.
class MemoryWriter : public RowWriter
{
public:
    MemoryWriter(MemoryTable &table, const QStringList &columns) : m_table(table)
    {
        for (const QString &column : columns)
            m_columns << m_table.columnIndex(column);
    }
    WriteResult insert(const QVector<ColumnValue> &values) override
    {
        const qlonglong key = m_table.nextKey++;
        QVector<QVariant> row(m_table.columns.size());
        row[0] = key;
        for (const ColumnValue &value : values)
            row[m_columns.at(value.column)] = value.value;
        m_table.rows.insert(key, row);
        WriteResult result;
        result.key = key;
        return result;
    }
    WriteResult update(const RowImage &asRead, const QVector<ColumnValue> &changes) override
    {
        const WriteResult checked = check(asRead, QStringLiteral("未保存"));
        if (!checked.done())
            return checked;
        m_table.updates << changes;
        for (const ColumnValue &change : changes)
            m_table.rows[asRead.key][m_columns.at(change.column)] = change.value;
        return {};
    }
    WriteResult remove(const RowImage &asRead) override
    {
        if (!m_table.rows.contains(asRead.key))
            return {WriteOutcome::DeletedByOther, 0, {}}; // told in the dataset's own words
        if (!asRead.values.isEmpty()) {
            const WriteResult checked = check(asRead, QStringLiteral("未删除"));
            if (!checked.done())
                return checked;
        }
        m_table.rows.remove(asRead.key);
        return {};
    }
    QVector<qlonglong> removeRows(const QVector<RowImage> &rows, bool) override
    {
        QVector<qlonglong> gone;
        for (const RowImage &row : rows) {
            if (remove(row).done())
                gone << row.key;
        }
        return gone;
    }

private:
    WriteResult check(const RowImage &asRead, const QString &what) const
    {
        if (!m_table.rows.contains(asRead.key))
            return {WriteOutcome::DeletedByOther, 0, QStringLiteral("该记录已被其他工作站删除，") + what};
        const QVector<QVariant> &now = m_table.rows[asRead.key];
        for (int i = 0; i < m_columns.size(); ++i) {
            if (now.at(m_columns[i]) != asRead.values.value(i))
                return {WriteOutcome::ChangedByOther, 0, QStringLiteral("该记录已被其他工作站修改，") + what};
        }
        return {};
    }

    MemoryTable &m_table;
    QVector<int> m_columns;
};

class MemoryDriver : public RowDriver
{
public:
    explicit MemoryDriver(MemoryTable &table) : m_table(table) {}
    std::unique_ptr<KeyedRowSource> keyedRows(const RowQuery &) override
    {
        return std::make_unique<MemorySource>(m_table);
    }
    std::unique_ptr<ResultRows> wholeResult(const RowQuery &) override { return nullptr; }
    std::unique_ptr<RowWriter> writer(const QString &, const QStringList &columns) override
    {
        return std::make_unique<MemoryWriter>(m_table, columns);
    }

private:
    MemoryTable &m_table;
};

} // namespace

class TestCursor : public QObject
{
    Q_OBJECT

private slots:
    void selectShape_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<QString>("keys");
        QTest::newRow("catalogue") << "select * from 文件目录  order by sxh" << true
                                   << "SELECT rowid FROM 文件目录 ORDER BY sxh";
        QTest::newRow("search") << "select * from 文件目录   where   qzh like '%1%'  and tm like '%a''b%'   order by qzh,mlh"
                                << true << "SELECT rowid FROM 文件目录 WHERE qzh like '%1%'  and tm like '%a''b%' ORDER BY qzh,mlh";
        QTest::newRow("keyword inside a text") << "select * from t where tm = 'x group by y'" << true
                                               << "SELECT rowid FROM t WHERE tm = 'x group by y'";
        QTest::newRow("bracketed table") << "SELECT tm FROM [文件目录]" << true << "SELECT rowid FROM [文件目录]";
        QTest::newRow("grouped") << "select qzh,count(*) from t group by qzh" << false << "";
        QTest::newRow("distinct") << "select distinct qzh from t" << false << "";
        QTest::newRow("two tables") << "select * from t, u" << false << "";
        QTest::newRow("join") << "select * from t join u on t.id=u.id" << false << "";
        QTest::newRow("alias") << "select * from t a" << false << "";
        QTest::newRow("union") << "select tm from t union select name from u" << false << "";
        QTest::newRow("subquery as table") << "select * from (select * from t)" << false << "";
        QTest::newRow("unbalanced quote") << "select * from t where tm='a" << false << "";
        QTest::newRow("not a select") << "delete from t" << false << "";
    }

    void selectShape()
    {
        QFETCH(QString, sql);
        QFETCH(bool, plain);
        QFETCH(QString, keys);
        const SelectShape shape = SelectShape::of(sql);
        QCOMPARE(shape.plain, plain);
        if (plain)
            QCOMPARE(shape.keyStatement(), keys);
    }

    // A filtered select sorts its matches instead of walking an order index through the
    // whole table; the order itself is the same.
    void keysOfAFilteredSelectSortTheMatches_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("keys");
        QTest::newRow("whole table walks its index")
            << "select * from 文件目录   order by qzh,mlh,ajh,yh" << "SELECT rowid FROM 文件目录 ORDER BY qzh,mlh,ajh,yh";
        QTest::newRow("search") << "select * from 文件目录  where   tm like '%会议%'  order by qzh,mlh,ajh,yh"
                                << "SELECT rowid FROM 文件目录 WHERE tm like '%会议%' ORDER BY +qzh,+mlh,+ajh,+yh";
        QTest::newRow("terms with directions, numbers and quotes")
            << "select * from t where a = 1 order by [QZH] desc, 2, \"tm\" collate nocase, 'x'"
            << "SELECT rowid FROM t WHERE a = 1 ORDER BY +[QZH] desc, 2, +\"tm\" collate nocase, 'x'";
    }
    void keysOfAFilteredSelectSortTheMatches()
    {
        QFETCH(QString, sql);
        QFETCH(QString, keys);
        QCOMPARE(SelectShape::of(sql).keyStatement(SelectShape::SortMatches), keys);
    }

    void chineseOrder()
    {
        // Digits, then Latin letters without regard to case, then Chinese by pinyin.
        QStringList words{QStringLiteral("中国"), QStringLiteral("北京"), QStringLiteral("阿里"), QStringLiteral("zeta"),
                          QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("10"), QStringLiteral("档案"),
                          QStringLiteral("会议"), QStringLiteral("")};
        std::sort(words.begin(), words.end(),
                  [](const QString &a, const QString &b) { return Collation::compare(a, b) < 0; });
        QCOMPARE(words, (QStringList{"", "10", "Alpha", "beta", "zeta", "阿里", "北京", "档案", "会议", "中国"}));
        const QByteArray a = QStringLiteral("北京").toUtf8(), b = QStringLiteral("中国").toUtf8();
        QVERIFY(Collation::compareUtf8(a.constData(), int(a.size()), b.constData(), int(b.size())) < 0);
    }

    void lazyCursorFollowsTheEngine()
    {
        CursorFixture fx(3000);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select * from t  order by sxh"));
        ds.open();
        QVERIFY(ds.canModify());
        QCOMPARE(datasetRows(ds), fx.engineRows(QStringLiteral("select id, tm from t order by sxh")));

        ds.moveTo(1234);
        const Dataset::Bookmark kept = ds.bookmark();
        ds.sort(QStringLiteral("TM ASC"));
        QVERIFY(sameSortedRows(datasetRows(ds), fx.engineRows(QStringLiteral("select id, tm from t order by tm collate dagl_zh"))));
        QCOMPARE(ds.bookmark(), kept); // the same record stays current
        ds.sort(QStringLiteral("AJH DESC"));
        QVERIFY(sameSortedRows(datasetRows(ds, QStringLiteral("AJH")), fx.engineRows(QStringLiteral("select id, ajh from t order by ajh desc"))));
        ds.sort(QString());
        QCOMPARE(datasetRows(ds), fx.engineRows(QStringLiteral("select id, tm from t order by sxh")));

        // Values reached at random, out of page order, are the stored ones.
        QRandomGenerator random(7);
        for (int i = 0; i < 200; ++i) {
            const int row = random.bounded(ds.recordCount());
            const qlonglong key = ds.bookmarkAt(row);
            QCOMPARE(ds.valueAt(row, ds.fieldIndex(QStringLiteral("AJH"))).toLongLong(),
                     fx.engineRows(QStringLiteral("select ajh, tm from t where id=%1").arg(key)).value(0).first);
        }
    }

    void changesKeepRowsAndKeysConsistent()
    {
        CursorFixture fx(2000);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select * from t  order by sxh"));
        ds.open();

        ds.moveTo(500);
        const int tm = ds.fieldIndex(QStringLiteral("TM"));
        const QString before = ds.textAt(500, tm);
        ds.edit();
        ds.setText(QStringLiteral("TM"), QStringLiteral("改过的"));
        ds.cancel();
        QCOMPARE(ds.textAt(500, tm), before);
        ds.edit();
        ds.setText(QStringLiteral("TM"), QStringLiteral("改过的"));
        ds.post();
        QCOMPARE(ds.textAt(500, tm), QStringLiteral("改过的"));
        QCOMPARE(fx.engineRows(QStringLiteral("select id, tm from t where id=%1").arg(ds.bookmark())).value(0).second,
                 QStringLiteral("改过的"));

        ds.append();
        ds.setText(QStringLiteral("TM"), QStringLiteral("新的"));
        ds.setText(QStringLiteral("SXH"), QStringLiteral("1"));
        ds.post();
        const Dataset::Bookmark added = ds.bookmark();
        QVERIFY(added > 2000);
        QCOMPARE(ds.recordCount(), 2001);
        QCOMPARE(ds.rowOf(added), 2000); // at the end until the rows are read again

        // Non-adjacent rows, chosen by identity, go in one step.
        const QVector<Dataset::Bookmark> chosen{ds.bookmarkAt(3), ds.bookmarkAt(999), added, ds.bookmarkAt(1500)};
        ds.moveTo(999);
        QCOMPARE(ds.deleteBookmarks(chosen), 4);
        QCOMPARE(ds.recordCount(), 1997);
        for (const Dataset::Bookmark b : chosen) {
            QCOMPARE(ds.rowOf(b), -1);
            QVERIFY(fx.engineRows(QStringLiteral("select id, tm from t where id=%1").arg(b)).isEmpty());
        }
        QCOMPARE(ds.currentRow(), 998); // the row after the deleted current one

        ds.sort(QStringLiteral("TM DESC"));
        QVERIFY(sameSortedRows(datasetRows(ds), fx.engineRows(QStringLiteral("select id, tm from t order by tm collate dagl_zh desc"))));
        ds.deleteRecord();
        QCOMPARE(ds.recordCount(), 1996);
        QVERIFY(sameSortedRows(datasetRows(ds), fx.engineRows(QStringLiteral("select id, tm from t order by tm collate dagl_zh desc"))));
    }

    void textSortsInTheOperatorsOrder()
    {
        CursorFixture fx(0);
        for (const char *value : {"b", "B2", "a", "10", "2", "中", "阿"})
            fx.db.execute(QStringLiteral("insert into t (tm, qzh) values ('%1', '%2')")
                              .arg(QString::fromUtf8(value), QString::fromUtf8(value).toUpper()));
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        auto column = [&](const char *field) {
            QStringList values;
            for (const auto &row : datasetRows(ds, QString::fromLatin1(field)))
                values << row.second;
            return values;
        };
        ds.sort(QStringLiteral("TM ASC"));
        QCOMPARE(column("TM"), (QStringList{"10", "2", "a", "b", "B2", "阿", "中"}));
        ds.sort(QStringLiteral("QZH DESC")); // capitals and digits only in part: still one order
        QCOMPARE(column("QZH"), (QStringList{"中", "阿", "B2", "B", "A", "2", "10"}));
    }

    void deletingEveryRow()
    {
        CursorFixture fx(300);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select * from t where ajh >= 0 order by sxh"));
        ds.open();
        QVector<Dataset::Bookmark> all;
        for (int r = 0; r < ds.recordCount(); ++r)
            all << ds.bookmarkAt(r);
        QCOMPARE(ds.deleteBookmarks(all), 300);
        QVERIFY(ds.isEmpty());
        QCOMPARE(ds.currentRow(), -1);
        fx.db.execute(QStringLiteral("insert into u values (2, 'y')"));
        Dataset whole(QStringLiteral("Tsyyp"));
        whole.setConnection(&fx.db);
        whole.setTableName(QStringLiteral("u"));
        whole.open();
        QCOMPARE(whole.deleteBookmarks({1, 2, 2}), 2);
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from u")).value(0).first, 0);
    }

    void deletingIsAllOrNothing()
    {
        CursorFixture fx(50);
        fx.db.execute(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON t WHEN old.id = 30 "
                                     "BEGIN SELECT RAISE(ABORT, 'row 30 is kept'); END"));
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        const QVector<Dataset::Bookmark> chosen{10, 20, 30, 40};
        QCOMPARE(errorOf([&] { ds.deleteBookmarks(chosen); }), QStringLiteral("row 30 is kept"));
        QCOMPARE(ds.recordCount(), 50);
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t")).value(0).first, 50);
        QVERIFY(!fx.db.inTransaction());
    }

    void pendingRowIsNeitherPostedNorLost()
    {
        CursorFixture fx(20);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        ds.append();
        ds.setText(QStringLiteral("TM"), QStringLiteral("半截"));
        for (const auto &move : QVector<std::function<void()>>{
                 [&] { ds.moveTo(3); }, [&] { ds.first(); }, [&] { ds.append(); },
                 [&] { ds.sort(QStringLiteral("TM ASC")); }, [&] { ds.deleteBookmarks({1}); }}) {
            QVERIFY(!errorOf(move).isEmpty());
            QCOMPARE(ds.state(), Dataset::State::Insert);
            QCOMPARE(ds.text(QStringLiteral("TM")), QStringLiteral("半截"));
        }
        ds.next(); // at the end: nothing to move to
        QCOMPARE(ds.state(), Dataset::State::Insert);
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t")).value(0).first, 20);
        ds.cancel();
        QCOMPARE(ds.recordCount(), 20);
        ds.moveTo(3); // free again
        QCOMPARE(ds.currentRow(), 3);
    }

    void onlyPlainSelectsWrite_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("writable");
        QTest::newRow("plain") << "select * from t where ajh > 10 order by tm" << true;
        QTest::newRow("some columns") << "select tm, ajh from t" << true;
        QTest::newRow("grouped") << "select qzh, count(*) as n from t group by qzh" << false;
        QTest::newRow("grouped without aggregate") << "select qzh from t group by qzh" << false;
        QTest::newRow("distinct") << "select distinct qzh from t" << false;
        QTest::newRow("joined") << "select t.tm, u.name from t, u where t.id = u.id" << false;
        QTest::newRow("computed column") << "select tm, ajh + 1 as next from t" << false;
    }

    void onlyPlainSelectsWrite()
    {
        QFETCH(QString, sql);
        QFETCH(bool, writable);
        CursorFixture fx(30);
        Dataset ds(QStringLiteral("Tcxtj"));
        ds.setConnection(&fx.db);
        ds.setCommandText(sql);
        ds.open();
        QVERIFY(ds.recordCount() > 0);
        QCOMPARE(ds.canModify(), writable);
        if (!writable) {
            QVERIFY(!errorOf([&] { ds.edit(); }).isEmpty());
            QVERIFY(!errorOf([&] { ds.deleteRecord(); }).isEmpty());
            QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t")).value(0).first, 30);
        }
    }

    void readWholeResultSortsLocally()
    {
        CursorFixture fx(100);
        Dataset ds(QStringLiteral("Tcxtj"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select qzh as 全宗号, count(*) as 数量 from t group by qzh order by qzh"));
        ds.open();
        QCOMPARE(ds.recordCount(), 7);
        ds.moveTo(2);
        const Dataset::Bookmark kept = ds.bookmark();
        ds.sort(QStringLiteral("全宗号 DESC"));
        QCOMPARE(ds.textAt(0, 0), QStringLiteral("6"));
        QCOMPARE(ds.bookmark(), kept);
        QCOMPARE(ds.text(QStringLiteral("全宗号")), QStringLiteral("2"));
        ds.sort(QString());
        QCOMPARE(ds.textAt(0, 0), QStringLiteral("0"));
    }

    void appendOnlyTakesRowsInOneTransaction()
    {
        CursorFixture fx(1000);
        Dataset ds(QStringLiteral("Twjml"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.setAppendOnly(true);
        ds.open();
        QCOMPARE(ds.recordCount(), 0); // nothing read
        {
            Transaction transaction(fx.db);
            for (int i = 0; i < 10; ++i) {
                ds.append();
                ds.setText(QStringLiteral("TM"), QStringLiteral("批量%1").arg(i));
                ds.setText(QStringLiteral("AJH"), QString::number(i));
                ds.post();
            }
            // Given up: none of the batch stays.
        }
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t")).value(0).first, 1000);
        {
            Transaction transaction(fx.db);
            for (int i = 0; i < 10; ++i) {
                ds.append();
                ds.setText(QStringLiteral("TM"), QStringLiteral("批量%1").arg(i));
                if (i == 4) {
                    QVERIFY(!errorOf([&] { ds.setText(QStringLiteral("AJH"), QStringLiteral("abc")); }).isEmpty());
                    ds.cancel();
                    continue;
                }
                ds.post();
            }
            transaction.commit();
        }
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t where tm like '批量%'")).value(0).first, 9);
    }

    // Keys read apart: the dataset shows the first of them and takes the rest as they come;
    // whatever needs every row waits for the rest first, and a read that fails midway is
    // done again here, in the same order.
    void keysStillToComeAreWaitedFor_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("change"); // rows more (or fewer) afterwards
        for (const bool fails : { false, true }) {
            const char *how = fails ? " (the read fails)" : "";
            QTest::addRow("last%s", how) << "last" << fails << 0;
            QTest::addRow("next past the rows read%s", how) << "next" << fails << 0;
            QTest::addRow("sort%s", how) << "sort" << fails << 0;
            QTest::addRow("edit%s", how) << "edit" << fails << 0;
            QTest::addRow("append%s", how) << "append" << fails << 1;
            QTest::addRow("delete%s", how) << "delete" << fails << -1;
            QTest::addRow("delete by bookmarks%s", how) << "deleteBookmarks" << fails << -2;
            QTest::addRow("bookmark of a row not read yet%s", how) << "rowOf" << fails << 0;
            QTest::addRow("every row's texts%s", how) << "rowTexts" << fails << 0;
        }
    }
    void keysStillToComeAreWaitedFor()
    {
        QFETCH(QString, action);
        QFETCH(bool, fails);
        QFETCH(int, change);
        CursorFixture fx(600);
        const QString order = QStringLiteral("select id, tm from t order by qzh, id");
        const auto engine = fx.engineRows(order);
        QVector<qlonglong> keys;
        for (const auto &row : engine)
            keys << row.first;
        Dataset ds(QStringLiteral("Tdaly"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select * from t order by qzh, id"));
        QString soonest;
        ds.setKeyReader([&](const QString &, const QString &walk) {
            soonest = walk;
            return std::make_unique<HeldKeys>(keys, 50, fails);
        });
        ds.open();
        ds.setKeyReader({});
        QVERIFY(soonest.startsWith(QLatin1String("SELECT rowid FROM t")));
        QCOMPARE(ds.recordCount(), 50);
        QVERIFY(!ds.allRowsRead());
        QSignalSpy appended(&ds, &Dataset::rowsAppended);
        QSignalSpy reset(&ds, &Dataset::rowsReset);

        if (action == QLatin1String("last")) {
            ds.last();
            QCOMPARE(ds.currentRow(), engine.size() - 1);
        } else if (action == QLatin1String("next")) {
            ds.moveTo(49);
            ds.next();
            QCOMPARE(ds.currentRow(), 50);
            QVERIFY(!ds.eof());
        } else if (action == QLatin1String("sort")) {
            ds.sort(QStringLiteral("AJH DESC"));
            QVERIFY(sameSortedRows(datasetRows(ds, QStringLiteral("AJH")),
                fx.engineRows(QStringLiteral("select id, ajh from t order by ajh desc"))));
            ds.sort(QString());
        } else if (action == QLatin1String("edit")) {
            ds.edit();
            ds.setText(QStringLiteral("TM"), QStringLiteral("改过"));
            ds.post();
        } else if (action == QLatin1String("append")) {
            ds.append();
            ds.setText(QStringLiteral("TM"), QStringLiteral("新的"));
            ds.post();
        } else if (action == QLatin1String("delete")) {
            ds.deleteRecord();
        } else if (action == QLatin1String("deleteBookmarks")) {
            QCOMPARE(ds.deleteBookmarks({ ds.bookmarkAt(0), ds.bookmarkAt(1) }), 2);
        } else if (action == QLatin1String("rowOf")) {
            QCOMPARE(ds.rowOf(keys.last()), engine.size() - 1);
            QVERIFY(ds.gotoBookmark(keys.at(300)));
            QCOMPARE(ds.currentRow(), 300);
        } else if (action == QLatin1String("rowTexts")) {
            Dataset::RowTexts texts(ds, { ds.fieldIndex(QStringLiteral("TM")) });
            QCOMPARE(texts.text(int(engine.size()) - 1, 0), engine.last().second);
        }
        QVERIFY(ds.allRowsRead());
        QCOMPARE(ds.recordCount(), engine.size() + change);
        if (change == 0)
            QCOMPARE(datasetRows(ds), fx.engineRows(order));
        // A failed read is read again whole; otherwise the rest came at the end.
        if (fails)
            QVERIFY(!reset.isEmpty());
        else
            QCOMPARE(appended.value(0).value(0).toInt(), 50);
    }

    // Through a reader apart: the rows come while the program goes on, each once, in order,
    // and closing the dataset midway stops the read.
    void keysComeWhileTheProgramGoesOn()
    {
        CursorFixture fx(20000);
        const QString order = QStringLiteral("select id, tm from t order by qzh, id");
        Dataset ds(QStringLiteral("Tdaly"));
        ds.setConnection(&fx.db);
        ds.setCommandText(QStringLiteral("select * from t order by qzh, id"));
        const auto readApart = [&fx](const QString &, const QString &walk) {
            auto stream = std::make_unique<ReadApart::KeyStream>(fx.db, walk);
            stream->waitFor(10, {});
            return stream;
        };
        ds.setKeyReader(readApart);
        ds.open();
        QVERIFY(ds.recordCount() >= 10);
        QTRY_VERIFY(ds.allRowsRead());
        QCOMPARE(datasetRows(ds), fx.engineRows(order));

        ds.close();
        ds.open();
        ds.close(); // midway, most likely: the read stops and nothing is left behind
        QVERIFY(!fx.db.readerInUse());
        ds.open();
        ds.setKeyReader({});
        ds.readRemainingRows();
        QCOMPARE(ds.recordCount(), 20000);
    }

    // A row another program deleted from the file is reported, not counted as deleted.
    void deletingARowAlreadyGone()
    {
        CursorFixture fx(10);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        fx.db.execute(QStringLiteral("delete from t where id in (1, 3)"));
        QCOMPARE(errorOf([&] { ds.deleteRecord(); }), QStringLiteral("该记录已被删除，不能再删除。"));
        QCOMPARE(ds.rowOf(1), -1);
        QCOMPARE(ds.deleteBookmarks({2, 3}), 1);
        QCOMPARE(fx.engineRows(QStringLiteral("select count(*), '' from t")).value(0).first, 7);
    }

    // The cursor over rows of another kind of server: keys, pages of rows by key, the
    // order, and writes that server refuses.
    void cursorOverAnotherServersRows()
    {
        MemoryTable table;
        for (int i = 0; i < 600; ++i)
            table.add(QStringLiteral("题名%1").arg(i, 3, 10, QLatin1Char('0')), i % 10);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setRowDriver(std::make_shared<MemoryDriver>(table));
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        QCOMPARE(ds.recordCount(), 600);
        QVERIFY(ds.canModify());
        const int tm = ds.fieldIndex(QStringLiteral("TM"));
        QCOMPARE(ds.textAt(0, tm), QStringLiteral("题名000"));
        QCOMPARE(ds.textAt(1, tm), QStringLiteral("题名001"));
        QCOMPARE(ds.textAt(599, tm), QStringLiteral("题名599"));
        QCOMPARE(table.pages, (QVector<int>{256, 88})); // a page each, the last one short
        ds.sort(QStringLiteral("TM DESC"));
        QCOMPARE(ds.textAt(0, tm), QStringLiteral("题名599"));
        {
            Dataset::RowTexts texts(ds, {tm});
            QCOMPARE(texts.text(1, 0), QStringLiteral("题名598"));
            QCOMPARE(texts.text(599, 0), QStringLiteral("题名000"));
        }
        ds.sort(QString());

        // A save writes the changed column only.
        ds.moveTo(5);
        ds.edit();
        ds.setText(QStringLiteral("TM"), QStringLiteral("改过的"));
        ds.post();
        QCOMPARE(table.rows[6][1].toString(), QStringLiteral("改过的"));
        QCOMPARE(table.updates.size(), 1);
        QCOMPARE(table.updates[0].size(), 1);

        // Another workstation changed the row since it was read: nothing is written and the
        // operator's typed values stay in the editor.
        ds.moveTo(7);
        ds.edit();
        ds.setText(QStringLiteral("TM"), QStringLiteral("我输入的"));
        table.rows[8][2] = 99;
        QCOMPARE(errorOf([&] { ds.post(); }), QStringLiteral("该记录已被其他工作站修改，未保存"));
        QCOMPARE(ds.state(), Dataset::State::Edit);
        QCOMPARE(ds.text(QStringLiteral("TM")), QStringLiteral("我输入的"));
        QCOMPARE(table.rows[8][1].toString(), QStringLiteral("题名007"));
        ds.cancel();

        // A new row takes the key the server gives.
        ds.append();
        ds.setText(QStringLiteral("TM"), QStringLiteral("新的"));
        ds.post();
        QCOMPARE(ds.bookmark(), 601);
        QCOMPARE(ds.integer(QStringLiteral("ID")), 601);
        QCOMPARE(table.rows[601][1].toString(), QStringLiteral("新的"));

        // A row another workstation deleted is reported, not counted as deleted.
        ds.moveTo(10);
        table.rows.remove(11);
        QCOMPARE(errorOf([&] { ds.deleteRecord(); }), QStringLiteral("该记录已被删除，不能再删除。"));
        QCOMPARE(ds.rowOf(11), -1);
        QCOMPARE(ds.recordCount(), 600);
        table.rows.remove(21);
        QCOMPARE(ds.deleteBookmarks({20, 21, 22}), 2);
        QVERIFY(!table.rows.contains(20) && !table.rows.contains(22));
    }

    void closingTheConnectionClosesTheDataset()
    {
        CursorFixture fx(10);
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&fx.db);
        ds.setTableName(QStringLiteral("t"));
        ds.open();
        QCOMPARE(ds.textAt(0, ds.fieldIndex(QStringLiteral("QZH"))), QStringLiteral("0"));
        fx.db.close(); // the dataset's statements go first, so the file really closes
        QVERIFY(!ds.isOpen());
        fx.db.open();
        ds.open();
        QCOMPARE(ds.recordCount(), 10);
    }
};

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
