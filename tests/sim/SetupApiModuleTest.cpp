// The simulated device-installation module through the binding, as the layer's scan
// uses it: sets, interfaces, interface paths with their size queries, registry
// properties with theirs, and the entry points the layer never calls.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "platform/SetupApi.h"
#include "sim/SimControl.h"
#include "wintypes/WinTypes.h"

#ifndef _WIN32
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::sim {
namespace {

using TJson = TSimControl::TJson;

constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class SetupApiModule : public ::testing::Test {
 protected:
  // One binding for the suite; each test checks it, so a module that cannot be bound
  // fails every test rather than passing unnoticed.
  static void SetUpTestSuite() {
#ifdef QUORVEL_SIM_DIR
    platform::SetModuleDirectoryForTest(QUORVEL_SIM_DIR);
#endif
    Bound = platform::BindSetupApi();
  }
  static void TearDownTestSuite() {
    if (Bound) {
      platform::UnbindSetupApi();
    }
    Bound = false;
  }

  void SetUp() override {
    ASSERT_TRUE(Bound) << "the simulated device-installation module cannot be bound";
    Sim.emplace();
    Sim->Reset({{"devices",
                 {{{"relay", {{"boardId", "AAAAA"}, {"relays", 2}}}},
                  {{"relay", {{"boardId", "BBBBB"}}}, {"instance", 77}},
                  {{"generic", TJson::object()},
                   {"vendorId", "0x1209"},
                   {"properties", {{"SPDRP_FRIENDLYNAME", nullptr}, {"SPDRP_UI_NUMBER", 5}}}}}}});
  }

  // The present HID interfaces, as the scan makes them.
  HDEVINFO Set(DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) {
    const HDEVINFO set = platform::SetupDiGetClassDevsSlot()(&kHidGuid, nullptr, nullptr, flags);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    return set;
  }

  static SP_DEVICE_INTERFACE_DATA Interface(HDEVINFO set, DWORD index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_TRUE(platform::SetupDiEnumDeviceInterfacesSlot()(set, nullptr, &kHidGuid, index, &data));
    return data;
  }

  static SP_DEVINFO_DATA DevInfo(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    DWORD required = 0;
    platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &interface, nullptr, 0, &required, &info);
    return info;
  }

  static inline bool Bound = false;
  std::optional<TSimControl> Sim;
};

TEST_F(SetupApiModule, ScanGivesEveryPathWithItsTerminatorAtTheRequiredSize) {
  const HDEVINFO set = Set();
  const auto world = Sim->World()["devices"];
  for (DWORD index = 0; index < world.size(); ++index) {
    auto interface = Interface(set, index);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    DWORD required = 0;
    SetLastError(0);
    EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailSlot()(
        set, &interface, /*DeviceInterfaceDetailData=*/nullptr, /*DeviceInterfaceDetailDataSize=*/0,
        &required, &info));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const auto path = world[index]["path"].get<std::string>();
    ASSERT_EQ(required, 4 + (path.size() + 1) * 2);
    EXPECT_EQ(info.DevInst, world[index]["instance"].get<DWORD>());

    std::vector<std::uint8_t> buffer(required, 0xAB);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA second{};
    second.cbSize = sizeof second;
    ASSERT_TRUE(platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &interface, detail, required,
                                                                nullptr, &second));
    EXPECT_EQ(second.DevInst, info.DevInst);
    std::u16string got(reinterpret_cast<const char16_t*>(buffer.data() + 4),
                       (required - 4) / 2 - 1);
    EXPECT_EQ(std::string(got.begin(), got.end()), path);
    EXPECT_EQ(buffer[required - 2], 0);
    EXPECT_EQ(buffer[required - 1], 0);
  }
  SP_DEVICE_INTERFACE_DATA past{};
  past.cbSize = sizeof past;
  SetLastError(0);
  EXPECT_FALSE(platform::SetupDiEnumDeviceInterfacesSlot()(
      set, nullptr, &kHidGuid, static_cast<DWORD>(world.size()), &past));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoListSlot()(set));
  EXPECT_FALSE(platform::SetupDiDestroyDeviceInfoListSlot()(set));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SetupApiModule, RecordsOfTheWrongSizeAreRefused) {
  const HDEVINFO set = Set();
  SP_DEVICE_INTERFACE_DATA interface {};
  interface.cbSize = 28;  // the 32-bit size
  EXPECT_FALSE(platform::SetupDiEnumDeviceInterfacesSlot()(set, nullptr, &kHidGuid, 0, &interface));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

  interface = Interface(set, 0);
  std::vector<std::uint8_t> buffer(512, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = 6;  // the 32-bit fixed part
  EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailSlot()(
      set, &interface, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

  SP_DEVINFO_DATA info{};
  info.cbSize = 28;
  DWORD required = 0;
  EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &interface, nullptr, 0,
                                                               &required, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

  info = DevInfo(set, interface);
  info.cbSize = 28;
  EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertySlot()(set, &info, SPDRP_CLASS, nullptr,
                                                                nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  platform::SetupDiDestroyDeviceInfoListSlot()(set);
}

struct PropertyCase {
  const char* Name;
  DWORD Device;  // position in the set
  DWORD Property;
  DWORD Type;
  std::vector<std::uint8_t> Value;
};

std::vector<std::uint8_t> Utf16(std::initializer_list<const char*> texts, bool list) {
  std::vector<std::uint8_t> bytes;
  for (const char* text : texts) {
    for (const char* c = text; *c != '\0'; ++c) {
      bytes.push_back(static_cast<std::uint8_t>(*c));
      bytes.push_back(0);
    }
    bytes.insert(bytes.end(), {0, 0});
  }
  if (list) {
    bytes.insert(bytes.end(), {0, 0});
  }
  return bytes;
}

const PropertyCase kProperties[] = {
    {"Text", 0, SPDRP_CLASS, REG_SZ, Utf16({"HIDClass"}, false)},
    {"List", 1, SPDRP_HARDWAREID, REG_MULTI_SZ,
     Utf16({"HID\\VID_16C0&PID_05DF&REV_0100", "HID\\VID_16C0&PID_05DF", "HID_DEVICE"}, true)},
    {"Number", 2, SPDRP_UI_NUMBER, REG_DWORD, {5, 0, 0, 0}},
    {"Binary",
     0,
     SPDRP_BUSTYPEGUID,
     REG_BINARY,
     {0xd0, 0x37, 0xaf, 0xee, 0x63, 0x19, 0xc4, 0x47, 0xaa, 0x48, 0x72, 0x47, 0x6d, 0xb7, 0xcf,
      0x49}},
};

class Properties : public SetupApiModule, public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(Properties, SizeQueryThenValue) {
  const auto& c = GetParam();
  const HDEVINFO set = Set();
  auto interface = Interface(set, c.Device);
  auto info = DevInfo(set, interface);
  DWORD type = 0;
  DWORD required = 0;
  SetLastError(0);
  EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertySlot()(set, &info, c.Property, &type,
                                                                nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_EQ(required, c.Value.size());

  std::vector<std::uint8_t> shortBuffer(required - 1, 0);
  EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertySlot()(
      set, &info, c.Property, &type, shortBuffer.data(), required - 1, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  std::vector<std::uint8_t> value(required, 0xEE);
  ASSERT_TRUE(platform::SetupDiGetDeviceRegistryPropertySlot()(set, &info, c.Property, &type,
                                                               value.data(), required, nullptr));
  EXPECT_EQ(type, c.Type);
  EXPECT_EQ(value, c.Value);
  platform::SetupDiDestroyDeviceInfoListSlot()(set);
}

INSTANTIATE_TEST_SUITE_P(Module, Properties, ::testing::ValuesIn(kProperties),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(SetupApiModule, AbsentPropertyLeavesTheRequiredSizeAlone) {
  const HDEVINFO set = Set();
  auto interface = Interface(set, 2);
  auto info = DevInfo(set, interface);
  for (const DWORD property :
       {DWORD{SPDRP_FRIENDLYNAME}, DWORD{SPDRP_COMPATIBLEIDS}, DWORD{SPDRP_ADDRESS}}) {
    DWORD required = 0;
    EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertySlot()(set, &info, property, nullptr,
                                                                  nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << property;
    EXPECT_EQ(required, 0u) << property;
  }
  platform::SetupDiDestroyDeviceInfoListSlot()(set);
}

TEST_F(SetupApiModule, SetIsASnapshotOfThePresentDevices) {
  Sim->ChangeDevice(1, {{"vanished", true}});
  const HDEVINFO present = Set();
  const HDEVINFO all = Set(DIGCF_DEVICEINTERFACE);
  Sim->AddRelayBoard("CCCCC");  // after the sets were made
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_TRUE(platform::SetupDiEnumDeviceInterfacesSlot()(present, nullptr, &kHidGuid, 1, &data));
  EXPECT_FALSE(platform::SetupDiEnumDeviceInterfacesSlot()(present, nullptr, &kHidGuid, 2, &data));
  EXPECT_TRUE(platform::SetupDiEnumDeviceInterfacesSlot()(all, nullptr, &kHidGuid, 2, &data));
  EXPECT_FALSE(platform::SetupDiEnumDeviceInterfacesSlot()(all, nullptr, &kHidGuid, 3, &data));
  platform::SetupDiDestroyDeviceInfoListSlot()(present);
  platform::SetupDiDestroyDeviceInfoListSlot()(all);
}

struct StubCase {
  const char* Export;
  LONG_PTR Result;
};

const StubCase kStubs[] = {
    {"SetupDiCreateDeviceInfoList", -1},    // INVALID_HANDLE_VALUE
    {"SetupDiEnumDeviceInfo", 0},           // FALSE
    {"SetupGetFileCompressionInfoW", 120},  // the error code itself
    {"SetupPromptForDiskW", 1},             // DPROMPT_CANCEL
    {"SetupPromptReboot", -1},
    {"SetupGetLineCountW", -1},       // a LONG count: -1 for no such section
    {"SetupInitializeFileLogW", -1},  // a file-log handle: INVALID_HANDLE_VALUE
};

class NotImplemented : public SetupApiModule, public ::testing::WithParamInterface<StubCase> {};

TEST_P(NotImplemented, FailsCleanly) {
  bool ok = true;
  const auto entry = reinterpret_cast<LONG_PTR(WINAPI*)()>(
      platform::ResolveSymbol(platform::SetupApiModule(), GetParam().Export, ok));
  ASSERT_TRUE(ok);
  SetLastError(0);
  EXPECT_EQ(entry(), GetParam().Result);
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
}

INSTANTIATE_TEST_SUITE_P(Module, NotImplemented, ::testing::ValuesIn(kStubs),
                         [](const auto& named) { return std::string(named.param.Export); });

}  // namespace
}  // namespace quorvel::sim
