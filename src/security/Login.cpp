#include "Login.h"

#include "Dataset.h"
#include "JetSql.h"
#include "Regional.h"
#include "Session.h"
#include "TDataModule5.h"

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

QStringList Login::operatorNames(TDataModule5 &dm)
{
    Dataset query(QStringLiteral("ADOQuery1"));
    dm.OpenSql(QStringLiteral("select glymc from gly  order by id"), query);
    QStringList names;
    if (!query.isOpen())
        return names;
    for (query.first(); !query.eof(); query.next())
        names << query.text(0);
    return names;
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
