#include "TFrm_cxly.h"

#include "Connection.h"
#include "ReadApart.h"

#include "ButtonRow.h"
#include "DBGridEh.h"
#include "ExportGrid.h"
#include "PrintGrid.h"
#include "QueryStatement.h"
#include "SortByTitle.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace dagl {

namespace {

const QString kReportTitle = QStringLiteral("翠岚档案查询报表");

struct GridColumn {
    const char *title;
    const char *field;
};

const GridColumn kColumns[] = {
    { "馆代码", "GDM" },
    { "单位代码", "DWDM" },
    { "全宗号", "QZH" },
    { "目录号", "MLH" },
    { "案卷号", "AJH" },
    { "序号", "SXH" },
    { "盒号", "HH" },
    { "件号", "JH" },
    { "机构问题", "JGWT" },
    { "责任者", "ZRZ" },
    { "文号", "WH" },
    { "文件时间", "CWSJ" },
    { "题名", "TM" },
    { "页码", "YH" },
    { "保管期限", "BGQX" },
    { "档案类型", "DALX" },
    { "备注", "BZ" },
};

} // namespace

TFrm_cxly::TFrm_cxly(TDataModule5 &dm, Ui &ui, QWidget *owner, QWidget *hostPanel)
    : Tmain(owner, hostPanel)
    , m_dm(dm)
    , m_ui(ui)
    , m_grid(new DBGridEh(this))
{
    setObjectName(QStringLiteral("Frm_cxly"));
    setWindowTitle(QStringLiteral("查询利用"));

    auto *filters = new QGridLayout;
    for (const QueryStatement::FilterBox &box : QueryStatement::filterBoxes()) {
        auto *label = new QLabel(QString::fromUtf8(box.caption), this);
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(box.name));
        label->setBuddy(edit);
        filters->addWidget(label, box.row, 2 * box.position, Qt::AlignRight);
        filters->addWidget(edit, box.row, 2 * box.position + 1);
        m_boxes.insert(edit->objectName(), edit);
    }

    QHBoxLayout *buttons = buttonRow<TFrm_cxly>(this, m_ui,
        {
            { "BitBtn3", "查询", &TFrm_cxly::BitBtn3Click },
            { "BitBtn2", "查询全部(&S)", &TFrm_cxly::BitBtn2Click },
            { "BitBtn1", "打印(&H)", &TFrm_cxly::BitBtn1Click },
            { "BitBtn4", "导出(&I)", &TFrm_cxly::BitBtn4Click },
            { "BitBtn5", "关闭", &TFrm_cxly::BitBtn5Click },
        });

    m_grid->setObjectName(QStringLiteral("DBGridEh1"));
    QVector<DatasetModel::Column> columns;
    for (const GridColumn &column : kColumns)
        columns.push_back({ QString::fromLatin1(column.field), QString::fromUtf8(column.title) });
    columns.push_back(archivalCodeColumn(dm.programFolder())); // as the record list shows it
    m_grid->setDataset(&dm.Tdaly, columns);
    fitArchivalCodeColumn(*m_grid);
    using Cell = DBGridEh::FooterCell;
    m_grid->setFooter(
        { Cell { Cell::Kind::Text, QStringLiteral("总计") }, Cell { Cell::Kind::RecordCount, QString() } });
    m_grid->setTitleButtons(true);
    connect(m_grid, &DBGridEh::titleClicked, this, &TFrm_cxly::DBGridEh1TitleBtnClick);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addLayout(buttons);
    layout->addWidget(m_grid, 1);

    // The searches' own reader is opened while the operator types the first one.
    m_readerAhead = ReadApart::openAhead(dm.ADOConnection1);
    connect(&dm.ADOConnection1, &Connection::closing, this, [this] { m_readerAhead.reset(); });
}

TFrm_cxly::~TFrm_cxly() = default;

void TFrm_cxly::BitBtn3Click()
{
    runHandler(m_ui, [this] {
        const QString sql = QueryStatement::search([this](const QString &name) { return m_boxes.value(name)->text(); });
        QueryStatement::run(m_dm, m_dm.Tdaly, sql, m_ui, std::move(m_readerAhead));
    });
    m_readerAhead.reset();
}

void TFrm_cxly::BitBtn2Click()
{
    runHandler(m_ui,
        [this] { QueryStatement::run(m_dm, m_dm.Tdaly, QueryStatement::listAll(), m_ui, std::move(m_readerAhead)); });
    m_readerAhead.reset();
}

void TFrm_cxly::BitBtn1Click()
{
    runHandler(m_ui, [this] { PrintGrid(*m_grid, kReportTitle, m_ui, this); });
}

void TFrm_cxly::BitBtn4Click()
{
    runHandler(
        m_ui, [this] { ExportGrid(*m_grid, SaveDialog1, QStringLiteral("数据导出"), m_ui, m_dm.programFolder()); });
}

void TFrm_cxly::BitBtn5Click()
{
    close();
}

void TFrm_cxly::DBGridEh1TitleBtnClick(int column)
{
    runHandler(m_ui, [this, column] { SortByTitle(*m_grid, column, m_dm.Tdaly, &m_ui); });
}

} // namespace dagl
