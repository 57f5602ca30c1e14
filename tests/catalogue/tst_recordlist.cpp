#include "DBGridEh.h"
#include "IniFile.h"
#include "Program.h"
#include "Session.h"
#include "Skin.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "TFrm_AEsj.h"
#include "TFrm_sjlr.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

using namespace dagl;

namespace {

using test::topLevel;

void insertRows(test::ProgramFolderFixture &folder, const QStringList &titles)
{
    for (int i = 0; i < titles.size(); ++i)
        folder.exec(QStringLiteral("insert into 文件目录 (SXH, TM) values ('%1','%2')")
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .arg(titles[i]));
}

// The sequence numbers of the stored records (the fixtures number them 0001 up).
QStringList storedSequence(test::ProgramFolderFixture &folder)
{
    QStringList sequence;
    for (int i = 1; i <= 9; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
        if (folder.count(QStringLiteral("文件目录"), QStringLiteral("SXH='%1'").arg(number)) > 0)
            sequence << number;
    }
    return sequence;
}

// The record list embedded in a panel of its own, shown.
struct List {
    explicit List(test::ProgramFolderFixture &f)
        : folder(f)
    {
        host.resize(832, 420);
        host.show();
        list = new TFrm_sjlr(dm, ui, &host);
        list->show();
    }
    ~List()
    {
        if (QWidget *editor = topLevel(QStringLiteral("Frm_AEsj")))
            editor->close();
    }
    void click(const char *button)
    {
        QTest::mouseClick(list->findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    DBGridEh &grid() const { return *list->grid(); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(
            grid().viewport(), Qt::LeftButton, modifiers, grid().visualRect(grid().model()->index(row, 0)).center());
    }
    void clickTitle(int column)
    {
        QHeaderView *header = grid().horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 6, header->height() / 2));
    }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    TDataModule5 dm { folder.path(), ui };
    QWidget host;
    TFrm_sjlr *list = nullptr;
};

const QString kModifyNothing = QString::fromUtf8(TFrm_sjlr::kNothingToModify);
const QString kDeleteNothing = QString::fromUtf8(TFrm_sjlr::kNothingToDelete);
const QString kPending = QString::fromUtf8(TFrm_sjlr::kRowPending);
const QString kNothingSelected = QString::fromUtf8(TFrm_sjlr::kNothingSelected);

} // namespace

class TestRecordList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }
    void cleanup() { QTRY_VERIFY(!topLevel(QStringLiteral("Frm_AEsj"))); }

    void layout()
    {
        test::ProgramFolderFixture folder;
        insertRows(folder, { QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙") });
        List l(folder);
        QCOMPARE(l.list->windowTitle(), QStringLiteral("数据录入"));
        QVERIFY(l.list->isEmbedded());
        QCOMPARE(l.list->parentWidget(), &l.host);
        QVERIFY(l.dm.Tsyyp.isOpen());
        QCOMPARE(l.grid().titles(),
            (QStringList { "馆代码", "单位代码", "单位名称", "全宗号", "目录号", "案卷号", "序号", "盒号", "件号",
                "机构问题", "责任者", "文号", "文件时间", "题名", "页码", "保管期限", "档案类型", "备注", "拍摄者",
                "拍摄地点", "人物", "档案类型", "DZWJM", "DWMC", "档号" }));
        QCOMPARE(l.grid().datasetModel()->fieldAt(20), QStringLiteral("人名"));
        QCOMPARE(l.grid().datasetModel()->fieldAt(21), QStringLiteral("DALX"));
        QCOMPARE(l.grid().datasetModel()->fieldAt(23), QStringLiteral("DWMC"));
        QStringList footer { "总计", "3" };
        while (footer.size() < 25)
            footer << QString();
        QCOMPARE(l.grid().footerTexts(), footer);
        QCOMPARE(l.grid().model()->index(2, 13).data().toString(), QStringLiteral("丙"));

        const QList<QPushButton *> buttons = l.list->findChildren<QPushButton *>();
        QStringList captions;
        for (QPushButton *b : buttons)
            captions << b->objectName() + QLatin1Char('=') + b->text();
        QCOMPARE(captions,
            (QStringList { "Button1=添加(&A)", "Button2=修改(&E)", "Button3=单个删除(&D)", "Button7=多选删除(&N)",
                "Button6=数据导出(&I)", "Button5=数据导入(&R)", "Button8=目录与盒签(&P)", "Button9=刷新(&F)", "Button4=关闭(&C)" }));

        // Closing hides the list; it stays where it is.
        l.click("Button4");
        QVERIFY(l.list->isHidden());
        QCOMPARE(l.list->parentWidget(), &l.host);
    }

    void emptyTable_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("modify") << "Button2" << kModifyNothing;
        QTest::newRow("single delete") << "Button3" << kDeleteNothing;
        QTest::newRow("multi delete") << "Button7" << kDeleteNothing;
    }
    void emptyTable()
    {
        QFETCH(QString, button);
        QFETCH(QString, message);
        test::ProgramFolderFixture folder;
        List l(folder);
        l.click(button.toLatin1().constData());
        QCOMPARE(l.ui.texts(), QStringList { message });
        QCOMPARE(l.ui.shown[0].caption, Ui::applicationTitle());
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Browse);
        QVERIFY(!topLevel(QStringLiteral("Frm_AEsj")));
    }

    void singleDelete_data()
    {
        QTest::addColumn<QString>("title"); // of the second row; "NULL" for none
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("yes") << "乙 " << true << "确实要删除档案：乙 的信息吗？" << QStringList { "0001", "0003" };
        QTest::newRow("no") << "乙" << false << "确实要删除档案：乙的信息吗？"
                            << QStringList { "0001", "0002", "0003" };
        QTest::newRow("no title") << "NULL" << true << "确实要删除档案：的信息吗？" << QStringList { "0001", "0003" };
    }
    void singleDelete()
    {
        QFETCH(QString, title);
        QFETCH(bool, yes);
        QFETCH(QString, question);
        QFETCH(QStringList, left);
        test::ProgramFolderFixture folder;
        insertRows(folder, { QStringLiteral("甲"), title, QStringLiteral("丙") });
        if (title == QLatin1String("NULL"))
            folder.exec(QStringLiteral("update 文件目录 set TM=null where SXH='0002'"));
        List l(folder);
        l.clickRow(1);
        l.ui.answers << (yes ? Ui::Answer::Yes : Ui::Answer::No);
        l.click("Button3");
        QCOMPARE(l.ui.shown.size(), 1); // the question and nothing after it
        QCOMPARE(l.ui.shown[0].text, question);
        QCOMPARE(l.ui.shown[0].caption, QStringLiteral("提示"));
        QCOMPARE(l.ui.shown[0].buttons, Ui::Buttons::YesNo);
        QCOMPARE(storedSequence(folder), left);
        QCOMPARE(l.grid().footerTexts().at(1), QString::number(left.size()));
    }

    void multiDelete_data()
    {
        QTest::addColumn<QList<int>>("selected"); // rows clicked with Ctrl after clearing
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("left");
        const QStringList all { "0001", "0002", "0003", "0004", "0005", "0006" };
        QTest::newRow("non-adjacent") << QList<int> { 1, 3, 5 } << true << QStringList { "0001", "0003", "0005" };
        QTest::newRow("answered no") << QList<int> { 1, 3, 5 } << false << all;
        QTest::newRow("none selected") << QList<int> {} << true << all;
        QTest::newRow("all but first") << QList<int> { 5, 4, 3, 2, 1 } << true << QStringList { "0001" };
    }
    void multiDelete()
    {
        QFETCH(QList<int>, selected);
        QFETCH(bool, yes);
        QFETCH(QStringList, left);
        test::ProgramFolderFixture folder;
        insertRows(folder, { "一", "二", "三", "四", "五", "六" });
        List l(folder);
        l.grid().clearRowSelection();
        for (int row : selected)
            l.clickRow(row, Qt::ControlModifier);
        l.ui.answers << (yes ? Ui::Answer::Yes : Ui::Answer::No);
        l.click("Button7");
        // With nothing chosen there is nothing to ask about.
        QCOMPARE(l.ui.texts(),
            QStringList { selected.isEmpty()
                    ? kNothingSelected
                    : QStringLiteral("共有：%1条档案记录会被永久删除，确认码？").arg(selected.size()) });
        QCOMPARE(l.ui.shown[0].caption, QStringLiteral("提示"));
        QCOMPARE(l.ui.shown[0].buttons, selected.isEmpty() ? Ui::Buttons::Ok : Ui::Buttons::YesNo);
        QCOMPARE(storedSequence(folder), left);
        QCOMPARE(l.dm.Tsyyp.recordCount(), left.size());
    }

    // Only rows the operator chose count: the current row the list opens on, or one moved
    // to by a plain click or arrow, is no choice.
    void multiDeleteTakesChosenRowsOnly_data()
    {
        QTest::addColumn<QStringList>("steps"); // click:N, shift-click:N, down, shift-down, select-all
        QTest::addColumn<QStringList>("left"); // all six: nothing chosen, nothing asked
        const QStringList all { "0001", "0002", "0003", "0004", "0005", "0006" };
        QTest::newRow("just opened") << QStringList {} << all;
        QTest::newRow("plain click") << QStringList { "click:2" } << all;
        QTest::newRow("plain arrows") << QStringList { "down", "down" } << all;
        QTest::newRow("Shift+Down twice")
            << QStringList { "shift-down", "shift-down" } << QStringList { "0004", "0005", "0006" };
        QTest::newRow("Shift-click") << QStringList { "click:1", "shift-click:3" }
                                     << QStringList { "0001", "0005", "0006" };
        QTest::newRow("Ctrl+A") << QStringList { "select-all" } << QStringList {};
        QTest::newRow("chosen, then a plain click") << QStringList { "select-all", "click:4" } << all;
    }
    void multiDeleteTakesChosenRowsOnly()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, left);
        test::ProgramFolderFixture folder;
        insertRows(folder, { "一", "二", "三", "四", "五", "六" });
        List l(folder);
        l.grid().setFocus();
        for (const QString &step : std::as_const(steps)) {
            const QString name = step.section(QLatin1Char(':'), 0, 0);
            const int row = step.section(QLatin1Char(':'), 1).toInt();
            if (name == QLatin1String("click"))
                l.clickRow(row);
            else if (name == QLatin1String("shift-click"))
                l.clickRow(row, Qt::ShiftModifier);
            else if (name == QLatin1String("down"))
                QTest::keyClick(&l.grid(), Qt::Key_Down);
            else if (name == QLatin1String("shift-down"))
                QTest::keyClick(&l.grid(), Qt::Key_Down, Qt::ShiftModifier);
            else if (name == QLatin1String("select-all"))
                QTest::keyClick(&l.grid(), Qt::Key_A, Qt::ControlModifier);
        }
        const int chosen = 6 - int(left.size());
        l.ui.answers << Ui::Answer::Yes;
        l.click("Button7");
        QCOMPARE(l.ui.texts(),
            QStringList { chosen == 0 ? kNothingSelected
                                      : QStringLiteral("共有：%1条档案记录会被永久删除，确认码？").arg(chosen) });
        QCOMPARE(storedSequence(folder), left);
        QCOMPARE(l.dm.Tsyyp.recordCount(), left.size());
    }

    // A row that cannot go keeps every chosen row: they go together or not at all.
    void multiDeleteIsAllOrNothing()
    {
        test::ProgramFolderFixture folder;
        insertRows(folder, { "一", "二", "三", "四" });
        folder.refuse(QStringLiteral("delete"), QStringLiteral("档案被锁定"), QStringLiteral("SXH"), QStringLiteral("0004"));
        List l(folder);
        l.clickRow(1);
        l.clickRow(3, Qt::ControlModifier);
        l.click("Button7");
        QCOMPARE(l.ui.shown.size(), 2);
        QCOMPARE(l.ui.shown[0].text, QStringLiteral("共有：2条档案记录会被永久删除，确认码？"));
        QVERIFY2(l.ui.shown[1].text.contains(QStringLiteral("档案被锁定")), qPrintable(l.ui.shown[1].text));
        QCOMPARE(storedSequence(folder), (QStringList { "0001", "0002", "0003", "0004" }));
        QCOMPARE(l.dm.Tsyyp.recordCount(), 4);
        QCOMPARE(l.grid().footerTexts().at(1), QStringLiteral("4"));
    }

    void multiDeleteAfterSortTakesTheChosenRows()
    {
        test::ProgramFolderFixture folder;
        insertRows(folder, { "丙", "甲", "戊", "乙", "丁" });
        List l(folder);
        l.clickTitle(13); // 题名 ascending: 丙 丁 甲 戊 乙
        QCOMPARE(l.dm.Tsyyp.sortText(), QStringLiteral("TM ASC"));
        QCOMPARE(l.grid().sortMarker(13), DBGridEh::SortMarker::Down);
        l.clickRow(0);
        l.clickRow(2, Qt::ControlModifier);
        l.click("Button7");
        QCOMPARE(l.ui.lastText(), QStringLiteral("共有：2条档案记录会被永久删除，确认码？"));
        QCOMPARE(storedSequence(folder), (QStringList { "0003", "0004", "0005" })); // 丙 and 甲 went
    }

    void exportWritesDasjAndClearsSelection_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("saved") << true;
        QTest::newRow("cancelled") << false;
    }
    void exportWritesDasjAndClearsSelection()
    {
        QFETCH(bool, accept);
        test::ProgramFolderFixture folder;
        insertRows(folder, { "甲", "乙", "丙" });
        QTemporaryDir target;
        List l(folder);
        l.clickRow(0);
        l.clickRow(2, Qt::ControlModifier);
        QCOMPARE(l.grid().selectedCount(), 2);
        test::FakeUi::SaveAnswer answer;
        answer.accept = accept;
        answer.fileName = target.path() + QStringLiteral("/dasj");
        l.ui.saveAnswers << answer;
        l.click("Button6");
        QCOMPARE(l.ui.saveCalls.size(), 1);
        QCOMPARE(l.ui.saveCalls[0].fileName, QStringLiteral("dasj"));
        QCOMPARE(l.ui.saveCalls[0].filterIndex, 5);
        QCOMPARE(QFileInfo::exists(target.path() + QStringLiteral("/dasj.xls")), accept);
        QCOMPARE(l.grid().selectedCount(), 0);
        // Only a written file is announced.
        QCOMPARE(l.ui.texts(),
            accept ? QStringList { QStringLiteral("已导出到 ")
                + QDir::toNativeSeparators(target.path() + QStringLiteral("/dasj.xls")) }
                   : QStringList());
    }

    void addWithNoRecordsOpensEditor()
    {
        test::ProgramFolderFixture folder;
        List l(folder);
        l.click("Button1");
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_AEsj")));
        auto *editor = qobject_cast<TFrm_AEsj *>(topLevel(QStringLiteral("Frm_AEsj")));
        QVERIFY(editor);
        QVERIFY(!editor->isModal());
        QVERIFY(editor->isAppendMode());
        QVERIFY(editor->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->isVisible());
        QVERIFY(editor->findChild<QPushButton *>(QStringLiteral("BitBtn3"))->isVisible());
        QVERIFY(!editor->findChild<QPushButton *>(QStringLiteral("BitBtn2"))->isVisible());
        QVERIFY(!editor->findChild<QPushButton *>(QStringLiteral("BitBtn4"))->isVisible());
        QVERIFY(editor->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->isVisible());
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(l.dm.Tsyyp.text(QStringLiteral("BGQX")), QStringLiteral("永久"));
        QCOMPARE(l.dm.Tsyyp.text(QStringLiteral("DALX")), QStringLiteral("纸质"));
        QVERIFY(l.ui.shown.isEmpty());

        // A second add while the row is pending adds nothing.
        l.click("Button1");
        QCOMPARE(l.dm.Tsyyp.recordCount(), 1);
        QCOMPARE(topLevel(QStringLiteral("Frm_AEsj")), editor);
        QVERIFY(l.ui.shown.isEmpty());

        // Closing the editor drops the new row.
        QPointer<QWidget> gone = editor;
        editor->close();
        QTRY_VERIFY(!gone);
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(l.dm.Tsyyp.recordCount(), 0);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
    }

    // While the editor holds a new row the list neither loses nor posts it.
    void pendingRowIsKept_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("modify") << "Button2";
        QTest::newRow("single delete") << "Button3";
        QTest::newRow("multi delete") << "Button7";
        QTest::newRow("import") << "Button5";
        QTest::newRow("sort") << "title";
        QTest::newRow("move") << "row";
    }
    void pendingRowIsKept()
    {
        QFETCH(QString, action);
        test::ProgramFolderFixture folder;
        insertRows(folder, { "甲", "乙" });
        List l(folder);
        l.click("Button1");
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_AEsj")));
        l.dm.Tsyyp.setText(QStringLiteral("TM"), QStringLiteral("录入中"));
        l.grid().selectAllRows();
        if (action == QLatin1String("title"))
            l.clickTitle(13);
        else if (action == QLatin1String("row"))
            l.clickRow(0);
        else
            l.click(action.toLatin1().constData());
        QCOMPARE(l.ui.texts(), action == QLatin1String("row") ? QStringList() : QStringList { kPending });
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(l.dm.Tsyyp.currentRow(), 2);
        QCOMPARE(l.dm.Tsyyp.text(QStringLiteral("TM")), QStringLiteral("录入中"));
        QCOMPARE(l.grid().currentIndex().row(), 2);
        QCOMPARE(l.grid().sortMarker(13), DBGridEh::SortMarker::None);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The export writes the saved records and leaves the new row being entered as it is.
    void exportWhileARowIsPending()
    {
        test::ProgramFolderFixture folder;
        insertRows(folder, { "甲", "乙" });
        QTemporaryDir target;
        List l(folder);
        l.click("Button1");
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_AEsj")));
        l.dm.Tsyyp.setText(QStringLiteral("TM"), QStringLiteral("录入中"));
        l.ui.saveAnswers << test::FakeUi::SaveAnswer { true, target.path() + QStringLiteral("/dasj.csv"), 2 };
        l.click("Button6");
        QCOMPARE(l.ui.texts(),
            QStringList {
                QStringLiteral("已导出到 ") + QDir::toNativeSeparators(target.path() + QStringLiteral("/dasj.csv")) });
        QFile written(target.path() + QStringLiteral("/dasj.csv"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(written.readAll());
        QVERIFY2(text.contains(QStringLiteral("甲")) && text.contains(QStringLiteral("乙")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("录入中")), qPrintable(text));
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(l.dm.Tsyyp.currentRow(), 2);
        QCOMPARE(l.dm.Tsyyp.text(QStringLiteral("TM")), QStringLiteral("录入中"));
        QCOMPARE(l.grid().currentIndex().row(), 2);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
    }

    // The archival code is the list's last column, worked out from each record's numbers,
    // read-only, not sorted by a title click, and the last column of an export.
    void archivalCodeColumn()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (sxh,qzh,gdnd,bgqx,jgwt,hh,jh,tm) "
                                   "values ('0001','0012','2024','30年','办公室','1','9','甲')"));
        folder.exec(QStringLiteral("insert into 文件目录 (sxh,qzh,mlh,ajh,tm) values ('0002','0012','3',12,'乙')"));
        IniFile::settingsOf(folder.path())
            .write(QStringLiteral("dh"), QStringLiteral("jgwt"), QStringLiteral("办公室=BGS"));
        List l(folder);
        QAbstractItemModel *model = l.grid().model();
        const int last = model->columnCount() - 1;
        QCOMPARE(l.grid().visibleColumns().last(), last);
        QCOMPARE(model->headerData(last, Qt::Horizontal).toString(), QStringLiteral("档号"));
        QCOMPARE(model->index(0, last).data().toString(), QStringLiteral("0012-WS·2024-D30-BGS-0009"));
        // Numbers without their leading zeros: 顺序号 "0002" and "2" are one code.
        QCOMPARE(model->index(1, last).data().toString(), QStringLiteral("0012-3-12-2"));
        // Wide enough for the codes shown.
        QVERIFY(l.grid().columnWidth(last)
            > l.grid().fontMetrics().horizontalAdvance(QStringLiteral("0012-WS·2024-D30-BGS-0009")));
        QVERIFY(!(model->flags(model->index(0, last)) & Qt::ItemIsEditable));
        QCOMPARE(l.grid().footerText(last), QString());

        l.clickTitle(last);
        QCOMPARE(l.grid().sortMarker(last), DBGridEh::SortMarker::None);
        QCOMPARE(l.dm.Tsyyp.sortText(), QString());

        // A saved change shows in the column at once.
        l.dm.Tsyyp.moveTo(0);
        l.dm.Tsyyp.edit();
        l.dm.Tsyyp.setText(QStringLiteral("JH"), QStringLiteral("10"));
        l.dm.Tsyyp.post();
        QCOMPARE(model->index(0, last).data().toString(), QStringLiteral("0012-WS·2024-D30-BGS-0010"));

        QTemporaryDir target;
        l.ui.saveAnswers << test::FakeUi::SaveAnswer { true, target.path() + QStringLiteral("/dasj.csv"), 2 };
        l.click("Button6");
        QFile written(target.path() + QStringLiteral("/dasj.csv"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(written.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 3, qPrintable(lines.join(QLatin1Char('|'))));
        QVERIFY2(lines.at(0).trimmed().endsWith(QStringLiteral("档号")), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).trimmed().endsWith(QStringLiteral("0012-WS·2024-D30-BGS-0010")), qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).trimmed().endsWith(QStringLiteral("0012-3-12-2")), qPrintable(lines.at(2)));
    }

    void savedRowShowsAtOnce()
    {
        test::ProgramFolderFixture folder;
        insertRows(folder, { "甲" });
        List l(folder);
        Dataset &records = l.dm.Tsyyp;
        records.append();
        records.setText(QStringLiteral("TM"), QStringLiteral("新档案"));
        records.setText(QStringLiteral("SXH"), QStringLiteral("0002"));
        QCOMPARE(l.grid().model()->index(1, 13).data().toString(), QStringLiteral("新档案"));
        records.post();
        QCOMPARE(l.grid().model()->rowCount(), 2);
        QCOMPARE(l.grid().footerTexts().at(1), QStringLiteral("2"));
        QCOMPARE(l.grid().currentIndex().row(), 1);
        records.edit();
        records.setText(QStringLiteral("TM"), QStringLiteral("改过"));
        records.post();
        QCOMPARE(l.grid().model()->index(1, 13).data().toString(), QStringLiteral("改过"));
        QCOMPARE(folder.scalar(QStringLiteral("select TM from 文件目录 where SXH='0002'")).toString(),
            QStringLiteral("改过"));
    }

    void modifyOpensModalEditor_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("button") << false;
        QTest::newRow("double click") << true;
    }
    void modifyOpensModalEditor()
    {
        QFETCH(bool, doubleClick);
        test::ProgramFolderFixture folder;
        insertRows(folder, { "甲", "乙" });
        List l(folder);
        l.clickRow(1);
        bool seen = false;
        QTimer::singleShot(0, &l.host, [&] {
            auto *editor = qobject_cast<TFrm_AEsj *>(QApplication::activeModalWidget());
            if (!editor)
                return;
            seen = editor->objectName() == QLatin1String("Frm_AEsj") && !editor->isAppendMode()
                && editor->findChild<QPushButton *>(QStringLiteral("BitBtn2"))->isVisible()
                && editor->findChild<QPushButton *>(QStringLiteral("BitBtn4"))->isVisible()
                && !editor->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->isVisible()
                && !editor->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->isVisible()
                && l.dm.Tsyyp.state() == Dataset::State::Edit
                && l.dm.Tsyyp.text(QStringLiteral("TM")) == QStringLiteral("乙");
            QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("BitBtn4")), Qt::LeftButton);
        });
        if (doubleClick) {
            const QPoint at = l.grid().visualRect(l.grid().model()->index(1, 0)).center();
            QTest::mouseDClick(l.grid().viewport(), Qt::LeftButton, {}, at);
        } else {
            l.click("Button2");
        }
        QVERIFY(seen);
        QCOMPARE(l.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(l.dm.Tsyyp.currentRow(), 1);
    }

    void mainWindowEmbedsAFreshList()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Program program(folder.path(), ui);
        TForm1 *main = program.mainWindow();
        main->show();
        QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
        QTest::mouseClick(
            topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QTRY_VERIFY(program.session().LoggedIn);

        QTest::mouseClick(main->findChild<QToolButton *>(QStringLiteral("bsSkinSpeedButton1")), Qt::LeftButton);
        QPointer<Tmain> first = main->embeddedWindow();
        QVERIFY(qobject_cast<TFrm_sjlr *>(first.data()));
        QCOMPARE(first->parentWidget(), main->hostPanel());
        QVERIFY(first->isVisible());

        // The menu entry replaces it with a new one.
        QAction *entry = main->findChild<QAction *>(QStringLiteral("N7891"));
        QVERIFY(entry && entry->isEnabled());
        entry->trigger();
        QTRY_VERIFY(!first);
        QVERIFY(qobject_cast<TFrm_sjlr *>(main->embeddedWindow()));
    }
    // In the main window, which keeps its own width whatever the screen, every button of
    // the list shows its whole caption, in table order with 刷新 just before 关闭.
    void buttonCaptionsShowWhole()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Skin::apply(*qApp);
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        Program program(folder.path(), ui);
        TForm1 *main = program.mainWindow();
        main->show();
        QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
        QTest::mouseClick(
            topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QTRY_VERIFY(program.session().LoggedIn);
        QTest::mouseClick(main->findChild<QToolButton *>(QStringLiteral("bsSkinSpeedButton1")), Qt::LeftButton);
        Tmain *list = main->embeddedWindow();
        QVERIFY(qobject_cast<TFrm_sjlr *>(list));
        QVERIFY(QTest::qWaitForWindowExposed(main));

        QList<QPushButton *> buttons = list->findChildren<QPushButton *>();
        std::sort(buttons.begin(), buttons.end(), [](QPushButton *a, QPushButton *b) { return a->x() < b->x(); });
        QStringList captions;
        for (QPushButton *button : buttons) {
            captions << button->text();
            QString text = button->text();
            text.remove(QLatin1Char('&'));
            const QString what = button->text() + QStringLiteral(": ") + QString::number(button->width());
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(what));
            QVERIFY2(button->width() > button->fontMetrics().horizontalAdvance(text), qPrintable(what));
            QVERIFY2(button->geometry().right() < list->width(), qPrintable(what));
        }
        QCOMPARE(captions,
            (QStringList { QStringLiteral("添加(&A)"), QStringLiteral("修改(&E)"), QStringLiteral("单个删除(&D)"),
                QStringLiteral("多选删除(&N)"), QStringLiteral("数据导出(&I)"), QStringLiteral("数据导入(&R)"),
                QStringLiteral("目录与盒签(&P)"), QStringLiteral("刷新(&F)"), QStringLiteral("关闭(&C)") }));
    }
};

QTEST_MAIN(TestRecordList)
#include "tst_recordlist.moc"
