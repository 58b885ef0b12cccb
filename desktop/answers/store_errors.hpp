// The store's failures as the answers give them: a failed read or write, a
// busy store, and a save refused because the file is damaged.
#pragma once

#include "common/result.hpp"

namespace ruvo::desktop::answers {

// A store that could not be read or written: the kind kStoreFailure and
// "词库读写失败：" with the store's text; a busy store's error (kBusy) as
// it is.
common::Error store_failure(const common::Error& error);

// A write refused because the store's writer stays taken (an import,
// other saves): the kind kBusy and store::kStoreBusyMessage.
common::Error store_busy();

// A save refused because SQLite has said the store is damaged
// (TermStore::damaged): the kind kStoreDamaged and a Chinese message saying
// nothing was written and what to do.
common::Error damaged_store_refusal();

}  // namespace ruvo::desktop::answers
