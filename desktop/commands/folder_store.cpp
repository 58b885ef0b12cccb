// The application-data folder's store for the commands (folder_store.hpp).
#include "commands/folder_store.hpp"

#include "client/discovery.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "store/glossary.hpp"

#include <utility>
#include <vector>

namespace ruvo::desktop::commands {

common::Result<std::unique_ptr<store::TermStore>> open_folder_store() {
  auto folder = client::data_folder();
  if (!folder) return common::failure("找不到应用数据目录（APPDATA、XDG_CONFIG_HOME 和 HOME 都没有设置）");
  if (!platform::create_folders(*folder)) return common::failure("无法创建目录 " + *folder);
  auto seed = store::parse_glossary(store::embedded_glossary());
  return store::TermStore::open(platform::join_path(*folder, store::kStoreFileName),
                                seed ? std::move(seed).value() : std::vector<store::TermDraft>{});
}

}  // namespace ruvo::desktop::commands
