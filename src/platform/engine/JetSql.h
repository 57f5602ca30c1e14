#pragma once

#include "JetTokens.h"

#include <QString>

namespace dagl {

// Turns a statement written in the Jet dialect the program uses into one the engine
// runs with the same meaning:
// - date literals between "#" signs become stored date/time values;
// - a quoted text given for a date/time column in an insert or update becomes a date/time
//   (a text that is no date is refused, as is a text that is no number for an integer
//   column and a text longer than its text column).
// Everything else (Chinese names, like, group by, bracketed names) the engine takes as is.
namespace JetSql {

using ColumnLookup = JetTokens::ColumnLookup;

// Throws dagl::Error on a malformed date literal or a value the column cannot take.
QString translate(const QString &sql, const ColumnLookup &lookup);

// The text of a quoted SQL literal: doubles each single quote.
QString quoted(const QString &value);

} // namespace JetSql
} // namespace dagl
