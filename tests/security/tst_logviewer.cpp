#include "DatasetModel.h"
#include "LogQuery.h"
#include "Regional.h"
#include "TDataModule5.h"
#include "TFrmCKRZ.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

QStringList shownTexts(QWidget *window)
{
    auto *grid = window->findChild<DBGrid *>(QStringLiteral("DBGrid1"));
    QStringList texts;
    for (int row = 0; row < grid->model()->rowCount(); ++row)
        texts << grid->model()->index(row, 1).data().toString();
    texts.sort();
    return texts;
}

} // namespace

class TestLogViewer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void statementText()
    {
        QCOMPARE(LogQuery::statement(QDate(2026, 3, 1), QDate(2026, 3, 31)),
            QStringLiteral("select * from rz where  sj>=#2026/3/1# and sj<=#2026/4/1#"));
    }

    void ranges_data()
    {
        QTest::addColumn<QDate>("start");
        QTest::addColumn<QDate>("end");
        QTest::addColumn<QStringList>("texts");
        const QDate day(2026, 3, 10);
        QTest::newRow("start = end: the whole day and the next midnight")
            << day << day << QStringList { "b 0:00:00", "c 18:30", "d next 0:00:00" };
        QTest::newRow("two days") << day.addDays(-1) << day
                                  << QStringList { "a 23:59:59", "b 0:00:00", "c 18:30", "d next 0:00:00" };
        QTest::newRow("start after end") << day.addDays(1) << day << QStringList {};
        QTest::newRow("the next day") << day.addDays(1) << day.addDays(1)
                                      << QStringList { "d next 0:00:00", "e next 0:00:01" };
        QTest::newRow("across a year") << QDate(2025, 12, 31) << QDate(2026, 1, 1) << QStringList { "f new year" };
    }
    void ranges()
    {
        QFETCH(QDate, start);
        QFETCH(QDate, end);
        QFETCH(QStringList, texts);
        test::ProgramFolderFixture folder;
        const QStringList rows = {
            "a 23:59:59|2026/3/9 23:59:59",
            "b 0:00:00|2026/3/10 0:00:00",
            "c 18:30|2026/3/10 18:30:00",
            "d next 0:00:00|2026/3/11 0:00:00",
            "e next 0:00:01|2026/3/11 0:00:01",
            "f new year|2026/1/1 12:00:00",
        };
        for (const QString &row : rows)
            folder.exec(QStringLiteral("insert into rz (rznr,sj)values('%1','%2')")
                            .arg(row.section(QLatin1Char('|'), 0, 0), row.section(QLatin1Char('|'), 1, 1)));
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('today','%1')")
                        .arg(Regional::formatDateTime(QDateTime::currentDateTime())));

        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmCKRZ> window = new TFrmCKRZ(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("查看日志"));
        // It opens on today's records.
        QCOMPARE(shownTexts(window), QStringList { QStringLiteral("today") });

        window->findChild<QDateEdit *>(QStringLiteral("DateTimePicker1"))->setDate(start);
        window->findChild<QDateEdit *>(QStringLiteral("DateTimePicker2"))->setDate(end);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(shownTexts(window), texts);
        QVERIFY(ui.shown.isEmpty());

        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button2")), Qt::LeftButton);
        QTRY_VERIFY(window.isNull());
    }

    void typedDates()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into rz (rznr,sj)values('x','2026/3/10 9:00:00')"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmCKRZ> window = new TFrmCKRZ(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The boxes take only dates: typed quotes and signs never reach the statement.
        for (const char *name : { "DateTimePicker1", "DateTimePicker2" }) {
            auto *box = window->findChild<QDateEdit *>(QString::fromLatin1(name));
            box->setDate(QDate(2026, 3, 10));
            box->setFocus();
            test::type(box, QStringLiteral("'#;"));
            QCOMPARE(box->date(), QDate(2026, 3, 10));
        }
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(shownTexts(window), QStringList { QStringLiteral("x") });
        window->close();
    }

    // From the keyboard: Alt+Down drops the calendar down, a day is picked with the arrows
    // and Enter; Tab goes on to the next box.
    void calendarFromTheKeyboard()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        QPointer<TFrmCKRZ> window = new TFrmCKRZ(dm, ui);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto *start = window->findChild<QDateEdit *>(QStringLiteral("DateTimePicker1"));
        auto *end = window->findChild<QDateEdit *>(QStringLiteral("DateTimePicker2"));
        start->setDate(QDate(2026, 3, 10));
        start->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(start->hasFocus());
        QTest::keyClick(start, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(start->calendarWidget() && start->calendarWidget()->isVisible());
        QTRY_VERIFY(start->calendarWidget()->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); // a week on
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!start->calendarWidget()->isVisible());
        QCOMPARE(start->date(), QDate(2026, 3, 17));
        QTRY_VERIFY(start->hasFocus());
        QTest::keyClick(start, Qt::Key_Tab);
        QTRY_VERIFY(end->hasFocus());
        window->close();
    }
};

QTEST_MAIN(TestLogViewer)
#include "tst_logviewer.moc"
