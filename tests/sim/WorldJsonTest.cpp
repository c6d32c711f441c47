// The world's JSON: descriptions read back to what was written, relay boards default to
// the real boards' identity, and a bad description is refused with its field named.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/WorldJson.h"
#include "wintypes/WinTypes.h"

namespace quorvel::sim {
namespace {

TJson ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return TJson::parse(text.str());
}

TEST(WorldJson, ExampleWorldReadsBackToItself) {
  TWorldDescription world;
  std::string error;
  ASSERT_TRUE(WorldFromJson(ReadFile(QUORVEL_SIM_EXAMPLE_WORLD), world, error)) << error;
  ASSERT_EQ(world.Devices.size(), 4u);
  for (const auto& device : world.Devices) {
    const auto written = DeviceToJson(*device);
    const auto again = DeviceFromJson(written, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(DeviceToJson(*again), written);
  }
}

TEST(WorldJson, RelayBoardHasTheRealBoardsIdentity) {
  std::string error;
  const auto board = DeviceFromJson({{"relay", {{"relays", 2}}}}, error);
  ASSERT_TRUE(board) << error;
  EXPECT_EQ(board->VendorId, 0x16C0);
  EXPECT_EQ(board->ProductId, 0x05DF);
  EXPECT_EQ(board->Version, 0x0100);
  EXPECT_EQ(board->Product, u"USBRelay2");
  EXPECT_FALSE(board->Serial.has_value());
  EXPECT_EQ(board->Languages, std::vector<std::uint16_t>{0x0409});
  EXPECT_EQ(board->ReportDescriptor.size(), 22u);
  // Its strings also by the device descriptor's usual indices.
  EXPECT_EQ(board->Strings,
            (std::map<std::uint32_t, std::u16string>{{1, u"www.dcttech.com"}, {2, u"USBRelay2"}}));
  const auto& ids = std::get<std::vector<std::u16string>>(board->Properties.at(SPDRP_HARDWAREID));
  EXPECT_EQ(ids.front(), u"HID\\VID_16C0&PID_05DF&REV_0100");
}

TEST(WorldJson, PropertiesCanBeAddedChangedAndRemoved) {
  std::string error;
  const auto device = DeviceFromJson({{"generic", TJson::object()},
                                      {"properties",
                                       {{"SPDRP_FRIENDLYNAME", "Thing"},
                                        {"SPDRP_CLASS", nullptr},
                                        {"SPDRP_UI_NUMBER", 7},
                                        {"SPDRP_LOWERFILTERS", {"a", "b"}},
                                        {"0x1e", {{"binary", "38 00 00 00"}}}}}},
                                     error);
  ASSERT_TRUE(device) << error;
  EXPECT_EQ(std::get<std::u16string>(device->Properties.at(SPDRP_FRIENDLYNAME)), u"Thing");
  EXPECT_EQ(device->Properties.count(SPDRP_CLASS), 0u);
  EXPECT_EQ(std::get<std::uint32_t>(device->Properties.at(SPDRP_UI_NUMBER)), 7u);
  EXPECT_EQ(std::get<TBytes>(device->Properties.at(0x1E)).size(), 4u);
  // Absent defaults are written as null, so they stay absent when read back.
  const auto again = DeviceFromJson(DeviceToJson(*device), error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->Properties, device->Properties);
}

TEST(WorldJson, UnprintableBoardIdSurvivesAsBytes) {
  std::string error;
  const auto board = DeviceFromJson({{"relay", {{"boardIdBytes", "00 ff 41 0a 42"}}}}, error);
  ASSERT_TRUE(board) << error;
  const auto written = DeviceToJson(*board);
  EXPECT_EQ(written["relay"]["boardIdBytes"], "00 ff 41 0a 42");
  EXPECT_EQ(DeviceFromJson(written, error)->Relay->BoardId(), board->Relay->BoardId());
}

struct BadCase {
  const char* Name;
  const char* Json;
  const char* Reason;  // part of the message
};

const BadCase kBad[] = {
    {"UnknownField", R"({"relay": {}, "colour": 1})", "unknown field \"colour\""},
    {"RelayCount", R"({"relay": {"relays": 3}})", "relay.relays"},
    {"ShortBoardId", R"({"relay": {"boardId": "ABC"}})", "five characters"},
    {"NegativeVendor", R"({"vendorId": -1})", "negative"},
    {"VendorTooLarge", R"({"vendorId": "0x10000"})", "larger than"},
    {"NotHex", R"({"reportDescriptor": "0g"})", "reportDescriptor"},
    {"BadDescriptor", R"({"reportDescriptor": "85"})", "reportDescriptor"},
    {"BothBehaviours", R"({"relay": {}, "generic": {}})", "not both"},
    {"StuckOnGeneric", R"({"faults": {"relayStuck": {"mask": 1}}})", "only a relay board"},
    {"OpenFault", R"({"faults": {"open": "sometimes"}})", "faults.open"},
    {"ZeroErrorFault", R"({"faults": {"getFeature": {"from": 1, "error": 0}}})", "error code"},
    {"FeatureWithoutId", R"({"generic": {"features": {"3": "04 00"}}})", "report ID"},
    {"UnknownProperty", R"({"properties": {"SPDRP_COLOUR": "x"}})", "SPDRP_COLOUR"},
    {"LongString",
     R"({"product": "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456"})",
     "126"},
    {"LanguageZero", R"({"languages": [0]})", "language"},
    {"TooFewBuffers", R"({"numInputBuffers": 1})", "numInputBuffers"},
};

class BadDescriptions : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescriptions, AreRefusedWithTheirReason) {
  std::string error;
  EXPECT_EQ(DeviceFromJson(TJson::parse(GetParam().Json), error), nullptr);
  EXPECT_NE(error.find(GetParam().Reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Device, BadDescriptions, ::testing::ValuesIn(kBad),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST(WorldJson, WorldRefusesDuplicateIdsAndBadLogEntries) {
  TWorldDescription world;
  std::string error;
  // The world refuses the ids as it numbers its devices (see WorldNumberingTest.cpp).
  ASSERT_TRUE(WorldFromJson(TJson::parse(R"({"devices": [{"id": 1}, {"id": 1}]})"), world, error));
  TWorld numbering;
  auto lock = numbering.Lock();
  EXPECT_FALSE(numbering.Reset(lock, std::move(world.Devices), {}, error));
  EXPECT_NE(error.find("device 2"), std::string::npos) << error;
  world = {};
  error.clear();
  EXPECT_FALSE(WorldFromJson(TJson::parse(R"({"log": [{"device": 1}]})"), world, error));
  EXPECT_NE(error.find("log entry 1"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorvel::sim
