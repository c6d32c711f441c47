// The Windows device-change notifier: a program that runs its own message loop
// keeps its rescans after one failed, gets the failure from ProcessMessages, and
// is woken for read threads' deliveries.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "hid/DeviceChangeNotifier.h"
#include "hid/MainThread.h"

namespace quorvel::hid {
namespace {

constexpr UINT kDeviceChange = 0x0219;
constexpr std::uintptr_t kNodesChanged = 0x0007;

// Stands in for the controller's window procedure: records the change messages
// by lParam and fails at the one asked for.
struct TScans {
  std::vector<std::intptr_t> seen;
  std::intptr_t failAt = -1;
  void Proc(UINT Msg, std::uintptr_t, std::intptr_t LParam) {
    if (Msg != kDeviceChange) {
      return;
    }
    seen.push_back(LParam);
    if (LParam == failAt) {
      throw std::runtime_error("scan failed");
    }
  }
  TDeviceChangeNotifier::TWndProc WndProc() {
    return TDeviceChangeNotifier::TWndProc::Of<&TScans::Proc>(this);
  }
};

// The program's own message loop, until nothing waits.
void RunOwnLoop() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

TEST(DeviceChangeNotifierWin, OwnLoopKeepsServingAfterAFailedScan) {
  TScans scans;
  scans.failAt = 1;
  TDeviceChangeNotifier notifier(scans.WndProc());
  notifier.Post(kDeviceChange, kNodesChanged, 1);
  notifier.Post(kDeviceChange, kNodesChanged, 2);
  RunOwnLoop();
  notifier.Post(kDeviceChange, kNodesChanged, 3);
  RunOwnLoop();
  EXPECT_EQ(scans.seen, (std::vector<std::intptr_t>{1, 2, 3}));
  // The failure is kept for the next pump, once.
  EXPECT_THROW(notifier.ProcessMessages(), std::runtime_error);
  EXPECT_NO_THROW(notifier.ProcessMessages());
}

TEST(DeviceChangeNotifierWin, ProcessMessagesStopsAtAFailureAndKeepsTheRest) {
  TScans scans;
  scans.failAt = 1;
  TDeviceChangeNotifier notifier(scans.WndProc());
  for (std::intptr_t l = 1; l <= 3; ++l) {
    notifier.Post(kDeviceChange, kNodesChanged, l);
  }
  EXPECT_THROW(notifier.ProcessMessages(), std::runtime_error);
  EXPECT_EQ(scans.seen, (std::vector<std::intptr_t>{1}));
  notifier.ProcessMessages();
  EXPECT_EQ(scans.seen, (std::vector<std::intptr_t>{1, 2, 3}));
}

// A worker's delivery reaches a program that only waits in its own loop.
TEST(DeviceChangeNotifierWin, ADeliveryWakesTheProgramsOwnLoop) {
  TScans scans;
  TDeviceChangeNotifier notifier(scans.WndProc());
  std::atomic<bool> ran{false};
  std::thread worker([&] { TMainThreadQueue::Instance().Synchronize([&] { ran = true; }); });
  MSG msg;
  while (!ran && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(scans.seen.empty());
}

}  // namespace
}  // namespace quorvel::hid
