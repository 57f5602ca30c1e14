// Several workstations on one catalogue on a PostgreSQL server: saves and deletes that
// meet another workstation's, and the server's backup, restore and compaction. Runs
// against a throwaway cluster.
#include "Error.h"
#include "Login.h"
#include "PgCluster.h"
#include "PgConnection.h"
#include "PgMaintenance.h"
#include "PgRowWriter.h"
#include "Schema.h"
#include "ServerCatalogue.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>

using namespace dagl;

Q_DECLARE_METATYPE(PgWriteOutcome)

namespace {

const QString kCatalogue = QStringLiteral("文件目录");

QStringList sixTables()
{
    QStringList names;
    for (const Schema::Table &t : Schema::tables(permissionCodeList()))
        names << t.name;
    return names;
}

QString normalized(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("<null>");
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return value.toString();
}

// Every row of the six tables, key first, in key order: what a backup must give back.
QStringList content(PgConnection &db)
{
    QStringList lines;
    for (const QString &table : sixTables()) {
        const PgRowWriter writer(db, table);
        PgRows rows(db, writer.selectStatement(QStringLiteral("ORDER BY 1")), {}, true);
        int count = 0;
        QStringList tableRows;
        while (rows.next()) {
            ++count;
            QStringList values;
            for (int c = 0; c < rows.columnCount(); ++c)
                values << normalized(rows.value(c));
            tableRows << table + QLatin1Char(':') + values.join(QLatin1Char('|'));
        }
        lines << QStringLiteral("%1 rows: %2").arg(table).arg(count) << tableRows;
    }
    return lines;
}

int unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    const int port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QVariantMap kRecord {
    { QStringLiteral("qzh"), QStringLiteral("001") },
    { QStringLiteral("mlh"), QStringLiteral("1") },
    { QStringLiteral("ajh"), 3 },
    { QStringLiteral("sxh"), QStringLiteral("1") },
    { QStringLiteral("tm"), QStringLiteral("关于'甲'的\"通知\" C:\\档案\\a_b 50%") },
    { QStringLiteral("zrz"), QVariant() },
    { QStringLiteral("gdnd"), QStringLiteral("2026") },
    { QStringLiteral("bgqx"), QStringLiteral("永久") },
};

} // namespace

class TestPgConcurrency : public QObject {
    Q_OBJECT

    std::unique_ptr<test::PgCluster> m_cluster;
    PgSettings m_rows; // the catalogue the saves and deletes meet on
    PgSettings m_maint; // the catalogue that is backed up and restored
    QStringList m_filled; // its content as first filled
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        test::pinLocale();
        m_cluster = std::make_unique<test::PgCluster>();
        DAGL_REQUIRE_POSTGRES(*m_cluster);
        QVERIFY(m_dir.isValid());
        m_rows = m_cluster->freshDatabase(QStringLiteral("rows"));
        m_maint = m_cluster->freshDatabase(QStringLiteral("maint"));
        for (const PgSettings &settings : { m_rows, m_maint }) {
            PgConnection db(settings);
            db.open();
            ServerCatalogue::create(db, permissionCodeList());
        }
        // Rows of every kind for the backup: Chinese text with quotes, dates, nulls.
        PgConnection db(m_maint);
        db.open();
        PgRowWriter records(db, kCatalogue);
        for (int i = 0; i < 30; ++i) {
            QVariantMap record = kRecord;
            record[QStringLiteral("ajh")] = i;
            record[QStringLiteral("zrz")] = i % 3 ? QVariant(QStringLiteral("张三%1").arg(i)) : QVariant();
            records.insert(record);
        }
        PgRowWriter handovers(db, QStringLiteral("移交表"));
        handovers.insert(
            { { QStringLiteral("yjbh"), QStringLiteral("YJ-1") }, { QStringLiteral("yjr"), QStringLiteral("张三") },
                { QStringLiteral("yjrq"), QDateTime(QDate(2026, 1, 2), QTime(14, 30, 5)) },
                { QStringLiteral("jsrq"), QVariant() },
                { QStringLiteral("yjnr"), QStringLiteral("第一批\n第二行\t制表") } });
        handovers.insert({ { QStringLiteral("yjbh"), QStringLiteral("YJ-2") },
            { QStringLiteral("yjrq"), QStringLiteral("1999/12/31") } });
        PgRowWriter log(db, QStringLiteral("rz"));
        log.insert({ { QStringLiteral("rznr"), QStringLiteral("操作员：管理员登录系统") },
            { QStringLiteral("sj"), QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59)) } });
        m_filled = content(db);
    }

    void cleanupTestCase() { m_cluster.reset(); }

    // Workstation A reads a row, B does `other` to it, then A does `mine`.
    void conflicts_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<PgWriteOutcome>("expected");
        QTest::addColumn<QString>("message");
        const auto done = PgWriteOutcome::Done;
        const auto changed = PgWriteOutcome::ChangedByOther;
        const auto deleted = PgWriteOutcome::DeletedByOther;
        const QString changedSave = QStringLiteral("该记录已被其他工作站修改，未保存。请重新打开列表后再修改。");
        const QString deletedSave = QStringLiteral("该记录已被其他工作站删除，未保存。");
        const QString changedDelete = QStringLiteral("该记录已被其他工作站修改，未删除。请重新打开列表后再删除。");
        const QString deletedDelete = QStringLiteral("该记录已被其他工作站删除。");
        QTest::newRow("save, other changed it") << "change"
                                                << "save" << changed << changedSave;
        QTest::newRow("save, other changed a column not saved") << "changeOther"
                                                                << "save" << changed << changedSave;
        QTest::newRow("save, other deleted it") << "delete"
                                                << "save" << deleted << deletedSave;
        QTest::newRow("unchanged save, other changed it") << "change"
                                                          << "saveNothing" << changed << changedSave;
        QTest::newRow("delete, other deleted it") << "delete"
                                                  << "delete" << deleted << deletedDelete;
        QTest::newRow("checked delete, other deleted it") << "delete"
                                                          << "checkedDelete" << deleted << deletedDelete;
        QTest::newRow("checked delete, other changed it") << "change"
                                                          << "checkedDelete" << changed << changedDelete;
        QTest::newRow("delete, other changed it") << "change"
                                                  << "delete" << done << QString();
        QTest::newRow("save, nothing in between") << "none"
                                                  << "save" << done << QString();
        QTest::newRow("save, other saved the same values") << "same"
                                                           << "save" << done << QString();
        QTest::newRow("save, other changed it and back") << "changeBack"
                                                         << "save" << done << QString();
        QTest::newRow("save, other changed another row") << "anotherRow"
                                                         << "save" << done << QString();
    }
    void conflicts()
    {
        QFETCH(QString, other);
        QFETCH(QString, mine);
        QFETCH(PgWriteOutcome, expected);
        QFETCH(QString, message);
        PgConnection a(m_rows), b(m_rows);
        a.open();
        b.open();
        PgRowWriter writerA(a, kCatalogue), writerB(b, kCatalogue);
        const PgRowImage asRead = writerA.insert(kRecord).row;
        const PgRowImage neighbour = writerA.insert(kRecord).row;
        QVERIFY(asRead.isValid());
        QVERIFY(neighbour.key > asRead.key);

        const PgRowImage seenByB = writerB.read(asRead.key);
        QCOMPARE(seenByB.values, asRead.values);
        const QVariantMap otherTitle { { QStringLiteral("tm"), QStringLiteral("乙工作站改的题名") } };
        if (other == QLatin1String("change"))
            QVERIFY(writerB.update(seenByB, otherTitle).done());
        else if (other == QLatin1String("changeOther"))
            QVERIFY(writerB.update(seenByB, { { QStringLiteral("bz"), QStringLiteral("乙的备注") } }).done());
        else if (other == QLatin1String("delete"))
            QVERIFY(writerB.remove(asRead.key).done());
        else if (other == QLatin1String("same"))
            QVERIFY(writerB.update(seenByB, { { QStringLiteral("tm"), kRecord.value(QStringLiteral("tm")) } }).done());
        else if (other == QLatin1String("changeBack")) {
            const PgWriteResult first = writerB.update(seenByB, otherTitle);
            QVERIFY(first.done());
            QVERIFY(
                writerB.update(first.row, { { QStringLiteral("tm"), kRecord.value(QStringLiteral("tm")) } }).done());
        } else if (other == QLatin1String("anotherRow"))
            QVERIFY(writerB.update(neighbour, otherTitle).done());
        const PgRowImage left = writerA.read(asRead.key); // what B left

        const QVariantMap typed { { QStringLiteral("tm"), QStringLiteral("甲工作站输入的题名") },
            { QStringLiteral("ajh"), QStringLiteral("42") } };
        PgWriteResult result;
        if (mine == QLatin1String("save"))
            result = writerA.update(asRead, typed);
        else if (mine == QLatin1String("saveNothing"))
            result = writerA.update(asRead, {});
        else if (mine == QLatin1String("delete"))
            result = writerA.remove(asRead.key);
        else
            result = writerA.remove(asRead);
        QCOMPARE(result.outcome, expected);
        QCOMPARE(result.message, message);

        const PgRowImage now = writerB.read(asRead.key);
        if (expected != PgWriteOutcome::Done) {
            // Nothing of A's reached the row: it is as B left it, or still gone.
            QCOMPARE(now.isValid(), left.isValid());
            QCOMPARE(now.values, left.values);
            QVERIFY(!result.row.isValid());
        } else if (mine == QLatin1String("save")) {
            QCOMPARE(now.values, result.row.values);
            QCOMPARE(
                now.values[writerA.columnIndex(QStringLiteral("tm"))].toString(), QStringLiteral("甲工作站输入的题名"));
            QCOMPARE(now.values[writerA.columnIndex(QStringLiteral("ajh"))].toInt(), 42);
            QCOMPARE(now.values[writerA.columnIndex(QStringLiteral("zrz"))], QVariant());
        } else {
            QVERIFY(!now.isValid());
        }
        // The row beside it is B's alone.
        QCOMPARE(writerA.read(neighbour.key).isValid(), true);
    }

    // A save that waits for another workstation's uncommitted change of the row is checked
    // against the row that change commits, not against the row as it was when it began.
    void saveWaitingForAnotherIsCheckedAfterIt()
    {
        PgConnection a(m_rows), b(m_rows), watch(m_rows);
        a.open();
        b.open();
        watch.open();
        PgRowWriter writerA(a, kCatalogue), writerB(b, kCatalogue);
        const PgRowImage asRead = writerA.insert(kRecord).row;
        b.beginTransaction();
        QVERIFY(
            writerB.update(writerB.read(asRead.key), { { QStringLiteral("tm"), QStringLiteral("乙先改") } }).done());
        const int pidA = a.scalarNative(QStringLiteral("SELECT pg_backend_pid()")).toInt();

        PgWriteResult result;
        QString failure;
        std::thread save([&] {
            try {
                result = writerA.update(asRead, { { QStringLiteral("tm"), QStringLiteral("甲后改") } });
            } catch (const Error &error) {
                failure = error.message();
            }
        });
        // Whatever fails below, the other's transaction ends and the save comes back.
        auto finish = qScopeGuard([&] {
            if (b.inTransaction())
                b.rollback();
            save.join();
        });
        const QString waiting
            = QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid = $1 AND wait_event_type = 'Lock'");
        QTRY_COMPARE(watch.scalarNative(waiting, { pidA }).toInt(), 1);
        b.commit();
        save.join();
        finish.dismiss();
        QCOMPARE(failure, QString());
        QCOMPARE(result.outcome, PgWriteOutcome::ChangedByOther);
        QCOMPARE(writerB.read(asRead.key).values[writerB.columnIndex(QStringLiteral("tm"))].toString(),
            QStringLiteral("乙先改"));
    }

    void valuesTheColumnsCannotTakeAreRefused_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no date") << "移交表"
                                 << "yjrq" << QVariant(QStringLiteral("2026/13/45")) << "不是日期";
        QTest::newRow("no number") << kCatalogue << "ajh" << QVariant(QStringLiteral("三")) << "不是整数";
        QTest::newRow("too long") << kCatalogue << "qzh" << QVariant(QStringLiteral("一二三四五六七八九十一"))
                                  << "字段太小";
        QTest::newRow("no column") << kCatalogue << "nosuch" << QVariant(1) << "没有列“nosuch”";
    }
    void valuesTheColumnsCannotTakeAreRefused()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(QVariant, value);
        QFETCH(QString, expected);
        PgConnection db(m_rows);
        db.open();
        PgRowWriter writer(db, table);
        const PgRowImage row = writer.insert({}).row;
        QString message;
        try {
            writer.update(row, { { column, value } });
        } catch (const Error &error) {
            message = error.message();
        }
        QVERIFY2(message.contains(expected), qPrintable(message));
        QCOMPARE(writer.read(row.key).values, row.values);
    }

    void backupThenRestoreGivesTheFirstContentBack()
    {
        PgConnection db(m_maint), other(m_maint);
        db.open();
        other.open(); // a backup does not wait for the other workstations
        const QString dump = m_dir.filePath(QStringLiteral("备份 1.dump"));
        QCOMPARE(PgMaintenance::backup(db, dump), QString());
        QCOMPARE(
            QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("备份 1.dump") });
        QCOMPARE(content(db), m_filled);

        // Changed afterwards in every way.
        PgRowWriter records(db, kCatalogue);
        records.insert(kRecord);
        const PgRowImage first = records.read(1);
        QVERIFY(records
                    .update(first,
                        { { QStringLiteral("tm"), QStringLiteral("改过") }, { QStringLiteral("zrz"), QVariant() } })
                    .done());
        QVERIFY(records.remove(2).done());
        PgRowWriter handovers(db, QStringLiteral("移交表"));
        QVERIFY(handovers.update(handovers.read(1), { { QStringLiteral("jsrq"), QStringLiteral("2027/1/1 8:00") } })
                    .done());
        db.executeNative(QStringLiteral("DELETE FROM rz"));
        const QStringList changed = content(db);
        QVERIFY(changed != m_filled);
        other.close();

        const QString replaced = m_dir.filePath(QStringLiteral("replaced.dump"));
        const PgMaintenance::RestoreResult restored = PgMaintenance::restore(db, dump, sixTables(), replaced);
        QCOMPARE(restored.cause, QString());
        QCOMPARE(restored.outcome, PgMaintenance::RestoreOutcome::Restored);
        QCOMPARE(content(db), m_filled);
        // The keys go on after the restored ones.
        QVERIFY(PgRowWriter(db, kCatalogue).insert(kRecord).row.key > 30);

        // The catalogue it replaced was kept, and gives the changed content back.
        QCOMPARE(PgMaintenance::restore(db, replaced).outcome, PgMaintenance::RestoreOutcome::Restored);
        QCOMPARE(content(db), changed);
        QCOMPARE(PgMaintenance::restore(db, dump).outcome, PgMaintenance::RestoreOutcome::Restored);
        QCOMPARE(content(db), m_filled);
        QFile::remove(replaced);
    }

    void restoreRefusedWhileAnotherIsConnected()
    {
        PgConnection db(m_maint), other(m_maint);
        db.open();
        const QString dump = m_dir.filePath(QStringLiteral("busy.dump"));
        QCOMPARE(PgMaintenance::backup(db, dump), QString());
        PgRowWriter(db, kCatalogue).insert(kRecord);
        const QStringList before = content(db);
        other.open();
        const PgMaintenance::RestoreResult result = PgMaintenance::restore(db, dump);
        QCOMPARE(result.outcome, PgMaintenance::RestoreOutcome::InUse);
        QVERIFY2(result.cause.startsWith(QStringLiteral("还有 1 个其他连接正在使用服务器上的数据库")),
            qPrintable(result.cause));
        QVERIFY(result.cause.contains(QStringLiteral("请先让其他工作站退出本系统")));
        QCOMPARE(content(db), before);
        other.close();
        QCOMPARE(PgMaintenance::restore(db, dump).outcome, PgMaintenance::RestoreOutcome::Restored);
        QCOMPARE(content(db), m_filled);
        QFile::remove(dump);
    }

    void damagedOrForeignDumpsAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("text file") << "text";
        QTest::newRow("cut in half") << "half";
        QTest::newRow("last bytes missing") << "tail";
        QTest::newRow("dump of another database") << "foreign";
        QTest::newRow("plain SQL dump") << "sql";
    }
    void damagedOrForeignDumpsAreRefused()
    {
        QFETCH(QString, kind);
        PgConnection db(m_maint);
        db.open();
        const QStringList before = content(db);
        const QString good = m_dir.filePath(QStringLiteral("good.dump"));
        QCOMPARE(PgMaintenance::backup(db, good), QString());
        const QByteArray whole = readFile(good);
        const QString candidate = m_dir.filePath(QStringLiteral("candidate.dump"));
        QFile::remove(candidate);
        if (kind == QLatin1String("empty"))
            writeFile(candidate, {});
        else if (kind == QLatin1String("text"))
            writeFile(candidate, "这不是备份文件\n");
        else if (kind == QLatin1String("half"))
            writeFile(candidate, whole.left(whole.size() / 2));
        else if (kind == QLatin1String("tail"))
            writeFile(candidate, whole.left(whole.size() - 6));
        else if (kind == QLatin1String("sql"))
            writeFile(candidate, "DROP TABLE \"文件目录\";\n");
        else if (kind == QLatin1String("foreign")) {
            PgConnection stranger(m_cluster->freshDatabase(QStringLiteral("stranger")));
            stranger.open();
            stranger.executeNative(QStringLiteral("CREATE TABLE rz (a integer)"));
            QCOMPARE(PgMaintenance::backup(stranger, candidate), QString());
        }
        const PgMaintenance::RestoreResult result = PgMaintenance::restore(db, candidate, sixTables());
        QCOMPARE(result.outcome, PgMaintenance::RestoreOutcome::NotADump);
        QVERIFY2(result.cause.contains(QStringLiteral("未恢复")), qPrintable(result.cause));
        QCOMPARE(content(db), before);
        QFile::remove(good);
        QFile::remove(candidate);
    }

    // A failed backup leaves no file, and an earlier one at the place as it was.
    void failedBackupsLeaveNoFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tool missing") << "tool"
                                      << "找不到 PostgreSQL 15 的程序 pg_dump";
        QTest::newRow("server unreachable") << "server"
                                            << "无法连接到数据库服务器";
        QTest::newRow("disk full") << "disk"
                                   << "磁盘已满";
        QTest::newRow("folder missing") << "folder"
                                        << "不存在";
    }
    void failedBackupsLeaveNoFile()
    {
        QFETCH(QString, fault);
        QFETCH(QString, expected);
        QTemporaryDir folder, tools;
        PgConnection db(m_maint);
        db.open();
        QString target = folder.filePath(QStringLiteral("kdmx.dump"));
        writeFile(target, "earlier backup");
        QString toolFolder;
        if (fault == QLatin1String("tool")) {
            toolFolder = tools.path();
        } else if (fault == QLatin1String("server")) {
            PgSettings away = db.settings();
            away.port = unusedPort();
            db.setSettings(away);
        } else if (fault == QLatin1String("disk")) {
            // A stand-in for pg_dump that runs out of disk half-way, as the real one says it.
            toolFolder = tools.path();
            const QString fake = tools.filePath(QStringLiteral("pg_dump"));
            writeFile(fake,
                "#!/bin/sh\n"
                "while [ $# -gt 0 ]; do\n"
                "  if [ \"$1\" = --file ]; then shift; printf 'PGDMP partial' > \"$1\"; fi\n"
                "  shift\n"
                "done\n"
                "echo 'pg_dump: error: could not write to output file: No space left on device' >&2\n"
                "exit 1\n");
            QFile(fake).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        } else if (fault == QLatin1String("folder")) {
            target = folder.filePath(QStringLiteral("nosuch/kdmx.dump"));
        }
        const QString message = PgMaintenance::backup(db, target, toolFolder);
        QVERIFY2(message.startsWith(QStringLiteral("备份失败：")), qPrintable(message));
        QVERIFY2(message.contains(expected), qPrintable(message));
        QCOMPARE(
            QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("kdmx.dump") });
        QCOMPARE(readFile(folder.filePath(QStringLiteral("kdmx.dump"))), QByteArray("earlier backup"));
    }

    void vacuumAnalyzesTheTables()
    {
        PgConnection db(m_maint);
        db.open();
        db.beginTransaction();
        QCOMPARE(PgMaintenance::compact(db, sixTables()), QStringLiteral("还有未完成的数据库操作，未整理。"));
        db.rollback();
        QCOMPARE(PgMaintenance::compact(db, sixTables()), QString());
        const QString done = QStringLiteral(
            "SELECT count(*) FROM pg_stat_user_tables WHERE last_vacuum IS NOT NULL AND last_analyze IS NOT NULL");
        QTRY_COMPARE(db.scalarNative(done).toInt(), 6);
        QCOMPARE(content(db), m_filled);
    }
};

QTEST_GUILESS_MAIN(TestPgConcurrency)
#include "tst_pgconcurrency.moc"
