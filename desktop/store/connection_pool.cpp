// Lending readers and the writer.
#include "store/connection_pool.hpp"

#include "store/store.hpp"

#include <utility>

namespace ruvo::desktop::store {

common::Error busy_error() { return common::failure(common::ErrorKind::kBusy, std::string(kStoreBusyMessage)); }

ReaderPool::ReaderPool(std::string path, std::chrono::milliseconds busy, std::size_t most)
    : path_(std::move(path)), busy_(busy), most_(most) {}

ReaderPool::Lease::Lease(ReaderPool& pool, std::unique_ptr<Connection> connection)
    : pool_(&pool), connection_(std::move(connection)) {}

ReaderPool::Lease::Lease(Lease&& other) noexcept : pool_(other.pool_), connection_(std::move(other.connection_)) {}

ReaderPool::Lease::~Lease() {
  if (connection_) pool_->give_back(std::move(connection_));
}

Result<ReaderPool::Lease> ReaderPool::lease() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty() || open_ < most_; });
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(connection));
    }
    ++open_;  // counted before it is opened, outside the lock
  }
  auto opened = Connection::open(path_, Role::kReader, busy_);
  if (!opened) {
    std::lock_guard<std::mutex> guard(mutex_);
    --open_;
    returned_.notify_one();
    return opened.error();
  }
  return Lease(*this, std::move(opened).value());
}

void ReaderPool::give_back(std::unique_ptr<Connection> connection) {
  connection->clear_deadline();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    idle_.push_back(std::move(connection));
  }
  returned_.notify_one();
}

Writer::Writer(std::unique_ptr<Connection> connection, std::chrono::milliseconds wait)
    : connection_(std::move(connection)), wait_(wait) {}

Result<Writer::Lease> Writer::lease() { return lease_within(wait_); }

Result<Writer::Lease> Writer::lease_within(std::chrono::milliseconds wait) {
  const bool held = wait.count() > 0 ? mutex_.try_lock_for(wait) : mutex_.try_lock();
  if (!held) return busy_error();
  return Lease(*this);
}

}  // namespace ruvo::desktop::store
