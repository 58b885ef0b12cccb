// An entry's rows as the store keeps them: its columns, its aliases' keys and
// its place in the search index, read and written inside the transaction a
// store method has begun. Only the store's own files include this.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// Stored fields as an object of non-blank strings; a damaged value reads as
// no fields rather than failing the request.
JsonValue read_fields(const std::string& text);

// The stored fields with the given ones laid over them: a string replaces
// the field of its name, a blank one removes it, anything else is ignored.
JsonValue merge_fields(JsonValue stored, const JsonValue& given);

// Stored aliases as a list of strings; a damaged value reads as none.
std::vector<std::string> read_aliases(const std::string& text);

// The columns entry_from_row reads, in its order.
inline constexpr const char* kSelectColumns =
    "SELECT id, term, lang, category_id, fields, source, aliases, updated_at, COALESCE(dictionary_id, 0), packed "
    "FROM terms ";

// The entry of a row read with kSelectColumns; a dictionary's with its article unpacked (its
// dictionary's name is not among the columns).
TermEntry entry_from_row(const Statement& st);

// What the search index holds of a JSON array or object (aliases, fields):
// its string values one after another, as index_text gives them; the names
// of the fields are not searched. The view the index reads computes the
// same through the SQL function ruvo_index_values.
std::string index_values(const JsonValue& values);

// Registers ruvo_index_text and ruvo_index_values, which the search index's
// view calls, on a connection.
Result<void> register_index_functions(sqlite3* db);

// Runs one statement whose only parameter is an entry's id.
Result<void> run_for_id(sqlite3* db, const char* sql, std::int64_t id, std::string_view what);

// The search index's entry of a row, taken out before the row changes and
// put in again after.
Result<void> unindex_row(sqlite3* db, std::int64_t id);
Result<void> index_row(sqlite3* db, std::int64_t id);

// Replaces the entry's aliases, column and keys.
Result<void> write_aliases(sqlite3* db, std::int64_t id, const std::vector<std::string>& aliases);

// Inserts the draft as a new entry, or merges it into the entry of the same
// (key, lang): the given fields replace those of their names, a blank one
// removes its field, aliases given replace the stored ones. The misses of
// its names are forgotten.
Result<TermEntry> save_in_transaction(sqlite3* db, const TermDraft& draft);

// Inserts the draft only into a free (key, lang); nothing when an entry is
// there (left untouched).
Result<std::optional<TermEntry>> insert_if_absent_in_transaction(sqlite3* db, const TermDraft& draft);

}  // namespace ruvo::desktop::store
