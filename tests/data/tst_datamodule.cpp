#include "DataControls.h"
#include "CatalogueLocation.h"
#include "DatasetModel.h"
#include "Error.h"
#include "IniFile.h"
#include "PgCluster.h"
#include "Schema.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using namespace dagl;

class TestDataModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void connectionFailures_data()
    {
        QTest::addColumn<bool>("missing"); // else a wrong password
        QTest::addColumn<QString>("told");
        QTest::newRow("missing file") << true << QStringLiteral("无法链接到数据库\n找不到文件或文件夹。");
        QTest::newRow("wrong password") << false
                                        << QStringLiteral(
                                               "无法链接到数据库\n数据库密码不对，或不是本程序的数据库文件。");
    }
    void connectionFailures()
    {
        QFETCH(bool, missing);
        QFETCH(QString, told);
        test::ProgramFolderFixture folder(!missing);
        if (!missing) {
            // A database of the right shape under another password.
            QFile::remove(folder.databasePath());
            Schema::NewDatabase spec;
            spec.path = folder.databasePath();
            spec.password = QStringLiteral("other");
            Schema::create(spec);
        }
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(!dm.isConnected());
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, told);
        QCOMPARE(ui.shown[0].caption, QStringLiteral("错误"));
        QCOMPARE(ui.shown[0].icon, Ui::Icon::None);
        QCOMPARE(ui.quitRequests, 1);
        QCOMPARE(dm.programFolder(), folder.path());
    }

    // A catalogue on a server that cannot be used: the message says why in Chinese before
    // the program ends; the local file is never opened instead.
    void serverFailures_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("told");
        // Port 1 on the loopback: nothing listens there.
        QTest::newRow("server not running")
            << QStringLiteral("kind=server\nhost=127.0.0.1\nport=1\ndbname=dagl\nuser=dagl\n")
            << QStringLiteral("无法连接到数据库服务器 127.0.0.1:1/dagl：服务器没有启动，或地址、端口不对，或网络不通。");
        QTest::newRow("password in myini.ini")
            << QStringLiteral("kind=server\nhost=127.0.0.1\ndbname=dagl\nuser=dagl\npassword=secret\n")
            << QStringLiteral("myini.ini 中不能保存数据库服务器的密码。");
        QTest::newRow("unknown kind") << QStringLiteral("kind=cloud\n") << QStringLiteral("kind=cloud 无法识别");
    }
    void serverFailures()
    {
        QFETCH(QString, settings);
        QFETCH(QString, told);
        test::ProgramFolderFixture folder;
        QFile ini(folder.path() + QStringLiteral("myini.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[catalogue]\n" + settings.toUtf8());
        ini.close();
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(!dm.isConnected());
        QCOMPARE(ui.shown.size(), 1);
        QVERIFY2(ui.shown[0].text.startsWith(QStringLiteral("无法链接到数据库\n")), qPrintable(ui.shown[0].text));
        QVERIFY2(ui.shown[0].text.contains(told), qPrintable(ui.shown[0].text));
        QCOMPARE(ui.quitRequests, 1);
    }

    // The password file myini.ini names, for a server that asks for a password: what is
    // wrong with the file is said, naming it, instead of a password said to be missing.
    void passwordFileProblems_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file; "right": the cluster's own line
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("told"); // %1: the file, %2: the port
        QTest::newRow("no such file") << QByteArray() << 0600
                                      << "数据库服务器要求用户“dagl”的密码，但密码文件 %1 不存在。";
        QTest::newRow("the right password, readable by others")
            << QByteArray("right") << 0644
            << "数据库服务器要求用户“dagl”的密码，但密码文件 %1 权限过宽（别的用户也能读写），没有被使用。"
               "请执行 chmod 600 %1";
        QTest::newRow("no line for this server")
            << QByteArray("127.0.0.1:1:dagl:dagl:x\n") << 0600
            << "数据库服务器要求用户“dagl”的密码，但密码文件 %1 里没有这台服务器的密码：需要一行“127.0.0.1:%2:dagl:dagl:密码”。";
    }
    void passwordFileProblems()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(QString, told);
        if (!m_cluster)
            m_cluster = std::make_unique<test::PgCluster>();
        DAGL_REQUIRE_POSTGRES(*m_cluster);
        test::ProgramFolderFixture folder(false);
        const QString path = folder.path() + QStringLiteral("pgpass");
        if (!content.isEmpty()) {
            QFile own(m_cluster->passFile());
            QVERIFY(own.open(QIODevice::ReadOnly));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content == "right" ? own.readAll() : content);
            file.close();
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        }
        CatalogueLocation location;
        location.kind = CatalogueLocation::Kind::Server;
        location.server = m_cluster->settings();
        location.server.passFile = path;
        location.save(IniFile::settingsOf(folder.path()));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(!dm.isConnected());
        QCOMPARE(ui.texts(), QStringList{QStringLiteral("无法链接到数据库\n")
                                           + told.replace(QLatin1String("%1"), path)
                                                 .replace(QLatin1String("%2"), QString::number(m_cluster->port()))});
        QCOMPARE(ui.quitRequests, 1);
    }

    void runSqlAndOpenSqlSwallowErrors()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(dm.isConnected());
        QVERIFY(dm.ADOConnection1.connectionString().endsWith(
            QStringLiteral("data/kdmx.mdb;Persist Security Info=True;Jet OLEDB:Database Password=40718263950")));

        QVERIFY(!dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('操作员：O'Brien登录系统','2026/1/1 1:00:00')")));
        QCOMPARE(folder.count(QStringLiteral("rz")), 0);
        QVERIFY(dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('x','2026/1/1 1:00:00')")));
        QCOMPARE(folder.count(QStringLiteral("rz")), 1);

        Dataset query(QStringLiteral("ADOQuery1"));
        dm.OpenSql(QStringLiteral("select glymc from gly"), query);
        QCOMPARE(query.recordCount(), 1);
        dm.OpenSql(QStringLiteral("select * from rz"), query);
        QCOMPARE(query.recordCount(), 1);
        QVERIFY(query.fieldIndex(QStringLiteral("glymc")) < 0); // only the new statement's rows
        dm.OpenSql(QStringLiteral("select * from nosuchtable"), query);
        QVERIFY(!query.isOpen());
        QVERIFY(ui.shown.isEmpty());
    }

    void sharedDatasetsOpen()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        for (Dataset *ds : {&dm.Tsyyp, &dm.Twjml, &dm.Tdaly, &dm.Tcxtj, &dm.TJCsj, &dm.TYjb}) {
            QVERIFY(!ds->isOpen());
            ds->open();
            QVERIFY2(ds->isOpen(), qPrintable(ds->objectName()));
        }
        QCOMPARE(dm.Tsyyp.commandText(), QStringLiteral("select * from 文件目录  order by sxh"));
        QCOMPARE(dm.Tsyyp.fieldCount(), 28);
        QCOMPARE(dm.TJCsj.fieldCount(), 4);
        // Closing the connection closes every dataset on it.
        dm.ADOConnection1.close();
        QVERIFY(!dm.Tsyyp.isOpen() && !dm.TJCsj.isOpen());
    }

    // Controls bound to one dataset share its current row.
    void boundControlsShareTheRow()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (tm, ajh, sxh) values ('甲', 1, '1')"));
        folder.exec(QStringLiteral("insert into 文件目录 (tm, ajh, sxh) values ('乙', 2, '2')"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        dm.Tsyyp.open();

        QWidget window;
        auto *title = new DBEdit(&window);
        auto *sameTitle = new DBEdit(&window);
        auto *volume = new DBEdit(&window);
        title->bind(&dm.Tsyyp, QStringLiteral("TM"));
        sameTitle->bind(&dm.Tsyyp, QStringLiteral("tm"));
        volume->bind(&dm.Tsyyp, QStringLiteral("AJH"));
        DBGrid grid(&window);
        grid.setDataset(&dm.Tsyyp, {{QStringLiteral("TM"), QStringLiteral("题名")}, {QStringLiteral("AJH"), QStringLiteral("案卷号")}});
        QAbstractItemModelTester tester(grid.datasetModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        window.show();
        QCOMPARE(title->text(), QStringLiteral("甲"));

        title->setFocus();
        title->selectAll();
        test::type(title, QStringLiteral("丙"));
        QCOMPARE(dm.Tsyyp.state(), Dataset::State::Edit);
        QCOMPARE(sameTitle->text(), QStringLiteral("丙"));
        QCOMPARE(grid.datasetModel()->index(0, 0).data().toString(), QStringLiteral("丙"));

        // A number typed half-way is not refused while typing; a bad one is at the post.
        volume->setFocus();
        volume->selectAll();
        QTest::keyClicks(volume, QStringLiteral("x"));
        QVERIFY(dm.Tsyyp.isEditing());
        bool refused = false;
        try {
            dm.Tsyyp.post();
        } catch (const Error &) {
            refused = true;
        }
        QVERIFY(refused);
        volume->selectAll();
        QTest::keyClicks(volume, QStringLiteral("7"));
        dm.Tsyyp.post();
        QCOMPARE(folder.scalar(QStringLiteral("select ajh from 文件目录 where tm='丙'")).toInt(), 7);

        // Moving in the grid moves every control.
        grid.setCurrentIndex(grid.datasetModel()->index(1, 0));
        QCOMPARE(dm.Tsyyp.currentRow(), 1);
        QCOMPARE(title->text(), QStringLiteral("乙"));
        QCOMPARE(volume->text(), QStringLiteral("2"));

        dm.Tsyyp.append();
        QCOMPARE(grid.datasetModel()->rowCount(), 3);
        QCOMPARE(title->text(), QString());
        dm.Tsyyp.cancel();
        QCOMPARE(grid.datasetModel()->rowCount(), 2);
        dm.Tsyyp.sort(QStringLiteral("AJH DESC"));
        QCOMPARE(grid.datasetModel()->index(0, 0).data().toString(), QStringLiteral("丙"));
        dm.Tsyyp.deleteRecord();
        dm.Tsyyp.close();
        QCOMPARE(grid.datasetModel()->rowCount(), 0);
        QCOMPARE(title->text(), QString());
    }

private:
    std::unique_ptr<test::PgCluster> m_cluster; // started by the first test that needs it
};

QTEST_MAIN(TestDataModule)
#include "tst_datamodule.moc"
