// Main-thread delivery: routines from workers run on the serving thread, the
// worker waits for them, errors travel back, and a wait for a worker serves.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "hid/MainThread.h"

#ifndef _WIN32
#include <poll.h>
#endif

namespace quorvel::hid {
namespace {

TEST(MainThreadQueue, RunsTheRoutineOnTheServingThreadAndPassesErrorsBack) {
  TMainThreadQueue& queue = TMainThreadQueue::Instance();
  const std::thread::id main = std::this_thread::get_id();
  std::thread::id ranOn;
  bool workerSawRun = false;
  std::string error;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    queue.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    workerSawRun = ranOn == main;  // blocked until the routine had run
    try {
      queue.Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    done = true;
    queue.Wake();
  });
  // Serving while waiting is what lets the worker end at all.
  queue.ServeUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(ranOn, main);
  EXPECT_TRUE(workerSawRun);
  EXPECT_EQ(error, "handler failed");
  EXPECT_FALSE(queue.Serve());  // nothing left behind
}

TEST(MainThreadQueue, ServesEveryWorker) {
  TMainThreadQueue& queue = TMainThreadQueue::Instance();
  constexpr int kWorkers = 4;
  constexpr int kEach = 50;
  int runs = 0;  // touched only by routines, on this thread
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        queue.Synchronize([&] { ++runs; });
      }
      ++finished;
      queue.Wake();
    });
  }
  queue.ServeUntil([&] { return finished.load() == kWorkers; });
  for (std::thread& worker : workers) {
    worker.join();
  }
  EXPECT_EQ(runs, kWorkers * kEach);
}

#ifndef _WIN32
bool Readable(int fd, int timeoutMs) {
  pollfd watch{fd, POLLIN, 0};
  return ::poll(&watch, 1, timeoutMs) == 1 && (watch.revents & POLLIN) != 0;
}

// An event loop that sleeps in poll must wake for a delivery.
TEST(MainThreadQueue, ReadyDescriptorWakesAnEventLoopForAWaitingRoutine) {
  TMainThreadQueue& queue = TMainThreadQueue::Instance();
  ASSERT_GE(queue.ReadyFd(), 0);
  queue.Serve();
  EXPECT_FALSE(Readable(queue.ReadyFd(), 0));
  bool ran = false;
  std::thread worker([&] { queue.Synchronize([&] { ran = true; }); });
  ASSERT_TRUE(Readable(queue.ReadyFd(), 10000));
  // The routine may be posted just after the wake-up was seen; serve until it ran.
  while (!ran) {
    queue.Serve();
  }
  worker.join();
  EXPECT_FALSE(Readable(queue.ReadyFd(), 0));
}
#endif

}  // namespace
}  // namespace quorvel::hid
