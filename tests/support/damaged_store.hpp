// Damages a store file on purpose, as a failing disk or a stray write would,
// for the tests of how the service copes with it.
#pragma once

#include <string>
#include <string_view>

namespace ruvo::test {

struct DamagedPage {
  int number = 0;        // 0: nothing was damaged, see `problem`
  std::string original;  // the page's bytes before
  std::string problem;
};

// Overwrites one leaf page of the terms table, one on which the bytes of
// `spared` appear nowhere (so the entry of that term is on another page),
// with a pattern that no b-tree page begins with. SQLite still opens the
// file and reads its schema, and the term index is whole, so counting and
// looking up `spared` still work; PRAGMA quick_check fails, and reading a
// row of that page gives SQLITE_CORRUPT. Call only while no other
// connection has the file open (a store that has been closed, or one that
// WAL has nothing pending for: see checkpoint_store).
DamagedPage damage_store_page(const std::string& path, std::string_view spared);

// A store at `path` holding `spared` (definition "kept") and enough other
// entries, "filler 00" to "filler 59", to fill several pages; closed, then
// damaged by damage_store_page sparing `spared`.
DamagedPage make_damaged_store(const std::string& path, const std::string& spared);

// The name of a filler entry of make_damaged_store that lies on the damaged
// page; empty when none does.
std::string filler_on(const DamagedPage& page);

// Commits one harmless change to the store through a connection of its
// own and checkpoints the write-ahead log into the file, truncating it: the
// file then holds every page, and a connection that had pages cached reads
// them anew at its next statement. False when SQLite refused.
bool checkpoint_store(const std::string& path);

}  // namespace ruvo::test
