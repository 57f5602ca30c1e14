#include "InitInfo.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTest>

using namespace dagl;

class TestStartUp : public QObject
{
    Q_OBJECT

    static void touch(const QString &path, const QByteArray &bytes = {})
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void firstStartPreparesInitDir()
    {
        test::ProgramFolderFixture folder(false);
        QVERIFY(CheckInitDir(folder.path()));
        QCOMPARE(QFileInfo(folder.path() + QStringLiteral("InitDir/Init.ini")).size(), 0);
        InitInfo info;
        ReadInitInfo(folder.path(), info);
        QCOMPARE(info.size(), 0);
        QCOMPARE(info.value(QStringLiteral("SoftName")), QString());
    }

    void existingIniNeverChanged()
    {
        test::ProgramFolderFixture folder(false);
        QDir(folder.path()).mkdir(QStringLiteral("initdir")); // another letter case
        const QByteArray content = QStringEncoder("GBK")(
            QStringLiteral("[InitParams]\r\nSoftName=青穗档案\r\nVer=V2.1\r\nTel=\r\nWeb=") + QString(3000, QLatin1Char('w'))
            + QStringLiteral("\r\n"));
        touch(folder.path() + QStringLiteral("initdir/init.INI"), content);
        for (int run = 0; run < 2; ++run)
            QVERIFY(CheckInitDir(folder.path()));
        QFile f(folder.path() + QStringLiteral("initdir/init.INI"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
        QVERIFY(!QFileInfo::exists(folder.path() + QStringLiteral("InitDir")));

        InitInfo info;
        ReadInitInfo(folder.path(), info);
        QCOMPARE(info.value(QStringLiteral("SoftName")), QStringLiteral("青穗档案"));
        QCOMPARE(info.value(QStringLiteral("Ver")), QStringLiteral("V2.1"));
        QCOMPARE(info.value(QStringLiteral("Web")).size(), 2047);
        QCOMPARE(info.size(), 3); // the empty Tel is not stored
    }

    void picturesInLookupOrder()
    {
        test::ProgramFolderFixture folder(false);
        CheckInitDir(folder.path());
        const QString dir = folder.path() + QStringLiteral("InitDir/");
        touch(dir + QStringLiteral("MainIni.bmp"));
        InitInfo info;
        ReadInitInfo(folder.path(), info);
        QCOMPARE(info.value(QStringLiteral("Main")), dir + QStringLiteral("MainIni.bmp"));
        QCOMPARE(info.value(QStringLiteral("Start")), QString());
        QCOMPARE(info.value(QStringLiteral("About")), QString());
        touch(dir + QStringLiteral("MainBak.bmp"));
        touch(dir + QStringLiteral("Main.bmp"));
        ReadInitInfo(folder.path(), info);
        QCOMPARE(info.value(QStringLiteral("Main")), dir + QStringLiteral("Main.bmp"));
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
