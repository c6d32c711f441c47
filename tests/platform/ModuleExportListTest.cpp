// The export lists of the project's own modules keep their promise: every listed name is
// the export the system's look-up finds, and the binding finds every name it asks for in
// the list, so that binding asks the system for one name per module.
#include "platform/ModuleExportList.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/SetupApi.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace quorvel::platform {
namespace {

TEST(ExportNameHash, IsFnv1aOfTheBytes) {
  static_assert(ExportNameHash("") == 2166136261u);
  EXPECT_EQ(ExportNameHash("a"), 0xE40C292Cu);
  EXPECT_EQ(ExportNameHash("HidD_GetFeature"),
            ExportNameHash(std::string("HidD_GetFeature").c_str()));
  EXPECT_NE(ExportNameHash("HidD_GetFeature"), ExportNameHash("HidD_SetFeature"));
}

TEST(MakeExportIndex, OrdersEveryPositionByHash) {
  static constexpr const char* kNames[] = {"SetupDiGetClassDevsW", "HidD_GetFeature", "b", "a"};
  constexpr auto index = MakeExportIndex(kNames);
  std::set<std::uint32_t> positions;
  for (std::size_t k = 0; k < index.size(); ++k) {
    ASSERT_LT(index[k].Position, std::size(kNames));
    positions.insert(index[k].Position);
    EXPECT_EQ(index[k].Hash, ExportNameHash(kNames[index[k].Position]));
    if (k > 0) {
      EXPECT_LE(index[k - 1].Hash, index[k].Hash);
    }
  }
  EXPECT_EQ(positions.size(), std::size(kNames));
}

#ifndef _WIN32

struct TOwnModule {
  const char* Name;
  const char* Path;
  bool SetupApi;  // else HID
};

std::vector<TOwnModule> OwnModules() {
  std::vector<TOwnModule> modules;
#ifdef QUORVEL_OWN_LINUX_SETUPAPI
  modules.push_back({"linux_setupapi", QUORVEL_OWN_LINUX_SETUPAPI, true});
#endif
#ifdef QUORVEL_OWN_LINUX_HID
  modules.push_back({"linux_hid", QUORVEL_OWN_LINUX_HID, false});
#endif
#ifdef QUORVEL_OWN_SIM_SETUPAPI
  modules.push_back({"sim_setupapi", QUORVEL_OWN_SIM_SETUPAPI, true});
#endif
#ifdef QUORVEL_OWN_SIM_HID
  modules.push_back({"sim_hid", QUORVEL_OWN_SIM_HID, false});
#endif
  return modules;
}

class OwnModuleExportList : public ::testing::TestWithParam<TOwnModule> {};

TEST_P(OwnModuleExportList, ListsExactlyWhatTheSystemFindsAndAllTheBindingAsks) {
  void* module = dlopen(GetParam().Path, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const auto* list = static_cast<const TExportList*>(dlsym(module, kExportListSymbol));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Format, kExportListFormat);
  ASSERT_GT(list->Count, 0u);

  std::set<std::string> names;
  for (std::uint32_t i = 0; i < list->Count; ++i) {
    const std::string name = list->Names[i];
    EXPECT_TRUE(names.insert(name).second) << name << " is listed twice";
    EXPECT_NE(list->Addresses[i], nullptr) << name;
    EXPECT_EQ(reinterpret_cast<void*>(list->Addresses[i]), dlsym(module, name.c_str())) << name;
  }
  std::set<std::uint32_t> positions;
  for (std::uint32_t k = 0; k < list->Count; ++k) {
    const TExportIndexEntry entry = list->Index[k];
    ASSERT_LT(entry.Position, list->Count);
    EXPECT_TRUE(positions.insert(entry.Position).second);
    EXPECT_EQ(entry.Hash, ExportNameHash(list->Names[entry.Position]));
    if (k > 0) {
      EXPECT_LE(list->Index[k - 1].Hash, entry.Hash);
    }
  }

  const bool setupApi = GetParam().SetupApi;
  const std::size_t slots = setupApi ? SetupApiSlotCount() : HidSlotCount();
  TModuleExports exports(module);
  EXPECT_TRUE(exports.HasList());
  for (std::size_t i = 0; i < slots; ++i) {
    const std::string name(setupApi ? SetupApiSlotExport(i) : HidSlotExport(i));
    EXPECT_EQ(names.count(name), 1u) << name << " is not listed";
    bool ok = true;
    EXPECT_EQ(reinterpret_cast<void*>(exports.Resolve(name.c_str(), ok)),
              dlsym(module, name.c_str()))
        << name;
    EXPECT_TRUE(ok);
  }
  dlclose(module);
}

INSTANTIATE_TEST_SUITE_P(Modules, OwnModuleExportList, ::testing::ValuesIn(OwnModules()),
                         [](const auto& param) { return std::string(param.param.Name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(OwnModuleExportList);

#endif

}  // namespace
}  // namespace quorvel::platform
