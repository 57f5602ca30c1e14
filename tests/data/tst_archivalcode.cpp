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
        QTest::addColumn<bool>("classSegment");
        QTest::addColumn<QString>("expected");
        const QString none;
        QTest::newRow("permanent") << QStringList{"0001", "2024", "永久", "", "1", "9"} << none << true
                                   << QStringLiteral("0001-WS·2024-Y-0009");
        QTest::newRow("30 years") << QStringList{"0001", "2024", "30年", "", "2", "0012"} << none << true
                                  << QStringLiteral("0001-WS·2024-D30-0012");
        QTest::newRow("10 years") << QStringList{"Z109", "2023", "10年", "", "1", "00001"} << none << true
                                  << QStringLiteral("Z109-WS·2023-D10-0001");
        QTest::newRow("long and short") << QStringList{"1", "2001", "长期", "", "1", "1"} << none << true
                                        << QStringLiteral("1-WS·2001-C-0001");
        QTest::newRow("wider than the width") << QStringList{"1", "2001", "短期", "", "1", "123456"} << none << true
                                              << QStringLiteral("1-WS·2001-D-123456");
        QTest::newRow("item not a number") << QStringList{"1", "2001", "永久", "", "1", "3a"} << none << true
                                           << QStringLiteral("1-WS·2001-Y-3a");
        QTest::newRow("class code") << QStringList{"0001", "2024", "永久", "办公室", "1", "9"}
                                    << QStringLiteral("办公室=BGS;财务科=CWK") << true
                                    << QStringLiteral("0001-WS·2024-Y-BGS-0009");
        // Numbered per 机构 without codes set, two 机构 still give two codes.
        QTest::newRow("机构 without codes: 办公室")
            << QStringList{"J012", "2023", "永久", "办公室", "1", "1"} << none << true
            << QStringLiteral("J012-WS·2023-Y-BGS-0001");
        QTest::newRow("机构 without codes: 财务科")
            << QStringList{"J012", "2023", "永久", "财务科", "1", "1"} << none << true
            << QStringLiteral("J012-WS·2023-Y-CWK-0001");
        QTest::newRow("机构 without a code among codes")
            << QStringList{"0001", "2024", "永久", "人事科", "1", "9"} << QStringLiteral("办公室=BGS") << true
            << QStringLiteral("0001-WS·2024-Y-RSK-0009");
        QTest::newRow("机构 left out of the code")
            << QStringList{"J012", "2023", "永久", "财务科", "1", "1"} << QStringLiteral("财务科=CWK") << false
            << QStringLiteral("J012-WS·2023-Y-0001");
        QTest::newRow("empty 机构 with codes") << QStringList{"J012", "2024", "10年", "", "1", "22"}
                                              << QStringLiteral("办公室=BGS") << true
                                              << QStringLiteral("J012-WS·2024-D10-0022");
        QTest::newRow("blank 机构") << QStringList{"J012", "2024", "10年", "  ", "1", "22"} << none << true
                                   << QStringLiteral("J012-WS·2024-D10-0022");
        QTest::newRow("full-width digits") << QStringList{"J012", "２０２３", "永久", "", "1", "０００２"} << none << true
                                           << QStringLiteral("J012-WS·2023-Y-0002");
        QTest::newRow("unknown retention") << QStringList{"0001", "2024", "五年", "", "", "7"} << none << true
                                           << QStringLiteral("0001-WS·2024-五年-0007");
        QTest::newRow("no retention") << QStringList{"0001", "2024", "", "", "", "7"} << none << true
                                      << QStringLiteral("0001-WS·2024-0007");
        QTest::newRow("by volume") << QStringList{"0001", "", "永久", "", "", "", "3", "12", "5"} << none << true
                                   << QStringLiteral("0001-3-12-5");
        QTest::newRow("catalogue 01 is 1") << QStringList{"0001", "", "永久", "", "", "", "01", "012", "05"} << none
                                           << true << QStringLiteral("0001-1-12-5");
        QTest::newRow("by volume, full-width") << QStringList{"0001", "", "", "", "", "", "０１", "１２", "５"} << none
                                               << true << QStringLiteral("0001-1-12-5");
        QTest::newRow("catalogue not a number") << QStringList{"0001", "", "", "", "", "", "A01", "3", "1"} << none
                                                << true << QStringLiteral("0001-A01-3-1");
        QTest::newRow("no numbers") << QStringList{"0001", "2024", "永久"} << none << true << QString();
        QTest::newRow("blanks trimmed") << QStringList{" 0001 ", "2024 ", "永久", "", " 1", " 9 "} << none << true
                                        << QStringLiteral("0001-WS·2024-Y-0009");
    }

    void compose()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, classCodes);
        QFETCH(bool, classSegment);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const IniFile ini(dir.filePath(QStringLiteral("myini.ini")));
        if (!classCodes.isEmpty())
            ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jgwt"), classCodes);
        if (!classSegment)
            ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jgdh"), QStringLiteral("0"));
        QCOMPARE(ArchivalCode::compose(number(values), ArchivalCodeSettings::load(ini)), expected);
    }

    // An office reads "0009", "9" and "９" as the same number.
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
        QTest::newRow("full-width digits") << "００９" << "9";
        QTest::newRow("full-width year") << "２０２３" << "2023";
        QTest::newRow("mixed widths") << "0０1" << "1";
    }

    void numberKey()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QCOMPARE(ArchivalCode::numberKey(text), key);
    }

    // A 机构 without a code gets the initials of its name, never the name itself.
    void derivedClassCode_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("办公室") << "办公室" << "BGS";
        QTest::newRow("财务科") << "财务科" << "CWK";
        QTest::newRow("人事科") << "人事科" << "RSK";
        QTest::newRow("档案室") << "档案室" << "DAS";
        QTest::newRow("with a digit") << "第1科" << "D1K";
        QTest::newRow("full-width letters") << "ＩＴ部" << "ITB";
        QTest::newRow("punctuation left out") << "（党委）办公室" << "DWBGS";
        QTest::newRow("nothing readable") << "※" << "JG";
    }

    void derivedClassCode()
    {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(ArchivalCodeSettings::derivedClassCode(name), code);
    }

    // The codes offered for the 机构 of a catalogue: set ones stand, derived ones give way.
    void codesFor()
    {
        ArchivalCodeSettings s;
        s.classCodes = {{QStringLiteral("财务科"), QStringLiteral("BGS")}};
        const QHash<QString, QString> codes
            = s.codesFor({QStringLiteral("办公室"), QStringLiteral("报告室"), QStringLiteral("财务科")});
        QCOMPARE(codes.value(QStringLiteral("财务科")), QStringLiteral("BGS"));
        QCOMPARE(codes.value(QStringLiteral("办公室")), QStringLiteral("BGS2"));
        QCOMPARE(codes.value(QStringLiteral("报告室")), QStringLiteral("BGS3"));
    }

    void codeProblem_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("problem");
        QTest::newRow("fine") << "BGS" << "";
        QTest::newRow("empty") << " " << "机构“办公室”的代码不能为空。";
        QTest::newRow("hyphen") << "B-1" << "机构“办公室”的代码“B-1”不能含有“-”、“·”、“=”、“;”或空格。";
        QTest::newRow("blank inside") << "B 1" << "机构“办公室”的代码“B 1”不能含有“-”、“·”、“=”、“;”或空格。";
    }

    void codeProblem()
    {
        QFETCH(QString, code);
        QFETCH(QString, problem);
        QCOMPARE(ArchivalCodeSettings::codeProblem(QStringLiteral("机构“办公室”"), code), problem);
    }

    // Retention periods are listed longest first.
    void retentionOrder()
    {
        QCOMPARE(ArchivalCodeSettings::retentionPeriods(),
            QStringList({"永久", "长期", "30年", "短期", "10年"}));
        QCOMPARE(ArchivalCodeSettings::retentionRank(QStringLiteral("30年")), 2);
        QCOMPARE(ArchivalCodeSettings::retentionRank(QStringLiteral("五年")), 5);
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
        QVERIFY(defaults.classSegment);

        ArchivalCodeSettings s;
        s.categoryCode = QStringLiteral("KJ");
        s.itemDigits = 3;
        s.retentionCodes[QStringLiteral("长期")] = QStringLiteral("D60");
        s.classCodes = {{QStringLiteral("办公室"), QStringLiteral("BGS")}, {QStringLiteral("财务科"), QStringLiteral("CWK")}};
        s.classSegment = false;
        const int before = ArchivalCodeSettings::generation();
        s.save(ini);
        QCOMPARE(ArchivalCodeSettings::generation(), before + 1);
        const ArchivalCodeSettings back = ArchivalCodeSettings::load(ini);
        QCOMPARE(back.categoryCode, s.categoryCode);
        QCOMPARE(back.itemDigits, 3);
        QCOMPARE(back.retentionCodes, s.retentionCodes);
        QCOMPARE(back.classCodes, s.classCodes);
        QVERIFY(!back.classSegment);
        QCOMPARE(ini.read(ArchivalCodeSettings::kSection, QStringLiteral("jgwt")), QStringLiteral("办公室=BGS;财务科=CWK"));

        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("jhws"), QStringLiteral("四"));
        ini.write(ArchivalCodeSettings::kSection, QStringLiteral("mldm"), QStringLiteral("  "));
        const ArchivalCodeSettings bad = ArchivalCodeSettings::load(ini);
        QCOMPARE(bad.itemDigits, 4);
        QCOMPARE(bad.categoryCode, QStringLiteral("WS"));
    }
};

QTEST_GUILESS_MAIN(TestArchivalCode)
#include "tst_archivalcode.moc"
