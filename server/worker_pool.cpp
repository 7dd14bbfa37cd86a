#include "worker_pool.h"

#include <pthread.h>
#include <signal.h>

#include <exception>
#include <string>

#include "access_log.h"

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

std::size_t WorkerPool::queued() const {
    std::lock_guard lock(mMutex);
    return mQueue.size();
}

void WorkerPool::run() {
    // Stop signals go to the I/O threads; a worker in the middle of a transaction is never
    // interrupted by one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, number);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return mStopping || !mQueue.empty(); });
        if (mQueue.empty()) return;  // stopping, and nothing left to do
        --mIdle;
        auto job = std::move(mQueue.front());
        mQueue.pop_front();
        lock.unlock();
        // A job that throws must not take the thread, and with it the process, down.
        try {
            job();
        } catch (const std::exception& error) {
            logLine(std::string("worker job failed: ") + error.what());
        } catch (...) {
            logLine("worker job failed: an unknown exception");
        }
        try {
            job = nullptr;  // release what the job holds before waiting again
        } catch (...) {
            logLine("worker job failed while releasing what it held");
        }
        lock.lock();
        ++mIdle;
    }
}

}  // namespace tavrolin::server
