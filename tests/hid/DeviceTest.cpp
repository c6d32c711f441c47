// The device object over the simulated platform: opening, identification,
// the usable rule, caches, strings, descriptors, timing and freeing.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/PlatformKernel.h"
#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

constexpr const char* kDescriptor =
    "06 00 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 08 09 01 B1 02 C0";

TJson Generic(int id, TJson extra = TJson::object()) {
  TJson device = {{"id", id},
                  {"instance", 100 + id},
                  {"vendorId", 0x1234},
                  {"productId", id},
                  {"manufacturer", "Acme"},
                  {"product", "Pad " + std::to_string(id)},
                  {"reportDescriptor", kDescriptor},
                  {"generic", TJson::object()}};
  device.update(extra);
  return device;
}

TJson World(std::initializer_list<TJson> devices) {
  return {{"devices", TJson(devices)}};
}

// Reads a device's names inside an enumeration, where a free device is usable.
struct TNameReader {
  int calls = 0;
  bool Read(THidDevice* HidDev, int32_t) {
    ++calls;
    (void)HidDev->ProductName();
    (void)HidDev->VendorName();
    return true;
  }
  THidEnumerateEvent Handler() { return THidEnumerateEvent::Of<&TNameReader::Read>(this); }
};

using DeviceTest = SimulatedTest;

TEST_F(DeviceTest, PlainCreationIsRefused) {
  try {
    THidDevice device;
    FAIL() << "a THidDevice was made without its controller";
  } catch (const EControllerError& error) {
    EXPECT_STREQ(error.what(), "Direct creation of a THidDevice object is not allowed");
    EXPECT_STREQ(error.ClassName(), "EControllerError");
  }
}

struct TOpenCase {
  const char* open;
  bool readWrite;
  uint16_t vendor;
  ULONG attributesSize;
};

class DeviceOpenTest : public SimulatedTest, public ::testing::WithParamInterface<TOpenCase> {};

TEST_P(DeviceOpenTest, AccessAtCreationDecidesAttributesAndReadWriteAccess) {
  const TOpenCase& c = GetParam();
  StartScanned(World({Generic(1, {{"faults", {{"open", c.open}}}})}));
  ASSERT_EQ(controller->DeviceCount(), 1);
  THidDevice* device = controller->Devices(0);
  EXPECT_EQ(device->HasReadWriteAccess(), c.readWrite);
  EXPECT_EQ(device->Attributes().VendorID, c.vendor);
  EXPECT_EQ(device->Attributes().Size, c.attributesSize);
  // Identity reads close the handle again: a scanned device holds nothing open.
  EXPECT_EQ(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(world->OpenHandles(1), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, DeviceOpenTest,
                         ::testing::Values(TOpenCase{"normal", true, 0x1234, 12},
                                           TOpenCase{"metadataOnly", false, 0x1234, 12},
                                           TOpenCase{"refused", false, 0, 0}));

TEST_F(DeviceTest, DeviceOpenedWithoutAccessKeepsReadWriteAccessFalseAfterCheckOut) {
  StartScanned(World({Generic(1, {{"faults", {{"open", "metadataOnly"}}}})}));
  THidDevice* device = Take(0);
  EXPECT_TRUE(device->OpenFile());
  EXPECT_FALSE(device->HasReadWriteAccess());
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(DeviceTest, UnidentifiableDeviceLeavesItsPnPInfoWithTheHandler) {
  Start(World({Generic(1), Generic(2, {{"faults", {{"attributesError", 31}}}})}));
  struct THandler {
    std::u16string path;
    uint32_t id = 0;
    void Error(THidDeviceController*, THidPnPInfo* PnPInfo, bool& Handled, bool&) {
      path = PnPInfo->DevicePath();
      id = PnPInfo->DeviceID();
      Handled = true;
    }
  } handler;
  controller->SetOnDeviceCreateError(THidDeviceCreateError::Of<&THandler::Error>(&handler));
  controller->DeviceChange();
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101}));
  EXPECT_EQ(handler.id, 102u);
  EXPECT_FALSE(handler.path.empty());
  EXPECT_EQ(world->OpenHandles(2), 0);
  controller.reset();  // before the handlers above go
}

TEST_F(DeviceTest, FreeDeviceOutsideCallbacksOpensNothingAndYieldsItsCaches) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = controller->Devices(0);
  world->ClearLog();
  EXPECT_FALSE(device->OpenFile());
  EXPECT_FALSE(device->OpenFileEx(THidOpenExMode::omhRead));
  EXPECT_TRUE(device->ProductName().empty());
  EXPECT_TRUE(device->SerialNumber().empty());
  EXPECT_TRUE(device->GetDeviceString(1).empty());
  uint8_t report[9] = {};
  EXPECT_FALSE(device->GetFeature(report, sizeof report));
  device->SetNumInputBuffers(64);
  EXPECT_EQ(device->NumInputBuffers(), 0);
  device->SetReportTypeParam(HidP_Feature);
  EXPECT_EQ(device->MaxDataListLength(), 0u);
  EXPECT_EQ(world->Log().size(), 0u) << world->Log().dump();
}

TEST_F(DeviceTest, NamesAreReadInsideCallbacksAndCachedAfterwards) {
  StartScanned(World({Generic(1)}));
  TNameReader reader;
  controller->SetOnEnumerate(reader.Handler());
  world->ClearLog();
  controller->Enumerate();
  controller->Enumerate();
  EXPECT_EQ(world->Calls("HidD_GetProductString", 1), 1);
  EXPECT_EQ(world->Calls("HidD_GetManufacturerString", 1), 1);
  THidDevice* device = controller->Devices(0);
  EXPECT_EQ(device->ProductName(), u"Pad 1");
  EXPECT_EQ(device->VendorName(), u"Acme");
  EXPECT_EQ(world->OpenHandles(1), 0);
}

TEST_F(DeviceTest, EmptyNameIsAskedForAgain) {
  StartScanned(World({Generic(1, {{"product", nullptr}})}));
  TNameReader reader;
  controller->SetOnEnumerate(reader.Handler());
  world->ClearLog();
  controller->Enumerate();
  controller->Enumerate();
  EXPECT_EQ(world->Calls("HidD_GetProductString", 1), 2);
  EXPECT_TRUE(controller->Devices(0)->ProductName().empty());
}

struct TSerialCase {
  const char* name;
  TJson device;
  std::u16string serial;
};

class SerialNumberTest : public SimulatedTest, public ::testing::WithParamInterface<TSerialCase> {};

TEST_P(SerialNumberTest, SerialNumber) {
  StartScanned(World({GetParam().device}));
  THidDevice* device = Take(0);
  EXPECT_EQ(device->SerialNumber(), GetParam().serial);
  EXPECT_EQ(device->HidFileHandle(), INVALID_HANDLE_VALUE);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialNumberTest,
    ::testing::Values(
        TSerialCase{"Present", Generic(1, {{"serial", "SN-7"}}), u"SN-7"},
        TSerialCase{"None", Generic(1, {{"serial", nullptr}}), u""},
        // A stack that hands back the language list as the serial number.
        TSerialCase{"AnsweredWithLanguages",
                    Generic(1, {{"serial", "\xD0\x89"}, {"languages", {0x0409}}}), u""},
        TSerialCase{"AnsweredWithTwoLanguages",
                    Generic(1, {{"serial", "\xD0\x89\xD1\x89"}, {"languages", {0x0409, 0x0449}}}),
                    u""},
        // A serial whose first unit equals the only language is still a serial.
        TSerialCase{"SharesFirstUnitOnly",
                    Generic(1, {{"serial", "\xD0\x89X"}, {"languages", {0x0409, 0x0407}}}),
                    u"\u0409X"},
        TSerialCase{"LanguagesUnreadable",
                    Generic(1, {{"serial", "SN-7"}, {"languages", TJson::array()}}), u""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(DeviceTest, LanguageStringsNameUnknownLocales) {
  StartScanned(World({Generic(1, {{"languages", {0x0409, 0x04FF}}})}));
  THidDevice* device = Take(0);
  const TStringList& languages = device->LanguageStrings();
  ASSERT_EQ(languages.size(), 2u);
  EXPECT_EQ(languages[0], u"English (United States)");
  EXPECT_EQ(languages[1], u"Unknown Locale ID $04FF");
  world->ClearLog();
  EXPECT_EQ(device->LanguageStrings().size(), 2u);
  EXPECT_EQ(world->Calls("HidD_GetIndexedString"), 0);
}

TEST_F(DeviceTest, IndexedStringsAreNotCachedAndKeepTheHandleOpen) {
  StartScanned(World({Generic(1, {{"strings", {{"4", "Calibration"}}}})}));
  THidDevice* device = Take(0);
  world->ClearLog();
  EXPECT_TRUE(device->GetDeviceString(0).empty());
  EXPECT_EQ(world->Log().size(), 0u);
  EXPECT_EQ(device->GetDeviceString(4), u"Calibration");
  EXPECT_EQ(device->GetDeviceString(4), u"Calibration");
  EXPECT_EQ(world->Calls("HidD_GetIndexedString", 1), 2);
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(device->GetDeviceString(9).empty());
}

TEST_F(DeviceTest, PhysicalDescriptorIsProbedTwoBytesAtATime) {
  StartScanned(World({Generic(1, {{"physicalDescriptor", "01 02 03 04 05 06"}})}));
  THidDevice* device = Take(0);
  world->ClearLog();
  EXPECT_EQ(device->PhysicalDescriptor(), (TPhysicalDescriptor{0x0201, 0x0403, 0x0605}));
  EXPECT_EQ(world->Calls("HidD_GetPhysicalDescriptor", 1), 4);
  EXPECT_EQ(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  (void)device->PhysicalDescriptor();
  EXPECT_EQ(world->Calls("HidD_GetPhysicalDescriptor", 1), 4);
}

TEST_F(DeviceTest, MissingPhysicalDescriptorEndsTheProbeAtOnce) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = Take(0);
  world->ClearLog();
  EXPECT_TRUE(device->PhysicalDescriptor().empty());
  EXPECT_EQ(world->Calls("HidD_GetPhysicalDescriptor", 1), 1);
  // Empty counts as unread: the next access asks again.
  EXPECT_TRUE(device->PhysicalDescriptor().empty());
  EXPECT_EQ(world->Calls("HidD_GetPhysicalDescriptor", 1), 2);
}

TEST_F(DeviceTest, FeatureLeavesTheHandleOpenAndAFirstNameReadClosesIt) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  THidDevice* board = Take(0);
  uint8_t report[9] = {};
  ASSERT_TRUE(board->GetFeature(report, sizeof report));
  EXPECT_EQ(report[1], 'A');
  EXPECT_NE(board->HidFileHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(board->ProductName(), u"USBRelay8");
  EXPECT_EQ(board->HidFileHandle(), INVALID_HANDLE_VALUE);
  world->ClearLog();
  ASSERT_TRUE(board->GetFeature(report, sizeof report));
  EXPECT_EQ(world->Calls("CreateFileW", 1), 1);
}

TEST_F(DeviceTest, FeatureWithNegativeSizeIsRefusedBeforeThePlatform) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  THidDevice* board = Take(0);
  uint8_t report[9] = {};
  world->ClearLog();
  EXPECT_FALSE(board->GetFeature(report, -1));
  EXPECT_FALSE(board->SetFeature(report, -9));
  EXPECT_EQ(::GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(world->Calls("HidD_GetFeature") + world->Calls("HidD_SetFeature"), 0);
}

TEST_F(DeviceTest, HandlesOpenAndCloseOnTheirOwn) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = Take(0);
  ASSERT_TRUE(device->OpenFile());
  ASSERT_TRUE(device->OpenFileEx(THidOpenExMode::omhRead));
  ASSERT_TRUE(device->OpenFileEx(THidOpenExMode::omhWrite));
  EXPECT_EQ(world->OpenHandles(1), 3);
  EXPECT_GT(device->NumInputBuffers(), 0);
  EXPECT_GT(device->NumOverlappedBuffers(), 0);
  device->CloseFileEx(THidOpenExMode::omhRead);
  EXPECT_EQ(device->HidOverlappedRead(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(device->NumOverlappedBuffers(), 0);
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  device->CloseFile();
  EXPECT_EQ(device->NumInputBuffers(), 0);
  device->CloseFileEx(THidOpenExMode::omhWrite);
  EXPECT_EQ(world->OpenHandles(1), 0);
}

TEST_F(DeviceTest, InputBufferCountFollowsTheDriver) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = Take(0);
  device->SetNumInputBuffers(64);
  EXPECT_EQ(device->NumInputBuffers(), 64);
  device->CloseFile();
  EXPECT_EQ(device->NumInputBuffers(), 0);
}

struct TTimingCase {
  int32_t value;
  bool pollingAccepted;
  bool sleepAccepted;
};

class TimingTest : public SimulatedTest, public ::testing::WithParamInterface<TTimingCase> {};

TEST_P(TimingTest, OutOfRangeValuesAreIgnored) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = controller->Devices(0);
  device->SetPollingDelayTime(1234);
  device->SetThreadSleepTime(1234);
  device->SetPollingDelayTime(GetParam().value);
  device->SetThreadSleepTime(GetParam().value);
  EXPECT_EQ(device->PollingDelayTime(), GetParam().pollingAccepted ? GetParam().value : 1234);
  EXPECT_EQ(device->ThreadSleepTime(), GetParam().sleepAccepted ? GetParam().value : 1234);
}

INSTANTIATE_TEST_SUITE_P(Limits, TimingTest,
                         ::testing::Values(TTimingCase{-1, false, false},
                                           TTimingCase{0, true, false}, TTimingCase{9, true, false},
                                           TTimingCase{10, true, true},
                                           TTimingCase{10000, true, true},
                                           TTimingCase{10001, false, false}));

// A new device takes the controller's timing defaults as they stand, beyond its
// own setters' range too, except a sleep time the read thread cannot live with
// (0 or less: it would spin, or never wake).
struct TDefaultsCase {
  int32_t polling;
  int32_t sleep;
  int32_t expectedPolling;
  int32_t expectedSleep;
};

class NewDeviceDefaultsTest : public SimulatedTest,
                              public ::testing::WithParamInterface<TDefaultsCase> {};

TEST_P(NewDeviceDefaultsTest, TakesTheControllersDefaultsUnlessUnsafe) {
  const TDefaultsCase& c = GetParam();
  Start(TSimWorld::LoadWorld("three-devices.json"));
  controller->SetDevPollingDelayTime(c.polling);
  controller->SetDevThreadSleepTime(c.sleep);
  controller->DeviceChange();
  EXPECT_EQ(controller->DevPollingDelayTime(), c.polling);
  EXPECT_EQ(controller->DevThreadSleepTime(), c.sleep);
  EXPECT_EQ(controller->Devices(0)->PollingDelayTime(), c.expectedPolling);
  EXPECT_EQ(controller->Devices(0)->ThreadSleepTime(), c.expectedSleep);
  if (c.sleep > 0) {
    // A device that took a default follows the next one.
    controller->SetDevThreadSleepTime(50);
    EXPECT_EQ(controller->Devices(0)->ThreadSleepTime(), 50);
  }
}

INSTANTIATE_TEST_SUITE_P(Defaults, NewDeviceDefaultsTest,
                         ::testing::Values(TDefaultsCase{30, 5, 30, 5}, TDefaultsCase{0, 1, 0, 1},
                                           TDefaultsCase{20000, 9, 20000, 9},
                                           TDefaultsCase{0, 20000, 0, 20000},
                                           TDefaultsCase{0, 0, 0, 100},
                                           TDefaultsCase{-1, -1, -1, 100}));

struct TDataSink {
  void Data(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
};

TEST_F(DeviceTest, FreeingACheckedOutDeviceReplacesItInPlace) {
  StartScanned(World({Generic(1), Generic(2), Generic(3)}));
  TDataSink sink;
  TRecorder recorder;
  THidDevice* device = Take(1);
  THidPnPInfo* pnp = device->PnPInfo();
  const auto onData = THidDataEvent::Of<&TDataSink::Data>(&sink);
  device->SetOnData(onData);
  device->SetOnUnplug(recorder.OnUnplug());
  device->SetPollingDelayTime(20);
  device->SetThreadSleepTime(40);
  device->SetTag(7);
  ASSERT_TRUE(device->OpenFile());
  delete device;  // the application gives a borrowed device back by freeing it
  ASSERT_EQ(controller->DeviceCount(), 3);
  THidDevice* replacement = controller->Devices(1);
  EXPECT_EQ(replacement->PnPInfo(), pnp);
  EXPECT_FALSE(replacement->IsCheckedOut());
  EXPECT_EQ(replacement->OnData(), onData);
  EXPECT_EQ(replacement->OnUnplug(), recorder.OnUnplug());
  EXPECT_EQ(replacement->PollingDelayTime(), 20);
  EXPECT_EQ(replacement->ThreadSleepTime(), 40);
  EXPECT_EQ(replacement->Tag(), 0);
  EXPECT_EQ(controller->NumCheckedInDevices(), 3);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
  EXPECT_EQ(world->OpenHandles(2), 0);
  ExpectInvariants(*controller);
  controller.reset();  // before the handlers above go
}

// The replacement made at free takes the controller's data-error handler, not
// the freed device's own.
TEST_F(DeviceTest, ReplacementCarriesTheControllersDataErrorHandler) {
  StartScanned(World({Generic(1)}));
  struct TErrors {
    void Error(THidDevice*, uint32_t) {}
  } controllers, own;
  const auto fromController = THidDataErrorEvent::Of<&TErrors::Error>(&controllers);
  controller->SetOnDeviceDataError(fromController);
  THidDevice* device = Take(0);
  device->SetOnDataError(THidDataErrorEvent::Of<&TErrors::Error>(&own));
  delete device;
  ASSERT_EQ(controller->DeviceCount(), 1);
  EXPECT_EQ(controller->Devices(0)->OnDataError(), fromController);
  controller.reset();  // before the handlers above go
}

TEST_F(DeviceTest, FreeingADeviceThatCanNoLongerBeIdentifiedRemovesItsEntry) {
  StartScanned(World({Generic(1), Generic(2), Generic(3)}));
  THidDevice* device = Take(0);
  world->Change(1, {{"faults", {{"attributesError", 31}}}});
  world->Change(2, {{"faults", {{"attributesError", 31}}}});
  delete device;
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{102, 103}));
  ExpectInvariants(*controller);
  // A free entry leaves the list the same way, from the checked-in count.
  delete controller->Devices(0);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{103}));
  EXPECT_EQ(controller->NumCheckedInDevices(), 1);
  ExpectInvariants(*controller);
}

TEST_F(DeviceTest, FreeingAFreeDeviceReplacesItWithoutMovingCounters) {
  StartScanned(World({Generic(1), Generic(2)}));
  THidDevice* device = controller->Devices(0);
  THidPnPInfo* pnp = device->PnPInfo();
  delete device;
  ASSERT_EQ(controller->DeviceCount(), 2);
  EXPECT_EQ(controller->Devices(0)->PnPInfo(), pnp);
  EXPECT_EQ(controller->NumCheckedInDevices(), 2);
  ExpectInvariants(*controller);
}

TEST_F(DeviceTest, FreeingAnUnpluggedDeviceRemovesItsEntry) {
  StartScanned(World({Generic(1), Generic(2)}));
  THidDevice* device = Take(0);
  world->Remove(1);
  controller->DeviceChange();
  ASSERT_EQ(controller->NumUnpluggedDevices(), 1);
  delete device;
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{102}));
  EXPECT_EQ(controller->NumUnpluggedDevices(), 0);
  ExpectInvariants(*controller);
}

TEST_F(DeviceTest, MarkUnpluggedRaisesOnUnplugOnce) {
  StartScanned(World({Generic(1)}));
  TRecorder recorder;
  THidDevice* device = Take(0);
  device->SetOnUnplug(recorder.OnUnplug());
  ASSERT_TRUE(device->OpenFile());
  device->MarkUnplugged();
  device->MarkUnplugged();
  EXPECT_EQ(recorder.Take(), (std::vector<std::string>{"Unplug 101"}));
  EXPECT_FALSE(device->IsPluggedIn());
  EXPECT_FALSE(device->OnUnplug().Assigned());
  EXPECT_EQ(world->OpenHandles(1), 0);
  EXPECT_FALSE(device->OpenFile());
  controller.reset();  // before the handlers above go
}

TEST_F(DeviceTest, FailingOnUnplugIsStillRaisedOnlyOnce) {
  StartScanned(World({Generic(1)}));
  struct TFailing {
    int calls = 0;
    void Unplug(THidDevice*) {
      ++calls;
      throw std::runtime_error("handler failed");
    }
  } handler;
  THidDevice* device = Take(0);
  device->SetOnUnplug(THidPlugEvent::Of<&TFailing::Unplug>(&handler));
  world->Remove(1);
  EXPECT_THROW(controller->DeviceChange(), std::runtime_error);
  EXPECT_FALSE(device->IsPluggedIn());
  EXPECT_FALSE(device->OnUnplug().Assigned());
  // Each later scan marks the listed, unplugged device again.
  controller->DeviceChange();
  controller->DeviceChange();
  EXPECT_EQ(handler.calls, 1);
  controller.reset();  // before the handler goes
}

TEST_F(DeviceTest, DeviceChecksItselfOut) {
  StartScanned(World({Generic(1)}));
  THidDevice* device = controller->Devices(0);
  EXPECT_TRUE(device->CheckOut());
  EXPECT_FALSE(device->CheckOut());
  EXPECT_EQ(controller->NumCheckedOutDevices(), 1);
  EXPECT_EQ(controller->NumCheckedInDevices(), 0);
  THidDevice* again = nullptr;
  EXPECT_FALSE(controller->CheckOut(again));
}

TEST_F(DeviceTest, ListLengthsFollowTheSelectorsOnAUsableDevice) {
  // Eight feature buttons (usages 1 to 8 of the button page), one bit each.
  const char* buttons = "06 00 FF 09 01 A1 01 05 09 19 01 29 08 15 00 25 01 75 01 95 08 B1 02 C0";
  StartScanned(World({Generic(1, {{"reportDescriptor", buttons}})}));
  THidDevice* device = Take(0);
  device->SetReportTypeParam(HidP_Feature);
  device->SetUsagePageParam(0x09);
  EXPECT_EQ(device->MaxDataListLength(), 8u);
  EXPECT_EQ(device->MaxUsageListLength(), 8u);
  EXPECT_EQ(device->MaxButtonListLength(), 8u);
  device->SetReportTypeParam(HidP_Input);
  EXPECT_EQ(device->MaxDataListLength(), 0u);
  EXPECT_EQ(device->MaxUsageListLength(), 0u);
  EXPECT_EQ(device->Caps().FeatureReportByteLength, 2);
}

}  // namespace
}  // namespace quorvel::hid::test
