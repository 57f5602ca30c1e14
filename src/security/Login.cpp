#include "Login.h"

#include "Dataset.h"
#include "Error.h"
#include "JetSql.h"
#include "Regional.h"
#include "Session.h"
#include "TDataModule5.h"

#include <QDebug>

namespace dagl {

QStringList permissionCodeList()
{
    return PermissionCodes.split(QLatin1Char(','));
}

QString OperationLog::recordStatement(const QString &operatorName, const QString &event, const QDateTime &when)
{
    return QStringLiteral("insert into rz (rznr,sj)values(") + JetSql::quoted(QStringLiteral("操作员：") + operatorName + event)
           + QStringLiteral(",'") + Regional::formatDateTime(when) + QStringLiteral("')");
}

namespace {

// Why the operator list could not be read, and what to do, in the administrator's terms.
QString operatorsProblem(TDataModule5 &dm, const Error &error)
{
    Connection &db = dm.ADOConnection1;
    const bool server = db.onServer();
    const QString told = QStringLiteral("无法读取操作员名单：");
    // The names the server itself uses, also when a service file gave them.
    const auto asServerSays = [&db](const char *function, const QString &fallback) {
        try {
            return db.server().scalarNative(QStringLiteral("SELECT ") + QLatin1String(function)).toString();
        } catch (const Error &) {
            return fallback;
        }
    };
    if (server && error.cause() == Cause::AccessDenied) {
        const QString account = asServerSays("current_user", db.server().settings().user);
        return told + QStringLiteral("数据库服务器上的账户“%1”权限不足，不能读写本系统的表。\n"
                                     "请数据库管理员给这个账户授权：dagl-initdb --server \"连接设置\" --grant %1"
                                     "（见 README 的“多台工作站共用一台服务器”）。")
                          .arg(account);
    }
    bool noTable = false;
    try {
        noTable = db.tableColumns(QStringLiteral("gly")).isEmpty();
    } catch (const Error &) {
    }
    if (noTable && server)
        return told + QStringLiteral("数据库服务器上的数据库“%1”里没有这个表（操作员表 gly），本系统的表还没有建立。\n"
                                     "请数据库管理员建表：dagl-initdb --server \"连接设置\"（见 README）。")
                          .arg(asServerSays("current_database()", db.server().settings().database));
    if (noTable)
        return told + QStringLiteral("数据库文件 %1 里没有这个表（操作员表 gly）。\n"
                                     "请从备份复制回数据库文件，或用 dagl-initdb 建立新的数据库。")
                          .arg(db.displayName());
    return told + error.message();
}

} // namespace

Login::Operators Login::operators(TDataModule5 &dm)
{
    Operators result;
    if (!dm.isConnected())
        return result;
    // As OpenSql does, but keeping the error: an empty list alone does not say why.
    Dataset query(QStringLiteral("ADOQuery1"));
    try {
        query.setConnection(&dm.ADOConnection1);
        query.setCommandText(QStringLiteral("select glymc from gly  order by id"));
        query.open();
        for (query.first(); !query.eof(); query.next())
            result.names << query.text(0);
    } catch (const Error &error) {
        qWarning().noquote() << "operator list not read:" << error.logText();
        result.names.clear();
        result.problem = operatorsProblem(dm, error);
        return result;
    }
    if (result.names.isEmpty())
        result.problem = QStringLiteral("操作员表 gly 里没有操作员，无法登录。\n请数据库管理员在 gly 表中添加操作员。");
    return result;
}

Login::Outcome Login::attempt(TDataModule5 &dm, Session &session, const QString &listText, const QString &password,
                              const QStringList &codes)
{
    if (listText.trimmed().isEmpty())
        return Outcome::NoName;

    Dataset query(QStringLiteral("ADOQuery1"));
    dm.OpenSql(QStringLiteral("select mm,id from gly  where glymc=") + JetSql::quoted(listText), query);
    const QString stored = query.text(0); // a closed query throws here
    if (stored != password)
        return Outcome::WrongPassword;
    const QString id = query.text(1).trimmed();

    // The rights are read before anything is set, so a faulty rights row leaves the
    // operator logged out rather than half logged in.
    QMap<QString, QString> permissions;
    Dataset rights(QStringLiteral("ADOQuery2"));
    dm.OpenSql(QStringLiteral("select * from qx  where glyid=") + JetSql::quoted(id), rights);
    rights.first();
    const bool hasRow = !rights.isEmpty();
    for (const QString &code : codes)
        permissions.insert(code, hasRow && rights.text(code) == QLatin1String("1") ? QStringLiteral("1")
                                                                                   : QStringLiteral("0"));

    session.OperatorName = listText.trimmed();
    session.LoggedIn = true;
    session.Permissions = permissions;
    dm.RunSql(OperationLog::recordStatement(session.OperatorName, OperationLog::kLogin, QDateTime::currentDateTime()));
    return Outcome::LoggedIn;
}

} // namespace dagl
