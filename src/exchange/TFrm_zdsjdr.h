#pragma once

#include "ImportPlan.h"

#include <QDialog>

#include <array>
#include <atomic>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace dagl {

class ExcelWorkbook;
class TDataModule5;
class Ui;
class WorksheetModel;

// The Excel batch import: previews the first worksheet of a workbook, maps its columns to
// 24 catalogue columns (kept in myini.ini) and appends one row or all rows to the
// catalogue. One window serves the whole run: closing hides it.
class TFrm_zdsjdr : public QDialog {
    Q_OBJECT

public:
    TFrm_zdsjdr(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);
    ~TFrm_zdsjdr() override;

    // The window named Frm_zdsjdr among the application's windows, made when missing.
    static TFrm_zdsjdr *instance(TDataModule5 &dm, Ui &ui, QWidget *owner);

    void Button1Click(); // 选择Excel文件
    void Button2Click(); // 导入一条测试
    void Button3Click(); // 全部导入
    void Button4Click(); // 关闭

    ImportMapping mapping() const;
    void setMapping(const ImportMapping &mapping);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void FormShow();
    void FormClose();
    bool requireWorkbook();
    // The workbook and its first worksheet read off the window's thread; none when the
    // operator cancelled. Throws dagl::Error as ExcelWorkbook does.
    std::unique_ptr<ExcelWorkbook> readWorkbook(const QString &path);
    // Panel1 over the preview with its note, a bar of `rows` steps (0: busy) and 取消.
    void showPanel(const QString &note, int rows);
    int currentSheetRow() const;
    void openTarget();
    // Lists the rows whose numbers are taken and asks whether to import them anyway; on No
    // they go into `leaveOut`, and `lines` keeps their lines for the failure list. False
    // when the catalogue could not be checked (said already).
    bool askAboutNumbers(QSet<int> &leaveOut, QStringList &lines);
    void rereadRecordList();
    // Reconnects after a commit whose answer got lost and finds out whether the run is
    // stored: the line that tells the operator.
    QString settleLostCommit(const ImportOutcome &outcome);

    TDataModule5 &m_dm;
    Ui &m_ui;
    std::unique_ptr<ExcelWorkbook> m_workbook;
    WorksheetModel *m_model;
    QLineEdit *m_path; // Edit1
    QLabel *m_note; // Label15
    QTableView *m_grid; // DBGrid1
    QPlainTextEdit *m_memo; // Memo1
    QWidget *m_panel; // Panel1
    QLabel *m_panelLabel; // Label14
    QProgressBar *m_bar; // ProgressBar1
    QPushButton *m_cancel;
    std::array<QCheckBox *, 24> m_ticks {};
    std::array<QComboBox *, 24> m_boxes {};
    bool m_running = false;
    std::atomic<bool> m_cancelRequested { false }; // read by the workbook's reader too
    bool m_closeAfterRun = false; // the window was closed during a run
};

} // namespace dagl
