// Dictionaries as the service and the commands handle them: read by readers/ into the store, listed
// with the ones found on this system, changed and removed; and the places a system keeps them.
#pragma once

#include "answers/context.hpp"
#include "store/store.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::answers {

// The environment variable that replaces the places looked in: folders separated by ":"; set but
// empty, none at all (every test and benchmark sets it).
inline constexpr std::string_view kDictionaryDirsVariable = "RUVO_DICTIONARY_DIRS";

// The folders dictionaries are looked for in: RUVO_DICTIONARY_DIRS when it is set, else
// /usr/share/dictd, /usr/share/stardict/dic, ~/.stardict/dic and $XDG_DATA_HOME/stardict/dic
// (~/.local/share/stardict/dic when XDG_DATA_HOME is not set).
std::vector<std::string> dictionary_places();

// A dictionary found in those places and not added to the store (a removed one included).
struct FoundDictionary {
  std::string path;
  std::string format;
  std::string name;
};
Result<std::vector<FoundDictionary>> found_on_system(store::TermStore& store);

// What adding a path did: the dictionaries added whole, and each one refused with why.
struct AddOutcome {
  std::vector<store::Dictionary> added;
  struct Failure {
    std::string path;
    common::Error error;
  };
  std::vector<Failure> failed;
};

// Adds the dictionary file at `path`, or every dictionary in the folder at `path`, each all or
// nothing: one whose files are truncated or malformed adds nothing and is among the failures. An
// error (a path that does not exist, a file of no known format, a folder without dictionaries)
// when nothing could be tried.
Result<AddOutcome> add_dictionaries(store::TermStore& store, const std::string& path);

// Adds the dictionaries found on the system that the person did not remove, when the store has not
// been offered them yet (a store made since), and marks it offered. The failures are returned for
// the log.
Result<AddOutcome> add_system_dictionaries(store::TermStore& store);

// A dictionary as the replies show it: {"id", "name", "format", "entries", "enabled", "position",
// "path", "addedAt", "info"}.
JsonValue dictionary_json(const store::Dictionary& dictionary);

// GET /v1/dictionaries: {"ok": true, "dictionaries": [dictionary_json…] in order, "found":
// [{"path", "format", "name"}]}.
Result<JsonValue> list_dictionaries(Context& ctx);
// POST /v1/dictionaries {"path": "…"}: {"ok": true, "added": [dictionary_json…]}, and "failed":
// [{"path", "message"}] when some of a folder's could not be added. When nothing was added, the
// error of the first failure (kBadInput for a file that cannot be read as a dictionary).
Result<JsonValue> add_dictionaries(Context& ctx, const JsonValue& body);
// PATCH /v1/dictionaries/<id> {"enabled": bool, "position": whole number ≥ 0, "name": string},
// any of them: {"ok": true, "dictionary": dictionary_json}. kNotFound for no such dictionary.
Result<JsonValue> change_dictionary(Context& ctx, std::string_view id, const JsonValue& body);
// DELETE /v1/dictionaries/<id>: {"ok": true, "id"}; kNotFound for no such dictionary.
Result<JsonValue> remove_dictionary(Context& ctx, std::string_view id);

}  // namespace ruvo::desktop::answers
