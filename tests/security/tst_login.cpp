#include "CatalogueLocation.h"
#include "Error.h"
#include "IniFile.h"
#include "Login.h"
#include "PasswordChange.h"
#include "PgMaintenance.h"
#include "ServerCatalogue.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

// Makes the login role `role` on the folder's server and has the folder's myini.ini connect
// as it, with a password file of its own.
void connectAs(test::ProgramFolderFixture &folder, const QString &role)
{
    PgConnection &server = folder.db().server();
    server.executeNative(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'clerk-pw'").arg(role));
    const QString passFile = folder.path() + QStringLiteral("clerk.pgpass");
    QFile file(passFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("127.0.0.1:*:*:%1:clerk-pw\n").arg(role).toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    CatalogueLocation location;
    location.kind = CatalogueLocation::Kind::Server;
    location.server = folder.server();
    location.server.user = role;
    location.server.passFile = passFile;
    location.save(IniFile::settingsOf(folder.path()));
}

} // namespace

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

    // Nobody to choose: the window says why and what the administrator can do, and 登录
    // still answers as it always does.
    void operatorListProblemShown_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("shown"); // %1: the catalogue's file or server database
        QTest::newRow("no operators") << "empty"
                                      << "操作员表 gly 里没有操作员，无法登录。\n请数据库管理员在 gly 表中添加操作员。";
        if (test::onServer()) {
            QTest::newRow("server database without the tables")
                << "tables"
                << "无法读取操作员名单：数据库服务器上的数据库“%1”里没有这个表（操作员表 gly），本系统的表还没有建立。\n"
                   "请数据库管理员建表：dagl-initdb --server \"连接设置\"（见 README）。";
            QTest::newRow("clerk account without rights")
                << "rights"
                << "无法读取操作员名单：数据库服务器上的账户“clerk_norights”权限不足，不能读写本系统的表。\n"
                   "请数据库管理员给这个账户授权：dagl-initdb --server \"连接设置\" --grant clerk_norights"
                   "（见 README 的“多台工作站共用一台服务器”）。";
        } else {
            QTest::newRow("file without the tables")
                << "tables"
                << "无法读取操作员名单：数据库文件 %1 里没有这个表（操作员表 gly）。\n"
                   "请从备份复制回数据库文件，或用 dagl-initdb 建立新的数据库。";
        }
    }
    void operatorListProblemShown()
    {
        QFETCH(QString, fault);
        QFETCH(QString, shown);
        test::ProgramFolderFixture folder;
        if (fault == QLatin1String("empty")) {
            folder.exec(QStringLiteral("delete from gly"));
        } else if (fault == QLatin1String("tables")) {
            for (const QString &table : folder.db().tableNames())
                folder.exec(QStringLiteral("drop table %1").arg(table));
        } else {
            connectAs(folder, QStringLiteral("clerk_norights"));
        }
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(dm.isConnected());
        Session session;
        TFormLogin login(dm, session, ui);
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        auto *problem = login.findChild<QLabel *>(QStringLiteral("LabelProblem"));
        QVERIFY(problem);
        QVERIFY(problem->isVisible());
        const QString where = folder.server().host.isEmpty() ? folder.databasePath() : folder.server().database;
        QCOMPARE(problem->text(), shown.contains(QLatin1String("%1")) ? shown.arg(where) : shown);
        QCOMPARE(problem->accessibleName(), problem->text());
        // The whole text fits in the window.
        QVERIFY(problem->geometry().bottom() <= login.height());
        QCOMPARE(login.findChild<QComboBox *>(QStringLiteral("ComboBox1"))->count(), 0);
        QTest::mouseClick(login.findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QCOMPARE(ui.texts(), QStringList{QStringLiteral("请输入用户名")});
        QVERIFY(login.isVisible());
        login.close();
    }

    void noProblemShownWithOperators()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        TFormLogin login(dm, session, ui);
        login.show();
        QVERIFY(!login.findChild<QLabel *>(QStringLiteral("LabelProblem"))->isVisible());
        QCOMPARE(login.size(), QSize(360, 250));
        login.close();
    }

    // A clerk's account given the catalogue's use by the database tool does the day's
    // work: logs in (with its log record), saves, changes and deletes a record in one
    // transaction as an import does, and changes the operator's password.
    void grantedClerkWorks()
    {
        DAGL_SERVER_ONLY();
        // The number indexes are the owner's to make; the clerk finds them made.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("number indexes not made")));
        test::ProgramFolderFixture folder;
        connectAs(folder, QStringLiteral("clerk_granted"));
        ServerCatalogue::grant(folder.db().server(), QStringLiteral("clerk_granted"));

        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(dm.isConnected());
        QCOMPARE(dm.ADOConnection1.server().scalarNative(QStringLiteral("SELECT current_user")).toString(),
                 QStringLiteral("clerk_granted"));
        Session s;
        TFormLogin login(dm, s, ui);
        login.show();
        QVERIFY(!login.findChild<QLabel *>(QStringLiteral("LabelProblem"))->isVisible());
        auto *password = login.findChild<QLineEdit *>(QStringLiteral("Edit1"));
        password->setFocus();
        QTest::keyClick(password, Qt::Key_Return);
        QTRY_VERIFY(!login.isVisible());
        QVERIFY(s.LoggedIn);
        QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr='操作员：管理员登录系统'")), 1);

        Dataset &records = dm.Twjml;
        records.open();
        {
            Transaction transaction(dm.ADOConnection1);
            for (const char *title : {"第一件", "第二件"}) {
                records.append();
                records.setText(QStringLiteral("TM"), QString::fromUtf8(title));
                records.post();
            }
            transaction.commit();
        }
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 2);
        records.first();
        records.edit();
        records.setText(QStringLiteral("TM"), QStringLiteral("改过的"));
        records.post();
        records.deleteRecord();
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 1);

        const PasswordChange::Account account = PasswordChange::load(dm, s.OperatorName);
        QCOMPARE(PasswordChange::save(dm, s.OperatorName, account, QString(), QStringLiteral("new"), QStringLiteral("new")),
                 PasswordChange::Outcome::Changed);
        QCOMPARE(folder.scalar(QStringLiteral("select mm from gly where id=1")).toString(), QStringLiteral("new"));
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.texts().join(QLatin1Char('\n'))));

        // A backup is a clerk's work too; compaction is the tables' owner's, and says so.
        PgConnection &server = dm.ADOConnection1.server();
        const QTemporaryDir backups;
        QCOMPARE(PgMaintenance::backup(server, backups.filePath(QStringLiteral("kdmx.dump"))), QString());
        QVERIFY(QFileInfo(backups.filePath(QStringLiteral("kdmx.dump"))).size() > 0);
        QCOMPARE(PgMaintenance::compact(server),
                 QStringLiteral("整理数据库失败：账户“clerk_granted”不是表 gly、ljserver、qx、rz、文件目录、移交表 的所有者，"
                                "只有表的所有者（建表的管理员账户）才能整理。"));
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
