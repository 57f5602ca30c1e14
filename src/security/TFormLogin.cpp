#include "TFormLogin.h"

#include "Login.h"
#include "Session.h"
#include "Skin.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace dagl {

TFormLogin::TFormLogin(TDataModule5 &dm, Session &session, Ui &ui, QWidget *parent)
    : QDialog(parent), m_dm(dm), m_session(session), m_ui(ui)
{
    setObjectName(QStringLiteral("FormLogin"));
    setWindowTitle(QStringLiteral("登录"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);

    auto *banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setFixedHeight(64);
    banner->setAlignment(Qt::AlignCenter);
    banner->setText(QStringLiteral("<span style='color:white; font-size:20px; font-weight:bold'>"
                                   "档案管理系统</span>"));
    banner->setStyleSheet(QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #1d4e89, "
                                         "stop:1 #2f6fb5); border-bottom: 2px solid #d98c1f;"));

    m_names = new QComboBox(this);
    m_names->setObjectName(QStringLiteral("ComboBox1"));
    m_names->setEditable(false);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("Edit1"));
    m_password->setEchoMode(QLineEdit::Password);
    auto *login = new QPushButton(QStringLiteral("登录"), this);
    login->setObjectName(QStringLiteral("BitBtn1"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    for (QPushButton *button : {login, cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    auto *hint = new QLabel(QStringLiteral("初始密码为空 第一次进入后建议修改"), this);
    hint->setObjectName(QStringLiteral("Label3"));
    QFont bold = hint->font();
    bold.setBold(true);
    hint->setFont(bold);

    auto *form = new QGridLayout;
    form->setContentsMargins(36, 18, 36, 6);
    form->setVerticalSpacing(12);
    // Each label names its box to a screen reader too.
    auto *namesLabel = new QLabel(QStringLiteral("用户名称："), this);
    namesLabel->setBuddy(m_names);
    auto *passwordLabel = new QLabel(QStringLiteral("用户密码："), this);
    passwordLabel->setBuddy(m_password);
    form->addWidget(namesLabel, 0, 0);
    form->addWidget(m_names, 0, 1);
    form->addWidget(passwordLabel, 1, 0);
    form->addWidget(m_password, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(login);
    buttons->addSpacing(16);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(banner);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(hint, 0, Qt::AlignHCenter);
    // Why there is nobody to choose, when the operator list cannot be read or is empty.
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("LabelProblem"));
    m_problem->setWordWrap(true);
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_problem->setContentsMargins(16, 4, 16, 0);
    m_problem->hide();
    layout->addWidget(m_problem);
    setFixedSize(360, 250);

    m_names->installEventFilter(this);
    m_password->installEventFilter(this);
    setTabOrder(m_names, m_password);
    setTabOrder(m_password, login);
    setTabOrder(login, cancel);
    connect(login, &QPushButton::clicked, this, &TFormLogin::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, &TFormLogin::BitBtn2Click);
    FormCreate();
}

void TFormLogin::FormCreate()
{
    const Login::Operators operators = Login::operators(m_dm);
    m_names->addItems(operators.names);
    if (!operators.problem.isEmpty()) {
        m_problem->setText(operators.problem);
        m_problem->setAccessibleName(operators.problem);
        m_problem->show();
        const int width = 480;
        setFixedSize(width, 250 + m_problem->heightForWidth(width) + 8);
    }
    m_session.LoggedIn = false;
}

void TFormLogin::FormShow()
{
    m_codes = permissionCodeList();
    if (m_names->count() > 0)
        m_names->setCurrentIndex(0);
    m_names->setFocus();
}

void TFormLogin::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        Skin::centreOnScreen(this);
        FormShow();
    }
}

bool TFormLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_names)
                m_password->setFocus();
            else if (watched == m_password)
                BitBtn1Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormLogin::BitBtn1Click()
{
    runHandler(m_ui, [this] {
        switch (Login::attempt(m_dm, m_session, m_names->currentText(), m_password->text(), m_codes)) {
        case Login::Outcome::NoName:
            m_ui.inform(QStringLiteral("请输入用户名"), QStringLiteral("错误"));
            break;
        case Login::Outcome::WrongPassword:
            m_ui.inform(QStringLiteral("用户名或者密码错误"), QStringLiteral("错误"));
            break;
        case Login::Outcome::LoggedIn:
            close();
            break;
        }
    });
}

void TFormLogin::BitBtn2Click()
{
    close(); // not logged in: closing ends the program
}

void TFormLogin::FormClose()
{
    if (m_closing)
        return;
    m_closing = true;
    if (!m_session.LoggedIn)
        m_ui.requestQuit();
    done(m_session.LoggedIn ? QDialog::Accepted : QDialog::Rejected);
}

void TFormLogin::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void TFormLogin::reject()
{
    FormClose();
}

} // namespace dagl
