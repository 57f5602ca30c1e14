#include "Error.h"
#include "ExcelWorkbook.h"
#include "GridWriters.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace dagl;

namespace {
QString fixture(const char *name)
{
    return QStringLiteral(DAGL_FIXTURES) + QString::fromLatin1(name);
}
} // namespace

class TestExcelWorkbook : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    // Written by LibreOffice Calc: a sheet with a Chinese name, an empty heading, numbers,
    // dates, a mixed column, empty cells, and a second sheet.
    void readsSpreadsheetProgramWorkbook()
    {
        ExcelWorkbook book;
        book.open(fixture("catalogue.xls"));
        QCOMPARE(book.tableNames(), (QStringList { QStringLiteral("档案目录$"), QStringLiteral("Other$") }));
        QCOMPARE(book.selectedTable(), QStringLiteral("档案目录$")); // the first sheet
        QCOMPARE(book.headings(),
            (QStringList { QStringLiteral("题名"), QStringLiteral("F2"), QStringLiteral("案卷号"),
                QStringLiteral("盒号"), QStringLiteral("成文时间"), QStringLiteral("混合"), QStringLiteral("页数") }));
        QCOMPARE(book.rowCount(), 4);
        QCOMPARE(book.cell(0, 0), QVariant(QStringLiteral("关于档案工作的通知")));
        QVERIFY(book.cell(1, 1).isNull()); // empty cell: no value
        QCOMPARE(book.cell(3, 4), QVariant(QDate(2020, 1, 2)));
        QCOMPARE(ExcelWorkbook::textOf(book.cell(0, 4)), QStringLiteral("2024/3/15"));
        QVERIFY(book.cell(2, 4).isNull());
        QCOMPARE(book.cell(3, 6), QVariant(qlonglong(9))); // a number column stays numbers
        QCOMPARE(ExcelWorkbook::textOf(book.cell(3, 6)), QStringLiteral("9"));
        // Columns holding text read every cell as text.
        QCOMPARE(book.cell(1, 5), QVariant(QStringLiteral("42")));
        QCOMPARE(book.cell(2, 5), QVariant(QStringLiteral("3.25")));
        QCOMPARE(book.cell(3, 3), QVariant(QStringLiteral("2")));
        QCOMPARE(book.cell(2, 2), QVariant(QStringLiteral("abc")));
        QCOMPARE(book.cell(0, 2), QVariant(QStringLiteral("12")));

        book.selectTable(QStringLiteral("[Other$]"));
        QCOMPARE(book.headings(), (QStringList { QStringLiteral("甲"), QStringLiteral("乙") }));
        QCOMPARE(book.rowCount(), 1);
        QCOMPARE(ExcelWorkbook::textOf(book.cell(0, 0)), QStringLiteral("第二张表"));
        QVERIFY_THROWS_EXCEPTION(Error, book.cell(1, 0));
        QVERIFY_THROWS_EXCEPTION(Error, book.selectTable(QStringLiteral("Sheet9$")));
    }

    void emptySheets_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("headings");
        QTest::newRow("headings only") << "headings_only.xls" << QStringList { "题名", "案卷号" };
        QTest::newRow("no cells") << "blank.xls" << QStringList {};
    }
    void emptySheets()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, headings);
        ExcelWorkbook book;
        book.open(fixture(file.toLatin1().constData()));
        QCOMPARE(book.tableNames(), QStringList { QStringLiteral("Sheet1$") });
        QCOMPARE(book.headings(), headings);
        QCOMPARE(book.rowCount(), 0);
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("words");
        const QString dir = QStringLiteral(DAGL_FIXTURES);
        QTest::newRow("not a workbook") << dir + "notxls.xls"
                                        << "不是Excel工作簿";
        QTest::newRow("truncated") << dir + "truncated.xls"
                                   << "已损坏或不完整";
        QTest::newRow("password") << dir + "password.xls"
                                  << "设有密码保护";
        QTest::newRow("missing") << dir + "nothere.xls"
                                 << "不存在";
        QTest::newRow("a folder") << dir << "不是Excel工作簿";
        QTest::newRow("damaged xlsx") << QString() << "已损坏或不完整";
    }
    void unreadableFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, words);
        QTemporaryDir dir;
        if (path.isEmpty()) {
            path = dir.filePath(QStringLiteral("new.xls"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("PK\x03\x04 an Excel 2007 workbook");
        }
        ExcelWorkbook book;
        try {
            book.open(path);
            QFAIL("opened");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(words), qPrintable(error.message()));
        }
        QVERIFY(!book.isOpen());
    }

    void lockedFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("locked.xls"));
        QVERIFY(QFile::copy(fixture("catalogue.xls"), path));
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("this user reads files without read permission");
        ExcelWorkbook book;
        QVERIFY_THROWS_EXCEPTION(Error, book.open(path));
    }

    // Workbooks written by our own export writer read alike.
    void readsOwnWriterWorkbook()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("own.xls"));
        GridTable table;
        table.titles = QStringList { QStringLiteral("题名"), QStringLiteral("案卷号") };
        table.rowCount = 3;
        table.numeric = { false, true };
        table.cell = [](int row, int column) {
            return column == 0 ? QStringLiteral("文件%1").arg(row + 1) : QString::number((row + 1) * 10);
        };
        try {
            writeGridFile(ExportFormat::Xls, table, path);
        } catch (const Error &error) {
            QSKIP(qPrintable(QStringLiteral("the .xls writer is not ready: ") + error.message()));
        }
        ExcelWorkbook book;
        book.open(path);
        QCOMPARE(book.headings(), table.titles);
        QCOMPARE(book.rowCount(), 3);
        QCOMPARE(ExcelWorkbook::textOf(book.cell(2, 0)), QStringLiteral("文件3"));
        QCOMPARE(ExcelWorkbook::textOf(book.cell(1, 1)), QStringLiteral("20"));
    }

    void textForms_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("no value") << QVariant() << "";
        QTest::newRow("whole double") << QVariant(12.0) << "12";
        QTest::newRow("fraction") << QVariant(3.25) << "3.25";
        QTest::newRow("negative") << QVariant(-7.0) << "-7";
        QTest::newRow("integer") << QVariant(qlonglong(123456)) << "123456";
        QTest::newRow("date") << QVariant(QDate(2024, 3, 5)) << "2024/3/5";
        QTest::newRow("date and time") << QVariant(QDateTime(QDate(2024, 3, 5), QTime(8, 30))) << "2024/3/5 8:30:00";
        QTest::newRow("time") << QVariant(QTime(14, 5, 9)) << "14:05:09";
        QTest::newRow("text") << QVariant(QStringLiteral("文本")) << "文本";
    }
    void textForms()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, text);
        QCOMPARE(ExcelWorkbook::textOf(value), text);
    }
};

QTEST_MAIN(TestExcelWorkbook)
#include "tst_excelworkbook.moc"
