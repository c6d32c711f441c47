#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <float.h>
#endif

#include "platform/ModuleLoader.h"

namespace quorvel::platform {
namespace {

#ifndef _WIN32
TEST(ModuleFileName, MapsThePlatformNamesInAnyCaseAndNothingElse) {
  const struct {
    std::u16string_view Name;
    const char* File;
  } cases[] = {
      {u"SetupApi.dll", "libquorvel-setupapi.so"},
      {u"SETUPAPI.DLL", "libquorvel-setupapi.so"},
      {u"setupapi.dll", "libquorvel-setupapi.so"},
      {u"HID.dll", "libquorvel-hid.so"},
      {u"hid.DLL", "libquorvel-hid.so"},
      {u"HID.dll.bak", "HID.dll.bak"},
      {u"HID", "HID"},
      {u"libother.so", "libother.so"},
      {u"/opt/m\u00e4dule.so",
       "/opt/m\xc3\xa4"
       "dule.so"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ModuleFileName(c.Name), c.File);
  }
}

TEST(ModuleFileName, TestDirectoryAppliesToThePlatformNamesOnly) {
  SetModuleDirectoryForTest("/tmp/mods");
  EXPECT_EQ(ModuleFileName(u"HID.dll"), "/tmp/mods/libquorvel-hid.so");
  EXPECT_EQ(ModuleFileName(u"SetupAPI.dll"), "/tmp/mods/libquorvel-setupapi.so");
  EXPECT_EQ(ModuleFileName(u"libother.so"), "libother.so");
  SetModuleDirectoryForTest("");
  EXPECT_EQ(ModuleFileName(u"HID.dll"), "libquorvel-hid.so");
}

// A library every test process has loaded already.
constexpr std::u16string_view kPresentLibrary = u"libc.so.6";
constexpr const char* kPresentExport = "malloc";
#else
constexpr std::u16string_view kPresentLibrary = u"kernel32.dll";
constexpr const char* kPresentExport = "GetLastError";
#endif

TEST(ModuleLoader, OpensResolvesAndCloses) {
  TModule module = nullptr;
  ASSERT_TRUE(OpenModule(module, kPresentLibrary));
  ASSERT_NE(module, nullptr);

  bool ok = true;
  EXPECT_NE(ResolveSymbol(module, kPresentExport, ok), nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ResolveSymbol(module, "quorvel_no_such_export", ok), nullptr);
  EXPECT_FALSE(ok);
  // Once false, the flag stays false, yet later rows are still looked up.
  EXPECT_NE(ResolveSymbol(module, kPresentExport, ok), nullptr);
  EXPECT_FALSE(ok);

  CloseModule(module);
  EXPECT_EQ(module, nullptr);
  CloseModule(module);  // empty: nothing to free
  EXPECT_EQ(module, nullptr);
}

TEST(ModuleLoader, AnEmptyModuleResolvesNothing) {
  bool ok = true;
  EXPECT_EQ(ResolveSymbol(nullptr, kPresentExport, ok), nullptr);
  EXPECT_FALSE(ok);
}

TEST(ModuleLoader, MissingFileLeavesTheModuleEmpty) {
  TModule module = nullptr;
  EXPECT_FALSE(OpenModule(module, u"quorvel-no-such-library-file.dll"));
  EXPECT_EQ(module, nullptr);
}

// A loaded module is not loaded again: the name is not even looked at.
TEST(ModuleLoader, ALoadedModuleStaysAsItIs) {
  TModule module = nullptr;
  ASSERT_TRUE(OpenModule(module, kPresentLibrary));
  const TModule loaded = module;
  EXPECT_TRUE(OpenModule(module, u"quorvel-no-such-library-file.dll"));
  EXPECT_EQ(module, loaded);
  CloseModule(module);
}

#ifdef _WIN32
// The load leaves the caller's error mode and floating-point control word as
// they were, also when the library is missing.
TEST(ModuleLoader, KeepsTheCallersErrorModeAndFloatingPointControl) {
  const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const unsigned int control = _control87(0, 0);
  _control87(_RC_DOWN, _MCW_RC);
  for (std::u16string_view name : {kPresentLibrary, std::u16string_view(u"quorvel-missing.dll")}) {
    TModule module = nullptr;
    OpenModule(module, name);
    CloseModule(module);
    EXPECT_EQ(_control87(0, 0) & _MCW_RC, static_cast<unsigned int>(_RC_DOWN));
    EXPECT_EQ(GetErrorMode(), static_cast<UINT>(SEM_FAILCRITICALERRORS));
  }
  _control87(control, _MCW_RC);
  SetErrorMode(mode);
}
#endif

}  // namespace
}  // namespace quorvel::platform
