#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using tavrolin::server::WorkerPool;
using namespace std::chrono_literals;

namespace {

// Jobs that wait until the test lets them go, so that "busy" is a state the test controls.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(mMutex);
        ++mWaiting;
        mChanged.notify_all();
        mChanged.wait(lock, [this] { return mOpen; });
    }
    bool waitForWaiting(int count) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, 10s, [&] { return mWaiting >= count; });
    }
    void open() {
        std::lock_guard lock(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }

  private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    int mWaiting = 0;
    bool mOpen = false;
};

}  // namespace

// Without a queue, only what idle threads can take is taken.
TEST(WorkerPool, RefusesWorkWhenEveryThreadIsBusyAndTheQueueIsFull) {
    for (const auto& [threads, queue] : {std::pair<int, int>{2, 1}, {1, 0}}) {
        Gate gate;
        std::atomic<int> done{0};
        {
            WorkerPool pool{std::size_t(threads), std::size_t(queue)};
            for (int i = 0; i < threads; ++i)
                ASSERT_TRUE(pool.trySubmit([&] {
                    gate.wait();
                    ++done;
                }));
            ASSERT_TRUE(gate.waitForWaiting(threads));
            // Every thread busy: `queue` jobs may wait, the next is refused without running.
            for (int i = 0; i < queue; ++i) EXPECT_TRUE(pool.trySubmit([&] { ++done; }));
            EXPECT_FALSE(pool.trySubmit([&] { done += 100; }));
            gate.open();
        }
        // The pool's end ran every job it had taken, and only those.
        EXPECT_EQ(done, threads + queue) << threads << " threads, queue " << queue;
    }
}

TEST(WorkerPool, TakesWorkAgainOnceAThreadIsFree) {
    WorkerPool pool(1, 0);
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i) {
        // A thread that has just finished may not be back yet; it is within moments, however
        // loaded the machine; the limit only keeps a broken pool from hanging the run.
        bool taken = false;
        for (int attempt = 0; attempt < 30000 && !taken; ++attempt) {
            taken = pool.trySubmit([&] { ++done; });
            if (!taken) std::this_thread::sleep_for(1ms);
        }
        ASSERT_TRUE(taken) << i;
    }
    for (int wait = 0; wait < 30000 && done < 20; ++wait) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(done, 20);
}
