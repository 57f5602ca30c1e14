// The catalogue on a PostgreSQL server: connecting, statements, transactions, the Jet
// dialect beside the local engine on the same rows, the tool's create and copy commands,
// two workstations, and the pinyin order. Runs against a throwaway cluster.
#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "Login.h"
#include "PgCluster.h"
#include "PgConnection.h"
#include "PgDialect.h"
#include "PgSchema.h"
#include "QueryStatement.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "ServerCatalogue.h"
#include "Sqlite.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace dagl;

namespace {

Error errorOf(const std::function<void()> &work)
{
    try {
        work();
    } catch (const Error &error) {
        return error;
    }
    return Error(QString());
}

// A port nothing listens on: bound, read and let go.
int unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    const int port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A value as both engines are compared: dates in one form, numbers as numbers.
QString normalized(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("<null>");
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

struct Result
{
    QStringList columns;
    QStringList rows; // one text a row, values joined with "|"
};

Result localResult(Connection &db, const QString &sql)
{
    Statement statement(db.handle(), db.translate(sql));
    Result result;
    for (int c = 0; c < statement.columnCount(); ++c)
        result.columns << QString::fromUtf8(sqlite3_column_name(statement.handle(), c)).toLower();
    while (statement.step()) {
        QStringList values;
        for (int c = 0; c < statement.columnCount(); ++c)
            values << normalized(statement.column(c));
        result.rows << values.join(QLatin1Char('|'));
    }
    return result;
}

Result serverResult(PgConnection &db, const QString &sql)
{
    PgRows rows(db, sql);
    Result result;
    for (const QString &name : rows.columnNames())
        result.columns << name.toLower();
    while (rows.next()) {
        QStringList values;
        for (int c = 0; c < rows.columnCount(); ++c)
            values << normalized(rows.value(c));
        result.rows << values.join(QLatin1Char('|'));
    }
    return result;
}

// The same rows written on both engines through their dialects.
const char *const kRows[] = {
    "insert into rz (rznr,sj)values('操作员：甲登录系统','2026/12/10 0:00:00')",
    "insert into rz (rznr,sj)values('操作员：乙退出系统','2026/12/10 23:59:59')",
    "insert into rz (rznr,sj)values('操作员：丙登录系统','2026/12/11 0:00:01')",
    "insert into rz (rznr,sj)values('操作员：丁登录系统','')",
    "update rz set sj='2026/12/9 8:00:00' where rznr='操作员：丁登录系统'",
    "insert into 文件目录 (qzh,mlh,ajh,sxh,tm,zrz,gdnd,bgqx) values ('001','1','3','1','关于ABC的通知','张三','2020','永久')",
    "insert into 文件目录 (qzh,mlh,ajh,sxh,tm,zrz,gdnd,bgqx) values ('001','2','5','10','关于abc的报告','李四','2021','长期')",
    "insert into 文件目录 (qzh,mlh,ajh,sxh,tm,zrz,gdnd,bgqx) values ('002','1','7','2','会议纪要 50%','王五','2020','短期')",
    "insert into 文件目录 (qzh,mlh,ajh,sxh,tm,zrz,gdnd,bgqx) values ('002','1',null,'3','C:\\档案\\a_b','张''三','2022','永久')",
    "insert into 文件目录 (QZH,MLH,AJH,SXH,TM,ZRZ,GDND,BGQX,BZ) values ('003','1','9','4','赵钱孙李','周吴','2021','长期','有备注')",
    "insert into 移交表 (yjbh,yjr,jsr,yjrq,jsrq,yjnr) values ('YJ-1','张三','李四','2026/1/2','2026/1/3 14:30','第一批')",
    "update 移交表 set jsrq='' where yjbh='YJ-1'",
};

// Names in the program's order, the one the server's collation must give.
const char *const kNames[] = {
    "张三", "李四", "王五", "赵六", "钱七", "孙八", "周九", "吴十", "郑州", "北京", "上海", "广州",
    "阿", "爱", "安", "白", "百", "短期", "永久", "行政", "重要", "档案", "文件", "目录", "全宗",
    "001", "1", "10", "2", "A", "b", "C", "abc", "ABD", "中华人民共和国", "中国", "人民",
};

} // namespace

class TestPostgres : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::PgCluster> m_cluster;
    std::unique_ptr<test::ProgramFolderFixture> m_local;
    std::unique_ptr<PgConnection> m_server;

private slots:
    void initTestCase()
    {
        test::pinLocale();
        m_cluster = std::make_unique<test::PgCluster>();
        DAGL_REQUIRE_POSTGRES(*m_cluster);
        // One catalogue on each engine with the same rows, for the dialect's cases.
        m_local = std::make_unique<test::ProgramFolderFixture>();
        m_server = std::make_unique<PgConnection>(m_cluster->freshDatabase(QStringLiteral("dialect")));
        m_server->open();
        ServerCatalogue::create(*m_server, permissionCodeList());
        for (const char *sql : kRows) {
            m_local->exec(QString::fromUtf8(sql));
            m_server->execute(QString::fromUtf8(sql));
        }
    }

    void cleanupTestCase()
    {
        m_server.reset();
        m_local.reset();
        m_cluster.reset();
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("cause");
        QTest::newRow("wrong port") << "port" << "无法连接到数据库服务器" << int(Cause::CannotOpen);
        QTest::newRow("wrong password") << "password" << "拒绝了用户“dagl”的密码" << int(Cause::WrongPassword);
        QTest::newRow("no password") << "nopassword" << "要求用户“dagl”的密码" << int(Cause::WrongPassword);
        QTest::newRow("missing database") << "database" << "没有数据库“nosuch”" << int(Cause::NotFound);
        QTest::newRow("missing user") << "user" << "拒绝了用户“nobody”的密码" << int(Cause::WrongPassword);
        QTest::newRow("unknown service") << "service" << "服务文件里没有数据库服务“nosuch”" << int(Cause::NotFound);
        QTest::newRow("encryption the server does not have")
            << "ssl" << "没有开启加密（ssl），而 sslmode=verify-full 要求加密。" << int(Cause::CannotOpen);
    }
    void connectFailures()
    {
        QFETCH(QString, what);
        QFETCH(QString, expected);
        QFETCH(int, cause);
        QTemporaryDir dir;
        PgSettings settings = m_cluster->settings();
        const QString wrongPass = dir.filePath(QStringLiteral("pgpass"));
        QFile file(wrongPass);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("127.0.0.1:*:*:*:not-the-password\n");
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QByteArray oldServiceFile = qgetenv("PGSERVICEFILE");
        if (what == QLatin1String("port")) {
            settings.port = unusedPort();
        } else if (what == QLatin1String("password")) {
            settings.passFile = wrongPass;
        } else if (what == QLatin1String("nopassword")) {
            settings.passFile = dir.filePath(QStringLiteral("none"));
        } else if (what == QLatin1String("database")) {
            settings.database = QStringLiteral("nosuch");
        } else if (what == QLatin1String("user")) {
            // The server does not say whether a user exists: an unknown one reads as a refused password.
            settings.user = QStringLiteral("nobody");
            settings.passFile = wrongPass;
        } else if (what == QLatin1String("ssl")) {
            settings.sslMode = QStringLiteral("verify-full");
        } else if (what == QLatin1String("service")) {
            settings = PgSettings{};
            settings.service = QStringLiteral("nosuch");
            qputenv("PGSERVICEFILE", QFile::encodeName(dir.filePath(QStringLiteral("services.conf"))));
        }
        PgConnection connection(settings);
        const Error error = errorOf([&] { connection.open(); });
        qputenv("PGSERVICEFILE", oldServiceFile);
        QVERIFY2(error.message().contains(expected), qPrintable(error.message()));
        QCOMPARE(int(error.cause()), cause);
        // The operator reads Chinese; libpq's own words are kept for the log.
        QVERIFY(!error.detail().isEmpty());
        QVERIFY(error.logText().contains(error.detail()));
        QVERIFY(!connection.isOpen());
    }

    void connectionSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("display"); // empty: refused
        QTest::newRow("host and port") << "host=db.office port=5433 dbname=dagl user=clerk" << "db.office:5433/dagl";
        QTest::newRow("service") << "service=dagl_office" << "（服务 dagl_office）";
        QTest::newRow("a password") << "host=db port=5432 dbname=dagl user=clerk password=secret" << QString();
        QTest::newRow("not a setting") << "host=db nosuch=1" << QString();
    }
    void connectionSettings()
    {
        QFETCH(QString, text);
        QFETCH(QString, display);
        const Error error = errorOf([&] { QCOMPARE(PgSettings::fromConnectionString(text).displayName(), display); });
        QCOMPARE(error.message().isEmpty(), !display.isEmpty());
        if (text.contains(QLatin1String("password")))
            QVERIFY(error.message().contains(QStringLiteral("密码文件")));
    }

    void opensFromAServiceName()
    {
        QTemporaryDir dir;
        const QString services = dir.filePath(QStringLiteral("services.conf"));
        QFile file(services);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[dagl_office]\nhost=127.0.0.1\nport=%1\ndbname=dagl\nuser=dagl\npassfile=%2\n")
                       .arg(m_cluster->port())
                       .arg(m_cluster->passFile())
                       .toUtf8());
        file.close();
        const QByteArray old = qgetenv("PGSERVICEFILE");
        qputenv("PGSERVICEFILE", QFile::encodeName(services));
        PgConnection connection(PgSettings::fromConnectionString(QStringLiteral("service=dagl_office")));
        connection.open();
        qputenv("PGSERVICEFILE", old);
        QCOMPARE(connection.scalarNative(QStringLiteral("SELECT current_database()")).toString(), QStringLiteral("dagl"));
    }

    void boundValuesKeysAndCounts()
    {
        PgConnection db(m_cluster->settings());
        db.open();
        db.executeNative(QStringLiteral("CREATE TEMP TABLE t (id integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                                        "n integer, x double precision, s varchar(20), d timestamp(0))"));
        const QDateTime when(QDate(2026, 12, 10), QTime(9, 5, 3));
        const struct
        {
            QVariant n, x, s, d;
        } rows[] = {
            {QVariant(), QVariant(), QVariant(), QVariant()},
            {42, 2.5, QStringLiteral("中文 'quote' \\ tab\t"), when},
            {-7, -0.125, QString(), QDateTime()},
        };
        QVector<qlonglong> keys;
        for (const auto &r : rows)
            keys << db.insert(QStringLiteral("insert into t (n, x, s, d) values (?, ?, ?, ?)"), {r.n, r.x, r.s, r.d},
                              QStringLiteral("id"));
        QCOMPARE(keys, (QVector<qlonglong>{1, 2, 3}));
        PgRows read(db, QStringLiteral("select n, x, s, d from t order by id"));
        for (const auto &r : rows) {
            QVERIFY(read.next());
            QCOMPARE(read.value(0), r.n.isNull() ? QVariant() : QVariant(r.n.toInt()));
            QCOMPARE(read.value(1), r.x);
            QCOMPARE(read.value(QStringLiteral("S")), r.s.isNull() ? QVariant() : r.s);
            QCOMPARE(read.value(3), r.d.toDateTime().isValid() ? r.d : QVariant());
        }
        QVERIFY(!read.next());
        QCOMPARE(db.execute(QStringLiteral("update t set s = ? where n is not null"), {QStringLiteral("x")}), 2);
        QCOMPARE(db.execute(QStringLiteral("delete from t where id > ?"), {5}), 0);
        const Error error = errorOf([&] { db.execute(QStringLiteral("insert into t (id) values (1)")); });
        QVERIFY2(error.message().contains(QStringLiteral("数据重复")), qPrintable(error.message()));
    }

    void nestedTransactionsRollBackWhole()
    {
        PgConnection db(m_cluster->settings());
        db.open();
        db.executeNative(QStringLiteral("CREATE TEMP TABLE n (v text)"));
        auto values = [&] {
            QStringList all;
            PgRows rows(db, QStringLiteral("select v from n order by v"));
            while (rows.next())
                all << rows.value(0).toString();
            return all;
        };
        // The outer one rolled back takes the committed inner one with it.
        db.beginTransaction();
        db.execute(QStringLiteral("insert into n values ('a')"));
        db.beginTransaction();
        db.execute(QStringLiteral("insert into n values ('b')"));
        db.commit();
        QCOMPARE(db.transactionDepth(), 1);
        db.rollback();
        QCOMPARE(values(), QStringList());
        // An inner one rolled back leaves the outer one's work, even after a failed statement.
        {
            PgTransaction outer(db);
            db.execute(QStringLiteral("insert into n values ('a')"));
            {
                PgTransaction inner(db);
                db.execute(QStringLiteral("insert into n values ('b')"));
                QVERIFY(!errorOf([&] { db.execute(QStringLiteral("insert into nosuch values (1)")); }).message().isEmpty());
            }
            outer.commit();
        }
        QCOMPARE(values(), QStringList{QStringLiteral("a")});
        // An error thrown through the block undoes all of it.
        QVERIFY(!errorOf([&] {
                     PgTransaction outer(db);
                     db.execute(QStringLiteral("insert into n values ('c')"));
                     PgTransaction inner(db);
                     db.execute(QStringLiteral("insert into n values ('d')"));
                     inner.commit();
                     throw Error(QStringLiteral("stop"));
                 }).message().isEmpty());
        QCOMPARE(values(), QStringList{QStringLiteral("a")});
        QVERIFY(!db.inTransaction());
    }

    void rowsStepForward_data()
    {
        QTest::addColumn<bool>("inTransaction");
        QTest::newRow("alone") << false;
        QTest::newRow("in a transaction") << true;
    }
    void rowsStepForward()
    {
        QFETCH(bool, inTransaction);
        PgConnection db(m_cluster->settings());
        db.open();
        std::unique_ptr<PgTransaction> transaction;
        if (inTransaction)
            transaction = std::make_unique<PgTransaction>(db);
        {
            PgRows rows(db, QStringLiteral("select g, 'row ' || g from generate_series(1, 300000) g"), {}, true);
            qlonglong seen = 0, sum = 0;
            while (rows.next()) {
                ++seen;
                sum += rows.value(0).toLongLong();
                if (seen == 1) // nothing else runs on the connection while rows are read
                    QCOMPARE(int(errorOf([&] { db.scalarNative(QStringLiteral("select 1")); }).cause()), int(Cause::InUse));
            }
            QCOMPARE(seen, 300000);
            QCOMPARE(sum, 300000LL * 300001 / 2);
        }
        {
            // Left after a few rows: the connection is free again, the transaction still open.
            PgRows rows(db, QStringLiteral("select g from generate_series(1, 300000) g"), {}, true);
            for (int i = 0; i < 10; ++i)
                QVERIFY(rows.next());
        }
        QCOMPARE(db.scalarNative(QStringLiteral("select 7")).toInt(), 7);
        QCOMPARE(db.inTransaction(), inTransaction);
        if (transaction)
            transaction->commit();
    }

    void translations_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("date literals") << "select * from rz where  sj>=#2026/12/1# and sj<=#2026/12/11 8:05#"
                                       << "select * from rz where  sj>=TIMESTAMP '2026-12-01 00:00:00' and "
                                          "sj<=TIMESTAMP '2026-12-11 08:05:00'";
        QTest::newRow("bracketed and quoted names") << "select [QZH], \"Tm\" from [文件目录]"
                                                    << "select \"qzh\", \"tm\" from \"文件目录\"";
        QTest::newRow("like without case, backslash plain") << "select * from t where tm like '%C:\\a_b%'"
                                                           << "select * from t where tm::text ILIKE '%C:\\\\a_b%'";
        QTest::newRow("bound values") << "select * from t where a=? and b like ?"
                                      << "select * from t where a=$1 and b::text ILIKE $2";
        QTest::newRow("not like on a bracketed name") << "select * from t where [AJH] not like '5%'"
                                                      << "select * from t where \"ajh\"::text not ILIKE '5%'";
        QTest::newRow("grouped without an order") << "select [bgqx], count(*) from t group by [bgqx] limit 5"
                                                  << "select \"bgqx\", count(*) from t group by \"bgqx\" ORDER BY "
                                                     "\"bgqx\" NULLS FIRST limit 5";
        QTest::newRow("grouped with an order") << "select qzh,count(*) from t group by qzh order by qzh desc"
                                               << "select qzh,count(*) from t group by qzh order by qzh desc NULLS LAST";
        QTest::newRow("order of several terms, one stated")
            << "select a from t order by a, b desc, c nulls last"
            << "select a from t order by a NULLS FIRST, b desc NULLS LAST, c nulls last";
        QTest::newRow("group of an expression") << "select substr(tm,1,2), count(*) from t group by substr(tm,1,2)"
                                                << "select substr(tm,1,2), count(*) from t group by substr(tm,1,2)";
        QTest::newRow("text and # in quotes") << "insert into rz (rznr,sj)values('a''#b#?','2026/1/2')"
                                              << "insert into rz (rznr,sj)values('a''#b#?',TIMESTAMP '2026-01-02 00:00:00')";
        QTest::newRow("empty date text") << "update rz set sj='' where rznr='x'"
                                         << "update rz set sj=NULL where rznr='x'";
        QTest::newRow("number text") << "insert into 文件目录 (ajh) values ('12')"
                                     << "insert into 文件目录 (ajh) values (12)";
    }
    void translations()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(m_server->translate(sql), expected);
    }

    void refusalsAsOnTheLocalEngine_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("bad date literal") << "select * from rz where sj>=#2026/13/1#";
        QTest::newRow("no date for a date column") << "insert into rz (rznr,sj) values ('a','明天')";
        QTest::newRow("no number for an integer column") << "insert into 文件目录 (ajh) values ('十二')";
        QTest::newRow("text longer than its column") << "insert into 文件目录 (sxh) values ('12345')";
    }
    void refusalsAsOnTheLocalEngine()
    {
        QFETCH(QString, sql);
        const Error local = errorOf([&] { m_local->db().translate(sql); });
        const Error server = errorOf([&] { m_server->translate(sql); });
        QVERIFY(!local.message().isEmpty());
        QCOMPARE(server.message(), local.message());
    }

    void datesReadAsTheLocalEngine_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *text : {"2026/12/10", "2026-1-2 3:04", "2026.1.2 3:04:05", " 2026/02/29 ", "2024/02/29",
                                 "2026/13/1", "26/1/2", "2026/1/2 25:00", "2026/1/2T8:00", "明天", ""})
            QTest::newRow(text) << QString::fromUtf8(text);
    }
    void datesReadAsTheLocalEngine()
    {
        QFETCH(QString, text);
        // The same value, or the same refusal, from a date literal and from a text given for
        // a date column.
        for (const char *sql : {"select rznr from rz where sj=#%1#", "update rz set sj='%1' where rznr='x'"}) {
            const QString statement = QString::fromLatin1(sql).arg(text);
            QString local, server;
            const Error localError = errorOf([&] { local = m_local->db().translate(statement); });
            const Error serverError = errorOf([&] { server = m_server->translate(statement); });
            QCOMPARE(serverError.message(), localError.message());
            QCOMPARE(server.replace(QStringLiteral("TIMESTAMP '"), QStringLiteral("'")), local);
        }
    }

    void dialectMatchesTheLocalEngine_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("ordered");
        const struct
        {
            const char *name, *sql;
            bool ordered;
        } cases[] = {
            {"date equal to a day", "select count(*) from rz where sj=#2026/12/10#", true},
            {"date range", "select count(*) from rz where  sj>=#2026/12/10# and sj<=#2026/12/11#", true},
            {"date written by update", "select rznr, sj from rz where sj<#2026/12/10#", false},
            {"like Chinese", "select count(*) from rz where rznr like '%登录%'", true},
            {"like without case", "select tm from 文件目录 where tm like '%abc%'", false},
            {"like _ and backslash", "select zrz from 文件目录 where tm like 'C:\\档案\\a_b'", false},
            {"like _ one character", "select tm from 文件目录 where tm like '关于___的%'", false},
            {"like %", "select tm from 文件目录 where tm like '%50%'", false},
            {"groups in order", "select qzh as 全宗号,count(*) as 案卷条目 from 文件目录 group by qzh", true},
            {"two groups ordered",
             "select qzh as 全宗号,mlh as 目录号,count(*) as 案卷条目  from 文件目录   group by qzh,mlh order by qzh,mlh", true},
            {"Chinese groups", "select zrz as 责任者,count(*) as 案卷条目 from 文件目录 group by zrz", true},
            {"groups descending",
             "select GDND as 归档年度,count(*) as 案卷条目  from 文件目录 group by gdnd order by gdnd desc", true},
            {"year groups", "select GDND as 归档年度,count(*) as 案卷条目  from 文件目录 group by gdnd", true},
            {"bracketed names", "select [QZH],[Tm] from [文件目录] where [AJH]=5", false},
            {"names in any case", "select QZH, tm, Bz from 文件目录 where Gdnd='2021' order by SXH", true},
            {"number compared with text", "select count(*) from 文件目录 where ajh='5'", true},
            {"nulls", "select count(*) from 文件目录 where ajh is null or bz is null", true},
            {"count as a Chinese name", "select count(*) as 总数 from 文件目录", true},
            {"doubled quote", "select zrz, ajh from 文件目录 where zrz='张''三'", false},
            {"handover dates", "select yjbh, yjr, yjrq, jsrq from 移交表", false},
            {"operator and rights", "select glymc, mm from gly where glymc='管理员'", false},
            {"max and min", "select max(ajh), min(sxh) from 文件目录", true},
        };
        for (const auto &c : cases)
            QTest::newRow(c.name) << QString::fromUtf8(c.sql) << c.ordered;
        // The query window's and the statistics window's own statements.
        const QHash<QString, QString> boxes = {{QStringLiteral("Edit1"), QStringLiteral("00")},
                                               {QStringLiteral("Edit3"), QStringLiteral("5")},
                                               {QStringLiteral("Edit6"), QStringLiteral("关于")}};
        QTest::newRow("query window search")
            << QueryStatement::search([&](const QString &box) { return boxes.value(box); }) << false;
        QTest::newRow("query window, every record") << QueryStatement::listAll() << false;
        // 长期 sorts as zhǎng on the server (see whereTheOrdersPart): the periods' counts are
        // compared without their order.
        for (const QueryStatement::Count &count : QueryStatement::counts())
            QTest::newRow(count.caption) << QueryStatement::countStatement(count)
                                         << (QByteArray(count.button) != "BitBtn6");
    }
    void dialectMatchesTheLocalEngine()
    {
        QFETCH(QString, sql);
        QFETCH(bool, ordered);
        Result local = localResult(m_local->db(), sql);
        Result server = serverResult(*m_server, sql);
        // An expression without a name is named by each engine in its own way ("count(*)",
        // "count"); the program names what it reads by "as".
        for (int c = 0; c < local.columns.size() && c < server.columns.size(); ++c) {
            if (local.columns[c].contains(QLatin1Char('(')))
                local.columns[c] = server.columns[c] = QStringLiteral("?column?");
        }
        if (!ordered) {
            std::sort(local.rows.begin(), local.rows.end());
            std::sort(server.rows.begin(), server.rows.end());
        }
        QVERIFY(!local.rows.isEmpty());
        QCOMPARE(server.columns, local.columns);
        QCOMPARE(server.rows, local.rows);
    }

    void textInPinyinOrder()
    {
        QStringList names;
        for (const char *name : kNames)
            names << QString::fromUtf8(name);
        QStringList local = names;
        std::sort(local.begin(), local.end(), [](const QString &a, const QString &b) { return Collation::compare(a, b) < 0; });
        PgConnection db(m_cluster->settings(QStringLiteral("dialect")));
        db.open();
        db.executeNative(QStringLiteral("CREATE TEMP TABLE names (zrz varchar(50) COLLATE dagl_zh)"));
        for (const QString &name : names)
            db.execute(QStringLiteral("insert into names (zrz) values (?)"), {name});
        auto serverOrder = [&](const QString &collation) {
            QStringList order;
            PgRows rows(db, QStringLiteral("select zrz from names order by zrz%1").arg(collation), {}, true);
            while (rows.next())
                order << rows.value(0).toString();
            return order;
        };
        const QStringList server = serverOrder(QString());
        QCOMPARE(server, local);
        // ICU's own Chinese order puts Latin letters after Chinese.
        const QStringList icu = serverOrder(QStringLiteral(" COLLATE \"zh-x-icu\""));
        QVERIFY(icu.indexOf(QStringLiteral("A")) > icu.indexOf(QStringLiteral("张三")));
        // A plain order by a text column of the catalogue is already in that order.
        const Result catalogue = serverResult(*m_server, QStringLiteral("select zrz from 文件目录 order by zrz"));
        const Result expected
            = localResult(m_local->db(), QStringLiteral("select zrz from 文件目录 order by zrz collate dagl_zh"));
        QCOMPARE(catalogue.rows, expected.rows);
    }

    // Where the server's order and the program's part, measured: first < second locally.
    void whereTheOrdersPart_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("serverAgrees");
        const struct
        {
            const char *name, *first, *second;
            bool agrees;
        } cases[] = {
            {"upper case first", "A", "a", true},
            {"Latin before Chinese", "Z", "阿", true},
            {"digits before letters", "9", "A", true},
            {"by pinyin", "李四", "张三", true},
            {"first level before second, locally", "重要", "亍", false}, // 亍 chù
            {"polyphone 长 read cháng locally, zhǎng by ICU", "长期", "永久", false},
            {"same pinyin: GBK code locally", "啊", "阿", false},
            {"punctuation after digits, locally", "1", "_a", false},
            {"full-width punctuation after Latin, locally", "C", "，", false},
        };
        for (const auto &c : cases)
            QTest::newRow(c.name) << QString::fromUtf8(c.first) << QString::fromUtf8(c.second) << c.agrees;
    }
    void whereTheOrdersPart()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, serverAgrees);
        QVERIFY(Collation::compare(first, second) < 0);
        const bool before = m_server
                                ->scalarNative(QStringLiteral("SELECT ($1::varchar COLLATE dagl_zh) < $2::varchar"),
                                               {first, second})
                                .toBool();
        QCOMPARE(before, serverAgrees);
    }

    void createRefusesANonEmptyDatabase()
    {
        PgConnection db(m_cluster->settings(QStringLiteral("dialect")));
        db.open();
        const qlonglong before = db.scalar(QStringLiteral("select count(*) from gly")).toLongLong();
        const Error error = errorOf([&] { ServerCatalogue::create(db, permissionCodeList()); });
        QVERIFY2(error.message().contains(QStringLiteral("不是空的")), qPrintable(error.message()));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from gly")).toLongLong(), before);
    }

    void createMakesTheSixTables()
    {
        PgConnection db(m_cluster->freshDatabase(QStringLiteral("created")));
        db.open();
        ServerCatalogue::create(db, permissionCodeList());
        QStringList expected;
        for (const Schema::Table &table : Schema::tables(permissionCodeList()))
            expected << table.name.toLower();
        std::sort(expected.begin(), expected.end());
        QStringList tables = db.tableNames();
        std::sort(tables.begin(), tables.end());
        QCOMPARE(tables, expected);
        QCOMPARE(db.scalar(QStringLiteral("select glymc from gly where id=1")).toString(), QStringLiteral("管理员"));
        QCOMPARE(db.scalar(QStringLiteral("select mm from gly where id=1")).toString(), QString());
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from ljserver")).toInt(), 1);
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from qx where glyid='1'")).toInt(), 1);
        // Every table has a key the server fills in, past the rows already there.
        for (const QString &table : std::as_const(tables))
            QVERIFY2(!db.keyColumn(table).isEmpty(), qPrintable(table));
        QCOMPARE(db.keyColumn(Schema::kCatalogueTable), QStringLiteral("str_m_date"));
        // The list's order is walked, missing values first; the number look-ups are there.
        QVERIFY(db.scalar(QStringLiteral("select indexdef from pg_indexes where indexname='ix_wjml_sxh'"))
                    .toString()
                    .contains(QLatin1String("NULLS FIRST")));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from pg_indexes where indexname in "
                                          "('ix_wjml_item_key', 'ix_wjml_volume_key')"))
                     .toInt(),
            2);
        QCOMPARE(db.insert(QStringLiteral("insert into gly (glymc, mm) values ('乙', '')"), {}, QStringLiteral("id")), 2);
        QCOMPARE(db.insert(QStringLiteral("insert into 文件目录 (tm) values ('甲')"), {}, QStringLiteral("str_m_date")), 1);
        QCOMPARE(db.column(Schema::kCatalogueTable, QStringLiteral("TM")).size, 250);
        QCOMPARE(db.column(QStringLiteral("rz"), QStringLiteral("SJ")).type, FieldType::DateTime);
    }

    void copyTakesEverythingOrNothing()
    {
        test::ProgramFolderFixture folder;
        Connection &local = folder.db();
        SampleCatalogue::fill(local, 994, 7);
        for (const char *sql : kRows)
            folder.exec(QString::fromUtf8(sql));
        // Texts COPY must carry through its escapes.
        folder.exec(QStringLiteral("insert into 文件目录 (tm,bz) values ('制表\t换行\n回车\r反斜杠\\N','\\')"));
        QCOMPARE(folder.count(Schema::kCatalogueTable), 1000);
        PgConnection db(m_cluster->freshDatabase(QStringLiteral("copied")));
        db.open();
        const QVector<ServerCatalogue::TableCount> counts = ServerCatalogue::copyFrom(db, local, permissionCodeList());
        QCOMPARE(counts.size(), 6);
        for (const auto &count : counts) {
            QCOMPARE(count.rows, qlonglong(folder.count(count.table)));
            const QString key = db.keyColumn(count.table);
            // Content equal, row by row in key order; the extra key of a table without one
            // follows the local order.
            const QString localKey = key == PgSchema::kRowKey ? QStringLiteral("rowid") : key;
            QStringList columns;
            for (const FieldDef &f : local.tableColumns(count.table))
                columns << f.name;
            const QString select = QStringLiteral("select %1 from %2 order by ").arg(columns.join(QLatin1Char(',')), count.table);
            const Result there = serverResult(db, select + key);
            const Result here = localResult(local, select + localKey);
            QCOMPARE(there.rows.size(), int(count.rows));
            QCOMPARE(there.rows, here.rows);
        }
        // The next key follows the copied ones.
        const qlonglong last = db.scalar(QStringLiteral("select max(str_m_date) from 文件目录")).toLongLong();
        QCOMPARE(db.insert(QStringLiteral("insert into 文件目录 (tm) values ('新')"), {}, QStringLiteral("str_m_date")), last + 1);

        // Into a database that is not empty: refused, nothing changed.
        const Error refused = errorOf([&] { ServerCatalogue::copyFrom(db, local, permissionCodeList()); });
        QVERIFY2(refused.message().contains(QStringLiteral("不是空的")), qPrintable(refused.message()));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from 文件目录")).toInt(), 1001);

        // A failure in the last table leaves the server database empty.
        Statement bad(local.handle(), QStringLiteral("INSERT INTO rz (rznr, sj) VALUES ('坏日期', 'not a date')"));
        bad.step();
        PgConnection fresh(m_cluster->freshDatabase(QStringLiteral("halfway")));
        fresh.open();
        const Error failed = errorOf([&] { ServerCatalogue::copyFrom(fresh, local, permissionCodeList()); });
        QVERIFY2(failed.message().contains(QStringLiteral("不是日期")), qPrintable(failed.message()));
        QVERIFY2(failed.message().contains(QStringLiteral("rz")), qPrintable(failed.message()));
        QCOMPARE(PgSchema::relations(fresh), QStringList());
        QVERIFY(!fresh.inTransaction());
    }

    // The database tool's commands as an office runs them, with the password in the file.
    void toolCommands()
    {
        test::ProgramFolderFixture folder;
        SampleCatalogue::fill(folder.db(), 1000, 3);
        const QString created = QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=dagl");
        m_cluster->freshDatabase(QStringLiteral("toolmade"));
        m_cluster->freshDatabase(QStringLiteral("toolcopy"));
        const struct
        {
            QStringList args;
            int status;
            const char *says;
        } steps[] = {
            {{QStringLiteral("--server"), created.arg(m_cluster->port()).arg(QStringLiteral("toolmade"))}, 0, "created the tables"},
            {{QStringLiteral("--server"), created.arg(m_cluster->port()).arg(QStringLiteral("toolmade"))}, 3, "not empty"},
            {{QStringLiteral("--server"), created.arg(m_cluster->port()).arg(QStringLiteral("toolmade")),
              QStringLiteral("--copy-from"), folder.path()}, 3, "not empty"},
            {{QStringLiteral("--server"), created.arg(m_cluster->port()).arg(QStringLiteral("toolcopy")),
              QStringLiteral("--copy-from"), folder.path()}, 0, "文件目录: 1000"},
            {{QStringLiteral("--server"), created.arg(unusedPort()).arg(QStringLiteral("toolcopy"))}, 1, "无法连接到数据库服务器"},
            {{QStringLiteral("--server")}, 2, "usage"},
        };
        for (const auto &step : steps) {
            QProcess tool;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PGPASSFILE"), m_cluster->passFile());
            tool.setProcessEnvironment(environment);
            tool.start(QStringLiteral(DAGL_INITDB), step.args);
            QVERIFY(tool.waitForFinished(120000));
            const QString output = QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
            QVERIFY2(output.contains(QString::fromUtf8(step.says)), qPrintable(output));
            QCOMPARE(tool.exitCode(), step.status);
        }
        PgConnection copied(m_cluster->settings(QStringLiteral("toolcopy")));
        copied.open();
        QCOMPARE(copied.scalar(QStringLiteral("select count(*) from 文件目录")).toInt(), 1000);
    }

    // The tool gives a clerk's login role the use of the catalogue, on a new database or on
    // the one already there: the role then saves, changes and deletes records, and may not
    // change the tables.
    void toolGrantsAClerk()
    {
        m_cluster->freshDatabase(QStringLiteral("granted"));
        const QString settings
            = QStringLiteral("host=127.0.0.1 port=%1 dbname=granted user=dagl").arg(m_cluster->port());
        const auto tool = [&](const QStringList &args, int status, const QString &says) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PGPASSFILE"), m_cluster->passFile());
            run.setProcessEnvironment(environment);
            run.start(QStringLiteral(DAGL_INITDB), QStringList{QStringLiteral("--server"), settings} + args);
            QVERIFY(run.waitForFinished(120000));
            const QString output = QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError());
            QVERIFY2(output.contains(says), qPrintable(output));
            QCOMPARE(run.exitCode(), status);
        };
        const QStringList grant{QStringLiteral("--grant"), QStringLiteral("clerk_tool")};
        tool(grant, 1, QStringLiteral("数据库服务器上没有用户“clerk_tool”。请先建立它：CREATE ROLE \"clerk_tool\" LOGIN PASSWORD"));
        tool({QStringLiteral("--grant")}, 2, QStringLiteral("usage"));
        PgConnection owner(m_cluster->settings(QStringLiteral("granted")));
        owner.open();
        owner.executeNative(QStringLiteral("CREATE ROLE clerk_tool LOGIN PASSWORD 'tool-pw'"));
        tool(grant, 0, QStringLiteral("granted clerk_tool the use of the catalogue"));
        QCOMPARE(owner.scalar(QStringLiteral("select count(*) from gly")).toInt(), 1);
        tool(grant, 0, QStringLiteral("the catalogue is there already"));

        QTemporaryDir dir;
        const QString passFile = dir.filePath(QStringLiteral("pgpass"));
        QFile file(passFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("127.0.0.1:*:granted:clerk_tool:tool-pw\n");
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        PgSettings clerkSettings = m_cluster->settings(QStringLiteral("granted"));
        clerkSettings.user = QStringLiteral("clerk_tool");
        clerkSettings.passFile = passFile;
        PgConnection clerk(clerkSettings);
        clerk.open();
        const QString key = clerk.keyColumn(QStringLiteral("文件目录"));
        const qlonglong id
            = clerk.insert(QStringLiteral("insert into 文件目录 (TM) values (?)"), {QStringLiteral("由书记员保存")}, key);
        QVERIFY(id > 0);
        QCOMPARE(clerk.execute(QStringLiteral("update 文件目录 set TM=? where %1=?").arg(key), {QStringLiteral("改过"), id}), 1);
        clerk.execute(QStringLiteral("insert into rz (rznr,sj) values ('x', '2026-01-01 08:00:00')"));
        QCOMPARE(clerk.execute(QStringLiteral("update gly set mm='new' where id=1")), 1);
        QCOMPARE(clerk.execute(QStringLiteral("delete from 文件目录 where %1=?").arg(key), {id}), 1);
        for (const char *sql : {"DROP TABLE rz", "CREATE TABLE other (a integer)", "ALTER TABLE gly ADD COLUMN b integer"})
            QCOMPARE(errorOf([&] { clerk.executeNative(QString::fromUtf8(sql)); }).cause(), Cause::AccessDenied);
    }

    // A workstation across the network reaches the server encrypted, checking the server's
    // certificate against the office's root certificate (set up as the README says); a
    // wrong or missing root certificate is said in Chinese, naming it.
    void encryptionCheckedAgainstTheRoot()
    {
        QTemporaryDir certs;
        const auto openssl = [&](const QStringList &args) {
            QProcess run;
            run.setWorkingDirectory(certs.path());
            run.start(QStringLiteral("openssl"), args);
            QVERIFY2(run.waitForFinished(60000) && run.exitCode() == 0, run.readAllStandardError().constData());
        };
        const QString subject = QStringLiteral("-subj");
        openssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-x509"), QStringLiteral("-days"),
                 QStringLiteral("30"), QStringLiteral("-nodes"), subject, QStringLiteral("/CN=dagl office root"),
                 QStringLiteral("-keyout"), QStringLiteral("root.key"), QStringLiteral("-out"), QStringLiteral("root.crt")});
        openssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-x509"), QStringLiteral("-days"),
                 QStringLiteral("30"), QStringLiteral("-nodes"), subject, QStringLiteral("/CN=another root"),
                 QStringLiteral("-keyout"), QStringLiteral("other.key"), QStringLiteral("-out"), QStringLiteral("other.crt")});
        openssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-nodes"), subject,
                 QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
                 QStringLiteral("-out"), QStringLiteral("server.csr")});
        QFile san(certs.filePath(QStringLiteral("san.ext")));
        QVERIFY(san.open(QIODevice::WriteOnly));
        san.write("subjectAltName=IP:127.0.0.1\n");
        san.close();
        openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                 QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-CA"), QStringLiteral("root.crt"),
                 QStringLiteral("-CAkey"), QStringLiteral("root.key"), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-extfile"), QStringLiteral("san.ext"), QStringLiteral("-out"), QStringLiteral("server.crt")});

        // The server's own files beside its data, readable by the account it runs as only.
        const QString data = m_cluster->folder() + QStringLiteral("/data/");
        for (const char *name : {"server.crt", "server.key"}) {
            const QString target = data + QLatin1String(name);
            QFile::remove(target);
            QVERIFY(QFile::copy(certs.filePath(QLatin1String(name)), target));
            QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            if (::getuid() == 0)
                QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("postgres:"), target}), 0);
        }
        PgConnection owner(m_cluster->settings());
        owner.open();
        owner.executeNative(QStringLiteral("ALTER SYSTEM SET ssl_cert_file = '%1server.crt'").arg(data));
        owner.executeNative(QStringLiteral("ALTER SYSTEM SET ssl_key_file = '%1server.key'").arg(data));
        owner.executeNative(QStringLiteral("ALTER SYSTEM SET ssl = on"));
        owner.scalarNative(QStringLiteral("SELECT pg_reload_conf()"));

        PgSettings settings = m_cluster->settings();
        settings.sslMode = QStringLiteral("verify-full");
        settings.sslRootCert = certs.filePath(QStringLiteral("root.crt"));
        const auto encrypted = [&] {
            PgConnection connection(settings);
            try {
                connection.open();
                return connection.scalarNative(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"))
                    .toBool();
            } catch (const Error &) {
                return false;
            }
        };
        QTRY_VERIFY(encrypted());

        settings.sslRootCert = certs.filePath(QStringLiteral("other.crt"));
        PgConnection wrongRoot(settings);
        QCOMPARE(errorOf([&] { wrongRoot.open(); }).message(),
                 QStringLiteral("数据库服务器 127.0.0.1:%1/dagl 的证书不是根证书 %2 签发的，没有连接。请核对根证书，"
                                "或请管理员检查服务器的证书。")
                     .arg(m_cluster->port())
                     .arg(settings.sslRootCert));
        settings.sslRootCert = certs.filePath(QStringLiteral("none.crt"));
        PgConnection noRoot(settings);
        QCOMPARE(errorOf([&] { noRoot.open(); }).message(),
                 QStringLiteral("找不到根证书文件 %1，无法检查数据库服务器的证书。请把管理员给的根证书放在那里，"
                                "或在 myini.ini 的 [catalogue] 中用 sslrootcert 指明它。")
                     .arg(settings.sslRootCert));

        owner.executeNative(QStringLiteral("ALTER SYSTEM RESET ssl"));
        owner.scalarNative(QStringLiteral("SELECT pg_reload_conf()"));
    }

    // The trial server keeps its port from one start to the next, so that the settings
    // written for it stay right; only when another program has the port is a new one
    // chosen, and said.
    void clusterKeepsItsPort()
    {
        QTemporaryDir dir;
        const auto script = [&](const QString &mode, QString *output = nullptr) {
            QProcess run;
            run.start(QStringLiteral("bash"), {QStringLiteral(DAGL_SOURCE_DIR "/scripts/pg-cluster.sh"), mode, dir.path()});
            QVERIFY(run.waitForFinished(180000));
            QCOMPARE(run.exitCode(), 0);
            if (output)
                *output = QString::fromUtf8(run.readAllStandardOutput());
        };
        const auto port = [&] {
            QFile file(dir.filePath(QStringLiteral("port")));
            return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
        };
        QString said;
        script(QStringLiteral("start"));
        const int first = port();
        QVERIFY(first > 0);
        script(QStringLiteral("stop"));
        script(QStringLiteral("start"), &said);
        QCOMPARE(port(), first);
        QVERIFY2(!said.contains(QLatin1String("NOTE")), qPrintable(said));
        script(QStringLiteral("stop"));

        // Another program listens on the port meanwhile.
        const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
        // The stopped server's connections may still wait out their close on the port.
        const int reuse = 1;
        QCOMPARE(::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(first));
        QCOMPARE(::bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::listen(holder, 1), 0);
        script(QStringLiteral("start"), &said);
        ::close(holder);
        const int second = port();
        QVERIFY(second > 0 && second != first);
        QVERIFY2(said.contains(QStringLiteral("NOTE: port %1, which this server had, is taken by another program; it "
                                              "now listens on port %2.")
                                   .arg(first)
                                   .arg(second)),
                 qPrintable(said));
        PgSettings moved = m_cluster->settings();
        moved.port = second;
        moved.passFile = dir.filePath(QStringLiteral("pgpass"));
        PgConnection connection(moved);
        connection.open();
        QCOMPARE(connection.scalarNative(QStringLiteral("SELECT 1")).toInt(), 1);
        connection.close();
        script(QStringLiteral("stop"));
    }

    void twoWorkstationsSeeEachOther()
    {
        PgConnection first(m_cluster->settings(QStringLiteral("dialect")));
        PgConnection second(m_cluster->settings(QStringLiteral("dialect")));
        first.open();
        second.open();
        const QString count = QStringLiteral("select count(*) from 文件目录 where qzh='900'");
        QCOMPARE(second.scalar(count).toInt(), 0);
        const qlonglong key = first.insert(
            QStringLiteral("insert into 文件目录 (qzh,tm) values ('900','第一台录入')"), {}, QStringLiteral("str_m_date"));
        QCOMPARE(second.scalar(count).toInt(), 1);
        // Uncommitted work stays unseen until it is committed.
        first.beginTransaction();
        first.execute(QStringLiteral("update 文件目录 set tm='第一台修改' where str_m_date=?"), {key});
        const QString title = QStringLiteral("select tm from 文件目录 where str_m_date=?");
        QCOMPARE(second.scalar(title, {key}).toString(), QStringLiteral("第一台录入"));
        first.commit();
        QCOMPARE(second.scalar(title, {key}).toString(), QStringLiteral("第一台修改"));
        QCOMPARE(second.execute(QStringLiteral("delete from 文件目录 where str_m_date=?"), {key}), 1);
        QCOMPARE(first.scalar(count).toInt(), 0);
        QCOMPARE(first.execute(QStringLiteral("delete from 文件目录 where str_m_date=?"), {key}), 0);
    }
};

QTEST_GUILESS_MAIN(TestPostgres)
#include "tst_postgres.moc"
