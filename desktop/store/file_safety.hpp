// Keeping the store's files safe to open: no symbolic link at the store or
// at SQLite's files beside it, and every one of them owner-only. Only the
// store's own files include this.
#pragma once

#include "common/result.hpp"

#include <string>

namespace ruvo::desktop::store {

// Refuses a store any of whose files (the store, its -wal, -shm or -journal)
// is a symbolic link, checked with lstat before anything is opened: SQLite
// would otherwise read and write the link's target. In the service the data
// folder is 0700 by then, so no one but its owner can put a link there
// afterwards.
common::Result<void> refuse_linked_files(const std::string& path);

// The path SQLite is given: the folder resolved, the file's own name kept.
// SQLITE_OPEN_NOFOLLOW refuses a link anywhere in a path, folders included;
// a folder reached through a link (a home or data folder moved to another
// disk) is its owner's choice, while a link at the store's own file is
// refused.
common::Result<std::string> resolved_store_path(const std::string& path);

// Makes the -wal, -shm and -journal files beside the store 0600 where they
// exist with other modes (a crash may have left them from a run with wider
// ones). Their modes are set by path: a descriptor of ours closed on them
// would drop the POSIX locks SQLite holds there.
common::Result<void> make_companions_private(const std::string& path);

}  // namespace ruvo::desktop::store
