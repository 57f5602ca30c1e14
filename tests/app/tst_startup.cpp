#include "InitInfo.h"
#include "Program.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
    void initTestCase() { test::pinLocale(); }

    // A database that cannot be opened: the window says why on the line after the notice,
    // and the program ends before any window is made.
    void databaseThatCannotBeOpened_data()
    {
        QTest::addColumn<QByteArray>("content"); // of data/kdmx.mdb; null: no file
        QTest::addColumn<QString>("told");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("无法链接到数据库\n找不到文件或文件夹。");
        QTest::newRow("damaged") << QByteArray(8192, '\x5a')
                                 << QStringLiteral("无法链接到数据库\n数据库密码不对，或不是本程序的数据库文件。");
    }
    void databaseThatCannotBeOpened()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, told);
        test::ProgramFolderFixture folder(false);
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("data")));
        if (!content.isNull())
            touch(folder.databasePath(), content);
        test::FakeUi ui;
        Program program(folder.path(), ui);
        QVERIFY(!program.started());
        QCOMPARE(ui.texts(), QStringList { told });
        QCOMPARE(ui.shown[0].caption, QStringLiteral("错误"));
        QCOMPARE(ui.quitRequests, 1);
    }

    // Half-made copies, compactions and workbooks of a run that was killed are removed when
    // the program starts next; the finished copies and the operator's files stay.
    void leftoversOfAKilledRunAreRemoved_data()
    {
        QTest::addColumn<bool>("anotherCopyRuns");
        QTest::newRow("alone") << false;
        QTest::newRow("another copy at work") << true;
    }
    void leftoversOfAKilledRunAreRemoved()
    {
        QFETCH(bool, anotherCopyRuns);
        test::ProgramFolderFixture folder;
        for (const char *made : { "BACKUP", "BACKUP/20261210", "Excel" })
            QVERIFY(QDir(folder.path()).mkpath(QString::fromLatin1(made)));
        const QStringList leftovers = { "data/kdmx.mdb.part", "data/kdmx.mdb.part-journal", "data/kdmx.BAK",
            "data/kdmx.BAK-journal", "BACKUP/20261211_kdmx.mdb.part", "BACKUP/20261211_kdmx.mdb.part-journal",
            "BACKUP/20261210/kdmx.mdb.part", "BACKUP/20261210/kdmx.mdb.part-journal", "Excel/数据导出.xlsx.part" };
        const QStringList kept = { "BACKUP/20261210_kdmx.mdb", "BACKUP/20261210/kdmx.mdb", "Excel/数据导出.xlsx",
            "Excel/notes.part", "data/readme.txt" };
        for (const QString &name : leftovers + kept)
            touch(folder.path() + name, QByteArray(4096, 'x'));
        if (anotherCopyRuns)
            folder.db(); // holds the database open, as another copy of the program does
        test::FakeUi ui;
        Program program(folder.path(), ui);
        QVERIFY(program.started());
        for (const QString &name : leftovers)
            QVERIFY2(QFileInfo::exists(folder.path() + name) == anotherCopyRuns, qPrintable(name));
        for (const QString &name : kept)
            QVERIFY2(QFileInfo::exists(folder.path() + name), qPrintable(name));
        QVERIFY(ui.shown.isEmpty());
    }

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

    // The set-up's tool writes the branding of a folder that has none, and keeps any it has.
    void setUpWritesBrandingOnlyWhenMissing_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the folder
        QTest::addColumn<bool>("withDatabase");
        QTest::newRow("new folder") << QStringList {} << false;
        QTest::newRow("new folder with records") << QStringList { "--fill", "3" } << false;
        QTest::newRow("existing folder lacking it") << QStringList { "--branding" } << true;
    }
    void setUpWritesBrandingOnlyWhenMissing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withDatabase);
        test::ProgramFolderFixture folder(withDatabase);
        auto runTool = [&] {
            QProcess tool;
            tool.start(QStringLiteral(DAGL_INITDB), QStringList { folder.path() } + arguments);
            return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
        };
        QCOMPARE(runTool(), 0);
        QVERIFY(QFileInfo::exists(folder.databasePath()));
        const QString ini = folder.path() + QStringLiteral("InitDir/Init.ini");
        QFile written(ini);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), DefaultInitIni(QStringLiteral(DAGL_VERSION)));
        written.close();
        InitInfo info;
        ReadInitInfo(folder.path(), info);
        QCOMPARE(info.value(QStringLiteral("SoftName")), QStringLiteral("档案管理系统"));
        QCOMPARE(info.value(QStringLiteral("Ver")), QStringLiteral("V") + QStringLiteral(DAGL_VERSION));
        QCOMPARE(info.value(QStringLiteral("CompanyName")), QStringLiteral("青穗软件"));

        // Never over a file that is there, even an empty one the program made.
        QVERIFY(QFile::remove(ini));
        QVERIFY(CheckInitDir(folder.path()));
        const int again = runTool();
        QVERIFY(again == 0 || again == 3); // 3: the database is there
        QCOMPARE(QFileInfo(ini).size(), 0);
        QCOMPARE(SetUpInitIni(folder.path(), QStringLiteral("9")), InitIniSetup::Kept);
        QCOMPARE(QFileInfo(ini).size(), 0);
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

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
