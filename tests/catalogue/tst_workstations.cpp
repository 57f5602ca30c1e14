#include "DBGridEh.h"
#include "GridWriters.h"
#include "PgCluster.h"
#include "Program.h"
#include "Session.h"
#include "TFrm_cxly.h"
#include "TFrm_zdsjdr.h"
#include "TDataModule5.h"
#include "TFrm_AEsj.h"
#include "TFrm_sjlr.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

using test::topLevel;

// This workstation's record list, embedded in a panel of its own, on a connection of its
// own; the fixture's connection is the other workstation.
struct Desk {
    explicit Desk(test::ProgramFolderFixture &f)
        : folder(f)
    {
        host.resize(832, 420);
        host.show();
        list = new TFrm_sjlr(dm, ui, &host);
        list->show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
    }
    ~Desk() { delete editor.data(); }

    void click(const char *button)
    {
        QTest::mouseClick(list->findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    DBGridEh &grid() const { return *list->grid(); }
    QString cell(int row, int column = 13) const { return grid().model()->index(row, column).data().toString(); }
    int rows() const { return grid().model()->rowCount(); }

    // The editor on the current row, as 修改 opens it (without its modal loop).
    void openEditor()
    {
        dm.Tsyyp.edit();
        editor = new TFrm_AEsj(dm, ui);
        editor->setEditMode();
        editor->show();
        QVERIFY(QTest::qWaitForWindowActive(editor));
    }
    // The editor of a new row, as 添加 opens it.
    void openAppending()
    {
        click("Button1");
        editor = qobject_cast<TFrm_AEsj *>(topLevel(QStringLiteral("Frm_AEsj")));
        QVERIFY(editor);
        QVERIFY(QTest::qWaitForWindowActive(editor));
    }
    QLineEdit *box(const char *name) const { return editor->findChild<QLineEdit *>(QString::fromLatin1(name)); }
    void fill(const char *name, const QString &value)
    {
        QLineEdit *edit = box(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        test::type(edit, value);
    }
    // A record the checks take, of that title.
    void fillRecord(const QString &title)
    {
        fill("DBEdit10", QStringLiteral("A1"));
        fill("DBEdit12", QStringLiteral("12"));
        fill("DBEdit13", QStringLiteral("3"));
        fill("DBEdit7", QStringLiteral("张三"));
        fill("DBEdit6", title);
        fill("DBEdit15", QStringLiteral("5"));
    }
    void press(const char *button)
    {
        QTest::mouseClick(editor->findChild<QAbstractButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    TDataModule5 dm { folder.path(), ui };
    QWidget host;
    TFrm_sjlr *list = nullptr;
    QPointer<TFrm_AEsj> editor;
};

void insertTitles(test::ProgramFolderFixture &folder, const QStringList &titles)
{
    folder.exec(QStringLiteral("update ljserver set gdm='4451', dwdm='DW1', qzh='0012', dwmc='市档案馆'"));
    for (int i = 0; i < titles.size(); ++i)
        folder.exec(QStringLiteral("insert into 文件目录 (GDM, DWDM, QZH, MLH, AJH, BGQX, YH, SXH, TM) "
                                   "values ('4451', 'DW1', '0012', 'A1', '12', '永久', '5', '%1', '%2')")
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .arg(titles[i]));
}

// Starts the tests' server again (on its port); the fixture's own connection, the other
// workstation, connects again too.
std::function<void()> serverBack(Desk &desk)
{
    return [&desk] {
        QVERIFY(test::cluster().start());
        desk.folder.db().reconnect();
    };
}

// A worksheet of `rows` rows titled 导入的文件, their 案卷号 counted from 0, opened in the
// import window and mapped.
void loadSheet(TFrm_zdsjdr &window, test::FakeUi &ui, const QString &path, int rows)
{
    GridTable table;
    table.titles = QStringList { QStringLiteral("题名"), QStringLiteral("案卷号") };
    table.rowCount = rows;
    table.numeric = { false, true };
    table.cell = [](int row, int column) { return column == 0 ? QStringLiteral("导入的文件") : QString::number(row); };
    writeGridFile(ExportFormat::Xls, table, path);
    ui.paths << path;
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label15"))->text(), QStringLiteral("共有%1条记录").arg(rows));
    ImportMapping mapping;
    for (const ImportColumn &column : importColumns()) {
        const QString field = QString::fromUtf8(column.field);
        mapping.push_back({ field == QLatin1String("TM") || field == QLatin1String("AJH"),
            field == QLatin1String("TM") ? QStringLiteral("1") : QStringLiteral("2") });
    }
    window.setMapping(mapping);
}

const QString kSaveLost = QStringLiteral("与数据库服务器的连接断开了，本条记录没有保存。正在重新连接……");
const QString kLost = QStringLiteral("与数据库服务器的连接断开了。正在重新连接……");

} // namespace

class TestWorkstations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }
    void cleanup() { QTRY_VERIFY(!topLevel(QStringLiteral("Frm_AEsj"))); }
    // A test that failed while the server was stopped leaves it so.
    void init()
    {
        if (test::onServer())
            QVERIFY(test::cluster().start());
    }

    // Reopened (关闭 and 档案录入 again), 刷新 or F5: the rows as the other workstation left them.
    void readAgainShowsOtherWorkstationsRows_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("reopened") << "reopen";
        QTest::newRow("refresh button") << "button";
        QTest::newRow("F5") << "F5";
    }
    void readAgainShowsOtherWorkstationsRows()
    {
        QFETCH(QString, how);
        test::ProgramFolderFixture folder;
        insertTitles(folder, { QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙") });
        Desk b(folder);
        QCOMPARE(b.rows(), 3);
        b.grid().setFocus();
        QTest::keyClick(&b.grid(), Qt::Key_Down); // on 乙, which stays current
        QCOMPARE(b.dm.Tsyyp.currentRow(), 1);

        folder.exec(QStringLiteral("insert into 文件目录 (SXH, TM) values ('0000','新')"));
        folder.exec(QStringLiteral("update 文件目录 set TM='乙改' where SXH='0002'"));
        QCOMPARE(b.rows(), 3);

        if (how == QLatin1String("reopen")) {
            b.click("Button4");
            QVERIFY(b.list->isHidden());
            b.list->show();
        } else if (how == QLatin1String("button")) {
            b.click("Button9");
        } else {
            QTest::keyClick(&b.grid(), Qt::Key_F5);
        }
        QCOMPARE(b.ui.texts(), QStringList());
        QCOMPARE(b.rows(), 4);
        QCOMPARE(b.cell(0), QStringLiteral("新"));
        QCOMPARE(b.cell(2), QStringLiteral("乙改"));
        QCOMPARE(b.dm.Tsyyp.text(QStringLiteral("TM")), QStringLiteral("乙改"));
        QCOMPARE(b.grid().currentIndex().row(), 2);
        QCOMPARE(b.grid().footerTexts().at(1), QStringLiteral("4"));
    }

    // A save refused for a row the other workstation changed is made once the list is
    // reopened, as the message advises.
    void refusedSaveWorksAfterReopening()
    {
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        insertTitles(folder, { QStringLiteral("甲"), QStringLiteral("乙") });
        Desk b(folder);
        QTest::mouseClick(b.grid().viewport(), Qt::LeftButton, {},
            b.grid().visualRect(b.grid().model()->index(1, 0)).center());
        folder.exec(QStringLiteral("update 文件目录 set ZRZ='别处' where SXH='0002'"));

        b.openEditor();
        b.fill("DBEdit6", QStringLiteral("我的题名"));
        b.press("BitBtn2");
        QCOMPARE(b.ui.lastText(), QStringLiteral("数据修改失败！\n该记录已被其他工作站修改，未保存。请重新打开列表后再修改。"));
        b.ui.answers << Ui::Answer::Yes; // leaving drops the typed record
        b.press("BitBtn4");
        QCOMPARE(b.ui.shown.last().buttons, Ui::Buttons::YesNo);
        QCOMPARE(b.ui.lastText(), QStringLiteral("本条记录没有保存，返回后输入的内容将丢失。确实要返回吗？"));
        QTRY_VERIFY(!b.editor);

        b.click("Button4");
        b.list->show();
        QCOMPARE(b.cell(1, 10), QStringLiteral("别处"));
        b.openEditor();
        b.fill("DBEdit6", QStringLiteral("我的题名"));
        b.press("BitBtn2");
        QCOMPARE(b.ui.lastText(), QStringLiteral("数据修改成功！"));
        QCOMPARE(folder.scalar(QStringLiteral("select TM from 文件目录 where ZRZ='别处'")).toString(),
            QStringLiteral("我的题名"));
        b.press("BitBtn4");
    }

    // 返回 after a refused save asks before the typed record goes; 否 keeps the editor.
    void leavingAfterFailedSaveAsks()
    {
        test::ProgramFolderFixture folder;
        insertTitles(folder, {});
        folder.refuse(QStringLiteral("insert"), QStringLiteral("不许添加"));
        Desk b(folder);
        b.openAppending();
        b.fillRecord(QStringLiteral("留着"));
        b.press("BitBtn1");
        QCOMPARE(b.ui.lastText(), QStringLiteral("数据添加失败"));
        b.ui.answers << Ui::Answer::No;
        b.press("BitBtn3");
        QCOMPARE(b.ui.lastText(), QStringLiteral("本条记录没有保存，返回后输入的内容将丢失。确实要返回吗？"));
        QVERIFY(b.editor && b.editor->isVisible());
        QCOMPARE(b.box("DBEdit6")->text(), QStringLiteral("留着"));
        b.ui.answers << Ui::Answer::Yes;
        b.press("BitBtn3");
        QTRY_VERIFY(!b.editor);
        QCOMPARE(b.dm.Tsyyp.state(), Dataset::State::Browse);
    }

    // The server stopped under a typed new record and started again at the reconnection:
    // the record is said not saved, kept, and the repeated save stores it once.
    void saveAcrossServerRestart_data()
    {
        QTest::addColumn<bool>("retryFirst"); // the server comes back only after a 重试
        QTest::newRow("back at once") << false;
        QTest::newRow("after a retry") << true;
    }
    void saveAcrossServerRestart()
    {
        QFETCH(bool, retryFirst);
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        insertTitles(folder, { QStringLiteral("甲") });
        Desk b(folder);
        b.openAppending();
        b.fillRecord(QStringLiteral("断线时的题名"));
        QVERIFY(test::cluster().stop());
        if (retryFirst) {
            b.ui.answers << Ui::Answer::Ok; // 重试, once the server is back
            b.ui.onRetry = serverBack(b);
        } else {
            b.ui.onReconnect = serverBack(b);
        }
        b.press("BitBtn1");
        b.ui.onReconnect = nullptr;
        b.ui.onRetry = nullptr;
        QCOMPARE(b.ui.reconnectFailures.size(), retryFirst ? 1 : 0);
        QCOMPARE(b.ui.texts(),
            (QStringList { kSaveLost, QStringLiteral("已重新连接到数据库服务器，本条记录没有保存，请再保存一次。") }));
        QVERIFY(b.editor && b.editor->isVisible());
        QCOMPARE(b.box("DBEdit6")->text(), QStringLiteral("断线时的题名"));
        QCOMPARE(b.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);

        b.press("BitBtn1");
        QCOMPARE(b.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("TM='断线时的题名'")), 1);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        b.press("BitBtn3");
    }

    // 取消 at the reconnection leaves the typed values; the save works once the server is back.
    void cancelledReconnectionKeepsTypedValues()
    {
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        insertTitles(folder, { QStringLiteral("甲") });
        Desk b(folder);
        b.dm.Tsyyp.first();
        b.openEditor();
        b.fill("DBEdit6", QStringLiteral("改过的题名"));
        QVERIFY(test::cluster().stop());
        b.press("BitBtn2"); // no answer queued: 取消
        QCOMPARE(b.ui.texts(), QStringList { kSaveLost });
        QCOMPARE(b.ui.reconnectFailures.size(), 1);
        QCOMPARE(b.box("DBEdit6")->text(), QStringLiteral("改过的题名"));
        QCOMPARE(b.dm.Tsyyp.state(), Dataset::State::Edit);

        serverBack(b)();
        b.press("BitBtn2");
        QCOMPARE(b.ui.texts().mid(1), QStringList { QStringLiteral("数据修改成功！") }); // connected again first
        QCOMPARE(folder.scalar(QStringLiteral("select TM from 文件目录")).toString(), QStringLiteral("改过的题名"));
        b.press("BitBtn4");
    }

    // A save whose answer the lost connection swallowed is looked for on the server once it
    // is back, by the key the save took: found, it is told saved and not stored twice; not
    // found, it is told not saved.
    void lostAnswerCheckedOnTheServer_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("stored") << true;
        QTest::newRow("not stored") << false;
    }
    void lostAnswerCheckedOnTheServer()
    {
        QFETCH(bool, stored);
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        insertTitles(folder, {});
        Desk b(folder);
        b.openAppending();
        b.fillRecord(QStringLiteral("答复丢了"));
        // The session ends in the middle of the insert.
        folder.exec(QStringLiteral("create function cut_session() returns trigger language plpgsql as $$ "
                                   "begin perform pg_terminate_backend(pg_backend_pid()); perform pg_sleep(5); "
                                   "return new; end $$"));
        folder.exec(QStringLiteral("create trigger cut before insert on 文件目录 for each row execute function cut_session()"));
        b.ui.onReconnect = [&] {
            folder.exec(QStringLiteral("drop trigger cut on 文件目录"));
            // What a commit whose answer got lost leaves: the row under the key the save took.
            if (stored)
                folder.exec(QStringLiteral(
                    "insert into 文件目录 (str_m_date, GDM, DWDM, QZH, DWMC, MLH, AJH, SXH, ZRZ, TM, YH, BGQX, DALX, MJ, KZBS) "
                    "select pg_sequence_last_value(pg_get_serial_sequence('文件目录', 'str_m_date')::regclass), "
                    "GDM, DWDM, QZH, DWMC, 'A1', '12', '3', '张三', '答复丢了', '5', BGQX, DALX, MJ, KZBS from "
                    "(select '4451' GDM, 'DW1' DWDM, '0012' QZH, '市档案馆' DWMC, '永久' BGQX, null DALX, null MJ, "
                    "null KZBS) u"));
        };
        b.press("BitBtn1");
        b.ui.onReconnect = nullptr;
        QCOMPARE(b.ui.texts().first(), kSaveLost);
        QCOMPARE(b.ui.texts().mid(1),
            stored ? (QStringList { QStringLiteral("已重新连接到数据库服务器。连接断开前本条记录已经保存。"),
                         QStringLiteral("数据成功添加！") })
                   : (QStringList { QStringLiteral("已重新连接到数据库服务器，本条记录没有保存，请再保存一次。") }));
        QCOMPARE(b.dm.Tsyyp.state(), Dataset::State::Insert); // the next row, or the same one again
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("TM='答复丢了'")), stored ? 1 : 0);
        if (!stored) {
            b.press("BitBtn1");
            QCOMPARE(b.ui.lastText(), QStringLiteral("数据成功添加！"));
            QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("TM='答复丢了'")), 1);
        }
        b.press("BitBtn3");
    }

    // Rows the grid asks for while the server is away show empty, the cause is told and the
    // connection made again; nothing ends the program.
    void gridReadsOnLostConnection()
    {
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        folder.db().server().executeNative(QStringLiteral(
            "insert into 文件目录 (sxh, tm) select lpad(g::text, 4, '0'), '题名' || g from generate_series(1, 3000) g"));
        Desk b(folder);
        QCOMPARE(b.rows(), 3000);
        b.grid().setFocus();
        QVERIFY(test::cluster().stop());
        b.ui.onReconnect = serverBack(b);
        QTest::keyClick(&b.grid(), Qt::Key_End, Qt::ControlModifier);
        QTRY_COMPARE(b.ui.texts(), QStringList { kLost });
        QCOMPARE(b.dm.Tsyyp.currentRow(), 2999);
        QTRY_COMPARE(b.cell(2999), QStringLiteral("题名3000"));
        b.ui.onReconnect = nullptr;
        // The list works on: a 刷新 reads the rows again.
        b.click("Button9");
        QCOMPARE(b.rows(), 3000);
        QCOMPARE(b.ui.texts(), QStringList { kLost });
    }

    // 查询全部 after the server came back on a connection that did not: connected again, the
    // search runs; never the closed-result error.
    void queryAfterServerRestart_data()
    {
        QTest::addColumn<bool>("serverBackFirst");
        QTest::newRow("server back") << true;
        QTest::newRow("server still away") << false;
    }
    void queryAfterServerRestart()
    {
        QFETCH(bool, serverBackFirst);
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        insertTitles(folder, { QStringLiteral("甲"), QStringLiteral("乙") });
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrm_cxly window(dm, ui, nullptr, nullptr);
        window.show();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
        QCOMPARE(dm.Tdaly.recordCount(), 2);
        folder.exec(QStringLiteral("insert into 文件目录 (SXH, TM) values ('0003','丙')"));

        QVERIFY(test::cluster().stop());
        if (serverBackFirst)
            QVERIFY(test::cluster().start());
        else
            ui.onReconnect = [&] { QVERIFY(test::cluster().start()); };
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
        QCOMPARE(ui.texts(), serverBackFirst ? QStringList() : QStringList { kLost });
        QCOMPARE(dm.Tdaly.recordCount(), 3); // read again, with the other workstation's row
        folder.db().reconnect();
    }

    // An import the server stop cuts stores nothing; one started after the server came back
    // connects again first and stores every row once.
    void importAcrossServerRestart()
    {
        DAGL_SERVER_ONLY();
        QTemporaryDir dir;
        test::ProgramFolderFixture folder;
        insertTitles(folder, {});
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrm_zdsjdr window(dm, ui);
        window.show();
        loadSheet(window, ui, dir.filePath(QStringLiteral("many.xls")), 3000);

        // The server stops while the run lets the window repaint.
        QTimer::singleShot(0, &window, [] { QVERIFY(test::cluster().stop()); });
        window.Button3Click();
        const QString memo = window.findChild<QPlainTextEdit *>(QStringLiteral("Memo1"))->toPlainText();
        QVERIFY2(memo.endsWith(QStringLiteral("导入失败，没有保存任何记录。")), qPrintable(memo));
        QVERIFY(window.isVisible());
        QVERIFY(test::cluster().start());
        folder.db().reconnect();
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        ui.shown.clear();
        window.Button3Click();
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("TM='导入的文件'")), 3000);
        QVERIFY(!ui.texts().contains(QStringLiteral("与数据库服务器的连接断开了。")));
    }

    // An import whose commit answer the lost connection swallowed is looked for on the
    // server once it is back: found, it is told imported with its summary and stored once;
    // not found, the operator is told to import again, and that run stores it once.
    void importAnswerLost_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("stored") << true;
        QTest::newRow("not stored") << false;
    }
    void importAnswerLost()
    {
        QFETCH(bool, stored);
        DAGL_SERVER_ONLY();
        QTemporaryDir dir;
        test::ProgramFolderFixture folder;
        insertTitles(folder, {});
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrm_zdsjdr window(dm, ui);
        window.show();
        loadSheet(window, ui, dir.filePath(QStringLiteral("few.xls")), 3);
        // The session ends while the commit checks a deferred constraint.
        folder.exec(QStringLiteral("create function cut_session() returns trigger language plpgsql as $$ "
                                   "begin perform pg_terminate_backend(pg_backend_pid()); perform pg_sleep(5); "
                                   "return null; end $$"));
        folder.exec(
            QStringLiteral("create constraint trigger cut after insert on 文件目录 deferrable initially deferred "
                           "for each row execute function cut_session()"));
        ui.onReconnect = [&] {
            folder.exec(QStringLiteral("drop trigger cut on 文件目录"));
            // What a commit whose answer got lost leaves: the rows under the keys the run took.
            if (stored)
                folder.exec(QStringLiteral(
                    "insert into 文件目录 (str_m_date, TM, AJH) select k, '导入的文件', k - l + 2 from "
                    "(select pg_sequence_last_value(pg_get_serial_sequence('文件目录', 'str_m_date')::regclass) l) s, "
                    "generate_series(l - 2, l) k"));
        };
        window.Button3Click();
        ui.onReconnect = nullptr;
        const QString memo = window.findChild<QPlainTextEdit *>(QStringLiteral("Memo1"))->toPlainText();
        QCOMPARE(ui.texts().first(), kLost);
        if (stored) {
            const QString imported = QStringLiteral(
                "已重新连接到数据库服务器。连接断开前这批数据已经全部导入。\n共导入3条记录，0条记录导入失败。");
            QCOMPARE(ui.texts().mid(1), QStringList { imported });
            QCOMPARE(memo, imported);
        } else {
            const QString again = QStringLiteral(
                "已重新连接到数据库服务器。连接断开前这批数据没有导入，没有保存任何记录，请再导入一次。");
            QCOMPARE(ui.texts().mid(1), QStringList { again });
            QCOMPARE(memo, again);
            QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
            window.Button3Click();
        }
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("TM='导入的文件'")), 3);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("AJH in (0, 1, 2)")), 3);
        QCOMPARE(dm.Tsyyp.recordCount(), 3); // the list read again
    }

    // 退出系统 after the server was restarted: the exit is recorded on a new connection, or,
    // with the server away and the reconnection given up, the operator is told it is not.
    void exitRecordAfterServerRestart_data()
    {
        QTest::addColumn<bool>("serverBack");
        QTest::newRow("server back") << true;
        QTest::newRow("server away") << false;
    }
    void exitRecordAfterServerRestart()
    {
        QFETCH(bool, serverBack);
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Program program { folder.path(), ui };
        program.mainWindow()->show();
        QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
        QTest::mouseClick(topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")),
            Qt::LeftButton);
        QTRY_VERIFY(!topLevel(QStringLiteral("FormLogin")));
        QVERIFY(program.session().LoggedIn);

        QVERIFY(test::cluster().stop());
        if (serverBack)
            QVERIFY(test::cluster().start());
        ui.shown.clear();
        QTest::mouseClick(program.mainWindow()->findChild<QToolButton *>(QStringLiteral("bsSkinSpeedButton7")),
            Qt::LeftButton);
        QVERIFY(!program.mainWindow()->isVisible());
        if (serverBack) {
            QCOMPARE(ui.texts(), QStringList { QStringLiteral("是否关闭本系统？") });
        } else {
            QCOMPARE(ui.texts().mid(1),
                (QStringList { kLost, QStringLiteral("与数据库服务器的连接断开了，这次退出没有记入日志。") }));
            QVERIFY(test::cluster().start());
        }
        folder.db().reconnect();
        QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr='操作员：管理员退出系统'")), serverBack ? 1 : 0);
    }
};

QTEST_MAIN(TestWorkstations)
#include "tst_workstations.moc"
