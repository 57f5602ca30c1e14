#include "DataControls.h"
#include "IniFile.h"
#include "RecordCheck.h"
#include "TDataModule5.h"
#include "TFrm_AEsj.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace dagl;

namespace {

const QString kUnit = QStringLiteral("update ljserver set gdm='4451', dwdm='DW1', qzh='0012', dwmc='市档案馆'");

// The record list's part, as far as the editor needs it: the shared row and the window.
struct Editor {
    explicit Editor(test::ProgramFolderFixture &f)
        : folder(f)
        , dm(f.path(), ui)
    {
    }
    ~Editor() { delete window.data(); }

    void openAppend()
    {
        dm.Tsyyp.open();
        dm.Tsyyp.append();
        window = new TFrm_AEsj(dm, ui);
        window->setAppendMode();
        show();
    }
    void openEdit(int row)
    {
        dm.Tsyyp.open();
        dm.Tsyyp.moveTo(row);
        dm.Tsyyp.edit();
        window = new TFrm_AEsj(dm, ui);
        window->setEditMode();
        show();
    }
    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    QWidget *field(const char *name) const { return window->findChild<QWidget *>(QString::fromUtf8(name)); }
    QString text(const char *name) const
    {
        QWidget *w = field(name);
        if (auto *combo = qobject_cast<QComboBox *>(w))
            return combo->currentText();
        return static_cast<QLineEdit *>(w)->text();
    }
    void fill(const char *name, const QString &value)
    {
        auto *edit = static_cast<QLineEdit *>(field(name));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        test::type(edit, value);
    }
    void click(const char *name)
    {
        QTest::mouseClick(window->findChild<QAbstractButton *>(QString::fromUtf8(name)), Qt::LeftButton);
    }
    QString row(const char *column) const { return dm.Tsyyp.text(QString::fromUtf8(column)); }
    QString stored(const char *column, const QString &where = QStringLiteral("1=1"))
    {
        return folder.scalar(QStringLiteral("select %1 from 文件目录 where %2").arg(QString::fromUtf8(column), where))
            .toString();
    }
    IniFile settings() const { return IniFile::settingsOf(folder.path()); }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    TDataModule5 dm;
    QPointer<TFrm_AEsj> window;
};

// Presses a button by its shortcut (Alt and its underlined letter) where the focus is; the
// button clicks once it has shown itself pressed.
void pressShortcut(QWidget *window, const char *button, Qt::Key letter)
{
    QSignalSpy clicked(window->findChild<QAbstractButton *>(QString::fromLatin1(button)), &QAbstractButton::clicked);
    QTest::keyClick(QApplication::focusWidget(), letter, Qt::AltModifier);
    QTRY_COMPARE(clicked.count(), 1);
}

// The questions shown, as the operator read them.
QStringList questions(const test::FakeUi &ui)
{
    QStringList texts;
    for (const auto &shown : ui.shown) {
        if (shown.buttons == Ui::Buttons::YesNo || shown.buttons == Ui::Buttons::YesNoDefaultNo)
            texts << shown.text;
    }
    return texts;
}

const QString kHeld = QStringLiteral("关于年度工作计划的通知");

// The item-standard record the duplicate tests type: group 0012/2024/永久/办公室.
void fillItemRecord(Editor &e, const QString &jh)
{
    e.fill("DBEdit3", QStringLiteral("2"));
    e.fill("DBEdit4", jh);
    e.fill("DBEdit5", QStringLiteral("2024"));
    e.fill("DBEdit9", QStringLiteral("办公室"));
    e.fill("DBEdit6", QStringLiteral("第二份文件"));
    e.fill("DBEdit15", QStringLiteral("3"));
}

// A complete record under the volume standard.
void fillVolumeRecord(Editor &e)
{
    e.fill("DBEdit10", QStringLiteral("A1"));
    e.fill("DBEdit12", QStringLiteral("12"));
    e.fill("DBEdit13", QStringLiteral("3"));
    e.fill("DBEdit7", QStringLiteral("张三"));
    e.fill("DBEdit6", QStringLiteral(" 会议纪要 "));
    e.fill("DBEdit15", QStringLiteral("5"));
    e.fill("DBEdit1", QStringLiteral("挂接\\1"));
}

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    // A series: fill, save, fill, save, with the carry-over; return drops the last new row.
    void saveSeries_data()
    {
        QTest::addColumn<bool>("copy");
        QTest::newRow("copy box checked") << true;
        QTest::newRow("copy box unchecked") << false;
    }
    void saveSeries()
    {
        QFETCH(bool, copy);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.settings().write(
            QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), copy ? QStringLiteral("1") : QStringLiteral("0"));
        e.openAppend();
        auto *copyBox = e.window->findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
        QCOMPARE(copyBox->isChecked(), copy);
        QVERIFY(copyBox->isVisible());
        QVERIFY(!e.field("BitBtn2")->isVisible() && !e.field("BitBtn4")->isVisible());
        QVERIFY(e.field("BitBtn1")->isVisible() && e.field("BitBtn3")->isVisible());
        QCOMPARE(e.window->windowTitle(), QStringLiteral("档案数据录入修改"));
        QCOMPARE(e.text("DBEdit17"), QStringLiteral("4451"));
        QCOMPARE(e.text("DBEdit18"), QStringLiteral("市档案馆"));
        QCOMPARE(e.text("DBComboBox1"), QStringLiteral("永久"));
        QCOMPARE(e.text("DBComboBox4"), QStringLiteral("控制"));
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit10"));

        fillVolumeRecord(e);
        e.fill("DBEdit3", QStringLiteral("9")); // a box number, emptied under the volume standard
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);
        QCOMPARE(e.stored("tm"), QStringLiteral(" 会议纪要 ")); // stored as typed
        QCOMPARE(e.stored("ajh"), QStringLiteral("12"));
        QCOMPARE(e.stored("qzh"), QStringLiteral("0012"));
        QCOMPARE(e.stored("bgqx"), QStringLiteral("永久"));
        QCOMPARE(e.stored("dzwjm"), QStringLiteral("挂接\\1"));
        QVERIFY(folder.scalar(QStringLiteral("select hh from 文件目录")).isNull());

        // The next row is pending with the carried values.
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Insert);
        for (const char *always : { "GDM", "DWDM", "QZH", "DWMC", "BGQX", "MJ", "DALX", "KZBS" })
            QVERIFY2(!e.row(always).isEmpty(), always);
        QCOMPARE(e.row("MLH"), copy ? QStringLiteral("A1") : QString());
        QCOMPARE(e.row("AJH"), copy ? QStringLiteral("12") : QString());
        QCOMPARE(e.row("TM"), copy ? QStringLiteral("会议纪要") : QString()); // carried trimmed
        QCOMPARE(e.row("ZRZ"), copy ? QStringLiteral("张三") : QString());
        QCOMPARE(e.row("HH"), QString());
        QCOMPARE(e.row("DZWJM"), QString());
        QCOMPARE(e.text("DBEdit10"), e.row("MLH"));
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit10"));

        if (!copy)
            fillVolumeRecord(e);
        e.fill("DBEdit13", QStringLiteral("4"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("sxh='4' and mlh='A1'")), 1);

        copyBox->setChecked(!copy);
        e.click("BitBtn3");
        QTRY_VERIFY(e.window.isNull());
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(e.dm.Tsyyp.recordCount(), 2);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        QCOMPARE(e.settings().read(QStringLiteral("jcsz"), QStringLiteral("cjyhqx")),
            copy ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(e.settings().read(QStringLiteral("datacsh"), QStringLiteral("kxpl")), QStringLiteral("0"));
    }

    // A failed check stores nothing, has emptied the other standard's numbers, and the
    // operator corrects and saves again.
    void failedCheck()
    {
        test::ProgramFolderFixture folder; // ljserver holds no unit values
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        e.fill("DBEdit3", QStringLiteral("7"));
        e.fill("DBEdit4", QStringLiteral("8"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), RecordCheck::kNoCode);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit19"));
        QCOMPARE(e.text("DBEdit3"), QString());
        QCOMPARE(e.row("JH"), QString());

        e.fill("DBEdit19", QStringLiteral("DW9"));
        e.fill("DBEdit3", QStringLiteral("7"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), RecordCheck::kNoUnitName);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit18"));
        QCOMPARE(e.row("HH"), QString());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Insert);

        // Under the item standard the volume numbers go, and the year is needed.
        static_cast<QRadioButton *>(e.field("RadioButton2"))->click();
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit3"));
        e.fill("DBEdit18", QStringLiteral("单位"));
        e.fill("DBEdit3", QStringLiteral("7"));
        e.fill("DBEdit4", QStringLiteral("8"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), RecordCheck::kNoYear);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit5"));
        QCOMPARE(e.text("DBEdit10"), QString());
        QCOMPARE(e.text("DBEdit12"), QString());
        e.fill("DBEdit5", QStringLiteral("2001"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("hh='7' and jh='8' and mlh is null")), 1);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit3"));
        e.window->close();
        QCOMPARE(e.settings().read(QStringLiteral("datacsh"), QStringLiteral("kxpl")), QStringLiteral("1"));
    }

    // A failed post keeps the row pending with its values.
    void failedPost()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        folder.refuse(QStringLiteral("insert"), QStringLiteral("refused"));
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据添加失败"));
        QCOMPARE(e.ui.texts().count(QStringLiteral("数据成功添加！")), 0);
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Insert);
        QCOMPARE(e.text("DBEdit10"), QStringLiteral("A1"));
        QCOMPARE(e.row("TM"), QStringLiteral(" 会议纪要 "));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
    }

    // The row is stored: a failure while the next row is prepared is no failed save.
    void errorAfterPost()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        // Shown but never typed (no operator can type it): the carry-over cannot take it.
        static_cast<QLineEdit *>(e.field("DBEdit15"))->setText(QStringLiteral("5页"));
        e.click("BitBtn1");
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);
        QVERIFY(e.ui.texts().contains(QStringLiteral("数据成功添加！")));
        QVERIFY(!e.ui.texts().contains(QStringLiteral("数据添加失败")));
        QCOMPARE(e.ui.shown.last().icon, Ui::Icon::Critical);
        QVERIFY(e.ui.lastText().contains(QStringLiteral("5页")));
    }

    void inputMethodFromSettings()
    {
        test::ProgramFolderFixture folder;
        Editor e(folder);
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("srf"), QStringLiteral("英语 (美国)"));
        e.openAppend();
        e.ui.switchedTo.clear();
        for (const char *freeText :
            { "DBEdit7", "DBEdit8", "DBEdit9", "DBEdit6", "DBEdit16", "DBEdit2", "DBEdit21", "DBEdit22" }) {
            e.field(freeText)->setFocus();
            QTRY_VERIFY(e.field(freeText)->hasFocus());
        }
        for (const char *other : { "DBEdit10", "DBEdit18", "DBEdit1", "DBEdit19" }) {
            e.field(other)->setFocus();
            QTRY_VERIFY(e.field(other)->hasFocus());
        }
        QCOMPARE(e.ui.switchedTo, QStringList(8, QStringLiteral("英语 (美国)")));
    }

    // The standard comes from the row's numbers, else from the setting.
    void standardShown_data()
    {
        QTest::addColumn<QString>("mlh");
        QTest::addColumn<QString>("hh");
        QTest::addColumn<QString>("kxpl"); // "-": no settings file
        QTest::addColumn<int>("standard");
        QTest::addColumn<QString>("focus");
        QTest::newRow("both numbers") << "M1"
                                      << "2"
                                      << "1" << 0 << "";
        QTest::newRow("box number only") << ""
                                         << "2"
                                         << "0" << 1 << "DBEdit3";
        QTest::newRow("none, setting 1") << ""
                                         << ""
                                         << "1" << 1 << "DBEdit3";
        QTest::newRow("none, setting 0") << ""
                                         << ""
                                         << "0" << 0 << "DBEdit10";
        QTest::newRow("none, other setting") << ""
                                             << ""
                                             << "x" << 0 << "";
        QTest::newRow("none, no settings") << ""
                                           << ""
                                           << "-" << 0 << "DBEdit10";
    }
    void standardShown()
    {
        QFETCH(QString, mlh);
        QFETCH(QString, hh);
        QFETCH(QString, kxpl);
        QFETCH(int, standard);
        QFETCH(QString, focus);
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (mlh, hh, tm) values (%1, %2, 't')")
                        .arg(mlh.isEmpty() ? QStringLiteral("null") : "'" + mlh + "'",
                            hh.isEmpty() ? QStringLiteral("null") : "'" + hh + "'"));
        Editor e(folder);
        if (kxpl != QLatin1String("-"))
            e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), kxpl);
        e.openEdit(0);
        QCOMPARE(e.window->standard(), standard);
        QVERIFY(static_cast<QRadioButton *>(e.field(standard ? "RadioButton2" : "RadioButton1"))->isChecked());
        if (!focus.isEmpty())
            QCOMPARE(e.window->focusWidget(), e.field(focus.toUtf8().constData()));
        QVERIFY(!e.field("CheckBox1")->isVisible());
        QVERIFY(e.field("BitBtn2")->isVisible() && e.field("BitBtn4")->isVisible());
        QVERIFY(!e.field("BitBtn1")->isVisible() && !e.field("BitBtn3")->isVisible());
        if (kxpl == QLatin1String("-")) {
            QVERIFY(static_cast<QCheckBox *>(e.field("CheckBox1"))->isChecked());
            e.field("DBEdit6")->setFocus();
            QCOMPARE(e.ui.switchedTo.last(), QStringLiteral("中文 (简体) - 全拼"));
        }
        e.click("BitBtn4");
        QTRY_VERIFY(e.window.isNull());
        // The copy box, hidden, is written all the same; so is the standard.
        QCOMPARE(e.settings().read(QStringLiteral("jcsz"), QStringLiteral("cjyhqx")), QStringLiteral("1"));
        QCOMPARE(e.settings().read(QStringLiteral("datacsh"), QStringLiteral("kxpl")), QString::number(standard));
    }

    // Another workstation (or program) writes the row while the operator edits it: the save
    // is refused with what happened, the typed title stays in its box and the other's
    // write stays stored. The file has no check of changed values; a row gone is caught on both.
    void anotherWritesTheRowMeanwhile_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("rowsLeft");
        QTest::newRow("changed") << QStringLiteral("update 文件目录 set tm='别处的题名'")
                                 << QStringLiteral("该记录已被其他工作站修改，未保存。请重新打开列表后再修改。") << 1;
        QTest::newRow("deleted") << QStringLiteral("delete from 文件目录")
                                 << (test::onServer() ? QStringLiteral("该记录已被其他工作站删除，未保存。")
                                                      : QStringLiteral("该记录已被删除，未保存。"))
                                 << 0;
    }
    void anotherWritesTheRowMeanwhile()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, told);
        QFETCH(int, rowsLeft);
        if (rowsLeft > 0)
            DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        folder.exec(
            QStringLiteral("insert into 文件目录 (gdm, dwdm, qzh, dwmc, mlh, ajh, sxh, hh, bgqx, tm, yh) values "
                           "('1', 'OLD', '9', '旧单位', 'M', 3, '1', '5', '长期', '旧题名', 2)"));
        folder.exec(kUnit);
        Editor e(folder);
        e.openEdit(0);
        e.fill("DBEdit6", QStringLiteral("我的题名"));
        folder.exec(meanwhile);
        e.click("BitBtn2");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据修改失败！\n") + told);
        QCOMPARE(e.text("DBEdit6"), QStringLiteral("我的题名"));
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Edit);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), rowsLeft);
        if (rowsLeft > 0)
            QCOMPARE(e.stored("tm"), QStringLiteral("别处的题名"));
    }

    // Returning from an edit leaves the stored row as it was, unit columns included; 修改
    // stores the unit information valid now.
    void editReturnAndModify()
    {
        test::ProgramFolderFixture folder;
        folder.exec(
            QStringLiteral("insert into 文件目录 (gdm, dwdm, qzh, dwmc, mlh, ajh, sxh, hh, bgqx, tm, yh) values "
                           "('1', 'OLD', '9', '旧单位', 'M', 3, '1', '5', '长期', '旧题名', 2)"));
        folder.exec(kUnit);
        Editor e(folder);
        e.openEdit(0);
        QCOMPARE(e.text("DBEdit19"), QStringLiteral("DW1"));
        QCOMPARE(e.text("DBComboBox1"), QStringLiteral("长期"));
        e.fill("DBEdit6", QStringLiteral("新题名"));
        e.fill("DBEdit12", QString());
        e.click("BitBtn2"); // fails: HH emptied, AJH missing
        QCOMPARE(e.ui.lastText(), RecordCheck::kVolumeIncomplete);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit10"));
        e.click("BitBtn4");
        QTRY_VERIFY(e.window.isNull());
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(e.row("DWDM"), QStringLiteral("OLD"));
        QCOMPARE(e.row("HH"), QStringLiteral("5"));
        QCOMPARE(e.row("TM"), QStringLiteral("旧题名"));
        QCOMPARE(e.stored("dwdm"), QStringLiteral("OLD"));
        QCOMPARE(e.stored("hh"), QStringLiteral("5"));

        e.openEdit(0);
        e.fill("DBEdit6", QStringLiteral("新题名"));
        e.click("BitBtn2");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据修改成功！"));
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(e.stored("tm"), QStringLiteral("新题名"));
        QCOMPARE(e.stored("dwdm"), QStringLiteral("DW1"));
        QCOMPARE(e.stored("gdm"), QStringLiteral("4451"));
        QCOMPARE(e.stored("dwmc"), QStringLiteral("市档案馆"));
        QVERIFY(folder.scalar(QStringLiteral("select hh from 文件目录")).isNull());

        // Further changes: the button again.
        e.fill("DBEdit15", QStringLiteral("40"));
        e.click("BitBtn2");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据修改成功！"));
        QCOMPARE(e.stored("yh"), QStringLiteral("40"));
        e.window->close();
        QTRY_VERIFY(e.window.isNull());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);
    }

    void enterChain_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to"); // empty: the focus stays
        const char *chain[][2] = {
            { "DBEdit10", "DBEdit12" },
            { "DBEdit12", "DBEdit13" },
            { "DBEdit13", "DBEdit5" },
            { "DBEdit3", "DBEdit4" },
            { "DBEdit4", "DBEdit5" },
            { "DBEdit5", "DBEdit7" },
            { "DBEdit7", "DBComboBox1" },
            { "DBComboBox1", "DBEdit8" },
            { "DBEdit8", "DBEdit9" },
            { "DBEdit9", "DBComboBox2" },
            { "DBComboBox2", "DBEdit6" },
            { "DBEdit6", "DBEdit14" },
            { "DBEdit14", "DBEdit15" },
            { "DBEdit15", "DBComboBox3" },
            { "DBComboBox3", "DBComboBox4" },
            { "DBComboBox4", "DBEdit16" },
            { "DBEdit16", "DBEdit2" },
            { "DBEdit2", "DBEdit21" },
            { "DBEdit21", "DBEdit22" },
            { "DBEdit1", "DBEdit21" },
            { "DBEdit22", "" },
            { "DBEdit17", "" },
            { "DBEdit19", "" },
            { "DBEdit20", "" },
            { "DBEdit18", "" },
        };
        for (const auto &step : chain)
            QTest::newRow(step[0]) << QString::fromLatin1(step[0]) << QString::fromLatin1(step[1]);
    }
    void enterChain()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        test::ProgramFolderFixture folder;
        Editor e(folder);
        e.openAppend();
        QWidget *start = e.field(from.toLatin1().constData());
        start->setFocus();
        QTRY_VERIFY(start->hasFocus());
        QTest::keyClick(start, Qt::Key_Return);
        QWidget *target = to.isEmpty() ? start : e.field(to.toLatin1().constData());
        QTRY_VERIFY(target->hasFocus());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0); // Enter never saves
        QCOMPARE(e.ui.shown.size(), 0);
    }

    // Digits only, lists untypable; Tab leaves every filtered box.
    void filteredBoxes_data()
    {
        QTest::addColumn<QString>("box");
        for (const char *name : { "DBEdit17", "DBEdit20", "DBEdit12", "DBEdit13", "DBEdit3", "DBEdit4", "DBEdit5",
                 "DBEdit14", "DBEdit15", "DBComboBox1", "DBComboBox2", "DBComboBox3", "DBComboBox4" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void filteredBoxes()
    {
        QFETCH(QString, box);
        test::ProgramFolderFixture folder;
        Editor e(folder);
        e.openAppend();
        QWidget *field = e.field(box.toLatin1().constData());
        const bool list = qobject_cast<QComboBox *>(field) != nullptr;
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        const QString before = e.text(box.toLatin1().constData());
        QTest::keyClicks(field, QStringLiteral("a-7 "));
        test::type(field, QStringLiteral("年"));
        QCOMPARE(e.text(box.toLatin1().constData()), list ? before : before + QStringLiteral("7"));
        QTest::keyClick(field, Qt::Key_Tab);
        QTRY_VERIFY(!field->hasFocus());
        QVERIFY(e.window->isAncestorOf(QApplication::focusWidget()));
    }

    void openLinkedFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("opened"); // below the program folder
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks") << "   "
                                << "";
        QTest::newRow("windows path") << " 挂接\\2020 "
                                      << "挂接/2020";
    }
    void openLinkedFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        test::ProgramFolderFixture folder;
        Editor e(folder);
        e.openAppend();
        if (!typed.isEmpty())
            e.fill("DBEdit1", typed);
        e.click("Button2");
        QCOMPARE(e.ui.opened, QStringList { folder.path() + opened });
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Insert);
    }

    // The record list runs edit mode with exec(): a return button ends it.
    void modalReturn()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (tm) values ('t')"));
        Editor e(folder);
        e.dm.Tsyyp.open();
        e.dm.Tsyyp.edit();
        e.window = new TFrm_AEsj(e.dm, e.ui);
        e.window->setEditMode();
        QTimer::singleShot(0, e.window, [&e] {
            QVERIFY(e.window->isModal());
            e.click("BitBtn4");
        });
        e.window->exec();
        QTRY_VERIFY(e.window.isNull());
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Browse);
    }

    // Closing in any way cancels the new row; the list sees no trace of it.
    void closeBoxCancels()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        QCOMPARE(e.dm.Tsyyp.recordCount(), 1);
        e.window->close(); // the close box
        QTRY_VERIFY(e.window.isNull());
        QCOMPARE(e.dm.Tsyyp.recordCount(), 0);
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Browse);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QVERIFY(!e.dm.TJCsj.isOpen());
    }

    // Esc is no way out: what was typed stays, in both modes, until a return button or
    // the close box.
    void escapeKeepsTheRecord_data()
    {
        QTest::addColumn<bool>("append");
        QTest::newRow("new record") << true;
        QTest::newRow("changed record") << false;
    }
    void escapeKeepsTheRecord()
    {
        QFETCH(bool, append);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        folder.exec(QStringLiteral(
            "insert into 文件目录 (mlh, ajh, sxh, bgqx, tm, yh) values ('M', 1, '1', '永久', '旧题名', 1)"));
        Editor e(folder);
        if (append)
            e.openAppend();
        else
            e.openEdit(0);
        e.fill("DBEdit6", QStringLiteral("新题名"));
        for (const char *focused : { "DBEdit6", "DBComboBox1", "BitBtn1", "BitBtn2" }) {
            QWidget *widget = e.field(focused);
            if (!widget->isVisible())
                continue;
            widget->setFocus();
            QTRY_VERIFY(widget->hasFocus());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY2(e.window && e.window->isVisible(), focused);
        }
        QCOMPARE(e.text("DBEdit6"), QStringLiteral("新题名"));
        QCOMPARE(e.row("TM"), QStringLiteral("新题名"));
        QCOMPARE(e.dm.Tsyyp.state(), append ? Dataset::State::Insert : Dataset::State::Edit);
        QVERIFY(e.ui.shown.isEmpty());

        // The record typed is the one saved.
        if (append) {
            fillVolumeRecord(e);
            e.click("BitBtn1");
            QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
            QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm=' 会议纪要 '")), 1);
        } else {
            e.click("BitBtn2");
            QCOMPARE(e.ui.lastText(), QStringLiteral("数据修改成功！"));
            QCOMPARE(e.stored("tm"), QStringLiteral("新题名"));
        }
    }

    // A character outside the basic plane at a column's limit is dropped whole, never
    // halved into a "?".
    void supplementaryCharacterAtTheLimit()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        const QString wide = QString::fromUcs4(U"\U00020000");
        e.fill("DBEdit6", QString(249, QLatin1Char('a')) + wide); // 题名 holds 250
        QVERIFY(!e.text("DBEdit6").contains(QChar::ReplacementCharacter));
        QVERIFY(!e.text("DBEdit6").endsWith(wide.at(0)));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(e.stored("tm"), QString(249, QLatin1Char('a')));

        // Within the limit it is stored whole.
        e.fill("DBEdit6", QStringLiteral("题") + wide);
        e.click("BitBtn1");
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm='题%1'").arg(wide)), 1);
    }

    // Saving a number the catalogue holds asks first, naming the record that holds it; No
    // keeps the editor and every typed value, Yes stores the record.
    void duplicateAsked_data()
    {
        QTest::addColumn<bool>("store");
        QTest::newRow("No keeps the editor") << false;
        QTest::newRow("Yes stores") << true;
    }
    void duplicateAsked()
    {
        QFETCH(bool, store);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) "
                                   "values ('0012','2024','永久','办公室','1','9','%1')")
                        .arg(kHeld));
        Editor e(folder);
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("1"));
        e.openAppend();
        fillItemRecord(e, QStringLiteral("0009")); // "0009" is item 9, in another box
        e.ui.answers << (store ? Ui::Answer::Yes : Ui::Answer::No);
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(questions(e.ui).size(), 1);
        QVERIFY2(
            questions(e.ui).first().contains(QStringLiteral("“%1”").arg(kHeld)), qPrintable(questions(e.ui).first()));
        QVERIFY(questions(e.ui).first().contains(QStringLiteral("0012-WS·2024-Y-BGS-0009")));
        QCOMPARE(e.ui.shown.first().caption, QStringLiteral("提示"));
        QCOMPARE(e.ui.shown.first().icon, Ui::Icon::Warning);
        QCOMPARE(e.ui.shown.first().buttons, Ui::Buttons::YesNoDefaultNo); // Enter answers 否(N)
        if (store) {
            QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
            QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("jh='0009'")), 1);
            return;
        }
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);
        QVERIFY(e.window->isVisible());
        QCOMPARE(e.dm.Tsyyp.state(), Dataset::State::Insert);
        const QPair<const char *, QString> typed[] = { { "DBEdit3", "2" }, { "DBEdit4", "0009" }, { "DBEdit5", "2024" },
            { "DBEdit9", "办公室" }, { "DBEdit6", "第二份文件" }, { "DBEdit15", "3" } };
        for (const auto &field : typed)
            QCOMPARE(e.text(field.first), field.second);
        QCOMPARE(e.window->focusWidget(), e.field("DBEdit4"));

        // Another number is free: stored without a question.
        e.fill("DBEdit4", QStringLiteral("10"));
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(questions(e.ui).size(), 1);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("jh='10' and tm='第二份文件'")), 1);
    }

    // A record edited keeps its own number without a question; taking another record's
    // number asks.
    void editingKeepsItsNumber()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        folder.exec(QStringLiteral("insert into 文件目录 (sxh,qzh,mlh,ajh,tm,yh,bgqx,dwmc) "
                                   "values ('0001','0012','A1',12,'%1',3,'永久','市档案馆')")
                        .arg(kHeld));
        folder.exec(QStringLiteral("insert into 文件目录 (sxh,qzh,mlh,ajh,tm,yh,bgqx,dwmc) "
                                   "values ('0002','0012','A1',12,'第二份',3,'永久','市档案馆')"));
        Editor e(folder);
        e.openEdit(1);
        QCOMPARE(e.text("DBEdit6"), QStringLiteral("第二份"));
        e.fill("DBEdit6", QStringLiteral("第二份（改）"));
        pressShortcut(e.window, "BitBtn2", Qt::Key_E);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据修改成功！"));
        QVERIFY(questions(e.ui).isEmpty());

        e.fill("DBEdit13", QStringLiteral("1"));
        e.ui.answers << Ui::Answer::No;
        pressShortcut(e.window, "BitBtn2", Qt::Key_E);
        QCOMPARE(questions(e.ui).size(), 1);
        QVERIFY(questions(e.ui).first().contains(kHeld));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("sxh='0002' and tm='第二份（改）'")), 1);
        QCOMPARE(e.text("DBEdit13"), QStringLiteral("1"));
    }

    // With the previous record carried over, the next free number is proposed: above the
    // previous one in its group, 1 in a group that has none; a number the operator typed
    // stays.
    void nextNumberProposed()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        for (const char *jh : { "1", "2", "4" })
            folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) "
                                       "values ('0012','2024','永久','办公室','1','%1','已有')")
                            .arg(QLatin1String(jh)));
        Editor e(folder);
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("1"));
        e.settings().write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("1"));
        e.openAppend();
        fillItemRecord(e, QStringLiteral("3"));
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(e.text("DBEdit4"), QStringLiteral("5")); // 4 is taken
        QCOMPARE(e.row("JH"), QStringLiteral("5"));

        // The series is entered without typing numbers.
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QVERIFY(questions(e.ui).isEmpty());
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("jh='5' and tm='第二份文件'")), 1);
        QCOMPARE(e.text("DBEdit4"), QStringLiteral("6"));

        // Another year starts its own series.
        e.fill("DBEdit5", QStringLiteral("2025"));
        QCOMPARE(e.text("DBEdit4"), QStringLiteral("1"));
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("gdnd='2025' and jh='1'")), 1);
        QCOMPARE(e.text("DBEdit4"), QStringLiteral("2"));

        // The operator's own number is kept whatever changes.
        e.fill("DBEdit4", QStringLiteral("7"));
        e.fill("DBEdit5", QStringLiteral("2026"));
        QCOMPARE(e.text("DBEdit4"), QStringLiteral("7"));
    }

    // After a box the program puts the focus in a number box. Under a window manager the
    // editor is activated again only after that, and the box gets the focus for that
    // reason: it is selected all the same, so the numbers typed replace what stood there.
    void focusAfterABoxSelects_data()
    {
        QTest::addColumn<int>("standard");
        QTest::addColumn<QStringList>("saved"); // the first record's three numbers
        QTest::addColumn<QStringList>("typed"); // the next one's, typed with Enter between
        QTest::addColumn<QStringList>("columns");
        QTest::newRow("volume standard") << 0 << QStringList { "3", "12", "7" } << QStringList { "4", "13", "8" }
                                         << QStringList { "mlh", "ajh", "sxh" };
        QTest::newRow("item standard") << 1 << QStringList { "1", "12", "2024" } << QStringList { "2", "14", "2025" }
                                       << QStringList { "hh", "jh", "gdnd" };
    }
    void focusAfterABoxSelects()
    {
        QFETCH(int, standard);
        QFETCH(QStringList, saved);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, columns);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.ui.windowManagerOrder = true;
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QString::number(standard));
        e.settings().write(QStringLiteral("jcsz"), QStringLiteral("cjyhqx"), QStringLiteral("1"));
        e.openAppend();
        const char *boxes[2][3] = { { "DBEdit10", "DBEdit12", "DBEdit13" }, { "DBEdit3", "DBEdit4", "DBEdit5" } };
        for (int i = 0; i < 3; ++i)
            e.fill(boxes[standard][i], saved[i]);
        e.fill("DBEdit6", QStringLiteral("第一份"));
        e.fill("DBEdit15", QStringLiteral("2"));
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(e.text(boxes[standard][0]), saved[0]); // carried over
        QTRY_VERIFY(e.window->isActiveWindow());
        QTRY_VERIFY(e.field(boxes[standard][0])->hasFocus());

        for (int i = 0; i < 3; ++i) {
            QTest::keyClicks(QApplication::focusWidget(), typed[i]);
            QCOMPARE(e.text(boxes[standard][i]), typed[i]);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QString where = QStringLiteral("1=1");
        for (int i = 0; i < 3; ++i)
            where += QStringLiteral(" and %1='%2'").arg(columns[i], typed[i]);
        QCOMPARE(folder.count(QStringLiteral("文件目录"), where), 1);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
    }

    // The same after a refusal: a duplicate number answered 否(N), a failed check.
    void focusAfterARefusalSelects_data()
    {
        QTest::addColumn<QString>("jh"); // typed before saving
        QTest::addColumn<QString>("box"); // where the focus goes
        QTest::addColumn<QString>("stands"); // what stands there
        QTest::addColumn<QString>("typed");
        QTest::newRow("duplicate number, 否(N)") << "9" << "DBEdit4" << "9" << "3";
        QTest::newRow("failed check") << "" << "DBEdit3" << "7" << "9";
    }
    void focusAfterARefusalSelects()
    {
        QFETCH(QString, jh);
        QFETCH(QString, box);
        QFETCH(QString, stands);
        QFETCH(QString, typed);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) "
                                   "values ('0012','2024','永久','办公室','7','9','%1')")
                        .arg(kHeld));
        Editor e(folder);
        e.ui.windowManagerOrder = true;
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("1"));
        e.openAppend();
        fillItemRecord(e, jh);
        e.fill("DBEdit3", QStringLiteral("7"));
        e.ui.answers << Ui::Answer::No;
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);
        QTRY_VERIFY(e.window->isActiveWindow());
        QTRY_VERIFY(e.field(box.toLatin1().constData())->hasFocus());
        QCOMPARE(e.text(box.toLatin1().constData()), stands);
        QTest::keyClicks(QApplication::focusWidget(), typed);
        QCOMPARE(e.text(box.toLatin1().constData()), typed);
        if (jh.isEmpty())
            e.fill("DBEdit4", QStringLiteral("4"));
        e.ui.answers.clear();
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("tm='第二份文件'")), 1);
        const QString column = box == QLatin1String("DBEdit4") ? QStringLiteral("jh") : QStringLiteral("hh");
        QCOMPARE(e.stored(column.toLatin1().constData(), QStringLiteral("tm='第二份文件'")), typed);
    }

    // Alt with a letter that is none of the window's shortcuts types nothing, in number
    // boxes and elsewhere; the window's own shortcuts still work from there.
    void altLettersTypeNothing()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.settings().write(QStringLiteral("datacsh"), QStringLiteral("kxpl"), QStringLiteral("1"));
        e.openAppend();
        fillItemRecord(e, QStringLiteral("1"));
        for (const char *name : { "DBEdit3", "DBEdit5", "DBEdit6" }) {
            QWidget *box = e.field(name);
            box->setFocus(Qt::MouseFocusReason);
            QTRY_VERIFY(box->hasFocus());
            const QString before = e.text(name);
            for (const Qt::Key letter : { Qt::Key_A, Qt::Key_B, Qt::Key_Q, Qt::Key_W, Qt::Key_1 })
                QTest::keyClick(box, letter, Qt::AltModifier);
            QCOMPARE(e.text(name), before);
        }
        pressShortcut(e.window, "BitBtn1", Qt::Key_S);
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("hh='2' and gdnd='2024' and tm='第二份文件'")), 1);
    }

    // A number box holding what is no number (handed in round the key filters) stops the
    // save with the box named, and the focus goes there; nothing is stored.
    void saveNamesTheBoxThatIsNoNumber()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        auto *pages = static_cast<QLineEdit *>(e.field("DBEdit15"));
        pages->setFocus();
        pages->selectAll();
        pages->insert(QStringLiteral("ab1"));
        e.field("DBEdit6")->setFocus(Qt::ActiveWindowFocusReason); // not left: nothing reported yet
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据添加失败\n页数（页码）：“ab1”不是有效的整数"));
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);
        QTRY_VERIFY(pages->hasFocus());
        QTest::keyClicks(pages, QStringLiteral("5"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("yh=5")), 1);
    }

    // A NUL pasted into a box is dropped; what follows it is kept and stored.
    void pastedNulDropped()
    {
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e);
        auto *title = static_cast<QLineEdit *>(e.field("DBEdit6"));
        title->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(title->hasFocus());
        QApplication::clipboard()->setText(QStringLiteral("会议") + QChar(0) + QStringLiteral("纪要"));
        QTest::keyClick(title, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(title->text(), QStringLiteral("会议纪要"));
        e.click("BitBtn1");
        QCOMPARE(e.ui.lastText(), QStringLiteral("数据成功添加！"));
        QCOMPARE(e.stored("tm"), QStringLiteral("会议纪要"));
    }

    // Arrow keys on the standards move the focus to the standard's first number, as Space
    // and a click do.
    void arrowKeysChooseTheStandard()
    {
        test::ProgramFolderFixture folder;
        Editor e(folder);
        e.openAppend();
        QWidget *byVolume = e.field("RadioButton1");
        byVolume->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(byVolume->hasFocus());
        QTest::keyClick(byVolume, Qt::Key_Down);
        QTRY_VERIFY(e.field("DBEdit3")->hasFocus());
        QCOMPARE(e.window->standard(), 1);
        e.field("RadioButton2")->setFocus(Qt::BacktabFocusReason);
        QTRY_VERIFY(e.field("RadioButton2")->hasFocus());
        QTest::keyClick(e.field("RadioButton2"), Qt::Key_Up);
        QTRY_VERIFY(e.field("DBEdit10")->hasFocus());
        QCOMPARE(e.window->standard(), 0);
    }

    // A box reached from the keyboard selects its text, so typing replaces a carried value.
    void keyboardEntrySelects_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Enter chain") << "DBEdit10" << int(Qt::Key_Return) << 0;
        QTest::newRow("Tab") << "DBEdit10" << int(Qt::Key_Tab) << 0;
        QTest::newRow("Shift+Tab") << "DBEdit13" << int(Qt::Key_Tab) << int(Qt::ShiftModifier);
    }
    void keyboardEntrySelects()
    {
        QFETCH(QString, from);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        test::ProgramFolderFixture folder;
        folder.exec(kUnit);
        Editor e(folder);
        e.openAppend();
        fillVolumeRecord(e); // 案卷号 12
        e.click("BitBtn1"); // carried over into the next record
        QCOMPARE(e.text("DBEdit12"), QStringLiteral("12"));
        QWidget *start = e.field(from.toLatin1().constData());
        start->setFocus();
        QTRY_VERIFY(start->hasFocus());
        QTest::keyClick(start, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(e.field("DBEdit12")->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("13"));
        QCOMPARE(e.text("DBEdit12"), QStringLiteral("13"));
        e.fill("DBEdit13", QStringLiteral("2"));
        e.click("BitBtn1");
        QCOMPARE(folder.count(QStringLiteral("文件目录"), QStringLiteral("ajh=13")), 1);

        // A click places the caret: the text is added to.
        auto *box = static_cast<QLineEdit *>(e.field("DBEdit12"));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 4, box->height() / 2));
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, QStringLiteral("4"));
        QCOMPARE(box->text(), QStringLiteral("134"));
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
