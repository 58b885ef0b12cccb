// Building the in-memory names and keeping them current.
#include "store/name_index.hpp"

#include "common/utf8.hpp"

#include <chrono>

namespace ruvo::desktop::store {

namespace {

// A match key's characters: keys are stored folded, so they are what a
// folded text holds.
std::u32string chars_of(std::string_view key) {
  std::u32string chars;
  chars.reserve(key.size());
  for (std::size_t pos = 0; pos < key.size();) {
    auto step = common::decode_utf8(key, pos);
    chars.push_back(step.valid ? step.scalar : 0xFFFD);
    pos += step.length;
  }
  return chars;
}

// The names of notes, as a small table of their own.
std::shared_ptr<const NameTable> table_of(const std::vector<std::u32string>& names) {
  auto table = std::make_shared<NameTable>(8);
  for (const auto& name : names) table->add(name);
  return table;
}

}  // namespace

NameIndex::NameIndex(TermStore& store, Log log)
    : store_(store), log_(std::move(log)), noted_(std::make_shared<NameTable>(8)) {}

NameIndex::~NameIndex() {
  std::unique_lock<std::mutex> lock(mutex_);
  built_cv_.wait(lock, [this] { return !building_; });
  lock.unlock();
  if (background_.joinable()) background_.join();
}

Result<std::shared_ptr<NameTable>> NameIndex::read_names() {
  auto table = std::make_shared<NameTable>();
  auto add = [&table](std::string_view key) { table->add(chars_of(key)); };
  if (auto read = store_.each_name_key(add); !read) return read.error();
  return table;
}

void NameIndex::build(std::unique_lock<std::mutex>& lock) {
  building_ = true;
  const std::uint64_t first_unread_note = next_note_;
  lock.unlock();
  const auto started = std::chrono::steady_clock::now();
  // Taken before the names are read: a change while they are read moves it
  // again, and the next look builds once more.
  const std::uint64_t generation = store_.names_generation();
  auto table = read_names();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  if (log_) {
    log_(table ? "name index: " + std::to_string((*table)->size()) + " names read in " + std::to_string(ms) + " ms"
               : "name index not read: " + table.error().text());
  }
  lock.lock();
  if (table) {
    failure_.reset();
    built_ = std::move(table).value();
    built_generation_ = generation;
    // Notes made before the build began are in what it read.
    std::vector<Note> kept;
    for (auto& note : notes_) {
      if (note.sequence >= first_unread_note) kept.push_back(std::move(note));
    }
    notes_ = std::move(kept);
    std::vector<std::u32string> names;
    for (const auto& note : notes_) names.push_back(note.name);
    noted_ = table_of(names);
  } else {
    failure_ = table.error();
    failed_generation_ = generation;  // not tried again until the store changes
  }
  building_ = false;
  built_cv_.notify_all();
}

void NameIndex::start_background_build() {
  // mutex_ held, building_ false.
  building_ = true;
  if (background_.joinable()) background_.join();  // the last one has finished: building_ was false
  background_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    build(lock);
  });
}

Result<NameIndex::Tables> NameIndex::tables() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!built_) {
    built_cv_.wait(lock, [this] { return !building_; });
    if (!built_) build(lock);
    if (!built_) return failure_.value_or(common::failure(common::ErrorKind::kStoreFailure, "没能读出词库里的词条名"));
    return Tables{built_, noted_};
  }
  Tables tables{built_, noted_};
  if (!building_ && stale(store_.names_generation())) start_background_build();
  return tables;
}

void NameIndex::refresh() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (built_ && !building_ && stale(store_.names_generation())) start_background_build();
}

void NameIndex::note_saved(const TermEntry& entry) {
  std::vector<std::u32string> names{chars_of(term_key(entry.term))};
  for (const auto& alias : entry.aliases) names.push_back(chars_of(term_key(alias)));
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& name : names) notes_.push_back(Note{next_note_++, std::move(name)});
  std::vector<std::u32string> all;
  for (const auto& note : notes_) all.push_back(note.name);
  noted_ = table_of(all);
}

void NameIndex::wait_for_builds() {
  std::unique_lock<std::mutex> lock(mutex_);
  built_cv_.wait(lock, [this] { return !building_; });
}

std::size_t NameIndex::built_names() {
  std::lock_guard<std::mutex> guard(mutex_);
  return built_ ? built_->size() : 0;
}

}  // namespace ruvo::desktop::store
