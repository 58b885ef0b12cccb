#include "answers/store_errors.hpp"

#include "store/store.hpp"

#include <string>

namespace ruvo::desktop::answers {

common::Error store_failure(const common::Error& error) {
  // Busy is an answer of its own (503, try again), already said for people.
  if (error.kind == common::ErrorKind::kBusy) return error;
  return common::failure(common::ErrorKind::kStoreFailure, "词库读写失败：" + error.text());
}

common::Error store_busy() { return common::failure(common::ErrorKind::kBusy, std::string(store::kStoreBusyMessage)); }

common::Error damaged_store_refusal() {
  return common::failure(common::ErrorKind::kStoreDamaged,
                         "词库文件已损坏，这次没有保存（以免写坏更多内容）；查词仍会尽量回答。"
                         "请停掉 ruvo-gui.exe，再从备份恢复 " +
                             std::string(store::kStoreFileName));
}

}  // namespace ruvo::desktop::answers
