#include "Program.h"
#include "QtUi.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TForm1.h"
#include "TFormLogin.h"
#include "TFrmCKRZ.h"
#include "TFrmDataBackUp.h"
#include "TFrmXGMM.h"
#include "TFrm_AEsj.h"
#include "TFrm_cxly.h"
#include "TFrm_dayj.h"
#include "TFrm_jcsj.h"
#include "TFrm_tjbb.h"
#include "TestSupport.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

using namespace dagl;

// The keyboard and the stacking of windows behave as on the Windows desktop, in every window.
namespace {

using test::topLevel;

enum class Kind { Editor, Query, UnitSettings, Handover, Statistics, Backup, Password, LogViewer, Login };

// One window of the program, made and shown over its own database.
struct Opened {
    Opened(test::ProgramFolderFixture &folder, Kind kind)
        : dm(folder.path(), ui)
    {
        switch (kind) {
        case Kind::Editor: {
            dm.Tsyyp.open();
            dm.Tsyyp.append();
            auto *editor = new TFrm_AEsj(dm, ui);
            editor->setAppendMode();
            window = editor;
            break;
        }
        case Kind::Query:
            window = new TFrm_cxly(dm, ui, nullptr, nullptr);
            break;
        case Kind::UnitSettings:
            window = new TFrm_jcsj(dm, ui);
            break;
        case Kind::Handover:
            window = new TFrm_dayj(dm, ui);
            break;
        case Kind::Statistics:
            window = new TFrm_tjbb(dm, ui);
            break;
        case Kind::Backup:
            window = new TFrmDataBackUp(dm, ui, QStringLiteral("0"));
            break;
        case Kind::Password:
            window = new TFrmXGMM(dm, ui, QStringLiteral("管理员"));
            break;
        case Kind::LogViewer:
            window = new TFrmCKRZ(dm, ui);
            break;
        case Kind::Login:
            window = new TFormLogin(dm, session, ui);
            break;
        }
        window->show();
    }
    ~Opened() { delete window.data(); }

    template <class T> T *child(const QString &name) const { return window->findChild<T *>(name); }

    test::FakeUi ui;
    TDataModule5 dm;
    Session session;
    QPointer<QWidget> window;
};

bool hasStayOnTopHint(const QWidget *window)
{
    return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) && window->windowHandle()
        && window->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
}

// A program run up to its main window with the operator logged in.
struct Run {
    explicit Run(test::ProgramFolderFixture &f)
        : folder(f)
    {
    }
    bool logIn()
    {
        main()->show();
        if (!QTest::qWaitFor([] { return topLevel(QStringLiteral("FormLogin")) != nullptr; }))
            return false;
        auto *ok = topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1"));
        ok->setFocus(Qt::TabFocusReason);
        QTest::keyClick(ok, Qt::Key_Return);
        return QTest::qWaitFor([] { return !topLevel(QStringLiteral("FormLogin")); }) && program.session().LoggedIn;
    }
    TForm1 *main() { return program.mainWindow(); }
    // Tab to a button and press Enter.
    static void press(QAbstractButton *button)
    {
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Return);
    }

    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    Program program { folder.path(), ui };
};

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    // Enter presses the button that has the focus, once; Space still does too.
    void enterPressesFocusedButton_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("closes");
        QTest::newRow("统计报表 count") << Kind::Statistics << "BitBtn3" << false;
        QTest::newRow("统计报表 close") << Kind::Statistics << "BitBtn5" << true;
        QTest::newRow("数据库备份 cancel") << Kind::Backup << "BitBtn2" << true;
        QTest::newRow("修改密码 exit") << Kind::Password << "BitBtn2" << true;
        QTest::newRow("单位信息 close") << Kind::UnitSettings << "BitBtn3" << true;
        QTest::newRow("档案移交 exit") << Kind::Handover << "Button2" << true;
        QTest::newRow("查询利用 list all") << Kind::Query << "BitBtn2" << false;
        QTest::newRow("录入 return") << Kind::Editor << "BitBtn3" << true;
    }
    void enterPressesFocusedButton()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, button);
        QFETCH(bool, closes);
        test::ProgramFolderFixture folder;
        Opened w(folder, kind);
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        auto *pressed = w.child<QPushButton>(button);
        QSignalSpy clicks(pressed, &QAbstractButton::clicked);
        pressed->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(pressed->hasFocus());
        QTest::keyClick(pressed, Qt::Key_Return);
        QCOMPARE(clicks.size(), 1);
        if (closes)
            QTRY_VERIFY(!w.window || !w.window->isVisible());
        else
            QVERIFY(w.window->isVisible());
    }

    // Where Qt itself presses a dialog's button on Enter, it is pressed once, not twice.
    void enterOnQtsOwnDefaultButtonOnce()
    {
        QDialog dialog;
        auto *ok = new QPushButton(QStringLiteral("确定"), &dialog);
        auto *other = new QPushButton(QStringLiteral("取消"), &dialog);
        other->move(0, 40);
        ok->setDefault(true);
        QSignalSpy okClicks(ok, &QAbstractButton::clicked);
        QSignalSpy otherClicks(other, &QAbstractButton::clicked);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        other->setFocus(Qt::TabFocusReason);
        QTest::keyClick(other, Qt::Key_Return);
        QCOMPARE(otherClicks.size(), 1); // auto-default: the focused button is the default one
        ok->setFocus(Qt::TabFocusReason);
        QTest::keyClick(ok, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(okClicks.size(), 1);
    }

    // A box reached by Tab or Shift+Tab selects its text: typing replaces it.
    void keyboardEntrySelects_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("backwards");
        const struct {
            const char *window;
            Kind kind;
            const char *box;
        } boxes[] = {
            { "查询利用", Kind::Query, "Edit2" },
            { "单位信息", Kind::UnitSettings, "DBEdit19" },
            { "档案移交", Kind::Handover, "DBEdit2" },
            { "录入", Kind::Editor, "DBEdit7" },
        };
        for (const auto &b : boxes) {
            QTest::addRow("%s, Tab", b.window) << b.kind << b.box << false;
            QTest::addRow("%s, Shift+Tab", b.window) << b.kind << b.box << true;
        }
    }
    void keyboardEntrySelects()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, box);
        QFETCH(bool, backwards);
        test::ProgramFolderFixture folder;
        Opened w(folder, kind);
        QVERIFY(QTest::qWaitForWindowActive(w.window));
        auto *edit = w.child<QLineEdit>(box);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClicks(edit, QStringLiteral("12"));
        // Out to the neighbour on one side and back.
        QTest::keyClick(edit, Qt::Key_Tab, backwards ? Qt::NoModifier : Qt::ShiftModifier);
        QTRY_VERIFY(!edit->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClicks(edit, QStringLiteral("13"));
        QCOMPARE(edit->text(), QStringLiteral("13"));
    }

    // Every box is named to a screen reader by its own label, never by its group's caption.
    void boxesNamedByTheirLabels_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("录入") << Kind::Editor;
        QTest::newRow("查询利用") << Kind::Query;
        QTest::newRow("单位信息") << Kind::UnitSettings;
        QTest::newRow("档案移交") << Kind::Handover;
        QTest::newRow("统计报表") << Kind::Statistics;
        QTest::newRow("数据库备份") << Kind::Backup;
        QTest::newRow("修改密码") << Kind::Password;
        QTest::newRow("查看日志") << Kind::LogViewer;
        QTest::newRow("登录") << Kind::Login;
    }
    void boxesNamedByTheirLabels()
    {
        QFETCH(Kind, kind);
        test::ProgramFolderFixture folder;
        Opened w(folder, kind);
        QVERIFY(QTest::qWaitForWindowExposed(w.window));
        int boxes = 0;
        for (QWidget *box : w.window->findChildren<QWidget *>()) {
            const bool isBox = qobject_cast<QLineEdit *>(box) || qobject_cast<QPlainTextEdit *>(box)
                || qobject_cast<QAbstractSpinBox *>(box) || qobject_cast<QComboBox *>(box);
            if (!isBox || !box->isVisibleTo(w.window) || qobject_cast<QComboBox *>(box->parentWidget())
                || qobject_cast<QAbstractSpinBox *>(box->parentWidget()))
                continue;
            ++boxes;
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(box);
            QVERIFY(accessible);
            const QString name = accessible->text(QAccessible::Name).trimmed();
            QVERIFY2(!name.isEmpty(), qPrintable(box->objectName()));
            for (QWidget *up = box->parentWidget(); up; up = up->parentWidget()) {
                if (auto *group = qobject_cast<QGroupBox *>(up))
                    QVERIFY2(name != group->title(), qPrintable(box->objectName() + QLatin1Char(' ') + name));
            }
        }
        QVERIFY(boxes > 0 || kind == Kind::Statistics);
    }

    // A window that closes gives the focus back to where it was when it opened.
    void closingReturnsTheFocus()
    {
        QWidget main;
        auto *box = new QLineEdit(&main);
        auto *bar = new QToolButton(&main);
        bar->move(0, 40);
        bar->setFocusPolicy(Qt::TabFocus);
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        box->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(box->hasFocus());
        QDialog dialog(&main);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        bar->setFocus(Qt::OtherFocusReason); // the focus drifted to the tool bar meanwhile
        dialog.hide();
        main.windowHandle()->requestActivate(); // as the window manager does, at once or later
        QTRY_VERIFY(box->hasFocus());
    }

    // A working window opened in the main window puts the focus in its first box, also from
    // the menu while the record list's grid had it.
    void embeddedWindowTakesTheFocus()
    {
        test::ProgramFolderFixture folder;
        Run run { folder };
        QVERIFY(run.logIn());
        TForm1 *main = run.main();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        main->findChild<QAction *>(QStringLiteral("N7891"))->trigger();
        QTRY_VERIFY(main->embeddedWindow() && main->embeddedWindow()->isAncestorOf(QApplication::focusWidget()));
        auto *grid = main->embeddedWindow()->findChild<QAbstractItemView *>();
        QVERIFY(grid);
        grid->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(grid->hasFocus());
        main->findChild<QAction *>(QStringLiteral("N8"))->trigger();
        QTRY_VERIFY(QApplication::focusWidget());
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Edit1"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("12"));
        QCOMPARE(main->embeddedWindow()->findChild<QLineEdit *>(QStringLiteral("Edit1"))->text(), QStringLiteral("12"));
        run.ui.answers = { Ui::Answer::Cancel };
        main->close();
    }

    // The statistics window opens in the middle of the screen, not of the window it came
    // from.
    void statisticsCentredOnTheScreen()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QWidget main;
        main.setGeometry(10, 10, 400, 300);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QPointer<TFrm_tjbb> window = new TFrm_tjbb(dm, ui, &main);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QPoint offset = window->frameGeometry().center() - window->screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        window->close();
    }

    // The question whose Yes cannot be undone answers No to Enter; a box is wide enough
    // for its caption.
    void messageBoxes_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("enter");
        QTest::newRow("duplicate question") << int(Ui::Buttons::YesNoDefaultNo) << int(Ui::Answer::No);
        QTest::newRow("plain notice") << int(Ui::Buttons::Ok) << int(Ui::Answer::Ok);
    }
    void messageBoxes()
    {
        QFETCH(int, buttons);
        QFETCH(int, enter);
        const QString caption = QStringLiteral("档案管理系统  V0.1");
        int width = 0;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->focusWidget())
                return;
            poll.stop();
            width = box->width();
            QTest::keyClick(box->focusWidget(), Qt::Key_Return);
        });
        poll.start();
        QTimer::singleShot(10000, &poll, [] {
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        QCOMPARE(int(QtUi().messageBox(QStringLiteral("是"), caption, Ui::Icon::Information, Ui::Buttons(buttons))),
            enter);
        QFont bold = QApplication::font();
        bold.setBold(true);
        QVERIFY2(width > QFontMetrics(bold).horizontalAdvance(caption) + 60, qPrintable(QString::number(width)));
    }

    // With the record editor up (stay-on-top, not modal), the main window's other windows
    // and message boxes open in front of it; once it is gone they open as before.
    void windowsOpenInFrontOfTheEditor()
    {
        test::ProgramFolderFixture folder;
        Run run { folder };
        QVERIFY(run.logIn());
        TForm1 *main = run.main();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        main->move(150, 100);
        QTRY_COMPARE(main->pos(), QPoint(150, 100));

        // 档案录入, then 添加(&A), from the keyboard.
        Run::press(main->findChild<QToolButton *>(QStringLiteral("bsSkinSpeedButton1")));
        QTRY_VERIFY(main->embeddedWindow());
        Run::press(main->embeddedWindow()->findChild<QPushButton *>(QStringLiteral("Button1")));
        QPointer<QWidget> editor;
        QTRY_VERIFY((editor = topLevel(QStringLiteral("Frm_AEsj"))));
        QVERIFY(hasStayOnTopHint(editor));

        // The editor stands in the middle of the main window, not of the screen.
        const QPoint centre = editor->frameGeometry().center();
        QVERIFY((centre - main->screen()->availableGeometry().center()).manhattanLength() > 100);
        const QPoint offset = centre - main->frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 6, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

        const char *commands[][2] = { { "N6", "FrmXGMM" }, { "N3", "Frm_jcsj" }, { "N4", "FrmCKRZ" } };
        for (const auto &command : commands) {
            main->findChild<QAction *>(QString::fromLatin1(command[0]))->trigger();
            QPointer<QWidget> opened;
            QTRY_VERIFY((opened = topLevel(QString::fromLatin1(command[1]))));
            QVERIFY2(hasStayOnTopHint(opened), command[1]);
            opened->close();
            QTRY_VERIFY(!opened || !opened->isVisible());
        }

        // A message box too.
        bool boxInFront = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->focusWidget())
                return;
            poll.stop();
            boxInFront = hasStayOnTopHint(box);
            QTest::keyClick(box->focusWidget(), Qt::Key_Return);
        });
        poll.start();
        QTimer::singleShot(10000, &poll, [] { // a box never answered must not hang the run
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        QCOMPARE(
            QtUi().messageBox(QStringLiteral("提示"), QStringLiteral("提示"), Ui::Icon::Information, Ui::Buttons::Ok),
            Ui::Answer::Ok);
        QVERIFY(boxInFront);

        // The editor goes: a window opened now is an ordinary one again.
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        Run::press(editor->findChild<QPushButton *>(QStringLiteral("BitBtn3")));
        QTRY_VERIFY(editor.isNull());
        main->findChild<QAction *>(QStringLiteral("N3"))->trigger();
        QWidget *settings = nullptr;
        QTRY_VERIFY((settings = topLevel(QStringLiteral("Frm_jcsj"))));
        QVERIFY(!settings->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!settings->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        settings->close();

        run.ui.answers = { Ui::Answer::Cancel };
        main->close();
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
