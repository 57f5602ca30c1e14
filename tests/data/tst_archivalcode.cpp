#include "ArchivalCode.h"
#include "IniFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace dagl;

class TestArchivalCode : public QObject {
    Q_OBJECT

    static RecordNumber number(const QStringList &values)
    {
        return RecordNumber::from([&](const QString &column) {
            const int i = RecordNumber::columns().indexOf(column);
            return i < values.size() ? values.at(i) : QString();
        });
    }

private slots:
    void compose_data()
    {
        QTest::addColumn<QStringList>("values"); // QZH GDND BGQX JGWT HH JH MLH AJH SXH
        QTest::addColumn<QString>("classCodes");
        QTest::addColumn<QString>("expected");
        const QString none;
        QTest::newRow("permanent") << QStringList{"0001", "2024", "永久", "办公室", "1", "9"} << none
                                   << QStringLiteral("0001-WS·2024-Y-0009");
        QTest::newRow("30 years") << QStringList{"0001", "2024", "30年", "", "2", "0012"} << none
                                  << QStringLiteral("0001-WS·2024-D30-0012");
        QTest::newRow("10 years") << QStringList{"Z109", "2023", "10年", "", "1", "00001"} << none
                                  << QStringLiteral("Z109-WS·2023-D10-0001");
        QTest::newRow("long and short") << QStringList{"1", "2001", "长期", "", "1", "1"} << none
                                        << QStringLiteral("1-WS·2001-C-0001");
        QTest::newRow("wider than the width") << QStringList{"1", "2001", "短期", "", "1", "123456"} << none
                                              << QStringLiteral("1-WS·2001-D-123456");
        QTest::newRow("item not a number") << QStringList{"1", "2001", "永久", "", "1", "3a"} << none
                                           << QStringLiteral("1-WS·2001-Y-3a");
        QTest::newRow("class code") << QStringList{"0001", "2024", "永久", "办公室", "1", "9"}
                                    << QStringLiteral("办公室=BGS;财务科=CWK")
                                    << QStringLiteral("0001-WS·2024-Y-BGS-0009");
        QTest::newRow("class without a code") << QStringList{"0001", "2024", "永久", "档案室", "1", "9"}
                                              << QStringLiteral("办公室=BGS") << QStringLiteral("0001-WS·2024-Y-档案室-0009");
        QTest::newRow("unknown retention") << QStringList{"0001", "2024", "五年", "", "", "7"} << none
                                           << QStringLiteral("0001-WS·2024-五年-0007");
        QTest::newRow("by volume") << QStringList{"0001", "", "永久", "", "", "", "3", "12", "5"} << none
                                   << QStringLiteral("0001-3-12-5");
        QTest::newRow("no numbers") << QStringList{"0001", "2024", "永久"} << none << QString();
        QTest::newRow("blanks trimmed") << QStringList{" 0001 ", "2024 ", "永久", "", " 1", " 9 "} << none
                                        << QStringLiteral("0001-WS·2024-Y-0009");
    }

    void compose()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, classCodes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        if (!classCodes.isEmpty())
            ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jgwt"), classCodes);
        QCOMPARE(ArchivalCode::compose(number(values), ArchivalCodeSettings::load(ini)), expected);
    }

    // An office reads "0009" and "9" as the same item number.
    void numberKey_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::newRow("leading zeros") << "0009" << "9";
        QTest::newRow("plain") << "9" << "9";
        QTest::newRow("zero") << "0000" << "0";
        QTest::newRow("blanks") << " 012 " << "12";
        QTest::newRow("text kept") << "09a" << "09a";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("full-width digits are text") << "００９" << "００９";
    }

    void numberKey()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QCOMPARE(ArchivalCode::numberKey(text), key);
    }

    // Settings written by the program read back; bad values keep the defaults.
    void settingsRoundTrip()
    {
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        ArchivalCodeSettings defaults = ArchivalCodeSettings::load(ini);
        QCOMPARE(defaults.categoryCode, QStringLiteral("WS"));
        QCOMPARE(defaults.itemDigits, 4);
        QCOMPARE(defaults.retentionCodes.value(QStringLiteral("30年")), QStringLiteral("D30"));
        QVERIFY(defaults.classCodes.isEmpty());

        ArchivalCodeSettings s;
        s.categoryCode = QStringLiteral("KJ");
        s.itemDigits = 3;
        s.retentionCodes[QStringLiteral("长期")] = QStringLiteral("D60");
        s.classCodes = {{QStringLiteral("办公室"), QStringLiteral("BGS")}, {QStringLiteral("财务科"), QStringLiteral("CWK")}};
        s.save(ini);
        const ArchivalCodeSettings back = ArchivalCodeSettings::load(ini);
        QCOMPARE(back.categoryCode, s.categoryCode);
        QCOMPARE(back.itemDigits, 3);
        QCOMPARE(back.retentionCodes, s.retentionCodes);
        QCOMPARE(back.classCodes, s.classCodes);

        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jhws"), QStringLiteral("四"));
        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("mldm"), QStringLiteral("  "));
        const ArchivalCodeSettings bad = ArchivalCodeSettings::load(ini);
        QCOMPARE(bad.itemDigits, 4);
        QCOMPARE(bad.categoryCode, QStringLiteral("WS"));
    }
};

QTEST_GUILESS_MAIN(TestArchivalCode)
#include "tst_archivalcode.moc"
