// The store's schema: the steps that bring a store of any earlier version up
// to kStoreSchemaVersion, run once when a store is opened. Only the store's
// own files include this.
#pragma once

#include "common/result.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <vector>

namespace ruvo::desktop::store {

// PRAGMA user_version: the schema the file holds, 0 for a new one.
Result<int> schema_version(sqlite3* db);

// Brings the store up to kStoreSchemaVersion in one transaction, all or
// nothing: a new store gets every table and the `seed` entries; an older one
// the missing steps, its keys made anew when they fold differently now.
Result<void> migrate(sqlite3* db, const std::vector<TermDraft>& seed);

}  // namespace ruvo::desktop::store
