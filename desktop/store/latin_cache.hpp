// The short Latin names suggestions keep in memory, shared by every reader
// of the store: loaded from one snapshot, kept in step by the store's own
// writes as they commit, and dropped when an import or another program
// changed more than a write of ours says. Only the store's own files
// include this.
#pragma once

#include "store/suggest.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

class LatinCache {
 public:
  // The names, or null while they are not loaded.
  std::shared_ptr<const LatinNames> names() const;

  // Loading, by one thread at a time: begin_load() is true when this caller
  // is to load (nothing loaded, no one loading), and must then call
  // end_load() or abandon_load(). Begin before the snapshot is read: every
  // write that commits after the call is told to the cache (renamed,
  // removed) and laid over the names loaded, whether its snapshot saw it
  // or not.
  bool begin_load();
  // Installs the names read, with the writes told meanwhile laid over them,
  // and returns them; when the cache was dropped meanwhile, returns them
  // without installing (good for the one request that read them).
  std::shared_ptr<const LatinNames> end_load(std::unique_ptr<LatinNames> loaded);
  void abandon_load();

  // What a write of ours committed: the entry's names (match keys) now, or
  // the entry gone.
  void renamed(std::int64_t id, std::vector<std::string> keys);
  void removed(std::int64_t id);

  // Forgets the names: they are read again at the next load.
  void drop();

 private:
  struct Edit {
    std::int64_t id;
    bool removed;
    std::vector<std::string> keys;
  };
  static void apply(LatinNames& names, const Edit& edit);

  mutable std::mutex mutex_;
  std::shared_ptr<LatinNames> names_;
  bool loading_ = false;
  bool dropped_while_loading_ = false;
  std::vector<Edit> edits_;  // told while loading
};

}  // namespace ruvo::desktop::store
