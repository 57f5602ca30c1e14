#include "RecordCheck.h"

#include <QTest>

using namespace dagl;
using namespace dagl::RecordCheck;

namespace {

// A record that passes under both standards, changed by "COLUMN=text;COLUMN=text".
RecordValues record(const QString &changes)
{
    RecordValues values { { "DWDM", "123" }, { "QZH", "001" }, { "DWMC", "市档案馆" }, { "MLH", "1" }, { "AJH", "2" },
        { "SXH", "3" }, { "HH", "4" }, { "JH", "5" }, { "GDND", "2001" }, { "BGQX", "永久" }, { "TM", "题名" },
        { "YH", "6" } };
    for (const QString &change : changes.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int at = int(change.indexOf(QLatin1Char('=')));
        values.insert(change.left(at), change.mid(at + 1));
    }
    return values;
}

} // namespace

class TestRecordCheck : public QObject {
    Q_OBJECT

private slots:
    void rules_data()
    {
        QTest::addColumn<int>("standard");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QString>("message"); // empty: the record may be saved
        QTest::addColumn<QString>("focus");
        QTest::newRow("complete, volume") << 0 << ""
                                          << ""
                                          << "";
        QTest::newRow("complete, item") << 1 << ""
                                        << ""
                                        << "";
        QTest::newRow("unit code without fonds") << 0 << "QZH="
                                                 << ""
                                                 << "";
        QTest::newRow("fonds without unit code") << 1 << "DWDM="
                                                 << ""
                                                 << "";
        QTest::newRow("no code nor fonds") << 0 << "DWDM=;QZH=" << kNoCode << "DWDM";
        QTest::newRow("codes of blanks") << 1 << "DWDM=  ;QZH=\t" << kNoCode << "DWDM";
        QTest::newRow("codes before name") << 0 << "DWDM=;QZH=;DWMC=" << kNoCode << "DWDM";
        QTest::newRow("no unit name") << 0 << "DWMC= " << kNoUnitName << "DWMC";
        QTest::newRow("name before numbers") << 0 << "DWMC=;MLH=" << kNoUnitName << "DWMC";
        QTest::newRow("volume: no catalogue number") << 0 << "MLH=" << kVolumeIncomplete << "MLH";
        QTest::newRow("volume: only AJH missing") << 0 << "AJH=" << kVolumeIncomplete << "MLH";
        QTest::newRow("volume: SXH of blanks") << 0 << "SXH=   " << kVolumeIncomplete << "MLH";
        QTest::newRow("volume: box numbers do not count") << 0 << "MLH=;AJH=;SXH=" << kVolumeIncomplete << "MLH";
        QTest::newRow("volume: year not needed") << 0 << "GDND=;HH=;JH="
                                                 << ""
                                                 << "";
        QTest::newRow("item: only JH missing") << 1 << "JH=" << kItemIncomplete << "HH";
        QTest::newRow("item: HH missing") << 1 << "HH= " << kItemIncomplete << "HH";
        QTest::newRow("item: volume numbers do not count") << 1 << "HH=;JH=" << kItemIncomplete << "HH";
        QTest::newRow("item: no year") << 1 << "GDND=" << kNoYear << "GDND";
        QTest::newRow("item: numbers before year") << 1 << "JH=;GDND=" << kItemIncomplete << "HH";
        QTest::newRow("item: no volume numbers needed") << 1 << "MLH=;AJH=;SXH="
                                                        << ""
                                                        << "";
        QTest::newRow("no retention") << 0 << "BGQX=" << kNoRetention << "BGQX";
        QTest::newRow("retention before title") << 1 << "BGQX=;TM=" << kNoRetention << "BGQX";
        QTest::newRow("title of blanks") << 0 << "TM=   " << kNoTitle << "TM";
        QTest::newRow("title of control characters") << 0 << "TM=\t\r\n" << kNoTitle << "TM";
        QTest::newRow("title of full-width blanks") << 1 << "TM=　" << kNoTitle << "TM";
        QTest::newRow("title before pages") << 0 << "TM=;YH=" << kNoTitle << "TM";
        QTest::newRow("no pages") << 1 << "YH=" << kNoPages << "YH";
        QTest::newRow("other fields not looked at") << 0 << "GDM=;ZRZ=;MJ=;DALX=;KZBS=;DZWJM="
                                                    << ""
                                                    << "";
    }
    void rules()
    {
        QFETCH(int, standard);
        QFETCH(QString, changes);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        const auto failure = check(standard, record(changes));
        QCOMPARE(failure ? failure->message : QString(), message);
        QCOMPARE(failure ? failure->field : QString(), focus);
    }

    void messagesAsWritten()
    {
        QVERIFY(kVolumeIncomplete.endsWith(QStringLiteral("请检查 ")));
        QVERIFY(kItemIncomplete.contains(QStringLiteral("件号  为必录项")));
    }

    void otherStandard()
    {
        QCOMPARE(otherStandardColumns(ByVolume), (QStringList { "HH", "JH" }));
        QCOMPARE(otherStandardColumns(ByItem), (QStringList { "MLH", "AJH", "SXH" }));
    }

    void standardOfRecord_data()
    {
        QTest::addColumn<QString>("mlh");
        QTest::addColumn<QString>("hh");
        QTest::addColumn<QString>("kxpl");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("standard");
        QTest::addColumn<bool>("fromSetting");
        QTest::newRow("volume number") << "A1"
                                       << ""
                                       << "1" << 1 << 0 << false;
        QTest::newRow("both numbers") << "A1"
                                      << "3"
                                      << "1" << 1 << 0 << false;
        QTest::newRow("box number") << " "
                                    << "3"
                                    << "0" << 0 << 1 << false;
        QTest::newRow("none: setting 0") << ""
                                         << ""
                                         << "0" << 1 << 0 << true;
        QTest::newRow("none: setting 1") << ""
                                         << " "
                                         << "1" << 0 << 1 << true;
        QTest::newRow("none: other setting keeps") << ""
                                                   << ""
                                                   << "2" << 1 << 1 << false;
        QTest::newRow("none: empty setting keeps") << ""
                                                   << ""
                                                   << "" << 0 << 0 << false;
    }
    void standardOfRecord()
    {
        QFETCH(QString, mlh);
        QFETCH(QString, hh);
        QFETCH(QString, kxpl);
        QFETCH(int, current);
        QFETCH(int, standard);
        QFETCH(bool, fromSetting);
        bool decided = !fromSetting;
        QCOMPARE(standardFor(mlh, hh, kxpl, current, &decided), standard);
        QCOMPARE(decided, fromSetting);
    }

    void carried()
    {
        QCOMPARE(carriedColumns().size(), 24);
        QVERIFY(!carriedColumns().contains(QStringLiteral("DZWJM")));
        QCOMPARE(columnsToCarry(false), (QStringList { "GDM", "DWDM", "QZH", "DWMC", "BGQX", "MJ", "DALX", "KZBS" }));
        QCOMPARE(columnsToCarry(true), carriedColumns());
        QCOMPARE(listEntries(QStringLiteral("BGQX")), (QStringList { "永久", "长期", "短期", "30年", "10年" }));
        QCOMPARE(listEntries(QStringLiteral("KZBS")).first(), QStringLiteral("控制"));
    }
};

QTEST_MAIN(TestRecordCheck)
#include "tst_recordcheck.moc"
