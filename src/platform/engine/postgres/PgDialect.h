#pragma once

#include "JetTokens.h"
#include "Regional.h"

#include <QDateTime>
#include <QString>

namespace dagl {

// Turns a statement written in the Jet dialect the program uses into PostgreSQL with the
// same meaning:
// - date literals between "#" signs, and quoted texts given for a date/time column in an
//   insert or update, become timestamp literals (a text that is no date is refused, as is
//   a text that is no number for an integer column and one longer than its text column);
// - [bracketed] and "quoted" names become quoted names in lower case, the case the server
//   folds plain names to, so that GDM, gdm and [Gdm] name one column;
// - like compares without regard to letter case, and "\" in its pattern is a plain
//   character, as on the local engine;
// - "?" becomes the server's $1, $2, ...; ifnull(...) becomes coalesce(...);
// - a grouped select without an order lists its groups in order (text columns compare in
//   pinyin order on the server through their collation);
// - missing values sort first in ascending order and last in descending order.
// Chinese names, count(*), group by and "as 中文名" need nothing.
namespace PgDialect {

using ColumnLookup = JetTokens::ColumnLookup;

// Throws dagl::Error on a malformed date literal or a value the column cannot take.
QString translate(const QString &sql, const ColumnLookup &lookup = {});

// A date, or a date and a time, as the program writes them: the local engine's reading.
inline QDateTime parseDateTime(const QString &text)
{
    return Regional::parseDateTime(text);
}
// The server's literal of a date/time value.
QString timestampLiteral(const QDateTime &value);

} // namespace PgDialect
} // namespace dagl
