#include "IniFile.h"
#include "TDataModule5.h"
#include "TFrm_dhgz.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace dagl;

// The archival code rules window, driven by keys alone.
class TestCodeRules : public QObject {
    Q_OBJECT

    struct Window {
        explicit Window(test::ProgramFolderFixture &f)
            : folder(f)
        {
            window = new TFrm_dhgz(dm, ui);
            window->show();
        }
        ~Window() { delete window; }
        test::ProgramFolderFixture &folder;
        test::FakeUi ui;
        TDataModule5 dm { folder.path(), ui };
        QPointer<TFrm_dhgz> window;

        template <class W = QLineEdit> W *get(const char *name)
        {
            return window->findChild<W *>(QString::fromLatin1(name));
        }
        QString example() { return get("Edit2")->text(); }
        void alt(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier); }
        // Replaces the focused box's text as the operator does: select all, type.
        void retype(const QString &text)
        {
            QWidget *box = QApplication::focusWidget();
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Delete);
            test::type(box, text);
        }
        // Gives the current 机构 of the table a new code: F2, type, Enter.
        void recode(const QString &code)
        {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
            QWidget *editor = QApplication::focusWidget();
            QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(editor, Qt::Key_Delete);
            test::type(editor, code);
            QTest::keyClick(editor, Qt::Key_Return);
            // The view takes the code on its next turn of the event loop.
            QTRY_VERIFY(QApplication::focusWidget() == get<QTableWidget>("StringGrid1"));
        }
        QString ini(const char *key)
        {
            return IniFile::settingsOf(folder.path()).read(QStringLiteral("dh"), QString::fromUtf8(key));
        }
        QStringList listed()
        {
            QStringList lines;
            auto *list = get<QListWidget>("ListBox1");
            for (int i = 0; i < list->count(); ++i)
                lines << list->item(i)->text();
            return lines;
        }
    };

    // 2023 永久: 办公室 items 1 and 2, 财务科 item 1.
    static void fill(test::ProgramFolderFixture &folder)
    {
        const char *const rows[] = {
            "'J012','2023','永久','办公室','1','1','甲'",
            "'J012','2023','永久','办公室','1','2','丙'",
            "'J012','2023','永久','财务科','1','1','乙'",
        };
        for (const char *row : rows)
            folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) values (%1)")
                            .arg(QString::fromUtf8(row)));
    }

private slots:
    void initTestCase() { test::pinLocale(); }

    // The rules as they stand, each 机构 of the catalogue with its code, and the current
    // record's code following every change.
    void showsAndFollows()
    {
        test::ProgramFolderFixture folder;
        fill(folder);
        Window w { folder };
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        QCOMPARE(w.window->windowTitle(), QStringLiteral("档号规则"));
        auto *classes = w.get<QTableWidget>("StringGrid1");
        QCOMPARE(classes->rowCount(), 2);
        QCOMPARE(classes->item(0, 0)->text(), QStringLiteral("办公室"));
        QCOMPARE(classes->item(0, 1)->text(), QStringLiteral("BGS"));
        QCOMPARE(classes->item(1, 0)->text(), QStringLiteral("财务科"));
        QCOMPARE(classes->item(1, 1)->text(), QStringLiteral("CWK"));
        QCOMPARE(w.example(), QStringLiteral("J012-WS·2023-Y-BGS-0001"));
        // Each box is found by its own caption.
        const std::pair<const char *, const char *> named[] = {
            { "Edit1", "门类代码" },
            { "SpinEdit1", "件号位数" },
            { "EditBgqx3", "30年" },
            { "StringGrid1", "各机构的代码" },
            { "Edit2", "当前档案的档号" },
            { "ListBox1", "共用同一档号的档案" },
        };
        for (const auto &[name, caption] : named) {
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w.get<QWidget>(name));
            QVERIFY(face);
            QVERIFY2(face->text(QAccessible::Name).startsWith(QString::fromUtf8(caption)),
                qPrintable(QLatin1String(name) + QLatin1Char(' ') + face->text(QAccessible::Name)));
        }

        QVERIFY(w.get("Edit1")->hasFocus());
        w.retype(QStringLiteral("KJ"));
        QCOMPARE(w.example(), QStringLiteral("J012-KJ·2023-Y-BGS-0001"));
        w.alt(Qt::Key_W); // 件号位数
        QVERIFY(w.get<QSpinBox>("SpinEdit1")->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(w.example(), QStringLiteral("J012-KJ·2023-Y-BGS-001"));
        w.alt(Qt::Key_Y); // 永久
        w.retype(QStringLiteral("YJ"));
        QCOMPARE(w.example(), QStringLiteral("J012-KJ·2023-YJ-BGS-001"));
        w.alt(Qt::Key_J); // the 机构 codes, on the first one
        QVERIFY(classes->hasFocus());
        w.recode(QStringLiteral("XX"));
        QCOMPARE(classes->item(0, 1)->text(), QStringLiteral("XX"));
        QCOMPARE(w.example(), QStringLiteral("J012-KJ·2023-YJ-XX-001"));
        w.alt(Qt::Key_G); // 档号中含机构代码
        QTRY_VERIFY(!w.get<QCheckBox>("CheckBox1")->isChecked());
        QCOMPARE(w.example(), QStringLiteral("J012-KJ·2023-YJ-001"));
        QCOMPARE(w.ini("mldm"), QString()); // nothing written before saving
    }

    // Before saving, the records that would share a code are listed and the operator asked;
    // "否" keeps the rules as they were.
    void duplicatesListedBeforeSaving()
    {
        test::ProgramFolderFixture folder;
        fill(folder);
        Window w { folder };
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        w.alt(Qt::Key_K); // 检查重复
        QTRY_COMPARE(w.listed(), QStringList { QStringLiteral("没有共用同一档号的档案。") });

        // Numbered through the year across 机构: item 1 twice.
        w.alt(Qt::Key_G);
        QTRY_COMPARE(w.get<QCheckBox>("CheckBox1")->isChecked(), false);
        w.ui.answers << Ui::Answer::No;
        w.alt(Qt::Key_S);
        QTRY_COMPARE(w.ui.texts(),
            QStringList { QStringLiteral("按新的规则，有1个档号被多条档案共用（已列出）。\n仍然保存这些规则吗？") });
        QCOMPARE(w.listed(), QStringList { QStringLiteral("J012-WS·2023-Y-0001：“甲”、“乙”") });
        QVERIFY(w.get<QListWidget>("ListBox1")->hasFocus());
        QCOMPARE(w.ini("jgdh"), QString());

        // Two 机构 given one code share it as well.
        w.alt(Qt::Key_G);
        QTRY_COMPARE(w.get<QCheckBox>("CheckBox1")->isChecked(), true);
        w.alt(Qt::Key_J);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        w.recode(QStringLiteral("BGS"));
        w.alt(Qt::Key_K);
        QTRY_COMPARE(w.listed(), QStringList { QStringLiteral("J012-WS·2023-Y-BGS-0001：“甲”、“乙”") });

        // Distinct again: saved without a question.
        w.alt(Qt::Key_J);
        w.recode(QStringLiteral("CW"));
        w.ui.shown.clear();
        w.alt(Qt::Key_S);
        QTRY_COMPARE(w.ui.texts(), QStringList { QStringLiteral("档号规则已保存！") });
        QCOMPARE(w.ini("jgdh"), QStringLiteral("1"));
        QCOMPARE(w.ini("jgwt"), QStringLiteral("办公室=BGS;财务科=CW"));
        QCOMPARE(w.ini("mldm"), QStringLiteral("WS"));
        QCOMPARE(w.ini("jhws"), QStringLiteral("4"));
        QCOMPARE(w.ini("30年"), QStringLiteral("D30"));

        // Saved anyway when the operator says so.
        w.alt(Qt::Key_G);
        QTRY_COMPARE(w.get<QCheckBox>("CheckBox1")->isChecked(), false);
        w.ui.shown.clear();
        w.ui.answers << Ui::Answer::Yes;
        w.alt(Qt::Key_S);
        QTRY_COMPARE(w.ui.texts().size(), 2);
        QCOMPARE(w.ui.texts().last(), QStringLiteral("档号规则已保存！"));
        QCOMPARE(w.ini("jgdh"), QStringLiteral("0"));
        QCOMPARE(ArchivalCodeSettings::load(IniFile::settingsOf(folder.path())).classSegment, false);
    }

    // A code that would break the archival code apart is refused, said and focused.
    void unusableCodeRefused_data()
    {
        QTest::addColumn<int>("shortcut");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QString>("message");
        QTest::newRow("category empty") << int(Qt::Key_M) << ""
                                        << "Edit1"
                                        << "门类的代码不能为空。";
        QTest::newRow("retention with a hyphen") << int(Qt::Key_D) << "D-1"
                                                 << "EditBgqx4"
                                                 << "保管期限“短期”的代码“D-1”不能含有“-”、“·”、“=”、“;”或空格。";
    }

    void unusableCodeRefused()
    {
        QFETCH(int, shortcut);
        QFETCH(QString, code);
        QFETCH(QString, focused);
        QFETCH(QString, message);
        test::ProgramFolderFixture folder;
        Window w { folder };
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        w.alt(Qt::Key(shortcut));
        w.retype(code);
        w.alt(Qt::Key_S);
        QTRY_COMPARE(w.ui.texts(), QStringList { message });
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
        QCOMPARE(w.ini("mldm"), QString());
    }

    // A 机构 code left empty in the table is refused with the 机构 named.
    void emptyClassCodeRefused()
    {
        test::ProgramFolderFixture folder;
        fill(folder);
        Window w { folder };
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        w.alt(Qt::Key_J);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        w.recode(QString());
        w.alt(Qt::Key_S);
        QTRY_COMPARE(w.ui.texts(), QStringList { QStringLiteral("机构“财务科”的代码不能为空。") });
        auto *classes = w.get<QTableWidget>("StringGrid1");
        QVERIFY(classes->hasFocus());
        QCOMPARE(classes->currentRow(), 1);
        QCOMPARE(w.ini("jgwt"), QString());
    }

    // The current record of the list is the example.
    void exampleIsTheCurrentRecord()
    {
        test::ProgramFolderFixture folder;
        fill(folder);
        test::FakeUi ui;
        TDataModule5 dm { folder.path(), ui };
        dm.Tsyyp.open();
        dm.Tsyyp.last();
        const QString title = dm.Tsyyp.text(QStringLiteral("TM"));
        auto *window = new TFrm_dhgz(dm, ui);
        window->show();
        const QString expected = title == QStringLiteral("乙") ? QStringLiteral("J012-WS·2023-Y-CWK-0001")
            : title == QStringLiteral("丙")                    ? QStringLiteral("J012-WS·2023-Y-BGS-0002")
                                                               : QStringLiteral("J012-WS·2023-Y-BGS-0001");
        QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("Edit2"))->text(), expected);
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window->isVisible());
    }
};

QTEST_MAIN(TestCodeRules)
#include "tst_coderules.moc"
