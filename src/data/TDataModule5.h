#pragma once

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

    static QString connectionStringFor(const QString &programFolder);

    bool isConnected() const { return m_connected; }
    // The program folder with a trailing "/".
    const QString &programFolder() const { return m_programFolder; }

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
    bool m_connected = false;
};

} // namespace dagl
