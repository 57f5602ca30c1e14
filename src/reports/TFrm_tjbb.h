#pragma once

#include "ExportGrid.h"

#include <QDialog>

namespace dagl {

class DBGridEh;
class TDataModule5;
class Ui;

// Statistics: counts the catalogue records by fonds and catalogue, by filing year or by
// retention period into `Tcxtj`, and prints or exports the counts. It only reads.
class TFrm_tjbb : public QDialog {
    Q_OBJECT

public:
    TFrm_tjbb(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);

    void BitBtn3Click(); // 按全宗号查询
    void BitBtn2Click(); // 按年度查询
    void BitBtn6Click(); // 按保管期限查询
    void BitBtn1Click(); // 打印(&H)
    void BitBtn4Click(); // 导出(&I)
    void BitBtn5Click(); // 关闭

    DBGridEh *grid() const { return m_grid; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void count(int which);

    TDataModule5 &m_dm;
    Ui &m_ui;
    DBGridEh *m_grid;
    ExportDialog SaveDialog1;
};

} // namespace dagl
