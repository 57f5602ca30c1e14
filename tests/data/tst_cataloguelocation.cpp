// Where the catalogue is, as myini.ini says: the local file unless the server is chosen,
// the server's settings under libpq's names, and plain words for settings that cannot work.
#include "CatalogueLocation.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace dagl;

class TestCatalogueLocation : public QObject
{
    Q_OBJECT

private slots:
    void readFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("shown"); // displayName() of the server settings
        QTest::addColumn<QString>("problem"); // a piece of the message, empty for none

        QTest::newRow("no file section") << QByteArray("[dh]\r\nmldm=WS\r\n") << false << QString() << QString();
        QTest::newRow("local") << QByteArray("[catalogue]\r\nkind=local\r\nhost=db1\r\n") << false << QString()
                               << QString();
        QTest::newRow("server, names in any case")
            << QByteArray("[Catalogue]\r\nKIND=Server\r\nHost=db1.office\r\nport=5433\r\ndbname=dagl\r\nuser=clerk\r\n")
            << true << "db1.office:5433/dagl" << QString();
        QTest::newRow("server by service") << QByteArray("[catalogue]\r\nkind=server\r\nservice=archives\r\n") << true
                                           << "（服务 archives）" << QString();
        QTest::newRow("server without a user")
            << QByteArray("[catalogue]\r\nkind=server\r\nhost=db1\r\ndbname=dagl\r\n") << true << "db1/dagl"
            << "需要 host、dbname 和 user";
        QTest::newRow("a port that is no port")
            << QByteArray("[catalogue]\r\nkind=server\r\nhost=db1\r\nport=54a\r\ndbname=d\r\nuser=u\r\n") << true
            << "db1/d" << "port=54a";
        QTest::newRow("a password in clear")
            << QByteArray("[catalogue]\r\nkind=server\r\nhost=db1\r\ndbname=d\r\nuser=u\r\npassword=secret\r\n")
            << true << "db1/d" << "不能保存数据库服务器的密码";
        QTest::newRow("an unknown kind") << QByteArray("[catalogue]\r\nkind=mysql\r\n") << true << "localhost"
                                         << "kind=mysql";
    }
    void readFromTheSettingsFile()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, server);
        QFETCH(QString, shown);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("myini.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();
        const CatalogueLocation location = CatalogueLocation::load(IniFile(file.fileName()));
        QCOMPARE(location.onServer(), server);
        if (server)
            QCOMPARE(location.server.displayName(), shown);
        if (problem.isEmpty())
            QVERIFY2(location.problem.isEmpty(), qPrintable(location.problem));
        else
            QVERIFY2(location.problem.contains(problem), qPrintable(location.problem));
    }

    // Saved and read back the same, the password file included; back to the local file,
    // the server's settings stay for a later change of mind.
    void savedAndReadBack()
    {
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        CatalogueLocation location;
        location.kind = CatalogueLocation::Kind::Server;
        location.server.host = QStringLiteral("10.0.0.5");
        location.server.port = 5432;
        location.server.database = QStringLiteral("档案");
        location.server.user = QStringLiteral("clerk");
        location.server.passFile = QStringLiteral("/home/clerk/.pgpass");
        location.save(ini);
        const CatalogueLocation read = CatalogueLocation::load(ini);
        QVERIFY(read.onServer());
        QVERIFY(read.problem.isEmpty());
        QCOMPARE(read.server.parameters().size(), 6); // with libpq's connect timeout
        QCOMPARE(read.server.database, QStringLiteral("档案"));
        QCOMPARE(read.server.passFile, QStringLiteral("/home/clerk/.pgpass"));
        QVERIFY(!QFile(ini.path()).readAll().contains("password"));

        CatalogueLocation local;
        local.save(ini);
        QVERIFY(!CatalogueLocation::load(ini).onServer());
        QCOMPARE(ini.read(CatalogueLocation::kSection, QStringLiteral("host")), QStringLiteral("10.0.0.5"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueLocation)
#include "tst_cataloguelocation.moc"
