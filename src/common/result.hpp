// Result<T>: a value, or an error with its text and, where the operating
// system gave one, its code. Every layer below the commands returns it; the
// commands, the MCP tools and the service's routes each turn an error into
// their own kind of answer.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ruvo::common {

struct Error {
  std::string message;  // one line, no trailing line break
  int code = 0;         // errno / GetLastError / WSAGetLastError; 0 when none applies

  // "message (os error N)", or the message alone when code is 0 (an expired
  // connect time-out reads "connection timed out").
  std::string text() const {
    if (code == 0) return message;
    return message + " (os error " + std::to_string(code) + ")";
  }
};

// An error without an operating-system code.
inline Error failure(std::string message) { return Error{std::move(message), 0}; }

// What error() gives for a success.
inline const Error& no_error() {
  static const Error none;
  return none;
}

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Error error) : data_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return data_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // The value; only when ok().
  T& value() & { assert(ok()); return std::get<0>(data_); }
  const T& value() const& { assert(ok()); return std::get<0>(data_); }
  T&& value() && { assert(ok()); return std::get<0>(std::move(data_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // The error; an empty one when ok(), so that a message can be shown
  // without asking first.
  const Error& error() const { return ok() ? no_error() : std::get<1>(data_); }

 private:
  std::variant<T, Error> data_;
};

// Success without a value, or an error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}  // NOLINT: implicit on purpose

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return ok() ? no_error() : *error_; }

 private:
  std::optional<Error> error_;
};

}  // namespace ruvo::common
