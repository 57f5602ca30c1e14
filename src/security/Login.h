#pragma once

#include <QDateTime>
#include <QStringList>

namespace dagl {

class TDataModule5;
struct Session;

// The 36 permission codes, in order; each is a column of the rights table `qx`.
inline const QString PermissionCodes = QStringLiteral(
    "zjxf,xgxf,scxf,dhsp,hycx,zjhy,xghy,schy,hykgs,hykqxgs,hyzz,hykzx,zjtx,xgtx,sctx,txcx,hyqktj,hyxfbb,hycztj,"
    "hymxcx,tjtb,hyksz,spsz,czysz,qtsz,sjbfhf,jfsz,dhsptj,ckrz,qkrz,sptjb,spjhtj,spxftj,ecxf,ygsz,ygtctj");

QStringList permissionCodeList();

// The operation log: one record per log-in and per confirmed exit.
namespace OperationLog {
inline const QString kLogin = QStringLiteral("登录系统");
inline const QString kExit = QStringLiteral("退出系统");
// The insert statement of one record, the name quoted safely.
QString recordStatement(const QString &operatorName, const QString &event, const QDateTime &when);
} // namespace OperationLog

// Checking an operator and password against the database.
namespace Login {

enum class Outcome { LoggedIn, NoName, WrongPassword };

// The operator names in the order of their ids, and, when there are none, why, with what
// the administrator can do about it (a server account without rights, a database without
// the tables, an empty operator table); `problem` is empty when names were read.
struct Operators
{
    QStringList names;
    QString problem;
};
Operators operators(TDataModule5 &dm);

// Checks the name as chosen and the typed password (exact, case-sensitive, untrimmed).
// On success fills the session, loads the permissions and writes the log-in record.
// Throws dagl::Error when the operator or rights rows cannot be read; the session is then
// left as it was.
Outcome attempt(TDataModule5 &dm, Session &session, const QString &listText, const QString &password,
                const QStringList &codes);

} // namespace Login
} // namespace dagl
