#include "DBGridEh.h"
#include "Dataset.h"
#include "DatasetModel.h"
#include "ExcelWorkbook.h"
#include "ExportGrid.h"
#include "QtUi.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TFrm_cxly.h"
#include "TFrm_tjbb.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace dagl;

namespace {

using SaveAnswer = test::FakeUi::SaveAnswer;

struct QueryWindow {
    explicit QueryWindow(test::ProgramFolderFixture &f, bool withExcelFolder = true)
        : folder(f)
        , dm(f.path(), ui)
    {
        if (withExcelFolder)
            QDir(f.path()).mkdir(QStringLiteral("Excel"));
        for (int i = 1; i <= 3; ++i)
            f.exec(QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,tm) values ('1','1',%1,'题名%1')").arg(i));
        window = new TFrm_cxly(dm, ui, nullptr, nullptr);
        window->show();
    }
    ~QueryWindow() { delete window; }

    void click(const char *button) const
    {
        QTest::mouseClick(window->findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    QString excel() const { return folder.path() + QStringLiteral("Excel/"); }
    int selected() const { return window->grid()->selectionModel()->selectedRows().size(); }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    TDataModule5 dm;
    TFrm_cxly *window;
};

// The notice after an export, as the operator reads it.
QString exportedTo(const QString &path)
{
    return QStringLiteral("已导出到 ") + QDir::toNativeSeparators(path);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void fileName_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("written");
        QTest::newRow("preset name, excel") << "数据导出" << 5 << "数据导出.xls";
        QTest::newRow("upper-case extension") << "report.XLS" << 5 << "report.XLS";
        QTest::newRow("three letters without dot") << "reportxls" << 5 << "reportxls";
        QTest::newRow("other extension") << "report.csv" << 5 << "report.csv.xls";
        QTest::newRow("text") << "a" << 1 << "a.txt";
        QTest::newRow("csv") << "a.CSV" << 2 << "a.CSV";
        QTest::newRow("html") << "a.html" << 3 << "a.html.htm";
        QTest::newRow("rich text") << "a" << 4 << "a.rtf";
        QTest::newRow("entry 0 selects nothing") << "a" << 0 << "";
        QTest::newRow("excel 2007") << "数据导出" << 6 << "数据导出.xlsx";
        QTest::newRow("excel 2007, upper case") << "a.XLSX" << 6 << "a.XLSX";
        QTest::newRow("excel 2007 after xls") << "a.xls" << 6 << "a.xls.xlsx";
        QTest::newRow("entry 7 selects nothing") << "a.xls" << 7 << "";
    }
    void fileName()
    {
        QFETCH(QString, chosen);
        QFETCH(int, entry);
        QFETCH(QString, written);
        QCOMPARE(ExportRules::fileName(chosen, entry), written);
    }

    void filterList()
    {
        QCOMPARE(ExportRules::filter(),
            QStringLiteral("Text files (*.txt)|*.txt|Comma separated values (*.csv)|*.csv|HTML file "
                           "(*.htm)|*.htm|Rich Text Format (*.rtf)|*.rtf|Microsoft Excel Workbook (*.xls)|*.xls|"
                           "Microsoft Excel 2007 Workbook (*.xlsx)|*.xlsx"));
        QCOMPARE(ExportRules::formatOf(5), std::optional<ExportFormat>(ExportFormat::Xls));
        QCOMPARE(ExportRules::formatOf(1), std::optional<ExportFormat>(ExportFormat::Text));
        QCOMPARE(ExportRules::formatOf(6), std::optional<ExportFormat>(ExportFormat::Xlsx));
        QVERIFY(!ExportRules::formatOf(7));
        QCOMPARE(ExportDialog().filterIndex, 5); // a new window still starts with the .xls entry
    }

    // The file is written, the operator is told where, and the button of the notice shows
    // its folder, which is then not shown a second time.
    void exportWritesTheFileAndSaysWhereItWent()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), 0 };
        w.ui.answers << Ui::Answer::OpenFolder;
        w.click("BitBtn4");
        QCOMPARE(w.ui.saveCalls.size(), 1);
        QCOMPARE(w.ui.saveCalls[0].folder, w.excel());
        QCOMPARE(w.ui.saveCalls[0].fileName, QStringLiteral("数据导出"));
        QCOMPARE(w.ui.saveCalls[0].filterIndex, 5);
        QCOMPARE(w.ui.saveCalls[0].filter, ExportRules::filter());
        QVERIFY(QFile::exists(w.excel() + QStringLiteral("数据导出.xls")));
        QCOMPARE(w.ui.texts(), QStringList { exportedTo(w.excel() + QStringLiteral("数据导出.xls")) });
        QCOMPARE(w.ui.shown[0].buttons, Ui::Buttons::OkOpenFolder);
        QCOMPARE(w.ui.shown[0].caption, QStringLiteral("提示"));
        QCOMPARE(w.ui.opened, QStringList { QDir(w.excel()).absolutePath() });
        QCOMPARE(w.selected(), 0);

        // OK alone: the export folder is shown as it always is.
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), 0 };
        w.click("BitBtn4");
        QCOMPARE(w.ui.shown.size(), 2);
        QCOMPARE(w.ui.opened, (QStringList { QDir(w.excel()).absolutePath(), w.excel() }));
    }

    // The sixth entry writes an Excel 2007 workbook the import reads back.
    void exportsExcel2007Workbook()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), 6 };
        w.click("BitBtn4");
        const QString path = w.excel() + QStringLiteral("数据导出.xlsx");
        QVERIFY(QFile::exists(path));
        QCOMPARE(w.ui.texts(), QStringList { exportedTo(path) });
        QCOMPARE(QDir(w.excel()).entryList(QDir::Files | QDir::Hidden), QStringList { "数据导出.xlsx" });
        ExcelWorkbook book;
        book.open(path);
        QCOMPARE(book.headings(), w.window->grid()->titles()); // the 档号 shown, once
        QCOMPARE(book.headings().last(), QStringLiteral("档号"));
        QCOMPARE(book.rowCount(), 4); // three records and the footer
        const int title = int(book.headings().indexOf(QStringLiteral("题名")));
        QVERIFY(title >= 0);
        QCOMPARE(book.cell(2, title), QVariant(QStringLiteral("题名3")));
    }

    // The query's results carry the archival code as the last column of every format.
    void queryExportEndsWithArchivalCode_data()
    {
        QTest::addColumn<int>("entry");
        QTest::newRow("text") << 1;
        QTest::newRow("csv") << 2;
        QTest::newRow("html") << 3;
        QTest::newRow("rich text") << 4;
        QTest::newRow("excel 97-2003") << 5;
        QTest::newRow("excel 2007") << 6;
    }
    void queryExportEndsWithArchivalCode()
    {
        QFETCH(int, entry);
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral(
            "insert into 文件目录 (qzh,gdnd,bgqx,hh,jh,tm) values ('0012','2024','永久','1','9','有档号')"));
        QueryWindow w(folder);
        w.click("BitBtn2");
        DBGridEh *grid = w.window->grid();
        QCOMPARE(grid->titles().last(), QStringLiteral("档号")); // shown, so written once
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("结果"), entry };
        w.click("BitBtn4");
        const QString path = ExportRules::fileName(w.excel() + QStringLiteral("结果"), entry);
        QCOMPARE(w.ui.texts(), QStringList { exportedTo(path) });
        QVERIFY(QFile::exists(path));

        const GridTable expected = gridTable(*grid);
        QCOMPARE(expected.titles.last(), QStringLiteral("档号"));
        QCOMPARE(expected.titles.count(QStringLiteral("档号")), 1);
        const int title = int(expected.titles.indexOf(QStringLiteral("题名")));
        int row = 0;
        while (row < expected.rowCount && expected.cell(row, title) != QStringLiteral("有档号"))
            ++row;
        QVERIFY(row < expected.rowCount);
        const int last = int(expected.titles.size()) - 1;
        QCOMPARE(expected.cell(row, last), QStringLiteral("0012-WS·2024-Y-0009"));
        if (entry >= 5) {
            ExcelWorkbook book;
            book.open(path);
            QCOMPARE(book.headings().last(), QStringLiteral("档号"));
            QCOMPARE(book.cell(row, last).toString(), QStringLiteral("0012-WS·2024-Y-0009"));
        } else {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            writeGrid(*ExportRules::formatOf(entry), expected, buffer);
            QCOMPARE(contents(path), buffer.data());
        }
    }

    void chosenEntryIsKeptForTheWindowsLife()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        const QString elsewhere = folder.path() + QStringLiteral("report");
        w.ui.saveAnswers << SaveAnswer { true, elsewhere, 1 }
                         << SaveAnswer { true, elsewhere + QStringLiteral(".csv"), 0 };
        w.click("BitBtn4");
        w.click("BitBtn4");
        QCOMPARE(w.ui.saveCalls.size(), 2);
        QCOMPARE(w.ui.saveCalls[1].filterIndex, 1);
        QCOMPARE(w.ui.saveCalls[1].fileName, QStringLiteral("数据导出"));
        QVERIFY(QFile::exists(elsewhere + QStringLiteral(".txt")));
        QVERIFY(QFile::exists(elsewhere + QStringLiteral(".csv.txt")));
        // Each notice names the file where it went.
        QCOMPARE(w.ui.texts(),
            (QStringList {
                exportedTo(elsewhere + QStringLiteral(".txt")), exportedTo(elsewhere + QStringLiteral(".csv.txt")) }));
        const QList<QByteArray> lines = contents(elsewhere + QStringLiteral(".txt")).split('\n');
        QCOMPARE(lines.size(), 6); // titles, three records, footer, and the end of the last line
        QVERIFY(lines.first().contains("馆代码"));
        QVERIFY(lines.at(4).startsWith("总计"));

        TFrm_cxly other(w.dm, w.ui, nullptr, nullptr);
        other.BitBtn4Click();
        QCOMPARE(w.ui.saveCalls.last().filterIndex, 5);
    }

    void cancelWritesNothingAndClearsTheSelection()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        w.window->grid()->selectRow(1);
        QCOMPARE(w.selected(), 1);
        w.ui.saveAnswers << SaveAnswer { false, {}, 0 };
        w.click("BitBtn4");
        QCOMPARE(w.ui.saveCalls.size(), 1);
        QVERIFY(w.ui.opened.isEmpty());
        QCOMPARE(QDir(w.excel()).entryList(QDir::Files), QStringList());
        QCOMPARE(w.selected(), 0);
    }

    void writeErrorReachesTheErrorBoxAndLeavesNoFile()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        const QString missing = folder.path() + QStringLiteral("no-such-folder/out");
        w.ui.saveAnswers << SaveAnswer { true, missing, 5 };
        w.click("BitBtn4");
        QCOMPARE(w.ui.shown.size(), 1);
        QCOMPARE(w.ui.shown.first().icon, Ui::Icon::Critical);
        QVERIFY(!QFile::exists(missing + QStringLiteral(".xls")));
        QVERIFY(w.ui.opened.isEmpty());
        QCOMPARE(w.selected(), 0);
    }

    void exportBeforeTheFirstSearchFails()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("x"), 5 };
        w.click("BitBtn4");
        QCOMPARE(w.ui.shown.size(), 1);
        QVERIFY(w.ui.lastText().contains(QStringLiteral("closed dataset")));
        QVERIFY(!QFile::exists(w.excel() + QStringLiteral("x.xls")));
        QVERIFY(w.ui.opened.isEmpty());
    }

    void missingExcelFolderIsNotCreated()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder, false);
        w.click("BitBtn2");
        w.ui.saveAnswers << SaveAnswer { true, folder.path() + QStringLiteral("out"), 5 };
        w.click("BitBtn4");
        QVERIFY(QFile::exists(folder.path() + QStringLiteral("out.xls")));
        QCOMPARE(w.ui.texts(), QStringList { exportedTo(folder.path() + QStringLiteral("out.xls")) });
        QVERIFY(!QDir(w.excel()).exists());
    }

    void emptyResultGivesTitlesAndFooterOnly()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.window->findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(QStringLiteral("none"));
        w.click("BitBtn3");
        const GridTable table = gridTable(*w.window->grid());
        QCOMPARE(table.rowCount, 0);
        QCOMPARE(table.titles.size(), 18);
        QCOMPARE(table.footer.mid(0, 3), (QStringList { "总计", "0", "" }));
        w.ui.saveAnswers << SaveAnswer { true, folder.path() + QStringLiteral("empty"), 1 };
        w.click("BitBtn4");
        const QList<QByteArray> lines = contents(folder.path() + QStringLiteral("empty.txt")).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(1).startsWith("总计"));
    }

    void tableFollowsTheGridsColumns()
    {
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        DBGridEh *grid = w.window->grid();
        grid->horizontalHeader()->moveSection(12, 0); // 题名 first
        grid->horizontalHeader()->hideSection(1); // no 单位代码
        const GridTable table = gridTable(*grid);
        QCOMPARE(table.titles.mid(0, 3), (QStringList { "题名", "馆代码", "全宗号" }));
        QCOMPARE(table.titles.size(), 17);
        QCOMPARE(table.cell(2, 0), QStringLiteral("题名3"));
        QCOMPARE(table.cell(2, 4), QStringLiteral("3")); // 案卷号
        QCOMPARE(table.numeric.at(4), true);
        QCOMPARE(table.numeric.at(0), false);
        QCOMPARE(table.footer.mid(0, 3), (QStringList { "", "总计", "" }));
    }

    // The export reads the rows front to back by position: the same texts, in the same order,
    // as the grid shows, whatever the sort, a row being edited, or a row asked for again.
    void cellsAreTheGridsTexts_data()
    {
        QTest::addColumn<QString>("sort");
        QTest::newRow("statement order") << QString();
        QTest::newRow("title, with ties") << QStringLiteral("TM ASC");
        QTest::newRow("volume descending") << QStringLiteral("AJH DESC");
    }
    void cellsAreTheGridsTexts()
    {
        QFETCH(QString, sort);
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        folder.exec(QString::fromUtf8("with recursive n(i) as (select 1 union all select i+1 from n where i<700) "
                     "insert into 文件目录 (qzh,mlh,ajh,yh,tm,zrz) select '2', i % 5, i % 13, i, "
                     "case when i % 9 = 0 then null else '题名' || (i % 7) || ' \"a,b\"' end, "
                     "case when i % 4 = 0 then 'Z' || i end from n"));
        w.click("BitBtn2");
        Dataset &dataset = w.dm.Tdaly;
        if (!sort.isEmpty())
            dataset.sort(sort);
        dataset.moveTo(40);
        dataset.edit();
        dataset.setText(QStringLiteral("TM"), QStringLiteral("正在修改"));
        DBGridEh *grid = w.window->grid();
        DatasetModel *model = grid->datasetModel();
        const QVector<int> columns = grid->visibleColumns();
        const GridTable table = gridTable(*grid);
        QCOMPARE(table.rowCount, 703);
        auto expected
            = [&](int row, int column) { return model->data(model->index(row, columns.at(column))).toString(); };
        for (int row = 0; row < table.rowCount; ++row) {
            for (int column = 0; column < columns.size(); ++column)
                QCOMPARE(table.cell(row, column), expected(row, column));
        }
        QCOMPARE(table.cell(40, int(table.titles.indexOf(QStringLiteral("题名")))), QStringLiteral("正在修改"));
        for (int row : { 5, 2, 600, 3 }) // back and far ahead
            QCOMPARE(table.cell(row, 0), expected(row, 0));
        dataset.cancel();
    }

    // Stopping the export on its progress panel leaves no file and opens no folder.
    void stoppedExportLeavesNoFile_data()
    {
        QTest::addColumn<int>("entry");
        for (int entry = 1; entry <= 5; ++entry)
            QTest::newRow(qPrintable(ExportRules::extensionOf(*ExportRules::formatOf(entry)))) << entry;
    }
    void stoppedExportLeavesNoFile()
    {
        QFETCH(int, entry);
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        folder.exec(QString::fromUtf8("with recursive n(i) as (select 1 union all select i+1 from n where i<5000) "
                     "insert into 文件目录 (qzh,mlh,ajh,tm) select '3', '1', i, '题名' || i from n"));
        w.click("BitBtn2");
        w.ui.stopProgressAt = 2;
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), entry };
        w.click("BitBtn4");
        QCOMPARE(w.ui.progressLabels, QStringList { "正在导出……" });
        QCOMPARE(w.ui.progressSteps, 2);
        QCOMPARE(QDir(w.excel()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(w.ui.opened.isEmpty());
        QVERIFY(w.ui.shown.isEmpty());
        QCOMPARE(w.selected(), 0);

        w.ui.stopProgressAt = 0; // the same export run to its end
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), entry };
        w.click("BitBtn4");
        QCOMPARE(QDir(w.excel()).entryList(QDir::Files).size(), 1);
        QCOMPARE(w.ui.shown.size(), 1);
    }

    void statisticsExportUsesItsOwnName()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh) values ('1','1')"));
        TFrm_tjbb window(dm, ui);
        window.BitBtn3Click();
        ui.saveAnswers << SaveAnswer { true, folder.path() + QStringLiteral("统计"), 0 };
        window.BitBtn4Click();
        QCOMPARE(ui.saveCalls.first().fileName, QStringLiteral("统计报表数据导出"));
        QVERIFY(QFile::exists(folder.path() + QStringLiteral("统计.xls")));
    }

    // The workbook is made beside its target: a full temporary folder does not matter, and
    // nothing is left there or beside the file.
    void workbookIsMadeBesideItsTarget()
    {
        test::SmallDisk temporary;
        if (!temporary.mounted())
            QSKIP("needs a small disk of its own for the temporary folder");
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        const QByteArray before = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        temporary.fill();
        w.ui.saveAnswers << SaveAnswer { true, w.excel() + QStringLiteral("数据导出"), 6 };
        w.click("BitBtn4");
        qputenv("TMPDIR", before);
        const QString path = w.excel() + QStringLiteral("数据导出.xlsx");
        QCOMPARE(w.ui.texts(), QStringList { exportedTo(path) });
        QCOMPARE(QDir(w.excel()).entryList(QDir::Files | QDir::Hidden), QStringList { "数据导出.xlsx" });
        QCOMPARE(QDir(temporary.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
        ExcelWorkbook book;
        book.open(path);
        QCOMPARE(book.rowCount(), 4);
    }

    // A full disk where the file goes: the operator reads why in Chinese, no file is left,
    // and an earlier export of the name is kept.
    void fullTargetDiskSaysWhyInChinese_data()
    {
        QTest::addColumn<int>("entry");
        QTest::newRow("excel 97-2003") << 5;
        QTest::newRow("excel 2007") << 6;
    }
    void fullTargetDiskSaysWhyInChinese()
    {
        QFETCH(int, entry);
        test::ProgramFolderFixture folder;
        QueryWindow w(folder);
        w.click("BitBtn2");
        test::SmallDisk disk;
        const QString target = ExportRules::fileName(disk.path() + QStringLiteral("数据导出"), entry);
        {
            QFile earlier(target);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier");
        }
        disk.fill();
        w.ui.saveAnswers << SaveAnswer { true, disk.path() + QStringLiteral("数据导出"), entry };
        w.click("BitBtn4");
        disk.release();
        QCOMPARE(w.ui.shown.size(), 1);
        const QString told = w.ui.lastText();
        QVERIFY2(told.startsWith(QStringLiteral("无法")), qPrintable(told));
        bool causeGiven = false;
        for (const QString &cause : disk.causeTexts())
            causeGiven = causeGiven || told.endsWith(cause);
        QVERIFY2(causeGiven, qPrintable(told));
        QVERIFY2(!told.contains(QLatin1String("Zip")) && !told.contains(QLatin1String("error")), qPrintable(told));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList { QFileInfo(target).fileName() });
        QCOMPARE(contents(target), QByteArray("earlier"));
        QVERIFY(w.ui.opened.isEmpty());
    }

    // The notice's button, in the program's own box, answers that the folder is wanted.
    void noticeOfTheProgramOffersTheFolder()
    {
        QString caption;
        QTimer::singleShot(0, [&caption] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            auto *open = box->findChild<QAbstractButton *>(QStringLiteral("OpenFolder"));
            QVERIFY(open);
            caption = open->text();
            open->click();
        });
        QtUi ui;
        QCOMPARE(ui.messageBox(QStringLiteral("已导出到 /tmp/a.xls"), QStringLiteral("提示"), Ui::Icon::Information,
                     Ui::Buttons::OkOpenFolder),
            Ui::Answer::OpenFolder);
        QCOMPARE(caption, QStringLiteral("打开文件夹(&O)"));
    }

    void saveDialogOfTheProgram()
    {
        QTemporaryDir dir;
        QFile existing(dir.filePath(QStringLiteral("old.csv")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        QStringList filters;
        QString startFilter;
        QString startFolder;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            filters = dialog->nameFilters();
            startFilter = dialog->selectedNameFilter();
            startFolder = dialog->directory().absolutePath();
            dialog->selectNameFilter(filters.value(1));
            dialog->selectFile(dir.filePath(QStringLiteral("old.csv")));
            static_cast<QDialog *>(dialog)->accept(); // no question before the existing file is replaced
        });
        QtUi ui;
        QString fileName = QStringLiteral("数据导出");
        int entry = 5;
        QVERIFY(ui.saveFile(
            QStringLiteral("另存为"), dir.path() + QLatin1Char('/'), ExportRules::filter(), fileName, entry));
        QCOMPARE(filters,
            (QStringList { "Text files (*.txt)", "Comma separated values (*.csv)", "HTML file (*.htm)",
                "Rich Text Format (*.rtf)", "Microsoft Excel Workbook (*.xls)", "Microsoft Excel 2007 Workbook (*.xlsx)" }));
        QCOMPARE(startFilter, QStringLiteral("Microsoft Excel Workbook (*.xls)"));
        QCOMPARE(startFolder, QDir(dir.path()).absolutePath());
        QCOMPARE(entry, 2);
        QCOMPARE(QFileInfo(fileName).fileName(), QStringLiteral("old.csv"));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
