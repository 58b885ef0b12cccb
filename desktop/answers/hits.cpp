// A hit's entries from every source (hits.hpp).
#include "answers/hits.hpp"

#include "answers/entry_json.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace ruvo::desktop::answers {

void put_hit(store::TermStore& store, JsonValue& reply, store::TermEntry found, std::string_view text,
             std::string_view lang) {
  std::vector<store::TermEntry> entries;
  bool truncated = false;
  if (auto named = store.entries_named(text, lang, kMostHitEntries, kMostHitEntryBytes)) {
    entries = std::move(named->entries);
    truncated = named->truncated;
  }
  store::TermEntry best = std::move(found);
  // The dictionaries answer in the person's order, which the store's find_any does not know.
  if (best.dictionary_id != 0 && !entries.empty() && entries.front().dictionary_id != 0) best = entries.front();
  auto same = std::find_if(entries.begin(), entries.end(), [&](const store::TermEntry& e) { return e.id == best.id; });
  if (same != entries.end()) {
    best.dictionary_name = same->dictionary_name;
    entries.erase(same);
  } else if (entries.size() >= kMostHitEntries) {
    entries.pop_back();
    truncated = true;
  }
  entries.insert(entries.begin(), best);

  put_entry(reply, best);
  if (best.dictionary_id != 0) reply["dictionary"] = dictionary_ref(best);
  JsonValue items = JsonValue::array();
  for (const auto& entry : entries) items.push_back(entry_item(entry));
  reply["entries"] = std::move(items);
  if (truncated) reply["entriesTruncated"] = true;

  auto related = store.related_entries(text, entries, kMostRelated);
  if (!related || related->empty()) return;
  JsonValue links = JsonValue::array();
  for (const auto& link : *related) {
    JsonValue item{{"term", link.entry.term}, {"lang", link.entry.lang}, {"via", link.via}};
    if (link.entry.dictionary_id != 0) {
      item["dictionary"] = dictionary_ref(link.entry);
    } else {
      item["origin"] = link.entry.source;  // a gloss may name the person's own entry too
    }
    links.push_back(std::move(item));
  }
  reply["related"] = std::move(links);
}

}  // namespace ruvo::desktop::answers
