// Where the catalogue is, as myini.ini says: the local file unless the server is chosen,
// the server's settings under libpq's names, and plain words for settings that cannot work.
#include "CatalogueLocation.h"
#include "IniFile.h"
#include "PgPassFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace dagl;

Q_DECLARE_METATYPE(dagl::PgPassFile::Finding)

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
        QTest::newRow("encryption checked against a root certificate")
            << QByteArray("[catalogue]\r\nkind=server\r\nhost=db1\r\ndbname=d\r\nuser=u\r\nsslmode=verify-full\r\n"
                          "sslrootcert=/etc/dagl/root.crt\r\n")
            << true << "db1/d" << QString();
        QTest::newRow("an unknown encryption")
            << QByteArray("[catalogue]\r\nkind=server\r\nhost=db1\r\ndbname=d\r\nuser=u\r\nsslmode=verify\r\n") << true
            << "db1/d"
            << "myini.ini 的 [catalogue] 中 sslmode=verify 无法识别，应为 disable、allow、prefer、require、verify-ca 或 "
               "verify-full。";
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

    // The password file as libpq reads it, and in plain words why it gave no password.
    void passwordFile_data()
    {
        using F = PgPassFile::Finding;
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<int>("mode");           // octal permissions
        QTest::addColumn<F>("finding");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("told"); // %1: the file

        const QByteArray right("127.0.0.1:5432:dagl:clerk:s3cret\n");
        QTest::newRow("no such file") << QByteArray() << 0600 << F::Missing << 0 << QString()
                                      << "密码文件 %1 不存在。";
        QTest::newRow("readable by others") << right << 0644 << F::TooOpen << 0 << QString()
                                            << "密码文件 %1 权限过宽（别的用户也能读写），没有被使用。请执行 chmod 600 %1";
        QTest::newRow("writable by the group") << right << 0620 << F::TooOpen << 0 << QString()
                                               << "密码文件 %1 权限过宽（别的用户也能读写），没有被使用。请执行 chmod 600 %1";
        QTest::newRow("another port only") << QByteArray("127.0.0.1:5433:dagl:clerk:x\n") << 0600 << F::NoLine << 0
                                           << QString()
                                           << "密码文件 %1 里没有这台服务器的密码：需要一行“127.0.0.1:5432:dagl:clerk:密码”。";
        QTest::newRow("the line commented out") << QByteArray("#127.0.0.1:5432:dagl:clerk:x\n") << 0600 << F::NoLine << 0
                                                << QString()
                                                << "密码文件 %1 里没有这台服务器的密码：需要一行“127.0.0.1:5432:dagl:clerk:密码”。";
        QTest::newRow("exact line") << right << 0600 << F::Found << 1 << "s3cret" << QString();
        QTest::newRow("wildcards, first match wins")
            << QByteArray("other:*:*:*:no\r\n*:*:dagl:*:yes\r\n127.0.0.1:5432:dagl:clerk:late\n") << 0600 << F::Found
            << 2 << "yes" << QString();
        QTest::newRow("escaped colon and backslash")
            << QByteArray("127.0.0.1:5432:dagl:clerk:a\\:b\\\\c:d\n") << 0400 << F::Found << 1 << "a:b\\c" << QString();
        QTest::newRow("a star only as the whole field") << QByteArray("127.0.0.*:5432:dagl:clerk:x\n") << 0600
                                                        << F::NoLine << 0 << QString()
                                                        << "密码文件 %1 里没有这台服务器的密码：需要一行“127.0.0.1:5432:dagl:clerk:密码”。";
    }
    void passwordFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(PgPassFile::Finding, finding);
        QFETCH(int, line);
        QFETCH(QString, password);
        QFETCH(QString, told);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pgpass"));
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        }
        const PgPassFile::Key key{QStringLiteral("127.0.0.1"), QStringLiteral("5432"), QStringLiteral("dagl"),
                                  QStringLiteral("clerk")};
        const PgPassFile::Result result = PgPassFile::look(path, key);
        QCOMPARE(result.finding, finding);
        QCOMPARE(result.line, line);
        QCOMPARE(result.password, password);
        QCOMPARE(PgPassFile::problemText(result, key), told.isEmpty() ? QString() : told.arg(path));
    }

    // The encryption settings reach libpq under its own names.
    void encryptionPassedOn()
    {
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        CatalogueLocation location;
        location.kind = CatalogueLocation::Kind::Server;
        location.server.host = QStringLiteral("db1.office");
        location.server.database = QStringLiteral("dagl");
        location.server.user = QStringLiteral("clerk1");
        location.server.sslMode = QStringLiteral("verify-full");
        location.server.sslRootCert = QStringLiteral("/etc/dagl/root.crt");
        location.save(ini);
        QStringList given;
        for (const PgSettings::Parameter &parameter : CatalogueLocation::load(ini).server.parameters())
            given << QString::fromLatin1(parameter.keyword) + QLatin1Char('=') + parameter.value;
        QVERIFY2(given.contains(QStringLiteral("sslmode=verify-full")), qPrintable(given.join(QLatin1Char(' '))));
        QVERIFY(given.contains(QStringLiteral("sslrootcert=/etc/dagl/root.crt")));
    }

    void passwordFileThatIsAFolder()
    {
        QTemporaryDir dir;
        const PgPassFile::Result result = PgPassFile::look(dir.path(), {});
        QCOMPARE(result.finding, PgPassFile::Finding::NotPlainFile);
        QCOMPARE(PgPassFile::problemText(result, {}), QStringLiteral("密码文件 %1 不是普通文件。").arg(dir.path()));
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
        QFile written(ini.path());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(!written.readAll().contains("password"));

        CatalogueLocation local;
        local.save(ini);
        QVERIFY(!CatalogueLocation::load(ini).onServer());
        QCOMPARE(ini.read(CatalogueLocation::kSection, QStringLiteral("host")), QStringLiteral("10.0.0.5"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueLocation)
#include "tst_cataloguelocation.moc"
