#include "TFrm_jcsj.h"

#include "DataControls.h"
#include "Error.h"
#include "IniFile.h"
#include "KeyFilters.h"
#include "RecordChecks.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace dagl {

namespace {
const QString kSection = QStringLiteral("datacsh");
const QString kKey = QStringLiteral("srf");
} // namespace

TFrm_jcsj::TFrm_jcsj(TDataModule5 &dm, Ui &ui, QWidget *parent) : QDialog(parent), m_dm(dm), m_ui(ui)
{
    setObjectName(QStringLiteral("Frm_jcsj"));
    setWindowTitle(QStringLiteral("单位信息基础设置"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);

    struct Box
    {
        DBEdit **edit;
        const char *name;
        const char *label;
        const char *field;
        int maxLength;
    };
    const Box boxes[] = {
        {&m_archiveCode, "DBEdit17", "档案馆代码", "GDM", 10},
        {&m_unitCode, "DBEdit18", "单位代码", "DWDM", 10},
        {&m_fonds, "DBEdit19", "全宗号", "QZH", 5}, // one more than the column holds
        {&m_unitName, "DBEdit20", "单位名称", "DWMC", 50},
    };
    auto *unit = new QGroupBox(QStringLiteral("单位信息"), this);
    auto *grid = new QGridLayout(unit);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(12);
    int column = 0;
    for (const Box &box : boxes) {
        auto *edit = new DBEdit(unit);
        edit->setObjectName(QString::fromUtf8(box.name));
        edit->setMaxLength(box.maxLength);
        edit->bind(&m_dm.TJCsj, QString::fromUtf8(box.field));
        *box.edit = edit;
        auto *label = new QLabel(QString::fromUtf8(box.label), unit);
        label->setBuddy(edit);
        if (edit == m_unitName) {
            grid->addWidget(label, 1, 0);
            grid->addWidget(edit, 1, 1, 1, 5);
        } else {
            grid->addWidget(label, 0, column++);
            grid->addWidget(edit, 0, column++);
        }
    }
    m_archiveCode->setFixedWidth(110);
    KeyFilter::install(m_archiveCode, KeyFilter::Kind::Digits); // DBEdit17KeyPress
    connect(m_fonds, &QLineEdit::textEdited, this, [this](const QString &text) { m_fondsTyped = text; });

    auto *choice = new QGroupBox(QStringLiteral("录入设置"), this);
    auto *row = new QHBoxLayout(choice);
    m_inputMethod = new QComboBox(choice);
    m_inputMethod->setObjectName(QStringLiteral("ComboBox1"));
    m_inputMethod->setEditable(true);
    m_inputMethod->setMinimumWidth(240);
    row->addWidget(new QLabel(QStringLiteral("请选择默认输入法："), choice));
    row->addWidget(m_inputMethod, 1);

    auto *save = new QPushButton(QStringLiteral("保存(&S)"), this);
    save->setObjectName(QStringLiteral("BitBtn1"));
    auto *close = new QPushButton(QStringLiteral("关闭(&C)"), this);
    close->setObjectName(QStringLiteral("BitBtn3"));
    for (QPushButton *button : {save, close})
        button->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addSpacing(12);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(unit);
    layout->addWidget(choice);
    layout->addLayout(buttons);
    setFixedSize(560, 250);

    setTabOrder(m_archiveCode, m_unitCode);
    setTabOrder(m_unitCode, m_fonds);
    setTabOrder(m_fonds, m_unitName);
    connect(save, &QPushButton::clicked, this, &TFrm_jcsj::BitBtn1Click);
    connect(close, &QPushButton::clicked, this, &TFrm_jcsj::BitBtn3Click);
}

void TFrm_jcsj::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler(m_ui, [this] { FormShow(); });
}

void TFrm_jcsj::FormShow()
{
    m_fondsTyped.reset();
    Dataset &unit = m_dm.TJCsj;
    unit.open();
    if (unit.isEmpty())
        unit.append(); // the first save creates the row
    else
        unit.edit();
    m_archiveCode->setFocus();

    m_inputMethod->clear();
    m_inputMethod->addItems(m_ui.inputMethods());
    const QString chosen = IniFile::settingsOf(m_dm.programFolder()).read(kSection, kKey, QString());
    if (!chosen.isEmpty())
        m_inputMethod->setEditText(chosen);
    else if (m_inputMethod->count() > 0)
        m_inputMethod->setCurrentIndex(0);
}

void TFrm_jcsj::BitBtn1Click()
{
    runHandler(m_ui, [this] {
        const auto failure = UnitSettingsCheck::check(m_unitCode->text(), m_fonds->text(), m_unitName->text());
        if (failure) {
            m_ui.showMessage(failure->message);
            (failure->field == QLatin1String("DWDM") ? m_unitCode : m_unitName)->setFocus();
            return;
        }
        Dataset &unit = m_dm.TJCsj;
        // The box takes one character more than the column holds: say so rather than cut.
        const int fondsSize = unit.isOpen() ? unit.fieldDef(unit.fieldByName(QStringLiteral("QZH"))).size : 0;
        const QString fonds = m_fondsTyped.value_or(m_fonds->text());
        if (fondsSize > 0 && fonds.size() > fondsSize) {
            m_ui.showMessage(
                QStringLiteral("全宗号“%1”超过了%2个字符，请改正后再保存!").arg(fonds).arg(fondsSize));
            m_fonds->setText(fonds);
            m_fonds->setFocus();
            return;
        }
        try {
            if (!unit.isEditing())
                unit.edit();
            unit.post();
        } catch (const Error &) {
            m_ui.showMessage(QStringLiteral("数据修改失败！"));
            return;
        }
        m_fondsTyped.reset();
        m_ui.showMessage(QStringLiteral("数据修改成功！"));
    });
}

void TFrm_jcsj::BitBtn3Click()
{
    runHandler(m_ui, [this] {
        if (m_dm.TJCsj.isOpen())
            m_dm.TJCsj.cancel();
    });
    close();
}

bool TFrm_jcsj::FormClose()
{
    // The input method is kept on closing, saved or not.
    try {
        IniFile::settingsOf(m_dm.programFolder()).write(kSection, kKey, m_inputMethod->currentText());
        return true;
    } catch (const Error &error) {
        m_ui.showError(error.message());
        return false;
    }
}

void TFrm_jcsj::reject()
{
    close(); // Esc closes like the frame's button
}

void TFrm_jcsj::closeEvent(QCloseEvent *event)
{
    // Not QDialog's own handling: it would reject() again, which closes again.
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

} // namespace dagl
