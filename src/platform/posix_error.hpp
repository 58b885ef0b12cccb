// The error of a failed system call, shared by the POSIX sources of this
// folder; no other layer includes it.
#pragma once

#include "common/result.hpp"

#include <cstring>
#include <string>
#include <string_view>

namespace ruvo::platform {

// "what: <the system's message>" with its code, which Error::text() adds as
// " (os error N)".
inline common::Error errno_error(std::string_view what, int code) {
  return common::Error{std::string(what) + ": " + std::strerror(code), code};
}

// The error of a failed open of `path`. With O_NOFOLLOW a link at the path
// fails with ELOOP, which the system words as "too many levels of symbolic
// links"; the error then says that a link is there and is not followed.
common::Error open_error(const std::string& path, int code);

}  // namespace ruvo::platform
