#include "support/damaged_store.hpp"

#include "store/store.hpp"

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace ruvo::test {
namespace {

struct Connection {
  explicit Connection(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      db = nullptr;
    }
  }
  ~Connection() { sqlite3_close(db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::vector<long long> integers(const char* sql) const {
    std::vector<long long> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) out.push_back(sqlite3_column_int64(st, 0));
    }
    sqlite3_finalize(st);
    return out;
  }

  sqlite3* db = nullptr;
};

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

DamagedPage damage_store_page(const std::string& path, std::string_view spared) {
  DamagedPage damaged;
  long long page_size = 0;
  std::vector<long long> leaves;
  {
    Connection connection(path);
    if (connection.db == nullptr) return {0, {}, "cannot open " + path};
    auto sizes = connection.integers("PRAGMA page_size");
    page_size = sizes.empty() ? 0 : sizes[0];
    // dbstat (Debian's SQLite has it) names each page of the table and its kind.
    leaves =
        connection.integers("SELECT pageno FROM dbstat WHERE name = 'terms' AND pagetype = 'leaf' ORDER BY pageno");
  }  // closed: a clean close leaves every page in the file itself
  if (page_size <= 0 || leaves.size() < 2) return {0, {}, "the terms table has no two leaf pages to choose from"};

  const std::string bytes = read_all(path);
  for (long long number : leaves) {
    const auto offset = static_cast<std::size_t>((number - 1) * page_size);
    if (offset + static_cast<std::size_t>(page_size) > bytes.size()) continue;
    std::string page = bytes.substr(offset, static_cast<std::size_t>(page_size));
    if (page.find(spared) != std::string::npos) continue;

    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    const std::string pattern(static_cast<std::size_t>(page_size), '\xA5');
    file.write(pattern.data(), static_cast<std::streamsize>(pattern.size()));
    file.flush();
    if (!file) return {0, {}, "cannot write page " + std::to_string(number) + " of " + path};
    damaged.number = static_cast<int>(number);
    damaged.original = std::move(page);
    return damaged;
  }
  return {0, {}, "every leaf page of the terms table holds the spared term"};
}

namespace {

std::string filler(int i) { return std::string("filler ") + (i < 10 ? "0" : "") + std::to_string(i); }

}  // namespace

DamagedPage make_damaged_store(const std::string& path, const std::string& spared) {
  std::vector<desktop::store::TermDraft> seed{
      desktop::store::TermDraft{spared, "zh", "term", {{"definition", "kept"}}}};
  for (int i = 0; i < 60; ++i) {
    seed.push_back(desktop::store::TermDraft{
        filler(i), "zh", "term", {{"definition", std::string(200, static_cast<char>('a' + i % 26))}}});
  }
  if (auto made = desktop::store::TermStore::open(path, seed); !made) return {0, {}, made.error().text()};
  return damage_store_page(path, spared);
}

std::string filler_on(const DamagedPage& page) {
  for (int i = 0; i < 60; ++i) {
    if (page.original.find(filler(i)) != std::string::npos) return filler(i);
  }
  return {};
}

bool checkpoint_store(const std::string& path) {
  Connection connection(path);
  if (connection.db == nullptr) return false;
  if (sqlite3_exec(connection.db, "UPDATE terms SET updated_at = updated_at WHERE id = (SELECT MIN(id) FROM terms)",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  return sqlite3_exec(connection.db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace ruvo::test
