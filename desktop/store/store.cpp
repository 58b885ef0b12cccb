// Opening the store: the writer connection set up, the file checked,
// migrated and made private, the readers ready to be opened; its count of
// entries, and what refresh() brings up to date after another program wrote.
#include "store/store.hpp"

#include "platform/files.hpp"
#include "store/connection_pool.hpp"
#include "store/file_safety.hpp"
#include "store/latin_cache.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/schema.hpp"
#include "store/sql.hpp"

#include <sqlite3.h>

#include <utility>

namespace ruvo::desktop::store {

namespace {

// Readers open at most: more than the service has threads that read, so no
// read waits for another. Each holds a page cache of SQLite's default size
// (2 MiB at most) once it has been used that much.
constexpr std::size_t kMostReaders = 24;

// How long refresh() waits for the writer before it leaves the round out:
// a save holds it a few milliseconds, and the next round comes soon.
constexpr std::chrono::milliseconds kRefreshWait{20};

Result<std::int64_t> data_version(Connection& connection) {
  Statement version(connection.kept("PRAGMA data_version"));
  if (!version.ok() || version.step() != SQLITE_ROW) return sqlite_error(connection.db(), "PRAGMA data_version");
  return version.integer(0);
}

Result<std::int64_t> count_on(Connection& connection) {
  Statement st(connection.kept("SELECT COUNT(*) FROM terms"));
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(connection.db(), "count");
  return st.integer(0);
}

}  // namespace

std::string term_key(std::string_view term) { return match_key(term); }

TermStore::TermStore(std::string path, StoreBounds bounds, std::unique_ptr<Connection> writer)
    : path_(std::move(path)),
      bounds_(bounds),
      writer_(std::make_unique<Writer>(std::move(writer), bounds.writer_wait)),
      readers_(std::make_unique<ReaderPool>(path_, bounds.writer_wait, kMostReaders)),
      latin_(std::make_unique<LatinCache>()),
      exports_open_(std::make_shared<std::atomic<int>>(0)) {}

TermStore::~TermStore() = default;

Result<std::unique_ptr<TermStore>> TermStore::open(const std::string& path, const std::vector<TermDraft>& seed,
                                                   StoreBounds bounds) {
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  if (auto made = platform::make_private_file(path); !made) return made.error();
  auto resolved = resolved_store_path(path);
  if (!resolved) return resolved.error();
  auto connected = Connection::open(*resolved, Role::kWriter, bounds.writer_wait);
  if (!connected) return connected.error();
  std::unique_ptr<TermStore> store(new TermStore(*resolved, bounds, std::move(connected).value()));
  Connection& writer = store->writer_->unshared();
  sqlite3* db = writer.db();
  if (auto made = make_companions_private(path); !made) return made.error();

  auto version = schema_version(db);
  if (!version) return version.error();
  int current = *version;
  if (current > kStoreSchemaVersion) {
    return common::failure("词库 " + path + " 的版本 " + std::to_string(current) + " 比本程序新（" +
                           std::to_string(kStoreSchemaVersion) + "），不敢改动");
  }
  store->quick_check(writer);
  if (current < kStoreSchemaVersion && store->damaged()) {
    return common::failure("词库 " + path + " 已损坏（" + store->damage_detail() + "），需要升级却不敢改动");
  }
  if (current < kStoreSchemaVersion) {
    if (auto migrated = migrate(db, seed); !migrated) return migrated.error();
  }
  // What a damaged file still lets SQLite count; a count it refuses is
  // taken again by refresh().
  if (auto seen = data_version(writer)) store->writer_data_version_ = *seen;
  if (auto counted = store->noted(count_on(writer))) {
    store->count_ = *counted;
  } else {
    store->writer_data_version_ = -1;
  }
  return store;
}

Result<std::int64_t> TermStore::count() {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(count_on(**reader));
}

Result<void> TermStore::recount() {
  auto counted = count();
  if (!counted) return counted.error();
  count_ = *counted;
  return {};
}

Result<void> TermStore::refresh() {
  // A damaged file is read only as requests need it: going over it again
  // every round would only meet the damage again.
  if (damaged()) return {};
  {
    auto writer = writer_->lease_within(kRefreshWait);
    if (!writer) return {};
    auto now = noted(data_version(**writer));
    if (!now) return now.error();
    if (*now != writer_data_version_) {
      // With the writer held no write of ours is under way: the count taken
      // now is the file's, and ours move it from there.
      if (auto counted = recount(); !counted) return counted;
      writer_data_version_ = *now;
      latin_->drop();
    }
  }
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  auto loaded = load_latin_names(**reader);
  if (!loaded) return loaded.error();
  return {};
}

}  // namespace ruvo::desktop::store
