// The simulated HID module through the binding and the platform's file functions, as
// the layer calls it: identity, strings, feature reports with the exact exchange in
// the log, faults seen through the platform, preparsed data, input reports.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/Hid.h"
#include "platform/Utf.h"
#include "sim/SimControl.h"
#include "wintypes/WinTypes.h"

#ifndef _WIN32
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::sim {
namespace {

using TJson = TSimControl::TJson;
namespace hid = platform;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

TJson Fixture(const std::string& name) {
  std::ifstream in(std::string(QUORVEL_SIM_TEST_DATA) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return TJson::parse(text.str());
}

class HidModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifdef QUORVEL_SIM_DIR
    platform::SetModuleDirectoryForTest(QUORVEL_SIM_DIR);
#endif
    Bound = platform::BindHid();
  }
  static void TearDownTestSuite() {
    if (Bound) {
      platform::UnbindHid();
    }
    Bound = false;
  }

  void SetUp() override {
    ASSERT_TRUE(Bound) << "the simulated HID module cannot be bound";
    Sim.emplace();
    Sim->Reset();
  }

  HANDLE Open(int id, DWORD access, DWORD flags = 0) {
    const auto path = platform::Utf8ToUtf16(Sim->Device(id)["path"].get<std::string>());
    return CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  }

  static inline bool Bound = false;
  std::optional<TSimControl> Sim;
};

TEST_F(HidModule, RelayExchangeIsLoggedByteForByte) {
  const int board = Sim->AddRelayBoard("QAAMZ", 2);
  const HANDLE handle = Open(board, kReadWrite);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();

  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  ASSERT_TRUE(hid::HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x16C0);
  EXPECT_EQ(attributes.ProductID, 0x05DF);
  EXPECT_EQ(attributes.VersionNumber, 0x0100);

  std::vector<char16_t> product(254, 0);
  ASSERT_TRUE(hid::HidD_GetProductString(handle, product.data(), 508));
  EXPECT_EQ(std::u16string(product.data()), u"USBRelay2");

  std::uint8_t report[9] = {0};
  ASSERT_TRUE(hid::HidD_GetFeature(handle, report, sizeof report));
  std::uint8_t command[9] = {0x00, 0xFF, 0x02};
  ASSERT_TRUE(hid::HidD_SetFeature(handle, command, sizeof command));
  ASSERT_TRUE(CloseHandle(handle));

  TJson expected = TJson::parse(R"([
    {"device": 1, "call": "HidD_GetAttributes", "error": 0},
    {"device": 1, "call": "HidD_GetProductString",
     "received": "55 00 53 00 42 00 52 00 65 00 6c 00 61 00 79 00 32 00 00 00", "error": 0},
    {"device": 1, "call": "HidD_GetFeature", "sent": "00 00 00 00 00 00 00 00 00",
     "received": "00 51 41 41 4d 5a 00 00 00", "error": 0},
    {"device": 1, "call": "HidD_SetFeature", "sent": "00 ff 02 00 00 00 00 00 00", "error": 0}
  ])");
#ifndef _WIN32
  // Opening and closing reach the simulation only through its POSIX file provider.
  expected.insert(
      expected.begin(),
      TJson::parse(R"({"device": 1, "call": "CreateFileW", "arg": 3221225472, "error": 0})"));
  expected.push_back(TJson::parse(R"({"device": 1, "call": "CloseHandle", "error": 0})"));
#endif
  EXPECT_EQ(Sim->Log(), expected);
  const auto device = Sim->Device(board);
  EXPECT_EQ(device["relay"]["state"], 0x02);
  EXPECT_EQ(device["openHandles"], 0);
}

TEST_F(HidModule, FailuresReturnFalseWithTheirError) {
  const int board = Sim->AddRelayBoard("QAAMZ");
  const HANDLE handle = Open(board, kReadWrite);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);

  HIDD_ATTRIBUTES attributes{};
  attributes.Size = 16;
  EXPECT_FALSE(hid::HidD_GetAttributes(handle, &attributes));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  std::uint8_t reportOne[9] = {0x01};
  EXPECT_FALSE(hid::HidD_GetFeature(handle, reportOne, sizeof reportOne));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  std::vector<char16_t> serial(254, 0);
  EXPECT_FALSE(hid::HidD_GetSerialNumberString(handle, serial.data(), 508));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);  // the boards have no serial number
  CloseHandle(handle);

  std::uint8_t report[9] = {0};
  EXPECT_FALSE(hid::HidD_GetFeature(handle, report, sizeof report));  // closed
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HidModule, FaultsReachTheCaller) {
  const int keyboard =
      Sim->AddDevice({{"generic", TJson::object()}, {"faults", {{"open", "metadataOnly"}}}});
  const int gone = Sim->AddDevice({{"relay", TJson::object()}, {"faults", {{"open", "refused"}}}});
#ifdef _WIN32
  constexpr int kOpenCalls = 0;  // Windows opens the device's file without the simulation
#else
  constexpr int kOpenCalls = 1;
#endif
  const int flaky =
      Sim->AddDevice({{"relay", TJson::object()}, {"faults", {{"vanishAfter", kOpenCalls}}}});

  EXPECT_EQ(Open(keyboard, kReadWrite), INVALID_HANDLE_VALUE);
  const DWORD refused = GetLastError();
#ifdef _WIN32
  // Refused by sharing where the read-only attribute does not bind (root under Wine).
  EXPECT_TRUE(refused == ERROR_ACCESS_DENIED || refused == ERROR_SHARING_VIOLATION) << refused;
#else
  EXPECT_EQ(refused, ERROR_ACCESS_DENIED);
#endif
  const HANDLE metadata = Open(keyboard, 0);
  ASSERT_NE(metadata, INVALID_HANDLE_VALUE);
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  EXPECT_TRUE(hid::HidD_GetAttributes(metadata, &attributes));
  CloseHandle(metadata);

  EXPECT_EQ(Open(gone, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  const HANDLE handle = Open(flaky, kReadWrite);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::uint8_t report[9] = {0};
  EXPECT_FALSE(hid::HidD_GetFeature(handle, report, sizeof report));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(Sim->Device(flaky)["vanished"], true);
}

TEST_F(HidModule, PreparsedDataDescribesTheBoard) {
  const int board = Sim->AddRelayBoard("QAAMZ");
  const HANDLE handle = Open(board, 0);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  PHIDP_PREPARSED_DATA data = nullptr;
  ASSERT_TRUE(hid::HidD_GetPreparsedData(handle, &data));
  HIDP_CAPS caps{};
  EXPECT_EQ(hid::HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  EXPECT_EQ(caps.FeatureReportByteLength, 9);
  EXPECT_EQ(caps.InputReportByteLength, 0);
  EXPECT_TRUE(hid::HidD_FreePreparsedData(data));
  CloseHandle(handle);
}

TEST_F(HidModule, LanguageIdsComeAsCodeUnits) {
  const int device = Sim->AddDevice(Fixture("vendor-device.json"));
  const HANDLE handle = Open(device, 0);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::vector<std::uint16_t> buffer(254, 0xFFFF);
  ASSERT_TRUE(hid::HidD_GetIndexedString(handle, 0, buffer.data(), 508));
  EXPECT_EQ(buffer[0], 0x0409);
  EXPECT_EQ(buffer[1], 0x0407);
  EXPECT_EQ(buffer[2], 0x0000);
  EXPECT_EQ(buffer[3], 0xFFFF);
  CloseHandle(handle);
}

#ifndef _WIN32
// Input reports reach a reader only through the simulation's POSIX file provider; on
// Windows the device's file is a plain file.
void WINAPI Completed(DWORD error, DWORD transferred, LPOVERLAPPED overlapped) {
  auto* result = static_cast<std::vector<DWORD>*>(overlapped->hEvent);
  result->assign({error, transferred});
}

TEST_F(HidModule, OverlappedReadCompletesWhenAReportArrives) {
  const int device = Sim->AddDevice(Fixture("vendor-device.json"));
  const HANDLE handle = Open(device, GENERIC_READ, FILE_FLAG_OVERLAPPED);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::uint8_t buffer[3] = {0};
  std::vector<DWORD> result;
  OVERLAPPED overlapped{};
  overlapped.hEvent = &result;
  ASSERT_TRUE(ReadFileEx(handle, buffer, sizeof buffer, &overlapped, Completed));
  EXPECT_EQ(SleepEx(0, TRUE), 0u);
  EXPECT_TRUE(result.empty());

  Sim->PushInput(device, "01 0a 0b");
  EXPECT_EQ(SleepEx(2000, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(result, (std::vector<DWORD>{ERROR_SUCCESS, 3}));
  EXPECT_EQ(buffer[1], 0x0A);
  EXPECT_EQ(buffer[2], 0x0B);
  CloseHandle(handle);
}

TEST_F(HidModule, SynchronousReadTakesTheQueuedReport) {
  const int device = Sim->AddDevice(Fixture("vendor-device.json"));
  Sim->PushInput(device, "01 0c 0d");
  const HANDLE handle = Open(device, kReadWrite);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::uint8_t buffer[3] = {0};
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(buffer[1], 0x0C);
  std::uint8_t output[4] = {0x02, 1, 2, 3};
  ASSERT_TRUE(WriteFile(handle, output, sizeof output, &done, nullptr));
  EXPECT_EQ(Sim->Device(device)["generic"]["outputs"], TJson::array({"02 01 02 03"}));
  CloseHandle(handle);
}
#endif

}  // namespace
}  // namespace quorvel::sim
