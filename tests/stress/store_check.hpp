// The local service's store seen from outside the service, as any other
// SQLite reader would see it after the service was killed or stopped.
#pragma once

#include <map>
#include <string>

namespace ruvo::stress {

struct StoreCheck {
  std::string integrity;                      // PRAGMA integrity_check: "ok" when sound
  std::map<std::string, std::string> fields;  // term -> stored fields (JSON text)
  std::string error;                          // when the store could not be read
};
// Opens the SQLite file (recovering its write-ahead log like any reader
// would) and reads every entry.
StoreCheck inspect_store(const std::string& path);

}  // namespace ruvo::stress
