#include "InputMethods.h"

#include <QTest>

using namespace dagl;

class TestInputMethods : public QObject {
    Q_OBJECT

private slots:
    void displayNames_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("engines under languages")
            << QByteArray("language: 中文（中国）\n  pinyin - 智能拼音\n  table:wubi-jidian86 - 五笔86\n"
                          "language: 英语（美国）\n  xkb:us::eng - 英语（美国）\n")
            << QStringList { QStringLiteral("智能拼音"), QStringLiteral("五笔86"), QStringLiteral("英语（美国）") };
        QTest::newRow("name with a dash of its own")
            << QByteArray("language: Chinese\n  libpinyin - Intelligent Pinyin - Simplified\n")
            << QStringList { QStringLiteral("Intelligent Pinyin - Simplified") };
        QTest::newRow("headers only") << QByteArray("language: Other\n") << QStringList {};
        QTest::newRow("nothing") << QByteArray() << QStringList {};
    }
    void displayNames()
    {
        QFETCH(QByteArray, output);
        QFETCH(QStringList, names);
        QCOMPARE(InputMethods::parseEngineList(output), names);
    }

    void installedListIsKept()
    {
        const QStringList first = InputMethods::installed();
        QVERIFY(!first.isEmpty());
        QCOMPARE(InputMethods::installed(), first);
    }
};

QTEST_GUILESS_MAIN(TestInputMethods)
#include "tst_inputmethods.moc"
