#include "TFrmCKRZ.h"

#include "DatasetModel.h"
#include "LogQuery.h"
#include "Regional.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

namespace dagl {

namespace {

// A date box as on the Windows desktop: Alt+Down (or F4) drops its calendar down, and Tab
// leaves the box instead of walking year, month and day (Left and Right do that).
class DateBox : public QDateEdit {
public:
    using QDateEdit::QDateEdit;

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }

    void keyPressEvent(QKeyEvent *event) override
    {
        const bool alt = event->modifiers() & Qt::AltModifier;
        const bool drop = event->key() == Qt::Key_F4 || (alt && event->key() == Qt::Key_Down);
        if (drop && calendarPopup()) {
            // The calendar comes down as for a click on the box's arrow.
            QStyleOptionComboBox option;
            option.initFrom(this);
            option.editable = true;
            option.subControls = QStyle::SC_All;
            const QPoint arrow
                = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this).center();
            QMouseEvent press(QEvent::MouseButtonPress, arrow, mapToGlobal(arrow), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            mousePressEvent(&press);
            return;
        }
        QDateEdit::keyPressEvent(event);
    }
};

} // namespace

TFrmCKRZ::TFrmCKRZ(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
    , m_query(QStringLiteral("ADOQuery1"))
{
    setObjectName(QStringLiteral("FrmCKRZ"));
    setWindowTitle(QStringLiteral("查看日志"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto makeDateBox = [this](const char *name) {
        auto *box = new DateBox(QDate::currentDate(), this);
        box->setObjectName(QString::fromLatin1(name));
        box->setCalendarPopup(true);
        box->setDisplayFormat(Regional::shortDateFormat);
        return box;
    };
    m_start = makeDateBox("DateTimePicker1");
    m_end = makeDateBox("DateTimePicker2");
    auto *search = new QPushButton(QStringLiteral("查询"), this);
    search->setObjectName(QStringLiteral("Button1"));
    auto *exit = new QPushButton(QStringLiteral("退出"), this);
    exit->setObjectName(QStringLiteral("Button2"));
    for (QPushButton *button : { search, exit })
        button->setAutoDefault(false);

    m_grid = new DBGrid(this);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setDataset(&m_query,
        { { QStringLiteral("sj"), QStringLiteral("时间") }, { QStringLiteral("rznr"), QStringLiteral("日志内容") } });
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setColumnWidth(0, 150);
    m_grid->horizontalHeader()->setStretchLastSection(true);

    auto *range = new QHBoxLayout;
    // Each label names its box to a screen reader too.
    auto *startLabel = new QLabel(QStringLiteral("查询日期："), this);
    startLabel->setBuddy(m_start);
    auto *endLabel = new QLabel(QStringLiteral("至"), this);
    endLabel->setBuddy(m_end);
    range->addWidget(startLabel);
    range->addWidget(m_start);
    range->addWidget(endLabel);
    range->addWidget(m_end);
    range->addSpacing(12);
    range->addWidget(search);
    range->addWidget(exit);
    range->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(m_grid, 1);
    setFixedSize(600, 420);

    connect(search, &QPushButton::clicked, this, &TFrmCKRZ::Button1Click);
    connect(exit, &QPushButton::clicked, this, &TFrmCKRZ::Button2Click);
}

void TFrmCKRZ::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runHandler(m_ui, [this] { cxrz(); });
}

void TFrmCKRZ::cxrz()
{
    m_dm.OpenSql(LogQuery::statement(m_start->date(), m_end->date()), m_query);
}

void TFrmCKRZ::Button1Click()
{
    runHandler(m_ui, [this] { cxrz(); });
}

void TFrmCKRZ::Button2Click()
{
    close();
}

} // namespace dagl
