#pragma once

#include "Field.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace dagl {

class PgConnection;

// A table of the catalogue as both servers know it: its name and columns in table order.
struct PgTable
{
    QString name;
    QVector<FieldDef> columns;
};

// The catalogue's tables on the server: their types, the pinyin order of their text, and
// the key every row has.
namespace PgSchema {

// The collation of every text column: Chinese in pinyin order, by ICU.
inline constexpr const char *kCollation = "dagl_zh";
// The key given to a table that has no auto-number of its own, so that every table can be
// read by key in pages and every row named when it is saved.
inline const QString kRowKey = QStringLiteral("dagl_rowid");

QString collationStatement();
// A name as the server reads it exactly: in double quotes, case kept.
QString quotedName(const QString &name);
// The server type of a column ("varchar(250) COLLATE dagl_zh", "integer", ...).
QString columnType(const FieldDef &column);
QString createTableStatement(const PgTable &table);
// The key of a table as created: its auto-number, else kRowKey.
QString keyOf(const PgTable &table);

// The tables, views and sequences of the current schema (empty for a new database).
QStringList relations(PgConnection &connection);
// Moves the key's counter of a table past its highest key, after rows were copied with
// their keys.
void advanceKey(PgConnection &connection, const PgTable &table);

} // namespace PgSchema
} // namespace dagl
