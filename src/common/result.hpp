// Result<T>: a value, or an error with its text, where the operating system
// gave one its code, and, for callers that branch on it, its kind. Every layer
// below the commands returns it; the commands, the MCP tools and the service's
// handlers each turn an error into their own kind of answer.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ruvo::common {

// What kind of failure an error is, for the few callers that answer each
// kind differently (the local service picks an HTTP status by it). Most
// errors are kOther: their text is all anyone needs.
enum class ErrorKind {
  kOther,
  kBadInput,      // what was asked for is malformed or not allowed
  kNotFound,      // nothing by that name or number
  kBusy,          // something else holds what is needed, past the time allowed
  kStoreDamaged,  // the term store's file is damaged
  kStoreFailure,  // the term store could not be read or written
  kBadImport,     // a line of a file to import is malformed (its number in the text)
  kModel,         // the language model could not be reached, or gave nothing usable
  kModelTimeout,  // the language model did not answer within its bound
  kTooLarge,      // more than a bound allows
  kNotStarted,    // a program could not be started
};

struct Error {
  std::string message;  // one line, no trailing line break
  int code = 0;         // errno / GetLastError / WSAGetLastError; 0 when none applies
  ErrorKind kind = ErrorKind::kOther;
  // The cause in the words of whatever gave it, for a caller that passes it
  // on to a program rather than a person: a model failure's "timeout" or
  // "auth", SQLite's text for a damaged file. Empty when there is none.
  std::string reason;

  // "message (os error N)", or the message alone when code is 0 (an expired
  // connect time-out reads "connection timed out").
  std::string text() const {
    if (code == 0) return message;
    return message + " (os error " + std::to_string(code) + ")";
  }
};

// An error without an operating-system code.
inline Error failure(std::string message) { return Error{std::move(message), 0}; }

// The same, of a kind, with the reason when there is one.
inline Error failure(ErrorKind kind, std::string message, std::string reason = {}) {
  return Error{std::move(message), 0, kind, std::move(reason)};
}

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

  // The value, or `fallback` for an error.
  T value_or(T fallback) const& { return ok() ? std::get<0>(data_) : std::move(fallback); }
  T value_or(T fallback) && { return ok() ? std::get<0>(std::move(data_)) : std::move(fallback); }

  // The error; an empty one when ok(), so that a message can be shown
  // without asking first.
  const Error& error() const { return ok() ? no_error() : std::get<1>(data_); }

  // Equal to a value when it holds one equal to it, as std::optional compares.
  friend bool operator==(const Result& result, const T& value) { return result.ok() && result.value() == value; }

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
