// The device-installation entry points over fixture trees: the scan as the layer runs it,
// the size-query protocols, the registry properties, and bad records and handles.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/modules/Guids.h"
#include "platform/posix/Kernel.h"
#include "tests/linux/ModuleEntries.h"
#include "tests/linux/SysfsFixture.h"
#include "tests/linux/TestRoot.h"

namespace quorvel::hidraw::test {
namespace {

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kErrorInvalidRegProperty = 0xE0000209;
const std::vector<std::string> kThreeDevices{"bluetooth-keyboard.tree", "usb-relay-board.tree",
                                             "uhid-relay-board.tree"};

struct TScanned {
  std::u16string Path;
  SP_DEVINFO_DATA Info;
};

// The layer's scan: enumerate, ask the detail size, then the detail.
std::vector<TScanned> Scan(HDEVINFO set) {
  std::vector<TScanned> found;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, index, &data)) {
      EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
      break;
    }
    DWORD required = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, /*DetailData=*/nullptr,
                                                  /*DetailDataSize=*/0, &required, &info));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<unsigned char> buffer(required, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, &info));
    std::u16string path(reinterpret_cast<const char16_t*>(buffer.data() + 4), (required - 4) / 2);
    // The terminating zero ends exactly at the required size.
    EXPECT_EQ(path.back(), u'\0');
    path.pop_back();
    EXPECT_EQ(path.find(u'\0'), std::u16string::npos);
    found.push_back({path, info});
  }
  return found;
}

class SetupApiTest : public ::testing::Test {
 protected:
  void TearDown() override { SetModuleRoot(""); }

  HDEVINFO Open(const TSysfsFixture& fixture) {
    SetModuleRoot(fixture.Root());
    HDEVINFO set = SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, kPresentInterfaces);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    return set;
  }
};

TEST_F(SetupApiTest, ListsNodesInOrderOfMinorNumberWithInstanceNumbers) {
  TSysfsFixture fixture(kThreeDevices);
  HDEVINFO set = Open(fixture);
  const auto found = Scan(set);
  ASSERT_EQ(found.size(), 3u);
  // hidraw10 comes after hidraw2: numbers, not names, order the nodes.
  const char* names[] = {"/dev/hidraw0", "/dev/hidraw2", "/dev/hidraw10"};
  const DWORD instances[] = {0x0007, 0x0003, 0x000A};
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::string expected = fixture.Path(names[i]);
    EXPECT_EQ(found[i].Path, std::u16string(expected.begin(), expected.end())) << i;
    EXPECT_EQ(found[i].Info.DevInst, instances[i]) << i;
    EXPECT_EQ(found[i].Info.ClassGuid, kHidClassGuid) << i;
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, SystemWithoutHidrawGivesAnEmptySet) {
  TSysfsFixture fixture({});
  fixture.Remove("/sys/class/hidraw");
  HDEVINFO set = Open(fixture);
  EXPECT_TRUE(Scan(set).empty());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, OtherClassesAndEnumeratorsGiveEmptySets) {
  TSysfsFixture fixture(kThreeDevices);
  SetModuleRoot(fixture.Root());
  const GUID otherInterface{
      0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
  struct TCase {
    const GUID* Guid;
    const char16_t* Enumerator;
    DWORD Flags;
    std::size_t Expected;
  } cases[] = {
      {&otherInterface, nullptr, kPresentInterfaces, 0},
      {&kHidInterfaceGuid, u"USB", kPresentInterfaces, 0},
      {&kHidInterfaceGuid, u"hid", kPresentInterfaces, 3},
      {nullptr, nullptr, kPresentInterfaces | DIGCF_ALLCLASSES, 3},
      {&kHidClassGuid, nullptr, DIGCF_PRESENT, 3},
  };
  for (const TCase& c : cases) {
    HDEVINFO set = SetupDiGetClassDevsW(c.Guid, c.Enumerator, nullptr, c.Flags);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Scan(set).size(), c.Expected) << c.Flags;
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  }
}

TEST_F(SetupApiTest, BadArgumentsFailWithThePlatformsCodes) {
  TSysfsFixture fixture(kThreeDevices);
  SetModuleRoot(fixture.Root());
  EXPECT_EQ(SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, 0x100),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, kPresentInterfaces),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HDEVINFO set = SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, kPresentInterfaces);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = 28;  // the 32-bit size, refused in a 64-bit process
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &data));

  alignas(8) unsigned char buffer[64] = {};
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
  detail->cbSize = 6;  // the 32-bit fixed part
  EXPECT_FALSE(
      SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 8, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SP_DEVINFO_DATA info{};
  info.cbSize = 28;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, nullptr, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

  // A record of one set means nothing to another.
  HDEVINFO other = SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, kPresentInterfaces);
  EXPECT_FALSE(
      SetupDiGetDeviceInterfaceDetailW(other, &data, detail, sizeof buffer, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  // Destroyed and made-up sets are refused, not followed.
  int notASet = 0;
  for (HDEVINFO stale : {set, static_cast<HDEVINFO>(&notASet), INVALID_HANDLE_VALUE}) {
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(stale, nullptr, &kHidInterfaceGuid, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(stale));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST_F(SetupApiTest, DetailBufferOneByteShortFailsAndLeavesItAlone) {
  TSysfsFixture fixture({"usb-relay-board.tree"});
  HDEVINFO set = Open(fixture);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &data));
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
  const std::string path = fixture.Path("/dev/hidraw2");
  EXPECT_EQ(required, 4 + 2 * (path.size() + 1));
  std::vector<unsigned char> buffer(required - 1, 0xAB);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  EXPECT_FALSE(
      SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required - 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[4], 0xAB);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

// A property read the way the layer reads it: size query, then value.
struct TProperty {
  DWORD Type = 0;
  std::vector<unsigned char> Bytes;
};

std::optional<TProperty> ReadProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD code) {
  DWORD required = 0;
  DWORD type = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, code, &type, nullptr, 0, &required));
  if (required == 0) {
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << code;
    return std::nullopt;
  }
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << code;
  TProperty value;
  value.Bytes.assign(required, 0xEE);
  EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, code, &value.Type, value.Bytes.data(),
                                                required, &required));
  return value;
}

std::vector<unsigned char> Utf16Bytes(const std::vector<std::u16string>& texts, bool multi) {
  std::vector<unsigned char> bytes;
  for (const auto& text : texts) {
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
      bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
  }
  if (multi) {
    bytes.insert(bytes.end(), {0, 0});
  }
  return bytes;
}

struct TPropertyCase {
  const char* Tree;
  DWORD Code;
  DWORD Type;                         // REG_NONE: the property is absent
  std::vector<std::u16string> Texts;  // REG_SZ: one; REG_MULTI_SZ: the list
};

class PropertyTest : public SetupApiTest, public ::testing::WithParamInterface<TPropertyCase> {};

TEST_P(PropertyTest, AnswersFromSysfs) {
  const TPropertyCase& c = GetParam();
  TSysfsFixture fixture({c.Tree});
  HDEVINFO set = Open(fixture);
  auto found = Scan(set);
  ASSERT_EQ(found.size(), 1u);
  const auto value = ReadProperty(set, found[0].Info, c.Code);
  if (c.Type == REG_NONE) {
    EXPECT_FALSE(value.has_value());
  } else {
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->Type, c.Type);
    EXPECT_EQ(value->Bytes, Utf16Bytes(c.Texts, c.Type == REG_MULTI_SZ));
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

const char kUsbRelay[] = "usb-relay-board.tree";
const char kUhidRelay[] = "uhid-relay-board.tree";
const char kKeyboard[] = "bluetooth-keyboard.tree";
const char kComposite[] = "usb-composite-keyboard.tree";

INSTANTIATE_TEST_SUITE_P(
    Devices, PropertyTest,
    ::testing::Values(
        TPropertyCase{
            kUsbRelay, SPDRP_DEVICEDESC, REG_SZ, {u"HID-compliant vendor-defined device"}},
        TPropertyCase{kUsbRelay,
                      SPDRP_HARDWAREID,
                      REG_MULTI_SZ,
                      {u"HID\\VID_16C0&PID_05DF&REV_0100", u"HID\\VID_16C0&PID_05DF",
                       u"HID_DEVICE_UP:FF00_U:0001", u"HID_DEVICE"}},
        TPropertyCase{kUsbRelay, SPDRP_SERVICE, REG_SZ, {u"hid-generic"}},
        TPropertyCase{kUsbRelay, SPDRP_CLASS, REG_SZ, {u"HIDClass"}},
        TPropertyCase{
            kUsbRelay, SPDRP_CLASSGUID, REG_SZ, {u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"}},
        TPropertyCase{kUsbRelay, SPDRP_MFG, REG_SZ, {u"www.dcttech.com"}},
        TPropertyCase{
            kUsbRelay, SPDRP_LOCATION_INFORMATION, REG_SZ, {u"usb-0000:00:14.0-2/input0"}},
        TPropertyCase{kUsbRelay,
                      SPDRP_PHYSICAL_DEVICE_OBJECT_NAME,
                      REG_SZ,
                      {u"/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:16C0:05DF.0003"}},
        TPropertyCase{kUsbRelay, SPDRP_ENUMERATOR_NAME, REG_SZ, {u"HID"}},
        TPropertyCase{kUsbRelay, SPDRP_FRIENDLYNAME, REG_NONE, {}},
        TPropertyCase{kUsbRelay, SPDRP_COMPATIBLEIDS, REG_NONE, {}},
        TPropertyCase{kUsbRelay, SPDRP_UPPERFILTERS, REG_NONE, {}},
        TPropertyCase{kUsbRelay, SPDRP_DRIVER, REG_NONE, {}},
        TPropertyCase{kUsbRelay, SPDRP_DEVICE_POWER_DATA, REG_NONE, {}},
        TPropertyCase{kUsbRelay, SPDRP_SECURITY_SDS, REG_NONE, {}},
        // A uhid device has no version, no manufacturer and no physical path.
        TPropertyCase{kUhidRelay,
                      SPDRP_HARDWAREID,
                      REG_MULTI_SZ,
                      {u"HID\\VID_16C0&PID_05DF&REV_0000", u"HID\\VID_16C0&PID_05DF",
                       u"HID_DEVICE_UP:FF00_U:0001", u"HID_DEVICE"}},
        TPropertyCase{kUhidRelay, SPDRP_MFG, REG_NONE, {}},
        TPropertyCase{kUhidRelay, SPDRP_LOCATION_INFORMATION, REG_NONE, {}},
        TPropertyCase{kKeyboard, SPDRP_DEVICEDESC, REG_SZ, {u"HID Keyboard Device"}},
        TPropertyCase{kKeyboard,
                      SPDRP_HARDWAREID,
                      REG_MULTI_SZ,
                      {u"HID\\VID_046D&PID_B33C&REV_0000", u"HID\\VID_046D&PID_B33C",
                       u"HID_DEVICE_SYSTEM_KEYBOARD", u"HID_DEVICE_UP:0001_U:0006", u"HID_DEVICE"}},
        TPropertyCase{kKeyboard, SPDRP_LOCATION_INFORMATION, REG_SZ, {u"9c:b6:d0:11:22:33"}},
        TPropertyCase{
            kComposite, SPDRP_DEVICEDESC, REG_SZ, {u"HID-compliant consumer control device"}},
        TPropertyCase{kComposite, SPDRP_MFG, REG_SZ, {u"Microsoft"}}));

TEST_F(SetupApiTest, PropertySizeProtocol) {
  TSysfsFixture fixture({kUsbRelay});
  HDEVINFO set = Open(fixture);
  auto found = Scan(set);
  ASSERT_EQ(found.size(), 1u);
  SP_DEVINFO_DATA& info = found[0].Info;

  // Too small by one: nothing copied, the size told.
  DWORD required = 0;
  unsigned char buffer[64];
  std::memset(buffer, 0xEE, sizeof buffer);
  const DWORD needed = (8 + 1) * 2;  // "HIDClass" and its zero
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_CLASS, nullptr, buffer,
                                                 needed - 1, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, needed);
  EXPECT_EQ(buffer[0], 0xEE);

  // Absent: the required size is not written; the caller's own value (0) stays.
  required = 77;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr, nullptr,
                                                 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(required, 77u);

  // A 32-bit number into a 4-byte buffer.
  DWORD number = 0xFFFFFFFF;
  DWORD type = 0;
  EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_INSTALL_STATE, &type,
                                                reinterpret_cast<PBYTE>(&number), 4, nullptr));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(number, 0u);

  // The bus type is the HID bus GUID's 16 bytes.
  const auto bus = ReadProperty(set, info, SPDRP_BUSTYPEGUID);
  ASSERT_TRUE(bus.has_value());
  EXPECT_EQ(bus->Type, REG_BINARY);
  ASSERT_EQ(bus->Bytes.size(), 16u);
  GUID busGuid{};
  std::memcpy(&busGuid, bus->Bytes.data(), 16);
  EXPECT_EQ(busGuid, kHidBusTypeGuid);

  for (DWORD code :
       {SPDRP_UNUSED0, SPDRP_UNUSED1, SPDRP_UNUSED2, SPDRP_MAXIMUM_PROPERTY, DWORD{0x1000}}) {
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &info, code, nullptr, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), kErrorInvalidRegProperty) << code;
  }
  SP_DEVINFO_DATA forged = info;
  forged.Reserved ^= 0x10;
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyW(set, &forged, SPDRP_CLASS, nullptr, nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, SetOutlivesTheDevicesItListed) {
  TSysfsFixture fixture({kUsbRelay});
  HDEVINFO set = Open(fixture);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &data));
  fixture.Remove("/sys");
  const auto found = Scan(set);
  ASSERT_EQ(found.size(), 1u);
  SP_DEVINFO_DATA info = found[0].Info;
  EXPECT_TRUE(ReadProperty(set, info, SPDRP_HARDWAREID).has_value());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, DeviceInfoRecordSelectsItsOwnInterface) {
  TSysfsFixture fixture(kThreeDevices);
  HDEVINFO set = Open(fixture);
  auto found = Scan(set);
  ASSERT_EQ(found.size(), 3u);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, &found[1].Info, &kHidInterfaceGuid, 0, &data));
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, &info);
  EXPECT_EQ(info.DevInst, found[1].Info.DevInst);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, &found[1].Info, &kHidInterfaceGuid, 1, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

}  // namespace
}  // namespace quorvel::hidraw::test
