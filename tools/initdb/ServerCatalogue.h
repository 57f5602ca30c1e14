#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace dagl {

class Connection;
class PgConnection;

// The catalogue on a PostgreSQL server, made by the database tool: the six tables with the
// server's types, a key in every table and text in pinyin order; either new, with the one
// operator and the unit row, or copied from a local catalogue file.
namespace ServerCatalogue {

struct TableCount
{
    QString table;
    qlonglong rows = 0;
};

// Creates the tables on an empty server database, with operator `operatorName` (an empty
// password, every right in `rightCodes`) and the unit row, in one transaction. Throws
// dagl::Error, and refuses a database that holds any table.
void create(PgConnection &server, const QStringList &rightCodes, const QString &operatorName = QStringLiteral("管理员"));

// Creates the tables on an empty server database and copies every row of the six tables
// of the open local catalogue into them, keys included, in one transaction: on any failure
// the server database is left as empty as it was. Returns the rows of each table, checked
// against the local counts. Throws dagl::Error.
QVector<TableCount> copyFrom(PgConnection &server, Connection &local, const QStringList &rightCodes);

// Gives the existing login role `role` what a clerk's workstation needs of the catalogue
// made by create() or copyFrom(), and nothing more: to connect to the database, to read and
// write the rows of the six tables (SELECT, INSERT, UPDATE, DELETE) and to draw new keys
// from their sequences (and to read them, as a backup does). Throws dagl::Error, naming what is missing (the role, the tables).
void grant(PgConnection &server, const QString &role);

} // namespace ServerCatalogue
} // namespace dagl
