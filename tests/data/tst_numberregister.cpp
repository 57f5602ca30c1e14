#include "ArchivalCode.h"
#include "Connection.h"
#include "NumberRegister.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TestSupport.h"

#include "IniFile.h"

#include <QTemporaryDir>
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
        "'0012',NULL,'永久',NULL,NULL,NULL,'01',3,'1','辰'",
        "'0012','２０２４','10年',NULL,'1','０００７',NULL,NULL,NULL,'巳'",
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
        QTest::newRow("item: full-width number") << QStringList { "0012", "２０２４", "永久", "办公室", "1", "０９" }
                                                 << true << none << "甲";
        QTest::newRow("item: stored full-width")
            << QStringList { "0012", "2024", "10年", "", "3", "7" } << true << none << "巳";
        QTest::newRow("volume: catalogue 1 is 01")
            << QStringList { "0012", "", "", "", "", "", "1", "3", "01" } << false << none << "辰";
        QTest::newRow("volume: full-width catalogue")
            << QStringList { "0012", "", "", "", "", "", "０１", "３", "１" } << false << none << "辰";
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
        const auto found = NumberRegister::holderOf(folder.db(), number(values), byItem, ArchivalCodeSettings(), except);
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
        QTest::newRow("full-width previous") << in(group, "０００４") << in(group, "０００４") << true << "0006";
        QTest::newRow("full-width year is the year")
            << in(group, "2") << in({ "0012", "２０２４", "30年", "办公室", "1" }, "2") << true << "3";
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
        QCOMPARE(NumberRegister::proposeNext(folder.db(), number(previous), number(current), byItem, ArchivalCodeSettings()),
            proposed);
    }

    // Many numbers at once: against the catalogue and against the earlier ones.
    void batch()
    {
        test::ProgramFolderFixture folder;
        fillCatalogue(folder);
        NumberRegister::Batch batch(folder.db(), ArchivalCodeSettings());
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
        // Full-width digits in a worksheet are the same number.
        const auto wide = batch.add(number({ "0012", "２０２５", "永久", "", "3", "１" })); // row 6
        QVERIFY(wide && !wide->holder);
        QCOMPARE(wide->earlier, 0);
        const auto stored = batch.add(number({ "0012", "2024", "10年", "", "1", "0007" }));
        QVERIFY(stored && stored->holder);
        QCOMPARE(stored->holder->title, QStringLiteral("巳"));
    }

    // Two records hold the same number exactly when they hold the same archival code, under
    // any settings: the register finds a holder when, and only when, a stored record's code
    // is the code of the number asked about, and the shared codes are those.
    void sameNumberIsSameCode_data()
    {
        QTest::addColumn<QString>("classCodes");
        QTest::addColumn<bool>("classSegment");
        QTest::addColumn<QString>("shortCode"); // the code of 短期, empty for its default
        QTest::newRow("defaults") << QString() << true << QString();
        QTest::newRow("机构 left out") << QString() << false << QString();
        QTest::newRow("two 机构 one code") << QStringLiteral("办公室=BG;财务科=BG") << true << QString();
        QTest::newRow("codes set") << QStringLiteral("办公室=BGS;财务科=CWK") << true << QString();
        QTest::newRow("two periods one code") << QString() << true << QStringLiteral("D30");
    }

    void sameNumberIsSameCode()
    {
        QFETCH(QString, classCodes);
        QFETCH(bool, classSegment);
        QFETCH(QString, shortCode);
        test::ProgramFolderFixture folder;
        // 2023 永久: 办公室 and 财务科 each numbered from 1, one without 机构; others around.
        const char *const rows[] = {
            "'J012','2023','永久','办公室','1','1','办1'",
            "'J012','2023','永久','办公室','1','2','办2'",
            "'J012','2023','永久','财务科','1','1','财1'",
            "'J012','2023','永久',NULL,'1','3','无3'",
            "'J012','2023','30年','办公室','1','0003','办30'",
            "'J012','2023','短期','办公室','2','3','办短'",
        };
        for (const char *row : rows)
            folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) values (%1)")
                            .arg(QString::fromUtf8(row)));
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jgwt"), classCodes);
        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jgdh"),
            classSegment ? QStringLiteral("1") : QStringLiteral("0"));
        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("短期"), shortCode);
        const ArchivalCodeSettings settings = ArchivalCodeSettings::load(ini);

        QHash<QString, QStringList> byCode; // every stored record's code -> its titles
        Query all(folder.db(), QStringLiteral("select tm,qzh,gdnd,bgqx,jgwt,hh,jh,mlh,ajh,sxh from 文件目录"));
        while (all.step()) {
            QStringList values;
            for (int c = 1; c <= 9; ++c)
                values << all.value(c).toString();
            byCode[ArchivalCode::compose(number(values), settings)] << all.value(0).toString();
        }
        for (const char *unit : { "办公室", "财务科", "", "人事科" }) {
            for (const char *period : { "永久", "30年", "短期" }) {
                for (const char *jh : { "1", "2", "03" }) {
                    const RecordNumber asked = number({ "J012", "2023", period, unit, "5", jh });
                    const QString code = ArchivalCode::compose(asked, settings);
                    const auto found = NumberRegister::holderOf(folder.db(), asked, true, settings);
                    QVERIFY2(bool(found) == byCode.contains(code), qPrintable(code));
                    if (found)
                        QVERIFY2(byCode.value(code).contains(found->title), qPrintable(code));
                }
            }
        }
        const QVector<NumberRegister::SharedCode> shared = NumberRegister::sharedCodes(folder.db(), settings);
        int expected = 0;
        for (const QStringList &titles : std::as_const(byCode))
            expected += titles.size() > 1 ? 1 : 0;
        QCOMPARE(shared.size(), expected);
        for (const NumberRegister::SharedCode &entry : shared)
            QCOMPARE(entry.holders.size(), byCode.value(entry.code).size());
    }

    // With the default settings the two 机构 numbered from 1 share no code; numbered through
    // the year across 机构, they do.
    void defaultsShareNoCode()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) values "
                                   "('J012','2023','永久','办公室','1','1','甲')"));
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) values "
                                   "('J012','2023','永久',' 财务科','1','1','乙')"));
        QVERIFY(NumberRegister::sharedCodes(folder.db(), ArchivalCodeSettings()).isEmpty());
        QCOMPARE(NumberRegister::classNames(folder.db()), QStringList({ "办公室", "财务科" }));
        ArchivalCodeSettings through;
        through.classSegment = false;
        const auto shared = NumberRegister::sharedCodes(folder.db(), through);
        QCOMPARE(shared.size(), 1);
        QCOMPARE(shared.first().code, QStringLiteral("J012-WS·2023-Y-0001"));
        QCOMPARE(shared.first().holders.size(), 2);
    }

    // A catalogue made with the indexes of an earlier reading of the numbers opens, loses
    // them and gets the new ones, on either engine.
    void earlierIndexesReplaced()
    {
        test::ProgramFolderFixture folder;
        const bool server = test::onServer();
        const auto indexCount = [&](const QString &like) {
            return server ? folder.count(QStringLiteral("pg_indexes"), QStringLiteral("indexname like '%1'").arg(like))
                          : folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name like '%1'").arg(like));
        };
        folder.exec(QStringLiteral("drop index if exists ix_wjml_item_key"));
        folder.exec(QStringLiteral("drop index if exists ix_wjml_volume_key"));
        folder.exec(QStringLiteral("create index ix_wjml_item_no on 文件目录 (QZH, GDND, BGQX, JGWT, JH) where JH is not null"));
        folder.exec(QStringLiteral("create index ix_wjml_volume_no on 文件目录 (QZH, MLH, AJH, SXH) where SXH is not null"));
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,hh,jh,tm) values ('1','2024','永久','1','０７','旧')"));
        {
            test::FakeUi ui;
            TDataModule5 dm(folder.path(), ui);
            QVERIFY(dm.isConnected());
            QVERIFY(ui.shown.isEmpty());
            const auto found = NumberRegister::holderOf(
                dm.ADOConnection1, number({ "1", "2024", "永久", "", "2", "7" }), true, ArchivalCodeSettings());
            QVERIFY(found);
            QCOMPARE(found->title, QStringLiteral("旧"));
        }
        QCOMPARE(indexCount(QStringLiteral("ix_wjml_%_no")), 0);
        QCOMPARE(indexCount(QStringLiteral("ix_wjml_%_key")), 2);
    }


    // The indexes use the engine's functions only, and a catalogue made before them gets
    // them when the program opens it; the look-ups walk them.
    void indexesOnOpen()
    {
        // The key of a number column as the indexes write it: full-width digits as plain
        // ones, then without leading zeros.
        const auto plainNumber = [](const char *column) {
            QString e = QStringLiteral("ifnull(trim(%1),'')").arg(QLatin1String(column));
            for (int d = 0; d < 10; ++d)
                e = QStringLiteral("replace(%1,'%2','%3')").arg(e, QChar(char16_t(0xFF10 + d))).arg(d);
            return QStringLiteral("ltrim(%1,'0')").arg(e);
        };
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        for (const char *index : { "ix_wjml_item_key", "ix_wjml_volume_key" }) {
            QCOMPARE(
                folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name='%1'").arg(QLatin1String(index))),
                1);
            folder.exec(QStringLiteral("drop index %1").arg(QLatin1String(index)));
        }
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name like 'ix_wjml_%_key'")), 0);
        {
            test::FakeUi ui;
            TDataModule5 dm(folder.path(), ui);
            QVERIFY(ui.shown.isEmpty());
        }
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("name like 'ix_wjml_%_key'")), 2);

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
            { QStringLiteral("SELECT 1 FROM 文件目录 WHERE ifnull(trim(QZH),'')='1' AND %1='2024' AND %2='7' "
                             "AND JH IS NOT NULL")
                    .arg(plainNumber("GDND"), plainNumber("JH")),
                QStringLiteral("SELECT 1 FROM 文件目录 WHERE ifnull(trim(QZH),'')='1' AND %1='' "
                               "AND ifnull(AJH,'')=3 AND %2='7' AND SXH IS NOT NULL")
                    .arg(plainNumber("MLH"), plainNumber("SXH")) }) {
            Statement plan(raw, QStringLiteral("EXPLAIN QUERY PLAN ") + probe);
            QVERIFY(plan.step());
            const QString detail = plan.column(plan.columnCount() - 1).toString();
            QVERIFY2(detail.contains(QStringLiteral("USING INDEX ix_wjml_")), qPrintable(detail));
        }
        sqlite3_close(raw);
        RecordNumber outside = number({ "1", "2024", "永久", "", "1", "0007" });
        const auto found = NumberRegister::holderOf(folder.db(), outside, true, ArchivalCodeSettings());
        QVERIFY(found);
        QCOMPARE(found->title, QStringLiteral("外部"));
    }
};

QTEST_MAIN(TestNumberRegister)
#include "tst_numberregister.moc"
