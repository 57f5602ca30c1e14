#include "Backup.h"
#include "Connection.h"
#include "Error.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

using namespace dagl;

class TestBackup : public QObject
{
    Q_OBJECT

private slots:
    void naming()
    {
        QCOMPARE(Backup::dayFolderName(QDate(2026, 3, 7)), QStringLiteral("20260307"));
        QCOMPARE(Backup::manualBackupName(QDate(2026, 12, 10)), QStringLiteral("20261210_kdmx.mdb"));
    }

    void exitCopyReplacesTheDaysCopy()
    {
        test::ProgramFolderFixture folder;
        const QDate day(2026, 12, 10);
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('first','2026/12/10 8:00:00')"));
        QCOMPARE(Backup::exitCopy(folder.db(), folder.path(), day), QString());
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('second','2026/12/10 9:00:00')"));
        // An existing folder of another letter case is the same folder.
        QVERIFY(QDir(folder.path()).rename(QStringLiteral("backup"), QStringLiteral("BACKUP")));
        QCOMPARE(Backup::exitCopy(folder.db(), folder.path(), day), QString());
        QVERIFY(!QFile::exists(folder.path() + QStringLiteral("backup")));

        const QString copy = folder.path() + QStringLiteral("BACKUP/20261210/kdmx.mdb");
        QCOMPARE(QDir(folder.path() + QStringLiteral("BACKUP/20261210")).entryList(QDir::Files),
                 QStringList{QStringLiteral("kdmx.mdb")});
        const auto copied = test::openCopy(copy); // the copy is whole and keeps the password
        QCOMPARE(test::rowCount(*copied, QStringLiteral("rz")), 2);
    }

    void folderThatCannotBeMade()
    {
        test::ProgramFolderFixture folder;
        QFile blocker(folder.path() + QStringLiteral("backup"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        bool failed = false;
        try {
            Backup::exitCopy(folder.db(), folder.path(), QDate(2026, 1, 1));
        } catch (const Error &error) {
            failed = !error.message().isEmpty();
        }
        QVERIFY(failed);
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
