#pragma once

#include "ExportGrid.h"
#include "Tmain.h"

#include <QHash>

#include <memory>

class QLineEdit;

namespace dagl {

namespace ReadApart {
class KeyStream;
}

class DBGridEh;
class TDataModule5;
class Ui;

// Query and use: finds catalogue records by fragments typed into eleven boxes, lists
// them in `Tdaly`, and sorts, prints and exports the list. It only reads.
class TFrm_cxly : public Tmain {
    Q_OBJECT

public:
    // Made into the main window's client panel; without a panel it stands alone.
    TFrm_cxly(TDataModule5 &dm, Ui &ui, QWidget *owner, QWidget *hostPanel);
    ~TFrm_cxly() override;

    void BitBtn3Click(); // 查询
    void BitBtn2Click(); // 查询全部(&S)
    void BitBtn1Click(); // 打印(&H)
    void BitBtn4Click(); // 导出(&I)
    void BitBtn5Click(); // 关闭
    void DBGridEh1TitleBtnClick(int column);

    DBGridEh *grid() const { return m_grid; }

private:
    TDataModule5 &m_dm;
    Ui &m_ui;
    QHash<QString, QLineEdit *> m_boxes; // by name
    DBGridEh *m_grid;
    ExportDialog SaveDialog1;
    std::unique_ptr<ReadApart::KeyStream> m_readerAhead; // until the first search
};

} // namespace dagl
