#include "TFrm_AEsj.h"

#include "DataControls.h"
#include "Error.h"
#include "IniFile.h"
#include "KeyFilters.h"
#include "NumberRegister.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dagl {

namespace {

const QString kCopySection = QStringLiteral("jcsz");
const QString kCopyKey = QStringLiteral("cjyhqx");
const QString kEntrySection = QStringLiteral("datacsh");
const QString kStandardKey = QStringLiteral("kxpl");
const QString kInputMethodKey = QStringLiteral("srf");
const QString kDefaultInputMethod = QStringLiteral("中文 (简体) - 全拼");

enum class Input { Any, Digits, List, FreeText };

struct FieldSpec {
    const char *column;
    const char *name;
    const char *label;
    Input input;
    int span; // label + field columns taken in the group's 6-column grid
};

// One group of the window: its caption and its lines of fields.
struct GroupSpec {
    const char *caption;
    QVector<QVector<FieldSpec>> lines;
};

const QVector<GroupSpec> &groups()
{
    static const QVector<GroupSpec> table = {
        { "单位基本信息（此信息在基础设置里面设置，如果不正确请到基础设置里面修改后再录入数据）",
            { { { "GDM", "DBEdit17", "档案馆代码", Input::Digits, 2 },
                  { "DWDM", "DBEdit19", "单位代码(组织机构代码)", Input::Any, 2 },
                  { "QZH", "DBEdit20", "全宗号", Input::Digits, 2 } },
                { { "DWMC", "DBEdit18", "单位名称", Input::Any, 6 } } } },
        { "档案录入标准",
            { { { "MLH", "DBEdit10", "目录号", Input::Any, 2 }, { "AJH", "DBEdit12", "案卷号", Input::Digits, 2 },
                  { "SXH", "DBEdit13", "顺序号", Input::Digits, 2 } },
                { { "HH", "DBEdit3", "盒 号", Input::Digits, 2 }, { "JH", "DBEdit4", "件  号", Input::Digits, 2 } } } },
        { "基础数据",
            { { { "GDND", "DBEdit5", "归档年度", Input::Digits, 2 }, { "ZRZ", "DBEdit7", "责任者", Input::FreeText, 2 },
                  { "BGQX", "DBComboBox1", "保管期限", Input::List, 2 } },
                { { "WH", "DBEdit8", "文   号", Input::FreeText, 2 },
                    { "JGWT", "DBEdit9", "机构问题", Input::FreeText, 2 },
                    { "MJ", "DBComboBox2", "密    级", Input::List, 2 } },
                { { "TM", "DBEdit6", "题   名", Input::FreeText, 6 } },
                { { "CWSJ", "DBEdit14", "文件时间", Input::Digits, 2 },
                    { "YH", "DBEdit15", "页数（页码）", Input::Digits, 2 },
                    { "DALX", "DBComboBox3", "档案类型", Input::List, 2 } },
                { { "KZBS", "DBComboBox4", "控制标识", Input::List, 2 },
                    { "BZ", "DBEdit16", "备    注", Input::FreeText, 4 } } } },
        { "照片类数据",
            { { { "PSZ", "DBEdit2", "拍摄者", Input::FreeText, 2 },
                { "PSDD", "DBEdit21", "拍摄地点", Input::FreeText, 2 },
                { "人名", "DBEdit22", "人物", Input::FreeText, 2 } } } },
        { "数据挂接（请将需要挂接的文件放在系统指定挂接路径）",
            { { { "DZWJM", "DBEdit1", "挂接文件所在路径", Input::Any, 5 } } } },
    };
    return table;
}

// Where Enter moves the focus; fields not named here keep it.
const QVector<QPair<const char *, const char *>> &enterChain()
{
    static const QVector<QPair<const char *, const char *>> chain = {
        { "MLH", "AJH" },
        { "AJH", "SXH" },
        { "SXH", "GDND" },
        { "HH", "JH" },
        { "JH", "GDND" },
        { "GDND", "ZRZ" },
        { "ZRZ", "BGQX" },
        { "BGQX", "WH" },
        { "WH", "JGWT" },
        { "JGWT", "MJ" },
        { "MJ", "TM" },
        { "TM", "CWSJ" },
        { "CWSJ", "YH" },
        { "YH", "DALX" },
        { "DALX", "KZBS" },
        { "KZBS", "BZ" },
        { "BZ", "PSZ" },
        { "PSZ", "PSDD" },
        { "PSDD", "人名" },
        { "DZWJM", "PSDD" },
    };
    return chain;
}

FieldLink *linkOf(QWidget *control)
{
    if (auto *edit = qobject_cast<DBEdit *>(control))
        return &edit->link();
    if (auto *combo = qobject_cast<DBComboBox *>(control))
        return &combo->link();
    return nullptr;
}

} // namespace

TFrm_AEsj::TFrm_AEsj(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Frm_AEsj"));
    setWindowTitle(QStringLiteral("档案数据录入修改"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    reportFieldErrors(this, m_ui);
    applyMode(true);
}

TFrm_AEsj::~TFrm_AEsj()
{
    // Destroyed without being closed (its owner went first): no unchecked row stays behind.
    if (!m_closed)
        cancelPending();
}

void TFrm_AEsj::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    QVector<QWidget *> tabOrder;
    for (const GroupSpec &group : groups()) {
        auto *box = new QGroupBox(QString::fromUtf8(group.caption), this);
        auto *grid = new QGridLayout;
        grid->setHorizontalSpacing(6);
        auto *outer = new QHBoxLayout(box);
        if (QLatin1String(group.caption) == QLatin1String("档案录入标准")) {
            auto *radios = new QGroupBox(box);
            radios->setObjectName(QStringLiteral("RadioGroup1"));
            auto *column = new QVBoxLayout(radios);
            m_standards = new QButtonGroup(this);
            const char *captions[] = { "2000年前以卷为单位录入标准", "2000年后以件为单位录入标准" };
            for (int id = 0; id < 2; ++id) {
                auto *radio = new QRadioButton(QString::fromUtf8(captions[id]), radios);
                radio->setObjectName(QStringLiteral("RadioButton%1").arg(id + 1));
                m_standards->addButton(radio, id);
                column->addWidget(radio);
                tabOrder << radio;
            }
            m_standards->button(0)->setChecked(true);
            connect(m_standards, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
                if (!checked)
                    return;
                // Chosen with the arrow keys, the button takes the focus after it is
                // checked: the move to the first number box comes after that.
                if (m_standards->button(id)->hasFocus() || m_standards->button(1 - id)->hasFocus())
                    QMetaObject::invokeMethod(this, &TFrm_AEsj::RadioGroup1Click, Qt::QueuedConnection);
                else
                    RadioGroup1Click();
            });
            outer->addWidget(radios);
        }
        outer->addLayout(grid, 1);
        int row = 0;
        for (const auto &line : group.lines) {
            int column = 0;
            for (const FieldSpec &spec : line) {
                const QString name = QString::fromUtf8(spec.column);
                QWidget *field = nullptr;
                if (spec.input == Input::List) {
                    auto *combo = new DBComboBox(box);
                    combo->addItems(RecordCheck::listEntries(name));
                    combo->setInsertPolicy(QComboBox::NoInsert);
                    combo->bind(&m_dm.Tsyyp, name);
                    KeyFilter::install(combo, KeyFilter::Kind::NoTyping);
                    field = combo;
                } else {
                    auto *edit = new DBEdit(box);
                    edit->bind(&m_dm.Tsyyp, name);
                    if (spec.input == Input::Digits)
                        KeyFilter::install(edit, KeyFilter::Kind::Digits);
                    field = edit;
                }
                field->setObjectName(QString::fromUtf8(spec.name));
                field->setProperty("freeText", spec.input == Input::FreeText);
                field->installEventFilter(this);
                m_controls.insert(name, field);
                m_columnOf.insert(field, name);
                if (auto *combo = qobject_cast<QComboBox *>(field)) {
                    // Keys may reach the list's own line edit first.
                    combo->lineEdit()->installEventFilter(this);
                    m_columnOf.insert(combo->lineEdit(), name);
                }
                tabOrder << field;
                auto *label = new QLabel(QString::fromUtf8(spec.label), box);
                label->setBuddy(field);
                grid->addWidget(label, row, column, Qt::AlignRight);
                grid->addWidget(field, row, column + 1, 1, spec.span - 1);
                column += spec.span;
            }
            if (QLatin1String(line.first().column) == QLatin1String("DZWJM")) {
                m_openPath = new QPushButton(QStringLiteral("打开挂接路径(&O)"), box);
                m_openPath->setObjectName(QStringLiteral("Button2"));
                grid->addWidget(m_openPath, row, column);
                tabOrder << m_openPath;
            }
            ++row;
        }
        layout->addWidget(box);
    }

    m_modify = new QPushButton(QStringLiteral("修改(&E)"), this);
    m_modify->setObjectName(QStringLiteral("BitBtn2"));
    m_returnEdit = new QPushButton(QStringLiteral("返回(&X)"), this);
    m_returnEdit->setObjectName(QStringLiteral("BitBtn4"));
    m_copy = new QCheckBox(QStringLiteral("复制上一条记录"), this);
    m_copy->setObjectName(QStringLiteral("CheckBox1"));
    m_save = new QPushButton(QStringLiteral("保存(&S)"), this);
    m_save->setObjectName(QStringLiteral("BitBtn1"));
    m_returnAppend = new QPushButton(QStringLiteral("返回(&C)"), this);
    m_returnAppend->setObjectName(QStringLiteral("BitBtn3"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_modify);
    bar->addWidget(m_returnEdit);
    bar->addStretch();
    bar->addWidget(m_copy);
    bar->addWidget(m_save);
    bar->addWidget(m_returnAppend);
    layout->addLayout(bar);
    tabOrder << m_modify << m_returnEdit << m_copy << m_save << m_returnAppend;
    for (QPushButton *button : { m_openPath, m_modify, m_returnEdit, m_save, m_returnAppend }) {
        button->setAutoDefault(false); // Enter belongs to the fields
        button->setDefault(false);
    }
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // A new group for the next record (another year, retention, class or volume) gets its
    // own next number, as long as the operator has not typed one.
    for (const char *group : { "QZH", "GDND", "BGQX", "JGWT", "MLH", "AJH" }) {
        QWidget *field = control(QString::fromUtf8(group));
        if (auto *combo = qobject_cast<QComboBox *>(field))
            connect(combo, &QComboBox::activated, this, &TFrm_AEsj::proposeNumber);
        else if (auto *edit = qobject_cast<QLineEdit *>(field))
            connect(edit, &QLineEdit::textEdited, this, &TFrm_AEsj::proposeNumber);
    }

    connect(m_save, &QPushButton::clicked, this, &TFrm_AEsj::BitBtn1Click);
    connect(m_modify, &QPushButton::clicked, this, &TFrm_AEsj::BitBtn2Click);
    connect(m_returnAppend, &QPushButton::clicked, this, &TFrm_AEsj::BitBtn3Click);
    connect(m_returnEdit, &QPushButton::clicked, this, &TFrm_AEsj::BitBtn4Click);
    connect(m_openPath, &QPushButton::clicked, this, &TFrm_AEsj::Button2Click);

    layout->setSizeConstraint(QLayout::SetFixedSize); // a fixed-size dialog frame
}

void TFrm_AEsj::applyMode(bool append)
{
    m_appendMode = append;
    setModal(!append);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::WindowStaysOnTopHint);
    m_save->setVisible(append);
    m_returnAppend->setVisible(append);
    m_copy->setVisible(append);
    m_modify->setVisible(!append);
    m_returnEdit->setVisible(!append);
}

void TFrm_AEsj::setAppendMode()
{
    applyMode(true);
    runHandler(m_ui, [this] {
        Dataset &records = m_dm.Tsyyp;
        if (!records.isOpen() || !records.isEditing())
            return;
        for (const QString &column : RecordCheck::listColumns())
            records.setText(column, RecordCheck::listEntries(column).first());
    });
}

void TFrm_AEsj::setEditMode()
{
    applyMode(false);
}

int TFrm_AEsj::standard() const
{
    return m_standards->checkedId() == RecordCheck::ByItem ? RecordCheck::ByItem : RecordCheck::ByVolume;
}

void TFrm_AEsj::setStandard(int standard)
{
    if (auto *button = m_standards->button(standard))
        button->setChecked(true);
}

QWidget *TFrm_AEsj::control(const QString &field) const
{
    return m_controls.value(field);
}

QString TFrm_AEsj::displayed(const QString &field) const
{
    QWidget *widget = control(field);
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    return {};
}

void TFrm_AEsj::focusField(const QString &field)
{
    if (QWidget *widget = control(field))
        widget->setFocus(Qt::OtherFocusReason);
}

void TFrm_AEsj::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        m_closed = false;
        runHandler(m_ui, [this] { FormShow(); });
    }
}

void TFrm_AEsj::FormShow()
{
    const IniFile settings = IniFile::settingsOf(m_dm.programFolder());
    m_copy->setChecked(settings.read(kCopySection, kCopyKey, QStringLiteral("1")) == QLatin1String("1"));

    Dataset &records = m_dm.Tsyyp;
    const bool onRow = records.isOpen() && records.currentRow() >= 0;
    const QString mlh = onRow ? records.text(QStringLiteral("MLH")) : QString();
    const QString hh = onRow ? records.text(QStringLiteral("HH")) : QString();
    QString kxpl;
    if (RecordCheck::trimmed(mlh).isEmpty() && RecordCheck::trimmed(hh).isEmpty())
        kxpl = settings.read(kEntrySection, kStandardKey, QStringLiteral("0"));
    bool fromSetting = false;
    const int chosen = RecordCheck::standardFor(mlh, hh, kxpl, standard(), &fromSetting);
    setStandard(chosen); // a change runs RadioGroup1Click
    if (fromSetting)
        RadioGroup1Click();

    m_inputMethod = settings.read(kEntrySection, kInputMethodKey, QString());
    if (m_inputMethod.isEmpty())
        m_inputMethod = kDefaultInputMethod;

    // The unit information valid now goes into the row, in both modes.
    Dataset &unit = m_dm.TJCsj;
    if (!unit.isOpen()) {
        unit.open();
        m_openedUnit = true;
    }
    if (!onRow)
        return;
    if (!records.isEditing())
        records.edit();
    const bool hasUnit = unit.currentRow() >= 0;
    for (const char *column : { "GDM", "DWDM", "QZH", "DWMC" }) {
        const QString name = QString::fromUtf8(column);
        records.setText(name, hasUnit ? unit.text(name) : QString());
    }
}

bool TFrm_AEsj::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    const auto column = m_columnOf.constFind(widget);
    if (column == m_columnOf.constEnd())
        return QDialog::eventFilter(watched, event);

    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            for (const auto &step : enterChain()) {
                if (QString::fromUtf8(step.first) == *column) {
                    focusField(QString::fromUtf8(step.second));
                    break;
                }
            }
            return true; // Enter never reaches a button or a list's own handling
        }
    } else if (event->type() == QEvent::FocusIn && widget->property("freeText").toBool()) {
        m_ui.switchInputMethod(widget, m_inputMethod.isEmpty() ? kDefaultInputMethod : m_inputMethod);
    }
    return QDialog::eventFilter(watched, event);
}

void TFrm_AEsj::RadioGroup1Click()
{
    focusField(standard() == RecordCheck::ByItem ? QStringLiteral("HH") : QStringLiteral("MLH"));
}

bool TFrm_AEsj::CheckRecord()
{
    Dataset &records = m_dm.Tsyyp;
    const int selected = standard();
    // The other standard's numbers are emptied first, also when a rule then fails.
    for (const QString &column : RecordCheck::otherStandardColumns(selected)) {
        if (records.isOpen() && records.currentRow() >= 0
            && (!records.value(column).isNull() || !displayed(column).isEmpty())) {
            if (!records.isEditing())
                records.edit();
            records.setText(column, QString());
        }
        if (FieldLink *link = linkOf(control(column)))
            link->refresh(); // drops typed text not yet handed over
    }

    RecordValues texts;
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it)
        texts.insert(it.key(), displayed(it.key()));
    const auto failure = RecordCheck::check(selected, texts);
    if (!failure)
        return true;
    m_ui.showMessage(failure->message);
    focusField(failure->field);
    return false;
}

RecordNumber TFrm_AEsj::displayedNumber() const
{
    return RecordNumber::from([this](const QString &column) { return RecordCheck::trimmed(displayed(column)); });
}

bool TFrm_AEsj::numberAccepted(qlonglong except)
{
    const bool byItem = standard() == RecordCheck::ByItem;
    const ArchivalCodeSettings settings = m_dm.codeSettings();
    const auto holder = NumberRegister::holderOf(m_dm.ADOConnection1, displayedNumber(), byItem, settings, except);
    if (!holder)
        return true;
    // Enter answers No: a second record under a number is never stored by a key pressed in haste.
    if (m_ui.messageBox(NumberRegister::duplicateQuestion(*holder, settings), QStringLiteral("提示"), Ui::Icon::Warning,
            Ui::Buttons::YesNoDefaultNo)
        == Ui::Answer::Yes)
        return true;
    focusField(byItem ? QStringLiteral("JH") : QStringLiteral("SXH"));
    return false;
}

void TFrm_AEsj::proposeNumber()
{
    if (!m_appendMode || !m_previous || !m_dm.Tsyyp.isEditing())
        return;
    const bool byItem = standard() == RecordCheck::ByItem;
    const QString field = byItem ? QStringLiteral("JH") : QStringLiteral("SXH");
    if (RecordCheck::trimmed(displayed(field)) != m_proposed)
        return; // the operator's own number stays
    runHandler(m_ui, [&] {
        const QString next = NumberRegister::proposeNext(m_dm.ADOConnection1, *m_previous, displayedNumber(), byItem,
            m_dm.codeSettings());
        if (next.isEmpty())
            return; // no number to propose: what stands stays
        m_proposed = next;
        m_dm.Tsyyp.setText(field, next);
    });
}

void TFrm_AEsj::BitBtn1Click()
{
    runHandler(m_ui, [this] {
        RecordValues carried;
        const bool stored = storeRow(0, QStringLiteral("数据添加失败"), [this, &carried] {
            for (const QString &column : RecordCheck::carriedColumns())
                carried.insert(column, RecordCheck::trimmed(displayed(column)));
        });
        if (!stored)
            return;
        m_ui.showMessage(QStringLiteral("数据成功添加！"));
        prepareNextRow(carried); // its errors are not a failed save: the row is stored
    });
}

bool TFrm_AEsj::storeRow(qlonglong except, const QString &refused, const std::function<void()> &beforePost)
{
    if (!m_dm.ensureConnected())
        return false;
    try {
        if (!CheckRecord())
            return false;
        if (!numberAccepted(except))
            return false;
        beforePost();
        try {
            m_dm.Tsyyp.post();
        } catch (const FieldError &error) {
            // A box holds what its column cannot take: named, and the focus goes there.
            m_saveFailed = true;
            m_ui.showMessage(refused + QLatin1Char('\n') + error.message());
            if (QWidget *box = error.control())
                box->setFocus(Qt::OtherFocusReason);
            return false;
        } catch (const Error &error) {
            if (error.cause() == Cause::ConnectionLost)
                throw;
            // Not stored: what was typed stays in the boxes; a row written elsewhere
            // meanwhile is named.
            m_saveFailed = true;
            m_ui.showMessage(
                error.cause() == Cause::Conflict ? refused + QLatin1Char('\n') + error.message() : refused);
            return false;
        }
    } catch (const Error &error) {
        if (error.cause() != Cause::ConnectionLost)
            throw;
        if (!recoverLostSave())
            return false;
    }
    m_saveFailed = false;
    return true;
}

bool TFrm_AEsj::recoverLostSave()
{
    m_saveFailed = true;
    if (!m_dm.reconnect(QString::fromUtf8(TDataModule5::kSaveLost)))
        return false; // 取消: the typed values stay for a later save
    if (m_dm.Tsyyp.lostSaveStored()) {
        m_ui.showMessage(QString::fromUtf8(kStoredBeforeLost));
        return true;
    }
    m_ui.showMessage(QString::fromUtf8(kSaveAgain));
    return false;
}

bool TFrm_AEsj::leaveAllowed()
{
    if (!m_saveFailed || !m_dm.Tsyyp.isOpen() || !m_dm.Tsyyp.isEditing())
        return true;
    return m_ui.messageBox(QString::fromUtf8(kLeaveUnsaved), QStringLiteral("提示"), Ui::Icon::Question,
               Ui::Buttons::YesNo)
        == Ui::Answer::Yes;
}

void TFrm_AEsj::prepareNextRow(const RecordValues &carried)
{
    Dataset &records = m_dm.Tsyyp;
    records.append();
    for (const QString &column : RecordCheck::columnsToCarry(m_copy->isChecked()))
        records.setText(column, carried.value(column));
    if (m_copy->isChecked()) {
        // The series goes on: the carried number makes way for the next free one.
        m_previous = RecordNumber::from([&carried](const QString &column) { return carried.value(column); });
        m_proposed = carried.value(standard() == RecordCheck::ByItem ? QStringLiteral("JH") : QStringLiteral("SXH"));
        proposeNumber();
    } else {
        m_previous.reset(); // nothing carried: no series to go on with
    }
    RadioGroup1Click();
}

void TFrm_AEsj::BitBtn2Click()
{
    runHandler(m_ui, [this] {
        Dataset &records = m_dm.Tsyyp;
        const qlonglong key = records.isOpen() ? records.value(QStringLiteral("str_m_date")).toLongLong() : 0;
        const bool stored = storeRow(key, QStringLiteral("数据修改失败！"), [&records] {
            if (!records.isEditing())
                records.edit();
        });
        if (stored)
            m_ui.showMessage(QStringLiteral("数据修改成功！"));
    });
}

void TFrm_AEsj::BitBtn3Click()
{
    if (leaveAllowed())
        close();
}

void TFrm_AEsj::BitBtn4Click()
{
    if (leaveAllowed())
        close();
}

void TFrm_AEsj::Button2Click()
{
    QString relative = RecordCheck::trimmed(displayed(QStringLiteral("DZWJM")));
    relative.replace(QLatin1Char('\\'), QLatin1Char('/')); // paths are written the Windows way
    m_ui.shellOpen(m_dm.programFolder() + relative);
}

void TFrm_AEsj::cancelPending()
{
    try {
        if (m_dm.Tsyyp.isOpen() && m_dm.Tsyyp.isEditing())
            m_dm.Tsyyp.cancel();
        // The unit settings window shares the dataset: its pending or shown row stays.
        Dataset &unit = m_dm.TJCsj;
        if (m_openedUnit && unit.isOpen() && !unit.isEditing() && !shownInOtherWindow(unit, this))
            unit.close();
        m_openedUnit = false;
    } catch (const Error &error) {
        m_ui.showError(error.message());
    }
}

void TFrm_AEsj::FormClose()
{
    try {
        const IniFile settings = IniFile::settingsOf(m_dm.programFolder());
        settings.write(kCopySection, kCopyKey, m_copy->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        settings.write(kEntrySection, kStandardKey, QString::number(standard()));
    } catch (const Error &error) {
        m_ui.showError(error.message()); // the row is cancelled all the same
    }
    cancelPending();
}

void TFrm_AEsj::reject()
{
    close();
}

void TFrm_AEsj::keyPressEvent(QKeyEvent *event)
{
    // Esc would drop the typed record without a word: the window is left only through
    // its return buttons and its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrm_AEsj::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    event->accept();
}

} // namespace dagl
