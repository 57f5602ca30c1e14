#pragma once

#include <QDate>
#include <QString>

namespace dagl {

class Connection;

namespace Backup {

// The day as eight digits, year, month, day: the name of an exit copy's folder.
QString dayFolderName(const QDate &day);
// The file name of a manual backup made on that day.
QString manualBackupName(const QDate &day);

// Copies the database file of an open connection to `target`, replacing it. The copy is
// taken while no other program can be writing, and written under a temporary name first,
// so that a failure leaves the earlier copy as it was. Returns an error text, empty on
// success.
QString copyDatabase(Connection &connection, const QString &source, const QString &target);

// The copy made at every confirmed exit: backup/<yyyymmdd>/kdmx.mdb in the program folder.
// Creating a folder that fails throws dagl::Error with the system's reason; the outcome of
// the copy itself is returned as in copyDatabase.
QString exitCopy(Connection &connection, const QString &programFolder, const QDate &day);

} // namespace Backup
} // namespace dagl
