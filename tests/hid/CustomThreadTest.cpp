// The worker-thread base: started, asked to stop, waited for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "hid/LayerTypes.h"

namespace quorvel::hid {
namespace {

class TCounting final : public TCustomThread {
 public:
  explicit TCounting(std::atomic<bool>* ended = nullptr) : ended_(ended) {}
  ~TCounting() override {
    Terminate();
    WaitFor();
  }
  std::atomic<int> rounds{0};
  std::atomic<bool> finished{false};

 protected:
  void Execute() override {
    while (!Terminated()) {
      rounds.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    finished.store(true);
    if (ended_ != nullptr) {
      ended_->store(true);
    }
  }

 private:
  std::atomic<bool>* ended_;
};

TEST(CustomThreadTest, RunsUntilAskedToStopAndIsWaitedFor) {
  TCounting thread;
  thread.Start();
  while (thread.rounds.load() < 3) {
    std::this_thread::yield();
  }
  EXPECT_FALSE(thread.finished.load());
  thread.Terminate();
  thread.WaitFor();
  EXPECT_TRUE(thread.finished.load());
  thread.WaitFor();  // a second wait returns at once
}

TEST(CustomThreadTest, NeverStartedThreadIsWaitedForAtOnce) {
  TCounting thread;
  thread.Terminate();
  thread.WaitFor();
  EXPECT_EQ(thread.rounds.load(), 0);
}

TEST(CustomThreadTest, DestroyingARunningThreadStopsIt) {
  std::atomic<bool> ended{false};
  auto thread = std::make_unique<TCounting>(&ended);
  thread->Start();
  while (thread->rounds.load() == 0) {
    std::this_thread::yield();
  }
  thread.reset();
  EXPECT_TRUE(ended.load());  // the body had returned before the object went
}

}  // namespace
}  // namespace quorvel::hid
