#include "TFrm_sjlr.h"

#include "ButtonRow.h"
#include "DBGridEh.h"
#include "SingleWindow.h"
#include "Skin.h"
#include "SortByTitle.h"
#include "TDataModule5.h"
#include "TFrm_AEsj.h"
#include "TFrm_dyml.h"
#include "TFrm_zdsjdr.h"
#include "Ui.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>

namespace dagl {

namespace {

// The grid's columns of fields, left to right; the last two have no title of their own.
const QVector<DatasetModel::Column> &listColumns()
{
    static const QVector<DatasetModel::Column> columns = {
        { QStringLiteral("GDM"), QStringLiteral("馆代码") },
        { QStringLiteral("DWDM"), QStringLiteral("单位代码") },
        { QStringLiteral("DWMC"), QStringLiteral("单位名称") },
        { QStringLiteral("QZH"), QStringLiteral("全宗号") },
        { QStringLiteral("MLH"), QStringLiteral("目录号") },
        { QStringLiteral("AJH"), QStringLiteral("案卷号") },
        { QStringLiteral("SXH"), QStringLiteral("序号") },
        { QStringLiteral("HH"), QStringLiteral("盒号") },
        { QStringLiteral("JH"), QStringLiteral("件号") },
        { QStringLiteral("JGWT"), QStringLiteral("机构问题") },
        { QStringLiteral("ZRZ"), QStringLiteral("责任者") },
        { QStringLiteral("WH"), QStringLiteral("文号") },
        { QStringLiteral("CWSJ"), QStringLiteral("文件时间") },
        { QStringLiteral("TM"), QStringLiteral("题名") },
        { QStringLiteral("YH"), QStringLiteral("页码") },
        { QStringLiteral("BGQX"), QStringLiteral("保管期限") },
        { QStringLiteral("DALX"), QStringLiteral("档案类型") },
        { QStringLiteral("BZ"), QStringLiteral("备注") },
        { QStringLiteral("PSZ"), QStringLiteral("拍摄者") },
        { QStringLiteral("PSDD"), QStringLiteral("拍摄地点") },
        { QStringLiteral("人名"), QStringLiteral("人物") },
        { QStringLiteral("DALX"), QStringLiteral("档案类型") },
        { QStringLiteral("DZWJM"), QStringLiteral("DZWJM") },
        { QStringLiteral("DWMC"), QStringLiteral("DWMC") },
    };
    return columns;
}

// The editor is a single window of the application, found by its component name. A
// closed one waiting to be freed does not count.
TFrm_AEsj *findEditor()
{
    return findSingleWindow<TFrm_AEsj>(QStringLiteral("Frm_AEsj"), true);
}

void bringForward(QWidget *window)
{
    if (window) {
        window->raise();
        window->activateWindow();
    }
}

} // namespace

TFrm_sjlr::TFrm_sjlr(TDataModule5 &dm, Ui &ui)
    : Tmain(nullptr)
    , m_dm(dm)
    , m_ui(ui)
{
    build();
}

TFrm_sjlr::TFrm_sjlr(TDataModule5 &dm, Ui &ui, QWidget *hostPanel)
    : Tmain(nullptr, hostPanel)
    , m_dm(dm)
    , m_ui(ui)
{
    build();
}

void TFrm_sjlr::build()
{
    setObjectName(QStringLiteral("Frm_sjlr"));
    setWindowTitle(QStringLiteral("数据录入"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    // Buttons along the top, left to right.
    layout->addLayout(denseRow(buttonRow<TFrm_sjlr>(this, m_ui,
        {
            { "Button1", "添加(&A)", &TFrm_sjlr::Button1Click },
            { "Button2", "修改(&E)", &TFrm_sjlr::Button2Click },
            { "Button3", "单个删除(&D)", &TFrm_sjlr::Button3Click },
            { "Button7", "多选删除(&N)", &TFrm_sjlr::Button7Click },
            { "Button6", "数据导出(&I)", &TFrm_sjlr::Button6Click },
            { "Button5", "数据导入(&R)", &TFrm_sjlr::Button5Click },
            { "Button8", "目录与盒签(&P)", &TFrm_sjlr::Button8Click },
            { "Button9", "刷新(&F)", &TFrm_sjlr::Button9Click },
            { "Button4", "关闭(&C)", &TFrm_sjlr::Button4Click },
        })));
    auto *refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    refresh->setContext(Qt::WidgetWithChildrenShortcut);
    connect(refresh, &QShortcut::activated, this, [this] { runHandler(m_ui, [this] { Button9Click(); }); });

    m_grid = new DBGridEh(this);
    m_grid->setObjectName(QStringLiteral("DBGridEh1"));
    // The archival code last, worked out from each row's numbers as the row is shown.
    const QVector<DatasetModel::Column> columns = QVector<DatasetModel::Column>(listColumns())
        << archivalCodeColumn(m_dm.programFolder());
    m_grid->setDataset(&m_dm.Tsyyp, columns);
    fitArchivalCodeColumn(*m_grid);
    QVector<DBGridEh::FooterCell> footer(columns.size());
    footer[0] = { DBGridEh::FooterCell::Kind::Text, QStringLiteral("总计"), Qt::AlignCenter };
    footer[1] = { DBGridEh::FooterCell::Kind::RecordCount, {}, Qt::AlignRight };
    m_grid->setFooter(footer);
    m_grid->setTitleButtons(true);
    layout->addWidget(m_grid, 1);
    connect(
        m_grid, &QAbstractItemView::doubleClicked, this, [this] { runHandler(m_ui, [this] { DBGridEh1DblClick(); }); });
    connect(m_grid, &DBGridEh::titleClicked, this,
        [this](int column) { runHandler(m_ui, [this, column] { DBGridEh1TitleBtnClick(column); }); });
}

void TFrm_sjlr::showEvent(QShowEvent *event)
{
    Tmain::showEvent(event);
    if (!event->spontaneous())
        runHandler(m_ui, [this] { FormShow(); });
}

void TFrm_sjlr::FormShow()
{
    // Shown again, the list reads its rows again: other workstations' work shows, and a
    // save refused for a row changed elsewhere can be made on the row as it is now. A row
    // the editor holds stays as it is.
    if (m_dm.Tsyyp.isOpen() && m_dm.Tsyyp.isEditing())
        return;
    if (m_dm.reconnect())
        m_dm.Tsyyp.refresh();
}

void TFrm_sjlr::Button9Click()
{
    if (refusedWhilePending())
        return;
    if (!m_dm.reconnect())
        return;
    m_dm.Tsyyp.refresh();
}

bool TFrm_sjlr::refusedWhilePending()
{
    if (!m_dm.Tsyyp.isEditing())
        return false;
    m_ui.inform(QString::fromUtf8(kRowPending), QStringLiteral("提示"));
    bringForward(findEditor());
    return true;
}

TFrm_AEsj *TFrm_sjlr::editor(void (TFrm_AEsj::*setMode)())
{
    TFrm_AEsj *editor = findEditor();
    if (!editor) {
        // A window of the application, not of the list: it outlives an embedded list.
        editor = new TFrm_AEsj(m_dm, m_ui, nullptr);
        (editor->*setMode)();
        Skin::centreOver(editor, window()); // over the main window the list lies in
    }
    return editor;
}

void TFrm_sjlr::Button1Click()
{
    Dataset &records = m_dm.Tsyyp;
    if (records.state() == Dataset::State::Insert) {
        // The editor already holds a new row: it is the place to go on.
        bringForward(findEditor());
        return;
    }
    records.append();
    TFrm_AEsj *appending = editor(&TFrm_AEsj::setAppendMode);
    appending->show();
    bringForward(appending);
}

void TFrm_sjlr::Button2Click()
{
    Dataset &records = m_dm.Tsyyp;
    if (records.isEmpty()) {
        m_ui.showMessage(QString::fromUtf8(kNothingToModify));
        return;
    }
    if (refusedWhilePending())
        return;
    records.edit();
    editor(&TFrm_AEsj::setEditMode)->exec();
}

void TFrm_sjlr::DBGridEh1DblClick()
{
    Button2Click();
}

void TFrm_sjlr::Button3Click()
{
    Dataset &records = m_dm.Tsyyp;
    if (records.isEmpty()) {
        m_ui.showMessage(QString::fromUtf8(kNothingToDelete));
        return;
    }
    if (refusedWhilePending())
        return;
    const QString title = records.value(QStringLiteral("TM")).toString();
    if (m_ui.messageBox(QStringLiteral("确实要删除档案：") + title + QStringLiteral("的信息吗？"),
            QStringLiteral("提示"), Ui::Icon::Information, Ui::Buttons::YesNo)
        != Ui::Answer::Yes)
        return;
    records.deleteRecord();
}

void TFrm_sjlr::Button7Click()
{
    Dataset &records = m_dm.Tsyyp;
    if (records.isEmpty()) {
        m_ui.showMessage(QString::fromUtf8(kNothingToDelete));
        return;
    }
    if (refusedWhilePending())
        return;
    // The rows are taken by identity before any goes: positions shift as rows are deleted.
    const QVector<Dataset::Bookmark> chosen = m_grid->selectedBookmarks();
    const int count = m_grid->selectedCount();
    if (count == 0) {
        // The current row alone is no choice of rows to delete.
        m_ui.inform(QString::fromUtf8(kNothingSelected), QStringLiteral("提示"));
        return;
    }
    if (m_ui.messageBox(
            QStringLiteral("共有：") + QString::number(count) + QStringLiteral("条档案记录会被永久删除，确认码？"),
            QStringLiteral("提示"), Ui::Icon::Information, Ui::Buttons::YesNo)
        != Ui::Answer::Yes)
        return;
    records.deleteBookmarks(chosen);
}

void TFrm_sjlr::Button6Click()
{
    // The export reads the saved rows only and leaves a pending new row as it is.
    ExportGrid(*m_grid, m_exportDialog, QStringLiteral("dasj"), m_ui, m_dm.programFolder());
}

void TFrm_sjlr::Button5Click()
{
    // The import closes and reopens the records, which would drop a pending row.
    if (refusedWhilePending())
        return;
    TFrm_zdsjdr::instance(m_dm, m_ui, nullptr)->exec();
}

void TFrm_sjlr::Button8Click()
{
    // The list reads its rows by key, so the bookmarks of the selection are the rows' keys.
    QVector<qlonglong> rows;
    if (m_grid->selectedCount() > 0) {
        for (Dataset::Bookmark bookmark : m_grid->selectedBookmarks()) {
            if (bookmark > 0)
                rows << bookmark;
        }
    } else if (Dataset *dataset = m_grid->datasetModel()->dataset();
               dataset && dataset->isOpen() && dataset->recordCount() > 0 && dataset->bookmark() > 0) {
        rows << dataset->bookmark(); // the row the operator clicked is a selection of one
    }
    auto *printing = new TFrm_dyml(m_dm, m_ui, rows, window());
    printing->show();
}

void TFrm_sjlr::Button4Click()
{
    // An embedded list only hides: it stays the main window's embedded window.
    hide();
}

void TFrm_sjlr::DBGridEh1TitleBtnClick(int column)
{
    if (refusedWhilePending())
        return;
    SortByTitle(*m_grid, column, m_dm.Tsyyp, &m_ui);
}

} // namespace dagl
