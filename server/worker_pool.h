#pragma once

// A fixed set of threads for the request handling, which may wait on the database, with a
// bounded queue: work that finds every thread busy and the queue full is refused at once, so the
// caller can answer "busy" instead of letting requests pile up.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrolin::server {

class WorkerPool {
  public:
    // `queueLimit` jobs may wait beyond those that idle threads take at once.
    WorkerPool(std::size_t threads, std::size_t queueLimit);
    // Runs the jobs already queued, then joins the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // False, without running `job`, when every thread is busy and the queue is full.
    bool trySubmit(std::function<void()> job);
    // Jobs waiting for a thread now.
    std::size_t queued() const;

  private:
    void run();

    const std::size_t mQueueLimit;
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<std::function<void()>> mQueue;
    std::size_t mIdle = 0;
    bool mStopping = false;
    std::vector<std::thread> mThreads;
};

}  // namespace tavrolin::server
