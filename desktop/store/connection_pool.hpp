// The store's connections: readers lent to one request at a time, so no
// read waits for a write or for another read (the store is in WAL mode), and
// the one writer, taken with a short bound, so a write that cannot have it
// soon says the store is busy instead of holding its caller. Only the
// store's own files include this.
#pragma once

#include "common/result.hpp"
#include "store/sqlite_connection.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

// The error of a write that could not have the writer within its bound, or
// that SQLite's busy time-out gave up on (another process writing), of the
// kind kBusy.
common::Error busy_error();

class ReaderPool {
 public:
  // Readers of the store at `path`, opened as they are first needed, at most
  // `most` of them (a request past that waits for one to come back).
  ReaderPool(std::string path, std::chrono::milliseconds busy, std::size_t most);
  ReaderPool(const ReaderPool&) = delete;
  ReaderPool& operator=(const ReaderPool&) = delete;

  // A reader lent for as long as the lease lives.
  class Lease {
   public:
    Lease(ReaderPool& pool, std::unique_ptr<Connection> connection);
    ~Lease();
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&&) = delete;
    Connection& operator*() const { return *connection_; }
    Connection* operator->() const { return connection_.get(); }

   private:
    ReaderPool* pool_;
    std::unique_ptr<Connection> connection_;
  };

  // An idle reader, or a new one; the error when one cannot be opened.
  common::Result<Lease> lease();

 private:
  void give_back(std::unique_ptr<Connection> connection);

  const std::string path_;
  const std::chrono::milliseconds busy_;
  const std::size_t most_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::size_t open_ = 0;  // lent and idle, and being opened
};

class Writer {
 public:
  // The writer connection; a lease waits at most `wait` for it.
  Writer(std::unique_ptr<Connection> connection, std::chrono::milliseconds wait);
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // The writer, held for as long as the lease lives.
  class Lease {
   public:
    explicit Lease(Writer& writer) : writer_(&writer), hold_(writer.mutex_, std::adopt_lock) {}
    Connection& operator*() const { return *writer_->connection_; }
    Connection* operator->() const { return writer_->connection_.get(); }

   private:
    Writer* writer_;
    std::unique_lock<std::timed_mutex> hold_;
  };

  // The writer once it is free within the bound, else busy_error().
  common::Result<Lease> lease();
  // The same with a bound of its own (none: only if it is free now).
  common::Result<Lease> lease_within(std::chrono::milliseconds wait);

  // The connection before the store is shared, while it is opened.
  Connection& unshared() { return *connection_; }

 private:
  std::timed_mutex mutex_;
  std::unique_ptr<Connection> connection_;
  const std::chrono::milliseconds wait_;
};

}  // namespace ruvo::desktop::store
