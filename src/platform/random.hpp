// Random bytes from the operating system, for tokens and sign-in secrets.
// random_posix.cpp implements it.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace ruvo::platform {

using common::Error;
using common::Result;

// `count` bytes from the operating system's random generator (getrandom,
// else /dev/urandom); nothing when neither gives them.
std::optional<std::string> random_bytes(std::size_t count);

}  // namespace ruvo::platform
