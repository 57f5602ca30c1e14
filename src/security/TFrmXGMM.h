#pragma once

#include "PasswordChange.h"

#include <QDialog>

class QLineEdit;

namespace dagl {

class TDataModule5;
class Ui;

// The logged-in operator changes their own password.
class TFrmXGMM : public QDialog {
    Q_OBJECT

public:
    TFrmXGMM(TDataModule5 &dm, Ui &ui, const QString &operatorName, QWidget *parent = nullptr);

    void Action1Execute(); // 保存(F5)
    void Action2Execute(); // 退出(F4)

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();

    TDataModule5 &m_dm;
    Ui &m_ui;
    QString m_operatorName;
    PasswordChange::Account m_account; // as read when shown
    QLineEdit *m_boxes[5] = {}; // number, name, old, new, confirmation
};

} // namespace dagl
