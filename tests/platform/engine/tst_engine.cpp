#include "Connection.h"
#include "DatabaseLock.h"
#include "Dataset.h"
#include "Error.h"
#include "JetSql.h"
#include "ReadApart.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

using namespace dagl;

Q_DECLARE_METATYPE(dagl::Cause)

namespace {
FieldDef lookup(const QString &, const QString &column)
{
    if (column.compare(QLatin1String("sj"), Qt::CaseInsensitive) == 0)
        return {column, FieldType::DateTime, 0};
    if (column.compare(QLatin1String("ajh"), Qt::CaseInsensitive) == 0)
        return {column, FieldType::Integer, 0};
    if (column.compare(QLatin1String("sxh"), Qt::CaseInsensitive) == 0)
        return {column, FieldType::WideString, 4};
    return {column, FieldType::Unknown, 0};
}

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}
Error failureOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Error &e) {
        return e;
    }
    return Error(QString());
}
} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void translate_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("date literals") << "select * from rz where  sj>=#2026/12/1# and sj<=#2026/12/11#"
                                       << "select * from rz where  sj>='2026-12-01 00:00:00' and sj<='2026-12-11 00:00:00'";
        QTest::newRow("date-time text into a date column")
            << "insert into rz (rznr,sj)values('操作员：张三登录系统','2026/12/10 9:05:03')"
            << "insert into rz (rznr,sj)values('操作员：张三登录系统','2026-12-10 09:05:03')";
        QTest::newRow("quoted # and doubled quotes left alone") << "insert into rz (rznr,sj)values('a''#b#','2026/1/2')"
                                                                << "insert into rz (rznr,sj)values('a''#b#','2026-01-02 00:00:00')";
        QTest::newRow("number text into an integer column") << "insert into t (ajh) values ('12')"
                                                            << "insert into t (ajh) values (12)";
        QTest::newRow("update of a date column") << "update rz set sj='2026/3/4 1:02:03' where rznr='x'"
                                                 << "update rz set sj='2026-03-04 01:02:03' where rznr='x'";
        QTest::newRow("Chinese names and like untouched")
            << "select qzh as 全宗号 from 文件目录 where tm like '%关于%'"
            << "select qzh as 全宗号 from 文件目录 where tm like '%关于%'";
        QTest::newRow("groups in the program's order")
            << "select qzh as 全宗号,mlh as 目录号,count(*) as 案卷条目  from 文件目录   group by qzh,mlh order by "
               "qzh,mlh"
            << "select qzh as 全宗号,mlh as 目录号,count(*) as 案卷条目  from 文件目录   group by qzh,mlh order by qzh "
               "COLLATE dagl_zh,mlh COLLATE dagl_zh";
        QTest::newRow("descending group, expression left alone")
            << "select bgqx, count(*) from t group by bgqx having count(*) > 1 order by t.bgqx desc, count(*);"
            << "select bgqx, count(*) from t group by bgqx having count(*) > 1 order by t.bgqx COLLATE dagl_zh desc, "
               "count(*);";
        QTest::newRow("grouped without an order") << "select [bgqx], count(*) from t group by [bgqx] limit 5"
                                                  << "select [bgqx], count(*) from t group by [bgqx] ORDER BY [bgqx] "
                                                     "COLLATE dagl_zh limit 5";
        QTest::newRow("plain select keeps its order") << "select * from 文件目录  order by qzh,mlh"
                                                      << "select * from 文件目录  order by qzh,mlh";
        QTest::newRow("grouped subquery and own collation untouched")
            << "select * from (select qzh from t group by qzh) order by qzh collate nocase"
            << "select * from (select qzh from t group by qzh) order by qzh collate nocase";
    }
    void translate()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(JetSql::translate(sql, lookup), expected);
    }

    void translateRefusals_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("bad date literal") << "select * from rz where sj>=#2026/13/1#";
        QTest::newRow("no date for a date column") << "insert into rz (rznr,sj) values ('a','明天')";
        QTest::newRow("no number for an integer column") << "insert into t (ajh) values ('十二')";
        QTest::newRow("text longer than its column") << "insert into t (sxh) values ('12345')";
    }
    void translateRefusals()
    {
        QFETCH(QString, sql);
        QVERIFY(!errorOf([&] { JetSql::translate(sql, lookup); }).isEmpty());
    }

    void openErrors()
    {
        test::ProgramFolderFixture folder;
        Connection wrong;
        wrong.setConnectionString(TDataModule5::connectionStringFor(folder.path()).replace(
            Schema::kDatabasePassword, QStringLiteral("12345678901")));
        const Error refused = failureOf([&] { wrong.open(); });
        QCOMPARE(refused.cause(), Cause::WrongPassword);
        QCOMPARE(refused.message(), causeText(Cause::WrongPassword));
        QCOMPARE(refused.detail(), QStringLiteral("Not a valid password.")); // for the log
        QVERIFY(!wrong.isOpen());

        test::ProgramFolderFixture empty(false);
        Connection missing;
        missing.setConnectionString(TDataModule5::connectionStringFor(empty.path()));
        QCOMPARE(failureOf([&] { missing.open(); }).cause(), Cause::NotFound);
        QVERIFY(!QFile::exists(empty.databasePath())); // opening never creates the file
    }

    // What keeps a database from opening is said as what it is, not as a wrong password.
    void openSaysWhatIsWrong_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Cause>("cause");
        QTest::newRow("locked by another program") << "busy" << Cause::InUse;
        QTest::newRow("being replaced by another copy") << "replacing" << Cause::InUse;
        QTest::newRow("damaged") << "damaged" << Cause::Corrupt;
        QTest::newRow("a folder in place of the file") << "folder" << Cause::NotFound;
        QTest::newRow("no database at all") << "text" << Cause::WrongPassword;
    }
    void openSaysWhatIsWrong()
    {
        QFETCH(QString, kind);
        QFETCH(Cause, cause);
        test::ProgramFolderFixture folder;
        const QString path = folder.databasePath();
        sqlite3 *raw = nullptr;
        DatabaseLock replacing;
        if (kind == QLatin1String("busy")) {
            // Another program in the middle of a write keeps even readers out.
            QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
            sqlite3_key(raw, Schema::kDatabasePassword.toUtf8().constData(), int(Schema::kDatabasePassword.size()));
            QCOMPARE(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        } else if (kind == QLatin1String("replacing")) {
            replacing.lockShared(path);
            QVERIFY(replacing.tryExclusive());
        } else if (kind == QLatin1String("damaged")) {
            SampleCatalogue::fill(folder.db(), 2000, 1);
            folder.db().close();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.resize(file.size() / 2);
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(8192, 'x'));
        }
        Connection db;
        db.setConnectionString(TDataModule5::connectionStringFor(folder.path()));
        // A damaged file may open, its first pages being whole; reading it says so.
        const Error failure = failureOf([&] {
            db.open();
            test::rowCount(db, Schema::kCatalogueTable);
        });
        QCOMPARE(failure.cause(), cause);
        QCOMPARE(failure.message(), causeText(cause));
        QVERIFY(!failure.detail().isEmpty());
        if (raw) {
            sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(raw);
        }
    }

    // Writes the engine refuses give their cause in Chinese; the engine's words stay for the log.
    void writeFailuresSayWhy()
    {
        test::ProgramFolderFixture folder;
        sqlite3 *readOnly = nullptr;
        QCOMPARE(sqlite3_open_v2(
                     QFile::encodeName(folder.databasePath()).constData(), &readOnly, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
        sqlite3_key(readOnly, Schema::kDatabasePassword.toUtf8().constData(), int(Schema::kDatabasePassword.size()));
        const Error refused = failureOf(
            [&] { Statement(readOnly, QStringLiteral("insert into rz (rznr,sj) values ('a','2026-12-10')")).step(); });
        sqlite3_close(readOnly);
        QCOMPARE(refused.message(), causeText(Cause::ReadOnly));
        QCOMPARE(refused.detail(), QStringLiteral("attempt to write a readonly database"));

        test::SmallDisk disk;
        test::ProgramFolderFixture onSmallDisk(true, disk.path());
        Connection &db = onSmallDisk.db();
        disk.fill(0);
        const Error full = failureOf([&] { SampleCatalogue::fill(db, 2000, 2); });
        disk.release();
        QVERIFY2(disk.causeTexts().contains(full.message()), qPrintable(full.logText()));
        // A statement's own mistake keeps the engine's text: there is no cause to give.
        QVERIFY(failureOf([&] { db.execute(QStringLiteral("select * from nosuch")); })
                    .message()
                    .contains(QStringLiteral("nosuch")));
    }

    void dialectOnRealFile()
    {
        test::ProgramFolderFixture folder;
        Connection &db = folder.db();
        QVERIFY(db.tableNames().contains(QStringLiteral("文件目录")));
        db.execute(QStringLiteral("insert into rz (rznr,sj)values('操作员：甲登录系统','2026/12/10 0:00:00')"));
        db.execute(QStringLiteral("insert into rz (rznr,sj)values('操作员：乙退出系统','2026/12/10 23:59:59')"));
        db.execute(QStringLiteral("insert into rz (rznr,sj)values('操作员：丙登录系统','2026/12/11 0:00:01')"));
        // A record at midnight equals the literal of its day.
        QCOMPARE(folder.scalar(QStringLiteral("select count(*) from rz where sj=#2026/12/10#")).toInt(), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select count(*) from rz where  sj>=#2026/12/10# and sj<=#2026/12/11#")).toInt(), 2);
        QCOMPARE(folder.scalar(QStringLiteral("select count(*) from rz where rznr like '%登录%'")).toInt(), 2);

        Dataset log(QStringLiteral("log"));
        log.setConnection(&db);
        log.setCommandText(QStringLiteral("select * from rz order by sj"));
        log.open();
        QCOMPARE(log.fieldDef(log.fieldIndex(QStringLiteral("sj"))).type, FieldType::DateTime);
        QCOMPARE(log.text(QStringLiteral("sj")), QStringLiteral("2026/12/10"));
        log.next();
        QCOMPARE(log.text(QStringLiteral("SJ")), QStringLiteral("2026/12/10 23:59:59"));

        db.execute(QStringLiteral("insert into 文件目录 (qzh,mlh,sxh) values ('001','1','1')"));
        db.execute(QStringLiteral("insert into 文件目录 (qzh,mlh,sxh) values ('001','2','10')"));
        db.execute(QStringLiteral("insert into 文件目录 (qzh,mlh,sxh) values ('002','1','2')"));
        Dataset counts(QStringLiteral("counts"));
        counts.setConnection(&db);
        counts.setCommandText(QStringLiteral("select qzh as 全宗号,count(*) as 数量 from 文件目录 group by qzh order by qzh"));
        counts.open();
        QCOMPARE(counts.recordCount(), 2);
        QCOMPARE(counts.text(QStringLiteral("全宗号")), QStringLiteral("001"));
        QCOMPARE(counts.integer(QStringLiteral("数量")), 2);
        QVERIFY(!counts.canModify());

        // Catalogue order by sxh is a text order.
        Dataset ordered(QStringLiteral("Tsyyp"));
        ordered.setConnection(&db);
        ordered.setCommandText(QStringLiteral("select * from 文件目录  order by sxh"));
        ordered.setDeclaredFields(Schema::catalogueFields());
        ordered.open();
        QStringList order;
        for (ordered.first(); !ordered.eof(); ordered.next())
            order << ordered.text(QStringLiteral("SXH"));
        QCOMPARE(order, (QStringList{"1", "10", "2"}));
    }

    void declaredFields()
    {
        test::ProgramFolderFixture folder;
        Connection &db = folder.db();
        db.execute(QStringLiteral("create table t2 (a VARCHAR(10), n INTEGER)"));
        Dataset ds(QStringLiteral("Q"));
        ds.setConnection(&db);
        ds.setTableName(QStringLiteral("t2"));
        ds.setDeclaredFields({{QStringLiteral("A"), FieldType::WideString, 10}, {QStringLiteral("b"), FieldType::Integer, 0}});
        QCOMPARE(errorOf([&] { ds.open(); }), QStringLiteral("Q: Field 'b' not found"));
        QVERIFY(!ds.isOpen());
        ds.setDeclaredFields({{QStringLiteral("a"), FieldType::Integer, 0}});
        QCOMPARE(errorOf([&] { ds.open(); }),
                 QStringLiteral("Q: Type mismatch for field 'a', expecting: Integer actual: WideString"));

        // An extra column of the catalogue is ignored.
        db.execute(QStringLiteral("alter table 文件目录 add column extra VARCHAR(5)"));
        Dataset catalogue(QStringLiteral("Tsyyp"));
        catalogue.setConnection(&db);
        catalogue.setCommandText(QStringLiteral("select * from 文件目录  order by sxh"));
        catalogue.setDeclaredFields(Schema::catalogueFields());
        catalogue.open();
        QCOMPARE(catalogue.fieldCount(), 28);
        QCOMPARE(catalogue.fieldDef(0).name, QStringLiteral("ZRZ"));
        QCOMPARE(errorOf([&] { catalogue.text(QStringLiteral("nosuch")); }), QStringLiteral("Tsyyp: Field 'nosuch' not found"));
    }

    void rowLifecycle()
    {
        test::ProgramFolderFixture folder;
        Connection &db = folder.db();
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&db);
        ds.setCommandText(QStringLiteral("select * from 文件目录  order by sxh"));
        ds.setDeclaredFields(Schema::catalogueFields());
        ds.open();
        QVERIFY(ds.isEmpty() && ds.eof());
        QVERIFY(!errorOf([&] { ds.setText(QStringLiteral("TM"), QStringLiteral("x")); }).isEmpty()); // not editing

        ds.append();
        QCOMPARE(ds.state(), Dataset::State::Insert);
        ds.setText(QStringLiteral("TM"), QString(300, QChar(0x6587)));   // cut to 250
        ds.setText(QStringLiteral("AJH"), QStringLiteral(" 12 "));
        ds.setText(QStringLiteral("SXH"), QStringLiteral("O'Br")); // quotes are plain data
        QVERIFY(!errorOf([&] { ds.setText(QStringLiteral("YH"), QStringLiteral("十")); }).isEmpty());
        ds.post();
        QCOMPARE(ds.state(), Dataset::State::Browse);
        const qlonglong key = ds.integer(QStringLiteral("str_m_date"));
        QVERIFY(key > 0);
        QCOMPARE(folder.scalar(QStringLiteral("select length(tm) from 文件目录")).toInt(), 250);
        QCOMPARE(folder.scalar(QStringLiteral("select ajh from 文件目录")).toInt(), 12);
        QCOMPARE(folder.scalar(QStringLiteral("select sxh from 文件目录")).toString(), QStringLiteral("O'Br"));

        ds.edit();
        ds.setText(QStringLiteral("BZ"), QStringLiteral("备注"));
        ds.cancel();
        QCOMPARE(ds.text(QStringLiteral("BZ")), QString());
        QVERIFY(folder.scalar(QStringLiteral("select bz from 文件目录")).isNull());

        ds.edit();
        ds.setText(QStringLiteral("BZ"), QStringLiteral("备注"));
        ds.setText(QStringLiteral("MJ"), QString()); // empty text is no value
        ds.post();
        QCOMPARE(folder.scalar(QStringLiteral("select bz from 文件目录")).toString(), QStringLiteral("备注"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("mj is null")), 1);

        ds.append();
        ds.cancel();
        QCOMPARE(ds.recordCount(), 1);
        QCOMPARE(ds.integer(QStringLiteral("str_m_date")), key);

        ds.deleteRecord();
        QVERIFY(ds.isEmpty());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
    }

    void sortInPlace()
    {
        test::ProgramFolderFixture folder;
        Connection &db = folder.db();
        for (const char *row : {"('b', 3)", "('a', 10)", "('c', 2)", "(NULL, 1)"})
            db.execute(QStringLiteral("insert into 文件目录 (tm, ajh) values %1").arg(QString::fromUtf8(row)));
        Dataset ds(QStringLiteral("Tsyyp"));
        ds.setConnection(&db);
        ds.setTableName(QStringLiteral("文件目录"));
        ds.open();
        ds.moveTo(1); // 'a'
        auto column = [&](const char *field) {
            QStringList values;
            for (int r = 0; r < ds.recordCount(); ++r)
                values << ds.textAt(r, ds.fieldIndex(QString::fromLatin1(field)));
            return values;
        };
        ds.sort(QStringLiteral("AJH ASC"));
        QCOMPARE(column("AJH"), (QStringList{"1", "2", "3", "10"}));
        QCOMPARE(ds.text(QStringLiteral("TM")), QStringLiteral("a")); // the same record stays current
        ds.sort(QStringLiteral("TM DESC"));
        QCOMPARE(column("TM"), (QStringList{"c", "b", "a", ""}));
        ds.sort(QString());
        QCOMPARE(column("TM"), (QStringList{"b", "a", "c", ""}));
        QVERIFY(!errorOf([&] { ds.sort(QStringLiteral("NOPE ASC")); }).isEmpty());
    }
    // Keys read apart: the rows of the statement, waited for on the calling thread, which
    // is called back at least once; stopped there, nothing comes back; a refused statement
    // throws on the calling thread.
    void keysReadApart()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (qzh, tm) values ('1', '甲')"));
        folder.exec(QStringLiteral("insert into 文件目录 (qzh, tm) values ('2', '乙')"));
        Connection &db = folder.db();
        const QString sql = QStringLiteral("select rowid from 文件目录 order by qzh desc");
        int calls = 0;
        bool cancelled = true;
        const QVector<qlonglong> keys = ReadApart::keys(db, sql, [&calls] { return ++calls > 0; }, &cancelled);
        QCOMPARE(keys, (QVector<qlonglong> { 2, 1 }));
        QVERIFY(calls >= 1);
        QVERIFY(!cancelled);
        QVERIFY(db.readerHandle() != nullptr);
        QVERIFY(ReadApart::keys(db, sql, [] { return false; }, &cancelled).isEmpty());
        QVERIFY(cancelled);
        QVERIFY_THROWS_EXCEPTION(Error, ReadApart::keys(db, QStringLiteral("select nothing from 文件目录"), {}, nullptr));
        db.close();
        QVERIFY(db.readerHandle() == nullptr);
    }
    // A stream of keys: the first of them before the rest, every key once and in order, two
    // streams at once each whole (the second on a reader of its own), a stream dropped midway
    // leaving the reader free.
    void keysStreamApart()
    {
        test::ProgramFolderFixture folder;
        Connection &db = folder.db();
        {
            Transaction transaction(db);
            for (int i = 0; i < 6000; ++i)
                db.execute(QStringLiteral("insert into 文件目录 (qzh, yh) values ('%1', %2)").arg(i % 13).arg(i));
            transaction.commit();
        }
        const QString sql = QStringLiteral("select rowid from 文件目录 order by qzh, yh");
        const QVector<qlonglong> expected = ReadApart::keys(db, sql, {}, nullptr);
        QCOMPARE(expected.size(), 6000);

        ReadApart::KeyStream first(db, sql);
        QVERIFY(db.readerInUse());
        ReadApart::KeyStream second(db, sql);
        QVERIFY(first.waitFor(10, {}));
        QVector<qlonglong> read = first.take(false);
        QVERIFY(read.size() >= 10);
        QVERIFY(!first.atEnd() || read.size() == expected.size());
        read += first.take(true);
        QVERIFY(first.atEnd());
        QCOMPARE(read, expected);
        QCOMPARE(second.take(true), expected);
        QVERIFY(first.take(false).isEmpty());
        {
            ReadApart::KeyStream dropped(folder.db(), sql);
        }
        QVERIFY(db.readerInUse()); // `first` still has it
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
