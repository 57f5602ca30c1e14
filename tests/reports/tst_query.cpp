#include "ArchivalCode.h"
#include "Backup.h"
#include "Collation.h"
#include "DBGridEh.h"
#include "Dataset.h"
#include "Error.h"
#include "ExportGrid.h"
#include "IniFile.h"
#include "InitInfo.h"
#include "QtUi.h"
#include "QueryStatement.h"
#include "Schema.h"
#include "SearchIndex.h"
#include "Session.h"
#include "SortKeys.h"
#include "Sqlite.h"
#include "TDataModule5.h"
#include "TForm1.h"
#include "TFrm_cxly.h"
#include "TestSupport.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace dagl;

namespace {

using Boxes = QMap<QString, QString>;

// Catalogue rows for the window tests: fonds, catalogue, volume, number, responsible, title.
void addRecord(test::ProgramFolderFixture &folder, const QString &qzh, const QString &mlh, int ajh, const QString &wh,
    const QString &zrz, const QString &tm)
{
    folder.exec(QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,wh,zrz,tm) values ('%1','%2',%3,1,'%4','%5','%6')")
                    .arg(qzh, mlh)
                    .arg(ajh)
                    .arg(QString(wh).replace(QLatin1Char('\''), QStringLiteral("''")),
                        QString(zrz).replace(QLatin1Char('\''), QStringLiteral("''")),
                        QString(tm).replace(QLatin1Char('\''), QStringLiteral("''"))));
}

struct Window {
    explicit Window(test::ProgramFolderFixture &folder)
        : dm(folder.path(), ui)
    {
        window = new TFrm_cxly(dm, ui, nullptr, nullptr);
        window->resize(900, 600);
        window->show();
    }
    ~Window() { delete window; }

    QLineEdit *box(const QString &name) const { return window->findChild<QLineEdit *>(name); }
    void click(const char *button) const
    {
        QTest::mouseClick(window->findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    void fill(const QString &name, const QString &text) const
    {
        box(name)->setFocus();
        test::type(box(name), text);
    }
    void clickTitle(int column) const
    {
        QHeaderView *header = window->grid()->horizontalHeader();
        window->grid()->scrollTo(window->grid()->model()->index(0, column));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 6, header->height() / 2));
    }
    QStringList column(const QString &field) const
    {
        QStringList values;
        for (int row = 0; row < dm.Tdaly.recordCount(); ++row)
            values << dm.Tdaly.textAt(row, dm.Tdaly.fieldIndex(field));
        return values;
    }

    test::FakeUi ui;
    TDataModule5 dm;
    QPointer<TFrm_cxly> window;
};

} // namespace

namespace searchindex {

// Awkward pieces the catalogue's texts are made of: Chinese, Latin in both cases, digits,
// the like wildcards, quotes, a character outside the basic plane, blanks.
const QStringList kPieces = { QStringLiteral("会议"), QStringLiteral("纪要"), QStringLiteral("档案"),
    QStringLiteral("Abc"), QStringLiteral("abc"), QStringLiteral("ABC"), QStringLiteral("12"), QStringLiteral("3"),
    QStringLiteral("%"), QStringLiteral("_"), QStringLiteral("'"), QStringLiteral("\""), QStringLiteral("𠀀"),
    QStringLiteral("龘"), QStringLiteral(" "), QStringLiteral("x"), QStringLiteral("会"), QStringLiteral("议会") };

QVariant textOf(int row, int salt)
{
    if ((row + salt) % 11 == 0)
        return {}; // no value
    QString text;
    const int count = 1 + (row * 3 + salt) % 6;
    for (int k = 0; k < count; ++k)
        text += kPieces.at((row * 7 + salt * 13 + k * 5) % kPieces.size());
    return text;
}

void insertRows(sqlite3 *db, int from, int count)
{
    Statement insert(db, QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,tm,zrz,wh) values (?,?,?,?,?,?,?)"));
    for (int i = from; i < from + count; ++i) {
        insert.reset();
        insert.bind(1, QString::number(i % 4));
        insert.bind(2, QString::number(i % 3));
        insert.bind(3, i % 5);
        insert.bind(4, i);
        insert.bind(5, textOf(i, 1));
        insert.bind(6, textOf(i, 2));
        insert.bind(7, textOf(i, 3));
        insert.step();
    }
}

// What the boxes look for: fragments of two and more characters, one character, wildcards,
// quotes, letters in another case, a fragment nowhere, two boxes at once.
const QVector<QVector<QPair<const char *, QString>>> &searches()
{
    static const QVector<QVector<QPair<const char *, QString>>> all = {
        { { "Edit6", QStringLiteral("会议") } },
        { { "Edit6", QStringLiteral("议会议") } },
        { { "Edit6", QStringLiteral("abc") } },
        { { "Edit6", QStringLiteral("aBC3") } },
        { { "Edit6", QStringLiteral("会") } },
        { { "Edit6", QStringLiteral("%") } },
        { { "Edit6", QStringLiteral("_纪") } },
        { { "Edit6", QStringLiteral("''") } },
        { { "Edit6", QStringLiteral("\"𠀀") } },
        { { "Edit6", QStringLiteral("没有这样的题名") } },
        { { "Edit4", QStringLiteral("档案") } },
        { { "Edit5", QStringLiteral("12") }, { "Edit7", QStringLiteral("x会") } },
        { { "Edit1", QStringLiteral("1") }, { "Edit6", QStringLiteral("纪要") }, { "Edit4", QStringLiteral("龘") } },
        { { "Edit6", QStringLiteral("𠀀龘") } },
        { { "Edit6", QStringLiteral("尾声") } },
        { { "Edit10", QStringLiteral("O'Brien") }, { "Edit4", QStringLiteral("张'") } },
    };
    return all;
}

// The rows of every search, in order: through the index, and by the plain statement.
QVector<QVector<qlonglong>> results(TDataModule5 &dm, Ui &ui, bool indexed)
{
    dm.ADOConnection1.setSearchIndex(indexed ? Schema::searchIndex() : SearchIndex::Spec {});
    QVector<QVector<qlonglong>> found;
    for (const auto &boxes : searches()) {
        const QString sql = QueryStatement::search([&boxes](const QString &name) {
            for (const auto &box : boxes) {
                if (name == QLatin1String(box.first))
                    return box.second;
            }
            return QString();
        });
        QVector<qlonglong> rows;
        try {
            QueryStatement::run(dm, dm.Tdaly, sql, ui);
            dm.Tdaly.readRemainingRows();
            for (int row = 0; row < dm.Tdaly.recordCount(); ++row)
                rows << dm.Tdaly.bookmarkAt(row);
        } catch (const Error &) {
            rows << -1; // refused (an odd number of quotes): refused alike
        }
        found << rows;
    }
    dm.ADOConnection1.setSearchIndex(Schema::searchIndex());
    return found;
}

// Indexes as earlier versions made them: triggers calling the program's pieces function and
// an index in the program's order, both of which other tools cannot write through.
void makeEarlierIndexes(Connection &connection)
{
    sqlite3 *db = connection.handle();
    SearchIndex::drop(connection);
    SortKeys::drop(db, Schema::kCatalogueTable, QStringLiteral("TM"));
    const QStringList columns = Schema::searchIndex().columns;
    QStringList inserts, deletes;
    for (int c = 0; c < columns.size(); ++c) {
        inserts << QStringLiteral("INSERT OR IGNORE INTO dagl_ngram (gram, col, rid) SELECT gram, %1, new.rowid FROM "
                                  "dagl_grams(new.\"%2\");")
                       .arg(c)
                       .arg(columns.at(c));
        deletes << QStringLiteral("DELETE FROM dagl_ngram WHERE col = %1 AND rid = old.rowid AND gram IN (SELECT gram "
                                  "FROM dagl_grams(old.\"%2\"));")
                       .arg(c)
                       .arg(columns.at(c));
    }
    for (const QString &sql :
        {
            QStringLiteral("CREATE TABLE dagl_ngram (gram TEXT NOT NULL, col INTEGER NOT NULL, rid INTEGER NOT NULL, "
                           "PRIMARY KEY (gram, col, rid)) WITHOUT ROWID"),
            QStringLiteral("CREATE TRIGGER dagl_ngram_ai AFTER INSERT ON 文件目录 BEGIN %1 END").arg(inserts.join(' ')),
            QStringLiteral("CREATE TRIGGER dagl_ngram_ad AFTER DELETE ON 文件目录 BEGIN %1 END").arg(deletes.join(' ')),
            QStringLiteral(
                "CREATE TRIGGER dagl_ngram_au AFTER UPDATE OF \"TM\",\"ZRZ\",\"WH\" ON 文件目录 BEGIN %1 %2 END")
                .arg(deletes.join(' '), inserts.join(' ')),
            QStringLiteral("CREATE INDEX ix_wjml_tm_zh ON 文件目录 (TM COLLATE dagl_zh)"),
        })
        connection.execute(sql);
}

// A connection as any other tool opens the file: the password only, none of the program's
// functions or orders.
class BareConnection {
public:
    explicit BareConnection(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        const QByteArray key = Schema::kDatabasePassword.toUtf8();
        sqlite3_key(m_db, key.constData(), int(key.size()));
        // As a careful tool does: waits while the program reads (its window opening its reader).
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~BareConnection() { sqlite3_close(m_db); }
    sqlite3 *handle() const { return m_db; }
    // The engine's message, empty when the statement went through.
    QString exec(const QString &sql)
    {
        char *message = nullptr;
        const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
        const QString text = rc == SQLITE_OK ? QString() : QString::fromUtf8(message ? message : "failed");
        sqlite3_free(message);
        return text;
    }

private:
    sqlite3 *m_db = nullptr;
};

// The catalogue's rows in the operator's order of their titles (no title first), equal
// titles by key.
QVector<qlonglong> titleOrder(sqlite3 *db)
{
    QVector<QPair<qlonglong, QVariant>> rows;
    Statement all(db, QStringLiteral("SELECT rowid, tm FROM 文件目录"));
    while (all.step())
        rows.push_back({ all.column(0).toLongLong(), all.column(1) });
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
        if (a.second.isNull() != b.second.isNull())
            return a.second.isNull();
        if (!a.second.isNull()) {
            const QByteArray x = a.second.toString().toUtf8(), y = b.second.toString().toUtf8();
            const int c = Collation::compareUtf8(x.constData(), int(x.size()), y.constData(), int(y.size()));
            if (c != 0)
                return c < 0;
        }
        return a.first < b.first;
    });
    QVector<qlonglong> keys;
    for (const auto &row : rows)
        keys << row.first;
    return keys;
}

} // namespace searchindex

class TestQuery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void searchStatement_data()
    {
        QTest::addColumn<Boxes>("boxes");
        QTest::addColumn<QString>("statement");
        QTest::newRow("fonds and title 1") << Boxes { { "Edit1", "12" }, { "Edit6", "会议" } }
                                           << "select * from 文件目录  where   qzh like '%12%'  and tm like '%会议%'   "
                                              "order by qzh,mlh,ajh,yh";
        QTest::newRow("only title 3") << Boxes { { "Edit10", "档案" } }
                                      << "select * from 文件目录  where   tm like '%档案%'   order by qzh,mlh,ajh,yh";
        QTest::newRow("only responsible") << Boxes { { "Edit4", "张" } }
                                          << "select * from 文件目录  where  zrz like '%张%'   order by qzh,mlh,ajh,yh";
        QTest::newRow("trailing blank kept")
            << Boxes { { "Edit1", "12 " } }
            << "select * from 文件目录  where   qzh like '%12 %'   order by qzh,mlh,ajh,yh";
        QTest::newRow("all empty") << Boxes {} << "select * from 文件目录   order by qzh,mlh,ajh,yh";
        QTest::newRow("only blanks") << Boxes { { "Edit1", "  " }, { "Edit11", " " } }
                                     << "select * from 文件目录   order by qzh,mlh,ajh,yh";
        QTest::newRow("quote doubled") << Boxes { { "Edit6",
            "O'Brien" } } << "select * from 文件目录  where   tm like '%O''Brien%'   order by qzh,mlh,ajh,yh";
        QTest::newRow("visit order, not layout order")
            << Boxes { { "Edit11", "2008" }, { "Edit4", "李" }, { "Edit7", "号" }, { "Edit5", "2008" },
                   { "Edit3", "7" } }
            << "select * from 文件目录  where   ajh like '%7%'  and wh like '%2008%'  and wh like '%号%'  and zrz like "
               "'%李%'  and cwsj like '%2008%'   order by qzh,mlh,ajh,yh";
        QTest::newRow("wildcards kept") << Boxes { { "Edit2", "1_%" } }
                                        << "select * from 文件目录  where   mlh like '%1_%%'   order by qzh,mlh,ajh,yh";
    }
    void searchStatement()
    {
        QFETCH(Boxes, boxes);
        QFETCH(QString, statement);
        QCOMPARE(QueryStatement::search([&](const QString &name) { return boxes.value(name); }), statement);
    }

    void listAllStatement()
    {
        QCOMPARE(QueryStatement::listAll(), QStringLiteral("select * from 文件目录    order by qzh,mlh,ajh,yh"));
    }

    void searchThroughTheWindow_data()
    {
        QTest::addColumn<Boxes>("boxes");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("two number fragments in one value")
            << Boxes { { "Edit5", "2008" }, { "Edit7", "号" } } << QStringList { "甲", "丙" };
        QTest::newRow("quote found as typed") << Boxes { { "Edit9", "O'Brien" } } << QStringList { "O'Brien 来函" };
        QTest::newRow("fonds with trailing blank") << Boxes { { "Edit1", "12 " } } << QStringList {};
        QTest::newRow("percent is a wildcard") << Boxes { { "Edit10", "来%函" } } << QStringList { "O'Brien 来函" };
        QTest::newRow("all boxes blank list everything")
            << Boxes { { "Edit6", "   " } } << QStringList { "甲", "乙", "丙", "O'Brien 来函" };
    }
    void searchThroughTheWindow()
    {
        QFETCH(Boxes, boxes);
        QFETCH(QStringList, titles);
        test::ProgramFolderFixture folder;
        addRecord(folder, "12", "1", 1, "京发2008号", "张", "甲");
        addRecord(folder, "12", "1", 2, "京发2009", "张", "乙");
        addRecord(folder, "12", "2", 1, "2008年第3号", "李", "丙");
        addRecord(folder, "3", "1", 1, "函", "王", "O'Brien 来函");
        Window w(folder);
        for (auto it = boxes.cbegin(); it != boxes.cend(); ++it)
            w.fill(it.key(), it.value());
        w.click("BitBtn3");
        QVERIFY(w.dm.Tdaly.isOpen());
        QCOMPARE(w.column("TM"), titles);
        if (titles.isEmpty())
            QCOMPARE(w.ui.texts(), QStringList { "没有找到相应的单据" });
        else
            QVERIFY(w.ui.shown.isEmpty());
        QCOMPARE(w.window->grid()->footerTexts().mid(0, 3),
            (QStringList { "总计", QString::number(titles.size()), QString() }));
    }

    // Control characters pasted into a filter box (a NUL would end the statement early) take
    // no part in the search.
    void pastedControlCharacters_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::newRow("NUL") << QStringLiteral("12") + QChar(0);
        QTest::newRow("NUL in the middle") << QStringLiteral("1") + QChar(0) + QStringLiteral("2");
        QTest::newRow("tab and line break") << QStringLiteral("\t12\r\n");
    }
    void pastedControlCharacters()
    {
        QFETCH(QString, pasted);
        test::ProgramFolderFixture folder;
        addRecord(folder, "12", "1", 1, "", "", "甲");
        addRecord(folder, "3", "1", 1, "", "", "乙");
        Window w(folder);
        QGuiApplication::clipboard()->setText(pasted);
        QLineEdit *fonds = w.box(QStringLiteral("Edit1"));
        fonds->setFocus();
        QTRY_VERIFY(fonds->hasFocus());
        QTest::keyClick(fonds, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(fonds->text().contains(QLatin1Char('2')));
        auto *search = w.window->findChild<QPushButton *>(QStringLiteral("BitBtn3"));
        search->setFocus(Qt::TabFocusReason);
        QTest::keyClick(search, Qt::Key_Return);
        QVERIFY2(w.ui.shown.isEmpty(), qPrintable(w.ui.lastText()));
        QVERIFY(w.dm.Tdaly.isOpen());
        QCOMPARE(w.column("TM"), QStringList { "甲" });
    }

    void emptyResultShowsMessageAfterTheEmptyGrid()
    {
        test::ProgramFolderFixture folder;
        addRecord(folder, "1", "1", 1, "", "", "甲");
        Window w(folder);
        w.click("BitBtn2");
        QCOMPARE(w.window->grid()->model()->rowCount(), 1);
        w.fill("Edit4", QStringLiteral("没有的人"));
        w.click("BitBtn3");
        QCOMPARE(w.ui.texts(), QStringList { "没有找到相应的单据" });
        QCOMPARE(w.ui.shown.last().caption, Ui::applicationTitle());
        QCOMPARE(w.window->grid()->model()->rowCount(), 0);
        QCOMPARE(w.window->grid()->footerTexts().at(1), QStringLiteral("0"));
        QCOMPARE(w.box("Edit4")->text(), QStringLiteral("没有的人"));
    }

    void listAllKeepsBoxesAndOrdersByFondsCatalogueVolume()
    {
        test::ProgramFolderFixture folder;
        addRecord(folder, "2", "1", 1, "", "", "c");
        addRecord(folder, "10", "1", 1, "", "", "b");
        addRecord(folder, "1", "2", 1, "", "", "a2");
        addRecord(folder, "1", "1", 3, "", "", "a13");
        addRecord(folder, "1", "1", 1, "", "", "a11");
        Window w(folder);
        w.fill("Edit1", QStringLiteral("99"));
        w.click("BitBtn2");
        QCOMPARE(w.box("Edit1")->text(), QStringLiteral("99"));
        QCOMPARE(w.column("TM"), (QStringList { "a11", "a13", "a2", "b", "c" }));
        QVERIFY(w.ui.shown.isEmpty());
        QCOMPARE(w.window->grid()->titles().mid(0, 3), (QStringList { "馆代码", "单位代码", "全宗号" }));
        QCOMPARE(w.window->grid()->titles().size(), 18);
        QCOMPARE(w.window->grid()->titles().last(), QStringLiteral("档号"));
    }

    // The results show each record's archival code, as the list does, under the rules in
    // force when they are painted.
    void resultsShowTheArchivalCode()
    {
        test::ProgramFolderFixture folder;
        addRecord(folder, "0001", "01", 12, "", "", "卷");
        folder.exec(QStringLiteral("update 文件目录 set sxh='05' where tm='卷'"));
        folder.exec(QStringLiteral("insert into 文件目录 (qzh,gdnd,bgqx,jgwt,hh,jh,tm) values "
                                   "('J012','２０２３','永久','财务科','1','1','件')"));
        Window w(folder);
        w.fill("Edit6", QStringLiteral("件"));
        w.click("BitBtn3");
        const int code = int(w.window->grid()->titles().indexOf(QStringLiteral("档号")));
        QVERIFY(code >= 0);
        const auto shown = [&] { return w.window->grid()->model()->index(0, code).data().toString(); };
        QCOMPARE(w.dm.Tdaly.recordCount(), 1);
        QCOMPARE(shown(), QStringLiteral("J012-WS·2023-Y-CWK-0001"));

        ArchivalCodeSettings rules = ArchivalCodeSettings::load(IniFile::settingsOf(folder.path()));
        rules.classCodes.insert(QStringLiteral("财务科"), QStringLiteral("CW"));
        rules.itemDigits = 3;
        rules.save(IniFile::settingsOf(folder.path()));
        QCOMPARE(shown(), QStringLiteral("J012-WS·2023-Y-CW-001"));

        w.click("BitBtn2");
        QCOMPARE(w.column("TM"), (QStringList { "卷", "件" }));
        QCOMPARE(w.window->grid()->model()->index(0, code).data().toString(), QStringLiteral("0001-1-12-5"));
    }

    void titleClickSortsUntilTheNextSearch()
    {
        test::ProgramFolderFixture folder;
        addRecord(folder, "1", "1", 1, "", "", "b");
        addRecord(folder, "1", "1", 2, "", "", "c");
        addRecord(folder, "1", "1", 3, "", "", "a");
        Window w(folder);
        w.click("BitBtn2");
        const int tm = 12; // 题名
        w.window->DBGridEh1TitleBtnClick(tm);
        QCOMPARE(w.column("TM"), (QStringList { "a", "b", "c" }));
        QCOMPARE(w.window->grid()->sortMarker(tm), DBGridEh::SortMarker::Down);
        w.window->DBGridEh1TitleBtnClick(tm);
        QCOMPARE(w.column("TM"), (QStringList { "c", "b", "a" }));
        w.click("BitBtn2");
        QCOMPARE(w.column("TM"), (QStringList { "b", "c", "a" }));
    }

    void refusedStatementReportsTheClosedResult()
    {
        test::ProgramFolderFixture folder;
        Window w(folder);
        folder.exec(QStringLiteral("drop table 文件目录"));
        w.click("BitBtn3");
        QVERIFY(!w.dm.Tdaly.isOpen());
        QCOMPARE(w.ui.shown.size(), 1);
        QCOMPARE(w.ui.shown.first().icon, Ui::Icon::Critical);
        QVERIFY(w.ui.lastText().contains(QStringLiteral("closed dataset")));
        QVERIFY(w.window->isVisible());
    }

    void laterWindowShowsTheLastResultAndCloseHides()
    {
        test::ProgramFolderFixture folder;
        addRecord(folder, "1", "1", 1, "", "", "甲");
        Window w(folder);
        w.click("BitBtn2");
        auto *second = new TFrm_cxly(w.dm, w.ui, nullptr, nullptr);
        QCOMPARE(second->grid()->model()->rowCount(), 1);
        QVERIFY(second->findChild<QLineEdit *>(QStringLiteral("Edit1"))->text().isEmpty());
        delete second;
        w.click("BitBtn5");
        QVERIFY(w.window);
        QVERIFY(!w.window->isVisible());
    }

    void mainWindowCommandsOpenTheWindows()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        Session session;
        session.LoggedIn = true;
        InitInfo info;
        AppContext context { dm, ui, session, info, QString() };
        TForm1 main(context);
        main.show();
        main.findChild<QAction *>(QStringLiteral("N8"))->trigger();
        QPointer<Tmain> first = main.embeddedWindow();
        QVERIFY(qobject_cast<TFrm_cxly *>(first));
        QCOMPARE(first->parentWidget(), main.hostPanel());
        QCOMPARE(first->windowTitle(), QStringLiteral("查询利用"));
        QTest::mouseClick(main.findChild<QWidget *>(QStringLiteral("bsSkinSpeedButton3")), Qt::LeftButton);
        QVERIFY(!first);
        QVERIFY(qobject_cast<TFrm_cxly *>(main.embeddedWindow()));

        QTest::mouseClick(main.findChild<QWidget *>(QStringLiteral("bsSkinSpeedButton4")), Qt::LeftButton);
        QWidget *statistics = main.findChild<QWidget *>(QStringLiteral("Frm_tjbb"));
        QVERIFY(statistics);
        QVERIFY(statistics->isVisible());
        QVERIFY(statistics->isModal());
        QCOMPARE(statistics->windowTitle(), QStringLiteral("统计报表"));
        QPointer<QWidget> gone = statistics;
        statistics->close();
        QTRY_VERIFY(!gone);
        main.hide();
    }

    // Searches through the index give exactly the rows, in the same order, as the plain like,
    // after rows are added, changed, deleted, imported and restored.
    void searchIndexGivesTheRowsOfLike()
    {
        DAGL_FILE_ONLY();
        using namespace searchindex;
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        sqlite3 *db = dm.ADOConnection1.handle();
        SearchIndex::drop(dm.ADOConnection1); // a catalogue made before the index
        insertRows(db, 0, 400);
        QVERIFY(!SearchIndex::exists(db));
        const auto before = results(dm, ui, true); // the first search makes the index
        QVERIFY(SearchIndex::exists(db));
        QCOMPARE(ui.progressLabels.filter(QStringLiteral("索引")), QStringList { "正在建立检索索引……" });
        QCOMPARE(before, results(dm, ui, false));
        QVERIFY(!before.first().isEmpty());
        QVERIFY(SearchIndex::narrow(
            db, Schema::searchIndex(), QStringLiteral("文件目录"), QStringLiteral("tm like '%会议%'"))
                    .contains(QLatin1String("dagl_ngram")));
        QCOMPARE(SearchIndex::narrow(
                     db, Schema::searchIndex(), QStringLiteral("文件目录"), QStringLiteral("tm like '%会%'")),
            QStringLiteral("tm like '%会%'"));
        const QString copy = folder.path() + QStringLiteral("copy.mdb");
        QCOMPARE(Backup::copyDatabase(dm.ADOConnection1, folder.databasePath(), copy), QString());

        insertRows(db, 400, 120); // added
        dm.ADOConnection1.execute(QStringLiteral("update 文件目录 set tm = zrz, wh = '会议' || wh where yh % 7 = 0"));
        dm.ADOConnection1.execute(QStringLiteral("update 文件目录 set zrz = null where yh % 13 = 0"));
        dm.ADOConnection1.execute(QStringLiteral("delete from 文件目录 where yh % 9 = 0"));
        dm.Twjml.open(); // the import's way in
        for (int i = 0; i < 30; ++i) {
            dm.Twjml.append();
            dm.Twjml.setText(QStringLiteral("QZH"), QStringLiteral("9"));
            dm.Twjml.setValue(QStringLiteral("TM"), textOf(i, 5));
            dm.Twjml.setValue(QStringLiteral("ZRZ"), textOf(i, 6));
            dm.Twjml.post();
        }
        dm.Twjml.close();
        const auto changed = results(dm, ui, true);
        QCOMPARE(changed, results(dm, ui, false));
        QVERIFY(changed != before);

        QCOMPARE(Backup::restore(dm, copy, QDateTime::currentDateTime()).outcome, Backup::RestoreOutcome::Restored);
        if (!dm.ADOConnection1.isOpen())
            dm.ADOConnection1.open();
        QCOMPARE(results(dm, ui, true), before);
        QCOMPARE(results(dm, ui, false), before);
        QCOMPARE(ui.progressLabels.filter(QStringLiteral("索引")).size(), 1); // the restored copy came with its index
    }
    // Another tool, without the program's functions and orders, inserts, changes and deletes
    // rows of a catalogue made new and of one left by an earlier version (whose indexes the
    // program replaces when it opens it); the program's searches still give the rows of the
    // plain like, and the title click the operator's order.
    void otherToolsWriteTheCatalogue_data()
    {
        QTest::addColumn<bool>("earlier");
        QTest::newRow("made new") << false;
        QTest::newRow("left by an earlier version") << true;
    }
    void otherToolsWriteTheCatalogue()
    {
        DAGL_FILE_ONLY();
        using namespace searchindex;
        QFETCH(bool, earlier);
        test::ProgramFolderFixture folder;
        if (earlier)
            makeEarlierIndexes(folder.db());
        insertRows(folder.db().handle(), 0, 300);
        folder.db().execute(QStringLiteral("update 文件目录 set tm = tm || '𠀀龘' where yh % 10 = 1"));
        Window w(folder);
        sqlite3 *db = w.dm.ADOConnection1.handle();
        QCOMPARE(SearchIndex::state(db), SearchIndex::State::Current);
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("sql like '%dagl_zh%'")), 0);
        QCOMPARE(folder.count(QStringLiteral("sqlite_master"), QStringLiteral("sql like '%dagl_grams%'")), 0);

        {
            BareConnection bare(folder.databasePath());
            QVERIFY(bare.exec(QStringLiteral("insert into 文件目录 (ajh) values (1)")).isEmpty());
            insertRows(bare.handle(), 300, 80);
            const QString longTitle = QString(1500, QChar(u'长')) + QStringLiteral("尾声");
            for (const QString &sql : {
                     QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,tm,zrz,wh) values ('1','1',1,1,'O''Brien "
                                    "会议 %_ 𠀀龘x','张''三','京发〔2008〕12号')"),
                     QStringLiteral("insert into 文件目录 (qzh,yh,tm) values ('2',4,'%1')").arg(longTitle),
                     QStringLiteral("update 文件目录 set tm = zrz || '会议', wh = upper(wh) where yh % 5 = 0"),
                     QStringLiteral("update 文件目录 set tm = '尾声 ABC_12%' where yh % 23 = 0"),
                     QStringLiteral("update 文件目录 set str_m_date = str_m_date + 100000 where yh % 17 = 0"),
                     QStringLiteral("delete from 文件目录 where yh % 7 = 3"),
                 })
                QCOMPARE(bare.exec(sql), QString());
        }

        const auto found = results(w.dm, w.ui, true);
        QCOMPARE(found, results(w.dm, w.ui, false));
        QVERIFY(!found.at(0).isEmpty());
        QVERIFY(!found.at(14).isEmpty()); // the fragment past the positions cut

        const QVector<qlonglong> expected = titleOrder(db);
        w.click("BitBtn2");
        const int tm = 12; // 题名
        w.window->DBGridEh1TitleBtnClick(tm);
        QVector<qlonglong> ascending, descending;
        for (int row = 0; row < w.dm.Tdaly.recordCount(); ++row)
            ascending << w.dm.Tdaly.bookmarkAt(row);
        QCOMPARE(ascending, expected);
        w.window->DBGridEh1TitleBtnClick(tm);
        for (int row = 0; row < w.dm.Tdaly.recordCount(); ++row)
            descending << w.dm.Tdaly.bookmarkAt(row);
        std::reverse(descending.begin(), descending.end());
        QCOMPARE(descending, expected);
        QCOMPARE(w.ui.progressLabels.contains(QStringLiteral("正在建立排序索引……")), earlier);
    }
    // A word most rows hold: the grid gets the first rows while the rest are read, walking the
    // index of the list's order; what it ends with, its count and an export taken at once are
    // the rows of the plain like, in its order.
    void aCommonWordShowsItsFirstRowsFirst()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        {
            Transaction transaction(folder.db());
            Statement insert(
                folder.db().handle(), QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,tm) values (?,?,?,?,?)"));
            for (int i = 0; i < 5000; ++i) {
                insert.reset();
                insert.bind(1, QString::number(i % 17));
                insert.bind(2, QString::number(i % 3));
                insert.bind(3, i % 5);
                insert.bind(4, i);
                insert.bind(5, i % 5 == 0 ? QStringLiteral("通知") : QStringLiteral("第%1次会议纪要").arg(i));
                insert.step();
            }
            transaction.commit();
        }
        Window w(folder);
        w.fill("Edit6", QStringLiteral("会议"));
        w.click("BitBtn3");
        const GridTable table = gridTable(*w.window->grid());
        QVERIFY(w.dm.Tdaly.allRowsRead());
        QCOMPARE(table.rowCount, 4000);
        QVector<qlonglong> expected, shown;
        QString lastTitle;
        Statement like(folder.db().handle(),
            QStringLiteral("select rowid, tm from 文件目录 where tm like '%会议%' order by qzh,mlh,ajh,yh"));
        while (like.step()) {
            expected << like.column(0).toLongLong();
            lastTitle = like.column(1).toString();
        }
        QCOMPARE(table.cell(3999, 12), lastTitle); // 题名
        for (int row = 0; row < w.dm.Tdaly.recordCount(); ++row)
            shown << w.dm.Tdaly.bookmarkAt(row);
        QCOMPARE(shown, expected);
        QCOMPARE(w.window->grid()->footerText(1), QStringLiteral("4000"));

        QString walk;
        SearchIndex::narrow(folder.db().handle(), Schema::searchIndex(), QStringLiteral("文件目录"),
            QStringLiteral("tm like '%会议%'"), &walk);
        QVERIFY(walk.contains(QLatin1String("+rowid IN")));
        // Searched again: the count shows it is still counting until the last rows come.
        w.click("BitBtn3");
        if (!w.dm.Tdaly.allRowsRead())
            QVERIFY(w.window->grid()->footerText(1).endsWith(QStringLiteral("…")));
        QTRY_COMPARE(w.window->grid()->footerText(1), QStringLiteral("4000"));
        QCOMPARE(w.dm.Tdaly.recordCount(), 4000);
        // And again, then at once for a rare word while the rows of the first still come.
        w.click("BitBtn3");
        w.box("Edit6")->clear();
        w.fill("Edit6", QStringLiteral("第4999次"));
        w.click("BitBtn3");
        QTRY_VERIFY(w.dm.Tdaly.allRowsRead());
        QCOMPARE(w.column("TM"), QStringList { QStringLiteral("第4999次会议纪要") });
    }
    // The search runs on a reader of its own while the window waits; inside a transaction
    // it stays on the connection that sees the transaction's rows. A quick search shows no panel.
    void searchRunsApart()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        addRecord(folder, "12", "1", 1, "京发2008号", "张", "会议纪要");
        addRecord(folder, "12", "1", 2, "京发2009", "李", "年度会议");
        addRecord(folder, "3", "1", 1, "函", "王", "来函");
        Window w(folder);
        w.fill("Edit6", QStringLiteral("会议"));
        w.click("BitBtn3");
        QCOMPARE(w.column("TM"), (QStringList { "会议纪要", "年度会议" }));
        QVERIFY(w.dm.ADOConnection1.readerHandle() != nullptr);
        QVERIFY(w.ui.shown.isEmpty());
        QVERIFY(w.ui.progressLabels.isEmpty());

        Transaction pending(w.dm.ADOConnection1);
        w.dm.ADOConnection1.execute(
            QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,tm) values ('3','2',1,1,'会议室')"));
        w.click("BitBtn3");
        QCOMPARE(w.column("TM"), (QStringList { "会议纪要", "年度会议", "会议室" }));
    }

    // Another copy of the program holds the file to itself while it imports: the search waits
    // under its busy panel and answers once the other copy is done; when it is not done in
    // time, the operator is told why in Chinese and offered 重试, never the closed dataset.
    void searchWhileAnotherCopyImports_data()
    {
        QTest::addColumn<bool>("doneWhileWaiting");
        QTest::newRow("done while the search waits") << true;
        QTest::newRow("still importing") << false;
    }
    void searchWhileAnotherCopyImports()
    {
        DAGL_FILE_ONLY();
        QFETCH(bool, doneWhileWaiting);
        test::ProgramFolderFixture folder;
        addRecord(folder, "12", "1", 1, "京发", "张", "会议纪要");
        Window w(folder);
        w.click("BitBtn2"); // searched once before the other copy starts
        QCOMPARE(w.column("TM"), QStringList { "会议纪要" });
        const std::unique_ptr<Connection> other = test::openCopy(folder.databasePath());
        QCOMPARE(sqlite3_exec(other->handle(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        other->execute(QStringLiteral("insert into 文件目录 (qzh,mlh,ajh,yh,tm) values ('12','1',2,1,'导入的')"));
        const auto finishImport = [&other] { sqlite3_exec(other->handle(), "COMMIT", nullptr, nullptr, nullptr); };
        QTimer done;
        done.setSingleShot(true);
        connect(&done, &QTimer::timeout, finishImport);
        if (doneWhileWaiting)
            done.start(100);
        w.click("BitBtn2");
        if (doneWhileWaiting) {
            QVERIFY(!done.isActive());
            QCOMPARE(w.ui.texts(), QStringList());
            QCOMPARE(w.column("TM"), (QStringList { "会议纪要", "导入的" }));
            return;
        }
        // 取消 (the default answer here) leaves the search for now, without an error.
        QCOMPARE(w.ui.progressLabels, QStringList { "正在查询……" });
        QCOMPARE(w.ui.texts(), QStringList { QueryStatement::busyText() });
        QCOMPARE(w.ui.lastText(),
            QStringLiteral("档案目录正忙：同时运行的另一个档案管理系统正在导入或整理数据。\n请稍候再按“重试”。"));
        QCOMPARE(w.ui.shown.last().buttons, Ui::Buttons::RetryCancel);
        QCOMPARE(w.column("TM"), QStringList { "会议纪要" }); // the earlier result stays
        // 重试 once the import is done answers.
        finishImport();
        w.ui.answers << Ui::Answer::Retry;
        w.click("BitBtn2");
        QCOMPARE(w.column("TM"), (QStringList { "会议纪要", "导入的" }));
        QCOMPARE(w.ui.texts(), QStringList { QueryStatement::busyText() });
    }

    // The busy panel of a search keeps the program's events flowing while it waits.
    void busyPanelKeepsTheWindowsPainted()
    {
        QtUi ui;
        const std::unique_ptr<Ui::Progress> panel = ui.progress(QStringLiteral("正在查询……"));
        bool delivered = false;
        QTimer::singleShot(0, qApp, [&delivered] { delivered = true; });
        QVERIFY(panel->step(0, 0));
        QVERIFY(delivered);
    }

    // The first title click on 题名 of a catalogue without its sort keys makes them behind a
    // progress panel; stopped there, the catalogue and the grid stay as they were.
    void firstTitleClickMakesTheSortKeysOrStops()
    {
        DAGL_FILE_ONLY();
        test::ProgramFolderFixture folder;
        addRecord(folder, "1", "1", 1, "", "", "乙");
        addRecord(folder, "1", "1", 2, "", "", "甲");
        addRecord(folder, "1", "1", 3, "", "", "丙");
        SortKeys::drop(folder.db().handle(), Schema::kCatalogueTable, QStringLiteral("TM"));
        Window w(folder);
        w.window->resize(1400, 600);
        w.click("BitBtn2");
        const int tm = 12; // 题名
        w.ui.stopProgressAt = w.ui.progressSteps + 1;
        w.clickTitle(tm);
        QCOMPARE(w.ui.progressLabels.last(), QStringLiteral("正在建立排序索引……"));
        QVERIFY(!SortKeys::exists(w.dm.ADOConnection1.handle(), QStringLiteral("TM")));
        QCOMPARE(w.column("TM"), (QStringList { "乙", "甲", "丙" }));
        QCOMPARE(w.window->grid()->sortMarker(tm), DBGridEh::SortMarker::None);
        QVERIFY(w.ui.shown.isEmpty());

        w.ui.stopProgressAt = 0;
        w.clickTitle(tm);
        QVERIFY(SortKeys::exists(w.dm.ADOConnection1.handle(), QStringLiteral("TM")));
        QCOMPARE(w.column("TM"), (QStringList { "丙", "甲", "乙" }));
        QCOMPARE(w.window->grid()->sortMarker(tm), DBGridEh::SortMarker::Down);
        const int panels = int(w.ui.progressLabels.size());
        w.clickTitle(tm);
        QCOMPARE(w.column("TM"), (QStringList { "乙", "甲", "丙" }));
        QCOMPARE(w.ui.progressLabels.size(), panels); // made once
    }
};

QTEST_MAIN(TestQuery)
#include "tst_query.moc"
