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

TEST(HidrawThreads, ThreadsThatUseAHandleFirstTogetherOpenItOnce) {
  TSysfsFixture fixture({"usb-relay-board.tree"});
  SetModuleRoot(fixture.Root());
  const std::string node = fixture.Path("/dev/hidraw2");

  const HANDLE handle = Open(node, GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::atomic<bool> go{false};
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) {
        std::this_thread::yield();
      }
      std::array<unsigned char, 9> report{};
      for (int call = 0; call < 20; ++call) {
        if (!HidD_GetFeature(handle, report.data(), report.size()) &&
            GetLastError() == ERROR_INVALID_FUNCTION) {
          ++refused;
        }
      }
    });
  }
  go = true;
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(refused.load(), 8 * 20);  // every call reached the (stand-in) device
  EXPECT_EQ(OpenCount(node), 1);
  EXPECT_TRUE(CloseHandle(handle));
  SetModuleRoot("");
}

}  // namespace
}  // namespace quorvel::hidraw::test
