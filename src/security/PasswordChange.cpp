#include "PasswordChange.h"

#include "Dataset.h"
#include "JetSql.h"
#include "TDataModule5.h"

namespace dagl::PasswordChange {

namespace {

QString selectStatement(const QString &operatorName)
{
    return QStringLiteral("select * from gly where glymc=") + JetSql::quoted(operatorName.trimmed());
}

} // namespace

Account load(TDataModule5 &dm, const QString &operatorName)
{
    Account account;
    Dataset query(QStringLiteral("ADOQuery1"));
    dm.OpenSql(selectStatement(operatorName), query);
    if (!query.isOpen() || query.isEmpty())
        return account;
    query.first();
    account.found = true;
    account.id = query.text(QStringLiteral("id")).trimmed();
    account.name = query.text(QStringLiteral("glymc")).trimmed();
    account.storedPassword = query.text(QStringLiteral("mm")).trimmed();
    return account;
}

QString updateStatement(const QString &operatorName, const QString &newPassword)
{
    return QStringLiteral("update  gly set mm=") + JetSql::quoted(newPassword.trimmed())
        + QStringLiteral(" where glymc=") + JetSql::quoted(operatorName.trimmed());
}

Outcome save(TDataModule5 &dm, const QString &operatorName, const Account &account, const QString &oldText,
    const QString &newText, const QString &confirmText)
{
    if (!account.found)
        return Outcome::NotRead;
    if (oldText.trimmed() != account.storedPassword)
        return Outcome::WrongOldPassword;
    if (newText.trimmed() != confirmText.trimmed())
        return Outcome::Mismatch;
    if (!dm.RunSql(updateStatement(operatorName, newText)))
        return Outcome::Failed;
    // The update runs without a word when no row matches: read back what is stored.
    const Account after = load(dm, operatorName);
    return after.found && after.storedPassword == newText.trimmed() ? Outcome::Changed : Outcome::Failed;
}

} // namespace dagl::PasswordChange
