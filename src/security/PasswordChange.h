#pragma once

#include <QString>

namespace dagl {

class TDataModule5;

// An operator changing their own password.
namespace PasswordChange {

struct Account {
    bool found = false;
    QString id;
    QString name;
    QString storedPassword; // trimmed; empty for no value
};

// The operator's row as it stands now.
Account load(TDataModule5 &dm, const QString &operatorName);

QString updateStatement(const QString &operatorName, const QString &newPassword);

enum class Outcome { NotRead, WrongOldPassword, Mismatch, Failed, Changed };

// Checks the typed texts (each trimmed) against the account as read when the window was
// shown, and stores the new password. NotRead when that row could not be read: without
// the stored password there is nothing to check the old one against. Failed when the
// database did not take it (or the operator's row is gone): the password is then as it was.
Outcome save(TDataModule5 &dm, const QString &operatorName, const Account &account, const QString &oldText,
    const QString &newText, const QString &confirmText);

} // namespace PasswordChange
} // namespace dagl
