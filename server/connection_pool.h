#pragma once

// A fixed set of database connections of one engine, one per worker at a time: a worker leases a
// connection for one request and gives it back when the lease ends.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tavrolin::server {

template <class Connection>
class ConnectionPool {
  public:
    explicit ConnectionPool(std::vector<std::unique_ptr<Connection>> connections)
        : mIdle(std::move(connections)) {}
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    class Lease {
      public:
        Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
            : mPool(pool), mConnection(std::move(connection)) {}
        ~Lease() { mPool.release(std::move(mConnection)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection& operator*() const { return *mConnection; }
        Connection* operator->() const { return mConnection.get(); }

      private:
        ConnectionPool& mPool;
        std::unique_ptr<Connection> mConnection;
    };

    // Waits until a connection is free.
    Lease acquire() {
        std::unique_lock lock(mMutex);
        mAvailable.wait(lock, [this] { return !mIdle.empty(); });
        auto connection = std::move(mIdle.back());
        mIdle.pop_back();
        return Lease(*this, std::move(connection));
    }

    // A connection only if one is free now.
    std::optional<Lease> tryAcquire() {
        std::unique_lock lock(mMutex);
        if (mIdle.empty()) return std::nullopt;
        auto connection = std::move(mIdle.back());
        mIdle.pop_back();
        lock.unlock();
        return std::optional<Lease>(std::in_place, *this, std::move(connection));
    }

  private:
    void release(std::unique_ptr<Connection> connection) {
        {
            std::lock_guard lock(mMutex);
            mIdle.push_back(std::move(connection));
        }
        mAvailable.notify_one();
    }

    std::mutex mMutex;
    std::condition_variable mAvailable;
    std::vector<std::unique_ptr<Connection>> mIdle;
};

}  // namespace tavrolin::server
