// How the world numbers its devices and keeps its log: an id or instance given twice,
// or given to one that was numbered before it, is refused with the device and field
// named and nothing changed; numbers never wrap round; the default properties name
// the instance the device gets; the log keeps its newest entries; and JSON nested
// beyond the limit is refused before anything recursive reads it.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "sim/Control.h"
#include "sim/WorldJson.h"
#include "tests/sim/LocalWorld.h"
#include "wintypes/WinTypes.h"

namespace quorvel::sim::test {
namespace {

class Numbering : public LocalWorld {
 protected:
  // Resets the world to the text's description; the reason when it is refused.
  std::string Reset(const std::string& text) {
    TJson json;
    std::string error;
    TWorldDescription description;
    if (!ParseJson(text, json, error) || !WorldFromJson(json, description, error)) {
      return "not a description: " + error;
    }
    auto lock = World.Lock();
    World.Reset(lock, std::move(description.Devices), std::move(description.Log), error);
    return error;
  }
  std::vector<std::pair<int, std::uint32_t>> Numbers() {
    auto lock = World.Lock();
    std::vector<std::pair<int, std::uint32_t>> numbers;
    for (const auto& device : World.Devices(lock)) {
      numbers.emplace_back(device->Id, device->Instance);
    }
    return numbers;
  }
};

struct TakenCase {
  const char* Name;
  const char* World;
  const char* Reason;
};

const TakenCase kTaken[] = {
    {"IdOfANumberedDevice",
     R"({"devices": [{"relay": {"boardId": "AAAAA"}}, {"id": 1, "relay": {"boardId": "BBBBB"}}]})",
     "device 2: id: 1 is taken by device 1"},
    {"InstanceOfANumberedDevice", R"({"devices": [{"generic": {}}, {"instance": 1}]})",
     "device 2: instance: 1 is taken by device 1"},
    {"IdGivenTwice", R"({"devices": [{"id": 4}, {"generic": {}}, {"id": 4}]})",
     "device 3: id: 4 is taken by device 1"},
    {"InstanceGivenTwice", R"({"devices": [{"instance": 9}, {"instance": 9}]})",
     "device 2: instance: 9 is taken by device 1"},
};

class TakenNumber : public Numbering, public ::testing::WithParamInterface<TakenCase> {};

TEST_P(TakenNumber, IsRefusedAndTheWorldKeptAsItWas) {
  ASSERT_EQ(Reset(R"({"devices": [{"id": 7, "relay": {"boardId": "KEEPS"}}]})"), "");
  EXPECT_EQ(Reset(GetParam().World), GetParam().Reason);
  auto lock = World.Lock();
  ASSERT_EQ(World.Devices(lock).size(), 1u);
  EXPECT_EQ(World.Devices(lock)[0]->Id, 7);
  EXPECT_EQ(World.Devices(lock)[0]->Relay->BoardId(), "KEEPS");
}

INSTANTIATE_TEST_SUITE_P(Simulation, TakenNumber, ::testing::ValuesIn(kTaken),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(Numbering, NumbersNeverWrapRound) {
  constexpr auto kMaxId = std::numeric_limits<int>::max();
  constexpr auto kMaxInstance = std::numeric_limits<std::uint32_t>::max();
  ASSERT_EQ(Reset(R"({"devices": [{"id": 2147483647, "instance": 4294967295},
                                  {"id": 1, "instance": 1}, {}, {}]})"),
            "");
  // After the largest number, the lowest free ones.
  EXPECT_EQ(Numbers(), (std::vector<std::pair<int, std::uint32_t>>{
                           {kMaxId, kMaxInstance}, {1, 1}, {2, 2}, {3, 3}}));

  // What the world writes it reads back as the same numbers.
  auto lock = World.Lock();
  for (const auto& device : World.Devices(lock)) {
    std::string error;
    const auto again = DeviceFromJson(TJson::parse(DeviceToJson(*device).dump()), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Id, device->Id);
    EXPECT_EQ(again->Instance, device->Instance);
  }
  lock.unlock();

  // One at a time through Add, as the control functions do.
  const auto added = Add({{"relay", {{"boardId", "ADDED"}}}});
  ASSERT_TRUE(added);
  EXPECT_EQ(added->Id, 4);
  EXPECT_EQ(added->Instance, 4u);
}

TEST_F(Numbering, DefaultPropertiesNameTheNumberTheDeviceGets) {
  ASSERT_EQ(Reset(R"({"devices": [
      {"relay": {"boardId": "AAAAA"}},
      {"relay": {"boardId": "BBBBB"}, "properties": {"SPDRP_MFG": "Maker", "SPDRP_CLASS": null}},
      {"instance": 300, "generic": {}},
      {"generic": {}, "properties": {"SPDRP_DRIVER": "chosen"}}]})"),
            "");
  auto lock = World.Lock();
  const auto& devices = World.Devices(lock);
  ASSERT_EQ(devices.size(), 4u);
  auto text = [](const TSimDevice& device, std::uint32_t code) {
    const auto it = device.Properties.find(code);
    return it == device.Properties.end() ? std::u16string(u"(absent)")
                                         : std::get<std::u16string>(it->second);
  };
  const std::u16string driver = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\";
  EXPECT_EQ(text(*devices[0], SPDRP_DRIVER), driver + u"0001");
  EXPECT_EQ(text(*devices[0], SPDRP_PHYSICAL_DEVICE_OBJECT_NAME), u"\\Device\\00000001");
  EXPECT_EQ(text(*devices[1], SPDRP_DRIVER), driver + u"0002");
  EXPECT_EQ(text(*devices[1], SPDRP_PHYSICAL_DEVICE_OBJECT_NAME), u"\\Device\\00000002");
  // The description's own changes still stand once the defaults are built again.
  EXPECT_EQ(text(*devices[1], SPDRP_MFG), u"Maker");
  EXPECT_EQ(text(*devices[1], SPDRP_CLASS), u"(absent)");
  EXPECT_EQ(text(*devices[2], SPDRP_DRIVER), driver + u"012C");
  EXPECT_EQ(text(*devices[3], SPDRP_DRIVER), u"chosen");
  EXPECT_EQ(text(*devices[3], SPDRP_PHYSICAL_DEVICE_OBJECT_NAME), u"\\Device\\0000012D");
}

TEST_F(Numbering, LogKeepsItsNewestEntries) {
  const auto board = Add({{"relay", {{"boardId", "AAAAA"}}}});
  ASSERT_TRUE(board);
  for (std::size_t i = 0; i < kMaxLogEntries + 5; ++i) {
    TSimHandle handle;
    ASSERT_EQ(World.Open(DevicePath(*board), static_cast<std::uint32_t>(i), handle), ERROR_SUCCESS);
    World.Close(handle);
  }
  auto log = Log();
  ASSERT_EQ(log.size(), kMaxLogEntries);
  // Opens and closes alternate, the oldest went first: the newest kMaxLogEntries of
  // 2 × (kMaxLogEntries + 5) entries begin with an open.
  EXPECT_EQ(log.front().Call, "CreateFileW");
  EXPECT_EQ(log.front().Arg, (kMaxLogEntries + 10) / 2);
  EXPECT_EQ(log.back().Call, "CloseHandle");

  // A world read with a longer log keeps its newest entries too.
  std::string world = R"({"log": [)";
  for (std::size_t i = 0; i < kMaxLogEntries + 3; ++i) {
    world += (i == 0 ? "" : ",") + std::string(R"({"device": 1, "call": "ReadFile", "arg": )") +
             std::to_string(i) + "}";
  }
  ASSERT_EQ(Reset(world + "]}"), "");
  log = Log();
  ASSERT_EQ(log.size(), kMaxLogEntries);
  EXPECT_EQ(log.front().Arg, 3u);
  EXPECT_EQ(log.back().Arg, kMaxLogEntries + 2);
}

TEST_F(Numbering, OpensFindADeviceByItsPathAfterAChange) {
  const auto device = Add({{"generic", TJson::object()}, {"vendorId", 1}});
  ASSERT_TRUE(device);
  const auto before = DevicePath(*device);
  {
    auto lock = World.Lock();
    device->VendorId = 2;
    World.Changed(lock);
  }
  TSimHandle handle;
  EXPECT_EQ(World.Open(before, 0, handle), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(World.Open(DevicePath(*device), 0, handle), ERROR_SUCCESS);
  World.Close(handle);
}

std::string Nested(std::size_t depth, const std::string& inside = "") {
  return std::string(depth, '[') + inside + std::string(depth, ']');
}

TEST(ParseJson, RefusesNestingBeyondTheLimitBeforeParsing) {
  TJson json;
  std::string error;
  // Far deeper than the JSON library's recursive copy survives.
  EXPECT_FALSE(ParseJson(R"({"devices": [], "log": )" + Nested(100000) + "}", json, error));
  EXPECT_EQ(error, "lists and objects nested deeper than 64 levels");
  error.clear();
  EXPECT_FALSE(ParseJson(Nested(kMaxJsonDepth + 1), json, error));
  EXPECT_FALSE(error.empty());

  // The limit itself is fine, and brackets inside text (escaped quotes too) do not count.
  error.clear();
  EXPECT_TRUE(ParseJson(Nested(kMaxJsonDepth), json, error)) << error;
  EXPECT_TRUE(ParseJson(Nested(kMaxJsonDepth - 1, R"("\"[[[[[[{{{{")"), json, error)) << error;
  EXPECT_TRUE(ParseJson(R"({"a": ")" + std::string(1000, '[') + R"("})", json, error)) << error;

  EXPECT_FALSE(ParseJson("[1, 2", json, error));
  EXPECT_EQ(error, "not valid JSON");
}

TEST(ParseJson, ControlFunctionsRefuseDeepNesting) {
  const std::string deep = R"({"devices": )" + Nested(100000) + "}";
  const auto reply = TJson::parse(QuorvelSim_Reset(deep.c_str()));
  EXPECT_NE(reply.value("error", "").find("nested deeper"), std::string::npos) << reply;
  const auto added = TJson::parse(QuorvelSim_AddDevice(Nested(100000).c_str()));
  EXPECT_NE(added.value("error", "").find("nested deeper"), std::string::npos) << added;
}

}  // namespace
}  // namespace quorvel::sim::test
