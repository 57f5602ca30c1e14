#include "ArchivalCode.h"
#include "Connection.h"
#include "NumberRegister.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include <QTest>

using namespace dagl;

namespace {

// QZH GDND BGQX JGWT HH JH MLH AJH SXH, as RecordNumber::columns() orders them.
RecordNumber number(const QStringList &values)
{
    return RecordNumber::from(
        [&](const QString &column) { return values.value(int(RecordNumber::columns().indexOf(column))); });
}

// A catalogue with numbers written the ways operators and other tools write them: leading
// zeros, blanks around, NULL for an empty class.
void fillCatalogue(test::ProgramFolderFixture &folder)
{
    const char *const rows[] = {
        "'0012','2024','永久','办公室','1','0009',NULL,NULL,NULL,'甲'",
        "'0012','2024','永久',NULL,'1',' 3 ',NULL,NULL,NULL,'乙'",
        "'0012','2024','永久','办公室','2','',NULL,NULL,NULL,'戊'",
        "'0012',NULL,'永久',NULL,NULL,NULL,'A1',12,'05','丙'",
        "'0012',NULL,'永久',NULL,NULL,NULL,'A1',13,'7','丁'",
        "'0012','2024','30年','办公室','1','1',NULL,NULL,NULL,'子'",
        "'0012','2024','30年','办公室','1','2',NULL,NULL,NULL,'丑'",
        "'0012','2024','30年','办公室','1','0004',NULL,NULL,NULL,'寅'",
        "'0012','2024','30年','办公室','2','5',NULL,NULL,NULL,'卯'",
    };
    for (const char *row : rows)
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,mlh,ajh,sxh,tm) values (%1)")
                        .arg(QString::fromUtf8(row)));
}

} // namespace

class TestNumberRegister : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    // Which stored record a number collides with, if any.
    void holder_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<bool>("byItem");
        QTest::addColumn<QString>("editing"); // the title of the record being edited
        QTest::addColumn<QString>("holder"); // its title, empty for a free number
        const QString none;
        QTest::newRow("item: same number")
            << QStringList { "0012", "2024", "永久", "办公室", "1", "0009" } << true << none << "甲";
        // An office reads "0009" and "9" as the same item number.
        QTest::newRow("item: 9 is 0009") << QStringList { "0012", "2024", "永久", "办公室", "1", "9" } << true << none
                                         << "甲";
        QTest::newRow("item: 009 is 0009")
            << QStringList { "0012", "2024", "永久", "办公室", "1", "009" } << true << none << "甲";
        QTest::newRow("item: stored with blanks, class NULL")
            << QStringList { "0012", "2024", "永久", "", "1", "3" } << true << none << "乙";
        QTest::newRow("item: typed with blanks")
            << QStringList { " 0012 ", "2024 ", "永久", " ", "", " 03" } << true << none << "乙";
        QTest::newRow("item: another box, same group")
            << QStringList { "0012", "2024", "永久", "办公室", "7", "9" } << true << none << "甲";
        QTest::newRow("item: another year")
            << QStringList { "0012", "2023", "永久", "办公室", "1", "9" } << true << none << none;
        QTest::newRow("item: another retention")
            << QStringList { "0012", "2024", "10年", "办公室", "1", "9" } << true << none << none;
        QTest::newRow("item: another class")
            << QStringList { "0012", "2024", "永久", "财务科", "1", "9" } << true << none << none;
        QTest::newRow("item: another fonds")
            << QStringList { "0013", "2024", "永久", "办公室", "1", "9" } << true << none << none;
        QTest::newRow("item: fonds 12 is not 0012")
            << QStringList { "12", "2024", "永久", "办公室", "1", "9" } << true << none << none;
        QTest::newRow("item: 0 is not an empty number")
            << QStringList { "0012", "2024", "永久", "办公室", "2", "0000" } << true << none << none;
        QTest::newRow("item: no number") << QStringList { "0012", "2024", "永久", "办公室", "2", "" } << true << none
                                         << none;
        QTest::newRow("item: editing itself")
            << QStringList { "0012", "2024", "永久", "办公室", "1", "9" } << true << "甲" << none;
        QTest::newRow("item: editing another")
            << QStringList { "0012", "2024", "永久", "办公室", "1", "9" } << true << "乙"
            << "甲";
        QTest::newRow("volume: same number")
            << QStringList { "0012", "", "", "", "", "", "A1", "12", "5" } << false << none << "丙";
        QTest::newRow("volume: volume 012 is 12")
            << QStringList { "0012", "", "", "", "", "", "A1", "012", "0005" } << false << none << "丙";
        QTest::newRow("volume: another volume")
            << QStringList { "0012", "", "", "", "", "", "A1", "13", "5" } << false << none << none;
        QTest::newRow("volume: another catalogue")
            << QStringList { "0012", "", "", "", "", "", "A2", "12", "5" } << false << none << none;
        QTest::newRow("volume: editing itself")
            << QStringList { "0012", "", "", "", "", "", "A1", "13", "7" } << false << "丁" << none;
        QTest::newRow("volume: no number")
            << QStringList { "0012", "", "", "", "", "", "A1", "12", "" } << false << none << none;
    }

    void holder()
    {
        QFETCH(QStringList, values);
        QFETCH(bool, byItem);
        QFETCH(QString, editing);
        QFETCH(QString, holder);
        test::ProgramFolderFixture folder;
        fillCatalogue(folder);
        const qlonglong except = editing.isEmpty()
            ? 0
            : folder.scalar(QStringLiteral("select str_m_date from 文件目录 where tm='%1'").arg(editing)).toLongLong();
        const auto found = NumberRegister::holderOf(folder.db(), number(values), byItem, except);
        QCOMPARE(found ? found->title : QString(), holder);
        if (found) {
            const QString question = NumberRegister::duplicateQuestion(*found, ArchivalCodeSettings());
            QVERIFY2(question.contains(QStringLiteral("“%1”").arg(holder)), qPrintable(question));
        }
    }

    // The next number of a series: in the previous record's group the smallest free number
    // above the previous one (a gap behind stays a gap); in another group the number after
    // its highest, 1 in an empty group; written as the previous number was.
    void proposeNext_data()
    {
        QTest::addColumn<QStringList>("previous");
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<bool>("byItem");
        QTest::addColumn<QString>("proposed");
        // Group 0012/2024/30年/办公室 holds 1, 2, 0004 and 5 (in two boxes).
        const QStringList group { "0012", "2024", "30年", "办公室", "1" };
        const auto in = [](QStringList values, const QString &jh) { return values << jh; };
        QTest::newRow("series goes on") << in(group, "2") << in(group, "2") << true << "3";
        QTest::newRow("over taken numbers") << in(group, "0001") << in(group, "0001") << true << "0003";
        QTest::newRow("after a gap") << in(group, "5") << in(group, "5") << true << "6";
        QTest::newRow("gap behind stays") << in(group, "0004") << in(group, "0004") << true << "0006";
        QTest::newRow("start of a group")
            << in(group, "5") << in({ "0012", "2025", "30年", "办公室", "1" }, "5") << true << "1";
        QTest::newRow("start of a group, zeros")
            << in(group, "0005") << in({ "0012", "2024", "短期", "办公室", "1" }, "0005") << true << "0001";
        QTest::newRow("another group goes on after its highest")
            << in({ "0012", "2024", "30年", "财务科", "1" }, "8") << in(group, "8") << true << "6";
        QTest::newRow("box does not make a group")
            << in(group, "2") << in({ "0012", "2024", "30年", "办公室", "9" }, "2") << true << "3";
        QTest::newRow("no room left") << in(group, "9999") << in(group, "9999") << true << "";
        QTest::newRow("not a number") << in(group, "3a") << in(group, "3a") << true << "";
        QTest::newRow("by volume") << QStringList { "0012", "", "", "", "", "", "A1", "12", "05" }
                                   << QStringList { "0012", "", "", "", "", "", "A1", "12", "05" } << false << "06";
        QTest::newRow("by volume, new volume")
            << QStringList { "0012", "", "", "", "", "", "A1", "12", "5" }
            << QStringList { "0012", "", "", "", "", "", "A1", "14", "5" } << false << "1";
    }

    void proposeNext()
    {
        QFETCH(QStringList, previous);
        QFETCH(QStringList, current);
        QFETCH(bool, byItem);
        QFETCH(QString, proposed);
        test::ProgramFolderFixture folder;
        fillCatalogue(folder);
        QCOMPARE(NumberRegister::proposeNext(folder.db(), number(previous), number(current), byItem), proposed);
    }

    // Many numbers at once: against the catalogue and against the earlier ones.
    void batch()
    {
        test::ProgramFolderFixture folder;
        fillCatalogue(folder);
        NumberRegister::Batch batch(folder.db());
        QVERIFY(!batch.add(number({ "0012", "2025", "永久", "", "1", "1" }))); // row 0: free
        const auto taken = batch.add(number({ "0012", "2024", "永久", "办公室", "3", "09" })); // row 1
        QVERIFY(taken && taken->holder && taken->earlier < 0);
        QCOMPARE(taken->holder->title, QStringLiteral("甲"));
        const auto again = batch.add(number({ "0012", "2025", "永久", "", "2", "0001" })); // row 2
        QVERIFY(again && !again->holder);
        QCOMPARE(again->earlier, 0);
        QVERIFY(!batch.add(number({ "0012", "2025", "永久", "", "2", "" }))); // no number
        QVERIFY(!batch.add(number({ "0012", "", "", "", "", "", "A1", "12", "6" }))); // by volume, free
        const auto volume = batch.add(number({ "0012", "", "", "", "", "", "A1", "12", "006" }));
        QVERIFY(volume && volume->earlier == 4);
    }

    // The indexes use the engine's functions only, and a catalogue made before them gets
    // them when the program opens it; the look-ups walk them.
    void indexesOnOpen()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        for (const char *index : { "ix_wjml_item_no", "ix_wjml_volume_no" }) {
            QCOMPARE(
                folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name='%1'").arg(QLatin1String(index))),
                1);
            folder.exec(QStringLiteral("drop index %1").arg(QLatin1String(index)));
        }
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name like 'ix_wjml_%_no'")), 0);
        {
            test::FakeUi ui;
            TDataModule5 dm(folder.path(), ui);
            QVERIFY(ui.shown.isEmpty());
        }
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name like 'ix_wjml_%_no'")), 2);

        // A plain engine connection without the program's functions still writes the catalogue.
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(folder.databasePath()).constData(), &raw), SQLITE_OK);
        const QByteArray key = Schema::kDatabasePassword.toUtf8();
        sqlite3_key(raw, key.constData(), int(key.size()));
        QCOMPARE(
            sqlite3_exec(raw, "insert into 文件目录 (qzh,gdnd,bgqx,hh,jh,tm) values ('1','2024','永久','1','7','外部')",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        for (const QString &probe :
            { QStringLiteral("SELECT 1 FROM 文件目录 WHERE ifnull(trim(QZH),'')='1' AND ifnull(trim(GDND),'')='2024' "
                             "AND ifnull(trim(BGQX),'')='永久' AND ifnull(trim(JGWT),'')='' "
                             "AND ltrim(ifnull(trim(JH),''),'0')='7' AND JH IS NOT NULL"),
                QStringLiteral("SELECT 1 FROM 文件目录 WHERE ifnull(trim(QZH),'')='1' AND ifnull(trim(MLH),'')='' "
                               "AND ifnull(AJH,'')=3 AND ltrim(ifnull(trim(SXH),''),'0')='7' AND SXH IS NOT NULL") }) {
            Statement plan(raw, QStringLiteral("EXPLAIN QUERY PLAN ") + probe);
            QVERIFY(plan.step());
            const QString detail = plan.column(plan.columnCount() - 1).toString();
            QVERIFY2(detail.contains(QStringLiteral("USING INDEX ix_wjml_")), qPrintable(detail));
        }
        sqlite3_close(raw);
        RecordNumber outside = number({ "1", "2024", "永久", "", "1", "0007" });
        const auto found = NumberRegister::holderOf(folder.db(), outside, true);
        QVERIFY(found);
        QCOMPARE(found->title, QStringLiteral("外部"));
    }
};

QTEST_MAIN(TestNumberRegister)
#include "tst_numberregister.moc"
