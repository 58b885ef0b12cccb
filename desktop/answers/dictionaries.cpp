// Dictionaries read into the store, listed, changed and removed (dictionaries.hpp).
#include "answers/dictionaries.hpp"

#include "answers/store_errors.hpp"
#include "platform/platform.hpp"
#include "readers/dictionary.hpp"
#include "store/term_file.hpp"

#include <charconv>
#include <set>
#include <utility>

namespace ruvo::desktop::answers {

namespace {

store::DictionaryArticle article_of(readers::Article&& article) {
  store::DictionaryArticle out;
  out.headword = std::move(article.headword);
  out.aliases = std::move(article.aliases);
  out.lang = std::move(article.lang);
  out.text = std::move(article.text);
  out.html = std::move(article.html);
  out.phonetic = std::move(article.phonetic);
  out.see_also = std::move(article.see_also);
  out.senses = std::move(article.senses);
  return out;
}

// Reads one dictionary into the store, all or nothing.
Result<store::Dictionary> add_one(store::TermStore& store, const readers::Found& found) {
  auto begun = store.begin_dictionary(
      store::DictionarySource{found.name, std::string(readers::format_name(found.format)), found.path});
  if (!begun) return begun.error();
  store::DictionaryAdd& add = **begun;
  auto meta = readers::read_dictionary(
      found, [&](readers::Article&& article) -> Result<void> { return add.put(article_of(std::move(article))); });
  if (!meta) {
    [[maybe_unused]] const auto abandoned = add.abandon();
    common::Error error = meta.error();
    if (error.kind == common::ErrorKind::kOther) error.kind = common::ErrorKind::kBadInput;
    return error;
  }
  auto finished = add.finish(store::DictionaryDetails{meta->name, meta->info, meta->url});
  if (!finished) {
    [[maybe_unused]] const auto abandoned = add.abandon();
    return finished.error();
  }
  return finished;
}

Result<AddOutcome> add_found(store::TermStore& store, const std::vector<readers::Found>& found) {
  AddOutcome outcome;
  for (const auto& one : found) {
    auto added = add_one(store, one);
    if (added) {
      outcome.added.push_back(std::move(added).value());
    } else {
      outcome.failed.push_back(AddOutcome::Failure{one.path, added.error()});
    }
  }
  return outcome;
}

std::optional<std::int64_t> dictionary_id(std::string_view text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

common::Error unknown_dictionary(std::string_view id) {
  return common::failure(common::ErrorKind::kNotFound, "没有这本词典：" + std::string(id));
}

common::Error bad_input(std::string message) {
  return common::failure(common::ErrorKind::kBadInput, std::move(message));
}

// Every dictionary in the places, each once, whatever place it was found through.
std::vector<readers::Found> in_places() {
  std::vector<readers::Found> all;
  std::set<std::string> seen;
  for (const auto& place : dictionary_places()) {
    auto found = readers::find_dictionaries(place);
    if (!found) continue;  // a place that is not there holds none
    for (auto& one : *found) {
      if (seen.insert(one.path).second) all.push_back(std::move(one));
    }
  }
  return all;
}

}  // namespace

std::vector<std::string> dictionary_places() {
  std::vector<std::string> places;
  if (auto given = platform::get_env(std::string(kDictionaryDirsVariable))) {
    std::size_t start = 0;
    while (start <= given->size()) {
      std::size_t end = given->find(':', start);
      if (end == std::string::npos) end = given->size();
      if (end > start) places.push_back(given->substr(start, end - start));
      start = end + 1;
    }
    return places;
  }
  places = {"/usr/share/dictd", "/usr/share/stardict/dic"};
  const auto home = platform::get_env("HOME");
  if (home && !home->empty()) places.push_back(*home + "/.stardict/dic");
  const auto data = platform::get_env("XDG_DATA_HOME");
  if (data && !data->empty()) {
    places.push_back(*data + "/stardict/dic");
  } else if (home && !home->empty()) {
    places.push_back(*home + "/.local/share/stardict/dic");
  }
  return places;
}

Result<std::vector<FoundDictionary>> found_on_system(store::TermStore& store) {
  auto added = store.dictionaries();
  if (!added) return store_failure(added.error());
  std::set<std::string> paths;
  for (const auto& d : *added) paths.insert(d.path);
  std::vector<FoundDictionary> out;
  for (auto& one : in_places()) {
    if (paths.count(one.path) != 0) continue;
    out.push_back(FoundDictionary{one.path, std::string(readers::format_name(one.format)), one.name});
  }
  return out;
}

Result<AddOutcome> add_dictionaries(store::TermStore& store, const std::string& path) {
  auto found = readers::find_dictionaries(path);
  if (!found) return bad_input(found.error().text());
  if (found->empty()) return bad_input(path + " 里没有认得出的词典文件");
  return add_found(store, *found);
}

Result<AddOutcome> add_system_dictionaries(store::TermStore& store) {
  auto pending = store.system_dictionaries_pending();
  if (!pending) return store_failure(pending.error());
  if (!*pending) return AddOutcome{};
  auto removed = store.removed_dictionary_paths();
  if (!removed) return store_failure(removed.error());
  const std::set<std::string> passed(removed->begin(), removed->end());
  auto listed = found_on_system(store);
  if (!listed) return listed.error();
  std::vector<readers::Found> wanted;
  for (const auto& one : in_places()) {
    if (passed.count(one.path) != 0) continue;
    bool listed_now = false;
    for (const auto& f : *listed) listed_now = listed_now || f.path == one.path;
    if (listed_now) wanted.push_back(one);
  }
  // Marked first: a store is offered them once, and a dictionary that cannot be read now is listed
  // as found rather than tried at every start.
  if (auto marked = store.mark_system_dictionaries_offered(); !marked) return store_failure(marked.error());
  return add_found(store, wanted);
}

JsonValue dictionary_json(const store::Dictionary& d) {
  return JsonValue{{"id", std::to_string(d.id)},
                   {"name", d.name},
                   {"format", d.format},
                   {"entries", d.entries},
                   {"enabled", d.enabled},
                   {"position", d.position},
                   {"path", d.path},
                   {"addedAt", store::utc_timestamp(d.added_at)},
                   {"info", d.info}};
}

Result<JsonValue> list_dictionaries(Context& ctx) {
  auto listed = ctx.store.dictionaries();
  if (!listed) return store_failure(listed.error());
  auto found = found_on_system(ctx.store);
  if (!found) return found.error();
  JsonValue dictionaries = JsonValue::array();
  for (const auto& d : *listed) dictionaries.push_back(dictionary_json(d));
  JsonValue others = JsonValue::array();
  for (const auto& f : *found) others.push_back(JsonValue{{"path", f.path}, {"format", f.format}, {"name", f.name}});
  return JsonValue{{"ok", true}, {"dictionaries", std::move(dictionaries)}, {"found", std::move(others)}};
}

Result<JsonValue> add_dictionaries(Context& ctx, const JsonValue& body) {
  auto path = body.find("path");
  if (path == body.end() || !path->is_string() || path->get_ref<const std::string&>().empty()) {
    return bad_input("path 必须是字符串：词典文件或文件夹的路径");
  }
  auto outcome = add_dictionaries(ctx.store, path->get<std::string>());
  if (!outcome) return outcome.error();
  if (outcome->added.empty() && !outcome->failed.empty()) return outcome->failed.front().error;
  JsonValue added = JsonValue::array();
  for (const auto& d : outcome->added) added.push_back(dictionary_json(d));
  JsonValue reply{{"ok", true}, {"added", std::move(added)}};
  if (!outcome->failed.empty()) {
    JsonValue failed = JsonValue::array();
    for (const auto& f : outcome->failed) failed.push_back(JsonValue{{"path", f.path}, {"message", f.error.text()}});
    reply["failed"] = std::move(failed);
  }
  return reply;
}

Result<JsonValue> change_dictionary(Context& ctx, std::string_view id_text, const JsonValue& body) {
  auto id = dictionary_id(id_text);
  if (!id) return unknown_dictionary(id_text);
  store::DictionaryChange change;
  for (const auto& [key, value] : body.items()) {
    if (key == "enabled") {
      if (!value.is_boolean()) return bad_input("enabled 必须是 true 或 false");
      change.enabled = value.get<bool>();
    } else if (key == "position") {
      if (!value.is_number_integer() || value.get<std::int64_t>() < 0 || value.get<std::int64_t>() > 1'000'000) {
        return bad_input("position 必须是不小于 0 的整数");
      }
      change.position = static_cast<int>(value.get<std::int64_t>());
    } else if (key == "name") {
      if (!value.is_string()) return bad_input("name 必须是字符串");
      change.name = value.get<std::string>();
    } else {
      return bad_input("不认识的字段「" + key + "」，可改的有：enabled、position、name");
    }
  }
  auto changed = ctx.store.change_dictionary(*id, change);
  if (!changed) {
    if (changed.error().kind == common::ErrorKind::kBadInput) return changed.error();
    return store_failure(changed.error());
  }
  if (!*changed) return unknown_dictionary(id_text);
  return JsonValue{{"ok", true}, {"dictionary", dictionary_json(**changed)}};
}

Result<JsonValue> remove_dictionary(Context& ctx, std::string_view id_text) {
  auto id = dictionary_id(id_text);
  if (!id) return unknown_dictionary(id_text);
  auto removed = ctx.store.remove_dictionary(*id);
  if (!removed) return store_failure(removed.error());
  if (!*removed) return unknown_dictionary(id_text);
  return JsonValue{{"ok", true}, {"id", std::to_string(*id)}};
}

}  // namespace ruvo::desktop::answers
