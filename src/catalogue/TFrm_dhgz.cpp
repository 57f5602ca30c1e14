#include "TFrm_dhgz.h"

#include "BusyCursor.h"
#include "ButtonRow.h"
#include "DataControls.h"
#include "Connection.h"
#include "Error.h"
#include "IniFile.h"
#include "NumberRegister.h"
#include "ScreenFit.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace dagl {

namespace {

// The retention periods' captions, in the order of ArchivalCodeSettings::retentionPeriods().
const char *const kRetentionCaptions[] = { "永久(&Y)：", "长期(&Q)：", "30年(&3)：", "短期(&D)：", "10年(&1)：" };

constexpr int kNameColumn = 0;
constexpr int kCodeColumn = 1;

} // namespace

TFrm_dhgz::TFrm_dhgz(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Frm_dhgz"));
    setWindowTitle(QStringLiteral("档号规则"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *parts = new QGroupBox(QStringLiteral("档号组成"), this);
    auto *form = new QFormLayout(parts);
    m_category = new QLineEdit(parts);
    m_category->setObjectName(QStringLiteral("Edit1"));
    m_category->setMaxLength(10);
    form->addRow(buddyLabel("门类代码(&M)：", m_category, parts), m_category);
    m_digits = new QSpinBox(parts);
    m_digits->setObjectName(QStringLiteral("SpinEdit1"));
    m_digits->setRange(1, 9);
    form->addRow(buddyLabel("件号位数(&W)：", m_digits, parts), m_digits);
    m_classSegment = new QCheckBox(QStringLiteral("档号中含机构代码(&G)"), parts);
    m_classSegment->setObjectName(QStringLiteral("CheckBox1"));
    form->addRow(m_classSegment);

    auto *retention = new QGroupBox(QStringLiteral("保管期限代码"), this);
    auto *retentionForm = new QFormLayout(retention);
    for (int i = 0; i < int(std::size(kRetentionCaptions)); ++i) {
        auto *edit = new QLineEdit(retention);
        edit->setObjectName(QStringLiteral("EditBgqx%1").arg(i + 1));
        edit->setMaxLength(10);
        retentionForm->addRow(buddyLabel(kRetentionCaptions[i], edit, retention), edit);
        m_retention << edit;
    }

    auto *classes = new QGroupBox(QStringLiteral("机构代码"), this);
    auto *classLayout = new QVBoxLayout(classes);
    m_classes = new QTableWidget(0, 2, classes);
    m_classes->setObjectName(QStringLiteral("StringGrid1"));
    m_classes->setHorizontalHeaderLabels({ QStringLiteral("机构(问题)"), QStringLiteral("代码") });
    m_classes->horizontalHeader()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    m_classes->verticalHeader()->hide();
    m_classes->setSelectionMode(QAbstractItemView::SingleSelection);
    m_classes->setEditTriggers(
        QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
    m_classes->setTabKeyNavigation(false);
    classLayout->addWidget(buddyLabel("各机构的代码(&J)：", m_classes, classes));
    classLayout->addWidget(m_classes, 1);

    auto *top = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    left->addWidget(parts);
    left->addWidget(retention);
    top->addLayout(left);
    top->addWidget(classes, 1);

    auto *result = new QGroupBox(QStringLiteral("按以上规则"), this);
    auto *resultLayout = new QVBoxLayout(result);
    m_example = new QLineEdit(result);
    m_example->setObjectName(QStringLiteral("Edit2"));
    m_example->setReadOnly(true);
    auto *exampleRow = new QHBoxLayout;
    exampleRow->addWidget(buddyLabel("当前档案的档号(&E)：", m_example, result));
    exampleRow->addWidget(m_example, 1);
    resultLayout->addLayout(exampleRow);
    m_shared = new QListWidget(result);
    m_shared->setObjectName(QStringLiteral("ListBox1"));
    resultLayout->addWidget(buddyLabel("共用同一档号的档案(&L)：", m_shared, result));
    resultLayout->addWidget(m_shared, 1);

    QHBoxLayout *buttons = buttonRow<TFrm_dhgz>(this, m_ui,
        {
            { "BitBtn3", "检查重复(&K)", &TFrm_dhgz::BitBtn3Click },
            { "BitBtn1", "保存(&S)", &TFrm_dhgz::BitBtn1Click },
            { "BitBtn2", "关闭(&C)", &TFrm_dhgz::BitBtn2Click },
        });
    buttons->insertStretch(0, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(result, 1);
    layout->addLayout(buttons);

    setTabOrder(m_category, m_digits);
    setTabOrder(m_digits, m_classSegment);
    setTabOrder(m_classSegment, m_retention.first());
    for (int i = 1; i < m_retention.size(); ++i)
        setTabOrder(m_retention.at(i - 1), m_retention.at(i));
    setTabOrder(m_retention.last(), m_classes);
    setTabOrder(m_classes, m_example);
    setTabOrder(m_example, m_shared);

    runHandler(m_ui, [this] { FormShow(); });
    connect(m_category, &QLineEdit::textChanged, this, &TFrm_dhgz::updateExample);
    for (QLineEdit *edit : std::as_const(m_retention))
        connect(edit, &QLineEdit::textChanged, this, &TFrm_dhgz::updateExample);
    connect(m_digits, &QSpinBox::valueChanged, this, &TFrm_dhgz::updateExample);
    connect(m_classSegment, &QCheckBox::toggled, this, &TFrm_dhgz::updateExample);
    connect(m_classes, &QTableWidget::itemChanged, this, &TFrm_dhgz::updateExample);
    updateExample();
    resize(sizeHint().expandedTo(QSize(640, 560)));
    ScreenFit::fit(this);
    m_category->setFocus();
}

TFrm_dhgz::~TFrm_dhgz()
{
    // A code still being typed is committed as the window goes: no example to show then.
    disconnect(m_classes, nullptr, this, nullptr);
}

void TFrm_dhgz::FormShow()
{
    m_loaded = m_dm.codeSettings();
    m_category->setText(m_loaded.categoryCode);
    m_digits->setValue(m_loaded.itemDigits);
    m_classSegment->setChecked(m_loaded.classSegment);
    const QStringList &periods = ArchivalCodeSettings::retentionPeriods();
    for (int i = 0; i < m_retention.size(); ++i)
        m_retention.at(i)->setText(m_loaded.retentionCodes.value(periods.at(i)));

    const QStringList names = NumberRegister::classNames(m_dm.ADOConnection1);
    const QHash<QString, QString> codes = m_loaded.codesFor(names);
    m_classes->setRowCount(int(names.size()));
    for (int row = 0; row < names.size(); ++row) {
        auto *name = new QTableWidgetItem(names.at(row));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_classes->setItem(row, kNameColumn, name);
        m_classes->setItem(row, kCodeColumn, new QTableWidgetItem(codes.value(names.at(row))));
    }
    if (!names.isEmpty())
        m_classes->setCurrentCell(0, kCodeColumn);

    // The record the list stands on; else the first numbered one of the catalogue.
    const Dataset &list = m_dm.Tsyyp;
    if (list.isOpen() && list.currentRow() >= 0) {
        m_current = RecordNumber::from([&list](const QString &column) { return list.text(column); });
    } else {
        Query first(m_dm.ADOConnection1,
            QStringLiteral(
                "SELECT %1 FROM 文件目录 WHERE JH IS NOT NULL OR SXH IS NOT NULL ORDER BY str_m_date LIMIT 1")
                .arg(RecordNumber::columns().join(QLatin1Char(','))));
        if (first.step()) {
            m_current = RecordNumber::from([&first](const QString &column) {
                return first.value(int(RecordNumber::columns().indexOf(column))).toString();
            });
        }
    }
    if (!m_current.byItem() && !m_current.byVolume()) {
        // An empty catalogue: an item as it would be numbered.
        m_current.qzh = QStringLiteral("0001");
        m_current.gdnd = QString::number(QDate::currentDate().year());
        m_current.bgqx = ArchivalCodeSettings::retentionPeriods().first();
        m_current.jgwt = names.value(0);
        m_current.jh = QStringLiteral("1");
    }
}

ArchivalCodeSettings TFrm_dhgz::settings() const
{
    ArchivalCodeSettings s = m_loaded;
    s.categoryCode = m_category->text().trimmed();
    s.itemDigits = m_digits->value();
    s.classSegment = m_classSegment->isChecked();
    const QStringList &periods = ArchivalCodeSettings::retentionPeriods();
    for (int i = 0; i < m_retention.size(); ++i)
        s.retentionCodes.insert(periods.at(i), m_retention.at(i)->text().trimmed());
    // 机构 no longer in the catalogue keep the codes they had.
    for (int row = 0; row < m_classes->rowCount(); ++row) {
        const QTableWidgetItem *name = m_classes->item(row, kNameColumn);
        const QTableWidgetItem *code = m_classes->item(row, kCodeColumn);
        if (name && code)
            s.classCodes.insert(name->text(), code->text().trimmed());
    }
    return s;
}

void TFrm_dhgz::updateExample()
{
    if (!m_example)
        return;
    m_example->setText(ArchivalCode::compose(m_current, settings()));
}

bool TFrm_dhgz::codesUsable()
{
    const auto refuse = [this](const QString &problem, QWidget *control) {
        if (problem.isEmpty())
            return false;
        m_ui.showMessage(problem);
        control->setFocus();
        return true;
    };
    if (refuse(ArchivalCodeSettings::codeProblem(QStringLiteral("门类"), m_category->text()), m_category))
        return false;
    const QStringList &periods = ArchivalCodeSettings::retentionPeriods();
    for (int i = 0; i < m_retention.size(); ++i) {
        if (refuse(ArchivalCodeSettings::codeProblem(
                       QStringLiteral("保管期限“%1”").arg(periods.at(i)), m_retention.at(i)->text()),
                m_retention.at(i)))
            return false;
    }
    for (int row = 0; row < m_classes->rowCount(); ++row) {
        const QTableWidgetItem *code = m_classes->item(row, kCodeColumn);
        const QString problem = ArchivalCodeSettings::codeProblem(
            QStringLiteral("机构“%1”").arg(m_classes->item(row, kNameColumn)->text()), code ? code->text() : QString());
        if (!problem.isEmpty()) {
            m_classes->setCurrentCell(row, kCodeColumn);
            refuse(problem, m_classes);
            return false;
        }
    }
    return true;
}

int TFrm_dhgz::listShared()
{
    BusyCursor busy;
    const QVector<NumberRegister::SharedCode> shared = NumberRegister::sharedCodes(m_dm.ADOConnection1, settings());
    m_shared->clear();
    for (const NumberRegister::SharedCode &entry : shared) {
        QStringList titles;
        for (const NumberRegister::Holder &holder : entry.holders)
            titles << QStringLiteral("“%1”").arg(holder.title.trimmed());
        m_shared->addItem(QStringLiteral("%1：%2").arg(entry.code, titles.join(QStringLiteral("、"))));
    }
    if (shared.isEmpty())
        m_shared->addItem(QStringLiteral("没有共用同一档号的档案。"));
    m_shared->setCurrentRow(0);
    return int(shared.size());
}

void TFrm_dhgz::BitBtn3Click()
{
    if (codesUsable())
        listShared();
}

void TFrm_dhgz::BitBtn1Click()
{
    if (!codesUsable())
        return;
    const int shared = listShared();
    if (shared > 0
        && m_ui.messageBox(
               QStringLiteral("按新的规则，有%1个档号被多条档案共用（已列出）。\n仍然保存这些规则吗？").arg(shared),
               QStringLiteral("提示"), Ui::Icon::Warning, Ui::Buttons::YesNo)
            != Ui::Answer::Yes) {
        m_shared->setFocus();
        return;
    }
    const ArchivalCodeSettings chosen = settings();
    try {
        chosen.save(IniFile::settingsOf(m_dm.programFolder()));
    } catch (const Error &error) {
        m_ui.showError(error.message());
        return;
    }
    m_loaded = chosen;
    // Lists open behind show their codes under the new rules.
    for (QWidget *widget : QApplication::allWidgets()) {
        if (auto *view = qobject_cast<QAbstractItemView *>(widget))
            view->viewport()->update();
    }
    m_ui.showMessage(QStringLiteral("档号规则已保存！"));
}

void TFrm_dhgz::BitBtn2Click()
{
    close();
}

} // namespace dagl
