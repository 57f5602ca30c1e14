#include "TFrm_dayj.h"

#include "DataControls.h"
#include "RecordChecks.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace dagl {

TFrm_dayj::TFrm_dayj(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Frm_dayj"));
    setWindowTitle(QStringLiteral("档案移交"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    // In tab order; the grid places them two to a line with the content across the bottom.
    struct Box {
        const char *name;
        const char *label;
        const char *field;
        int row, column;
    };
    const Box boxes[] = {
        { "DBEdit1", "移交编号：", "yjbh", 0, 0 },
        { "DBEdit2", "移交人：", "yjr", 1, 0 },
        { "DBEdit3", "接收人：", "jsr", 1, 2 },
        { "DBMemo1", "移交内容：", "yjnr", 3, 0 },
        { "DBEdit4", "移交日期：", "yjrq", 2, 0 },
        { "DBEdit5", "接收日期：", "jsrq", 2, 2 },
    };
    auto *group = new QGroupBox(QStringLiteral("移交记录"), this);
    auto *grid = new QGridLayout(group);
    grid->setVerticalSpacing(10);
    QWidget *previous = nullptr;
    for (const Box &box : boxes) {
        QWidget *control;
        const QString field = QString::fromUtf8(box.field);
        if (field == QLatin1String("yjnr")) {
            auto *memo = new DBMemo(group);
            memo->setTabChangesFocus(true);
            memo->bind(&m_dm.TYjb, field);
            memo->setMinimumHeight(110);
            control = memo;
            grid->addWidget(buddyLabel(box.label, memo, group), box.row, 0, Qt::AlignTop);
            grid->addWidget(memo, box.row, 1, 1, 3);
        } else {
            auto *edit = new DBEdit(group);
            edit->bind(&m_dm.TYjb, field);
            control = edit;
            grid->addWidget(buddyLabel(box.label, edit, group), box.row, box.column);
            grid->addWidget(edit, box.row, box.column + 1);
        }
        control->setObjectName(QString::fromUtf8(box.name));
        m_boxes.insert(field, control);
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }

    auto *save = new QPushButton(QStringLiteral("保存(&S)"), this);
    save->setObjectName(QStringLiteral("Button1"));
    auto *exit = new QPushButton(QStringLiteral("退出(&C)"), this);
    exit->setObjectName(QStringLiteral("Button2"));
    auto *print = new QPushButton(QStringLiteral("打印(&P)"), this);
    print->setObjectName(QStringLiteral("Button3"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *button : { save, exit, print }) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    setFixedSize(520, 340);

    connect(save, &QPushButton::clicked, this, &TFrm_dayj::Button1Click);
    connect(exit, &QPushButton::clicked, this, &TFrm_dayj::Button2Click);
    // A date the field cannot take is reported as soon as its box is left.
    reportFieldErrors(this, m_ui);
}

void TFrm_dayj::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler(m_ui, [this] { FormShow(); });
}

void TFrm_dayj::FormShow()
{
    Dataset &handover = m_dm.TYjb;
    handover.open();
    handover.append();
    m_boxes.value(QStringLiteral("yjbh"))->setFocus();
}

QString TFrm_dayj::boxText(const QString &field) const
{
    QWidget *box = m_boxes.value(field);
    if (auto *memo = qobject_cast<DBMemo *>(box))
        return memo->toPlainText();
    return static_cast<DBEdit *>(box)->text();
}

void TFrm_dayj::Button1Click()
{
    runHandler(m_ui, [this] {
        if (const RequiredField *empty
            = firstEmpty(HandoverCheck::rules(), [this](const QString &f) { return boxText(f); })) {
            m_ui.showMessage(empty->message);
            m_boxes.value(empty->field)->setFocus();
            return;
        }
        Dataset &handover = m_dm.TYjb;
        if (!handover.isEditing())
            handover.edit();
        handover.post();
        m_ui.showMessage(QStringLiteral("接收数据保存成功!"));
    });
}

void TFrm_dayj::Button2Click()
{
    close();
}

void TFrm_dayj::closeEvent(QCloseEvent *event)
{
    runHandler(m_ui, [this] {
        if (m_dm.TYjb.isOpen())
            m_dm.TYjb.cancel();
    });
    event->accept();
}

void TFrm_dayj::reject()
{
    close();
}

} // namespace dagl
