#include "Backup.h"
#include "Cause.h"
#include "Program.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "TMac_About.h"
#include "TestSupport.h"
#include "Tmain.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace dagl;

namespace {

using test::topLevel;

int countTopLevel(const QString &name)
{
    int n = 0;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        n += w->objectName() == name;
    return n;
}

// A program run up to its main window with the operator logged in.
struct Run
{
    explicit Run(test::ProgramFolderFixture &f) : folder(f) {}
    test::ProgramFolderFixture &folder;
    test::FakeUi ui;
    Program program{folder.path(), ui};
    TForm1 *main() { return program.mainWindow(); }
    QString panel(int i) { return main()->findChild<QLabel *>(QStringLiteral("bsSkinStatusPanel%1").arg(i))->text(); }

    bool logIn()
    {
        main()->show();
        if (!QTest::qWaitFor([] { return topLevel(QStringLiteral("FormLogin")) != nullptr; }))
            return false;
        QTest::mouseClick(topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")),
                          Qt::LeftButton);
        return QTest::qWaitFor([] { return !topLevel(QStringLiteral("FormLogin")); }) && program.session().LoggedIn;
    }
    void click(const char *tool)
    {
        QTest::mouseClick(main()->findChild<QToolButton *>(QString::fromLatin1(tool)), Qt::LeftButton);
    }
};

QString todaysCopy(test::ProgramFolderFixture &folder)
{
    return folder.path() + QStringLiteral("backup/") + Backup::dayFolderName(QDate::currentDate())
           + QStringLiteral("/kdmx.mdb");
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void loginShowsOperatorAndBranding_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("maker");
        QTest::addColumn<QString>("contacts");
        QTest::newRow("empty branding") << QString() << "  " << "出品" << "QQ在线支持：   联系电话：";
        QTest::newRow("branding") << "[InitParams]\r\nSoftName=青穗档案\r\nVer=V2.1\r\nCompanyName=青穗软件\r\nQQ=10001\r\nTel=0755-1"
                                  << "青穗档案  V2.1" << "青穗软件出品" << "QQ在线支持：10001   联系电话：0755-1";
    }
    void loginShowsOperatorAndBranding()
    {
        QFETCH(QString, ini);
        QFETCH(QString, title);
        QFETCH(QString, maker);
        QFETCH(QString, contacts);
        test::ProgramFolderFixture folder;
        if (!ini.isEmpty()) {
            QDir(folder.path()).mkdir(QStringLiteral("InitDir"));
            QFile f(folder.path() + QStringLiteral("InitDir/Init.ini"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QStringEncoder("GBK")(ini));
        }
        Run run{folder};
        QCOMPARE(Ui::applicationTitle(), Program::kFirstTitle);
        QCOMPARE(run.main()->windowTitle(), QStringLiteral("档案管理系统"));
        QVERIFY(run.logIn());
        QCOMPARE(run.panel(2), QStringLiteral("操作员：管理员"));
        QCOMPARE(Ui::applicationTitle(), title);
        QCOMPARE(run.panel(1), maker);
        QCOMPARE(run.panel(3), contacts);
        QCOMPARE(folder.count(QStringLiteral("rz")), 1);
        run.ui.answers = {Ui::Answer::Cancel};
        run.main()->close();
    }

    // A folder prepared by the set-up's tool: the program's name, version and maker show.
    void setUpBrandingShows()
    {
        test::ProgramFolderFixture folder;
        QProcess tool;
        tool.start(QStringLiteral(DAGL_INITDB), { folder.path(), QStringLiteral("--branding") });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        Run run { folder };
        QVERIFY(run.logIn());
        QCOMPARE(Ui::applicationTitle(), QStringLiteral("档案管理系统  V") + QStringLiteral(DAGL_VERSION));
        QCOMPARE(run.panel(1), QStringLiteral("青穗软件出品"));
        run.ui.answers = { Ui::Answer::Cancel };
        run.main()->close();
    }

    void exitQuestionAndDayCopy()
    {
        test::ProgramFolderFixture folder;
        {
            Run run{folder};
            QVERIFY(run.logIn());
            run.ui.answers = {Ui::Answer::Cancel};
            run.click("bsSkinSpeedButton7");
            QCOMPARE(run.ui.lastText(), QStringLiteral("是否关闭本系统？"));
            QCOMPARE(run.ui.shown.last().caption, QStringLiteral("提示"));
            QCOMPARE(run.ui.shown.last().buttons, Ui::Buttons::OkCancel);
            QVERIFY(run.main()->isVisible());
            QCOMPARE(folder.count(QStringLiteral("rz")), 1);
            QVERIFY(!QFile::exists(folder.path() + QStringLiteral("backup")));

            run.click("bsSkinSpeedButton7");
            QVERIFY(!run.main()->isVisible());
            QCOMPARE(run.ui.quitRequests, 1);
            QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr='操作员：管理员退出系统'")), 1);
            QVERIFY(QFile::exists(todaysCopy(folder)));
        }
        {
            Run again{folder};
            QVERIFY(again.logIn());
            again.main()->close();
        }
        // One copy for the day, the later one: it holds both runs' records.
        QCOMPARE(QDir(QFileInfo(todaysCopy(folder)).path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(test::rowCount(*test::openCopy(todaysCopy(folder)), QStringLiteral("rz")), 4);
    }

    void abandonedLoginEndsWithoutExitSteps()
    {
        test::ProgramFolderFixture folder;
        Run run{folder};
        run.main()->show();
        QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
        QTest::mouseClick(topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn2")),
                          Qt::LeftButton);
        QTRY_VERIFY(!run.main()->isVisible());
        QVERIFY(run.ui.texts().isEmpty()); // no exit question
        QVERIFY(run.ui.quitRequests >= 1);
        QCOMPARE(folder.count(QStringLiteral("rz")), 0);
        QVERIFY(!QFile::exists(folder.path() + QStringLiteral("backup")));
    }

    // The exit copy cannot be made: the operator is told why, and the program ends all the
    // same, whichever way it is closed.
    void exitCopyThatFailsIsReported_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("backup folder blocked by a file") << "blocked" << false;
        QTest::newRow("read-only program folder") << "readonly" << true;
        QTest::newRow("full disk") << "full" << false;
    }
    void exitCopyThatFailsIsReported()
    {
        QFETCH(QString, obstacle);
        QFETCH(bool, byMenu);
        test::SmallDisk disk;
        test::ProgramFolderFixture folder(true, obstacle == QLatin1String("blocked") ? QString() : disk.path());
        // A read-only view of the program folder, where the test may mount one.
        QTemporaryDir view;
        bool readOnly = false;
        QString programFolder = folder.path();
        if (obstacle == QLatin1String("readonly")) {
            readOnly = test::mountReadOnly(folder.path(), view.path());
            if (readOnly)
                programFolder = view.path() + QLatin1Char('/');
        }
        QStringList causes;
        {
            test::FakeUi ui;
            Program program(programFolder, ui);
            TForm1 *main = program.mainWindow();
            main->show();
            QTRY_VERIFY(topLevel(QStringLiteral("FormLogin")));
            QTest::mouseClick(
                topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")),
                Qt::LeftButton);
            QTRY_VERIFY(!topLevel(QStringLiteral("FormLogin")));
            QVERIFY(program.session().LoggedIn);
            if (obstacle == QLatin1String("blocked")) {
                QFile blocker(folder.path() + QStringLiteral("backup"));
                QVERIFY(blocker.open(QIODevice::WriteOnly));
                causes << QStringLiteral("%1 不是文件夹")
                              .arg(QDir::toNativeSeparators(folder.path() + QStringLiteral("backup/")));
            } else if (readOnly) {
                causes << causeText(Cause::ReadOnly);
            } else {
                disk.fill(0); // also what stands in for a read-only folder where nothing can be mounted
                causes = disk.causeTexts();
            }
            if (byMenu)
                main->findChild<QAction *>(QStringLiteral("N22"))->trigger();
            else
                QTest::mouseClick(main->findChild<QToolButton *>(QStringLiteral("bsSkinSpeedButton7")), Qt::LeftButton);
            disk.release();
            QTRY_VERIFY(!main->isVisible());
            QCOMPARE(ui.quitRequests, 1);
            QCOMPARE(ui.texts().first(), QStringLiteral("是否关闭本系统？"));
            QCOMPARE(ui.shown.size(), 2);
            QCOMPARE(ui.shown.last().icon, Ui::Icon::Critical);
            const QString shown = ui.lastText();
            QCOMPARE(shown.section(QLatin1Char('\n'), 0, 0), QStringLiteral("退出时未能备份数据库！"));
            QVERIFY2(causes.contains(shown.section(QLatin1Char('\n'), 1)), qPrintable(shown));
        }
        if (readOnly)
            test::unmountReadOnly(view.path());
        QVERIFY(!QFile::exists(todaysCopy(folder)));
    }

    void backupAndRestoreNeedTheRight()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("update qx set sjbfhf='0'"));
        Run run{folder};
        QVERIFY(run.logIn());
        for (auto command : {&TForm1::N2Click, &TForm1::N15Click}) {
            run.ui.shown.clear();
            (run.main()->*command)();
            QCOMPARE(run.ui.texts(), QStringList{QStringLiteral("对不起，您没有该权限！")});
            QCOMPARE(run.ui.shown.last().caption, QStringLiteral("提示"));
            QCOMPARE(run.ui.shown.last().icon, Ui::Icon::Information);
        }
        run.ui.answers = {Ui::Answer::Cancel};
        run.main()->close();
    }

    void windowsFromTheHub()
    {
        test::ProgramFolderFixture folder;
        Run run{folder};
        QVERIFY(run.logIn());

        // One settings window, however often it is asked for.
        run.click("bsSkinSpeedButton5");
        run.main()->N3Click();
        QTRY_VERIFY(topLevel(QStringLiteral("Frm_jcsj")));
        QCOMPARE(countTopLevel(QStringLiteral("Frm_jcsj")), 1);
        QVERIFY(run.main()->isEnabled()); // modeless
        topLevel(QStringLiteral("Frm_jcsj"))->close();

        // The handover and about windows are modal and gone once closed.
        run.click("bsSkinSpeedButton2");
        QPointer<QWidget> handover = topLevel(QStringLiteral("Frm_dayj"));
        QVERIFY(handover && handover->isModal());
        handover->close();
        QTRY_VERIFY(handover.isNull());

        run.click("bsSkinSpeedButton6");
        QPointer<QWidget> about = topLevel(QStringLiteral("Mac_About"));
        QVERIFY(about);
        QCOMPARE(about->windowTitle(), QStringLiteral("关于本软件"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label4"))->text(), QStringLiteral("最新版本："));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("  联系电话："));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label8"))->text(), QStringLiteral("  官方网站："));
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(about.isNull());

        // Embedding replaces the window in the client panel, hidden or not.
        QPointer<Tmain> first = run.main()->openEmbedded([](QWidget *host) { return new Tmain(nullptr, host); });
        QVERIFY(first->isEmbedded() && first->parentWidget() == run.main()->hostPanel());
        first->hide();
        QPointer<Tmain> second = run.main()->openEmbedded([](QWidget *host) { return new Tmain(nullptr, host); });
        QVERIFY(first.isNull());
        QCOMPARE(run.main()->embeddedWindow(), second.data());
        QVERIFY(second->isVisible());

        run.ui.answers = {Ui::Answer::Cancel};
        run.main()->close();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
