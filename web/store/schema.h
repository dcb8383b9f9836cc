// The store's tables, built up in steps: each step runs in one transaction
// that also records the version it reaches, so a store at any version,
// including none, is brought up to date in order, and two servers starting
// at once on one store do not both run a step.
#ifndef MEMORIA_WEB_STORE_SCHEMA_H
#define MEMORIA_WEB_STORE_SCHEMA_H

#include <cstdint>

#include "failure.h"
#include "sql.h"

// The version that this program brings a store to.
std::int64_t latest_schema();

// Runs the steps the store lacks, up to `last`; `version` is where it ends.
bool upgrade_schema(sql_connection &db, std::int64_t &version, failure &why,
		    std::int64_t last = latest_schema());

#endif
