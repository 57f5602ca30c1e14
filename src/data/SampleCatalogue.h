#pragma once

#include <QtGlobal>

struct sqlite3;

namespace dagl {

class Connection;

// Realistic generated catalogue records for trying the program and for benchmarks:
// Chinese titles, 20 fonds, filing years 1950 to 2026, numbered by volume before 2000 and
// by box and item from 2000 on. The same seed gives the same records.
namespace SampleCatalogue {

// Inserts `count` records inside the caller's transaction.
void insert(sqlite3 *db, int count, quint32 seed);
// Inserts `count` records in one transaction of its own.
void fill(Connection &connection, int count, quint32 seed);

} // namespace SampleCatalogue
} // namespace dagl
