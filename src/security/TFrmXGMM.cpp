#include "TFrmXGMM.h"

#include "DataControls.h"
#include "PasswordChange.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace dagl {

namespace {

enum Box { Number, Name, OldPassword, NewPassword, Confirmation };

} // namespace

TFrmXGMM::TFrmXGMM(TDataModule5 &dm, Ui &ui, const QString &operatorName, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
    , m_operatorName(operatorName)
{
    setObjectName(QStringLiteral("FrmXGMM"));
    setWindowTitle(QStringLiteral("修改密码"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    struct Row {
        const char *label;
        const char *name;
        bool masked;
    };
    const Row rows[] = {
        { "编        号：", "Edit1", false },
        { "用  户  名：", "Edit2", false },
        { "原始密码：", "Edit3", true },
        { "新  密  码：", "Edit4", true },
        { "确认密码：", "Edit5", true },
    };
    // Longer passwords than the column holds are refused by the database; say so early.
    const int passwordSize = 50;
    auto *group = new QGroupBox(QStringLiteral("用户信息"), this);
    auto *grid = new QGridLayout(group);
    grid->setVerticalSpacing(10);
    for (int i = 0; i < 5; ++i) {
        auto *edit = new QLineEdit(group);
        edit->setObjectName(QString::fromLatin1(rows[i].name));
        if (rows[i].masked) {
            edit->setEchoMode(QLineEdit::Password);
            edit->setMaxLength(passwordSize);
            keepWholeCharacters(edit);
        } else {
            edit->setReadOnly(true);
        }
        m_boxes[i] = edit;
        auto *label = new QLabel(QString::fromUtf8(rows[i].label), group);
        label->setBuddy(edit); // the box's own name to a screen reader, not the group's caption
        grid->addWidget(label, i, 0);
        grid->addWidget(edit, i, 1);
    }

    auto *save = new QPushButton(QStringLiteral("保存(F5)"), this);
    save->setObjectName(QStringLiteral("BitBtn1"));
    auto *exit = new QPushButton(QStringLiteral("退出(F4)"), this);
    exit->setObjectName(QStringLiteral("BitBtn2"));
    for (QPushButton *button : { save, exit })
        button->setAutoDefault(false);
    auto *saveAction = new QAction(QStringLiteral("保存(F5)"), this);
    saveAction->setObjectName(QStringLiteral("Action1"));
    saveAction->setShortcut(Qt::Key_F5);
    auto *exitAction = new QAction(QStringLiteral("退出(F4)"), this);
    exitAction->setObjectName(QStringLiteral("Action2"));
    exitAction->setShortcut(Qt::Key_F4);
    addAction(saveAction);
    addAction(exitAction);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addSpacing(16);
    buttons->addWidget(exit);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    setFixedSize(340, 290);

    setTabOrder(m_boxes[OldPassword], m_boxes[NewPassword]);
    setTabOrder(m_boxes[NewPassword], m_boxes[Confirmation]);
    setTabOrder(m_boxes[Confirmation], save);
    setTabOrder(save, exit);
    connect(saveAction, &QAction::triggered, this, &TFrmXGMM::Action1Execute);
    connect(exitAction, &QAction::triggered, this, &TFrmXGMM::Action2Execute);
    connect(save, &QPushButton::clicked, this, &TFrmXGMM::Action1Execute);
    connect(exit, &QPushButton::clicked, this, &TFrmXGMM::Action2Execute);
}

void TFrmXGMM::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler(m_ui, [this] { FormShow(); });
}

void TFrmXGMM::FormShow()
{
    m_boxes[OldPassword]->setFocus();
    m_account = PasswordChange::load(m_dm, m_operatorName);
    if (!m_account.found)
        return;
    m_boxes[Number]->setText(m_account.id);
    m_boxes[Name]->setText(m_account.name);
}

void TFrmXGMM::Action1Execute()
{
    runHandler(m_ui, [this] {
        switch (PasswordChange::save(m_dm, m_operatorName, m_account, m_boxes[OldPassword]->text(),
            m_boxes[NewPassword]->text(), m_boxes[Confirmation]->text())) {
        case PasswordChange::Outcome::NotRead:
            m_ui.inform(QStringLiteral("未能读取用户信息，不能修改！请关闭本窗口后重新打开。"), QStringLiteral("错误"));
            break;
        case PasswordChange::Outcome::WrongOldPassword:
            m_ui.inform(QStringLiteral("原始密码错误，不能修改！"), QStringLiteral("错误"));
            break;
        case PasswordChange::Outcome::Mismatch:
            m_ui.inform(QStringLiteral("输入的新密码和确认密码不一致，不能修改！"), QStringLiteral("错误"));
            break;
        case PasswordChange::Outcome::Failed:
            m_ui.inform(QStringLiteral("密码修改失败！"), QStringLiteral("错误"));
            break;
        case PasswordChange::Outcome::Changed:
            m_ui.inform(QStringLiteral("修改成功！"), QStringLiteral("正确"));
            close();
            break;
        }
    });
}

void TFrmXGMM::Action2Execute()
{
    close();
}

} // namespace dagl
