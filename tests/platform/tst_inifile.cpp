#include "Error.h"
#include "IniFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using dagl::IniFile;

class TestIniFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("myini.ini")); }
    void writeRaw(const QByteArray &bytes)
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray gbk(const QString &text) { return QStringEncoder("GBK")(text); }

private slots:
    void cleanup() { QFile::remove(path()); }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content"); // GBK-encoded file, or empty for no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("names in capitals") << QByteArray("[JCSZ]\r\nCJYHQX=0\r\n") << "jcsz"
                                           << "cjyhqx"
                                           << "0";
        QTest::newRow("missing file gives default") << QByteArray() << "jcsz"
                                                    << "cjyhqx"
                                                    << "dflt";
        QTest::newRow("missing key gives default") << QByteArray("[jcsz]\r\nother=1\r\n") << "jcsz"
                                                   << "cjyhqx"
                                                   << "dflt";
        QTest::newRow("key of another section") << QByteArray("[a]\r\nk=1\r\n[b]\r\nx=2\r\n") << "b"
                                                << "k"
                                                << "dflt";
        QTest::newRow("blanks around") << QByteArray("[s]\r\n  k  =  v v  \r\n") << "s"
                                       << "k"
                                       << "v v";
        QTest::newRow("quotes dropped") << QByteArray("[s]\nk=\"quoted\"\n") << "s"
                                        << "k"
                                        << "quoted";
        QTest::newRow("empty value") << QByteArray("[s]\nk=\n") << "s"
                                     << "k"
                                     << "";
        QTest::newRow("GBK text") << gbk(QStringLiteral("[datacsh]\r\nsrf=中文 (简体) - 全拼\r\n")) << "DATACSH"
                                  << "SRF" << QStringLiteral("中文 (简体) - 全拼");
        QTest::newRow("long value cut") << QByteArray("[s]\nk=") + QByteArray(3000, 'x') + "\n"
                                        << "s"
                                        << "k" << QString(2047, QLatin1Char('x'));
        // Lines led by an ideographic space are blank-led lines like any other.
        QTest::newRow("ideographic blanks")
            << gbk(QStringLiteral("[a]\r\nk=1\r\n\u3000[s]\r\n\u3000k\u3000=值\r\n")) << "S"
            << "K" << QStringLiteral("值");
        QTest::newRow("comment and Chinese key") << gbk(QStringLiteral("[s]\r\n;k=no\r\n 键=x\r\nk=yes\r\n")) << "s"
                                                 << "k"
                                                 << "yes";
        QTest::newRow("Chinese key") << gbk(QStringLiteral("[s]\r\n 键 = x\r\n")) << "s" << QStringLiteral("键") << "x";
        QTest::newRow("first of a repeated section") << QByteArray("[s]\nj=1\n[t]\n[s]\nk=2\n") << "s"
                                                     << "k"
                                                     << "dflt";
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        if (!content.isEmpty())
            writeRaw(content);
        QCOMPARE(IniFile(path()).read(section, key, QStringLiteral("dflt")), expected);
        QCOMPARE(QFile::exists(path()), !content.isEmpty()); // a read never creates the file
    }

    void writeCreatesFileAndSection()
    {
        IniFile ini(path());
        ini.write(QStringLiteral("datacsh"), QStringLiteral("srf"), QStringLiteral("中文 (简体) - 全拼"));
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), gbk(QStringLiteral("[datacsh]\r\nsrf=中文 (简体) - 全拼\r\n")));
        QCOMPARE(ini.read(QStringLiteral("datacsh"), QStringLiteral("srf")), QStringLiteral("中文 (简体) - 全拼"));
    }

    void writeKeepsOtherLinesAndReplacesCaseInsensitively()
    {
        writeRaw("; comment\r\n[JCSZ]\r\nCJYHQX=1\r\nother=x\r\n\r\n[zddr]\r\nspbm=1\r\n");
        IniFile ini(path());
        ini.write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("0"));
        ini.write(QStringLiteral("jcsz"), QStringLiteral("new"), QStringLiteral("n"));
        ini.write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("1"));
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(f.readAll()),
            QStringLiteral("; comment\r\n[JCSZ]\r\nCJYHQX=0\r\nother=x\r\nnew=n\r\n\r\n[zddr]\r\nspbm=1\r\n\r\n"
                           "[datacsh]\r\nkxpl=1\r\n"));
    }

    void writeKeepsOtherLinesByteForByte_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray utf8Line = QStringLiteral("note=中文说明").toUtf8(); // not GBK
        QTest::newRow("UTF-8 line in a GBK file") << QByteArray("[jcsz]\r\n") + utf8Line + "\r\ncjyhqx=1\r\n"
                                                  << QByteArray("[jcsz]\r\n") + utf8Line + "\r\ncjyhqx=0\r\n";
        QTest::newRow("bare line breaks and odd bytes") << QByteArray("[a]\nx=\xff\xfe\x80\n[jcsz]\ncjyhqx=1\n")
                                                        << QByteArray("[a]\nx=\xff\xfe\x80\n[jcsz]\ncjyhqx=0\n");
        QTest::newRow("last line without a break") << QByteArray(
            "[other]\nk=\xe4\xb8\xad") << QByteArray("[other]\nk=\xe4\xb8\xad\r\n\r\n[jcsz]\r\ncjyhqx=0\r\n");
        QTest::newRow("new key in a section at the end without a break")
            << QByteArray("[jcsz]\r\nother=\xe4\xb8\xad") << QByteArray("[jcsz]\r\nother=\xe4\xb8\xad\r\ncjyhqx=0\r\n");
    }
    void writeKeepsOtherLinesByteForByte()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeRaw(before);
        IniFile(path()).write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("0"));
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), after);
    }

    void utf8FileWithByteOrderMark()
    {
        const QByteArray bom("\xEF\xBB\xBF");
        writeRaw(bom + QStringLiteral("[datacsh]\r\nsrf=中文 (简体) - 全拼\r\n").toUtf8());
        IniFile ini(path());
        QCOMPARE(ini.read(QStringLiteral("datacsh"), QStringLiteral("srf")), QStringLiteral("中文 (简体) - 全拼"));
        // A write keeps the mark and writes its own line in UTF-8 as well.
        ini.write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("是"));
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bom + QStringLiteral("[datacsh]\r\nsrf=中文 (简体) - 全拼\r\nkxpl=是\r\n").toUtf8());
        QCOMPARE(ini.read(QStringLiteral("datacsh"), QStringLiteral("kxpl")), QStringLiteral("是"));
    }

    void writeFailureNamesTheFile()
    {
        writeRaw("not a folder");
        const QString impossible = path() + QStringLiteral("/myini.ini");
        try {
            IniFile(impossible).write(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("v"));
            QFAIL("write should fail");
        } catch (const dagl::Error &error) {
            QCOMPARE(error.message().section(QLatin1Char('\n'), 0, 0),
                QStringLiteral("Unable to write to %1").arg(impossible));
            QCOMPARE(error.message().section(QLatin1Char('\n'), 1), dagl::causeText(dagl::Cause::NotFound));
        }
    }

    // A disk that takes no more: the write fails with its cause and the file is as it was,
    // not cut short.
    void fullDiskKeepsTheFile()
    {
        dagl::test::SmallDisk disk;
        const QString file = disk.path() + QStringLiteral("myini.ini");
        QByteArray before;
        for (int i = 0; i < 24; ++i)
            before += gbk(QStringLiteral("[zddr]\r\nspbm=1\r\nspbmid=%1\r\n").arg(i));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        disk.fill(19);
        try {
            IniFile(file).write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("0"));
            disk.release();
            QFAIL("write should fail");
        } catch (const dagl::Error &error) {
            disk.release();
            QCOMPARE(
                error.message().section(QLatin1Char('\n'), 0, 0), QStringLiteral("Unable to write to %1").arg(file));
            QVERIFY2(
                disk.causeTexts().contains(error.message().section(QLatin1Char('\n'), 1)), qPrintable(error.message()));
        }
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList { QStringLiteral("myini.ini") });
        // With room again the same write goes through.
        IniFile(file).write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("0"));
        QCOMPARE(IniFile(file).read(QStringLiteral("jcsz"), QStringLiteral("cjyhqx")), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
