// The store of the application-data folder as the commands open it: made as the service would
// make it (with the starter glossary) when there is none yet.
#pragma once

#include "common/result.hpp"
#include "store/store.hpp"

#include <memory>

namespace ruvo::desktop::commands {

common::Result<std::unique_ptr<store::TermStore>> open_folder_store();

}  // namespace ruvo::desktop::commands
