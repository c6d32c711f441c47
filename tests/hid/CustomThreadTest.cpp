// The worker-thread base: started, asked to stop, waited for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "hid/LayerTypes.h"
#include "platform/ThreadNaming.h"
#include "tests/hid/ThreadNameProbe.h"

namespace quorvel::hid {
namespace {

using platform::CurrentThreadId;
using test::AwaitShownThreadName;
using test::ShownForm;
using test::ShownThreadName;

class TCounting final : public TCustomThread {
 public:
  explicit TCounting(std::atomic<bool>* ended = nullptr) : ended_(ended) {}
  ~TCounting() override {
    Terminate();
    WaitFor();
  }
  const char* ClassName() const noexcept override { return "TCounting"; }
  std::atomic<int> rounds{0};
  std::atomic<bool> finished{false};
  std::atomic<uint32_t> idInBody{0};
  // Set before Start(): the body names its own thread first.
  std::u16string ownName;

 protected:
  void Execute() override {
    idInBody.store(CurrentThreadId());
    if (!ownName.empty()) {
      NameThread(ownName, kOwnThread);
    }
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

TEST(CustomThreadTest, ThreadIdIsKnownOnceStartReturns) {
  TCounting thread;
  EXPECT_EQ(thread.ThreadID(), 0u);
  thread.Start();
  EXPECT_NE(thread.ThreadID(), 0u);
  while (thread.rounds.load() == 0) {
    std::this_thread::yield();
  }
  EXPECT_EQ(thread.ThreadID(), thread.idInBody.load());
  EXPECT_NE(thread.ThreadID(), CurrentThreadId());
}

TEST(CustomThreadTest, ThreadNameCarriesTheClassName) {
  struct TCase {
    std::u16string given;
    std::u16string shown;
  };
  for (const TCase& c :
       {TCase{u"", u"TCounting"}, TCase{u"Pump", u"Pump {TCounting}"}, TCase{u"", u"TCounting"}}) {
    TCounting thread;
    thread.SetThreadName(c.given);
    EXPECT_EQ(thread.ThreadName(), c.shown);
  }
}

// The system shows what NameThread gave, for the thread's own ID and for another's.
TEST(CustomThreadTest, NameThreadNamesTheThreadForTheSystem) {
  TCounting thread;
  thread.ownName = u"Own";
  thread.Start();
  if (!ShownThreadName(thread.ThreadID())) {
    GTEST_SKIP() << "this system shows no thread names";
  }
  EXPECT_EQ(AwaitShownThreadName(thread.ThreadID(), "Own"), "Own");

  const auto mainName = ShownThreadName(CurrentThreadId());
  thread.NameThread(std::string("Pump {TCounting}"), thread.ThreadID());
  EXPECT_EQ(ShownThreadName(thread.ThreadID()), ShownForm("Pump {TCounting}"));
  EXPECT_EQ(ShownThreadName(CurrentThreadId()), mainName);
  thread.NameThread(u"Pump 2", TCustomThread::kOwnThread);
  EXPECT_EQ(ShownThreadName(thread.ThreadID()), "Pump 2");
}

#ifndef _WIN32
// UTF-8 is the code page here. The kernel keeps 15 bytes; a character is kept whole
// or not at all.
TEST(CustomThreadTest, NamesAreUtf8AndCutBetweenCharacters) {
  TCounting thread;
  thread.Start();
  thread.NameThread(u"Gr\u00FCn", TCustomThread::kOwnThread);
  EXPECT_EQ(ShownThreadName(thread.ThreadID()), "Gr\xC3\xBCn");
  thread.NameThread(u"ABCDEFGHIJKLMN\u00FC", TCustomThread::kOwnThread);
  EXPECT_EQ(ShownThreadName(thread.ThreadID()), "ABCDEFGHIJKLMN");
  thread.NameThread(u"ABCDEFGHIJKLM\u00FCx", TCustomThread::kOwnThread);
  EXPECT_EQ(ShownThreadName(thread.ThreadID()), "ABCDEFGHIJKLM\xC3\xBC");
}
#endif

}  // namespace
}  // namespace quorvel::hid
