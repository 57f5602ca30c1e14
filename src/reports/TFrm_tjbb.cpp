#include "TFrm_tjbb.h"

#include "ButtonRow.h"
#include "DBGridEh.h"
#include "PrintGrid.h"
#include "QueryStatement.h"
#include "ScreenFit.h"
#include "Skin.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace dagl {

TFrm_tjbb::TFrm_tjbb(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
    , m_grid(new DBGridEh(this))
{
    setObjectName(QStringLiteral("Frm_tjbb"));
    setWindowTitle(QStringLiteral("统计报表"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    QHBoxLayout *buttons = buttonRow<TFrm_tjbb>(this, m_ui,
        {
            { "BitBtn3", "按全宗号查询", &TFrm_tjbb::BitBtn3Click },
            { "BitBtn2", "按年度查询", &TFrm_tjbb::BitBtn2Click },
            { "BitBtn6", "按保管期限查询", &TFrm_tjbb::BitBtn6Click },
            { "BitBtn1", "打印(&H)", &TFrm_tjbb::BitBtn1Click },
            { "BitBtn4", "导出(&I)", &TFrm_tjbb::BitBtn4Click },
            { "BitBtn5", "关闭", &TFrm_tjbb::BitBtn5Click },
        });

    // No columns of its own: the grid shows whatever the last count returned.
    m_grid->setObjectName(QStringLiteral("DBGridEh1"));
    m_grid->setDataset(&dm.Tcxtj);
    m_grid->setFooter({});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_grid, 1);
    setFixedSize(720, 460);
    ScreenFit::fit(this);
}

void TFrm_tjbb::count(int which)
{
    runHandler(m_ui, [this, which] {
        const QueryStatement::Count &statement = QueryStatement::counts().at(which);
        QueryStatement::run(m_dm, m_dm.Tcxtj, QueryStatement::countStatement(statement), m_ui);
    });
}

void TFrm_tjbb::BitBtn3Click()
{
    count(0);
}

void TFrm_tjbb::BitBtn2Click()
{
    count(1);
}

void TFrm_tjbb::BitBtn6Click()
{
    count(2);
}

void TFrm_tjbb::BitBtn1Click()
{
    runHandler(m_ui, [this] { PrintGrid(*m_grid, QStringLiteral("翠岚档案查询报表"), m_ui, this); });
}

void TFrm_tjbb::BitBtn4Click()
{
    runHandler(m_ui,
        [this] { ExportGrid(*m_grid, SaveDialog1, QStringLiteral("统计报表数据导出"), m_ui, m_dm.programFolder()); });
}

void TFrm_tjbb::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Skin::centreOnScreen(this); // the middle of the screen, not of the main window
}

void TFrm_tjbb::BitBtn5Click()
{
    close();
}

} // namespace dagl
