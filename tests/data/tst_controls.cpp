#include "DataControls.h"
#include "Error.h"
#include "KeyFilters.h"
#include "TDataModule5.h"
#include "TFrm_dayj.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace dagl;

Q_DECLARE_METATYPE(KeyFilter::Kind)

class TestControls : public QObject {
    Q_OBJECT

    // Two boxes of one row of a dataset of the module, in a window of their own.
    struct Row {
        Row(test::ProgramFolderFixture &folder, const QString &datasetName, const QString &first, const QString &second,
            bool report)
            : dm(folder.path(), ui)
        {
            dataset = datasetName == QLatin1String("TYjb") ? &dm.TYjb : &dm.Tsyyp;
            dataset->open();
            dataset->append();
            auto *layout = new QVBoxLayout(&window);
            for (auto [box, field] : { std::pair { &a, first }, std::pair { &b, second } }) {
                *box = new DBEdit(&window);
                (*box)->bind(dataset, field);
                layout->addWidget(*box);
            }
            if (report)
                reportFieldErrors(&window, ui);
            window.show();
            window.activateWindow();
        }
        test::FakeUi ui;
        TDataModule5 dm;
        Dataset *dataset = nullptr;
        QWidget window;
        DBEdit *a = nullptr;
        DBEdit *b = nullptr;
    };

private slots:
    void initTestCase() { test::pinLocale(); }

    // A refused value is reported when its box is left; typing in another box of the row
    // never throws the typed text away.
    void refusedValueKeptAndReported_data()
    {
        QTest::addColumn<QString>("dataset");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("good");
        QTest::addColumn<QString>("fixed");
        QTest::addColumn<QString>("stored"); // the first field as read back
        QTest::newRow("handover dates") << "TYjb"
                                        << "yjrq"
                                        << "2026/13/45"
                                        << "jsrq"
                                        << "2026/3/1"
                                        << "2026/2/1"
                                        << "2026-02-01";
        QTest::newRow("volume number") << "Tsyyp"
                                       << "AJH"
                                       << "12x"
                                       << "YH"
                                       << "30"
                                       << "12"
                                       << "12";
    }
    void refusedValueKeptAndReported()
    {
        QFETCH(QString, dataset);
        QFETCH(QString, first);
        QFETCH(QString, bad);
        QFETCH(QString, second);
        QFETCH(QString, good);
        QFETCH(QString, fixed);
        QFETCH(QString, stored);
        test::ProgramFolderFixture folder;
        Row row(folder, dataset, first, second, true);
        QVERIFY(QTest::qWaitForWindowActive(&row.window));

        row.a->setFocus();
        QTest::keyClicks(row.a, bad);
        QTest::keyClick(row.a, Qt::Key_Tab);
        QCOMPARE(row.ui.shown.size(), 1);
        QVERIFY2(row.ui.lastText().contains(bad), qPrintable(row.ui.lastText()));
        QCOMPARE(row.ui.shown.last().icon, Ui::Icon::Critical);
        QTRY_VERIFY(row.a->hasFocus());
        QCOMPARE(row.a->text(), bad);

        // The operator goes on in the other box regardless (a click moves the focus).
        row.b->setFocus(Qt::OtherFocusReason);
        QCOMPARE(row.ui.shown.size(), 2);
        row.b->setFocus(Qt::ActiveWindowFocusReason); // not leaving: no report
        QCOMPARE(row.ui.shown.size(), 2);
        QTest::keyClicks(row.b, good);
        row.a->setFocus(Qt::ActiveWindowFocusReason);
        QCOMPARE(row.a->text(), bad);

        // The post refuses it with the same reason, and nothing is stored.
        QVERIFY_THROWS_EXCEPTION(Error, row.dataset->post());
        QVERIFY(row.dataset->isEditing());
        QCOMPARE(row.a->text(), bad);
        QCOMPARE(row.b->text(), good);

        row.a->selectAll();
        QTest::keyClicks(row.a, fixed);
        QTest::keyClick(row.a, Qt::Key_Tab);
        QCOMPARE(row.ui.shown.size(), 2);
        row.dataset->post();
        const QString table = dataset == QLatin1String("TYjb") ? QStringLiteral("移交表") : QStringLiteral("文件目录");
        QVERIFY(folder.scalar(QStringLiteral("select %1 from %2").arg(first, table)).toString().startsWith(stored));
    }

    // Without a report the box lets the focus go; the text waits for the post.
    void unreportedValueWaitsForPost()
    {
        test::ProgramFolderFixture folder;
        Row row(folder, QStringLiteral("Tsyyp"), QStringLiteral("AJH"), QStringLiteral("TM"), false);
        QVERIFY(QTest::qWaitForWindowActive(&row.window));
        row.a->setFocus();
        QTest::keyClicks(row.a, QStringLiteral("a1"));
        QTest::keyClick(row.a, Qt::Key_Tab);
        QTRY_VERIFY(row.b->hasFocus());
        test::type(row.b, QStringLiteral("题名"));
        QCOMPARE(row.a->text(), QStringLiteral("a1"));
        QVERIFY(row.ui.shown.isEmpty());
        QVERIFY_THROWS_EXCEPTION(Error, row.dataset->post());
        QCOMPARE(folder.count(QStringLiteral("文件目录")), 0);

        // The program setting the field itself replaces the typed text.
        row.dataset->setValue(QStringLiteral("AJH"), 4);
        QCOMPARE(row.a->text(), QStringLiteral("4"));
        row.dataset->post();
        QCOMPARE(folder.scalar(QStringLiteral("select ajh from 文件目录")).toInt(), 4);

        // Cancelling drops typed text too.
        row.dataset->edit();
        row.a->setFocus();
        row.a->selectAll();
        QTest::keyClicks(row.a, QStringLiteral("zz"));
        row.dataset->cancel();
        QCOMPARE(row.a->text(), QStringLiteral("4"));
    }

    // The handover window: a bad date typed first is neither emptied by the other date nor
    // reported as missing.
    void handoverDateKept()
    {
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        auto *window = new TFrm_dayj(dm, ui);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const auto box = [window](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        const QPair<const char *, QString> typed[] = { { "DBEdit1", "1" }, { "DBEdit2", "甲" }, { "DBEdit3", "乙" },
            { "DBMemo1", "案卷" }, { "DBEdit4", "2026/2/30" }, { "DBEdit5", "2026/3/1" } };
        for (const auto &[name, text] : typed) {
            box(name)->setFocus();
            test::type(box(name), text);
        }
        box("DBEdit1")->setFocus(); // leaves 接收日期
        QCOMPARE(static_cast<QLineEdit *>(box("DBEdit4"))->text(), QStringLiteral("2026/2/30"));
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(!ui.texts().contains(QStringLiteral("移交日期不能为空!")));
        QVERIFY2(ui.lastText().contains(QStringLiteral("2026/2/30")), qPrintable(ui.lastText()));
        QCOMPARE(folder.count(QStringLiteral("移交表")), 0);
        QCOMPARE(static_cast<QLineEdit *>(box("DBEdit4"))->text(), QStringLiteral("2026/2/30"));
        window->close();
    }

    void keyPasses_data()
    {
        QTest::addColumn<KeyFilter::Kind>("kind");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("passes");
        const auto digits = KeyFilter::Kind::Digits;
        const auto none = KeyFilter::Kind::NoTyping;
        const int plain = Qt::NoModifier;
        QTest::newRow("digit") << digits << int(Qt::Key_7) << plain << "7" << true;
        QTest::newRow("letter") << digits << int(Qt::Key_A) << plain << "a" << false;
        QTest::newRow("blank") << digits << int(Qt::Key_Space) << plain << " " << false;
        QTest::newRow("minus") << digits << int(Qt::Key_Minus) << plain << "-" << false;
        QTest::newRow("full-width digit") << digits << int(Qt::Key_unknown) << plain << "７" << false;
        QTest::newRow("tab") << digits << int(Qt::Key_Tab) << plain << "\t" << true;
        QTest::newRow("backtab") << digits << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << "" << true;
        QTest::newRow("enter") << digits << int(Qt::Key_Return) << plain << "\r" << true;
        QTest::newRow("backspace") << digits << int(Qt::Key_Backspace) << plain << "\b" << true;
        QTest::newRow("delete") << digits << int(Qt::Key_Delete) << plain << "\x7f" << true;
        QTest::newRow("arrow") << digits << int(Qt::Key_Left) << plain << "" << true;
        QTest::newRow("copy") << digits << int(Qt::Key_C) << int(Qt::ControlModifier) << "\x03" << true;
        QTest::newRow("select all") << digits << int(Qt::Key_A) << int(Qt::ControlModifier) << "\x01" << true;
        // The window's own Alt shortcuts are taken before the box sees the key: one that
        // reaches the box is none of the window's, and its letter is not typed.
        QTest::newRow("Alt+letter") << digits << int(Qt::Key_A) << int(Qt::AltModifier) << "a" << false;
        QTest::newRow("Alt+digit") << digits << int(Qt::Key_1) << int(Qt::AltModifier) << "1" << false;
        QTest::newRow("Alt+Shift+letter")
            << digits << int(Qt::Key_Q) << int(Qt::AltModifier | Qt::ShiftModifier) << "Q" << false;
        QTest::newRow("Ctrl+Alt+letter")
            << digits << int(Qt::Key_W) << int(Qt::ControlModifier | Qt::AltModifier) << "w" << false;
        QTest::newRow("Meta+letter") << digits << int(Qt::Key_B) << int(Qt::MetaModifier) << "b" << false;
        QTest::newRow("Alt+arrow") << digits << int(Qt::Key_Down) << int(Qt::AltModifier) << "" << true;
        QTest::newRow("list: Alt+letter") << none << int(Qt::Key_A) << int(Qt::AltModifier) << "a" << false;
        QTest::newRow("list: digit") << none << int(Qt::Key_7) << plain << "7" << false;
        QTest::newRow("list: letter") << none << int(Qt::Key_A) << plain << "a" << false;
        QTest::newRow("list: backspace") << none << int(Qt::Key_Backspace) << plain << "\b" << false;
        QTest::newRow("list: tab") << none << int(Qt::Key_Tab) << plain << "\t" << true;
        QTest::newRow("list: down arrow") << none << int(Qt::Key_Down) << plain << "" << true;
        QTest::newRow("list: enter") << none << int(Qt::Key_Enter) << plain << "\r" << true;
    }
    void keyPasses()
    {
        QFETCH(KeyFilter::Kind, kind);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(bool, passes);
        const QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QCOMPARE(KeyFilter::passes(kind, event), passes);
    }

    // Typed into real fields: digits only, and nothing at all into a list.
    void filtersOnFields()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *digits = new QLineEdit(&window);
        auto *list = new QComboBox(&window);
        auto *next = new QLineEdit(&window);
        list->setEditable(true);
        list->addItems({ QStringLiteral("永久"), QStringLiteral("长期") });
        for (QWidget *w :
            { static_cast<QWidget *>(digits), static_cast<QWidget *>(list), static_cast<QWidget *>(next) })
            layout->addWidget(w);
        KeyFilter::install(digits, KeyFilter::Kind::Digits);
        KeyFilter::install(list, KeyFilter::Kind::NoTyping);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        digits->setFocus();
        QTest::keyClicks(digits, QStringLiteral("4a4-5b 1"));
        QCOMPARE(digits->text(), QStringLiteral("4451"));
        QTest::keyClick(digits, Qt::Key_Backspace);
        QTest::keyClick(digits, Qt::Key_Home);
        QTest::keyClick(digits, Qt::Key_Delete);
        QCOMPARE(digits->text(), QStringLiteral("45"));
        test::type(digits, QStringLiteral("一")); // an input method's commit
        QInputMethodEvent mixed;
        mixed.setCommitString(QStringLiteral("1二"));
        QCoreApplication::sendEvent(digits, &mixed);
        QCOMPARE(digits->text(), QStringLiteral("45"));
        QApplication::clipboard()->setText(QStringLiteral("ab"));
        QTest::keyClick(digits, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(digits->text(), QStringLiteral("45"));
        QMimeData dragged;
        dragged.setText(QStringLiteral("x7"));
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(digits, &drop);
        QCOMPARE(digits->text(), QStringLiteral("45"));
        // Alt+letter: a shortcut of the window is pressed, any other types nothing.
        auto *button = new QPushButton(QStringLiteral("保存(&S)"), &window);
        layout->addWidget(button);
        button->show();
        QSignalSpy saved(button, &QPushButton::clicked);
        for (const Qt::Key letter : { Qt::Key_A, Qt::Key_B, Qt::Key_Q, Qt::Key_W, Qt::Key_S })
            QTest::keyClick(digits, letter, Qt::AltModifier);
        QTest::keyClick(digits, Qt::Key_1, Qt::AltModifier);
        QTRY_COMPARE(saved.count(), 1);
        QCOMPARE(digits->text(), QStringLiteral("45"));
        digits->setFocus();
        QTRY_VERIFY(digits->hasFocus());
        QTest::keyClick(digits, Qt::Key_Tab);
        QTRY_VERIFY(list->hasFocus());

        QTest::keyClicks(list, QStringLiteral("x9"));
        test::type(list, QStringLiteral("长"));
        QTest::keyClick(list, Qt::Key_Backspace);
        QCOMPARE(list->currentText(), QStringLiteral("永久"));
        QTest::keyClick(list, Qt::Key_Down); // choosing from the list still works
        QCOMPARE(list->currentText(), QStringLiteral("长期"));
        QTest::keyClick(list, Qt::Key_Tab);
        QTRY_VERIFY(next->hasFocus());
        QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(list->hasFocus());
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
