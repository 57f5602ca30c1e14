#pragma once

#include <QMap>
#include <QString>

namespace dagl {

// Who is working: set once by the login and kept for the rest of the run.
struct Session
{
    QString OperatorName;            // trimmed name of the logged-in operator
    bool LoggedIn = false;
    QMap<QString, QString> Permissions; // permission code -> "1" or "0"

    // The value stored for a code; "0" for a code that was never loaded.
    QString permission(const QString &code) const { return Permissions.value(code, QStringLiteral("0")); }
};

} // namespace dagl
