#include "DBGridEh.h"
#include "QueryStatement.h"
#include "TDataModule5.h"
#include "TFrm_tjbb.h"
#include "TestSupport.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace dagl;

namespace {

using Rows = QList<QStringList>;

struct Window {
    explicit Window(test::ProgramFolderFixture &folder)
        : dm(folder.path(), ui)
    {
        window = new TFrm_tjbb(dm, ui);
        window->show();
    }
    ~Window() { delete window; }

    void click(const QString &button) const
    {
        QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
    }
    Rows rows() const
    {
        Rows all;
        for (int row = 0; row < dm.Tcxtj.recordCount(); ++row) {
            QStringList cells;
            for (int field = 0; field < dm.Tcxtj.fieldCount(); ++field) {
                const QVariant value = dm.Tcxtj.valueAt(row, field);
                cells << (value.isNull() ? QStringLiteral("<null>") : value.toString());
            }
            all << cells;
        }
        return all;
    }

    test::FakeUi ui;
    TDataModule5 dm;
    QPointer<TFrm_tjbb> window;
};

} // namespace

class TestStatistics : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void statements_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("statement");
        QTest::newRow("fonds") << 0 << "BitBtn3"
                               << "select qzh as 全宗号,mlh as 目录号,count(*) as 案卷条目  from 文件目录   group by "
                                  "qzh,mlh order by qzh,mlh";
        QTest::newRow("year")
            << 1 << "BitBtn2"
            << "select GDND as 归档年度,count(*) as 案卷条目  from 文件目录   group by GDND order by GDND";
        QTest::newRow("retention")
            << 2 << "BitBtn6"
            << "select BGQX as 保管期限,count(*) as 案卷条目  from 文件目录   group by BGQX order by "
               "BGQX";
    }
    void statements()
    {
        QFETCH(int, which);
        QFETCH(QString, button);
        QFETCH(QString, statement);
        const QueryStatement::Count &count = QueryStatement::counts().at(which);
        QCOMPARE(QString::fromLatin1(count.button), button);
        QCOMPARE(QueryStatement::countStatement(count), statement);
    }

    void counts_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<Rows>("rows");
        QTest::newRow("fonds and catalogue, text order")
            << "BitBtn3" << QStringList { "全宗号", "目录号", "案卷条目" }
            << Rows { { "1", "1", "3" }, { "1", "2", "1" }, { "10", "1", "1" }, { "2", "1", "2" } };
        // No year and an empty year are two groups, the missing one first.
        QTest::newRow("filing year, empty and missing")
            << "BitBtn2" << QStringList { "归档年度", "案卷条目" }
            << Rows { { "<null>", "2" }, { "", "1" }, { "1999", "2" }, { "2001", "2" } };
        // A trailing blank makes a group of its own.
        QTest::newRow("retention period")
            << "BitBtn6" << QStringList { "保管期限", "案卷条目" }
            << Rows { { "<null>", "1" }, { "30年", "2" }, { "永久", "3" }, { "永久 ", "1" } };
    }
    void counts()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, titles);
        QFETCH(Rows, rows);
        test::ProgramFolderFixture folder;
        const char *records[][4] = {
            // qzh, mlh, gdnd, bgqx
            { "1", "1", "1999", "永久" },
            { "1", "1", "1999", "永久" },
            { "1", "1", nullptr, "永久" },
            { "1", "2", "", "30年" },
            { "10", "1", "2001", "永久 " },
            { "2", "1", "2001", "30年" },
            { "2", "1", nullptr, nullptr },
        };
        auto literal = [](const char *value) {
            return value ? QStringLiteral("'%1'").arg(QString::fromUtf8(value)) : QStringLiteral("null");
        };
        for (const auto &r : records) {
            folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh,gdnd,bgqx) values (%1,%2,%3,%4)")
                            .arg(literal(r[0]), literal(r[1]), literal(r[2]), literal(r[3])));
        }
        Window w(folder);
        w.click(button);
        QCOMPARE(w.rows(), rows);
        QCOMPARE(w.window->grid()->titles(), titles);
        QVERIFY(w.ui.shown.isEmpty());
    }

    // Chinese groups follow the program's order of text (pinyin, as title sorting has it),
    // not the order of their code points.
    void groupsInTheProgramsOrder()
    {
        test::ProgramFolderFixture folder;
        for (const char *period : { "永久", "短期", "30年", "长期", "10年", "短期" })
            folder.exec(
                QStringLiteral("insert into 文件目录 (qzh,bgqx) values ('1','%1')").arg(QString::fromUtf8(period)));
        Window w(folder);
        w.click(QStringLiteral("BitBtn6"));
        const QAbstractItemModel *shown = w.window->grid()->model();
        QStringList groups;
        for (int row = 0; row < shown->rowCount(); ++row)
            groups << shown->index(row, 0).data().toString() + QLatin1Char('/')
                    + shown->index(row, 1).data().toString();
        // The server's order is ICU's pinyin, which reads 长 as zhǎng.
        QCOMPARE(groups,
            test::onServer() ? (QStringList { "10年/1", "30年/1", "短期/2", "永久/1", "长期/1" })
                             : (QStringList { "10年/1", "30年/1", "长期/1", "短期/2", "永久/1" }));
    }

    void anotherCountReplacesTheColumns()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh,gdnd) values ('1','1','2001')"));
        Window w(folder);
        w.click(QStringLiteral("BitBtn3"));
        QCOMPARE(w.window->grid()->model()->columnCount(), 3);
        w.click(QStringLiteral("BitBtn2"));
        QCOMPARE(w.window->grid()->titles(), (QStringList { "归档年度", "案卷条目" }));
        QCOMPARE(w.window->grid()->footerTexts(), (QStringList { "", "" }));
    }

    void emptyCatalogueShowsTheMessageForEveryCount()
    {
        test::ProgramFolderFixture folder;
        Window w(folder);
        for (const char *button : { "BitBtn3", "BitBtn2", "BitBtn6" })
            w.click(QString::fromLatin1(button));
        QCOMPARE(w.ui.texts(), (QStringList(3, QStringLiteral("没有找到相应的单据"))));
    }

    void missingColumnReportsTheClosedResult()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("drop table 文件目录"));
        folder.exec(QStringLiteral("create table 文件目录 (qzh varchar(10), mlh varchar(10))"));
        Window w(folder);
        w.click(QStringLiteral("BitBtn2"));
        QCOMPARE(w.ui.shown.size(), 1);
        QCOMPARE(w.ui.shown.first().icon, Ui::Icon::Critical);
        QVERIFY(!w.dm.Tcxtj.isOpen());
    }

    void titleClicksDoNotSort()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh) values ('1','1')"));
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh) values ('2','1')"));
        Window w(folder);
        w.click(QStringLiteral("BitBtn3"));
        QVERIFY(!w.window->grid()->titleButtons());
        emit w.window->grid()->titleClicked(0);
        QCOMPARE(w.dm.Tcxtj.sortText(), QString());
        QCOMPARE(w.window->grid()->sortMarker(0), DBGridEh::SortMarker::None);
    }

    void laterWindowShowsTheLastCount()
    {
        test::ProgramFolderFixture folder;
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh,bgqx) values ('1','1','永久')"));
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        {
            TFrm_tjbb first(dm, ui);
            QCOMPARE(first.grid()->model()->rowCount(), 0);
            first.BitBtn6Click();
        }
        TFrm_tjbb second(dm, ui);
        QCOMPARE(second.grid()->titles(), (QStringList { "保管期限", "案卷条目" }));
        QCOMPARE(second.grid()->model()->rowCount(), 1);
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
