#include "CompoundFile.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "GridWriters.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <xlsxwriter.h>

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

    // Workbooks written by LibreOffice Calc, the same sheets as .xls and as .xlsx: formula
    // results of each type, dates by their cells' formats, a merged cell, formatted empty
    // rows at the end, a second sheet.
    void formulasAndDates_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : { "formulas.xls", "formulas.xlsx" })
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void formulasAndDates()
    {
        QFETCH(QString, file);
        ExcelWorkbook book;
        book.open(fixture(file.toLatin1().constData()));
        QCOMPARE(book.tableNames(), (QStringList { QStringLiteral("公式$"), QStringLiteral("第二张$") }));
        QCOMPARE(book.headings(),
            (QStringList { "题名", "数值", "日期", "真假", "错误", "混合", "自定义日期", "成文时间" }));
        QCOMPARE(book.rowCount(), 5); // the two formatted empty rows included
        const QVariantList expected[] = {
            { "关于档案工作", qlonglong(3), QDate(2024, 3, 15), true, "#DIV/0!", QDate(2024, 3, 15), QDate(2023, 12, 1),
                QDate(2024, 3, 15) },
            { "无结果公式", 7.5, QDate(2020, 1, 2), false, "#N/A", "文本", QDate(1999, 1, 31), "2024年3月" },
            { "合并单元格", QVariant(), QDate(2021, 6, 30), QVariant(), "#VALUE!", "42", QVariant(), "20240101" },
            { QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant() },
            { QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant() },
        };
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 8; ++c) {
                const QVariant value = book.cell(r, c);
                QVERIFY2(value == expected[r].at(c) && value.typeId() == expected[r].at(c).typeId(),
                    qPrintable(QStringLiteral("row %1 column %2: %3 (%4)")
                                   .arg(r)
                                   .arg(c)
                                   .arg(value.toString(), QString::fromLatin1(value.typeName()))));
            }
        }
        QCOMPARE(ExcelWorkbook::textOf(book.cell(0, 3)), QStringLiteral("TRUE"));
        book.selectTable(QStringLiteral("第二张"));
        QCOMPARE(book.headings(), (QStringList { "甲", "乙" }));
        QCOMPARE(book.cell(0, 1), QVariant(qlonglong(7)));
    }

    void dates1904_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : { "dates1904.xls", "dates1904.xlsx" })
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void dates1904()
    {
        QFETCH(QString, file);
        ExcelWorkbook book;
        book.open(fixture(file.toLatin1().constData()));
        QCOMPARE(book.cell(0, 0), QVariant(QDate(2024, 3, 15)));
        QCOMPARE(book.cell(1, 0), QVariant(QDate(1904, 1, 2)));
    }

    // A formula whose result was not stored is named, not read as an empty cell.
    void formulaWithoutResult_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : { "noresult.xls", "noresult.xlsx" })
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void formulaWithoutResult()
    {
        QFETCH(QString, file);
        ExcelWorkbook book;
        book.open(fixture(file.toLatin1().constData()));
        QCOMPARE(book.cell(0, 0), QVariant(QStringLiteral("关于档案工作")));
        try {
            book.cell(1, 0);
            QFAIL("read");
        } catch (const Error &error) {
            QCOMPARE(error.message(), QStringLiteral("第1列的公式没有保存计算结果，请在Excel中重新计算并保存后再导入"));
        }
    }

    // Hostile workbooks each get a plain message naming what is wrong, and nothing open.
    void hostileWorkbooks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<quint64>("partLimit"); // MB an expanded part may take
        QTest::addColumn<QString>("message");
        const QString dir = QStringLiteral(DAGL_FIXTURES);
        QTest::newRow("small part claims 2 GB") << "huge_part.xlsx" << quint64(1024)
                                                << "工作簿“%1”已损坏或不完整，无法读取：“xl/worksheets/"
                                                   "sheet1.xml”记载的长度（2047MB）与压缩数据（1404字节）不符";
        QTest::newRow("part expands past a bound")
            << "bomb.xlsx" << quint64(1) << "工作簿“%1”过大，无法导入：“xl/worksheets/sheet1.xml”解压后有3MB，超过1MB";
        QTest::newRow("part longer than said")
            << "longer_than_said.xlsx" << quint64(1024)
            << "工作簿“%1”已损坏或不完整，无法读取：“xl/worksheets/sheet1.xml”解压后比记载的长度长";
        QTest::newRow("row 2^31")
            << "far_row.xlsx" << quint64(1024)
            << "工作簿“%1”已损坏或不完整，无法读取：工作表“公式”的行号“2147483648”无效或超出了最大行数1048576";
        QTest::newRow("shared string index .xlsx")
            << "string_index.xlsx" << quint64(1024)
            << "工作簿“%"
               "1”已损坏或不完整，无法读取：工作表“公式”第4行第1列引用了不存在的共享字符串（第4000001个，共14个）";
        QTest::newRow("shared string index .xls")
            << "string_index.xls" << quint64(1024)
            << "工作簿“%"
               "1”已损坏或不完整，无法读取：工作表“公式”第1行第2列引用了不存在的共享字符串（第4000001个，共14个）";
    }
    void hostileWorkbooks()
    {
        QFETCH(QString, file);
        QFETCH(quint64, partLimit);
        QFETCH(QString, message);
        WorkbookLimits limits;
        limits.partBytes = partLimit << 20;
        const QString path = fixture(file.toLatin1().constData());
        ExcelWorkbook book;
        try {
            book.open(path, limits);
            QFAIL("opened");
        } catch (const Error &error) {
            QCOMPARE(error.message(), message.arg(path));
        }
        QVERIFY(!book.isOpen());
    }

    // A compound file is named by what it holds: an encrypted Excel 2007 workbook, an Excel
    // 5.0/95 one, or something else entirely.
    void compoundFilesByTheirStreams_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("message");
        QTest::newRow("encrypted .xlsx") << "EncryptedPackage"
                                         << "工作簿“%1”设有密码保护，请在Excel中取消密码后再导入";
        QTest::newRow("Excel 95")
            << "Book"
            << "工作簿“%1”是Excel 5.0/95格式，无法读取，请在Excel中另存为“Excel工作簿(*.xlsx)”后再导入";
        QTest::newRow("a Word document") << "WordDocument"
                                         << "文件“%1”不是Excel工作簿（*.xls或*.xlsx），无法读取";
        QTest::newRow("an empty Workbook stream") << "Workbook"
                                                  << "工作簿“%1”已损坏或不完整，无法读取：工作簿数据不以BOF记录开头";
    }
    void compoundFilesByTheirStreams()
    {
        QFETCH(QString, stream);
        QFETCH(QString, message);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            ByteSink sink(&buffer);
            CompoundFileWriter writer(sink, stream, 100);
            writer.begin();
            sink.writeZeros(100);
            writer.finish();
            sink.flush();
        }
        ExcelWorkbook book;
        try {
            book.openData(buffer.data(), QStringLiteral("x.xls"));
            QFAIL("opened");
        } catch (const Error &error) {
            QCOMPARE(error.message(), message.arg(QStringLiteral("x.xls")));
        }
        QVERIFY(!book.isOpen());
    }

    // A count of the compound file's header out of range is named with its own value.
    void headerCountsNamed_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("message");
        QTest::newRow("FAT sectors")
            << 44 << "工作簿“%1”已损坏或不完整，无法读取：分配表的扇区数（16777215）超出了文件的大小";
        QTest::newRow("DIFAT sectors")
            << 72 << "工作簿“%1”已损坏或不完整，无法读取：分配表索引（DIFAT）的扇区数（16777215）超出了文件的大小";
    }
    void headerCountsNamed()
    {
        QFETCH(int, offset);
        QFETCH(QString, message);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            ByteSink sink(&buffer);
            CompoundFileWriter writer(sink, QStringLiteral("Workbook"), 100);
            writer.begin();
            sink.writeZeros(100);
            writer.finish();
            sink.flush();
        }
        QByteArray file = buffer.data();
        const char count[4] = { '\xFF', '\xFF', '\xFF', '\x00' };
        file.replace(offset, 4, count, 4);
        ExcelWorkbook book;
        try {
            book.openData(file, QStringLiteral("x.xls"));
            QFAIL("opened");
        } catch (const Error &error) {
            QCOMPARE(error.message(), message.arg(QStringLiteral("x.xls")));
        }
    }

    // What Excel writes and LibreOffice does not: truth values (t="b"), rich text in shared
    // strings, a formula's number result with its date format, a time, escaped control
    // characters. Made with libxlsxwriter, as Excel lays them out.
    void excelStyleXlsx()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("excel.xlsx")));
        lxw_workbook *workbook = workbook_new(path.constData());
        lxw_worksheet *sheet = workbook_add_worksheet(workbook, "工作表1");
        lxw_format *date = workbook_add_format(workbook);
        format_set_num_format(date, "yyyy\"年\"m\"月\"d\"日\"");
        lxw_format *time = workbook_add_format(workbook);
        format_set_num_format(time, "[h]:mm");
        lxw_format *bold = workbook_add_format(workbook);
        format_set_bold(bold);
        worksheet_write_string(sheet, 0, 0, "题名", nullptr);
        worksheet_write_string(sheet, 0, 1, "真假", nullptr);
        worksheet_write_string(sheet, 0, 2, "成文时间", nullptr);
        worksheet_write_string(sheet, 0, 3, "时长", nullptr);
        lxw_rich_string_tuple first { bold, const_cast<char *>("关于") };
        lxw_rich_string_tuple second { nullptr, const_cast<char *>("通知") };
        lxw_rich_string_tuple *parts[] = { &first, &second, nullptr };
        worksheet_write_rich_string(sheet, 1, 0, parts, nullptr);
        worksheet_write_boolean(sheet, 1, 1, 1, nullptr);
        worksheet_write_formula_num(sheet, 1, 2, "=DATE(2024,3,15)", date, 45366);
        worksheet_write_number(sheet, 1, 3, 1.5, time);
        worksheet_write_string(sheet, 2, 0, "两\r\n行", nullptr);
        worksheet_write_boolean(sheet, 2, 1, 0, nullptr);
        QCOMPARE(workbook_close(workbook), LXW_NO_ERROR);

        ExcelWorkbook book;
        book.open(QFile::decodeName(path));
        QCOMPARE(book.tableNames(), QStringList { QStringLiteral("工作表1$") });
        QCOMPARE(book.rowCount(), 2);
        QCOMPARE(book.cell(0, 0), QVariant(QStringLiteral("关于通知")));
        QCOMPARE(book.cell(0, 1), QVariant(true));
        QCOMPARE(book.cell(0, 2), QVariant(QDate(2024, 3, 15)));
        QCOMPARE(book.cell(0, 3), QVariant(QDateTime(QDate(1900, 1, 1), QTime(12, 0)))); // day 1 is 1 January 1900
        QCOMPARE(book.cell(1, 0), QVariant(QStringLiteral("两\r\n行")));
        QCOMPARE(book.cell(1, 1), QVariant(false));
    }

    // Workbooks laid out as Excel (zh-CN) and other writers save them, made by our script
    // (Excel and WPS do not run here): Chinese built-in and custom date formats, shared and
    // array formulas with cached results, rich text with phonetic runs, prefixed elements,
    // absolute part names, rows and cells without references, both spellings of the 1904
    // flag, Strict namespaces with ISO date cells; for .xls a Workbook stream in the mini
    // stream, MULRK, MULBLANK, LABEL, RSTRING, SHRFMLA and ARRAY, an SST split mid-string.
    void excelAndWpsWorkbooks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("tables");
        QTest::addColumn<QStringList>("headings");
        QTest::addColumn<QList<QVariantList>>("rows");
        const QDateTime noon(QDate(2024, 3, 15), QTime(12, 0));
        const QVariant none;
        QTest::newRow("Excel zh-CN .xlsx")
            << "excel_zh.xlsx" << QStringList { "档案目录$", "Sheet2$" }
            << QStringList { "题名", "成文时间", "时间", "日期", "其他格式", "页数", "合计", "文号", "真假", "错误" }
            << QList<QVariantList> {
                   { "关于档案工作的通知", QDate(2024, 3, 15), noon, QDate(2024, 1, 1), QDate(2024, 3, 15),
                       qlonglong(5), qlonglong(10), "文5", true, "#DIV/0!" },
                   { "第二份文件", QDate(2023, 3, 15), QDateTime(QDate(2023, 3, 15), QTime(6, 0)), QDate(2020, 1, 1),
                       QDate(2024, 3, 16), qlonglong(6), qlonglong(12), "文6", false, "#N/A" },
                   { " 前后有空格 ", none, none, QDate(2000, 1, 1), QDate(2024, 3, 17), 7.5, qlonglong(15), "文合计",
                       true, QTime(12, 0) },
                   { none, none, none, none, none, none, none, none, none, none },
                   { "A&B <公司> \"引号\"", none, none, none, none, none, none, none, none, none },
               };
        QTest::newRow("other writers .xlsx")
            << "other_writers.xlsx" << QStringList { "导出$" } << QStringList { "题名", "成文时间", "页数" }
            << QList<QVariantList> {
                   { "一九零四年制", QDate(2024, 1, 1), qlonglong(12) },
                   { none, none, none },
                   { none, QDate(1904, 1, 1), qlonglong(3) },
                   { "第四行之后", none, none },
               };
        QTest::newRow("Strict .xlsx") << "strict.xlsx" << QStringList { "严格$" }
                                      << QStringList { "题名", "成文时间", "页数" }
                                      << QList<QVariantList> {
                                             { "严格格式", QDate(2024, 3, 15), qlonglong(7) },
                                             { "第二行", QDateTime(QDate(2023, 12, 1), QTime(8, 30)),
                                                 QDate(1904, 1, 2) },
                                         };
        QTest::newRow("Excel-style .xls")
            << "excel_style.xls" << QStringList { "档案目录$" }
            << QStringList { "题名", "成文时间", "页数", "合计", "日期", "文本", "真假" }
            << QList<QVariantList> {
                   { "Report 2024 年度工作报告", QDate(2024, 3, 15), qlonglong(5), qlonglong(10), QDate(2024, 1, 1),
                       "文本结果", true },
                   { "档案 ABC", QDate(2023, 3, 15), 7.5, qlonglong(15), QDate(2024, 3, 16), "标签文本", false },
                   { "关于移交的通知", none, none, none, noon, none, "#DIV/0!" },
               };
    }
    void excelAndWpsWorkbooks()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, tables);
        QFETCH(QStringList, headings);
        QFETCH(QList<QVariantList>, rows);
        ExcelWorkbook book;
        book.open(fixture(file.toLatin1().constData()));
        QCOMPARE(book.tableNames(), tables);
        QCOMPARE(book.headings(), headings);
        QCOMPARE(book.rowCount(), int(rows.size()));
        for (int r = 0; r < rows.size(); ++r) {
            for (int c = 0; c < headings.size(); ++c) {
                const QVariant value = book.cell(r, c);
                const QVariant expected = rows.at(r).at(c);
                QVERIFY2(value == expected && value.typeId() == expected.typeId(),
                    qPrintable(QStringLiteral("row %1 column %2: %3 (%4), not %5 (%6)")
                                   .arg(r)
                                   .arg(c)
                                   .arg(value.toString(), QString::fromLatin1(value.typeName()), expected.toString(),
                                       QString::fromLatin1(expected.typeName()))));
            }
        }
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
