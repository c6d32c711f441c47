// The plug-and-play snapshot, as a scan builds it from the simulated registry.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

// ASCII texts, numbers and lists as one comparable text each.
std::string Shown(const TString& text) {
  return std::string(text.begin(), text.end());
}
std::string Shown(uint32_t number) {
  return std::to_string(number);
}
std::string Shown(const TStringList& list) {
  std::string shown;
  for (const TString& text : list) {
    shown += (shown.empty() ? "" : "|") + Shown(text);
  }
  return shown;
}

class PnPInfoTest : public SimulatedTest {
 protected:
  THidPnPInfo& Scanned(const TJson& patch = TJson::object()) {
    Start(TSimWorld::LoadWorld("registry-properties.json"));
    if (!patch.empty()) {
      world->Change(1, patch);
    }
    controller->DeviceChange();
    EXPECT_EQ(controller->DeviceCount(), 1);
    return *controller->Devices(0)->PnPInfo();
  }
};

TEST_F(PnPInfoTest, AbsentPropertiesAreEmptyNeverMissing) {
  THidPnPInfo& info = Scanned();
  EXPECT_TRUE(info.FriendlyName().empty());
  EXPECT_TRUE(info.LowerFilters().empty());
  EXPECT_TRUE(info.UpperFilters().empty());
  EXPECT_EQ(info.Exclusive(), 0u);
  EXPECT_EQ(info.DeviceID(), 201u);
  EXPECT_FALSE(info.DevicePath().empty());
}

TEST_F(PnPInfoTest, ListsKeepOrderAndDuplicatesAndEndAtTheFirstEmptyText) {
  THidPnPInfo& info = Scanned();
  EXPECT_EQ(info.HardwareID(), (TStringList{u"a", u"b", u"a"}));
  // The first text is empty: the list is.
  EXPECT_TRUE(info.CompatibleIDs().empty());
}

TEST_F(PnPInfoTest, NumbersTextsAndRawValuesReadAsText) {
  THidPnPInfo& info = Scanned();
  EXPECT_EQ(info.ClassDescr(), u"HIDClass");
  EXPECT_EQ(info.Service(), u"HidUsb");
  EXPECT_EQ(info.UINumber(), 7u);
  EXPECT_EQ(info.Capabilities(), 0xA0u);
  // Read with code 0x1E, not the 0x1D where the platform keeps the format text.
  EXPECT_EQ(info.UINumberFormat(), u"D0");
  // 32-bit values read as UTF-16: their low half is zero, or two units.
  EXPECT_TRUE(info.Address().empty());
  EXPECT_EQ(info.Characteristics(), u"A@");
  // The bus-type GUID's 16 bytes as eight UTF-16 units.
  EXPECT_EQ(info.BusType(),
            (TString{0x37d0, 0xeeaf, 0x1963, 0x47c4, 0x48aa, 0x4772, 0xb76d, 0x49cf}));
}

TEST_F(PnPInfoTest, EveryPropertyIsReadUnderItsOwnCode) {
  // A distinct value under every code, so that a property read under another's
  // code or with another reader shows.
  THidPnPInfo& info = Scanned({{"properties",
                                {{"SPDRP_DEVICEDESC", "desc"},
                                 {"SPDRP_HARDWAREID", {"hw1", "hw2"}},
                                 {"SPDRP_COMPATIBLEIDS", {"compat"}},
                                 {"SPDRP_SERVICE", "service"},
                                 {"SPDRP_CLASS", "class"},
                                 {"SPDRP_CLASSGUID", "classguid"},
                                 {"SPDRP_DRIVER", "driver"},
                                 {"SPDRP_CONFIGFLAGS", 10},
                                 {"SPDRP_MFG", "mfg"},
                                 {"SPDRP_FRIENDLYNAME", "friendly"},
                                 {"SPDRP_LOCATION_INFORMATION", "location"},
                                 {"SPDRP_PHYSICAL_DEVICE_OBJECT_NAME", "pdo"},
                                 {"SPDRP_CAPABILITIES", 15},
                                 {"SPDRP_UI_NUMBER", 16},
                                 {"SPDRP_UPPERFILTERS", {"upper"}},
                                 {"SPDRP_LOWERFILTERS", {"lower1", "lower2"}},
                                 {"SPDRP_BUSTYPEGUID", {{"binary", "42 00 54 00"}}},
                                 {"SPDRP_LEGACYBUSTYPE", 20},
                                 {"SPDRP_BUSNUMBER", 21},
                                 {"SPDRP_ENUMERATOR_NAME", "enumerator"},
                                 {"SPDRP_SECURITY_SDS", "sds"},
                                 {"SPDRP_DEVTYPE", 25},
                                 {"SPDRP_EXCLUSIVE", 26},
                                 {"SPDRP_CHARACTERISTICS", 0x00480043},  // "CH"
                                 {"SPDRP_ADDRESS", 0x00440041},          // "AD"
                                 {"SPDRP_UI_NUMBER_DESC_FORMAT", "format under 0x1D"},
                                 {"SPDRP_DEVICE_POWER_DATA", "read under 0x1E"}}}});
  const std::vector<std::tuple<const char*, std::string, std::string>> properties = {
      {"Capabilities", Shown(info.Capabilities()), "15"},
      {"ClassDescr", Shown(info.ClassDescr()), "class"},
      {"ClassGUID", Shown(info.ClassGUID()), "classguid"},
      {"CompatibleIDs", Shown(info.CompatibleIDs()), "compat"},
      {"ConfigFlags", Shown(info.ConfigFlags()), "10"},
      {"DeviceDescr", Shown(info.DeviceDescr()), "desc"},
      {"Driver", Shown(info.Driver()), "driver"},
      {"FriendlyName", Shown(info.FriendlyName()), "friendly"},
      {"HardwareID", Shown(info.HardwareID()), "hw1|hw2"},
      {"LowerFilters", Shown(info.LowerFilters()), "lower1|lower2"},
      {"Mfg", Shown(info.Mfg()), "mfg"},
      {"UpperFilters", Shown(info.UpperFilters()), "upper"},
      {"Address", Shown(info.Address()), "AD"},
      {"BusNumber", Shown(info.BusNumber()), "21"},
      {"BusType", Shown(info.BusType()), "BT"},
      {"Characteristics", Shown(info.Characteristics()), "CH"},
      {"DevType", Shown(info.DevType()), "25"},
      {"EnumeratorName", Shown(info.EnumeratorName()), "enumerator"},
      {"Exclusive", Shown(info.Exclusive()), "26"},
      {"LegacyBusType", Shown(info.LegacyBusType()), "20"},
      {"LocationInfo", Shown(info.LocationInfo()), "location"},
      {"PhysDevObjName", Shown(info.PhysDevObjName()), "pdo"},
      {"SecuritySDS", Shown(info.SecuritySDS()), "sds"},
      {"Service", Shown(info.Service()), "service"},
      {"UINumber", Shown(info.UINumber()), "16"},
      {"UINumberFormat", Shown(info.UINumberFormat()), "read under 0x1E"},
  };
  for (const auto& [name, read, expected] : properties) {
    EXPECT_EQ(read, expected) << name;
  }
}

TEST_F(PnPInfoTest, LongTextIsReadWhole) {
  const std::string location(1499, 'x');
  THidPnPInfo& info = Scanned({{"properties", {{"SPDRP_LOCATION_INFORMATION", location}}}});
  EXPECT_EQ(info.LocationInfo(), TString(1499, u'x'));
}

TEST_F(PnPInfoTest, LongListIsReadWhole) {
  TJson ids = TJson::array();
  for (int i = 0; i < 2000; ++i) {
    ids.push_back("HID\\VID_1234&PID_" + std::to_string(1000 + i));
  }
  THidPnPInfo& info = Scanned({{"properties", {{"SPDRP_HARDWAREID", ids}}}});
  ASSERT_EQ(info.HardwareID().size(), 2000u);
  EXPECT_EQ(info.HardwareID().back(), u"HID\\VID_1234&PID_2999");
}

TEST_F(PnPInfoTest, SameDeviceKeepsItsIdentityAcrossScans) {
  THidPnPInfo& first = Scanned();
  const uint32_t id = first.DeviceID();
  THidDevice* device = nullptr;
  ASSERT_TRUE(controller->CheckOut(device));
  world->Remove(1);
  controller->DeviceChange();
  TJson again = TSimWorld::LoadWorld("registry-properties.json")["devices"][0];
  again["id"] = 2;
  world->Add(again);
  controller->DeviceChange();
  ASSERT_EQ(controller->DeviceCount(), 2);
  EXPECT_EQ(controller->Devices(1)->PnPInfo()->DeviceID(), id);
  EXPECT_EQ(controller->Devices(1)->PnPInfo()->DevicePath().empty(), false);
}

}  // namespace
}  // namespace quorvel::hid::test
