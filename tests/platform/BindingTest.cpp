#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/PlatformVersion.h"
#include "platform/SetupApi.h"

#ifndef _WIN32
#include "tests/platform/modules/TestHidModule.h"
#endif

namespace quorvel::platform {
namespace {

std::vector<std::string> ReadLines(const char* path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  return lines;
}

template <typename CountFn, typename ExportFn>
std::vector<std::string> DistinctExports(CountFn count, ExportFn exportOf) {
  std::vector<std::string> distinct;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < count(); ++i) {
    std::string name(exportOf(i));
    if (seen.insert(name).second) {
      distinct.push_back(name);
    }
  }
  return distinct;
}

std::vector<TEntryPoint> SetupApiSlots() {
  std::vector<TEntryPoint> slots;
  for (std::size_t i = 0; i < SetupApiSlotCount(); ++i) {
    slots.push_back(SetupApiSlot(i));
  }
  return slots;
}

std::vector<TEntryPoint> HidSlots() {
  std::vector<TEntryPoint> slots;
  for (std::size_t i = 0; i < HidSlotCount(); ++i) {
    slots.push_back(HidSlot(i));
  }
  return slots;
}

bool AllEmpty(const std::vector<TEntryPoint>& slots) {
  for (TEntryPoint slot : slots) {
    if (slot != nullptr) {
      return false;
    }
  }
  return true;
}

// Where the two platform names load from: the test's own modules on POSIX, the
// system's (Wine's) DLLs on Windows.
#ifdef _WIN32
const std::string kFullModules;
const std::string kMissingModules = "C:\\quorvel-no-such-folder";
#else
const std::string kFullModules = QUORVEL_TEST_MODULES_DIR "/full";
// Every export too, with the modules' own lists of them (ModuleExportList.h).
const std::string kListedModules = QUORVEL_TEST_MODULES_DIR "/listed";
const std::string kLackingModules = QUORVEL_TEST_MODULES_DIR "/lacking";
const std::string kLackingListedModules = QUORVEL_TEST_MODULES_DIR "/lacking-listed";
const std::string kMissingModules = QUORVEL_TEST_MODULES_DIR "/no-such-folder";
#endif

// Every test starts and must end unbound, with the real version reported.
class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetModuleDirectoryForTest(kFullModules);
    ASSERT_EQ(SetupApiBindCount(), 0);
    ASSERT_EQ(HidBindCount(), 0);
  }
  void TearDown() override {
    while (SetupApiBindCount() > 0) {
      UnbindSetupApi();
    }
    while (HidBindCount() > 0) {
      UnbindHid();
    }
    SetPlatformVersionForTest(std::nullopt);
    SetModuleDirectoryForTest("");
  }
};

// ---- The tables.

TEST(SetupApiTable, Has396SlotsOver271ExportsInListOrder) {
  EXPECT_EQ(SetupApiSlotCount(), 396u);
  const std::vector<std::string> expected = ReadLines(QUORVEL_SETUPAPI_EXPORTS);
  ASSERT_EQ(expected.size(), 271u);
  EXPECT_EQ(DistinctExports(SetupApiSlotCount, SetupApiSlotExport), expected);
}

// Each function's slots follow its marker: one slot; one plus an alias; A, W and
// the neutral slot bound to W; or A, A-alias, W, W-alias, neutral, neutral-alias.
TEST(SetupApiTable, EachFunctionsSlotsFollowItsMarker) {
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  for (std::size_t i = 0; i < SetupApiSlotCount(); ++i) {
    const std::string function(SetupApiSlotFunction(i));
    if (groups.empty() || groups.back().first != function) {
      groups.push_back({function, {}});
    }
    groups.back().second.emplace_back(SetupApiSlotExport(i));
  }
  ASSERT_EQ(groups.size(), 165u);
  std::map<std::size_t, int> functionsBySlotCount;
  for (const auto& [function, exports] : groups) {
    ++functionsBySlotCount[exports.size()];
    const std::string a = function + "A";
    const std::string w = function + "W";
    switch (exports.size()) {
      case 1:
        EXPECT_EQ(exports, std::vector<std::string>({function}));
        break;
      case 2:
        EXPECT_EQ(exports, std::vector<std::string>({function, function}));
        break;
      case 3:
        EXPECT_EQ(exports, std::vector<std::string>({a, w, w}));
        break;
      case 6:
        EXPECT_EQ(exports, std::vector<std::string>({a, a, w, w, w, w}));
        break;
      default:
        ADD_FAILURE() << function << " has " << exports.size() << " slots";
    }
  }
  EXPECT_EQ(functionsBySlotCount, (std::map<std::size_t, int>{{1, 52}, {2, 7}, {3, 102}, {6, 4}}));
}

TEST(SetupApiTable, SlotsOfKnownPositions) {
  const struct {
    std::size_t Slot;
    const char* Export;
  } cases[] = {
      {0, "SetupGetInfInformationA"},
      {1, "SetupGetInfInformationW"},
      {2, "SetupGetInfInformationW"},
      {15, "SetupOpenMasterInf"},
      {395, "SetupDiGetActualSectionToInstallW"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetupApiSlotExport(c.Slot), c.Export) << "slot " << c.Slot;
  }
  EXPECT_EQ(SetupApiSlotExport(396), "");
}

TEST(HidTable, Has46RowsOver41ExportsWithTheButtonFormsAfterTheirUsageRows) {
  ASSERT_EQ(HidSlotCount(), 46u);
  const std::vector<std::string> expected = ReadLines(QUORVEL_HID_EXPORTS);
  ASSERT_EQ(expected.size(), 41u);
  EXPECT_EQ(DistinctExports(HidSlotCount, HidSlotExport), expected);
  const std::set<std::size_t> buttonRows = {28, 30, 32, 34, 36};  // 1-based, as documented
  for (std::size_t row = 2; row <= 46; ++row) {
    const bool sameAsBefore = HidSlotExport(row - 1) == HidSlotExport(row - 2);
    EXPECT_EQ(sameAsBefore, buttonRows.count(row) == 1) << "row " << row;
  }
  EXPECT_EQ(HidSlotExport(17), "HidD_GetInputReport");
  EXPECT_EQ(HidSlotExport(18), "HidD_SetOutputReport");
  EXPECT_EQ(HidSlotExport(44), "HidP_GetExtendedAttributes");
  EXPECT_EQ(HidSlotExport(45), "HidP_InitializeReportForID");
}

// ---- Binding.

// The same bindings from modules that list their exports and from modules that do not.
class BindingFromTest : public BindingTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    BindingTest::SetUp();
    SetModuleDirectoryForTest(GetParam());
  }
};

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Modules, BindingFromTest, ::testing::Values(kFullModules));
#else
INSTANTIATE_TEST_SUITE_P(Modules, BindingFromTest, ::testing::Values(kFullModules, kListedModules),
                         [](const auto& param) {
                           return param.index == 0 ? "Unlisted" : "Listed";
                         });
#endif

// Each slot holds what the system's look-up gives for its export, whether the binding
// found it in the module's own list or asked the system.
TEST_P(BindingFromTest, FirstBindFillsEverySlotWithItsExport) {
  ASSERT_TRUE(BindSetupApi());
  ASSERT_TRUE(BindHid());
  EXPECT_EQ(SetupApiBindCount(), 1);
  ASSERT_NE(SetupApiModule(), nullptr);
  for (std::size_t i = 0; i < SetupApiSlotCount(); ++i) {
    bool ok = true;
    const std::string name(SetupApiSlotExport(i));
    EXPECT_EQ(SetupApiSlot(i), ResolveSymbol(SetupApiModule(), name.c_str(), ok)) << name;
    EXPECT_NE(SetupApiSlot(i), nullptr) << name;
  }
  for (std::size_t i = 0; i < HidSlotCount(); ++i) {
    bool ok = true;
    const std::string name(HidSlotExport(i));
    EXPECT_EQ(HidSlot(i), ResolveSymbol(HidModule(), name.c_str(), ok)) << name;
    EXPECT_NE(HidSlot(i), nullptr) << name;
  }
#ifndef _WIN32
  const bool listed = GetParam() == kListedModules;
  EXPECT_EQ(TModuleExports(SetupApiModule()).HasList(), listed);
  EXPECT_EQ(TModuleExports(HidModule()).HasList(), listed);
#endif
  bool ok = true;
  const auto exported = [&](const char* name) { return ResolveSymbol(SetupApiModule(), name, ok); };
  EXPECT_EQ(reinterpret_cast<TEntryPoint>(SetupDiGetClassDevsSlot()),
            exported("SetupDiGetClassDevsW"));
  EXPECT_EQ(reinterpret_cast<TEntryPoint>(SetupDiEnumDeviceInterfacesSlot()),
            exported("SetupDiEnumDeviceInterfaces"));
  EXPECT_EQ(reinterpret_cast<TEntryPoint>(SetupDiGetDeviceInterfaceDetailSlot()),
            exported("SetupDiGetDeviceInterfaceDetailW"));
  EXPECT_EQ(reinterpret_cast<TEntryPoint>(SetupDiGetDeviceRegistryPropertySlot()),
            exported("SetupDiGetDeviceRegistryPropertyW"));
  EXPECT_EQ(reinterpret_cast<TEntryPoint>(SetupDiDestroyDeviceInfoListSlot()),
            exported("SetupDiDestroyDeviceInfoList"));
  EXPECT_TRUE(ok);
}

TEST_F(BindingTest, NestedBindsKeepTheSlotsAndTheLastUnbindEmptiesThem) {
  ASSERT_TRUE(BindSetupApi());
  ASSERT_TRUE(BindHid());
  const TModule setupApi = SetupApiModule();
  const TModule hid = HidModule();
  const std::vector<TEntryPoint> setupApiSlots = SetupApiSlots();
  const std::vector<TEntryPoint> hidSlots = HidSlots();

  EXPECT_TRUE(BindSetupApi());
  EXPECT_TRUE(BindHid());
  EXPECT_EQ(SetupApiBindCount(), 2);
  EXPECT_EQ(HidBindCount(), 2);
  UnbindSetupApi();
  UnbindHid();
  EXPECT_EQ(SetupApiBindCount(), 1);
  EXPECT_EQ(HidBindCount(), 1);
  EXPECT_EQ(SetupApiModule(), setupApi);
  EXPECT_EQ(HidModule(), hid);
  EXPECT_EQ(SetupApiSlots(), setupApiSlots);
  EXPECT_EQ(HidSlots(), hidSlots);
  EXPECT_TRUE(HidBound());

  UnbindSetupApi();
  UnbindHid();
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(HidBindCount(), 0);
  EXPECT_EQ(SetupApiModule(), nullptr);
  EXPECT_EQ(HidModule(), nullptr);
  EXPECT_TRUE(AllEmpty(SetupApiSlots()));
  EXPECT_TRUE(AllEmpty(HidSlots()));
  EXPECT_EQ(SetupDiGetClassDevsSlot(), nullptr);
  EXPECT_EQ(platform::HidD_GetFeature, nullptr);
  EXPECT_FALSE(HidBound());
}

TEST_F(BindingTest, MissingLibraryLeavesNothingBoundAndALaterBindTriesAgain) {
  SetModuleDirectoryForTest(kMissingModules);
  EXPECT_FALSE(BindSetupApi());
  EXPECT_FALSE(BindHid());
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(HidBindCount(), 0);
  EXPECT_EQ(SetupApiModule(), nullptr);
  EXPECT_EQ(HidModule(), nullptr);
  EXPECT_TRUE(AllEmpty(SetupApiSlots()));
  EXPECT_TRUE(AllEmpty(HidSlots()));
  EXPECT_FALSE(HidBound());

  SetModuleDirectoryForTest(kFullModules);
  EXPECT_TRUE(BindSetupApi());
  EXPECT_TRUE(BindHid());
  EXPECT_EQ(SetupApiBindCount(), 1);
  EXPECT_EQ(HidBindCount(), 1);
}

// A program that binds nothing can say which module failed and why.
TEST_F(BindingTest, AFailedLoadNamesTheModuleAndTheLoadersReason) {
  SetModuleDirectoryForTest(kMissingModules);
  EXPECT_FALSE(BindHid());
  const std::string failure = ModuleFailure();
  const std::string file = ModuleFileName(u"HID.dll");
  EXPECT_EQ(failure.rfind("Cannot load the platform module " + file + ": ", 0), 0) << failure;
  // The reason is the loader's own, after the sentence's colon.
  EXPECT_GT(failure.size(), ("Cannot load the platform module " + file + ": ").size()) << failure;
#ifndef _WIN32
  EXPECT_NE(failure.find("No such file or directory"), std::string::npos) << failure;
#endif
}

// An unbind with nothing bound must not leave the count below 0, or the next
// owner's bind would hold the library at count 0 and a third party's unbind
// would free it under that owner.
TEST_F(BindingTest, UnbindWithoutBindKeepsTheCountAtZero) {
  UnbindSetupApi();
  UnbindHid();
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(HidBindCount(), 0);
  ASSERT_TRUE(BindHid());
  ASSERT_TRUE(BindHid());
  UnbindHid();
  EXPECT_TRUE(HidBound());
  EXPECT_NE(platform::HidD_GetAttributes, nullptr);
}

TEST_F(BindingTest, HidGuidComesThroughItsSlot) {
  ASSERT_TRUE(BindHid());
  GUID guid{};
  platform::HidD_GetHidGuid(&guid);
  const GUID hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_TRUE(guid == hid);
}

// Rows 18, 19 need NT 5.1; rows 45, 46 need NT 5.0; other platforms get none.
TEST_F(BindingTest, ConditionalHidRowsFollowThePlatformVersion) {
  const struct {
    TPlatformVersion Version;
    bool InputOutputReports;  // rows 18, 19
    bool ExtendedAttributes;  // rows 45, 46
  } cases[] = {
      {{VER_PLATFORM_WIN32_NT, 4, 0}, false, false},
      {{VER_PLATFORM_WIN32_NT, 5, 0}, false, true},
      {{VER_PLATFORM_WIN32_NT, 5, 1}, true, true},
      {{VER_PLATFORM_WIN32_NT, 6, 0}, true, true},
      {{VER_PLATFORM_WIN32_NT, 10, 0}, true, true},
      {{VER_PLATFORM_WIN32_WINDOWS, 10, 0}, false, false},
      {{VER_PLATFORM_WIN32s, 5, 1}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "platform " << c.Version.PlatformId << " version "
                                    << c.Version.Major << "." << c.Version.Minor);
    SetPlatformVersionForTest(c.Version);
    ASSERT_TRUE(BindHid());
    for (std::size_t i = 0; i < HidSlotCount(); ++i) {
      const bool expected = (i == 17 || i == 18)   ? c.InputOutputReports
                            : (i == 44 || i == 45) ? c.ExtendedAttributes
                                                   : true;
      EXPECT_EQ(HidSlot(i) != nullptr, expected) << "row " << i + 1;
    }
    UnbindHid();
    ASSERT_TRUE(AllEmpty(HidSlots()));
  }
}

TEST_F(BindingTest, PlatformReportsNt) {
  const TPlatformVersion version = ReportedPlatformVersion();
  EXPECT_EQ(version.PlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_TRUE(PlatformAtLeast(5, 1));
}

#ifndef _WIN32

// The lacking modules, without and with their own lists of the exports they have.
class LackingBindingTest : public BindingFromTest {};
INSTANTIATE_TEST_SUITE_P(Modules, LackingBindingTest,
                         ::testing::Values(kLackingModules, kLackingListedModules),
                         [](const auto& param) {
                           return param.index == 0 ? "Unlisted" : "Listed";
                         });

TEST_P(LackingBindingTest, MissingExportFailsTheBindAndLeavesNothingBound) {
  EXPECT_FALSE(BindSetupApi());
  EXPECT_EQ(ModuleFailure(), "The platform module " + GetParam() +
                                 "/libquorvel-setupapi.so lacks the entry point "
                                 "SetupDiGetDeviceInterfaceAlias");
  EXPECT_EQ(SetupApiBindCount(), 0);
  EXPECT_EQ(SetupApiModule(), nullptr);
  EXPECT_TRUE(AllEmpty(SetupApiSlots()));

  SetModuleDirectoryForTest(kFullModules);
  EXPECT_TRUE(BindSetupApi());
  EXPECT_EQ(SetupApiBindCount(), 1);
}

// The lacking HID module has no HidD_GetInputReport: only a platform that
// looks row 18 up fails.
TEST_P(LackingBindingTest, MissingConditionalExportFailsOnlyWhereItsRowIsLookedUp) {
  SetPlatformVersionForTest(TPlatformVersion{VER_PLATFORM_WIN32_NT, 5, 0});
  ASSERT_TRUE(BindHid());
  EXPECT_EQ(platform::HidD_GetInputReport, nullptr);
  EXPECT_NE(platform::HidP_InitializeReportForID, nullptr);
  UnbindHid();

  SetPlatformVersionForTest(TPlatformVersion{VER_PLATFORM_WIN32_NT, 5, 1});
  EXPECT_FALSE(BindHid());
  EXPECT_EQ(HidBindCount(), 0);
  EXPECT_EQ(HidModule(), nullptr);
  EXPECT_FALSE(HidBound());
  EXPECT_TRUE(AllEmpty(HidSlots()));
}

// The wrappers must reach the Specific functions with no filter and pass the
// caller's buffers, count and preparsed data through, and the status back.
TEST_F(BindingTest, CapsWrappersCallTheSpecificFunctionsUnfiltered) {
  ASSERT_TRUE(BindHid());
  bool ok = true;
  const auto lastCall =
      reinterpret_cast<TTestHidLastCapsCall>(ResolveSymbol(HidModule(), "TestHidLastCapsCall", ok));
  ASSERT_TRUE(ok);
  auto* preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(std::uintptr_t{0x1234});

  HIDP_BUTTON_CAPS buttons[2] = {};
  USHORT buttonCount = 2;
  EXPECT_EQ(HidP_GetButtonCaps(HidP_Feature, buttons, &buttonCount, preparsed),
            HIDP_STATUS_SUCCESS);
  const TCapsCall button = *lastCall();
  EXPECT_STREQ(button.Function, "HidP_GetSpecificButtonCaps");
  EXPECT_EQ(button.ReportType, HidP_Feature);
  EXPECT_EQ(button.UsagePage, 0);
  EXPECT_EQ(button.LinkCollection, 0);
  EXPECT_EQ(button.Usage, 0);
  EXPECT_EQ(button.Caps, buttons);
  EXPECT_EQ(button.CapsLength, &buttonCount);
  EXPECT_EQ(button.PreparsedData, preparsed);
  EXPECT_EQ(buttonCount, 1);
  EXPECT_EQ(buttons[0].ReportID, 3);

  HIDP_VALUE_CAPS values[1] = {};
  USHORT valueCount = 1;
  EXPECT_EQ(HidP_GetValueCaps(HidP_Output, values, &valueCount, preparsed),
            HIDP_STATUS_USAGE_NOT_FOUND);
  const TCapsCall value = *lastCall();
  EXPECT_STREQ(value.Function, "HidP_GetSpecificValueCaps");
  EXPECT_EQ(value.ReportType, HidP_Output);
  EXPECT_EQ(value.UsagePage, 0);
  EXPECT_EQ(value.LinkCollection, 0);
  EXPECT_EQ(value.Usage, 0);
  EXPECT_EQ(value.Caps, values);
  EXPECT_EQ(value.CapsLength, &valueCount);
  EXPECT_EQ(value.PreparsedData, preparsed);
  EXPECT_EQ(values[0].BitSize, 12);
}

#endif

}  // namespace
}  // namespace quorvel::platform
