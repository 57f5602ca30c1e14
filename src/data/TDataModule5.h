#pragma once

#include "ArchivalCode.h"
#include "Cause.h"
#include "Connection.h"
#include "Dataset.h"

#include <QObject>

namespace dagl {

class Ui;

// The one shared container of database access: the connection, the long-lived datasets
// the windows bind to, and the two statement operations. It is made once at start-up and
// lives until the program ends.
class TDataModule5 : public QObject
{
    Q_OBJECT

public:
    // Opens the database of the program folder (DataModuleCreate). When that fails it
    // shows "无法链接到数据库" and asks the program to end; isConnected() then says false.
    TDataModule5(const QString &programFolder, Ui &ui, QObject *parent = nullptr);
    ~TDataModule5() override;

    static constexpr const char *kConnectionLost = "与数据库服务器的连接断开了。正在重新连接……";
    static constexpr const char *kSaveLost = "与数据库服务器的连接断开了，本条记录没有保存。正在重新连接……";
    static constexpr const char *kReconnected = "已重新连接到数据库服务器。刚才的操作没有完成，请再做一次。";

    // On a server whose connection broke: says `text` and reconnects, tried by itself every
    // few seconds and at 重试 until it works or the operator chooses 取消. The datasets stay
    // as they are (a pending row keeps its typed values). True when the connection works
    // (at once on a file or a connection that still reaches the server).
    bool reconnect(const QString &text = QString::fromUtf8(kConnectionLost));
    // Before work on the server: a connection known to be lost (with `probe`, also one the
    // server no longer answers on) is made again, quietly when the server is back, else as
    // reconnect() does. True when it works.
    bool ensureConnected(bool probe = false);

    static QString connectionStringFor(const QString &programFolder);

    bool isConnected() const { return m_connected; }
    // The program folder with a trailing "/".
    const QString &programFolder() const { return m_programFolder; }
    // The office's 档号 rules, as myini.ini holds them now.
    ArchivalCodeSettings codeSettings() const;

    // Runs a statement that returns no rows. Failures are not shown; they are written to
    // the diagnostic output. Returns whether it ran.
    bool RunSql(const QString &sqlText);
    // Runs a row-returning statement into `dataset` on the shared connection, closing it
    // first. Failures leave the dataset closed and are written to the diagnostic output;
    // their cause goes to `failure` when given.
    void OpenSql(const QString &sqlText, Dataset &dataset, Cause *failure = nullptr);

    Connection ADOConnection1;
    Dataset Tsyyp;
    Dataset Twjml;
    Dataset Tdaly;
    Dataset Tcxtj;
    Dataset TJCsj;
    Dataset TYjb;

private:
    void DataModuleCreate(Ui &ui);

    QString m_programFolder;
    Ui &m_ui;
    bool m_connected = false;
    bool m_reconnecting = false;
};

} // namespace dagl
