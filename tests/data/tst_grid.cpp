#include "DBGridEh.h"
#include "DatasetModel.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "Skin.h"
#include "SortByTitle.h"
#include "SortKeys.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TFrm_cxly.h"
#include "TFrm_sjlr.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

using namespace dagl;
using Marker = DBGridEh::SortMarker;

Q_DECLARE_METATYPE(DBGridEh::SortMarker)

namespace {

// Five records whose titles sort differently from their sequence numbers.
void insertFive(test::ProgramFolderFixture &folder)
{
    const char *rows[][3] = { { "0001", "丙", "3" }, { "0002", "甲", "1" }, { "0003", "戊", "5" },
        { "0004", "乙", "2" }, { "0005", "丁", "4" } };
    for (const auto &row : rows)
        folder.exec(QStringLiteral("insert into 文件目录 (SXH, TM, QZH) values ('%1','%2','%3')")
                        .arg(QString::fromUtf8(row[0]), QString::fromUtf8(row[1]), QString::fromUtf8(row[2])));
}

struct Grid {
    explicit Grid(test::ProgramFolderFixture &f)
        : folder(f)
    {
        dm.Tsyyp.open();
        grid.setDataset(&dm.Tsyyp,
            { { QStringLiteral("SXH"), QStringLiteral("序号") }, { QStringLiteral("TM"), QStringLiteral("题名") },
                { QStringLiteral("QZH"), QStringLiteral("全宗号") } });
        grid.setFooter({ { DBGridEh::FooterCell::Kind::Text, QStringLiteral("总计") },
            { DBGridEh::FooterCell::Kind::RecordCount, {} } });
        grid.resize(500, 300);
    }
    void show()
    {
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
    }
    QString text(int row, int column) const { return grid.model()->index(row, column).data().toString(); }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < grid.model()->rowCount(); ++row)
            texts << text(row, column);
        return texts;
    }
    QPoint cellCentre(int row) const { return grid.visualRect(grid.model()->index(row, 0)).center(); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, modifiers, cellCentre(row));
    }
    void clickTitle(int column)
    {
        QHeaderView *header = grid.horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 6, header->height() / 2));
    }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    TDataModule5 dm { folder.path(), ui };
    DBGridEh grid;
};

} // namespace

class TestGrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void modelFollowsDataset()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        DatasetModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setColumns(
            { { QStringLiteral("TM"), QStringLiteral("题名") }, { QStringLiteral("SXH"), QStringLiteral("序号") } });
        model.setDataset(&dm.Tsyyp);
        QCOMPARE(model.rowCount(), 0);
        dm.Tsyyp.open();
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("题名"));
        dm.Tsyyp.append();
        dm.Tsyyp.setText(QStringLiteral("TM"), QStringLiteral("新"));
        QCOMPARE(model.index(5, 0).data().toString(), QStringLiteral("新"));
        dm.Tsyyp.post();
        dm.Tsyyp.sort(QStringLiteral("SXH DESC"));
        QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("0005"));
        dm.Tsyyp.moveTo(0);
        dm.Tsyyp.deleteRecord();
        QCOMPARE(model.rowCount(), 5);
        dm.Tsyyp.close();
        QCOMPARE(model.rowCount(), 0);
    }

    void titlesAndFooter()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        QCOMPARE(g.grid.titles(), (QStringList { "序号", "题名", "全宗号" }));
        QCOMPARE(g.grid.footerTexts(), (QStringList { "总计", "5", "" }));

        // The count follows the dataset at once.
        g.dm.Tsyyp.append();
        QCOMPARE(g.grid.footerTexts().at(1), QStringLiteral("6"));
        g.dm.Tsyyp.cancel();
        g.dm.Tsyyp.moveTo(2);
        g.dm.Tsyyp.deleteRecord();
        QCOMPARE(g.grid.footerTexts().at(1), QStringLiteral("4"));

        // Titles and footer cells go with their columns when they are moved or hidden.
        g.grid.horizontalHeader()->moveSection(0, 2);
        QCOMPARE(g.grid.titles(), (QStringList { "题名", "全宗号", "序号" }));
        QCOMPARE(g.grid.footerTexts(), (QStringList { "4", "", "总计" }));
        g.grid.setColumnHidden(2, true);
        QCOMPARE(g.grid.titles(), (QStringList { "题名", "序号" }));

        g.dm.Tsyyp.close();
        QCOMPARE(g.grid.footerTexts().at(0), QStringLiteral("0"));
    }

    void sortStep_data()
    {
        QTest::addColumn<Marker>("from");
        QTest::addColumn<Marker>("to");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<QString>("sortText");
        QTest::newRow("none") << Marker::None << Marker::Down << true << "TM ASC";
        QTest::newRow("down") << Marker::Down << Marker::Up << true << "TM DESC";
        QTest::newRow("up") << Marker::Up << Marker::None << false << "";
    }
    void sortStep()
    {
        QFETCH(Marker, from);
        QFETCH(Marker, to);
        QFETCH(bool, changes);
        QFETCH(QString, sortText);
        const SortStep step = nextSortStep(from, QStringLiteral("TM"));
        QCOMPARE(step.marker, to);
        QCOMPARE(step.changesSort, changes);
        QCOMPARE(step.sortText, sortText);
    }

    // Title clicks on a shown grid: the cycle on one column, then another column.
    void titleClicksSort_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<Marker>>("markers");
        QTest::addColumn<QString>("sortText");
        QTest::addColumn<QStringList>("titles");
        const QStringList none { "丙", "甲", "戊", "乙", "丁" };
        const QStringList up { "乙", "戊", "甲", "丁", "丙" }; // pinyin: yi wu jia ding bing
        const QStringList down { "丙", "丁", "甲", "戊", "乙" };
        QTest::newRow("no click") << QList<int> {} << QList<Marker> { Marker::None, Marker::None } << "" << none;
        QTest::newRow("once") << QList<int> { 1 } << QList<Marker> { Marker::None, Marker::Down } << "TM ASC" << down;
        QTest::newRow("twice") << QList<int> { 1, 1 } << QList<Marker> { Marker::None, Marker::Up } << "TM DESC" << up;
        QTest::newRow("three times keeps descending")
            << QList<int> { 1, 1, 1 } << QList<Marker> { Marker::None, Marker::None } << "TM DESC" << up;
        QTest::newRow("four times") << QList<int> { 1, 1, 1, 1 } << QList<Marker> { Marker::None, Marker::Down }
                                    << "TM ASC" << down;
        QTest::newRow("another column") << QList<int> { 1, 1, 2 } << QList<Marker> { Marker::None, Marker::None }
                                        << "QZH ASC" << QStringList { "甲", "乙", "丙", "丁", "戊" };
    }
    void titleClicksSort()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<Marker>, markers);
        QFETCH(QString, sortText);
        QFETCH(QStringList, titles);
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        g.grid.setTitleButtons(true);
        connect(
            &g.grid, &DBGridEh::titleClicked, &g.grid, [&g](int column) { SortByTitle(g.grid, column, g.dm.Tsyyp); });
        g.show();
        for (int column : clicks)
            g.clickTitle(column);
        QCOMPARE(g.grid.sortMarker(0), markers[0]);
        QCOMPARE(g.grid.sortMarker(1), markers[1]);
        const bool qzhMarked = sortText.startsWith(QLatin1String("QZH"));
        QCOMPARE(g.grid.sortMarker(2), qzhMarked ? Marker::Down : Marker::None);
        QCOMPARE(g.dm.Tsyyp.sortText(), sortText);
        QCOMPARE(g.column(1), titles);
    }

    // A title click far to the right: the grid stays scrolled where it was, the clicked
    // column in view, whichever way the sort goes.
    void sortKeepsTheClickedColumnInView()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        g.grid.setTitleButtons(true);
        connect(
            &g.grid, &DBGridEh::titleClicked, &g.grid, [&g](int column) { SortByTitle(g.grid, column, g.dm.Tsyyp); });
        for (int column = 0; column < 3; ++column)
            g.grid.setColumnWidth(column, 300);
        g.grid.resize(320, 300);
        g.show();
        QScrollBar *across = g.grid.horizontalScrollBar();
        across->setValue(across->maximum());
        QTRY_VERIFY(across->value() > 0);
        const int scrolled = across->value();
        for (int click = 0; click < 3; ++click) {
            g.clickTitle(2);
            QCOMPARE(across->value(), scrolled);
            const int left = g.grid.horizontalHeader()->sectionViewportPosition(2);
            QVERIFY(left < g.grid.viewport()->width() && left + 300 > 0);
        }
        QCOMPARE(g.dm.Tsyyp.sortText(), QStringLiteral("QZH DESC"));
    }

    // The title's order is kept as sort keys with an index of their own, made at the first
    // click for a catalogue without them, and the engine walks that index instead of sorting
    // the rows.
    void titleOrderWalksItsIndex()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        SortKeys::drop(folder.db().handle(), Schema::kCatalogueTable, QStringLiteral("TM")); // an older catalogue
        Grid g(folder);
        g.grid.setTitleButtons(true);
        connect(
            &g.grid, &DBGridEh::titleClicked, &g.grid, [&g](int column) { SortByTitle(g.grid, column, g.dm.Tsyyp); });
        g.show();
        const QString keys = QStringLiteral("name = '%1'").arg(SortKeys::keyTable(QStringLiteral("TM")));
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), keys), 0);
        g.clickTitle(1);
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), keys), 1);
        QCOMPARE(g.column(1), (QStringList { "丙", "丁", "甲", "戊", "乙" }));
        QString plan;
        Statement explain(g.dm.ADOConnection1.handle(),
            QStringLiteral("EXPLAIN QUERY PLAN ") + SortKeys::keyStatement(QStringLiteral("TM"), true));
        while (explain.step())
            plan += explain.column(3).toString() + QLatin1Char('\n');
        QVERIFY2(plan.contains(SortKeys::keyTable(QStringLiteral("TM")) + QStringLiteral("_key")), qPrintable(plan));
        QVERIFY2(!plan.contains(QLatin1String("TEMP B-TREE")), qPrintable(plan));
        // Rows changed after the keys were made keep their place in the order.
        folder.exec(QStringLiteral("update 文件目录 set tm = '阿' where tm = '乙'"));
        g.dm.Tsyyp.close();
        g.dm.Tsyyp.open();
        g.clickTitle(1);
        g.clickTitle(1);
        g.clickTitle(1);
        QCOMPARE(g.column(1), (QStringList { "阿", "丙", "丁", "甲", "戊" }));
    }

    void titleClicksNeedTitleButtons()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        int clicked = 0;
        connect(&g.grid, &DBGridEh::titleClicked, &g.grid, [&clicked] { ++clicked; });
        g.show();
        g.clickTitle(1);
        QCOMPARE(clicked, 0);
        g.grid.setTitleButtons(true);
        g.clickTitle(1);
        QCOMPARE(clicked, 1);
        // The view never sorts or marks by itself.
        QCOMPARE(g.grid.sortMarker(1), Marker::None);
        QCOMPARE(g.column(0), (QStringList { "0001", "0002", "0003", "0004", "0005" }));
    }

    // The grid is one Tab stop: Tab and Shift+Tab go on to the next and previous controls,
    // Ctrl+Tab and Ctrl+Shift+Tab from cell to cell, to the next row at a row's end.
    void tabLeavesCtrlTabMovesWithin()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        test::FakeUi ui;
        TDataModule5 dm { folder.path(), ui };
        dm.Tsyyp.open();
        QWidget window;
        auto *before = new QLineEdit(&window);
        auto *grid = new DBGridEh(&window);
        auto *after = new QLineEdit(&window);
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        layout->addWidget(grid);
        layout->addWidget(after);
        grid->setDataset(&dm.Tsyyp,
            { { QStringLiteral("SXH"), QStringLiteral("序号") }, { QStringLiteral("TM"), QStringLiteral("题名") } });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        before->setFocus(Qt::TabFocusReason);
        QTest::keyClick(before, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), grid);
        const int row = grid->currentIndex().row();
        QCOMPARE(grid->currentIndex().column(), 0);
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(grid->currentIndex().column(), 1);
        QCOMPARE(QApplication::focusWidget(), grid);
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier); // on to the next row
        QCOMPARE(grid->currentIndex().row(), row + 1);
        QCOMPARE(grid->currentIndex().column(), 0);
        QCOMPARE(dm.Tsyyp.currentRow(), row + 1);
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(grid->currentIndex().row(), row);
        QCOMPARE(grid->currentIndex().column(), 1);
        QTest::keyClick(grid, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), after);
        QTest::keyClick(after, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_COMPARE(QApplication::focusWidget(), grid);
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_COMPARE(QApplication::focusWidget(), before);
        QCOMPARE(grid->currentIndex().row(), row); // leaving moves nothing
    }

    void oneMarkerAtATime()
    {
        DBGridEh grid;
        grid.setSortMarker(1, Marker::Down);
        grid.setSortMarker(2, Marker::Up);
        QCOMPARE(grid.sortMarker(1), Marker::None);
        QCOMPARE(grid.sortMarker(2), Marker::Up);
        grid.setSortMarker(1, Marker::None); // another column's none leaves the mark alone
        QCOMPARE(grid.sortMarker(2), Marker::Up);
        grid.setSortMarker(2, Marker::None);
        QCOMPARE(grid.sortMarker(2), Marker::None);
    }

    void colours()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        g.show();
        g.grid.clearRowSelection();
        QHeaderView *header = g.grid.horizontalHeader();
        const QImage titles = header->viewport()->grab().toImage();
        QCOMPARE(QColor(titles.pixel(header->sectionViewportPosition(2) + 3, 3)), QColor(0xA6, 0xCA, 0xF0));
        const QImage cells = g.grid.viewport()->grab().toImage();
        const QRect cell = g.grid.visualRect(g.grid.model()->index(1, 2));
        QCOMPARE(QColor(cells.pixel(cell.right() - 2, cell.top() + 2)), QColor(0xFF, 0xFB, 0xF0));
    }

    void selectionByIdentity()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        g.show();
        g.clickRow(0);
        QCOMPARE(g.dm.Tsyyp.currentRow(), 0);
        QCOMPARE(g.grid.selectedCount(), 0); // a plain click only moves the current row
        g.clickRow(2, Qt::ControlModifier);
        g.clickRow(4, Qt::ControlModifier);
        QCOMPARE(g.dm.Tsyyp.currentRow(), 4); // the grid's current row is the dataset's
        QCOMPARE(g.grid.selectedCount(), 3);
        const QVector<Dataset::Bookmark> expected { g.dm.Tsyyp.bookmarkAt(0), g.dm.Tsyyp.bookmarkAt(2),
            g.dm.Tsyyp.bookmarkAt(4) };
        QCOMPARE(g.grid.selectedBookmarks(), expected);

        g.grid.clearRowSelection();
        QCOMPARE(g.grid.selectedCount(), 0);
        QVERIFY(g.grid.selectedBookmarks().isEmpty());
        QCOMPARE(g.dm.Tsyyp.currentRow(), 4);

        g.grid.selectAllRows();
        QCOMPARE(g.grid.selectedCount(), 5);
        QCOMPARE(g.grid.selectedBookmarks().size(), 5);

        // A range with Shift, overlapping rows counted once.
        g.clickRow(1);
        g.clickRow(3, Qt::ShiftModifier);
        g.clickRow(2, Qt::ControlModifier); // off again
        QCOMPARE(g.grid.selectedCount(), 2);
        QCOMPARE(g.grid.selectedBookmarks(),
            (QVector<Dataset::Bookmark> { g.dm.Tsyyp.bookmarkAt(1), g.dm.Tsyyp.bookmarkAt(3) }));
    }

    void pendingRowHoldsTheGrid()
    {
        test::ProgramFolderFixture folder;
        insertFive(folder);
        Grid g(folder);
        g.show();
        g.dm.Tsyyp.append();
        g.dm.Tsyyp.setText(QStringLiteral("TM"), QStringLiteral("未保存"));
        QCOMPARE(g.dm.Tsyyp.currentRow(), 5);
        QCOMPARE(g.grid.currentIndex().row(), 5);

        g.clickRow(1);
        g.clickRow(2, Qt::ControlModifier);
        g.grid.setFocus();
        QTest::keyClick(&g.grid, Qt::Key_Up);
        QTest::keyClick(&g.grid, Qt::Key_Home, Qt::ControlModifier);

        QCOMPARE(g.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(g.dm.Tsyyp.currentRow(), 5);
        QCOMPARE(g.grid.currentIndex().row(), 5);
        QVERIFY(g.grid.selectionModel()->isRowSelected(5, {}));
        QCOMPARE(g.grid.selectedCount(), 0); // the row shown, chosen by no one
        QCOMPARE(g.text(5, 1), QStringLiteral("未保存"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 5); // nothing posted

        // Once the row is settled the grid moves again.
        g.dm.Tsyyp.cancel();
        g.clickRow(1);
        QCOMPARE(g.dm.Tsyyp.currentRow(), 1);
        QCOMPARE(g.dm.Tsyyp.text(QStringLiteral("SXH")), QStringLiteral("0002"));
    }

    void largeTableToTheEnd()
    {
        test::ProgramFolderFixture folder;
        const int rows = 20000;
        SampleCatalogue::fill(folder.db(), rows, 7);
        Grid g(folder);
        g.show();
        QCOMPARE(g.grid.model()->rowCount(), rows);
        QCOMPARE(g.grid.footerTexts().at(1), QString::number(rows));

        g.grid.setFocus();
        QTest::keyClick(&g.grid, Qt::Key_End, Qt::ControlModifier);
        QTRY_COMPARE(g.dm.Tsyyp.currentRow(), rows - 1);
        QCOMPARE(g.grid.verticalScrollBar()->value(), g.grid.verticalScrollBar()->maximum());

        // The last row is drawn whole, above the footer, with the dataset's values.
        const QRect last = g.grid.visualRect(g.grid.model()->index(rows - 1, 0));
        QVERIFY(last.isValid());
        QVERIFY2(last.bottom() < g.grid.viewport()->height(), qPrintable(QString::number(last.bottom())));
        auto *footer = g.grid.findChild<QWidget *>(QStringLiteral("footer"));
        QVERIFY(footer);
        QCOMPARE(footer->geometry().top(), g.grid.viewport()->geometry().bottom() + 1);
        QVERIFY(footer->geometry().bottom() < g.grid.height());
        const int tm = g.dm.Tsyyp.fieldByName(QStringLiteral("TM"));
        QCOMPARE(g.text(rows - 1, 1), g.dm.Tsyyp.textAt(rows - 1, tm));
        QCOMPARE(g.text(rows - 1, 1), g.dm.Tsyyp.text(QStringLiteral("TM")));

        g.grid.selectAllRows();
        QCOMPARE(g.grid.selectedCount(), rows);

        g.grid.scrollToTop();
        QCOMPARE(g.grid.rowAt(0), 0);
    }

    // The record list's and the query's cells are cream under the program's own style sheet,
    // which gives other tables a white ground.
    void windowCellsCreamUnderTheSkin_data()
    {
        QTest::addColumn<bool>("query");
        QTest::newRow("数据录入") << false;
        QTest::newRow("查询利用") << true;
    }
    void windowCellsCreamUnderTheSkin()
    {
        QFETCH(bool, query);
        test::ProgramFolderFixture folder;
        insertFive(folder);
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Skin::apply(*qApp);
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        QWidget host;
        host.resize(832, 420);
        host.show();
        std::unique_ptr<QWidget> window;
        if (query) {
            window = std::make_unique<TFrm_cxly>(dm, ui, nullptr, &host);
            window->show();
            QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
        } else {
            window = std::make_unique<TFrm_sjlr>(dm, ui, &host);
            window->show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        auto *grid = window->findChild<DBGridEh *>(QStringLiteral("DBGridEh1"));
        QVERIFY(grid);
        QTRY_COMPARE(grid->model()->rowCount(), 5);
        // A row away from the current one, and the ground below the last row.
        const QImage cells = grid->viewport()->grab().toImage();
        const QRect cell = grid->visualRect(grid->model()->index(2, 3));
        QCOMPARE(QColor(cells.pixel(cell.right() - 2, cell.top() + 2)), QColor(0xFF, 0xFB, 0xF0));
        const QRect last = grid->visualRect(grid->model()->index(4, 0));
        QVERIFY(last.bottom() + 5 < cells.height());
        QCOMPARE(QColor(cells.pixel(last.center().x(), last.bottom() + 4)), QColor(0xFF, 0xFB, 0xF0));

        // Tab leaves the window's grid; Ctrl+Tab stays in it.
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        grid->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), grid);
        const int column = grid->currentIndex().column();
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), grid);
        QCOMPARE(grid->currentIndex().column(), column + 1);
        QTest::keyClick(grid, Qt::Key_Tab);
        QTRY_VERIFY(QApplication::focusWidget() != grid);
    }
};

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
