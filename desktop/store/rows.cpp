// An entry's rows: reading them, writing them and keeping the search index
// and the misses in step with them.
#include "store/rows.hpp"

#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "store/entry_rules.hpp"
#include "store/match_key.hpp"
#include "store/packed.hpp"

namespace ruvo::desktop::store {

namespace {

// ruvo_index_text(text): index_text for the search index; NULL stays NULL.
void index_text_function(sqlite3_context* context, int, sqlite3_value** values) {
  if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  std::string indexed =
      index_text(std::string_view(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
  sqlite3_result_text(context, indexed.data(), static_cast<int>(indexed.size()), SQLITE_TRANSIENT);
}

// ruvo_index_values(json): index_values of a stored JSON text.
void index_values_function(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  std::string joined;
  if (text != nullptr) {
    auto parsed = common::parse_json(std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
    if (parsed) joined = index_values(*parsed);
  }
  sqlite3_result_text(context, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
}

// A saved name is no longer missing.
Result<void> forget_misses(sqlite3* db, const TermEntry& entry) {
  std::vector<std::string> names = entry.aliases;
  names.push_back(entry.term);
  for (const auto& name : names) {
    Statement forget(db, "DELETE FROM misses WHERE text_key = ?1");
    if (!forget.ok()) return sqlite_error(db, "prepare misses");
    forget.bind(1, term_key(name));
    if (forget.step() != SQLITE_DONE) return sqlite_error(db, "misses");
  }
  return {};
}

// An entry of the person's store (no dictionary's) with the draft's (key, lang).
struct Existing {
  std::int64_t id = 0;
  std::string fields;
  std::string aliases;
  std::string source;
};

// The entries of the draft's (key, lang) that are no dictionary's: at most one per source.
Result<std::vector<Existing>> find_existing(sqlite3* db, const TermDraft& draft) {
  Statement find(db,
                 "SELECT id, fields, aliases, source FROM terms WHERE term_key = ?1 AND lang = ?2 "
                 "AND dictionary_id IS NULL ORDER BY id");
  if (!find.ok()) return sqlite_error(db, "prepare save");
  find.bind(1, term_key(draft.term));
  find.bind(2, draft.lang);
  std::vector<Existing> out;
  int rc;
  while ((rc = find.step()) == SQLITE_ROW) {
    out.push_back(Existing{find.integer(0), find.text(1), find.text(2), find.text(3)});
  }
  if (rc != SQLITE_DONE) return sqlite_error(db, "save");
  return out;
}

const Existing* of_source(const std::vector<Existing>& rows, std::string_view source) {
  for (const auto& row : rows) {
    if (row.source == source) return &row;
  }
  return nullptr;
}

// The entry a save of the draft updates: the one of its own source; else a model's answer, which
// gives way to what a person or the glossary wrote (and a model's draft takes whatever is there, as
// only save_if_absent stores model answers beside nothing). Nothing: the draft is a new entry.
const Existing* save_target(const std::vector<Existing>& rows, const TermDraft& draft) {
  if (const Existing* same = of_source(rows, draft.source)) return same;
  if (draft.source == kSourceModel) return rows.empty() ? nullptr : &rows.front();
  return of_source(rows, kSourceModel);
}

// The entry's fields within their bounds, else a refusal of the kind
// kBadInput: the request asked for too much, the store is fine.
Result<void> bounded_fields(const JsonValue& fields) {
  if (auto bounded = check_field_bounds(fields); !bounded) {
    return common::failure(common::ErrorKind::kBadInput, bounded.error().text());
  }
  return {};
}

Result<TermEntry> insert_entry(sqlite3* db, const TermDraft& draft) {
  TermEntry entry{{},
                  draft.term,
                  draft.lang,
                  draft.category_id,
                  merge_fields(JsonValue::object(), draft.fields),
                  draft.source,
                  draft.aliases.value_or(std::vector<std::string>{})};
  if (auto bounded = bounded_fields(entry.fields); !bounded) return bounded.error();
  Statement insert(db,
                   "INSERT INTO terms (term, term_key, lang, category_id, fields, created_at, updated_at, source) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6, ?7)");
  if (!insert.ok()) return sqlite_error(db, "prepare insert");
  insert.bind(1, entry.term);
  insert.bind(2, term_key(draft.term));
  insert.bind(3, entry.lang);
  insert.bind(4, entry.category_id);
  insert.bind(5, common::to_compact(entry.fields));
  entry.updated_at = platform::unix_seconds();
  insert.bind(6, entry.updated_at);
  insert.bind(7, entry.source);
  if (insert.step() != SQLITE_DONE) return sqlite_error(db, "insert");
  const std::int64_t id = sqlite3_last_insert_rowid(db);
  entry.id = std::to_string(id);
  if (!entry.aliases.empty()) {
    if (auto written = write_aliases(db, id, entry.aliases); !written) return written.error();
  }
  if (auto indexed = index_row(db, id); !indexed) return indexed.error();
  if (auto forgotten = forget_misses(db, entry); !forgotten) return forgotten.error();
  return entry;
}

}  // namespace

JsonValue read_fields(const std::string& text) {
  JsonValue out = JsonValue::object();
  auto parsed = common::parse_json(text);
  if (!parsed || !parsed->is_object()) return out;
  for (auto& [key, value] : parsed->items()) {
    if (value.is_string() && !common::is_blank(value.get_ref<const std::string&>())) out[key] = value;
  }
  return out;
}

JsonValue merge_fields(JsonValue stored, const JsonValue& given) {
  if (!stored.is_object()) stored = JsonValue::object();
  if (!given.is_object()) return stored;
  for (auto& [key, value] : given.items()) {
    if (!value.is_string()) continue;
    if (common::is_blank(value.get_ref<const std::string&>())) {
      stored.erase(key);
    } else {
      stored[key] = value;
    }
  }
  return stored;
}

std::vector<std::string> read_aliases(const std::string& text) {
  std::vector<std::string> out;
  auto parsed = common::parse_json(text);
  if (!parsed || !parsed->is_array()) return out;
  for (const auto& alias : *parsed) {
    if (alias.is_string()) out.push_back(alias.get<std::string>());
  }
  return out;
}

TermEntry entry_from_row(const Statement& st) {
  TermEntry entry{
      std::to_string(st.integer(0)), st.text(1),   st.text(2), st.text(3), read_fields(st.text(4)), st.text(5),
      read_aliases(st.text(6)),      st.integer(7)};
  entry.dictionary_id = st.integer(8);
  if (entry.dictionary_id != 0) {
    Unpacked article = unpack(st.blob(9));
    entry.fields = std::move(article.fields);
    entry.see_also = std::move(article.see_also);
    entry.html = std::move(article.html);
  }
  return entry;
}

std::string index_values(const JsonValue& values) {
  std::string joined;
  if (!values.is_array() && !values.is_object()) return joined;
  for (const auto& value : values) {
    if (!value.is_string()) continue;
    if (!joined.empty()) joined += ' ';
    joined += index_text(value.get_ref<const std::string&>());
  }
  return joined;
}

Result<void> register_index_functions(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "ruvo_index_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                 nullptr, index_text_function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqlite_error(db, "register ruvo_index_text");
  }
  if (sqlite3_create_function_v2(db, "ruvo_index_values", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                 nullptr, index_values_function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqlite_error(db, "register ruvo_index_values");
  }
  return {};
}

Result<void> run_for_id(sqlite3* db, const char* sql, std::int64_t id, std::string_view what) {
  Statement st(db, sql);
  if (!st.ok()) return sqlite_error(db, "prepare " + std::string(what));
  st.bind(1, id);
  if (st.step() != SQLITE_DONE) return sqlite_error(db, what);
  return {};
}

// The search index's entry of a row, taken out before the row changes and
// put in again after: the index keeps no text of its own, so what it is told
// to forget must be what it was given, read through the same view.
Result<void> unindex_row(sqlite3* db, std::int64_t id) {
  if (auto out = run_for_id(db,
                            "INSERT INTO terms_fts (terms_fts, rowid, term, aliases, body) "
                            "SELECT 'delete', id, term, aliases, body FROM term_search WHERE id = ?1",
                            id, "index");
      !out) {
    return out;
  }
  return run_for_id(db,
                    "INSERT INTO names_fts (names_fts, rowid, term, aliases) "
                    "SELECT 'delete', id, term, aliases FROM term_search WHERE id = ?1",
                    id, "index");
}

Result<void> index_row(sqlite3* db, std::int64_t id) {
  if (auto in = run_for_id(db,
                           "INSERT INTO terms_fts (rowid, term, aliases, body) "
                           "SELECT id, term, aliases, body FROM term_search WHERE id = ?1",
                           id, "index");
      !in) {
    return in;
  }
  return run_for_id(
      db, "INSERT INTO names_fts (rowid, term, aliases) SELECT id, term, aliases FROM term_search WHERE id = ?1", id,
      "index");
}

Result<void> write_aliases(sqlite3* db, std::int64_t id, const std::vector<std::string>& aliases) {
  Statement column(db, "UPDATE terms SET aliases = ?1 WHERE id = ?2");
  if (!column.ok()) return sqlite_error(db, "prepare aliases");
  column.bind(1, common::to_compact(JsonValue(aliases)));
  column.bind(2, id);
  if (column.step() != SQLITE_DONE) return sqlite_error(db, "aliases");
  if (auto cleared = run_for_id(db, "DELETE FROM term_aliases WHERE term_id = ?1", id, "aliases"); !cleared) {
    return cleared;
  }
  for (const auto& alias : aliases) {
    Statement one(db, "INSERT OR IGNORE INTO term_aliases (alias_key, term_id) VALUES (?1, ?2)");
    one.bind(1, term_key(alias));
    one.bind(2, id);
    if (one.step() != SQLITE_DONE) return sqlite_error(db, "aliases");
  }
  return {};
}

Result<TermEntry> save_in_transaction(sqlite3* db, const TermDraft& draft) {
  auto existing = find_existing(db, draft);
  if (!existing) return existing.error();
  const Existing* found = save_target(*existing, draft);
  if (!found) {
    // A person's save of a glossary term is their own entry beside the glossary's, which stays as
    // it is: the glossary's fields and aliases are where theirs start, as if they had edited it.
    const Existing* glossary = draft.source == kSourceUser ? of_source(*existing, kSourceGlossary) : nullptr;
    if (glossary == nullptr) return insert_entry(db, draft);
    TermDraft based = draft;
    based.fields = merge_fields(read_fields(glossary->fields), draft.fields);
    if (!based.aliases) based.aliases = read_aliases(glossary->aliases);
    return insert_entry(db, based);
  }

  TermEntry entry{std::to_string(found->id),
                  draft.term,
                  draft.lang,
                  draft.category_id,
                  merge_fields(read_fields(found->fields), draft.fields),
                  draft.source,
                  draft.aliases ? *draft.aliases : read_aliases(found->aliases)};
  // The given fields were within their bounds; with those kept beside them
  // the entry may not be.
  if (auto bounded = bounded_fields(entry.fields); !bounded) return bounded.error();
  if (auto out = unindex_row(db, found->id); !out) return out.error();
  Statement update(db,
                   "UPDATE terms SET term = ?1, category_id = ?2, fields = ?3, updated_at = ?4, source = ?5 "
                   "WHERE id = ?6");
  if (!update.ok()) return sqlite_error(db, "prepare update");
  update.bind(1, entry.term);
  update.bind(2, entry.category_id);
  update.bind(3, common::to_compact(entry.fields));
  entry.updated_at = platform::unix_seconds();
  update.bind(4, entry.updated_at);
  update.bind(5, entry.source);
  update.bind(6, found->id);
  if (update.step() != SQLITE_DONE) return sqlite_error(db, "update");
  if (draft.aliases) {
    if (auto written = write_aliases(db, found->id, *draft.aliases); !written) return written.error();
  }
  if (auto indexed = index_row(db, found->id); !indexed) return indexed.error();
  if (auto forgotten = forget_misses(db, entry); !forgotten) return forgotten.error();
  return entry;
}

Result<std::optional<TermEntry>> insert_if_absent_in_transaction(sqlite3* db, const TermDraft& draft) {
  auto existing = find_existing(db, draft);
  if (!existing) return existing.error();
  if (!existing->empty()) return std::optional<TermEntry>();
  auto inserted = insert_entry(db, draft);
  if (!inserted) return inserted.error();
  return std::optional<TermEntry>(std::move(inserted).value());
}

}  // namespace ruvo::desktop::store
