#pragma once

#include <QMainWindow>
#include <QPointer>

#include "Tmain.h"

#include <functional>

class QLabel;

namespace dagl {

class InitInfo;
class TDataModule5;
class TFormLogin;

class Ui;
struct Session;

// What the windows of a run share: the data module, the seam to the operator, who is
// logged in, the branding, and the mode the backup window opens in.
struct AppContext
{
    TDataModule5 &dm;
    Ui &ui;
    Session &session;
    const InitInfo &initInfo;
    QString BackupMode; // "0" backup, "1" restore
};

// The main window and hub: runs the login when first shown, shows who is working and the
// branding, opens the working windows, and on a confirmed close writes the exit record and
// leaves a dated copy of the database.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    TForm1(AppContext &context, QWidget *parent = nullptr);
    ~TForm1() override;

    // The login window made at start-up; shown modally when this window is first shown.
    void setLoginWindow(TFormLogin *login);

    // Opens a window in the client panel in place of the current one, which is destroyed.
    Tmain *openEmbedded(const std::function<Tmain *(QWidget *hostPanel)> &make);
    Tmain *embeddedWindow() const { return m_embedded; }
    QWidget *hostPanel() const { return m_hostPanel; }

    // Commands (those of windows still to come have no handler yet).
    void bsSkinSpeedButton1Click(); // 档案录入 (also N7891)
    void bsSkinSpeedButton2Click(); // 档案移交
    void N8Click();                 // 档案利用
    void N23Click();                // 打印档案目录与盒签
    void bsSkinSpeedButton3Click(); // 档案利用
    void bsSkinSpeedButton4Click(); // 统计报表
    void N3Click();               // 系统设置
    void N24Click();              // 档号规则
    void N11Click();              // 关于本软件
    void N2Click();               // 数据库备份
    void N15Click();              // 数据库恢复
    void N4Click();               // 查看日志
    void N6Click();               // 修改密码
    void N16Click();              // 数据库整理
    void N22Click();              // 退出

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormShow();
    void afterLogin();
    bool FormClose();
    void backupOrRestore(const QString &mode);
    void buildMenu();
    void buildToolPanel(QWidget *panel);

    AppContext &m_context;
    QPointer<TFormLogin> m_login;
    QWidget *m_hostPanel = nullptr;
    QPointer<Tmain> m_embedded;
    QLabel *m_statusPanels[3] = {};
    bool m_shown = false;
    bool m_ending = false; // the login was abandoned: close without the exit steps
};

} // namespace dagl
