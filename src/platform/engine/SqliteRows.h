#pragma once

#include "RowSource.h"

#include <memory>

namespace dagl {

class Connection;

// The rows of a connection to the local database file: tables read by their row ids,
// statements of the program's dialect, and a writer of single rows that refuses nothing but
// a row already gone.
std::unique_ptr<RowDriver> sqliteRowDriver(Connection &connection);

} // namespace dagl
