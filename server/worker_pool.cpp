#include "worker_pool.h"

namespace tavrolin::server {

// Every thread counts as idle from the start, so that work that comes before a thread has
// reached its first wait is not refused.
WorkerPool::WorkerPool(std::size_t threads, std::size_t queueLimit)
    : mQueueLimit(queueLimit), mIdle(threads) {
    mThreads.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) mThreads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
    }
    mWake.notify_all();
    for (auto& thread : mThreads) thread.join();
}

bool WorkerPool::trySubmit(std::function<void()> job) {
    {
        std::lock_guard lock(mMutex);
        // Jobs already queued but not yet picked up have a claim on the idle threads.
        if (mStopping || mQueue.size() >= mIdle + mQueueLimit) return false;
        mQueue.push_back(std::move(job));
    }
    mWake.notify_one();
    return true;
}

void WorkerPool::run() {
    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return mStopping || !mQueue.empty(); });
        if (mQueue.empty()) return;  // stopping, and nothing left to do
        --mIdle;
        auto job = std::move(mQueue.front());
        mQueue.pop_front();
        lock.unlock();
        job();
        job = nullptr;  // release what the job holds before waiting again
        lock.lock();
        ++mIdle;
    }
}

}  // namespace tavrolin::server
