// Threads that use one hidraw handle first at the same time: the node is opened once.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/Kernel.h"
#include "tests/linux/ModuleEntries.h"
#include "tests/linux/NodeOpens.h"
#include "tests/linux/SysfsFixture.h"
#include "tests/linux/TestRoot.h"

namespace quorvel::hidraw::test {
namespace {

// Many rounds, each with a fresh handle, so that first uses overlap now and then even on
// few cores.
TEST(HidrawThreads, ThreadsThatUseAHandleFirstTogetherOpenItOnce) {
  TSysfsFixture fixture({"usb-relay-board.tree"});
  SetModuleRoot(fixture.Root());
  const std::string node = fixture.Path("/dev/hidraw2");
  constexpr int kRounds = 200;
  constexpr int kThreads = 4;
  int reached = 0;
  for (int round = 0; round < kRounds; ++round) {
    const HANDLE handle = Open(node, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::atomic<int> waiting{kThreads};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        --waiting;
        while (waiting.load() > 0) {
        }
        std::array<unsigned char, 9> report{};
        // The stand-in is a plain file: the ioctl fails once the node is open.
        if (!HidD_GetFeature(handle, report.data(), report.size()) &&
            GetLastError() == ERROR_INVALID_FUNCTION) {
          ++refused;
        }
      });
    }
    for (auto& thread : threads) {
      thread.join();
    }
    reached += refused.load();
    ASSERT_EQ(OpenCount(node), 1) << "round " << round;
    EXPECT_TRUE(CloseHandle(handle));
  }
  EXPECT_EQ(reached, kRounds * kThreads);  // every call reached the device
  SetModuleRoot("");
}

}  // namespace
}  // namespace quorvel::hidraw::test
