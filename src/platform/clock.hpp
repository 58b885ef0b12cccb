// The time as the service's store and log write it. clock_posix.cpp
// implements it.
#pragma once

#include "common/result.hpp"

#include <cstdint>
#include <string>

namespace ruvo::platform {

using common::Error;
using common::Result;

// Seconds since 1970, and the local time as "YYYY-MM-DD HH:MM:SS".
std::int64_t unix_seconds();
std::string local_timestamp();

}  // namespace ruvo::platform
