#include "Backup.h"
#include "Cause.h"
#include "Program.h"
#include "Session.h"
#include "TDataModule5.h"
#include "TFrmDataBackUp.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList listed(QWidget *window)
{
    QStringList names;
    auto *files = window->findChild<QListWidget *>(QStringLiteral("FileListBox1"));
    for (int i = 0; i < files->count(); ++i)
        names << files->item(i)->text();
    return names;
}

void touchFile(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("not a folder");
}

void clickOk(QWidget *window)
{
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
}

using test::topLevel;

QAction *menuEntry(QWidget *main, const char *name)
{
    return main->findChild<QAction *>(QString::fromLatin1(name));
}

// Shows the main window and logs in as the fixture's operator (empty password).
bool logIn(Program &program)
{
    program.mainWindow()->show();
    if (!QTest::qWaitFor([] { return topLevel(QStringLiteral("FormLogin")) != nullptr; }))
        return false;
    QTest::mouseClick(
        topLevel(QStringLiteral("FormLogin"))->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    return QTest::qWaitFor([] { return !topLevel(QStringLiteral("FormLogin")); }) && program.session().LoggedIn;
}

// Opens the restore window from the menu, chooses `name` in `folder` (the folder it shows
// when empty) and clicks OK. False when the window or the file is not there.
bool restoreThrough(QWidget *main, const QString &folder, const QString &name)
{
    menuEntry(main, "N15")->trigger();
    auto *window = static_cast<TFrmDataBackUp *>(topLevel(QStringLiteral("FrmDataBackUp")));
    if (!window || window->windowTitle() != QStringLiteral("数据库恢复"))
        return false;
    if (!folder.isEmpty())
        window->setCurrentFolder(folder);
    auto *files = window->findChild<QListWidget *>(QStringLiteral("FileListBox1"));
    const QList<QListWidgetItem *> found = files->findItems(name, Qt::MatchExactly);
    if (found.size() != 1)
        return false;
    files->setCurrentItem(found.first());
    clickOk(window);
    return true;
}

const QString todaysName = Backup::manualBackupName(QDate::currentDate());

// Notes whether the busy cursor was up whenever a progress panel was asked for.
class WatchingUi : public test::FakeUi {
public:
    std::unique_ptr<Progress> progress(const QString &label) override
    {
        const QCursor *cursor = QGuiApplication::overrideCursor();
        busyCursor << (cursor && cursor->shape() == Qt::WaitCursor);
        return FakeUi::progress(label);
    }
    QVector<bool> busyCursor;
};

// A catalogue of several megabytes, whose copy takes many steps.
void grow(test::ProgramFolderFixture &folder)
{
    folder.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<40000) "
                               "insert into rz (rznr,sj) select hex(randomblob(60)), '2026/12/10 8:00:00' from n"));
}

// Files of a folder and its sub-folders, by their path below it.
QStringList filesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

class TestBackupWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void backupMode()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrmDataBackUp window(dm, ui, QStringLiteral("0"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("数据库备份"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("请选择数据备份的目录"));
        // The BACKUP folder is made and shown.
        QCOMPARE(window.currentFolder(), QDir(folder.path() + QStringLiteral("BACKUP")).absolutePath());
        QVERIFY(listed(&window).isEmpty());

        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));
        QCOMPARE(ui.shown.last().caption, QStringLiteral("提示"));
        QCOMPARE(listed(&window), QStringList { todaysName });
        QCOMPARE(test::rowCount(
                     *test::openCopy(folder.path() + QStringLiteral("BACKUP/") + todaysName), QStringLiteral("gly")),
            1);

        // The second backup of the day asks; No keeps the first.
        ui.answers = { Ui::Answer::No };
        clickOk(&window);
        QCOMPARE(ui.shown.size(), 3);
        QCOMPARE(ui.shown[1].text, QStringLiteral("发现相同文件名的数据库文件(%1)\n是否覆盖?").arg(todaysName));
        QCOMPARE(ui.shown[1].caption, QStringLiteral("警告"));
        QCOMPARE(ui.shown[1].icon, Ui::Icon::Warning);
        QCOMPARE(ui.shown[1].buttons, Ui::Buttons::YesNo);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份失败！"));
        QCOMPARE(ui.shown.last().caption, QStringLiteral("错误"));
        ui.answers = { Ui::Answer::Yes };
        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));

        // Another folder, reached through the folder list, then removed under the window.
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("other")));
        window.setCurrentFolder(folder.path() + QStringLiteral("other"));
        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));
        QVERIFY(QFile::exists(folder.path() + QStringLiteral("other/") + todaysName));
        QVERIFY(QDir(folder.path() + QStringLiteral("other")).removeRecursively());
        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份失败！\n") + causeText(Cause::NotFound));
        QVERIFY(window.isVisible()); // the window stays open
        QCOMPARE(ui.quitRequests, 0);
    }

    // A file named "backup" where the folder should be: the backup is refused with the
    // cause, and nothing is written into the folder the list shows instead; a folder the
    // operator then chooses takes the backup.
    void fileWhereTheBackupFolderShouldBe()
    {
        test::ProgramFolderFixture folder;
        touchFile(folder.path() + QStringLiteral("backup"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrmDataBackUp window(dm, ui, QStringLiteral("0"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString shown = window.currentFolder();
        const QStringList before = QDir(shown).entryList(QDir::Files);
        clickOk(&window);
        QCOMPARE(ui.texts(),
            QStringList { QStringLiteral("数据备份失败！\n无法建立备份文件夹：%1 不是文件夹")
                              .arg(QDir::toNativeSeparators(folder.path() + QStringLiteral("backup/"))) });
        QCOMPARE(ui.shown.last().caption, QStringLiteral("错误"));
        QCOMPARE(QDir(shown).entryList(QDir::Files), before);
        QCOMPARE(QDir(folder.path()).entryList({ QStringLiteral("*kdmx*") }, QDir::Files), QStringList());

        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("chosen")));
        window.setCurrentFolder(folder.path() + QStringLiteral("chosen"));
        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));
        QVERIFY(QFile::exists(folder.path() + QStringLiteral("chosen/")
            + Backup::manualBackupName(QDate::currentDate(), test::onServer())));
    }

    // A backup shows the busy cursor and the progress panel; 取消 stops it and leaves nothing.
    void backupShowsProgressAndStops()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        grow(folder);
        WatchingUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrmDataBackUp window(dm, ui, QStringLiteral("0"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ui.stopProgressAt = 3; // the busy bar, one step of the copy, then 取消
        clickOk(&window);
        QCOMPARE(ui.progressLabels, QStringList { "正在备份数据库……" });
        QCOMPARE(ui.busyCursor, QVector<bool> { true });
        QCOMPARE(ui.texts(), QStringList { "数据备份失败！\n操作已取消。" });
        QCOMPARE(filesBelow(window.currentFolder()), QStringList());
        QVERIFY(!QGuiApplication::overrideCursor());

        ui.stopProgressAt = 0;
        const int before = ui.progressSteps;
        clickOk(&window);
        QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));
        QVERIFY(ui.progressSteps - before > 2);
        QCOMPARE(filesBelow(window.currentFolder()), QStringList { todaysName });
    }

    // Compaction from the menu and the exit copy after the question show the busy cursor
    // and the panel; a stopped compaction leaves the database as it was.
    void compactionAndExitCopyShowProgress()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        grow(folder);
        folder.exec(QStringLiteral("delete from rz where id % 2 = 0"));
        folder.db().close();
        WatchingUi ui;
        Program program(folder.path(), ui);
        QVERIFY(logIn(program));
        TForm1 *main = program.mainWindow();
        const QByteArray before = contents(folder.databasePath());
        ui.stopProgressAt = 2;
        menuEntry(main, "N16")->trigger();
        QCOMPARE(ui.progressLabels, QStringList { "正在整理数据库……" });
        QCOMPARE(ui.lastText(), QStringLiteral("数据整理已取消，数据库没有改变。"));
        QCOMPARE(contents(folder.databasePath()), before);
        QCOMPARE(QDir(folder.path() + QStringLiteral("data")).entryList({ "*.BAK*", "*.part*" }, QDir::Files),
            QStringList());

        ui.stopProgressAt = 0;
        menuEntry(main, "N16")->trigger();
        QCOMPARE(ui.lastText(), QStringLiteral("数据整理完毕!"));
        QVERIFY(QFileInfo(folder.databasePath()).size() < before.size());

        ui.progressLabels.clear();
        main->close();
        QCOMPARE(ui.texts().mid(ui.texts().size() - 1), QStringList { "是否关闭本系统？" });
        QCOMPARE(ui.progressLabels, QStringList { "正在备份数据库……" });
        QCOMPARE(ui.busyCursor, (QVector<bool> { true, true, true }));
        QVERIFY(test::rowCount(*test::openCopy(folder.path() + QStringLiteral("backup/")
                                   + Backup::dayFolderName(QDate::currentDate()) + QStringLiteral("/kdmx.mdb")),
                    QStringLiteral("rz"))
            > 10000);
    }

    void folderListFollowsActivation()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("BACKUP/20261210")));
        QFile(folder.databasePath()).copy(folder.path() + QStringLiteral("BACKUP/20261210/kdmx.mdb"));
        TFrmDataBackUp window(dm, ui, QStringLiteral("1"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *folders = window.findChild<QListWidget *>(QStringLiteral("DirectoryListBox1"));
        const QList<QListWidgetItem *> day = folders->findItems(QStringLiteral("20261210"), Qt::MatchEndsWith);
        QCOMPARE(day.size(), 1);
        emit folders->itemActivated(day.first());
        QCOMPARE(window.currentFolder(), QDir(folder.path() + QStringLiteral("BACKUP/20261210")).absolutePath());
        QCOMPARE(listed(&window), QStringList { QStringLiteral("kdmx.mdb") });
        // Back up one level through the chain of folders above.
        const QList<QListWidgetItem *> up = folders->findItems(QStringLiteral("BACKUP"), Qt::MatchEndsWith);
        QCOMPARE(up.size(), 1);
        emit folders->itemActivated(up.first());
        QCOMPARE(window.currentFolder(), QDir(folder.path() + QStringLiteral("BACKUP")).absolutePath());
        QVERIFY(listed(&window).isEmpty());
        QVERIFY(window.findChild<QComboBox *>(QStringLiteral("DriveComboBox1"))->count() > 0);
    }

    void restoreWithoutChoice()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        TFrmDataBackUp window(dm, ui, QStringLiteral("1"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
            QStringLiteral("请选择要进行数据恢复的目录及文件"));
        clickOk(&window);
        QCOMPARE(ui.texts(),
            (QStringList { QStringLiteral("请选择一个可以恢复的数据库"), QStringLiteral("数据恢复失败!") }));
        QCOMPARE(ui.shown[0].caption, QStringLiteral("提示"));
        QCOMPARE(ui.shown[1].caption, QStringLiteral("错误"));
        QVERIFY(window.isVisible());
    }

    void restoreOfAFileThatIsNoDatabase()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("BACKUP")));
        {
            QFile f(folder.path() + QStringLiteral("BACKUP/notes.mdb"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a database");
        }
        const QByteArray live = contents(folder.databasePath());
        TFrmDataBackUp window(dm, ui, QStringLiteral("1"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *files = window.findChild<QListWidget *>(QStringLiteral("FileListBox1"));
        QCOMPARE(files->count(), 1);
        files->setCurrentRow(0);
        clickOk(&window);
        QCOMPARE(ui.texts(), QStringList { QStringLiteral("数据恢复失败!\n") + causeText(Cause::WrongPassword) });
        QCOMPARE(contents(folder.databasePath()), live);
        QCOMPARE(ui.quitRequests, 0);
        QVERIFY(!window.restored());
    }

    // Through the main window: a restore ends the program at once, without the exit
    // question, exit record or exit copy.
    void restoreEndsTheProgram()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Program program(folder.path(), ui);
        QVERIFY(logIn(program));
        program.session().Permissions.insert(QStringLiteral("sjbfhf"), QStringLiteral("1"));
        TForm1 *main = program.mainWindow();
        QPointer<TForm1> alive(main);
        const auto restoreFrom = [&](const QString &copy) {
            QVERIFY(restoreThrough(main, QFileInfo(copy).absolutePath(), QFileInfo(copy).fileName()));
        };
        QDir().mkpath(folder.path() + QStringLiteral("BACKUP"));
        const QString copy = folder.path() + QStringLiteral("BACKUP/good.mdb");
        QCOMPARE(Backup::copyDatabase(folder.db(), folder.databasePath(), copy), QString());
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('after the copy','2026/12/10 10:00:00')"));
        // Refused while another copy of the program (the fixture's connection) has it open.
        const QByteArray live = contents(folder.databasePath());
        restoreFrom(copy);
        QCOMPARE(ui.lastText().section(QLatin1Char('\n'), 0, 0), QStringLiteral("数据恢复失败!"));
        QVERIFY2(ui.lastText().section(QLatin1Char('\n'), 1).contains(QStringLiteral("另一个程序")),
            qPrintable(ui.lastText()));
        QCOMPARE(ui.quitRequests, 0);
        QCOMPARE(contents(folder.databasePath()), live);
        topLevel(QStringLiteral("FrmDataBackUp"))->close();
        QTRY_VERIFY(!topLevel(QStringLiteral("FrmDataBackUp")));

        folder.db().close();
        restoreFrom(copy);
        QCOMPARE(ui.lastText(), QStringLiteral("数据恢复成功\n请重新运行程序!"));
        QVERIFY(ui.quitRequests > 0);
        QTRY_VERIFY(alive.isNull() || !main->isVisible());
        QVERIFY(!ui.texts().contains(QStringLiteral("是否关闭本系统？")));
        // The copy's rows (its one log-in record), and no exit record.
        folder.db().close(); // opened again on the file now in place
        folder.db().open();
        QCOMPARE(folder.count(QStringLiteral("rz")), 1);
        QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr like '%退出系统'")), 0);
        QVERIFY(
            !QFile::exists(folder.path() + QStringLiteral("BACKUP/") + Backup::dayFolderName(QDate::currentDate())));
    }

    // On a server: a backup through the window is the server's dump; a restore is refused
    // while another workstation is connected, and otherwise gives the dump's rows back,
    // keeps the catalogue it replaced and ends the program.
    void backupAndRestoreOnAServer()
    {
        DAGL_SERVER_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Program program(folder.path(), ui);
        QVERIFY(logIn(program));
        program.session().Permissions.insert(QStringLiteral("sjbfhf"), QStringLiteral("1"));
        TForm1 *main = program.mainWindow();
        const QString dumpName = Backup::manualBackupName(QDate::currentDate(), true);
        QVERIFY(dumpName.endsWith(QLatin1String(".dump")));
        {
            TFrmDataBackUp window(program.dataModule(), ui, QStringLiteral("0"));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            clickOk(&window);
            QCOMPARE(ui.lastText(), QStringLiteral("数据备份成功！"));
            QCOMPARE(listed(&window), QStringList { dumpName });
        }
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('after the copy','2026/12/10 10:00:00')"));
        const int before = folder.count(QStringLiteral("rz"));
        const auto restore = [&] { QVERIFY(restoreThrough(main, {}, dumpName)); };
        // The fixture's own connection is another workstation.
        restore();
        QCOMPARE(ui.lastText().section(QLatin1Char('\n'), 0, 0), QStringLiteral("数据恢复失败!"));
        QVERIFY(!ui.lastText().section(QLatin1Char('\n'), 1).isEmpty());
        QCOMPARE(ui.quitRequests, 0);
        QCOMPARE(folder.count(QStringLiteral("rz")), before);
        topLevel(QStringLiteral("FrmDataBackUp"))->close();
        QTRY_VERIFY(!topLevel(QStringLiteral("FrmDataBackUp")));

        folder.db().close();
        restore();
        QCOMPARE(ui.lastText(), QStringLiteral("数据恢复成功\n请重新运行程序!"));
        QVERIFY(ui.quitRequests > 0);
        folder.db().open();
        QCOMPARE(folder.count(QStringLiteral("rz"), QStringLiteral("rznr='after the copy'")), 0);
        // The replaced catalogue is kept beside the backup (the folder's name matches either case).
        QCOMPARE(QDir(folder.path() + QStringLiteral("BACKUP")).entryList({ QStringLiteral("*_kdmx.dump") }).size(), 2);
    }

    void backupNeedsThePermission()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        Program program(folder.path(), ui);
        QVERIFY(logIn(program));
        program.session().Permissions.insert(QStringLiteral("sjbfhf"), QStringLiteral("0"));
        TForm1 *main = program.mainWindow();
        for (const char *entry : { "N2", "N15" }) {
            ui.shown.clear();
            menuEntry(main, entry)->trigger();
            QCOMPARE(ui.texts(), QStringList { QStringLiteral("对不起，您没有该权限！") });
            QVERIFY(!topLevel(QStringLiteral("FrmDataBackUp")));
        }
        // Compaction needs none; it waits for another copy of the program to let go of the
        // database, and touches nothing meanwhile.
        ui.shown.clear();
        const QByteArray live = contents(folder.databasePath());
        folder.db();
        menuEntry(main, "N16")->trigger();
        QCOMPARE(ui.texts().size(), 1);
        QCOMPARE(ui.lastText().section(QLatin1Char('\n'), 0, 0), QStringLiteral("现在不能整理数据库!"));
        QVERIFY2(ui.lastText().section(QLatin1Char('\n'), 1).contains(QStringLiteral("另一个程序")),
            qPrintable(ui.lastText()));
        QCOMPARE(contents(folder.databasePath()), live);
        folder.db().close();
        ui.shown.clear();
        menuEntry(main, "N16")->trigger();
        QCOMPARE(ui.texts(), QStringList { QStringLiteral("数据整理完毕!") });
        ui.answers = { Ui::Answer::Cancel };
        main->close();
    }
};

QTEST_MAIN(TestBackupWindow)
#include "tst_backupwindow.moc"
