#include "TDataModule5.h"
#include "TFrmXGMM.h"
#include "TestSupport.h"

#include <sqlcipher/sqlite3.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

const QString kOperator = QStringLiteral("管理员"); // the fixture's operator

void typeInto(QWidget *window, const char *name, const QString &text)
{
    auto *box = window->findChild<QLineEdit *>(QString::fromLatin1(name));
    box->setFocus();
    test::type(box, text);
}

} // namespace

class TestPassword : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void save_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("oldText");
        QTest::addColumn<QString>("newText");
        QTest::addColumn<QString>("confirmText");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("storedAfter");
        QTest::newRow("wrong old password") << "secret"
                                            << "secreT"
                                            << "a"
                                            << "a"
                                            << "原始密码错误，不能修改！"
                                            << "secret";
        QTest::newRow("mismatch") << ""
                                  << ""
                                  << "abc"
                                  << "abd"
                                  << "输入的新密码和确认密码不一致，不能修改！"
                                  << "";
        QTest::newRow("blanks trimmed") << "secret"
                                        << "  secret "
                                        << " abc "
                                        << "abc  "
                                        << "修改成功！"
                                        << "abc";
        QTest::newRow("empty new password") << "secret"
                                            << "secret"
                                            << ""
                                            << "  "
                                            << "修改成功！"
                                            << "";
        QTest::newRow("quote in the password") << ""
                                               << ""
                                               << "it's"
                                               << "it's"
                                               << "修改成功！"
                                               << "it's";
        QTest::newRow("quote in the old password") << "a'b"
                                                   << "a'b"
                                                   << "x"
                                                   << "x"
                                                   << "修改成功！"
                                                   << "x";
        // The box holds 50 units: a character outside the basic plane at the limit is not
        // cut in half.
        const QString wide = QString(49, QLatin1Char('a')) + QString::fromUcs4(U"\U00020000");
        QTest::newRow("whole characters at the limit") << "" << "" << wide << wide << "修改成功！"
                                                       << QString(49, QLatin1Char('a'));
        QTest::newRow("same as before") << "same"
                                        << "same"
                                        << "same"
                                        << "same"
                                        << "修改成功！"
                                        << "same";
    }
    void save()
    {
        QFETCH(QString, stored);
        QFETCH(QString, oldText);
        QFETCH(QString, newText);
        QFETCH(QString, confirmText);
        QFETCH(QString, message);
        QFETCH(QString, storedAfter);
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("update gly set mm='%1'")
                        .arg(QString(stored).replace(QLatin1Char('\''), QStringLiteral("''"))));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmXGMM> window = new TFrmXGMM(dm, ui, kOperator);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("修改密码"));
        QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("Edit1"))->text(), QStringLiteral("1"));
        QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("Edit2"))->text(), kOperator);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Edit3"));

        typeInto(window, "Edit3", oldText);
        typeInto(window, "Edit4", newText);
        typeInto(window, "Edit5", confirmText);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        QCOMPARE(ui.texts(), QStringList { message });
        const bool changed = message == QStringLiteral("修改成功！");
        QCOMPARE(ui.shown.last().caption, changed ? QStringLiteral("正确") : QStringLiteral("错误"));
        QCOMPARE(folder.scalar(QStringLiteral("select mm from gly")).toString(), storedAfter);
        if (changed) {
            QTRY_VERIFY(window.isNull());
        } else {
            // The window stays open with what was typed.
            QVERIFY(window->isVisible());
            QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("Edit4"))->text(), newText);
            window->close();
        }
    }

    void failedUpdateIsNoSuccess()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmXGMM> window = new TFrmXGMM(dm, ui, kOperator);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // The operator's row goes away while the window is open.
        folder.exec(QStringLiteral("update gly set glymc='改名'"));
        typeInto(window, "Edit4", QStringLiteral("new"));
        typeInto(window, "Edit5", QStringLiteral("new"));
        QTest::keyClick(window, Qt::Key_F5);
        QCOMPARE(ui.texts(), QStringList { QStringLiteral("密码修改失败！") });
        QCOMPARE(ui.shown.last().caption, QStringLiteral("错误"));
        QVERIFY(window->isVisible());
        QCOMPARE(folder.scalar(QStringLiteral("select mm from gly")).toString(), QString());
        window->close();
    }

    // The operator's row could not be read when the window opened (the database was locked,
    // or the row was renamed): the old password cannot be checked, so nothing is changed,
    // also once the row can be read again.
    void unreadAccountRefusesSave_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("database locked") << true;
        QTest::newRow("row renamed") << false;
    }
    void unreadAccountRefusesSave()
    {
        QFETCH(bool, locked);
        if (locked)
            DAGL_FILE_ONLY(); // the file's own lock
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("update gly set mm='secret'"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        if (locked) {
            sqlite3_busy_timeout(dm.ADOConnection1.handle(), 0); // no waiting for the lock to end
            QCOMPARE(sqlite3_exec(folder.db().handle(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        } else {
            folder.exec(QStringLiteral("update gly set glymc='改名'"));
        }
        QPointer<TFrmXGMM> window = new TFrmXGMM(dm, ui, kOperator);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("Edit2"))->text(), QString());
        if (locked)
            QCOMPARE(sqlite3_exec(folder.db().handle(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        else
            folder.exec(QStringLiteral("update gly set glymc='%1'").arg(kOperator));

        // The old-password box left empty, F5.
        typeInto(window, "Edit4", QStringLiteral("new"));
        typeInto(window, "Edit5", QStringLiteral("new"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QCOMPARE(ui.texts(), QStringList { QStringLiteral("未能读取用户信息，不能修改！请关闭本窗口后重新打开。") });
        QCOMPARE(ui.shown.last().caption, QStringLiteral("错误"));
        QVERIFY(window->isVisible());
        QCOMPARE(folder.scalar(QStringLiteral("select mm from gly")).toString(), QStringLiteral("secret"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4);
        QTRY_VERIFY(window.isNull());
    }

    void exitChangesNothing()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmXGMM> window = new TFrmXGMM(dm, ui, kOperator);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        typeInto(window, "Edit4", QStringLiteral("new"));
        typeInto(window, "Edit5", QStringLiteral("new"));
        QTest::keyClick(window, Qt::Key_F4);
        QTRY_VERIFY(window.isNull());
        QVERIFY(ui.shown.isEmpty());
        QCOMPARE(folder.scalar(QStringLiteral("select mm from gly")).toString(), QString());
    }
};

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
