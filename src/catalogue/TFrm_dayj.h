#pragma once

#include <QDialog>
#include <QHash>

namespace dagl {

class TDataModule5;
class Ui;

// Records one handover of archives as a new row of `移交表`. Opened modally for each
// handover; closing it, in any way, drops what was not saved.
class TFrm_dayj : public QDialog
{
    Q_OBJECT

public:
    TFrm_dayj(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);

    void Button1Click(); // 保存
    void Button2Click(); // 退出

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void FormShow();
    QString boxText(const QString &field) const;

    TDataModule5 &m_dm;
    Ui &m_ui;
    QHash<QString, QWidget *> m_boxes; // by field
};

} // namespace dagl
