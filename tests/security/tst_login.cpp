#include "Error.h"
#include "Login.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace dagl;

Q_DECLARE_METATYPE(dagl::Login::Outcome)

class TestLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void attempt_data()
    {
        QTest::addColumn<QString>("name");     // stored in gly and chosen in the list
        QTest::addColumn<QVariant>("stored");  // gly.mm
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QVariant>("right");   // qx.sjbfhf; invalid: no qx row
        QTest::addColumn<Login::Outcome>("outcome");
        QTest::addColumn<QString>("sjbfhf");

        const auto in = Login::Outcome::LoggedIn, wrong = Login::Outcome::WrongPassword;
        QTest::newRow("empty password") << "张三" << QVariant("") << "" << QVariant("1") << in << "1";
        QTest::newRow("null password") << "张三" << QVariant() << "" << QVariant("1") << in << "1";
        QTest::newRow("exact password") << "张三" << QVariant("Ab c") << "Ab c" << QVariant("1") << in << "1";
        QTest::newRow("other case refused") << "张三" << QVariant("Abc") << "abc" << QVariant("1") << wrong << "";
        QTest::newRow("blank added refused") << "张三" << QVariant("abc") << "abc " << QVariant("1") << wrong << "";
        QTest::newRow("stored blank kept") << "张三" << QVariant(" abc") << "abc" << QVariant("1") << wrong << "";
        QTest::newRow("no rights row") << "张三" << QVariant("") << "" << QVariant() << in << "0";
        QTest::newRow("right 0") << "张三" << QVariant("") << "" << QVariant("0") << in << "0";
        QTest::newRow("right True") << "张三" << QVariant("") << "" << QVariant("True") << in << "0";
        QTest::newRow("right 01") << "张三" << QVariant("") << "" << QVariant("01") << in << "0";
        QTest::newRow("right empty") << "张三" << QVariant("") << "" << QVariant("") << in << "0";
        QTest::newRow("apostrophe in name") << "O'Brien" << QVariant("pw") << "pw" << QVariant("1") << in << "1";
        QTest::newRow("blanks around name") << " 李四 " << QVariant("") << "" << QVariant("1") << in << "1";
    }
    void attempt()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, stored);
        QFETCH(QString, typed);
        QFETCH(QVariant, right);
        QFETCH(Login::Outcome, outcome);
        QFETCH(QString, sjbfhf);

        test::ProgramFolderFixture folder;
        {
            Dataset gly(QStringLiteral("gly"));
            gly.setConnection(&folder.db());
            gly.setTableName(QStringLiteral("gly"));
            gly.open();
            gly.append();
            gly.setText(QStringLiteral("glymc"), name);
            gly.setValue(QStringLiteral("mm"), stored);
            gly.post();
            const QString id = gly.text(QStringLiteral("id"));
            if (right.isValid()) {
                Dataset qx(QStringLiteral("qx"));
                qx.setConnection(&folder.db());
                qx.setTableName(QStringLiteral("qx"));
                qx.open();
                qx.append();
                qx.setText(QStringLiteral("glyid"), id);
                for (const QString &code : permissionCodeList())
                    qx.setText(code, QStringLiteral("1"));
                qx.setText(QStringLiteral("sjbfhf"), right.toString());
                qx.post();
            }
        }
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        QCOMPARE(Login::attempt(dm, session, name, typed, permissionCodeList()), outcome);
        if (outcome != Login::Outcome::LoggedIn) {
            QVERIFY(!session.LoggedIn);
            QCOMPARE(folder.count(QStringLiteral("rz")), 0);
            return;
        }
        QVERIFY(session.LoggedIn);
        QCOMPARE(session.OperatorName, name.trimmed());
        QCOMPARE(session.Permissions.size(), 36);
        QCOMPARE(session.permission(QStringLiteral("sjbfhf")), sjbfhf);
        QCOMPARE(folder.count(QStringLiteral("rz")), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select rznr from rz")).toString(),
                 QStringLiteral("操作员：") + name.trimmed() + QStringLiteral("登录系统"));
        const QDateTime when = folder.scalar(QStringLiteral("select sj from rz")).toDateTime();
        QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
    }

    void noNameAndBrokenRights()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        QCOMPARE(Login::attempt(dm, session, QStringLiteral("  "), QString(), permissionCodeList()),
                 Login::Outcome::NoName);

        // A rights row without all its columns: reported, and nobody is logged in.
        folder.exec(QStringLiteral("drop table qx"));
        folder.exec(QStringLiteral("create table qx (glyid VARCHAR(10), zjxf VARCHAR(1))"));
        folder.exec(QStringLiteral("insert into qx (glyid, zjxf) values ('1', '1')"));
        bool failed = false;
        try {
            Login::attempt(dm, session, QStringLiteral("管理员"), QString(), permissionCodeList());
        } catch (const Error &) {
            failed = true;
        }
        QVERIFY(failed);
        QVERIFY(!session.LoggedIn);
        QVERIFY(session.OperatorName.isEmpty());
        QCOMPARE(folder.count(QStringLiteral("rz")), 0);
    }

    void windowFlow()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into gly (id, glymc, mm) values (5, '王五', 'x')"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        TFormLogin login(dm, session, ui);
        QCOMPARE(login.windowTitle(), QStringLiteral("登录"));
        login.show();
        QVERIFY(QTest::qWaitForWindowActive(&login));
        auto *names = login.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
        auto *password = login.findChild<QLineEdit *>(QStringLiteral("Edit1"));
        QCOMPARE(names->count(), 2);
        QCOMPARE(names->currentText(), QStringLiteral("管理员")); // lowest id first

        names->setCurrentIndex(1);
        names->setFocus();
        QTest::keyClick(names, Qt::Key_Return);
        QTRY_VERIFY(password->hasFocus());
        QTest::keyClicks(password, QStringLiteral("y"));
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(ui.lastText(), QStringLiteral("用户名或者密码错误"));
        QCOMPARE(ui.shown.last().caption, QStringLiteral("错误"));
        QCOMPARE(ui.shown.last().icon, Ui::Icon::Information);
        QVERIFY(login.isVisible());
        QCOMPARE(password->text(), QStringLiteral("y")); // contents unchanged

        password->clear();
        QTest::keyClicks(password, QStringLiteral("x"));
        QTest::keyClick(password, Qt::Key_Enter);
        QTRY_VERIFY(!login.isVisible());
        QCOMPARE(login.result(), int(QDialog::Accepted));
        QCOMPARE(session.OperatorName, QStringLiteral("王五"));
        QCOMPARE(ui.quitRequests, 0);
        QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr='操作员：王五登录系统'")), 1);
    }

    void cancelAndCloseEndTheProgram_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("取消") << true;
        QTest::newRow("window closed") << false;
    }
    void cancelAndCloseEndTheProgram()
    {
        QFETCH(bool, byButton);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        TFormLogin login(dm, session, ui);
        login.show();
        if (byButton)
            QTest::mouseClick(login.findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
        else
            login.close();
        QVERIFY(!login.isVisible());
        QCOMPARE(ui.quitRequests, 1);
        QVERIFY(!session.LoggedIn);
        QCOMPARE(folder.count(QStringLiteral("rz")), 0);
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
