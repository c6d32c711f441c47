// The device's report parser calls, link collection nodes and raw I/O over a
// simulated game pad: input report 1 (eight buttons, an 8-bit X), output report 2.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/Hid.h"
#include "platform/PlatformKernel.h"
#include "platform/PlatformVersion.h"
#include "sim/SimControl.h"
#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

constexpr ULONG kInputLength = 3;  // report ID, buttons, X
constexpr USAGE HID_USAGE_PAGE_GENERIC = 0x01;
constexpr USAGE HID_USAGE_PAGE_BUTTON = 0x09;
constexpr USAGE HID_USAGE_GENERIC_GAMEPAD = 0x05;
constexpr USAGE HID_USAGE_GENERIC_X = 0x30;
constexpr USAGE HID_USAGE_GENERIC_Y = 0x31;

class ReportsTest : public SimulatedTest {
 protected:
  void SetUp() override { StartScanned(TSimWorld::LoadWorld("gamepad.json")); }
  THidDevice* Pad() {
    THidDevice* device = Take(0);
    device->SetReportTypeParam(HidP_Input);
    return device;
  }
  void PushInput(const char* hex) { sim.PushInput(1, hex); }
  sim::TSimControl sim;
};

TEST_F(ReportsTest, ParserCallsOnACheckedInDeviceYieldNullAndOpenNothing) {
  THidDevice* device = controller->Devices(0);
  HIDP_BUTTON_CAPS buttonCaps[4]{};
  HIDP_VALUE_CAPS valueCaps[4]{};
  HIDP_DATA dataList[4]{};
  USAGE usages[8]{};
  USAGE_AND_PAGE usagesEx[8]{};
  char report[kInputLength]{1, 0, 0};
  char array[4]{};
  USHORT count = 4;
  ULONG length = 4;
  ULONG value = 0;
  LONG scaled = 0;
  const std::vector<std::pair<const char*, std::function<NTSTATUS()>>> calls = {
      {"GetButtonCaps", [&] { return device->GetButtonCaps(buttonCaps, count); }},
      {"GetSpecificButtonCaps", [&] { return device->GetSpecificButtonCaps(buttonCaps, count); }},
      {"GetValueCaps", [&] { return device->GetValueCaps(valueCaps, count); }},
      {"GetSpecificValueCaps", [&] { return device->GetSpecificValueCaps(valueCaps, count); }},
      {"GetData", [&] { return device->GetData(dataList, length, report, kInputLength); }},
      {"SetData", [&] { return device->SetData(dataList, length, report, kInputLength); }},
      {"GetUsages", [&] { return device->GetUsages(usages, length, report, kInputLength); }},
      {"GetButtons", [&] { return device->GetButtons(usages, length, report, kInputLength); }},
      {"GetUsagesEx", [&] { return device->GetUsagesEx(usagesEx, length, report, kInputLength); }},
      {"GetButtonsEx",
       [&] { return device->GetButtonsEx(usagesEx, length, report, kInputLength); }},
      {"SetUsages", [&] { return device->SetUsages(usages, length, report, kInputLength); }},
      {"SetButtons", [&] { return device->SetButtons(usages, length, report, kInputLength); }},
      {"UnsetUsages", [&] { return device->UnsetUsages(usages, length, report, kInputLength); }},
      {"UnsetButtons", [&] { return device->UnsetButtons(usages, length, report, kInputLength); }},
      {"GetUsageValue", [&] { return device->GetUsageValue(value, report, kInputLength); }},
      {"GetScaledUsageValue",
       [&] { return device->GetScaledUsageValue(scaled, report, kInputLength); }},
      {"GetUsageValueArray",
       [&] { return device->GetUsageValueArray(array, sizeof array, report, kInputLength); }},
      {"SetUsageValue", [&] { return device->SetUsageValue(1, report, kInputLength); }},
      {"SetScaledUsageValue", [&] { return device->SetScaledUsageValue(1, report, kInputLength); }},
      {"SetUsageValueArray",
       [&] { return device->SetUsageValueArray(array, sizeof array, report, kInputLength); }},
  };
  world->ClearLog();
  for (const auto& [name, call] : calls) {
    EXPECT_EQ(static_cast<uint32_t>(call()), 0x80110001u) << name;
  }
  EXPECT_EQ(world->Calls("CreateFileW"), 0);
  EXPECT_EQ(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  // Also when the preparsed data is already held.
  THidDevice* taken = Take(0);
  ASSERT_NE(taken->PreparsedData(), nullptr);
  THidDevice* held = taken;
  controller->CheckIn(held);
  ASSERT_FALSE(taken->IsCheckedOut());
  EXPECT_EQ(static_cast<uint32_t>(taken->GetUsages(usages, length, report, kInputLength)),
            0x80110001u);
}

TEST_F(ReportsTest, ButtonFormsMatchUsageForms) {
  THidDevice* device = Pad();
  device->SetUsagePageParam(HID_USAGE_PAGE_BUTTON);
  char report[kInputLength] = {1, 0b00100101, 0x40};

  std::vector<USAGE> usages(8), buttons(8);
  ULONG usageCount = 8, buttonCount = 8;
  ASSERT_EQ(device->GetUsages(usages.data(), usageCount, report, kInputLength),
            HIDP_STATUS_SUCCESS);
  ASSERT_EQ(device->GetButtons(buttons.data(), buttonCount, report, kInputLength),
            HIDP_STATUS_SUCCESS);
  usages.resize(usageCount);
  buttons.resize(buttonCount);
  EXPECT_EQ(usages, (std::vector<USAGE>{1, 3, 6}));
  EXPECT_EQ(buttons, usages);

  USAGE_AND_PAGE usagesEx[8]{}, buttonsEx[8]{};
  ULONG exCount = 8, buttonExCount = 8;
  ASSERT_EQ(device->GetUsagesEx(usagesEx, exCount, report, kInputLength), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(device->GetButtonsEx(buttonsEx, buttonExCount, report, kInputLength),
            HIDP_STATUS_SUCCESS);
  ASSERT_EQ(exCount, 3u);
  ASSERT_EQ(buttonExCount, exCount);
  for (ULONG i = 0; i < exCount; ++i) {
    EXPECT_EQ(usagesEx[i].Usage, usages[i]);
    EXPECT_EQ(usagesEx[i].UsagePage, HID_USAGE_PAGE_BUTTON);
    EXPECT_EQ(buttonsEx[i].Usage, usagesEx[i].Usage);
    EXPECT_EQ(buttonsEx[i].UsagePage, usagesEx[i].UsagePage);
  }

  // Setting and unsetting through either form changes the same bits.
  USAGE toSet[2] = {2, 8};
  char viaUsages[kInputLength] = {1, 0, 0};
  char viaButtons[kInputLength] = {1, 0, 0};
  ULONG setCount = 2;
  ASSERT_EQ(device->SetUsages(toSet, setCount, viaUsages, kInputLength), HIDP_STATUS_SUCCESS);
  setCount = 2;
  ASSERT_EQ(device->SetButtons(toSet, setCount, viaButtons, kInputLength), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(static_cast<uint8_t>(viaUsages[1]), 0b10000010);
  EXPECT_EQ(viaButtons[1], viaUsages[1]);
  USAGE toUnset[1] = {8};
  ULONG unsetCount = 1;
  ASSERT_EQ(device->UnsetUsages(toUnset, unsetCount, viaUsages, kInputLength), HIDP_STATUS_SUCCESS);
  unsetCount = 1;
  ASSERT_EQ(device->UnsetButtons(toUnset, unsetCount, viaButtons, kInputLength),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(viaUsages[1], 0b00000010);
  EXPECT_EQ(viaButtons[1], viaUsages[1]);
}

TEST_F(ReportsTest, CapabilitiesAndValuesFollowTheSelectors) {
  THidDevice* device = Pad();
  HIDP_BUTTON_CAPS all[4]{}, specific[4]{};
  USHORT allCount = 4, specificCount = 4;
  ASSERT_EQ(device->GetButtonCaps(all, allCount), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(device->GetSpecificButtonCaps(specific, specificCount), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(allCount, 1);
  ASSERT_EQ(specificCount, allCount);
  EXPECT_EQ(all[0].UsagePage, HID_USAGE_PAGE_BUTTON);
  EXPECT_EQ(specific[0].UsagePage, all[0].UsagePage);
  EXPECT_EQ(specific[0].Range.UsageMin, all[0].Range.UsageMin);
  EXPECT_EQ(specific[0].Range.UsageMax, 8);

  HIDP_VALUE_CAPS values[4]{};
  USHORT valueCount = 4;
  ASSERT_EQ(device->GetValueCaps(values, valueCount), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(valueCount, 1);
  EXPECT_EQ(values[0].NotRange.Usage, HID_USAGE_GENERIC_X);

  device->SetUsagePageParam(HID_USAGE_PAGE_GENERIC);
  device->SetUsageParam(HID_USAGE_GENERIC_X);
  char report[kInputLength] = {1, 0, 0x40};
  ULONG value = 0;
  ASSERT_EQ(device->GetUsageValue(value, report, kInputLength), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(value, 0x40u);
  ASSERT_EQ(device->SetUsageValue(0x7F, report, kInputLength), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report[2], 0x7F);
  // A usage the report lacks: the parser's own status comes back unchanged.
  device->SetUsageParam(HID_USAGE_GENERIC_Y);
  EXPECT_EQ(device->GetUsageValue(value, report, kInputLength), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST_F(ReportsTest, LinkCollectionNodesAreCachedAndZeroBeyondTheCount) {
  THidDevice* device = Pad();
  const USHORT count = device->Caps().NumberLinkCollectionNodes;
  ASSERT_EQ(count, 1);
  HIDP_LINK_COLLECTION_NODE node = device->GetLinkCollectionNode(0);
  EXPECT_EQ(node.LinkUsagePage, HID_USAGE_PAGE_GENERIC);
  EXPECT_EQ(node.LinkUsage, HID_USAGE_GENERIC_GAMEPAD);
  for (uint16_t idx : {count, uint16_t(count + 1), uint16_t(0xFFFF)}) {
    HIDP_LINK_COLLECTION_NODE beyond = device->GetLinkCollectionNode(idx);
    EXPECT_EQ(beyond.LinkUsagePage, 0) << idx;
    EXPECT_EQ(beyond.LinkUsage, 0) << idx;
    EXPECT_EQ(beyond.NumberOfChildren, 0) << idx;
  }
  // The cache serves once the device is back in the list.
  THidDevice* held = device;
  controller->CheckIn(held);
  ASSERT_FALSE(device->IsCheckedOut());
  EXPECT_EQ(device->GetLinkCollectionNode(0).LinkUsage, HID_USAGE_GENERIC_GAMEPAD);
}

TEST_F(ReportsTest, ExtendedAttributesAndReportInitialisationNeedPreparsedData) {
  THidDevice* device = Take(0);
  HIDP_EXTENDED_ATTRIBUTES attributes{};
  ULONG length = sizeof attributes;
  char report[kInputLength] = {0x55, 0x55, 0x55};
  // Nothing fetched yet: the platform is not asked with null preparsed data.
  EXPECT_EQ(device->GetExtendedAttributes(HidP_Input, 0, &attributes, length),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(device->InitializeReportForID(HidP_Input, 1, report, kInputLength),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  ASSERT_NE(device->PreparsedData(), nullptr);
  ASSERT_EQ(device->InitializeReportForID(HidP_Input, 1, report, kInputLength),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report[0], 1);
  EXPECT_EQ(report[1], 0);
  EXPECT_EQ(device->InitializeReportForID(HidP_Input, 9, report, kInputLength),
            HIDP_STATUS_REPORT_DOES_NOT_EXIST);
}

TEST_F(ReportsTest, InputAndOutputReportsOnTheMainHandle) {
  THidDevice* device = Take(0);
  char input[kInputLength] = {1, 0, 0};
  ASSERT_TRUE(device->GetInputReport(input, kInputLength));
  EXPECT_EQ(input[1], 0x05);
  EXPECT_EQ(input[2], 0x40);
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);

  char output[3] = {2, 0x11, 0x22};
  ASSERT_TRUE(device->SetOutputReport(output, sizeof output));
  EXPECT_EQ(world->Device(1)["generic"]["outputs"], TJson::array({"02 11 22"}));

  // A report ID the descriptor does not declare fails at the platform.
  char wrong[kInputLength] = {7, 0, 0};
  EXPECT_FALSE(device->GetInputReport(wrong, kInputLength));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ReportsTest, SynchronousReadWriteAndFlush) {
  THidDevice* device = Take(0);
  PushInput("01 02 03");
  char buffer[kInputLength]{};
  uint32_t read = 0;
  ASSERT_TRUE(device->ReadFile(buffer, sizeof buffer, read));
  EXPECT_EQ(read, kInputLength);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[2], 3);

  char output[3] = {2, 0x33, 0x44};
  uint32_t written = 0;
  ASSERT_TRUE(device->WriteFile(output, sizeof output, written));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(world->Device(1)["generic"]["outputs"], TJson::array({"02 33 44"}));

  PushInput("01 04 05");
  PushInput("01 06 07");
  ASSERT_TRUE(device->FlushQueue());
  EXPECT_EQ(world->Device(1)["generic"]["input"], TJson::array());
}

TEST_F(ReportsTest, MainHandleOperationsOnAnUnusableDeviceOpenNothing) {
  THidDevice* device = controller->Devices(0);
  char buffer[kInputLength] = {1, 0, 0};
  uint32_t count = 0;
  world->ClearLog();
  EXPECT_FALSE(device->GetInputReport(buffer, kInputLength));
  EXPECT_FALSE(device->SetOutputReport(buffer, kInputLength));
  EXPECT_FALSE(device->WriteFile(buffer, kInputLength, count));
  EXPECT_FALSE(device->FlushQueue());
  EXPECT_FALSE(device->DeviceIoControl(0, nullptr, 0, nullptr, 0, count));
  EXPECT_FALSE(device->ReadFileEx(buffer, kInputLength, nullptr));
  EXPECT_FALSE(device->WriteFileEx(buffer, kInputLength, nullptr));
  EXPECT_EQ(world->Calls("CreateFileW"), 0);
  EXPECT_EQ(device->HidOverlappedRead(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(device->HidOverlappedWrite(), INVALID_HANDLE_VALUE);
}

// Counts completions of overlapped requests on the issuing thread.
struct TCompletions {
  static inline int count = 0;
  static inline DWORD lastError = 0;
  static void WINAPI Done(DWORD error, DWORD, LPOVERLAPPED) {
    ++count;
    lastError = error;
  }
};

// Waits alertably until a completion routine ran, at most about ten seconds.
bool AwaitCompletion() {
  for (int i = 0; i < 1000; ++i) {
    if (::SleepEx(10, TRUE) == WAIT_IO_COMPLETION) {
      return true;
    }
  }
  return false;
}

TEST_F(ReportsTest, OverlappedReadCompletesAndCancels) {
  THidDevice* device = Take(0);
  EXPECT_EQ(device->HidOverlappedReadResult(), 0u);  // no handle yet
  EXPECT_FALSE(device->CancelIO(THidOpenExMode::omhRead));
  EXPECT_FALSE(device->CancelIO(THidOpenExMode::omhWrite));

  TCompletions::count = 0;
  char buffer[kInputLength]{};
  ASSERT_TRUE(device->ReadFileEx(buffer, sizeof buffer, &TCompletions::Done));
  EXPECT_EQ(device->HidOverlappedReadResult(), 0u);  // pending
  PushInput("01 09 0A");
  ASSERT_TRUE(AwaitCompletion());
  EXPECT_EQ(TCompletions::count, 1);
  EXPECT_EQ(TCompletions::lastError, 0u);
  EXPECT_EQ(device->HidOverlappedReadResult(), kInputLength);
  EXPECT_EQ(buffer[1], 0x09);

  // A pending read cancelled by its own thread completes as aborted.
  ASSERT_TRUE(device->ReadFileEx(buffer, sizeof buffer, &TCompletions::Done));
  EXPECT_TRUE(device->CancelIO(THidOpenExMode::omhRead));
  ASSERT_TRUE(AwaitCompletion());
  EXPECT_EQ(TCompletions::count, 2);
  EXPECT_EQ(TCompletions::lastError, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(device->HidOverlappedReadResult(), 0u);
}

TEST_F(ReportsTest, OverlappedWriteReportsItsByteCount) {
  THidDevice* device = Take(0);
  EXPECT_EQ(device->HidOverlappedWriteResult(), 0u);
  TCompletions::count = 0;
  char output[3] = {2, 0x55, 0x66};
  ASSERT_TRUE(device->WriteFileEx(output, sizeof output, &TCompletions::Done));
  ASSERT_TRUE(AwaitCompletion());
  EXPECT_EQ(TCompletions::count, 1);
  EXPECT_EQ(device->HidOverlappedWriteResult(), 3u);
  EXPECT_EQ(world->Device(1)["generic"]["outputs"], TJson::array({"02 55 66"}));
}

// NT 4.0 offers neither the extended attributes and report initialisation nor
// input and output reports: the device answers for them without the platform.
class ReportsOnAnOlderPlatformTest : public SimulatedTest {
 protected:
  void SetUp() override {
    platform::SetPlatformVersionForTest(platform::TPlatformVersion{VER_PLATFORM_WIN32_NT, 4, 0});
    StartScanned(TSimWorld::LoadWorld("gamepad.json"));
  }
  void TearDown() override {
    controller.reset();
    world.reset();  // the last unbind, so the next bind asks the real version
    platform::SetPlatformVersionForTest(std::nullopt);
  }
};

TEST_F(ReportsOnAnOlderPlatformTest, MissingOptionalFunctionsAreNotCalled) {
  ASSERT_EQ(platform::HidP_InitializeReportForID, nullptr);
  ASSERT_EQ(platform::HidD_GetInputReport, nullptr);
  THidDevice* device = Take(0);
  ASSERT_NE(device->PreparsedData(), nullptr);
  HIDP_EXTENDED_ATTRIBUTES attributes{};
  ULONG length = sizeof attributes;
  char report[kInputLength] = {1, 0, 0};
  EXPECT_EQ(
      static_cast<uint32_t>(device->GetExtendedAttributes(HidP_Input, 0, &attributes, length)),
      0xC0110020u);
  EXPECT_EQ(
      static_cast<uint32_t>(device->InitializeReportForID(HidP_Input, 1, report, kInputLength)),
      0xC0110020u);
  world->ClearLog();
  EXPECT_FALSE(device->GetInputReport(report, kInputLength));
  EXPECT_FALSE(device->SetOutputReport(report, kInputLength));
  EXPECT_EQ(world->Log().size(), 0u) << world->Log().dump();
  EXPECT_EQ(device->HidFileHandle(), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace quorvel::hid::test
