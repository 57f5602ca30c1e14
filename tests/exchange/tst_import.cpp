#include "CraftedWorkbook.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "GridWriters.h"
#include "ImportPlan.h"
#include "IniFile.h"
#include "TDataModule5.h"
#include "TFrm_zdsjdr.h"
#include "TestSupport.h"
#include "WorksheetModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(dagl::ImportChoice)

using namespace dagl;

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(DAGL_FIXTURES) + QString::fromLatin1(name);
}

// Every row unticked, then the given catalogue columns ticked with their column boxes.
ImportMapping only(const QVector<QPair<QString, QString>> &ticked)
{
    ImportMapping mapping;
    for (const ImportColumn &column : importColumns()) {
        ImportChoice choice { false, QString() };
        for (const auto &pair : ticked) {
            if (pair.first == QString::fromUtf8(column.field))
                choice = { true, pair.second };
        }
        mapping.push_back(choice);
    }
    return mapping;
}

// The mapping of catalogue.xls: 题名, -, 案卷号, 盒号, 成文时间, 混合, 页数.
ImportMapping catalogueMapping()
{
    return only({ { "TM", "1" }, { "AJH", "3" }, { "HH", "4" }, { "CWSJ", "5" }, { "BZ", "6" }, { "YH", "7" } });
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

    struct Window {
        explicit Window(test::ProgramFolderFixture &f)
            : folder(f)
        {
        }
        test::ProgramFolderFixture &folder;
        test::FakeUi ui;
        TDataModule5 dm { folder.path(), ui };
        TFrm_zdsjdr window { dm, ui };
        template <typename T> T *find(const QString &name) { return window.findChild<T *>(name); }
        void click(const char *name)
        {
            QTest::mouseClick(find<QPushButton>(QString::fromLatin1(name)), Qt::LeftButton);
        }
        void choose(const QString &path)
        {
            ui.paths << path;
            click("Button1");
        }
        QString memo() { return find<QPlainTextEdit>(QStringLiteral("Memo1"))->toPlainText(); }
        QString title(int column)
        {
            return find<QTableView>(QStringLiteral("DBGrid1"))->model()->headerData(column, Qt::Horizontal).toString();
        }
    };

    // Presses a button as the operator does with the keyboard: focus, then the space bar.
    static void press(Window &w, const char *name)
    {
        auto *button = w.find<QPushButton>(QString::fromLatin1(name));
        button->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), button);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    }

private slots:
    void initTestCase() { test::pinLocale(); }

    void previewModel()
    {
        WorksheetModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ExcelWorkbook book;
        book.open(fixture("catalogue.xls"));
        model.setWorkbook(&book);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.columnCount(), 7);
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("5:成文时间"));
        QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 2); // the worksheet row
        QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("2024/3/15"));
        QCOMPARE(model.index(2, 2).data().toString(), QStringLiteral("abc"));
        ExcelWorkbook empty;
        empty.open(fixture("blank.xls"));
        model.setWorkbook(&empty);
        QCOMPARE(model.columnCount(), 0);
        model.setWorkbook(nullptr);
        QCOMPARE(model.rowCount(), 0);
    }

    void mapping_data()
    {
        QTest::addColumn<ImportMapping>("mapping");
        QTest::addColumn<QVariantList>("cells"); // a sheet of three columns
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("stored"); // what the column holds afterwards
        QTest::addColumn<QString>("error"); // empty: the row is saved

        const QVariantList cells { QStringLiteral("123456789012345"), qlonglong(7), QStringLiteral("abc") };
        ImportMapping unticked = only({ { "TM", "1" } });
        unticked[4].columnText = QStringLiteral("1"); // 盒号 unticked with a number
        QTest::newRow("unticked stays empty") << unticked << cells << "HH" << QVariant() << "";
        QTest::newRow("longer than the column fails") << only({ { "HH", "1" } }) << cells << "HH" << QVariant()
                                                      << "盒号“123456789012345”超出了该列能容纳的4个字符";
        QTest::newRow("a number longer than the column fails")
            << only({ { "JH", "1" } }) << QVariantList { qlonglong(10001) } << "JH" << QVariant()
            << "件号“10001”超出了该列能容纳的4个字符";
        QTest::newRow("exactly the column size")
            << only({ { "JH", "1" } }) << QVariantList { qlonglong(1000) } << "JH" << QVariant("1000") << "";
        QTest::newRow("past the column inside a character fails")
            << only({ { "HH", "1" } }) << QVariantList { QStringLiteral("123") + QString::fromUcs4(U"\U00020000") }
            << "HH" << QVariant()
            << QStringLiteral("盒号“123%1”超出了该列能容纳的4个字符").arg(QString::fromUcs4(U"\U00020000"));
        QTest::newRow("date text with slashes into CWSJ")
            << only({ { "CWSJ", "1" } }) << QVariantList { QStringLiteral("2025/3/16") } << "CWSJ"
            << QVariant("20250316") << "";
        QTest::newRow("date text with dashes into CWSJ")
            << only({ { "CWSJ", "1" } }) << QVariantList { QStringLiteral(" 2025-03-06 ") } << "CWSJ"
            << QVariant("20250306") << "";
        QTest::newRow("date text in Chinese into CWSJ")
            << only({ { "CWSJ", "1" } }) << QVariantList { QStringLiteral("2025年3月16日") } << "CWSJ"
            << QVariant("20250316") << "";
        QTest::newRow("month text fits CWSJ as it is")
            << only({ { "CWSJ", "1" } }) << QVariantList { QStringLiteral("2024年3月") } << "CWSJ"
            << QVariant("2024年3月") << "";
        QTest::newRow("no such day is not cut")
            << only({ { "CWSJ", "1" } }) << QVariantList { QStringLiteral("2025/2/30") } << "CWSJ" << QVariant()
            << "成文时间“2025/2/30”超出了该列能容纳的8个字符";
        QTest::newRow("date text into another column stays text")
            << only({ { "BZ", "1" } }) << QVariantList { QStringLiteral("2025/3/16") } << "BZ" << QVariant("2025/3/16")
            << "";
        QTest::newRow("number into text column") << only({ { "QZH", "2" } }) << cells << "QZH" << QVariant("7") << "";
        QTest::newRow("fraction into text column")
            << only({ { "QZH", "1" } }) << QVariantList { 3.25 } << "QZH" << QVariant("3.25") << "";
        QTest::newRow("number into AJH") << only({ { "AJH", "2" } }) << cells << "AJH" << QVariant(7) << "";
        QTest::newRow("digits text into YH")
            << only({ { "YH", "1" } }) << QVariantList { QStringLiteral(" 12 ") } << "YH" << QVariant(12) << "";
        QTest::newRow("empty cell") << only({ { "TM", "1" } }) << QVariantList { QVariant() } << "TM" << QVariant()
                                    << "";
        QTest::newRow("date into text column")
            << only({ { "BZ", "1" } }) << QVariantList { QDate(2024, 3, 15) } << "BZ" << QVariant("2024/3/15") << "";
        QTest::newRow("date into CWSJ as eight digits")
            << only({ { "CWSJ", "1" } }) << QVariantList { QDate(2024, 3, 15) } << "CWSJ" << QVariant("20240315") << "";
        QTest::newRow("date and time into CWSJ as eight digits")
            << only({ { "CWSJ", "1" } }) << QVariantList { QDateTime(QDate(2024, 3, 5), QTime(8, 30)) } << "CWSJ"
            << QVariant("20240305") << "";
        QTest::newRow("date too long for a short column fails")
            << only({ { "HH", "1" } }) << QVariantList { QDate(2024, 3, 15) } << "HH" << QVariant()
            << "盒号“2024/3/15”超出了该列能容纳的4个字符";
        QTest::newRow("abc into AJH fails")
            << only({ { "TM", "2" }, { "AJH", "3" } }) << cells << "AJH" << QVariant() << "“abc”不是有效的整数";
        QTest::newRow("empty box fails") << only({ { "GDM", "" } }) << cells << "GDM" << QVariant()
                                         << "档案馆代码：“”不是有效的列号";
        QTest::newRow("box not a number")
            << only({ { "GDM", "x1" } }) << cells << "GDM" << QVariant() << "档案馆代码：“x1”不是有效的列号";
        QTest::newRow("column beyond the sheet")
            << only({ { "GDM", "4" } }) << cells << "GDM" << QVariant() << "档案馆代码：第4列超出了工作表的列数（3列）";
    }
    void mapping()
    {
        QFETCH(ImportMapping, mapping);
        QFETCH(QVariantList, cells);
        QFETCH(QString, field);
        QFETCH(QVariant, stored);
        QFETCH(QString, error);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        dm.Twjml.setAppendOnly(true);
        dm.Twjml.open();
        const ImportPlan plan(mapping, int(cells.size()), dm.Twjml);
        dm.Twjml.append();
        QString thrown;
        try {
            plan.fill([&](int column) { return cells.at(column); });
            dm.Twjml.post();
        } catch (const Error &e) {
            thrown = e.message();
            dm.Twjml.cancel();
        }
        QCOMPARE(thrown, error);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), error.isEmpty() ? 1 : 0);
        if (error.isEmpty()) {
            const QVariant value = folder.scalar(QStringLiteral("select %1 from 文件目录").arg(field));
            if (stored.isNull())
                QVERIFY2(value.isNull(), qPrintable(value.toString()));
            else
                QCOMPARE(value.toString(), stored.toString());
        }
    }

    void settingsKeysExact()
    {
        DAGL_FILE_ONLY(); // the fixture keeps the server's settings in myini.ini
        test::ProgramFolderFixture folder;
        const IniFile ini = IniFile::settingsOf(folder.path());
        // First use: every row ticked, every box empty.
        const ImportMapping first = ImportSettings::load(ini);
        QCOMPARE(first.size(), 24);
        for (const ImportChoice &choice : first)
            QCOMPARE(choice, (ImportChoice { true, QString() }));
        QVERIFY(!QFile::exists(ini.path()));

        ImportMapping mapping = first;
        for (int i = 0; i < mapping.size(); ++i)
            mapping[i] = { i % 2 == 0, QString::number(i + 1) };
        mapping[23].columnText = QStringLiteral("手写"); // kept as typed
        ImportSettings::save(ini, mapping);
        QFile file(ini.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(file.readAll());
        const QStringList keys { "spbm", "spmc", "splb", "sccj", "jx", "dw", "gg", "pzwh", "sptm", "lsj", "pfj", "hyj",
            "bgqx", "mj", "ysym", "dwdm", "dwmc", "sxh", "psz", "psdd", "rw", "dalx", "kzbs", "bz" };
        QVERIFY(text.startsWith(QLatin1String("[zddr]")));
        for (int i = 0; i < keys.size(); ++i) {
            QCOMPARE(ini.read(QStringLiteral("zddr"), keys[i], QStringLiteral("?")), i % 2 == 0 ? "1" : "0");
            QVERIFY2(text.contains(QStringLiteral("\n%1id=").arg(keys[i])), qPrintable(keys[i]));
        }
        QCOMPARE(ini.read(QStringLiteral("zddr"), QStringLiteral("spmcid")), QStringLiteral("2"));
        QCOMPARE(ImportSettings::load(ini), mapping);

        // Only "1" ticks; names match regardless of case.
        ini.write(QStringLiteral("ZDDR"), QStringLiteral("SPBM"), QStringLiteral("yes"));
        ini.write(QStringLiteral("zddr"), QStringLiteral("SPMC"), QStringLiteral("1"));
        const ImportMapping edited = ImportSettings::load(ini);
        QVERIFY(!edited[0].ticked);
        QVERIFY(edited[1].ticked);
    }

    void windowFlow()
    {
        test::ProgramFolderFixture folder;
        IniFile::settingsOf(folder.path()).write(QStringLiteral("zddr"), QStringLiteral("sptmid"), QStringLiteral("1"));
        Window w { folder };
        w.window.show();
        QCOMPARE(w.window.windowTitle(), QStringLiteral("数据批量导入"));
        QVERIFY(w.window.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(w.find<QComboBox>(QStringLiteral("ComboBox9"))->currentText(), QStringLiteral("1"));
        QVERIFY(w.find<QCheckBox>(QStringLiteral("CheckBox25"))->isChecked());

        // Before a workbook is open both imports say so and write nothing.
        w.click("Button2");
        QCOMPARE(w.ui.lastText(), QStringLiteral("请先点击“选择Excel文件”打开要导入的Excel文件"));
        w.click("Button3");
        QCOMPARE(w.ui.shown.size(), 2);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        // A cancelled dialog changes nothing; a workbook shows its first sheet.
        w.choose(QString());
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Edit1"))->text(), QString());
        w.choose(fixture("catalogue.xls"));
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Edit1"))->text(), fixture("catalogue.xls"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有4条记录"));
        QCOMPARE(w.title(0), QStringLiteral("1:题名"));
        QCOMPARE(w.title(1), QStringLiteral("2:F2"));
        QCOMPARE(w.title(6), QStringLiteral("7:页数"));
        QCOMPARE(w.find<QTableView>(QStringLiteral("DBGrid1"))->columnWidth(2), 120);

        // First use: every row ticked with empty boxes; the test import fails on 档案馆代码.
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("档案馆代码：“”不是有效的列号---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        // ... and the full import stops at that mapping, once, saving nothing.
        w.click("Button3");
        QCOMPARE(w.ui.lastText(), QStringLiteral("档案馆代码：“”不是有效的列号"));
        QCOMPARE(w.ui.shown.last().icon, Ui::Icon::Critical);
        QCOMPARE(w.memo(),
            QStringLiteral("档案馆代码：“”不是有效的列号---请将错误信息反馈给管理员\n导入失败，没有保存任何记录。"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        // The selected row imported twice is two records.
        w.window.setMapping(catalogueMapping());
        auto *grid = w.find<QTableView>(QStringLiteral("DBGrid1"));
        grid->setCurrentIndex(grid->model()->index(0, 0));
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("题名：关于档案工作的通知导入成功！"));
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("题名：关于档案工作的通知导入成功！")); // the list was emptied first
        QCOMPARE(folder.count(
                     QStringLiteral("文件目录"), QStringLiteral("tm='关于档案工作的通知' and hh='0001' and ajh=12")),
            2);
        QVERIFY(w.dm.Tsyyp.isOpen());
        QCOMPARE(w.dm.Tsyyp.recordCount(), 2);

        // A value longer than its column is refused, never cut.
        grid->setCurrentIndex(grid->model()->index(1, 0));
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("盒号“123456789012345”超出了该列能容纳的4个字符---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);

        // A failing row is listed and nothing is saved for it.
        grid->setCurrentIndex(grid->model()->index(2, 0));
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("“abc”不是有效的整数---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);

        // 文件题名 unticked with an empty box: saved, then the title cannot be named.
        ImportMapping noTitle = catalogueMapping();
        noTitle[8] = { false, QString() };
        w.window.setMapping(noTitle);
        grid->setCurrentIndex(grid->model()->index(0, 0));
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("“”不是有效的列号---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm is null and ajh=12")), 1);

        // The full import saves the good rows, lists the failing one, says the counts and
        // re-reads the record list.
        folder.exec(QStringLiteral("delete from 文件目录"));
        w.window.setMapping(catalogueMapping());
        w.ui.shown.clear();
        w.click("Button3");
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        QCOMPARE(w.memo(),
            QStringLiteral("第3行：盒号“123456789012345”超出了该列能容纳的4个字符\n第4行：“abc”不是有效的整数\n"
                           "共导入2条记录，2条记录导入失败。"));
        QCOMPARE(w.ui.lastText(), QStringLiteral("共导入2条记录，2条记录导入失败，详见“导入失败记录”。"));
        QVERIFY(!w.find<QWidget>(QStringLiteral("Panel1"))->isVisible());
        QCOMPARE(w.find<QProgressBar>(QStringLiteral("ProgressBar1"))->value(), 4);
        QCOMPARE(w.dm.Tsyyp.recordCount(), 2);
        QCOMPARE(folder.scalar(QStringLiteral("select cwsj from 文件目录 where tm='第四份文件'")).toString(),
            QStringLiteral("20200102")); // 成文时间 takes every date as eight digits
        QCOMPARE(folder.scalar(QStringLiteral("select cwsj from 文件目录 where ajh=12")).toString(),
            QStringLiteral("20240315")); // cut short it would be another date
        QCOMPARE(
            folder.scalar(QStringLiteral("select hh from 文件目录 where ajh=12")).toString(), QStringLiteral("0001"));
        QCOMPARE(folder.scalar(QStringLiteral("select hh from 文件目录 where tm='第四份文件'")).toString(),
            QStringLiteral("2"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("yh is null")), 0);
        // A number in a column of text arrives as its text.
        ImportMapping noBox = catalogueMapping();
        noBox[4] = { false, QString() };
        w.window.setMapping(noBox);
        grid->setCurrentIndex(grid->model()->index(1, 0));
        w.click("Button2");
        QCOMPARE(folder.scalar(QStringLiteral("select bz from 文件目录 where tm='第二份文件'")).toString(),
            QStringLiteral("42"));
        w.window.setMapping(catalogueMapping());

        // Closed and shown again: the mapping is saved and loaded, the workbook stays.
        w.find<QCheckBox>(QStringLiteral("CheckBox1"))->setChecked(true);
        w.find<QComboBox>(QStringLiteral("ComboBox1"))->setEditText(QStringLiteral("2"));
        w.window.close();
        QVERIFY(!w.window.isVisible());
        const IniFile ini = IniFile::settingsOf(folder.path());
        QCOMPARE(ini.read(QStringLiteral("zddr"), QStringLiteral("spbm")), QStringLiteral("1"));
        QCOMPARE(ini.read(QStringLiteral("zddr"), QStringLiteral("spbmid")), QStringLiteral("2"));
        QCOMPARE(ini.read(QStringLiteral("zddr"), QStringLiteral("spmc")), QStringLiteral("0"));
        ini.write(QStringLiteral("zddr"), QStringLiteral("sptm"), QStringLiteral("0"));
        w.window.show();
        QVERIFY(!w.find<QCheckBox>(QStringLiteral("CheckBox9"))->isChecked());
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Edit1"))->text(), QString());
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有4条记录"));
        QCOMPARE(TFrm_zdsjdr::instance(w.dm, w.ui, nullptr), &w.window);
    }

    // Both workbook formats through the window, pressed with the keyboard: the same preview,
    // test import and full import; formula results stored, formatted empty rows skipped and
    // counted, a date into 成文时间 as eight digits from a date column and from a mixed one.
    void importsBothFormats_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : { "formulas.xls", "formulas.xlsx" })
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void importsBothFormats()
    {
        QFETCH(QString, file);
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.ui.paths << fixture(file.toLatin1().constData());
        press(w, "Button1");
        QCOMPARE(w.ui.openFilters,
            QStringList { QStringLiteral("Excel文件(*.xls *.xlsx);;Excel 97-2003工作簿(*.xls);;Excel工作簿(*.xlsx)") });
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有5条记录"));
        QCOMPARE(w.title(7), QStringLiteral("8:成文时间"));
        auto *grid = w.find<QTableView>(QStringLiteral("DBGrid1"));
        QCOMPARE(grid->model()->index(0, 4).data().toString(), QStringLiteral("#DIV/0!"));
        QCOMPARE(grid->model()->index(0, 3).data().toString(), QStringLiteral("TRUE"));

        // 题名, 备注 the error results, 全宗号 the truth values, 成文时间 the mixed column,
        // 页数页码 the number results.
        w.window.setMapping(only({ { "TM", "1" }, { "BZ", "5" }, { "QZH", "4" }, { "CWSJ", "8" }, { "DWMC", "3" } }));
        grid->setCurrentIndex(grid->model()->index(0, 0));
        press(w, "Button2");
        QCOMPARE(w.memo(), QStringLiteral("题名：关于档案工作导入成功！"));
        grid->setCurrentIndex(grid->model()->index(4, 0));
        press(w, "Button2");
        QCOMPARE(w.memo(), QStringLiteral("第6行是空行，没有可导入的内容---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);

        folder.exec(QStringLiteral("delete from 文件目录"));
        press(w, "Button3");
        QCOMPARE(w.memo(), QStringLiteral("共导入3条记录，0条记录导入失败，跳过2个空行。"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 3);
        const QStringList expected[] = {
            { "关于档案工作", "#DIV/0!", "TRUE", "20240315", "2024/3/15" },
            { "无结果公式", "#N/A", "FALSE", "2024年3月", "2020/1/2" },
            { "合并单元格", "#VALUE!", "", "20240101", "2021/6/30" },
        };
        for (const QStringList &row : expected) {
            QCOMPARE(folder.count(QStringLiteral("文件目录"),
                         QStringLiteral("tm='%1' and bz='%2' and coalesce(qzh,'')='%3' and cwsj='%4' and dwmc='%5'")
                             .arg(row[0], row[1], row[2], row[3], row[4])),
                1);
        }
    }

    // A formula whose result the workbook does not hold is reported for its row.
    void formulaWithoutResultReported_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : { "noresult.xls", "noresult.xlsx" })
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void formulaWithoutResultReported()
    {
        QFETCH(QString, file);
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.ui.paths << fixture(file.toLatin1().constData());
        press(w, "Button1");
        w.window.setMapping(only({ { "TM", "1" } }));
        press(w, "Button3");
        QCOMPARE(w.memo(),
            QStringLiteral("第3行：第1列的公式没有保存计算结果，请在Excel中重新计算并保存后再导入\n"
                           "共导入2条记录，1条记录导入失败，跳过2个空行。"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm is null")), 0);
    }

    void unwritableSettingsLetWindowClose_data()
    {
        QTest::addColumn<bool>("byEsc");
        QTest::newRow("关闭") << false;
        QTest::newRow("Esc") << true;
    }
    void unwritableSettingsLetWindowClose()
    {
        DAGL_FILE_ONLY(); // the fixture keeps the server's settings in myini.ini
        QFETCH(bool, byEsc);
        test::ProgramFolderFixture folder;
        // A folder where the file should be: no write can replace it, whoever runs the test.
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("myini.ini")));
        Window w(folder);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        for (int round = 0; round < 2; ++round) {
            w.ui.shown.clear();
            if (byEsc) {
                w.window.activateWindow();
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w.window, Qt::Key_Escape);
            } else {
                w.click("Button4");
            }
            QTRY_VERIFY(!w.window.isVisible());
            QCOMPARE(w.ui.shown.size(), 1);
            QVERIFY2(w.ui.lastText().startsWith(QStringLiteral("无法保存设置文件 myini.ini：")),
                qPrintable(w.ui.lastText()));
            QCOMPARE(w.ui.shown.last().caption, QStringLiteral("错误"));
            // Shown again, it reads the defaults and closes again the same way.
            w.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w.window));
            QVERIFY(w.find<QCheckBox>(QStringLiteral("CheckBox1"))->isChecked());
        }
    }

    void unreadableWorkbookKeepsWindow_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("words");
        QTest::newRow("not a workbook") << "notxls.xls"
                                        << "不是Excel工作簿";
        QTest::newRow("truncated") << "truncated.xls"
                                   << "已损坏或不完整";
    }
    void unreadableWorkbookKeepsWindow()
    {
        QFETCH(QString, file);
        QFETCH(QString, words);
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        w.choose(fixture("headings_only.xls"));
        w.choose(fixture(file.toLatin1().constData()));
        QCOMPARE(w.ui.shown.size(), 1);
        QVERIFY2(w.ui.lastText().contains(words), qPrintable(w.ui.lastText()));
        QCOMPARE(w.ui.shown.last().icon, Ui::Icon::Critical);
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Edit1"))->text(), fixture("headings_only.xls"));
        QCOMPARE(w.title(0), QStringLiteral("1:题名"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
    }

    void emptyWorksheet()
    {
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        w.choose(fixture("headings_only.xls"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有0条记录"));
        w.window.setMapping(only({ { "TM", "1" } }));
        w.click("Button3");
        QVERIFY(!w.find<QWidget>(QStringLiteral("Panel1"))->isVisible());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QVERIFY(w.dm.Tsyyp.isOpen());
        QCOMPARE(w.memo(), QStringLiteral("共导入0条记录，0条记录导入失败。"));
        QVERIFY(w.ui.shown.isEmpty());
        w.click("Button2");
        QCOMPARE(w.memo(), QStringLiteral("工作表中没有数据行---请将错误信息反馈给管理员"));
    }

    // Rows whose numbers the catalogue or an earlier row holds are listed before anything is
    // stored; Yes stores them all the same, No stores only the others.
    void numberCollisionsListed_data()
    {
        QTest::addColumn<bool>("storeAnyway");
        QTest::newRow("No stores the others") << false;
        QTest::newRow("Yes stores them all") << true;
    }
    void numberCollisionsListed()
    {
        QFETCH(bool, storeAnyway);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("numbers.xls"));
        const QStringList rows[] = {
            { "甲", "0012", "2024", "永久", "1", "1" },
            { "乙", "0012", "2024", "永久", "1", "0003" }, // the catalogue's item 3
            { "丙", "0012", "2024", "永久", "2", " 01" }, // row 2's number, in another box
            { "丁", "0012", "2024", "永久", "2", "2" },
            { "戊", "0012", "２０２４", "永久", "3", "０００２" }, // row 5's number in full-width digits
        };
        GridTable table;
        table.titles = QStringList { "题名", "全宗号", "归档年度", "保管期限", "盒号", "件号" };
        table.rowCount = int(std::size(rows));
        table.numeric = QVector<bool>(6, false);
        table.cell = [&rows](int row, int column) { return rows[row].at(column); };
        writeGridFile(ExportFormat::Xls, table, path);

        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral(
            "insert into 文件目录 (qzh,gdnd,bgqx,hh,jh,tm) values ('0012','2024','永久','1','3','已有')"));
        Window w { folder };
        w.window.show();
        w.choose(path);
        w.window.setMapping(
            only({ { "TM", "1" }, { "QZH", "2" }, { "GDND", "3" }, { "BGQX", "4" }, { "HH", "5" }, { "JH", "6" } }));
        w.ui.answers << (storeAnyway ? Ui::Answer::Yes : Ui::Answer::No);
        press(w, "Button3");
        QCOMPARE(w.ui.shown.size(), 1);
        QCOMPARE(w.ui.shown.first().buttons, Ui::Buttons::YesNo);
        QVERIFY2(
            w.ui.shown.first().text.contains(QStringLiteral("有3条记录的编号")), qPrintable(w.ui.shown.first().text));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), storeAnyway ? 6 : 3);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm in ('甲','丁')")), 2);
        if (storeAnyway) {
            QCOMPARE(w.memo(), QStringLiteral("共导入5条记录，0条记录导入失败。"));
            return;
        }
        QCOMPARE(w.memo(),
            QStringLiteral("第3行：编号重复，档号0012-WS·2024-Y-0003已被档案“已有”使用\n"
                           "第4行：编号重复，档号0012-WS·2024-Y-0001与第2行相同\n"
                           "第6行：编号重复，档号0012-WS·2024-Y-0002与第5行相同\n"
                           "共导入2条记录，0条记录导入失败，3条编号重复的记录未导入。"));

        // The test import of one colliding row asks too; No stores nothing.
        auto *grid = w.find<QTableView>(QStringLiteral("DBGrid1"));
        grid->setCurrentIndex(grid->model()->index(1, 0));
        w.ui.answers << Ui::Answer::No;
        press(w, "Button2");
        QCOMPARE(w.ui.shown.size(), 2);
        QCOMPARE(
            w.memo(), QStringLiteral("第3行：编号重复，档号0012-WS·2024-Y-0003已被档案“已有”使用\n没有导入这条记录。"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 3);
    }

    // Closing the window during a full import cancels it: none of the batch is kept.
    void closingCancelsRun()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("many.xls"));
        GridTable table;
        table.titles = QStringList { QStringLiteral("题名"), QStringLiteral("案卷号") };
        table.rowCount = 60000; // long enough for the run to repaint at least once
        table.numeric = { false, true };
        table.cell = [](int row, int column) { return column == 0 ? QStringLiteral("文件") : QString::number(row); };
        writeGridFile(ExportFormat::Xls, table, path);

        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        w.choose(path);
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有60000条记录"));
        w.window.setMapping(only({ { "TM", "1" }, { "AJH", "2" } }));
        // The close arrives while the run lets the window repaint.
        QTimer::singleShot(0, &w.window, [&] { w.window.close(); });
        w.window.Button3Click();
        QCOMPARE(w.memo(), QStringLiteral("导入已取消，没有保存任何记录。"));
        QVERIFY(!w.window.isVisible());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QCOMPARE(IniFile::settingsOf(folder.path()).read(QStringLiteral("zddr"), QStringLiteral("sccjid")),
            QStringLiteral("2"));
    }

    // A clerk's workbook written by a generator (openpyxl: formulas without stored results)
    // and saved again by LibreOffice as .xlsx and .xls, imported with the keyboard: dates
    // typed as text stored as eight digits like date cells, nothing cut, a formula without
    // its result a failed row of its own.
    void clerkWorkbooks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("memo");
        QTest::addColumn<QStringList>("stored"); // 题名 件号 成文时间 备注
        const QString longNumber = QStringLiteral("第4行：件号“10001”超出了该列能容纳的4个字符");
        const QString longText = QStringLiteral("第5行：成文时间“3月18日上午十点”超出了该列能容纳的8个字符");
        const QStringList stored { "通知一|1|20250315|甲", "通知二|2|20250316|乙", "通知五|5|20250319|戊" };
        QTest::newRow("openpyxl .xlsx") << "clerk_openpyxl.xlsx"
                                        << QStringList { longNumber, longText,
                                               "第7行：第5列的公式没有保存计算结果，请在Excel中重新计算并保存后再导入",
                                               "共导入3条记录，3条记录导入失败。" }
                                               .join(QLatin1Char('\n'))
                                        << stored;
        for (const char *file : { "clerk_libreoffice.xlsx", "clerk_libreoffice.xls" })
            QTest::newRow(file) << file
                                << QStringList { longNumber, longText, "共导入4条记录，2条记录导入失败。" }.join(
                                       QLatin1Char('\n'))
                                << stored + QStringList { "通知六|6|20250320|16" };
    }
    void clerkWorkbooks()
    {
        QFETCH(QString, file);
        QFETCH(QString, memo);
        QFETCH(QStringList, stored);
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.ui.paths << fixture(file.toLatin1().constData());
        press(w, "Button1");
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有6条记录"));

        // First use, every row ticked and no box filled: the mapping is the fault, whatever
        // the row holds.
        press(w, "Button2");
        QCOMPARE(w.memo(), QStringLiteral("档案馆代码：“”不是有效的列号---请将错误信息反馈给管理员"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        w.window.setMapping(only({ { "TM", "1" }, { "JH", "2" }, { "CWSJ", "3" }, { "YH", "4" }, { "BZ", "5" } }));
        press(w, "Button3");
        QCOMPARE(w.memo(), memo);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), int(stored.size()));
        for (const QString &row : stored) {
            const QStringList v = row.split(QLatin1Char('|'));
            QCOMPARE(folder.count(QStringLiteral("文件目录"),
                         QStringLiteral("tm='%1' and jh='%2' and cwsj='%3' and bz='%4'").arg(v[0], v[1], v[2], v[3])),
                1);
        }
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("jh='1000'")), 0); // never cut
    }

    // The keyboard reaches every control: Tab leaves the preview, Ctrl+Tab moves within it,
    // each mapping row and button has its Alt key.
    void keyboardReachesEveryControl()
    {
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.ui.paths << fixture("clerk_libreoffice.xls");
        QTest::keyClick(&w.window, Qt::Key_F, Qt::AltModifier); // 选择Excel文件(&F)
        QTRY_COMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有6条记录"));

        auto *grid = w.find<QTableView>(QStringLiteral("DBGrid1"));
        grid->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), grid);
        QCOMPARE(grid->currentIndex(), grid->model()->index(0, 0));
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(grid->currentIndex(), grid->model()->index(0, 1));
        QTest::keyClick(grid, Qt::Key_Tab);
        QTRY_VERIFY(QApplication::focusWidget() != grid);
        QCOMPARE(QApplication::focusWidget(), w.find<QCheckBox>(QStringLiteral("CheckBox1")));

        // Alt+key: the row's check box, ticked or unticked as by its own key; Tab goes on
        // to its column box.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_9, Qt::AltModifier); // 文件题名(&9)
        auto *titleTick = w.find<QCheckBox>(QStringLiteral("CheckBox9"));
        QTRY_COMPARE(QApplication::focusWidget(), titleTick);
        QTRY_VERIFY(!titleTick->isChecked());
        QTest::keyClick(titleTick, Qt::Key_Space);
        QVERIFY(titleTick->isChecked());
        QTest::keyClick(titleTick, Qt::Key_Tab);
        auto *titleBox = w.find<QComboBox>(QStringLiteral("ComboBox9"));
        QTRY_COMPARE(QApplication::focusWidget(), titleBox);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1"));
        QCOMPARE(titleBox->currentText(), QStringLiteral("1"));

        // Only 文件题名 left ticked, by the keyboard alone, then 导入一条测试(&T).
        const char keys[] = "1234567890BDEGHIJKLMNPQR";
        for (int i = 0; i < 24; ++i) {
            if (i == 8)
                continue;
            QTest::keyClick(
                QApplication::focusWidget(), Qt::Key(QChar::fromLatin1(keys[i]).unicode()), Qt::AltModifier);
            QTRY_VERIFY(!w.window.mapping().at(i).ticked);
        }
        QCOMPARE(QApplication::focusWidget(), w.find<QCheckBox>(QStringLiteral("CheckBox21"))); // 备注(&R)
        for (QCheckBox *tick : w.window.findChildren<QCheckBox *>())
            QCOMPARE(tick->isChecked(), tick == titleTick);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_T, Qt::AltModifier); // clicks as it shows the press
        QTRY_COMPARE(w.memo(), QStringLiteral("题名：通知一导入成功！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm='通知一'")), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::AltModifier); // 全部导入(&A)
        QTRY_COMPARE(w.memo(), QStringLiteral("共导入6条记录，0条记录导入失败。"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 7);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier); // 关闭(&C)
        QTRY_VERIFY(!w.window.isVisible());
    }

    // A workbook that takes long to read is read off the window's thread: the panel shows
    // with 取消, which stops the read and leaves the window as it was; so does closing.
    void longReadCancelled_data()
    {
        QTest::addColumn<bool>("byClose");
        QTest::newRow("取消") << false;
        QTest::newRow("close box") << true;
    }
    void longReadCancelled()
    {
        QFETCH(bool, byClose);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("slow.xlsx"));
        {
            const QByteArray head
                = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                  "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>题名</t></is></c></row>";
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(test::craftedXlsx({ {}, head, "<a/>", 120'000'000, "</sheetData></worksheet>" }));
        }
        test::ProgramFolderFixture folder;
        Window w { folder };
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        auto *panel = w.find<QWidget>(QStringLiteral("Panel1"));
        auto *label = w.find<QLabel>(QStringLiteral("Label14"));
        bool panelSeen = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &w.window, [&] {
            if (!panel->isVisible())
                return;
            panelSeen = true;
            watch.stop();
            QCOMPARE(label->text(), QStringLiteral("正在读取Excel文件，请稍等......"));
            // The window answers meanwhile; a second choice or an import waits for the read.
            w.click("Button3");
            if (byClose)
                w.window.close();
            else
                w.click("CancelButton");
        });
        watch.start(10);
        w.choose(path);
        QVERIFY(panelSeen);
        QVERIFY(!panel->isVisible());
        QCOMPARE(w.ui.shown.size(), 0); // nothing to say: the operator stopped it
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Edit1"))->text(), QString());
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(),
            QStringLiteral("注意excel文件表名必须是sheet1，或者英文名称"));
        QTRY_COMPARE(w.window.isVisible(), !byClose);
        if (!byClose) {
            // The window works on: the next workbook is read.
            w.choose(fixture("clerk_libreoffice.xlsx"));
            QCOMPARE(w.find<QLabel>(QStringLiteral("Label15"))->text(), QStringLiteral("共有6条记录"));
        }
    }

    // A cancel or a refused write mid-run leaves none of the batch.
    void allOrNothing()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        ExcelWorkbook book;
        book.open(fixture("catalogue.xls"));
        dm.Twjml.setAppendOnly(true);
        dm.Twjml.open();
        const ImportPlan plan(catalogueMapping(), book.columnCount(), dm.Twjml);

        int reports = 0;
        const ImportOutcome cancelled = importAll(
            plan, book,
            [&](int done) {
                ++reports;
                return done < 2;
            },
            0);
        QVERIFY(cancelled.cancelled);
        QCOMPARE(reports, 2);
        QCOMPARE(cancelled.saved, 0);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        folder.refuse(
            QStringLiteral("insert"), QStringLiteral("disk full"), QStringLiteral("TM"), QStringLiteral("第四份文件"));
        dm.Twjml.close();
        dm.Twjml.open();
        const ImportPlan again(catalogueMapping(), book.columnCount(), dm.Twjml);
        QVERIFY_THROWS_EXCEPTION(Error, importAll(again, book, [](int) { return true; }));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QVERIFY(!dm.Twjml.isEditing());
    }
};

QTEST_MAIN(TestImport)
#include "tst_import.moc"
