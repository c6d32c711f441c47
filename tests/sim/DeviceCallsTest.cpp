// The world's answers to the HID calls of a generic device: strings and their buffer
// rules, descriptors, input and output reports, the input queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#if defined(__linux__)
#include <poll.h>
#endif

#include "tests/sim/LocalWorld.h"

namespace quorvel::sim::test {
namespace {

TJson Fixture(const std::string& name) {
  std::ifstream in(std::string(QUORVEL_SIM_TEST_DATA) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return TJson::parse(text.str());
}

class DeviceCalls : public LocalWorld {
 protected:
  void SetUp() override {
    Device = Add(Fixture("vendor-device.json"));
    ASSERT_TRUE(Device);
    Handle = Open(*Device);
  }
  void TearDown() override { World.Close(Handle); }

  std::shared_ptr<TSimDevice> Device;
  TSimHandle Handle;
};

// The bytes of a UTF-16LE text with its terminating zero.
TBytes Utf16(std::u16string_view text) {
  TBytes bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

struct StringCase {
  const char* Name;
  TStringKind Kind;
  std::uint32_t Index;
  std::size_t BufferSize;
  std::uint32_t Error;
  std::u16string Expected;  // on success
};

const StringCase kStrings[] = {
    {"Manufacturer", TStringKind::Manufacturer, 0, 508, ERROR_SUCCESS, u"Quorvel Test"},
    {"Product", TStringKind::Product, 0, 508, ERROR_SUCCESS, u"Vendor Device"},
    {"Serial", TStringKind::Serial, 0, 508, ERROR_SUCCESS, u"VD-0001"},
    {"ExactFit", TStringKind::Product, 0, 28, ERROR_SUCCESS, u"Vendor Device"},
    {"NoRoomForTheTerminator", TStringKind::Product, 0, 27, ERROR_INSUFFICIENT_BUFFER, u""},
    {"EmptyBuffer", TStringKind::Serial, 0, 0, ERROR_INSUFFICIENT_BUFFER, u""},
    {"Indexed", TStringKind::Indexed, 4, 508, ERROR_SUCCESS, u"Fourth string"},
    {"IndexTheDeviceLacks", TStringKind::Indexed, 5, 508, ERROR_GEN_FAILURE, u""},
    {"LanguageIds", TStringKind::Indexed, 0, 508, ERROR_SUCCESS, u"\u0409\u0407"},
};

class Strings : public DeviceCalls, public ::testing::WithParamInterface<StringCase> {};

TEST_P(Strings, FitTheBufferOrLeaveItAlone) {
  const auto& c = GetParam();
  TBytes buffer(c.BufferSize, 0xFF);
  EXPECT_EQ(World.GetString(Handle, c.Kind, c.Index, buffer), c.Error);
  const auto written = c.Error == ERROR_SUCCESS ? Utf16(c.Expected) : TBytes{};
  ASSERT_LE(written.size(), buffer.size());
  EXPECT_TRUE(std::equal(written.begin(), written.end(), buffer.begin()));
  // Nothing past the text and its terminator is touched.
  EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(written.size()),
                          buffer.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Device, Strings, ::testing::ValuesIn(kStrings),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(DeviceCalls, StringsTheDeviceLacksFail) {
  const auto bare = Add({{"generic", TJson::object()}, {"languages", TJson::array()}});
  const auto handle = Open(*bare, 0);
  TBytes buffer(508, 0);
  for (const auto kind : {TStringKind::Manufacturer, TStringKind::Product, TStringKind::Serial}) {
    EXPECT_EQ(World.GetString(handle, kind, 0, buffer), ERROR_GEN_FAILURE);
  }
  EXPECT_EQ(World.GetString(handle, TStringKind::Indexed, 0, buffer), ERROR_GEN_FAILURE);
  World.Close(handle);
}

TEST_F(DeviceCalls, PhysicalDescriptorFitsOrAsksForMore) {
  TBytes buffer(5, 0);
  EXPECT_EQ(World.GetPhysicalDescriptor(Handle, {}), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(World.GetPhysicalDescriptor(Handle, buffer), ERROR_INSUFFICIENT_BUFFER);
  buffer.resize(6);
  EXPECT_EQ(World.GetPhysicalDescriptor(Handle, buffer), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(buffer), "01 02 03 04 05 06");

  const auto board = Add({{"relay", TJson::object()}});
  const auto handle = Open(*board);
  EXPECT_EQ(World.GetPhysicalDescriptor(handle, buffer), ERROR_NOT_FOUND);
  World.Close(handle);
}

TEST_F(DeviceCalls, FeatureReportsByIdAndLength) {
  TBytes report = *ParseHex("03 00 00 00 00");
  ASSERT_EQ(World.GetFeature(Handle, report), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(report), "03 10 20 30 40");
  TBytes set = *ParseHex("03 01 02 03 04");
  ASSERT_EQ(World.SetFeature(Handle, set), ERROR_SUCCESS);
  report = *ParseHex("03 00 00 00 00");
  ASSERT_EQ(World.GetFeature(Handle, report), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(report), "03 01 02 03 04");

  TBytes undeclared = *ParseHex("01 00 00 00 00");  // an input report ID
  EXPECT_EQ(World.GetFeature(Handle, undeclared), ERROR_INVALID_PARAMETER);
  TBytes shortBuffer = *ParseHex("03 00 00 00");
  EXPECT_EQ(World.GetFeature(Handle, shortBuffer), ERROR_INVALID_PARAMETER);
}

// Feature report 1 has 3 bytes and report 2 has 9; input report 3 has 5 (ID byte included).
// As on the platform every buffer of a kind must hold the collection's longest report of
// that kind, and a stored report longer than its declared length comes back cut to it.
TEST_F(DeviceCalls, ReportBuffersFollowTheCollectionsLongestReport) {
  const auto device = Add(Fixture("feature-lengths.json"));
  ASSERT_TRUE(device);
  const auto handle = Open(*device);
  enum TCall { Get, Set, GetInput };
  const struct {
    TCall Call;
    const char* Buffer;
    std::uint32_t Error;
    const char* After;  // the buffer after a get
  } cases[] = {
      {Get, "01 00 00", ERROR_INVALID_PARAMETER, "01 00 00"},
      {Get, "01 ee ee ee ee ee ee ee ee", ERROR_SUCCESS, "01 aa bb ee ee ee ee ee ee"},
      {Get, "02 ee ee ee ee ee ee ee ee ee ee", ERROR_SUCCESS, "02 01 02 03 04 05 06 07 08 ee ee"},
      {Set, "01 01 02", ERROR_INVALID_PARAMETER, nullptr},
      {Set, "01 01 02 00 00 00 00 00 00", ERROR_SUCCESS, nullptr},
      {GetInput, "03 ee ee ee ee ee ee", ERROR_SUCCESS, "03 11 22 33 44 ee ee"},
  };
  for (const auto& c : cases) {
    TBytes buffer = *ParseHex(c.Buffer);
    const auto error = c.Call == Get   ? World.GetFeature(handle, buffer)
                       : c.Call == Set ? World.SetFeature(handle, buffer)
                                       : World.GetInputReport(handle, buffer);
    EXPECT_EQ(error, c.Error) << c.Buffer;
    if (c.After != nullptr) {
      EXPECT_EQ(ToHex(buffer), c.After) << c.Buffer;
    }
  }
  World.Close(handle);
}

TEST_F(DeviceCalls, InputAndOutputReports) {
  TBytes input = *ParseHex("01 00 00");
  ASSERT_EQ(World.GetInputReport(Handle, input), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(input), "01 aa bb");

  TBytes output = *ParseHex("02 0a 0b 0c");
  EXPECT_EQ(World.SetOutputReport(Handle, output), ERROR_SUCCESS);
  std::uint32_t done = 0;
  EXPECT_EQ(World.WriteOutput(Handle, output, done), ERROR_SUCCESS);
  EXPECT_EQ(done, 4u);
  TBytes tooLong = *ParseHex("02 0a 0b 0c 0d");
  EXPECT_EQ(World.WriteOutput(Handle, tooLong, done), ERROR_INVALID_USER_BUFFER);
  ASSERT_EQ(Device->Generic.Outputs.size(), 2u);
  EXPECT_EQ(ToHex(Device->Generic.Outputs[1]), "02 0a 0b 0c");
}

TEST_F(DeviceCalls, InputQueueIsReadInOrderAndDropsTheOldest) {
  std::uint32_t done = 0;
  TBytes buffer(3, 0);
  EXPECT_EQ(World.ReadInput(Handle, buffer, done, /*wait=*/false), ERROR_IO_PENDING);
  ASSERT_EQ(World.SetNumInputBuffers(Handle, 2), ERROR_SUCCESS);
  EXPECT_EQ(World.SetNumInputBuffers(Handle, 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(World.SetNumInputBuffers(Handle, 513), ERROR_INVALID_PARAMETER);
  {
    auto lock = World.Lock();
    for (const char* report : {"01 01 01", "01 02 02", "01 03 03"}) {
      ASSERT_TRUE(World.PushInput(lock, Device->Id, *ParseHex(report)));
    }
  }
#if defined(__linux__)
  pollfd ready{Device->InputReady.Fd(), POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 1);
#endif
  ASSERT_EQ(World.ReadInput(Handle, buffer, done, /*wait=*/false), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(buffer), "01 02 02");  // the first fell out of the two-report ring
  EXPECT_EQ(done, 3u);
  ASSERT_EQ(World.ReadInput(Handle, buffer, done, /*wait=*/true), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(buffer), "01 03 03");
#if defined(__linux__)
  EXPECT_EQ(poll(&ready, 1, 0), 0);
#endif
  TBytes small(2, 0);
  EXPECT_EQ(World.ReadInput(Handle, small, done, /*wait=*/false), ERROR_INVALID_USER_BUFFER);
}

TEST_F(DeviceCalls, FlushEmptiesTheQueue) {
  {
    auto lock = World.Lock();
    ASSERT_TRUE(World.PushInput(lock, Device->Id, *ParseHex("01 01 01")));
  }
  ASSERT_EQ(World.FlushQueue(Handle), ERROR_SUCCESS);
  std::uint32_t done = 0;
  TBytes buffer(3, 0);
  EXPECT_EQ(World.ReadInput(Handle, buffer, done, /*wait=*/false), ERROR_IO_PENDING);
}

TEST_F(DeviceCalls, BlockedReadWakesWhenTheDeviceVanishes) {
  std::uint32_t error = 0;
  std::thread reader([&] {
    std::uint32_t done = 0;
    TBytes buffer(3, 0);
    error = World.ReadInput(Handle, buffer, done, /*wait=*/true);
  });
  {
    auto lock = World.Lock();
    Device->Vanished = true;
    World.Changed(lock);
  }
  reader.join();
  EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace
}  // namespace quorvel::sim::test
