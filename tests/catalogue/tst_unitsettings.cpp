#include "DataControls.h"
#include "IniFile.h"
#include "RecordChecks.h"
#include "TDataModule5.h"
#include "TFrm_AEsj.h"
#include "TFrm_jcsj.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

class TestUnitSettings : public QObject
{
    Q_OBJECT

    struct Window
    {
        explicit Window(test::ProgramFolderFixture &f) : folder(f) {}
        test::ProgramFolderFixture &folder;
        test::FakeUi ui;
        TDataModule5 dm{folder.path(), ui};
        TFrm_jcsj window{dm, ui};
        DBEdit *box(const char *name) { return window.findChild<DBEdit *>(QString::fromLatin1(name)); }
        void fill(const char *name, const QString &text)
        {
            DBEdit *edit = box(name);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Delete);
            test::type(edit, text);
        }
        void save() { QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton); }
        // Tab to a button and Enter.
        void press(const char *name)
        {
            auto *button = window.findChild<QPushButton *>(QString::fromLatin1(name));
            button->setFocus(Qt::TabFocusReason);
            QTest::keyClick(button, Qt::Key_Return);
        }
    };

private slots:
    void initTestCase() { test::pinLocale(); }

    void checks_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("fonds");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // empty: passes
        QTest::newRow("unit code alone") << "123" << "" << "单位" << "";
        QTest::newRow("fonds alone") << "" << "001" << "单位" << "";
        QTest::newRow("blanks are empty") << "  " << " " << "单位" << UnitSettingsCheck::kNoCode;
        QTest::newRow("codes checked before name") << "" << "" << "" << UnitSettingsCheck::kNoCode;
        QTest::newRow("name blank") << "1" << "" << "   " << UnitSettingsCheck::kNoName;
    }
    void checks()
    {
        QFETCH(QString, code);
        QFETCH(QString, fonds);
        QFETCH(QString, name);
        QFETCH(QString, message);
        const auto failure = UnitSettingsCheck::check(code, fonds, name);
        QCOMPARE(failure ? failure->message : QString(), message);
    }

    void firstSaveFillsEmptyTable()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("delete from ljserver"));
        Window w{folder};
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QVERIFY(w.box("DBEdit17")->hasFocus());
        QCOMPARE(w.dm.TJCsj.state(), Dataset::State::Insert);

        // The archive code takes typed digits only.
        QTest::keyClicks(w.box("DBEdit17"), QStringLiteral("4a4-5b1"));
        QCOMPARE(w.box("DBEdit17")->text(), QStringLiteral("4451"));

        w.save();
        QCOMPARE(w.ui.lastText(), UnitSettingsCheck::kNoCode);
        QTRY_VERIFY(w.box("DBEdit18")->hasFocus());
        w.fill("DBEdit19", QStringLiteral("00123")); // five typed, the column holds four
        QCOMPARE(w.box("DBEdit19")->text(), QStringLiteral("00123"));
        w.save();
        QCOMPARE(w.ui.lastText(), UnitSettingsCheck::kNoName);
        QTRY_VERIFY(w.box("DBEdit20")->hasFocus());
        QCOMPARE(folder.count(QStringLiteral("ljserver")), 0);

        // Five characters are refused with the limit, not cut to four.
        w.fill("DBEdit20", QStringLiteral("市档案馆"));
        w.save();
        QCOMPARE(w.ui.lastText(), QStringLiteral("全宗号“00123”超过了4个字符，请改正后再保存!"));
        QTRY_VERIFY(w.box("DBEdit19")->hasFocus());
        QCOMPARE(folder.count(QStringLiteral("ljserver")), 0);
        w.fill("DBEdit19", QStringLiteral("0012"));
        w.save();
        QCOMPARE(w.ui.lastText(), QStringLiteral("数据修改成功！"));
        QCOMPARE(folder.count(QStringLiteral("ljserver")), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select qzh from ljserver")).toString(), QStringLiteral("0012"));
        QCOMPARE(folder.scalar(QStringLiteral("select dwmc from ljserver")).toString(), QStringLiteral("市档案馆"));
        QCOMPARE(folder.scalar(QStringLiteral("select gdm from ljserver")).toString(), QStringLiteral("4451"));
        QCOMPARE(w.dm.TJCsj.state(), Dataset::State::Browse);

        // Typing again edits the same row; a second save updates it.
        w.fill("DBEdit18", QStringLiteral("A1"));
        QCOMPARE(w.dm.TJCsj.state(), Dataset::State::Edit);
        w.save();
        QCOMPARE(folder.count(QStringLiteral("ljserver")), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select dwdm from ljserver")).toString(), QStringLiteral("A1"));
    }

    void inputMethodKeptOnClose()
    {
        test::ProgramFolderFixture folder;
        const IniFile ini = IniFile::settingsOf(folder.path());
        {
            Window w{folder};
            w.window.show();
            auto *methods = w.window.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
            QCOMPARE(methods->currentText(), QStringLiteral("中文 (简体) - 全拼")); // nothing stored: the first
            w.fill("DBEdit20", QStringLiteral("未保存"));
            QTest::mouseClick(w.window.findChild<QPushButton *>(QStringLiteral("BitBtn3")), Qt::LeftButton);
            QVERIFY(!w.window.isVisible());
            QCOMPARE(ini.read(QStringLiteral("datacsh"), QStringLiteral("srf")), QStringLiteral("中文 (简体) - 全拼"));
            QVERIFY(folder.scalar(QStringLiteral("select dwmc from ljserver")).isNull()); // 关闭 drops the change

            // Shown again: the same window, a name no longer installed is kept as text,
            // and an emptied box is written as empty.
            ini.write(QStringLiteral("DATACSH"), QStringLiteral("SRF"), QStringLiteral("旧输入法"));
            w.window.show();
            QCOMPARE(methods->currentText(), QStringLiteral("旧输入法"));
            methods->setEditText(QString());
            w.window.close();
            QCOMPARE(ini.read(QStringLiteral("datacsh"), QStringLiteral("srf"), QStringLiteral("x")), QString());
        }
    }

    // The digit filter of the archive code drops typed characters only.
    void tabLeavesArchiveCode()
    {
        test::ProgramFolderFixture folder;
        Window w{folder};
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        DBEdit *code = w.box("DBEdit17");
        QTRY_VERIFY(code->hasFocus());
        QTest::keyClick(code, Qt::Key_Tab);
        QTRY_VERIFY(w.box("DBEdit18")->hasFocus());
        QTest::keyClick(w.box("DBEdit18"), Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(code->hasFocus());
    }

    // The record editor reads the unit row from the same dataset; closing it leaves what
    // the settings window holds, pending or saved, and its save goes on working.
    void editorClosedMeanwhile_data()
    {
        QTest::addColumn<bool>("savedFirst");
        QTest::newRow("pending edit") << false;
        QTest::newRow("saved, then typed again") << true;
    }
    void editorClosedMeanwhile()
    {
        QFETCH(bool, savedFirst);
        test::ProgramFolderFixture folder;
        Window w{folder};
        w.dm.Tsyyp.open();
        w.dm.Tsyyp.append();
        QPointer<TFrm_AEsj> editor = new TFrm_AEsj(w.dm, w.ui);
        editor->setAppendMode();
        editor->show();
        QVERIFY(QTest::qWaitForWindowActive(editor));

        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.fill("DBEdit18", QStringLiteral("DW7"));
        w.fill("DBEdit20", QStringLiteral("市档案馆"));
        if (savedFirst) {
            w.press("BitBtn1");
            QCOMPARE(w.ui.lastText(), QStringLiteral("数据修改成功！"));
        }

        // The editor goes by its return button, pressed from the keyboard.
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        auto *back = editor->findChild<QPushButton *>(QStringLiteral("BitBtn3"));
        back->setFocus();
        QTRY_VERIFY(back->hasFocus());
        QTest::keyClick(back, Qt::Key_Return);
        QTRY_VERIFY(editor.isNull());
        QCOMPARE(w.box("DBEdit18")->text(), QStringLiteral("DW7"));
        QCOMPARE(w.box("DBEdit20")->text(), QStringLiteral("市档案馆"));

        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        if (savedFirst)
            w.fill("DBEdit20", QStringLiteral("县档案馆"));
        w.press("BitBtn1");
        QCOMPARE(w.ui.texts().count(QStringLiteral("数据修改失败！")), 0);
        QCOMPARE(w.ui.lastText(), QStringLiteral("数据修改成功！"));
        QCOMPARE(folder.scalar(QStringLiteral("select dwdm from ljserver")).toString(), QStringLiteral("DW7"));
        QCOMPARE(folder.scalar(QStringLiteral("select dwmc from ljserver")).toString(),
                 savedFirst ? QStringLiteral("县档案馆") : QStringLiteral("市档案馆"));
    }
};

QTEST_MAIN(TestUnitSettings)
#include "tst_unitsettings.moc"
