#pragma once

#include <QDialog>

#include <optional>

class QComboBox;

namespace dagl {

class DBEdit;
class TDataModule5;
class Ui;

// The unit's basic information (the one row of `ljserver`) and the default input method
// of the record editor. A single modeless window: closing hides it for the next use.
class TFrm_jcsj : public QDialog
{
    Q_OBJECT

public:
    TFrm_jcsj(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);

    void BitBtn1Click(); // 保存
    void BitBtn3Click(); // 关闭

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void FormShow();
    bool FormClose();

    TDataModule5 &m_dm;
    Ui &m_ui;
    DBEdit *m_archiveCode; // DBEdit17
    DBEdit *m_unitCode;
    DBEdit *m_fonds;
    // What was typed into 全宗号 since the window was shown: the box takes one character more
    // than the column, and the bound row keeps only what fits.
    std::optional<QString> m_fondsTyped;
    DBEdit *m_unitName;
    QComboBox *m_inputMethod;
};

} // namespace dagl
