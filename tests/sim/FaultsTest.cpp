// Every fault a device can be given does what it says, and nothing more.
#include <gtest/gtest.h>

#include "tests/sim/LocalWorld.h"

namespace quorvel::sim::test {
namespace {

using Faults = LocalWorld;

struct OpenCase {
  const char* Name;
  const char* Faults;
  std::uint32_t Access;
  std::uint32_t Error;
};

const OpenCase kOpenCases[] = {
    {"NormalReadWrite", R"({})", kReadWrite, ERROR_SUCCESS},
    {"MetadataOnlyWithoutAccess", R"({"open": "metadataOnly"})", 0, ERROR_SUCCESS},
    {"MetadataOnlyReadWrite", R"({"open": "metadataOnly"})", kReadWrite, ERROR_ACCESS_DENIED},
    {"MetadataOnlyReadOnly", R"({"open": "metadataOnly"})", GENERIC_READ, ERROR_ACCESS_DENIED},
    {"MetadataOnlyWriteOnly", R"({"open": "metadataOnly"})", GENERIC_WRITE, ERROR_ACCESS_DENIED},
    {"RefusedWithoutAccess", R"({"open": "refused"})", 0, ERROR_FILE_NOT_FOUND},
    {"RefusedReadWrite", R"({"open": "refused"})", kReadWrite, ERROR_FILE_NOT_FOUND},
    {"RefusedWithChosenError", R"({"open": "refused", "openError": 32})", 0,
     ERROR_SHARING_VIOLATION},
};

class OpenFaults : public LocalWorld, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenFaults, OpenGivesTheFaultsAnswer) {
  const auto& c = GetParam();
  const auto device = Add({{"relay", TJson::object()}, {"faults", TJson::parse(c.Faults)}});
  EXPECT_EQ(TryOpen(*device, c.Access), c.Error);
  const auto log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().Call, "CreateFileW");
  EXPECT_EQ(log.front().Arg, c.Access);
  EXPECT_EQ(log.front().Error, c.Error);
}

INSTANTIATE_TEST_SUITE_P(Device, OpenFaults, ::testing::ValuesIn(kOpenCases),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(Faults, AttributesCannotBeRead) {
  const auto device = Add({{"relay", TJson::object()}, {"faults", {{"attributesError", 31}}}});
  const auto handle = Open(*device, 0);
  std::uint16_t vendor = 0xAAAA;
  std::uint16_t product = 0xAAAA;
  std::uint16_t version = 0xAAAA;
  EXPECT_EQ(World.GetAttributes(handle, vendor, product, version), ERROR_GEN_FAILURE);
  EXPECT_EQ(vendor, 0xAAAA);
  World.Close(handle);
}

TEST_F(Faults, FeatureCallsFailFromTheNthCallOn) {
  const auto board = Add({{"relay", {{"relays", 8}}},
                          {"faults",
                           {{"getFeature", {{"from", 2}, {"error", ERROR_CRC}}},
                            {"setFeature", {{"from", 3}, {"error", ERROR_GEN_FAILURE}}}}}});
  const auto handle = Open(*board);
  TBytes get(9, 0);
  EXPECT_EQ(World.GetFeature(handle, get), ERROR_SUCCESS);
  EXPECT_EQ(World.GetFeature(handle, get), ERROR_CRC);
  EXPECT_EQ(World.GetFeature(handle, get), ERROR_CRC);

  TBytes on1 = *ParseHex("00 ff 01 00 00 00 00 00 00");
  TBytes on2 = *ParseHex("00 ff 02 00 00 00 00 00 00");
  TBytes on3 = *ParseHex("00 ff 03 00 00 00 00 00 00");
  EXPECT_EQ(World.SetFeature(handle, on1), ERROR_SUCCESS);
  EXPECT_EQ(World.SetFeature(handle, on2), ERROR_SUCCESS);
  EXPECT_EQ(World.SetFeature(handle, on3), ERROR_GEN_FAILURE);
  EXPECT_EQ(board->Relay->State(), 0x03);  // the failed command changed nothing
  World.Close(handle);
}

TEST_F(Faults, DeviceVanishesAfterNCalls) {
  const auto board = Add({{"relay", TJson::object()}, {"faults", {{"vanishAfter", 2}}}});
  const auto handle = Open(*board);  // call 1
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t version = 0;
  EXPECT_EQ(World.GetAttributes(handle, vendor, product, version), ERROR_SUCCESS);  // call 2
  EXPECT_EQ(World.GetAttributes(handle, vendor, product, version), ERROR_DEVICE_NOT_CONNECTED);
  TBytes report(9, 0);
  EXPECT_EQ(World.GetFeature(handle, report), ERROR_DEVICE_NOT_CONNECTED);
  std::uint32_t count = 0;
  EXPECT_EQ(World.GetNumInputBuffers(handle, count), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(board->Vanished);

  // The next scan no longer lists it, and its path is gone.
  EXPECT_TRUE(World.Snapshot(/*presentOnly=*/true).empty());
  EXPECT_EQ(World.Snapshot(/*presentOnly=*/false).size(), 1u);
  EXPECT_EQ(TryOpen(*board, 0), ERROR_FILE_NOT_FOUND);
  World.Close(handle);  // closing still works
  EXPECT_EQ(board->OpenHandles, 0);
}

TEST_F(Faults, RemovedDeviceFailsItsOpenHandles) {
  const auto device = Add({{"relay", TJson::object()}});
  const auto handle = Open(*device);
  {
    auto lock = World.Lock();
    ASSERT_TRUE(World.Remove(lock, device->Id));
  }
  TBytes report(9, 0);
  EXPECT_EQ(World.GetFeature(handle, report), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(World.Snapshot(/*presentOnly=*/false).empty());
  World.Close(handle);
}

TEST_F(Faults, RelayThatDoesNotFollow) {
  const auto board = Add({{"relay", {{"relays", 8}}},
                          {"faults", {{"relayStuck", {{"mask", 0x05}, {"value", 0x04}}}}}});
  const auto handle = Open(*board);
  TBytes allOn = *ParseHex("00 fe 00 00 00 00 00 00 00");
  ASSERT_EQ(World.SetFeature(handle, allOn), ERROR_SUCCESS);
  TBytes report(9, 0);
  ASSERT_EQ(World.GetFeature(handle, report), ERROR_SUCCESS);
  EXPECT_EQ(report[8], 0xFE);  // relay 1 stuck off; relay 3 stuck on, as commanded
  EXPECT_EQ(board->Relay->Commanded(), 0xFF);
  World.Close(handle);
}

}  // namespace
}  // namespace quorvel::sim::test
