#pragma once

#include "ExportGrid.h"
#include "Tmain.h"

class QPushButton;

namespace dagl {

class TFrm_AEsj;

class DBGridEh;
class TDataModule5;
class Ui;

// The record list "数据录入": every catalogue record of `Tsyyp` in a grid, from which the
// operator adds, changes, deletes, exports and imports records. Adding and changing go
// through the record editor on the same current row. While the editor holds a new row,
// the list stays on that row and refuses what would post or lose it.
class TFrm_sjlr : public Tmain {
    Q_OBJECT

public:
    // A window of its own.
    TFrm_sjlr(TDataModule5 &dm, Ui &ui);
    // Embedded in the host panel, filling it.
    TFrm_sjlr(TDataModule5 &dm, Ui &ui, QWidget *hostPanel);

    static constexpr const char *kNothingToModify = "没有要修改的档案数据！";
    static constexpr const char *kNothingToDelete = "没有要删除的档案信息！";
    static constexpr const char *kRowPending = "请先保存或取消正在录入的档案！";
    static constexpr const char *kNothingSelected
        = "没有选中要删除的档案记录！请按住Ctrl或Shift键单击行，或按Ctrl+A全选后再删除。";

    DBGridEh *grid() const { return m_grid; }

    void FormShow();
    void Button1Click(); // 添加(&A)
    void Button2Click(); // 修改(&E)
    void Button3Click(); // 单个删除(&D)
    void Button4Click(); // 关闭(&C)
    void Button9Click(); // 刷新(&F), F5: the rows read again
    void Button5Click(); // 数据导入(&R)
    void Button6Click(); // 数据导出(&I)
    void Button7Click(); // 多选删除(&N)
    void Button8Click(); // 目录与盒签(&P)
    void DBGridEh1DblClick();
    void DBGridEh1TitleBtnClick(int column);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    // Says so and brings the editor forward when a new row is pending.
    bool refusedWhilePending();
    // The editor window, made in the given mode when there is none.
    TFrm_AEsj *editor(void (TFrm_AEsj::*setMode)());

    TDataModule5 &m_dm;
    Ui &m_ui;
    DBGridEh *m_grid = nullptr;
    ExportDialog m_exportDialog;
};

} // namespace dagl
