#include "PrintGrid.h"
#include "PrintPreviewDialog.h"
#include "Program.h"
#include "ScreenFit.h"
#include "TDataModule5.h"
#include "TForm1.h"
#include "TFrmCKRZ.h"
#include "TFrmDataBackUp.h"
#include "TFrm_AEsj.h"
#include "TFrm_dayj.h"
#include "TFrm_dyml.h"
#include "TFrm_jcsj.h"
#include "TFrm_tjbb.h"
#include "TFrm_zdsjdr.h"
#include "TMac_About.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QPagedPaintDevice>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace dagl;

namespace {

// The screen these tests run on, as the offscreen platform's one screen (it has no task bar
// of its own): 1024 × 768 less a task bar of 40 pixels, or the size DAGL_TEST_SCREEN gives
// ("1280x680": 1920 × 1080 at 150 % less the task bar).
QRect testScreen()
{
    const QList<QByteArray> size = qgetenv("DAGL_TEST_SCREEN").split('x');
    if (size.size() == 2 && size[0].toInt() > 0 && size[1].toInt() > 0)
        return QRect(0, 0, size[0].toInt(), size[1].toInt());
    return QRect(0, 0, 1024, 728);
}
const QRect kAvailable = testScreen();
const QRect kSmallScreen(0, 0, 1024, 728);
// What a window manager draws around a window, which the offscreen platform does not.
const QMargins kDecoration(8, 32, 8, 8);

// A window to look at, and what keeps it (the window itself, or the program around it).
struct Made {
    std::shared_ptr<void> owner;
    QWidget *window;
};
using Factory = std::function<Made(TDataModule5 &, Ui &)>;

template <typename W, typename... Args> Factory window(Args... args)
{
    return [=](TDataModule5 &dm, Ui &ui) {
        auto made = std::make_shared<W>(dm, ui, args...);
        return Made { made, made.get() };
    };
}

} // namespace

Q_DECLARE_METATYPE(Factory)

class TestScreens : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        test::pinLocale();
        QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry(), kAvailable);
    }

    void placed_data()
    {
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("client");
        QTest::newRow("fits: centred") << QSize(800, 500) << kSmallScreen << QRect(112, 126, 800, 500);
        QTest::newRow("too wide and tall at 1024×768") << QSize(1100, 720) << kSmallScreen << QRect(8, 32, 1008, 688);
        // 1920 × 1080 at 150 %: 1280 × 720 logical pixels, less a task bar of 40.
        QTest::newRow("150 % scaling") << QSize(900, 720) << QRect(0, 0, 1280, 680) << QRect(190, 32, 900, 640);
        QTest::newRow("second screen") << QSize(2000, 300) << QRect(1024, 0, 1280, 1024) << QRect(1032, 374, 1264, 300);
    }
    void placed()
    {
        QFETCH(QSize, wanted);
        QFETCH(QRect, available);
        QFETCH(QRect, client);
        const QRect got = ScreenFit::placed(wanted, kDecoration, available);
        QCOMPARE(got, client);
        QVERIFY(available.contains(got.marginsAdded(kDecoration)));
    }

    // Every window that sizes itself fits the screen with its caption bar and borders, and
    // none of its buttons is cut off.
    void windowsFitTheScreen_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<bool>("placed"); // placed by the window itself, not by the system
        QTest::newRow("print preview") << Factory([](TDataModule5 &, Ui &) {
            static GridReportDocument report(GridReport {});
            auto preview = std::make_shared<PrintPreviewDialog>(QStringLiteral("翠岚档案查询报表"), report);
            return Made { preview, preview.get() };
        }) << true;
        QTest::newRow("main window") << Factory([](TDataModule5 &dm, Ui &ui) {
            auto program = std::make_shared<Program>(dm.programFolder(), ui);
            return Made { program, program->mainWindow() };
        }) << true;
        QTest::newRow("record editor") << Factory([](TDataModule5 &dm, Ui &ui) {
            auto editor = std::make_shared<TFrm_AEsj>(dm, ui);
            editor->setAppendMode();
            return Made { editor, editor.get() };
        }) << false;
        QTest::newRow("import") << window<TFrm_zdsjdr>() << true;
        QTest::newRow("statistics") << window<TFrm_tjbb>() << true;
        QTest::newRow("log viewer") << window<TFrmCKRZ>() << false;
        QTest::newRow("backup") << window<TFrmDataBackUp>(QStringLiteral("0")) << false;
        QTest::newRow("unit settings") << window<TFrm_jcsj>() << false;
        QTest::newRow("handover") << window<TFrm_dayj>() << false;
        QTest::newRow("forms") << window<TFrm_dyml>() << true;
    }
    void windowsFitTheScreen()
    {
        QFETCH(Factory, make);
        QFETCH(bool, placed);
        test::ProgramFolderFixture folder;
        test::FakeUi ui;
        TDataModule5 dm(folder.path(), ui);
        const Made made = make(dm, ui);
        QWidget *window = made.window;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QRect client = window->geometry();
        const QString where = QStringLiteral("%1 at %2,%3 %4×%5")
                                  .arg(window->objectName())
                                  .arg(client.x())
                                  .arg(client.y())
                                  .arg(client.width())
                                  .arg(client.height());
        QVERIFY2(client.width() + kDecoration.left() + kDecoration.right() <= kAvailable.width(), qPrintable(where));
        QVERIFY2(client.height() + kDecoration.top() + kDecoration.bottom() <= kAvailable.height(), qPrintable(where));
        // Placed by its frame: a caption bar drawn above the client area stays on the screen.
        if (placed) {
            QVERIFY2(kAvailable.contains(window->frameGeometry()), qPrintable(where));
            QVERIFY2(window->frameGeometry().top() + kDecoration.top() + client.height() + kDecoration.bottom()
                    <= kAvailable.bottom() + 1,
                qPrintable(where));
        }
        for (QPushButton *button : window->findChildren<QPushButton *>()) {
            if (!button->isVisibleTo(window))
                continue;
            const QRect inWindow(button->mapTo(window, QPoint(0, 0)), button->size());
            const QString which = where + QLatin1Char(' ') + button->objectName() + QLatin1Char(' ') + button->text();
            QVERIFY2(window->rect().contains(inWindow), qPrintable(which));
            QVERIFY2(button->width() >= button->minimumSizeHint().width(), qPrintable(which));
            QVERIFY2(button->height() >= button->minimumSizeHint().height(), qPrintable(which));
        }
    }
};

int main(int argc, char *argv[])
{
    // The offscreen platform with one screen of the size wanted.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(QStringLiteral("{ \"screens\": [ { \"name\": \"small\", \"x\": %1, \"y\": %2, \"width\": %3, "
                                  "\"height\": %4, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1 } ] }")
                       .arg(kAvailable.x())
                       .arg(kAvailable.y())
                       .arg(kAvailable.width())
                       .arg(kAvailable.height())
                       .toUtf8());
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(config));
    QApplication app(argc, argv);
    TestScreens tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_screens.moc"
