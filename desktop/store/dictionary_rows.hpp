// What the store's dictionary files share: a dictionary's row read back, the lock that lets one
// add run at a time, and the deletion of a dictionary's entries in batches. Only the store's own
// files include this.
#pragma once

#include "common/result.hpp"
#include "store/connection_pool.hpp"
#include "store/dictionaries.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace ruvo::desktop::store {

// The columns dictionary_from_row reads, in its order.
inline constexpr const char* kDictionaryColumns =
    "SELECT id, name, file_name, format, path, info, url, entries, added_at, enabled, position FROM dictionaries ";

Dictionary dictionary_from_row(const Statement& st);

// The file whose lock an add of the store at `store_path` holds while it runs.
std::string adding_lock_path(const std::string& store_path);

// Deletes the entries of dictionary `id` with their names in the indexes, their aliases and
// glosses, kDictionaryBatch at a time, each batch a transaction of its own on the writer, taken
// for that batch alone; then its row. The dictionary must be invisible already (its state not
// "ready").
Result<void> purge_dictionary(Writer& writer, std::int64_t id);

// How long a batch of an add or a removal waits for the writer: longer than a request does, as
// nobody waits for the answer.
inline constexpr std::chrono::milliseconds kBatchWriterWait{30000};

// Gives every entry of `entries` that is a dictionary's its dictionary's name.
Result<void> name_dictionaries(Connection& reader, std::vector<TermEntry>& entries);

// Renumbers the ready dictionaries' positions 0, 1, … in their present order. Inside a transaction.
Result<void> renumber_dictionaries(sqlite3* db);

}  // namespace ruvo::desktop::store
