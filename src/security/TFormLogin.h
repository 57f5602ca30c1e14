#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dagl {

class TDataModule5;
class Ui;
struct Session;

// The login window: pick an operator, type the password. A successful login fills the
// session and closes the window; cancelling or closing it ends the program.
class TFormLogin : public QDialog
{
    Q_OBJECT

public:
    TFormLogin(TDataModule5 &dm, Session &session, Ui &ui, QWidget *parent = nullptr);

    void BitBtn1Click(); // 登录
    void BitBtn2Click(); // 取消

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;

private:
    void FormCreate();
    void FormShow();
    // Whatever way the window closes: ends the program unless the operator logged in.
    void FormClose();

    TDataModule5 &m_dm;
    Session &m_session;
    Ui &m_ui;
    QStringList m_codes;
    QComboBox *m_names;
    QLineEdit *m_password;
    QLabel *m_problem;
    bool m_closing = false;
};

} // namespace dagl
