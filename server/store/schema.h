#pragma once

// The stores' schema and its versions. Each database keeps the number of the last version it
// was brought to; opening a store brings it to the newest in the transaction that opens it,
// one version after another, and refuses a database of a version newer than this program.

#include "store/sql.h"

namespace tonvert::service {

// The newest version this program knows.
int latestSchemaVersion();

// Brings the database to the newest version, recording each version reached; gives the
// version it found. A database of a newer version throws std::runtime_error saying so, and is
// left as it is.
int migrateSchema(SqlTransaction& db);

} // namespace tonvert::service
