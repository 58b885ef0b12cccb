// The stored names in memory (name_table.hpp), for finding the terms of a
// text: built from the store's key columns on first use, built again in the
// background when the store's names_generation() moves (another program
// wrote, or an import of ours), and kept in step with the service's own
// saves, which are added as they happen.
#pragma once

#include "common/result.hpp"
#include "store/name_table.hpp"
#include "store/store.hpp"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ruvo::desktop::store {

class NameIndex {
 public:
  using Log = std::function<void(std::string_view line)>;

  // `store` outlives the index. Builds read the names on one of the
  // store's readers, so no request waits for them but the first.
  explicit NameIndex(TermStore& store, Log log = {});
  ~NameIndex();  // waits for a build under way
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  // What a search of a text reads: the names as last built, and those saved
  // since. Neither changes while it is held.
  struct Tables {
    std::shared_ptr<const NameTable> built;
    std::shared_ptr<const NameTable> noted;
  };

  // The tables. The first call builds them, and every caller meanwhile
  // waits for that build; later calls answer at once, starting a build in
  // the background when the store's names_generation() has moved since the
  // last one. A failed first build is the error.
  Result<Tables> tables();

  // The same check without a caller waiting: nothing before the first
  // build. For the service's upkeep, after TermStore::refresh, so a change
  // made elsewhere is in memory before the next request asks.
  void refresh();

  // Adds the names of an entry this service has just saved.
  void note_saved(const TermEntry& entry);

  // Returns once no build is under way (tests and benchmarks, which must
  // know when a change is in).
  void wait_for_builds();

  // What the last finished build held.
  std::size_t built_names();

 private:
  struct Note {
    std::uint64_t sequence;
    std::u32string name;
  };

  // Reads every name.
  Result<std::shared_ptr<NameTable>> read_names();
  // Runs a build with mutex_ released; takes it again to put the result in.
  void build(std::unique_lock<std::mutex>& lock);
  void start_background_build();
  bool stale(std::uint64_t generation) const {
    return generation != built_generation_ && generation != failed_generation_;
  }

  TermStore& store_;
  Log log_;
  std::mutex mutex_;
  std::condition_variable built_cv_;
  std::shared_ptr<const NameTable> built_;
  std::shared_ptr<const NameTable> noted_;
  std::vector<Note> notes_;
  std::uint64_t next_note_ = 0;
  // The store's names_generation() each build read at, or kNone.
  static constexpr std::uint64_t kNone = ~std::uint64_t{0};
  std::uint64_t built_generation_ = kNone;
  std::uint64_t failed_generation_ = kNone;
  std::optional<common::Error> failure_;  // of the last build, when it failed
  bool building_ = false;
  std::thread background_;
};

}  // namespace ruvo::desktop::store
