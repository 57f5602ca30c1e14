#include "TFrm_dyml.h"

#include "ArchivalForms.h"
#include "BusyCursor.h"
#include "ButtonRow.h"
#include "PrintGrid.h"
#include "ScreenFit.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>

#include <utility>

namespace dagl {

namespace {

struct Filter {
    const char *name;
    const char *caption;
};

// The four choices, in the order of FormSelection's fields and of the tab chain.
const Filter kFilters[] = {
    { "ComboBox1", "全宗号(&Q)：" },
    { "ComboBox2", "归档年度(&Y)：" },
    { "ComboBox3", "保管期限(&T)：" },
    { "ComboBox4", "机构问题(&J)：" },
};

// A list whose entries are read when it is first opened or stepped through: reading them is
// a pass over the whole catalogue, which an operator who types the value never waits for.
class ChoiceBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> fill;

    void showPopup() override
    {
        filled();
        QComboBox::showPopup();
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // An Alt shortcut whose control is disabled is not a letter to type.
        if ((event->modifiers() & Qt::AltModifier) && !(event->modifiers() & Qt::ControlModifier)
            && !event->text().isEmpty() && event->text().at(0).isPrint()) {
            event->ignore();
            return;
        }
        if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_PageUp
            || event->key() == Qt::Key_PageDown)
            filled();
        QComboBox::keyPressEvent(event);
    }

private:
    void filled()
    {
        if (fill)
            std::exchange(fill, nullptr)();
    }
};

template <typename Box = QComboBox>
Box *labelled(QWidget *parent, QGridLayout *grid, int row, int column, const char *name, const char *caption)
{
    auto *box = new Box(parent);
    box->setObjectName(QString::fromLatin1(name));
    auto *label = new QLabel(QString::fromUtf8(caption), parent);
    label->setBuddy(box);
    grid->addWidget(label, row, column);
    grid->addWidget(box, row, column + 1);
    return box;
}

} // namespace

TFrm_dyml::TFrm_dyml(TDataModule5 &dm, Ui &ui, const QVector<qlonglong> &selectedRows, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
    , m_selectedRows(selectedRows)
{
    setObjectName(QStringLiteral("Frm_dyml"));
    setWindowTitle(QStringLiteral("打印档案目录与盒签"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *records = new QGroupBox(QStringLiteral("选择档案"), this);
    auto *grid = new QGridLayout(records);
    for (int i = 0; i < 4; ++i) {
        ChoiceBox *box = labelled<ChoiceBox>(records, grid, i / 2, (i % 2) * 2, kFilters[i].name, kFilters[i].caption);
        box->fill = [this] { runHandler(m_ui, [this] { fillChoices(); }); };
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->lineEdit()->setPlaceholderText(QStringLiteral("全部"));
        box->setMinimumWidth(140);
        m_filters[i] = box;
    }
    m_onlySelected
        = new QCheckBox(QStringLiteral("只打印档案列表中选中的%1条记录(&L)").arg(m_selectedRows.size()), records);
    m_onlySelected->setObjectName(QStringLiteral("CheckBox1"));
    m_onlySelected->setEnabled(!m_selectedRows.isEmpty());
    m_onlySelected->setChecked(!m_selectedRows.isEmpty());
    // Its Alt+L does nothing while nothing is selected, rather than type an "l" into a choice.
    auto *idle = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_L), this);
    idle->setEnabled(!m_onlySelected->isEnabled());
    grid->addWidget(m_onlySelected, 2, 0, 1, 4);
    auto *empty = new QLabel(QStringLiteral("条件留空表示全部。"), records);
    grid->addWidget(empty, 3, 0, 1, 4);

    auto *forms = new QGroupBox(QStringLiteral("打印内容"), this);
    auto *formGrid = new QGridLayout(forms);
    m_form = labelled(forms, formGrid, 0, 0, "ComboBox5", "表格(&B)：");
    for (const ArchivalForms::FormInfo &entry : ArchivalForms::forms())
        m_form->addItem(QString::fromUtf8(entry.caption), int(entry.form));
    m_spineWidth = labelled(forms, formGrid, 1, 0, "ComboBox6", "盒脊宽度(&W)：");
    for (int width : ArchivalForms::spineWidths())
        m_spineWidth->addItem(QStringLiteral("%1 厘米").arg(width), width);
    m_spineWidth->setCurrentIndex(1); // 3 cm, the most common box
    formGrid->setColumnStretch(1, 1);

    QHBoxLayout *buttons = buttonRow<TFrm_dyml>(this, m_ui,
        {
            { "BitBtn1", "预览(&P)", &TFrm_dyml::BitBtn1Click },
            { "BitBtn2", "关闭(&C)", &TFrm_dyml::BitBtn2Click },
        });
    buttons->insertStretch(0, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(records);
    layout->addWidget(forms);
    layout->addStretch(1);
    layout->addLayout(buttons);

    setTabOrder(m_filters[0], m_filters[1]);
    setTabOrder(m_filters[1], m_filters[2]);
    setTabOrder(m_filters[2], m_filters[3]);
    setTabOrder(m_filters[3], m_onlySelected);
    setTabOrder(m_onlySelected, m_form);
    setTabOrder(m_form, m_spineWidth);
    setTabOrder(m_spineWidth, findChild<QWidget *>(QStringLiteral("BitBtn1")));
    setTabOrder(findChild<QWidget *>(QStringLiteral("BitBtn1")), findChild<QWidget *>(QStringLiteral("BitBtn2")));

    connect(m_form, &QComboBox::currentIndexChanged, this, &TFrm_dyml::formChanged);
    connect(m_onlySelected, &QCheckBox::toggled, this, &TFrm_dyml::selectedChanged);
    formChanged();
    selectedChanged();
    (m_onlySelected->isChecked() ? static_cast<QWidget *>(m_form) : m_filters[0])->setFocus();
    resize(sizeHint().expandedTo(QSize(480, 0)));
    ScreenFit::fit(this);
}

void TFrm_dyml::fillChoices()
{
    BusyCursor busy;
    const FormRecords::Choices found = FormRecords::choices(m_dm.ADOConnection1);
    const QStringList *lists[] = { &found.qzh, &found.gdnd, &found.bgqx, &found.jgwt };
    for (int i = 0; i < 4; ++i) {
        static_cast<ChoiceBox *>(m_filters[i])->fill = nullptr; // all four come from the one pass
        const QString typed = m_filters[i]->currentText();
        m_filters[i]->addItem(QString());
        m_filters[i]->addItems(*lists[i]);
        const int at = m_filters[i]->findText(typed);
        m_filters[i]->setCurrentIndex(at);
        m_filters[i]->setEditText(typed);
    }
}

void TFrm_dyml::formChanged()
{
    m_spineWidth->setEnabled(form() == ArchivalForm::BoxSpine);
}

void TFrm_dyml::selectedChanged()
{
    // The selected rows are printed whatever the choices say.
    for (QComboBox *box : m_filters)
        box->setEnabled(!m_onlySelected->isChecked());
}

FormSelection TFrm_dyml::selection() const
{
    FormSelection s;
    if (m_onlySelected->isChecked()) {
        s.onlyRows = true;
        s.rows = m_selectedRows;
        return s;
    }
    QString *values[] = { &s.qzh, &s.gdnd, &s.bgqx, &s.jgwt };
    for (int i = 0; i < 4; ++i)
        *values[i] = m_filters[i]->currentText().trimmed();
    return s;
}

ArchivalForm TFrm_dyml::form() const
{
    return ArchivalForm(m_form->currentData().toInt());
}

int TFrm_dyml::spineWidth() const
{
    return m_spineWidth->currentData().toInt();
}

void TFrm_dyml::BitBtn1Click()
{
    const ArchivalForm chosen = form();
    std::unique_ptr<ArchivalFormReport> report;
    {
        BusyCursor busy;
        FormData records = FormRecords::read(m_dm.ADOConnection1, chosen, selection(),
            m_dm.codeSettings());
        report = ArchivalForms::make(chosen, std::move(records), spineWidth());
    }
    if (report->units() == 0) {
        m_ui.inform(ArchivalForms::nothingToPrint(chosen), QStringLiteral("提示"));
        return;
    }
    // Counted on the A4 page the preview first shows, in the one layout it shows and prints.
    const QPageLayout a4(QPageSize(QPageSize::A4), report->orientation(), report->margins(), QPageLayout::Millimeter);
    int pages = 0;
    {
        BusyCursor busy;
        pages = report->layOutFor(a4);
    }
    if (pages > PrintRules::kAskAbovePages
        && m_ui.messageBox(
               PrintRules::pagesQuestion(pages), QStringLiteral("提示"), Ui::Icon::Question, Ui::Buttons::YesNo)
            != Ui::Answer::Yes)
        return;
    m_ui.printPreview(this, QString::fromUtf8(ArchivalForms::info(chosen).title), *report);
}

void TFrm_dyml::BitBtn2Click()
{
    close();
}

} // namespace dagl
