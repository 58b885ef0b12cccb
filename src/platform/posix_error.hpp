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

}  // namespace ruvo::platform
