#include "TForm1.h"

#include "Backup.h"
#include "Error.h"
#include "InitInfo.h"
#include "Login.h"
#include "PgMaintenance.h"
#include "ScreenFit.h"
#include "Session.h"
#include "SingleWindow.h"
#include "Skin.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "TFrmCKRZ.h"
#include "TFrmDataBackUp.h"
#include "TFrmXGMM.h"
#include "TFrm_cxly.h"
#include "TFrm_dayj.h"
#include "TFrm_dhgz.h"
#include "TFrm_dyml.h"
#include "TFrm_jcsj.h"
#include "TFrm_sjlr.h"
#include "TFrm_tjbb.h"
#include "TMac_About.h"
#include "Tmain.h"
#include "Ui.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace dagl {

namespace {

// A panel that paints one of the built-in pictures stretched over itself.
class PicturePanel : public QWidget
{
public:
    PicturePanel(QPixmap (*draw)(const QSize &), QWidget *parent) : QWidget(parent), m_draw(draw) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_cache.size() != size())
            m_cache = m_draw(size());
        QPainter(this).drawPixmap(0, 0, m_cache);
    }

private:
    QPixmap (*m_draw)(const QSize &);
    QPixmap m_cache;
};

struct MenuEntry
{
    const char *caption;   // nullptr: a separator
    const char *name;
    void (TForm1::*handler)();
};

struct Menu
{
    const char *caption;
    const char *name;
    QVector<MenuEntry> entries;
};

struct ToolButton
{
    const char *caption;
    const char *name;
    Skin::Glyph glyph;
    void (TForm1::*handler)();
};

// Windows still to come leave their commands without an action for now.
const QVector<Menu> &menus()
{
    static const QVector<Menu> table = {
        {"系统维护", "N1",
         {{"系统设置", "N3", &TForm1::N3Click},
          {"档号规则", "N24", &TForm1::N24Click},
          {"查看日志", "N4", &TForm1::N4Click},
          {"修改密码", "N6", &TForm1::N6Click},
          {"数据库备份", "N2", &TForm1::N2Click},
          {"数据库恢复", "N15", &TForm1::N15Click},
          {"数据库整理", "N16", &TForm1::N16Click}}},
        {"档案管理", "N5",
         {{"档案录入", "N7891", &TForm1::bsSkinSpeedButton1Click},
          {"档案审核", "N9", nullptr},
          {"打印档案目录与盒签", "N23", &TForm1::N23Click}}},
        {"档案利用", "N7",
         {{"档案利用", "N8", &TForm1::N8Click}, {"统计报表", "N10", &TForm1::bsSkinSpeedButton4Click}}},
        {"软件帮助", "N12",
         {{"帮助手册", "N13", nullptr},
          {"关于本软件", "N11", &TForm1::N11Click},
          {nullptr, "N21", nullptr},
          {"退出软件", "N22", &TForm1::N22Click}}},
    };
    return table;
}

const QVector<ToolButton> &toolButtons()
{
    static const QVector<ToolButton> table = {
        {"档案录入", "bsSkinSpeedButton1", Skin::Glyph::Entry, &TForm1::bsSkinSpeedButton1Click},
        {"档案利用", "bsSkinSpeedButton3", Skin::Glyph::Use, &TForm1::bsSkinSpeedButton3Click},
        {"统计报表", "bsSkinSpeedButton4", Skin::Glyph::Statistics, &TForm1::bsSkinSpeedButton4Click},
        {"档案移交", "bsSkinSpeedButton2", Skin::Glyph::Handover, &TForm1::bsSkinSpeedButton2Click},
        {"系统设置", "bsSkinSpeedButton5", Skin::Glyph::Settings, &TForm1::N3Click},
        {"关于本软件", "bsSkinSpeedButton6", Skin::Glyph::About, &TForm1::N11Click},
        {"退出系统", "bsSkinSpeedButton7", Skin::Glyph::Exit, &TForm1::N22Click},
    };
    return table;
}

} // namespace

TForm1::TForm1(AppContext &context, QWidget *parent) : QMainWindow(parent), m_context(context)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("档案管理系统"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *toolPanel = new PicturePanel(&Skin::toolPanelBackground, central);
    toolPanel->setObjectName(QStringLiteral("bsSkinPanel1"));
    toolPanel->setFixedHeight(72);
    buildToolPanel(toolPanel);
    m_hostPanel = new PicturePanel(&Skin::clientBackground, central);
    m_hostPanel->setObjectName(QStringLiteral("bsSkinPanel2"));
    layout->addWidget(toolPanel);
    layout->addWidget(m_hostPanel, 1);
    setCentralWidget(central);

    const int widths[] = {217, 176, 472};
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(QStringLiteral("bsSkinStatusPanel%1").arg(i + 1));
        m_statusPanels[i]->setMinimumWidth(i < 2 ? widths[i] : 0);
        m_statusPanels[i]->setMaximumWidth(widths[i]);
        statusBar()->addWidget(m_statusPanels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(false);
    buildMenu();
    setFixedSize(832, 498 + menuBar()->sizeHint().height());
    ScreenFit::fit(this);
}

TForm1::~TForm1()
{
    delete m_embedded;
}

void TForm1::buildMenu()
{
    for (const Menu &menu : menus()) {
        QMenu *m = menuBar()->addMenu(QString::fromUtf8(menu.caption));
        m->setObjectName(QString::fromLatin1(menu.name));
        m->menuAction()->setObjectName(QString::fromLatin1(menu.name));
        for (const MenuEntry &entry : menu.entries) {
            QAction *action = entry.caption ? m->addAction(QString::fromUtf8(entry.caption)) : m->addSeparator();
            action->setObjectName(QString::fromLatin1(entry.name));
            if (entry.handler)
                connect(action, &QAction::triggered, this, entry.handler);
            else if (entry.caption)
                action->setEnabled(false);
        }
    }
}

void TForm1::buildToolPanel(QWidget *panel)
{
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(10, 2, 10, 4);
    row->setSpacing(4);
    for (const ToolButton &tool : toolButtons()) {
        auto *button = new QToolButton(panel);
        button->setObjectName(QString::fromLatin1(tool.name));
        button->setProperty("tool", true);
        button->setText(QString::fromUtf8(tool.caption));
        button->setIcon(Skin::icon(tool.glyph));
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setMinimumWidth(76);
        button->setCursor(Qt::PointingHandCursor);
        if (tool.handler)
            connect(button, &QToolButton::clicked, this, tool.handler);
        else
            button->setEnabled(false);
        row->addWidget(button);
    }
    row->addStretch();
}

void TForm1::setLoginWindow(TFormLogin *login)
{
    m_login = login;
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        Skin::centreOnScreen(this);
        FormShow();
    }
}

void TForm1::FormShow()
{
    if (!m_login) {
        afterLogin();
        return;
    }
    connect(m_login, &QDialog::finished, this, [this] {
        if (m_login)
            m_login->deleteLater();
        afterLogin();
    });
    // Shown once this window is on screen, modal over it.
    QMetaObject::invokeMethod(this, [this] {
        if (m_login)
            m_login->show();
    }, Qt::QueuedConnection);
}

void TForm1::afterLogin()
{
    const InitInfo &info = m_context.initInfo;
    m_statusPanels[1]->setText(QStringLiteral("操作员：") + m_context.session.OperatorName);
    Ui::setApplicationTitle(info.value(QStringLiteral("SoftName")) + QStringLiteral("  ")
                            + info.value(QStringLiteral("Ver")));
    m_statusPanels[0]->setText(info.value(QStringLiteral("CompanyName")) + QStringLiteral("出品"));
    m_statusPanels[2]->setText(QStringLiteral("QQ在线支持：") + info.value(QStringLiteral("QQ"))
                               + QStringLiteral("   联系电话：") + info.value(QStringLiteral("Tel")));
    if (!m_context.session.LoggedIn) {
        // The login was abandoned and the program is ending: go without the exit steps.
        m_ending = true;
        close();
    }
}

namespace {

void focusFirstBox(QWidget *window)
{
    const auto takesFocus = [window](const QWidget *w) {
        return window->isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
    };
    const auto isBox = [](const QWidget *w) {
        return qobject_cast<const QLineEdit *>(w) || qobject_cast<const QComboBox *>(w)
            || qobject_cast<const QAbstractSpinBox *>(w) || qobject_cast<const QPlainTextEdit *>(w);
    };
    QWidget *first = nullptr;
    for (QWidget *next = window->nextInFocusChain(); next && next != window; next = next->nextInFocusChain()) {
        if (!takesFocus(next))
            continue;
        if (isBox(next)) {
            first = next;
            break;
        }
        if (!first)
            first = next;
    }
    if (first)
        first->setFocus(Qt::TabFocusReason);
}

} // namespace

Tmain *TForm1::openEmbedded(const std::function<Tmain *(QWidget *hostPanel)> &make)
{
    delete m_embedded;
    Tmain *window = make(m_hostPanel);
    m_embedded = window;
    if (window) {
        window->show();
        // Its first box takes the focus (its first control where it has no box), whatever
        // had it: a grid of the window just destroyed (which leaves none) or a tool button.
        // After the menu that gave the command has closed, or the menu bar would keep it.
        QMetaObject::invokeMethod(
            window, [window] { focusFirstBox(window); }, Qt::QueuedConnection);
    }
    return window;
}

void TForm1::bsSkinSpeedButton1Click()
{
    openEmbedded([this](QWidget *host) { return new TFrm_sjlr(m_context.dm, m_context.ui, host); });
}

void TForm1::bsSkinSpeedButton2Click()
{
    auto *window = new TFrm_dayj(m_context.dm, m_context.ui, this);
    window->show();
}

void TForm1::N23Click()
{
    auto *window = new TFrm_dyml(m_context.dm, m_context.ui, {}, this);
    window->show();
}

void TForm1::N8Click()
{
    openEmbedded([this](QWidget *host) { return new TFrm_cxly(m_context.dm, m_context.ui, nullptr, host); });
}

void TForm1::bsSkinSpeedButton3Click()
{
    N8Click();
}

void TForm1::bsSkinSpeedButton4Click()
{
    auto *window = new TFrm_tjbb(m_context.dm, m_context.ui, this);
    window->show();
}

void TForm1::N3Click()
{
    QWidget *window = findSingleWindow<TFrm_jcsj>(QStringLiteral("Frm_jcsj"));
    if (!window)
        window = new TFrm_jcsj(m_context.dm, m_context.ui, this);
    window->show();
    window->raise();
    window->activateWindow();
}

void TForm1::N24Click()
{
    runHandler(m_context.ui, [this] {
        auto *window = new TFrm_dhgz(m_context.dm, m_context.ui, this);
        window->show();
    });
}

void TForm1::N11Click()
{
    auto *about = new TMac_About(m_context.initInfo, this);
    about->show();
}

void TForm1::backupOrRestore(const QString &mode)
{
    if (m_context.session.permission(QStringLiteral("sjbfhf")) == QLatin1String("0")) {
        m_context.ui.inform(QStringLiteral("对不起，您没有该权限！"), QStringLiteral("提示"));
        return;
    }
    m_context.BackupMode = mode;
    auto *window = new TFrmDataBackUp(m_context.dm, m_context.ui, mode, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &QDialog::finished, this, [this, window] {
        if (window->restored()) {
            // A restored database ends the program without the exit question, record or copy.
            m_ending = true;
            close();
        }
    });
    window->show();
}

void TForm1::N4Click()
{
    auto *window = new TFrmCKRZ(m_context.dm, m_context.ui, this);
    window->show();
}

void TForm1::N6Click()
{
    auto *window = new TFrmXGMM(m_context.dm, m_context.ui, m_context.session.OperatorName, this);
    window->show();
}

void TForm1::N16Click()
{
    TFrmDataBackUp::CompactDatabase(m_context.dm, m_context.ui);
}

void TForm1::N2Click()
{
    backupOrRestore(QStringLiteral("0"));
}

void TForm1::N15Click()
{
    backupOrRestore(QStringLiteral("1"));
}

void TForm1::N22Click()
{
    close();
}

bool TForm1::FormClose()
{
    Ui &ui = m_context.ui;
    if (ui.messageBox(QStringLiteral("是否关闭本系统？"), QStringLiteral("提示"), Ui::Icon::Information,
                      Ui::Buttons::OkCancel) != Ui::Answer::Ok)
        return false;
    TDataModule5 &dm = m_context.dm;
    // A connection the server dropped is made again first, so that the exit is recorded;
    // on a server that stays away the operator is told it is not.
    const QString exitRecord = OperationLog::recordStatement(
        m_context.session.OperatorName, OperationLog::kExit, QDateTime::currentDateTime());
    bool recorded = false;
    if (dm.ensureConnected(true)) {
        recorded = dm.RunSql(exitRecord);
        if (!recorded && dm.ADOConnection1.isLost() && dm.reconnect())
            recorded = dm.RunSql(exitRecord);
    }
    if (!recorded && dm.ADOConnection1.onServer())
        ui.showError(QStringLiteral("与数据库服务器的连接断开了，这次退出没有记入日志。"));
    if (dm.ADOConnection1.onServer()) {
        dm.RunSql(OperationLog::recordStatement(m_context.session.OperatorName,
            QStringLiteral("，") + PgMaintenance::exitCopySkippedText(), QDateTime::currentDateTime()));
        return true;
    }
    // The program ends whatever became of the copy (a read-only folder, a full disk); the
    // operator is told when there is none.
    QString failed;
    {
        const WorkProgress progress(ui, QStringLiteral("正在备份数据库……"));
        failed = Backup::exitCopy(dm.ADOConnection1, dm.programFolder(), QDate::currentDate(), progress.callback());
    }
    if (!failed.isEmpty())
        ui.showError(QStringLiteral("退出时未能备份数据库！\n") + failed);
    return true;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!m_ending && !FormClose()) {
        event->ignore();
        return;
    }
    event->accept();
    // Closing the main window ends the program, whatever other windows are open.
    m_context.ui.requestQuit();
}

} // namespace dagl
