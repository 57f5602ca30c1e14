#include "DataControls.h"
#include "TDataModule5.h"
#include "TFrm_dayj.h"
#include "TestSupport.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

class TestHandover : public QObject {
    Q_OBJECT

    static void fill(QWidget *box, const QString &text)
    {
        box->setFocus();
        if (auto *edit = qobject_cast<QLineEdit *>(box))
            edit->selectAll();
        else
            static_cast<QPlainTextEdit *>(box)->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        test::type(box, text);
    }

private slots:
    void initTestCase() { test::pinLocale(); }

    void checksInOrder_data()
    {
        QTest::addColumn<QStringList>("values"); // 编号, 移交人, 接收人, 内容, 移交日期, 接收日期 (tab order)
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("all empty") << QStringList { "", "", "", "", "", "" } << "移交编号不能为空!"
                                   << "DBEdit1";
        QTest::newRow("blanks are empty") << QStringList { "1", " ", "", "", "", "" } << "移交人不能为空!"
                                          << "DBEdit2";
        QTest::newRow("receiver") << QStringList { "1", "甲", "", "x", "", "" } << "接收人不能为空!"
                                  << "DBEdit3";
        QTest::newRow("dates before content")
            << QStringList { "1", "甲", "乙", "", "", "2026/1/2" } << "移交日期不能为空!"
            << "DBEdit4";
        QTest::newRow("receipt date") << QStringList { "1", "甲", "乙", "", "2026/1/1", "" } << "接收日期不能为空!"
                                      << "DBEdit5";
        QTest::newRow("content last") << QStringList { "1", "甲", "乙", "  ", "2026/1/1", "2026/1/2" }
                                      << "接收内容不能为空!"
                                      << "DBMemo1";
    }
    void checksInOrder()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        auto *window = new TFrm_dayj(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const char *order[] = { "DBEdit1", "DBEdit2", "DBEdit3", "DBMemo1", "DBEdit4", "DBEdit5" };
        for (int i = 0; i < 6; ++i) {
            if (!values[i].isEmpty())
                fill(window->findChild<QWidget *>(QString::fromLatin1(order[i])), values[i]);
        }
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(ui.lastText(), message);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
        QCOMPARE(folder.count(QStringLiteral("移交表")), 0);
        window->close();
    }

    void boxesShowTheirLimitAndButtonsStandInOrder()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrm_dayj> window = new TFrm_dayj(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto box = [&](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        const QString longText = QString(60, QLatin1Char('x'));
        fill(box("DBEdit1"), longText);
        fill(box("DBEdit2"), QStringLiteral("张三"));
        fill(box("DBEdit3"), QStringLiteral("李四"));
        fill(box("DBMemo1"), QString(300, QLatin1Char('y'))); // the content box takes any length
        fill(box("DBEdit4"), QStringLiteral("2026/12/9"));
        fill(box("DBEdit5"), QStringLiteral("2026/12/10"));
        // Typing stops at the column's size: what the box shows is what is stored.
        const QString shown = window->findChild<DBEdit *>(QStringLiteral("DBEdit1"))->text();
        QCOMPARE(shown, QString(50, QLatin1Char('x')));
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(ui.lastText(), QStringLiteral("接收数据保存成功!"));
        QCOMPARE(folder.scalar(QStringLiteral("select yjbh from 移交表")).toString(), shown);
        QCOMPARE(folder.scalar(QStringLiteral("select yjnr from 移交表")).toString(), QString(300, QLatin1Char('y')));

        // 保存, 退出, 打印 from the left.
        const int save = window->findChild<QPushButton *>(QStringLiteral("Button1"))->x();
        const int exit = window->findChild<QPushButton *>(QStringLiteral("Button2"))->x();
        const int print = window->findChild<QPushButton *>(QStringLiteral("Button3"))->x();
        QVERIFY(save < exit);
        QVERIFY(exit < print);
        window->close();
    }

    void saveTwiceKeepsOneRowAndCloseDropsTheRest()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrm_dayj> window = new TFrm_dayj(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto box = [&](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        fill(box("DBEdit1"), QStringLiteral("YJ-001"));
        fill(box("DBEdit2"), QStringLiteral("张三"));
        fill(box("DBEdit3"), QStringLiteral("李四"));
        fill(box("DBMemo1"), QStringLiteral("文书档案 120 卷\n照片 3 册"));
        fill(box("DBEdit4"), QStringLiteral("2026/12/9"));
        fill(box("DBEdit5"), QStringLiteral("明天"));
        auto *save = window->findChild<QPushButton *>(QStringLiteral("Button1"));
        QTest::mouseClick(save, Qt::LeftButton);
        // A date the column cannot take: the error is shown and nothing is stored.
        QCOMPARE(ui.shown.last().icon, Ui::Icon::Critical);
        QCOMPARE(folder.count(QStringLiteral("移交表")), 0);

        fill(box("DBEdit5"), QStringLiteral("2026/12/10"));
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(ui.lastText(), QStringLiteral("接收数据保存成功!"));
        QCOMPARE(folder.count(QStringLiteral("移交表")), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select yjnr from 移交表")).toString(),
            QStringLiteral("文书档案 120 卷\n照片 3 册"));
        QCOMPARE(folder.count(QStringLiteral("移交表"), QStringLiteral("jsrq=#2026/12/10#")), 1);

        fill(box("DBEdit2"), QStringLiteral("张三丰"));
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(folder.count(QStringLiteral("移交表")), 1);
        QCOMPARE(folder.scalar(QStringLiteral("select yjr from 移交表")).toString(), QStringLiteral("张三丰"));

        // "打印(&P)" does nothing; closing with unsaved typing stores nothing.
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button3")), Qt::LeftButton);
        fill(box("DBEdit3"), QStringLiteral("未保存"));
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button2")), Qt::LeftButton);
        QTRY_VERIFY(window.isNull());
        QCOMPARE(folder.scalar(QStringLiteral("select jsr from 移交表")).toString(), QStringLiteral("李四"));

        // A partly filled window closed by its frame stores nothing, also not at the next opening.
        window = new TFrm_dayj(dm, ui);
        window->show();
        fill(window->findChild<QWidget *>(QStringLiteral("DBEdit1")), QStringLiteral("YJ-002"));
        window->close();
        QTRY_VERIFY(window.isNull());
        window = new TFrm_dayj(dm, ui);
        window->show();
        QCOMPARE(window->findChild<DBEdit *>(QStringLiteral("DBEdit1"))->text(), QString());
        window->close();
        QCOMPARE(folder.count(QStringLiteral("移交表")), 1);
    }
};

QTEST_MAIN(TestHandover)
#include "tst_handover.moc"
