// Keeping the shared Latin names in step with the writes that commit while
// they load and after.
#include "store/latin_cache.hpp"

#include <utility>

namespace ruvo::desktop::store {

std::shared_ptr<const LatinNames> LatinCache::names() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return names_;
}

bool LatinCache::begin_load() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (names_ || loading_) return false;
  loading_ = true;
  dropped_while_loading_ = false;
  edits_.clear();
  return true;
}

std::shared_ptr<const LatinNames> LatinCache::end_load(std::unique_ptr<LatinNames> loaded) {
  std::shared_ptr<LatinNames> names(std::move(loaded));
  std::lock_guard<std::mutex> guard(mutex_);
  // A write that committed before the snapshot is laid over it again: each
  // edit makes an entry's names what they are, however often it is applied.
  for (const auto& edit : edits_) apply(*names, edit);
  edits_.clear();
  loading_ = false;
  if (!dropped_while_loading_) names_ = names;
  return names;
}

void LatinCache::abandon_load() {
  std::lock_guard<std::mutex> guard(mutex_);
  loading_ = false;
  edits_.clear();
}

void LatinCache::apply(LatinNames& names, const Edit& edit) {
  names.forget(edit.id);
  if (edit.removed) return;
  for (const auto& key : edit.keys) names.add(edit.id, key);
}

void LatinCache::renamed(std::int64_t id, std::vector<std::string> keys) {
  std::lock_guard<std::mutex> guard(mutex_);
  Edit edit{id, false, std::move(keys)};
  if (loading_) edits_.push_back(edit);
  if (names_) apply(*names_, edit);
}

void LatinCache::removed(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  Edit edit{id, true, {}};
  if (loading_) edits_.push_back(edit);
  if (names_) apply(*names_, edit);
}

void LatinCache::drop() {
  std::lock_guard<std::mutex> guard(mutex_);
  names_.reset();
  if (loading_) dropped_while_loading_ = true;
  edits_.clear();
}

}  // namespace ruvo::desktop::store
