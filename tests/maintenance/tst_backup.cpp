#include "Backup.h"
#include "Connection.h"
#include "DatabaseFile.h"
#include "DatabaseLock.h"
#include "Error.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace dagl;

Q_DECLARE_METATYPE(dagl::Cause)

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A database file made directly through the engine: keyed or not, with the given tables.
void makeDatabase(const QString &path, const QByteArray &key, const QStringList &tables)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    if (!key.isEmpty())
        sqlite3_key(db, key.constData(), int(key.size()));
    for (const QString &table : tables) {
        const QByteArray sql
            = QStringLiteral("CREATE TABLE \"%1\" (id INTEGER PRIMARY KEY, x TEXT)").arg(table).toUtf8();
        QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void naming()
    {
        QCOMPARE(Backup::dayFolderName(QDate(2026, 3, 7)), QStringLiteral("20260307"));
        QCOMPARE(Backup::manualBackupName(QDate(2026, 12, 10)), QStringLiteral("20261210_kdmx.mdb"));
        QCOMPARE(Backup::replacedCopyName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))),
            QStringLiteral("20260102_030405_kdmx.mdb"));
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
            QStringList { QStringLiteral("kdmx.mdb") });
        const auto copied = test::openCopy(copy); // the copy is whole and keeps the password
        QCOMPARE(test::rowCount(*copied, QStringLiteral("rz")), 2);
    }

    void folderThatCannotBeMade()
    {
        test::ProgramFolderFixture folder;
        QFile blocker(folder.path() + QStringLiteral("backup"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // Said, not thrown: the program ends all the same.
        QVERIFY(!Backup::exitCopy(folder.db(), folder.path(), QDate(2026, 1, 1)).isEmpty());
    }

    void failedCopyKeepsTheEarlierOne()
    {
        test::ProgramFolderFixture folder;
        const QString target = folder.path() + QStringLiteral("copy.mdb");
        QCOMPARE(Backup::copyDatabase(folder.db(), folder.databasePath(), target), QString());
        const QByteArray before = contents(target);
        // The temporary name is taken by a folder: the new copy cannot be made.
        QVERIFY(QDir().mkpath(DatabaseFile::sideName(target) + QStringLiteral("/x")));
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('later','2026/12/10 9:00:00')"));
        QVERIFY(!Backup::copyDatabase(folder.db(), folder.databasePath(), target).isEmpty());
        QCOMPARE(contents(target), before);
    }

    void backupIsASnapshotThatOpensWithThePassword()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 300, 7);
        dm.Tsyyp.open();
        const QString target = folder.path() + QStringLiteral("snap.mdb");
        QCOMPARE(Backup::copyDatabase(dm.ADOConnection1, folder.databasePath(), target), QString());
        const auto copy = test::openCopy(target);
        QCOMPARE(test::rowCount(*copy, Schema::kCatalogueTable), 300);
        QVERIFY(dm.Tsyyp.isOpen()); // the database stayed connected
        QCOMPARE(dm.Tsyyp.recordCount(), 300);
    }

    void manualBackup()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        const QDate day(2026, 12, 10);
        const QString chosen = folder.path() + QStringLiteral("elsewhere");
        QVERIFY(QDir().mkpath(chosen));
        QStringList asked;
        auto answer = [&](bool yes) {
            return [&asked, yes](const QString &name) {
                asked << name;
                return yes;
            };
        };
        QVERIFY(Backup::saveDatabaseAsDateTime(dm, chosen, day, answer(true)));
        QVERIFY(asked.isEmpty());
        const QString copy = chosen + QStringLiteral("/20261210_kdmx.mdb");
        const QByteArray first = contents(copy);
        QVERIFY(!first.isEmpty());

        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('later','2026/12/10 9:00:00')"));
        QVERIFY(!Backup::saveDatabaseAsDateTime(dm, chosen, day, answer(false)));
        QCOMPARE(asked, QStringList { QStringLiteral("20261210_kdmx.mdb") });
        QCOMPARE(contents(copy), first);
        QVERIFY(Backup::saveDatabaseAsDateTime(dm, chosen, day, answer(true)));
        QCOMPARE(test::rowCount(*test::openCopy(copy), QStringLiteral("rz")), 1);

        // A folder that is gone: the backup fails, the program's BACKUP folder is made.
        QVERIFY(!Backup::saveDatabaseAsDateTime(dm, folder.path() + QStringLiteral("gone"), day, answer(true)));
        QVERIFY(QFileInfo(folder.path() + QStringLiteral("BACKUP")).isDir());
        QVERIFY(!QFile::exists(folder.path() + QStringLiteral("gone")));
    }

    void restoreRefusesWhatIsNoDatabaseOfTheProgram_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Cause>("cause");
        QTest::newRow("foreign SQLite file") << "foreign" << Cause::NotADatabase;
        QTest::newRow("wrong password") << "password" << Cause::WrongPassword;
        QTest::newRow("right password, tables missing") << "tables" << Cause::NotADatabase;
        QTest::newRow("truncated copy") << "truncated" << Cause::Corrupt;
        QTest::newRow("text file") << "text" << Cause::WrongPassword;
        QTest::newRow("empty file") << "empty" << Cause::NotADatabase;
        QTest::newRow("missing file") << "missing" << Cause::NotFound;
    }
    void restoreRefusesWhatIsNoDatabaseOfTheProgram()
    {
        QFETCH(QString, kind);
        QFETCH(Cause, cause);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('live','2026/12/10 9:00:00')"));
        dm.TYjb.open();
        const QString candidate = folder.path() + QStringLiteral("candidate.mdb");
        const QByteArray key = Schema::kDatabasePassword.toUtf8();
        if (kind == QLatin1String("foreign")) {
            makeDatabase(candidate, {}, Backup::requiredTables());
        } else if (kind == QLatin1String("password")) {
            makeDatabase(candidate, "12345678901", Backup::requiredTables());
        } else if (kind == QLatin1String("tables")) {
            makeDatabase(candidate, key, { QStringLiteral("gly"), QStringLiteral("rz") });
        } else if (kind == QLatin1String("truncated")) {
            test::ProgramFolderFixture other;
            SampleCatalogue::fill(other.db(), 2000, 3);
            const QByteArray whole = contents(other.databasePath());
            QFile f(candidate);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(whole.left(whole.size() / 2));
        } else if (kind != QLatin1String("missing")) {
            QFile f(candidate);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (kind == QLatin1String("text"))
                f.write("这不是数据库\r\nnot a database\r\n");
        }
        const QByteArray live = contents(folder.databasePath());
        const Backup::RestoreResult result = Backup::restore(dm, candidate, QDateTime::currentDateTime());
        QCOMPARE(result.outcome, Backup::RestoreOutcome::NotADatabase);
        QCOMPARE(result.cause, causeText(cause));
        QCOMPARE(contents(folder.databasePath()), live);
        QVERIFY(dm.ADOConnection1.isOpen());
        QVERIFY(dm.TYjb.isOpen());
        QVERIFY(!QFile::exists(folder.path() + QStringLiteral("backup")));
    }

    void restoreOfAGoodCopy()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('in the copy','2026/12/10 9:00:00')"));
        const QString copy = folder.path() + QStringLiteral("BACKUP/20261210_kdmx.mdb");
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("BACKUP")));
        QCOMPARE(Backup::copyDatabase(dm.ADOConnection1, folder.databasePath(), copy), QString());
        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('after the copy','2026/12/10 10:00:00')"));

        // The live file itself cannot be restored over itself.
        QCOMPARE(Backup::restore(dm, folder.databasePath(), QDateTime::currentDateTime()).outcome,
            Backup::RestoreOutcome::CopyFailed);
        QVERIFY(dm.ADOConnection1.isOpen());

        const QDateTime when(QDate(2026, 12, 10), QTime(11, 0, 0));
        QCOMPARE(Backup::restore(dm, copy, when).outcome, Backup::RestoreOutcome::Restored);
        QCOMPARE(contents(folder.databasePath()), contents(copy));
        Dataset rows(QStringLiteral("rows"));
        dm.OpenSql(QStringLiteral("select rznr from rz"), rows);
        QCOMPARE(rows.recordCount(), 1);
        QCOMPARE(rows.text(0), QStringLiteral("in the copy"));
        // The database it replaced is kept.
        const QString kept = folder.path() + QStringLiteral("BACKUP/20261210_110000_kdmx.mdb");
        QCOMPARE(test::rowCount(*test::openCopy(kept), QStringLiteral("rz")), 2);
        QVERIFY(!QFile::exists(DatabaseFile::sideName(folder.databasePath())));
    }

    void compactionShrinksAndKeepsEveryRow()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 3000, 11);
        dm.RunSql(QStringLiteral("delete from 文件目录 where gdnd < 1990"));
        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('kept','2026/12/10 9:00:00')"));
        const int left = folder.count(Schema::kCatalogueTable);
        QVERIFY(left > 0 && left < 3000);
        dm.Tsyyp.open();
        dm.Tsyyp.moveTo(5);
        const Dataset::Bookmark at = dm.Tsyyp.bookmark();
        // A file left by an earlier compaction is no obstacle and is gone afterwards.
        const QString stale = folder.path() + QStringLiteral("data/kdmx.BAK");
        {
            QFile f(stale);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("stale");
        }
        const qint64 before = QFileInfo(folder.databasePath()).size();
        folder.db().close(); // another holder of the file would keep it from being replaced

        QString error;
        QCOMPARE(Backup::compactDatabase(dm, &error), Backup::CompactOutcome::Compacted);
        QCOMPARE(error, QString());
        QVERIFY(QFileInfo(folder.databasePath()).size() < before);
        QVERIFY(!QFile::exists(stale));
        folder.db().close(); // opened again on the file now in place
        folder.db().open();
        QCOMPARE(folder.count(Schema::kCatalogueTable), left);
        QCOMPARE(folder.count(QStringLiteral("rz")), 1);
        QCOMPARE(folder.count(QStringLiteral("gly")), 1);
        // The shared datasets that were open are open again, on the same row.
        QVERIFY(dm.ADOConnection1.isOpen());
        QVERIFY(dm.Tsyyp.isOpen());
        QCOMPARE(dm.Tsyyp.bookmark(), at);
        QVERIFY(!dm.Tdaly.isOpen());
        // New rows go on numbering after the old ones.
        const qlonglong lastId = folder.scalar(QStringLiteral("select max(id) from rz")).toLongLong();
        dm.RunSql(QStringLiteral("insert into rz (rznr,sj)values('new','2026/12/10 9:00:00')"));
        QVERIFY(folder.scalar(QStringLiteral("select max(id) from rz")).toLongLong() > lastId);
    }

    void compactionFailureLeavesTheLiveFileIntact()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 500, 5);
        dm.RunSql(QStringLiteral("delete from 文件目录 where gdnd < 2000"));
        dm.TJCsj.open();
        const QByteArray live = contents(folder.databasePath());
        QString error;
        bool madeWhole = false;
        const auto outcome = Backup::compactDatabase(dm, &error, [&](const QString &compacted) {
            madeWhole = QFileInfo(compacted).size() > 0;
            throw Error(QStringLiteral("disk full"));
        });
        QCOMPARE(outcome, Backup::CompactOutcome::Failed);
        QVERIFY(madeWhole);
        QCOMPARE(error, QStringLiteral("disk full"));
        QCOMPARE(contents(folder.databasePath()), live);
        QVERIFY(!QFile::exists(folder.path() + QStringLiteral("data/kdmx.BAK")));
        QVERIFY(dm.ADOConnection1.isOpen());
        QVERIFY(dm.TJCsj.isOpen());
    }

    void compactionWaitsForPendingRows()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        dm.TYjb.open();
        dm.TYjb.append();
        dm.TYjb.setText(QStringLiteral("yjbh"), QStringLiteral("YJ-1"));
        const QByteArray live = contents(folder.databasePath());
        QCOMPARE(Backup::compactDatabase(dm), Backup::CompactOutcome::RowsPending);
        QVERIFY(dm.TYjb.isEditing());
        QCOMPARE(dm.TYjb.text(QStringLiteral("yjbh")), QStringLiteral("YJ-1"));
        QCOMPARE(contents(folder.databasePath()), live);
    }

    // A second copy of the program on the same database (here a second connection in this
    // process: flock locks belong to each open of the file): compaction and restore refuse
    // while it is open and change nothing; once it is closed they go ahead.
    void anotherCopyKeepsTheFile_data()
    {
        QTest::addColumn<bool>("restoring");
        QTest::newRow("compaction") << false;
        QTest::newRow("restore") << true;
    }
    void anotherCopyKeepsTheFile()
    {
        QFETCH(bool, restoring);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 300, 3);
        dm.RunSql(QStringLiteral("delete from 文件目录 where gdnd < 2000"));
        const QString copy = folder.path() + QStringLiteral("copy.mdb");
        QCOMPARE(Backup::copyDatabase(dm.ADOConnection1, folder.databasePath(), copy), QString());
        QVERIFY(QFile::exists(DatabaseLock::lockPathFor(folder.databasePath())));
        dm.Tsyyp.open();

        Connection &other = folder.db(); // the other copy, open on the live file
        const auto run = [&]() -> QPair<bool, QString> {
            if (restoring) {
                const Backup::RestoreResult result = Backup::restore(dm, copy, QDateTime::currentDateTime());
                return { result.outcome == Backup::RestoreOutcome::Restored, result.cause };
            }
            QString error;
            const bool done = Backup::compactDatabase(dm, &error) == Backup::CompactOutcome::Compacted;
            return { done, error };
        };
        const QByteArray live = contents(folder.databasePath());
        const auto refused = run();
        QVERIFY(!refused.first);
        QVERIFY2(refused.second.contains(QStringLiteral("另一个程序")), qPrintable(refused.second));
        QCOMPARE(contents(folder.databasePath()), live);
        QVERIFY(dm.ADOConnection1.isOpen());
        QVERIFY(dm.Tsyyp.isOpen());
        // The other copy goes on working on the same file.
        other.execute(QStringLiteral("insert into rz (rznr,sj)values('other copy','2026/12/10 9:00:00')"));
        QCOMPARE(test::rowCount(dm.ADOConnection1, QStringLiteral("rz")), 1);

        other.close();
        const auto done = run();
        QVERIFY2(done.first, qPrintable(done.second));
        // The program's own connection holds the file shared again: a new copy may open it.
        QVERIFY(dm.ADOConnection1.isOpen());
        other.open();
        QCOMPARE(test::rowCount(other, QStringLiteral("rz")), restoring ? 0 : 1);
    }

    // A copy killed while it had the database open leaves no lock behind.
    void killedCopyLeavesNoLock()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            DatabaseLock held;
            held.lockShared(folder.databasePath());
            const char byte = 1;
            [[maybe_unused]] const auto written = ::write(ready[1], &byte, 1);
            for (;;)
                ::pause();
        }
        QVERIFY(child > 0);
        char byte = 0;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
        ::close(ready[0]);
        ::close(ready[1]);
        QCOMPARE(Backup::compactDatabase(dm), Backup::CompactOutcome::InUse);
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(Backup::compactDatabase(dm), Backup::CompactOutcome::Compacted);
    }

    // A manual backup or a compaction that the disk has no room for: the earlier backup and
    // the live database stay whole, and the cause is given.
    void fullDiskChangesNothing_data()
    {
        QTest::addColumn<bool>("compacting");
        QTest::newRow("manual backup over an earlier one") << false;
        QTest::newRow("compaction") << true;
    }
    void fullDiskChangesNothing()
    {
        QFETCH(bool, compacting);
        test::SmallDisk disk;
        test::ProgramFolderFixture folder(true, disk.path());
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 1500, 4);
        dm.RunSql(QStringLiteral("delete from 文件目录 where gdnd < 1990"));
        const QDate day(2026, 12, 10);
        const QString chosen = folder.path() + QStringLiteral("BACKUP");
        QVERIFY(Backup::saveDatabaseAsDateTime(dm, chosen, day, [](const QString &) { return true; }));
        const QString earlier = chosen + QStringLiteral("/") + Backup::manualBackupName(day);
        const QByteArray before = contents(earlier);
        const QByteArray live = contents(folder.databasePath());

        QString cause;
        disk.fill(64 * 1024);
        const bool done = compacting ? Backup::compactDatabase(dm, &cause) == Backup::CompactOutcome::Compacted
                                     : Backup::saveDatabaseAsDateTime(
                                         dm, chosen, day, [](const QString &) { return true; }, &cause);
        disk.release();
        QVERIFY(!done);
        QVERIFY2(disk.causeTexts().contains(cause), qPrintable(cause));
        QCOMPARE(contents(earlier), before);
        QCOMPARE(contents(folder.databasePath()), live);
        QVERIFY(dm.ADOConnection1.isOpen());
        QCOMPARE(QDir(chosen).entryList(QDir::Files | QDir::Hidden), QStringList { Backup::manualBackupName(day) });
    }

    // A restore on a disk with room for the chosen copy but not for the kept copy of the
    // live database: nothing is replaced and the cause is given.
    void restoreWhoseKeptCopyDoesNotFit()
    {
        test::SmallDisk disk;
        test::ProgramFolderFixture folder(true, disk.path());
        test::ProgramFolderFixture small;
        const QString candidate = small.path() + QStringLiteral("small.mdb");
        QCOMPARE(Backup::copyDatabase(small.db(), small.databasePath(), candidate), QString());
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        SampleCatalogue::fill(dm.ADOConnection1, 3000, 9);
        dm.Tsyyp.open();
        const QByteArray live = contents(folder.databasePath());
        const qint64 room = QFileInfo(candidate).size() + 64 * 1024;
        QVERIFY(live.size() > 2 * room);

        disk.fill(room);
        const Backup::RestoreResult result
            = Backup::restore(dm, candidate, QDateTime(QDate(2026, 12, 10), QTime(11, 0, 0)));
        disk.release();
        QCOMPARE(result.outcome, Backup::RestoreOutcome::CopyFailed);
        QVERIFY2(disk.causeTexts().contains(result.cause), qPrintable(result.cause));
        QCOMPARE(contents(folder.databasePath()), live);
        QVERIFY(dm.ADOConnection1.isOpen());
        QVERIFY(dm.Tsyyp.isOpen());
        QCOMPARE(dm.Tsyyp.recordCount(), 3000);
        QVERIFY(!QFile::exists(DatabaseFile::sideName(folder.databasePath())));
        QCOMPARE(QDir(folder.path() + QStringLiteral("backup")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
