// What a lookup or explain hit carries besides its best entry: every entry for the text from every
// enabled source, best first, bounded; the dictionary of the best one; and the entries of other
// languages a bilingual dictionary's glosses link it to.
#pragma once

#include "common/json.hpp"
#include "store/store.hpp"

#include <cstddef>
#include <string_view>

namespace ruvo::desktop::answers {

using common::JsonValue;

// The most entries a hit lists, and about the most bytes their fields take together: the reply
// stays far below what ruvo reads (1 MiB).
inline constexpr std::size_t kMostHitEntries = 20;
inline constexpr std::size_t kMostHitEntryBytes = 192 * 1024;
inline constexpr std::size_t kMostRelated = 10;

// Puts the hit into the reply: the best entry's members (put_entry), then "dictionary"
// ({"id","name"}) when the best entry is a dictionary's, "entries" (entry_item, the best first),
// "entriesTruncated": true when more entries name the text than were given, and "related"
// ([{"term","lang","dictionary","via"}]) when glosses link any. `found` is what the store's
// find_any gave; when it is a dictionary's, the first of the entries in the person's order of
// dictionaries is the best. A store that cannot list the other entries leaves the hit as it is.
void put_hit(store::TermStore& store, JsonValue& reply, store::TermEntry found, std::string_view text,
             std::string_view lang);

}  // namespace ruvo::desktop::answers
