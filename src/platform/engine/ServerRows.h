#pragma once

#include "RowSource.h"

#include <memory>

namespace dagl {

class PgConnection;

// The rows of the catalogue on a PostgreSQL server: tables read lazily by their key column
// (keys in the result's order, sorted by the server, then rows by key a page at a time),
// other statements read whole, and a writer that refuses to overwrite what another
// workstation changed since the row was read (see PgRowWriter).
std::unique_ptr<RowDriver> serverRowDriver(PgConnection &connection);

} // namespace dagl
