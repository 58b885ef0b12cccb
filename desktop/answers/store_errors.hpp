// The store's failures as the answers give them: a failed read or write, and
// a save refused because the file is damaged.
#pragma once

#include "common/result.hpp"

namespace ruvo::desktop::answers {

// A store that could not be read or written: the kind kStoreFailure and
// "词库读写失败：" with the store's text.
common::Error store_failure(const common::Error& error);

// A save refused because SQLite has said the store is damaged
// (TermStore::damaged): the kind kStoreDamaged and a Chinese message saying
// nothing was written and what to do.
common::Error damaged_store_refusal();

}  // namespace ruvo::desktop::answers
