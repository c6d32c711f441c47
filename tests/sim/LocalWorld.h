// A world of its own for a test, with devices described in JSON and handles opened on
// them, so the world's device calls can be checked without any module.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/WorldJson.h"
#include "wintypes/WinTypes.h"

namespace quorvel::sim::test {

inline constexpr std::uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

class LocalWorld : public ::testing::Test {
 protected:
  std::shared_ptr<TSimDevice> Add(const TJson& description) {
    std::string error;
    auto device = DeviceFromJson(description, error);
    EXPECT_TRUE(device) << error;
    if (!device) {
      return nullptr;
    }
    auto lock = World.Lock();
    EXPECT_NE(World.Add(lock, device, error), 0) << error;
    return device;
  }

  // Opens the device's path; a failed open fails the test.
  TSimHandle Open(const TSimDevice& device, std::uint32_t access = kReadWrite) {
    TSimHandle handle;
    EXPECT_EQ(World.Open(DevicePath(device), access, handle), ERROR_SUCCESS);
    return handle;
  }

  std::uint32_t TryOpen(const TSimDevice& device, std::uint32_t access) {
    TSimHandle handle;
    const auto error = World.Open(DevicePath(device), access, handle);
    if (error == ERROR_SUCCESS) {
      World.Close(handle);
    }
    return error;
  }

  std::vector<TLogEntry> Log() {
    auto lock = World.Lock();
    const auto& log = World.Log(lock);
    return {log.begin(), log.end()};
  }

  TWorld World;
};

}  // namespace quorvel::sim::test
