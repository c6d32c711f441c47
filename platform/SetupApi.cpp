#include "platform/SetupApi.h"

#include <array>
#include <cstdint>

namespace quorvel::platform {
namespace {

// How many slots a function takes and which exports they bind.
enum TMarker : std::uint8_t {
  kOne,                      // one export, one slot
  kOneWithAlias,             // + a slot for the older name, bound to the same export
  kCharacterForms,           // A, W, and the neutral name bound to W
  kCharacterFormsWithAlias,  // A, A-alias, W, W-alias, neutral, neutral-alias
};

struct TFunction {
  std::string_view Name;
  TMarker Marker;
};

// The device-installation functions in look-up order. Every export must be
// present for the binding to succeed, although the layer calls only five.
constexpr TFunction kFunctions[] = {
    {"SetupGetInfInformation", kCharacterForms},
    {"SetupQueryInfFileInformation", kCharacterForms},
    {"SetupQueryInfVersionInformation", kCharacterForms},
    {"SetupGetInfFileList", kCharacterForms},
    {"SetupOpenInfFile", kCharacterForms},
    {"SetupOpenMasterInf", kOne},
    {"SetupOpenAppendInfFile", kCharacterForms},
    {"SetupCloseInfFile", kOne},
    {"SetupFindFirstLine", kCharacterForms},
    {"SetupFindNextLine", kOne},
    {"SetupFindNextMatchLine", kCharacterForms},
    {"SetupGetLineByIndex", kCharacterForms},
    {"SetupGetLineCount", kCharacterForms},
    {"SetupGetLineText", kCharacterForms},
    {"SetupGetFieldCount", kOne},
    {"SetupGetStringField", kCharacterForms},
    {"SetupGetIntField", kOne},
    {"SetupGetMultiSzField", kCharacterForms},
    {"SetupGetBinaryField", kOne},
    {"SetupGetFileCompressionInfo", kCharacterForms},
    {"SetupDecompressOrCopyFile", kCharacterForms},
    {"SetupGetSourceFileLocation", kCharacterForms},
    {"SetupGetSourceFileSize", kCharacterForms},
    {"SetupGetTargetPath", kCharacterForms},
    {"SetupSetSourceList", kCharacterForms},
    {"SetupCancelTemporarySourceList", kOne},
    {"SetupAddToSourceList", kCharacterForms},
    {"SetupRemoveFromSourceList", kCharacterForms},
    {"SetupQuerySourceList", kCharacterForms},
    {"SetupFreeSourceList", kCharacterForms},
    {"SetupPromptForDisk", kCharacterForms},
    {"SetupCopyError", kCharacterForms},
    {"SetupRenameError", kCharacterForms},
    {"SetupDeleteError", kCharacterForms},
    {"SetupSetDirectoryId", kCharacterForms},
    {"SetupSetDirectoryIdEx", kCharacterForms},
    {"SetupGetSourceInfo", kCharacterForms},
    {"SetupInstallFile", kCharacterForms},
    {"SetupInstallFileEx", kCharacterForms},
    {"SetupOpenFileQueue", kOne},
    {"SetupCloseFileQueue", kOne},
    {"SetupSetPlatformPathOverride", kCharacterForms},
    {"SetupQueueCopy", kCharacterForms},
    {"SetupQueueDefaultCopy", kCharacterForms},
    {"SetupQueueCopySection", kCharacterForms},
    {"SetupQueueDelete", kCharacterForms},
    {"SetupQueueDeleteSection", kCharacterForms},
    {"SetupQueueRename", kCharacterForms},
    {"SetupQueueRenameSection", kCharacterForms},
    {"SetupCommitFileQueue", kCharacterForms},
    {"SetupScanFileQueue", kCharacterForms},
    {"SetupCopyOEMInf", kCharacterForms},
    {"SetupCreateDiskSpaceList", kCharacterForms},
    {"SetupDuplicateDiskSpaceList", kCharacterForms},
    {"SetupDestroyDiskSpaceList", kOne},
    {"SetupQueryDrivesInDiskSpaceList", kCharacterForms},
    {"SetupQuerySpaceRequiredOnDrive", kCharacterForms},
    {"SetupAdjustDiskSpaceList", kCharacterForms},
    {"SetupAddToDiskSpaceList", kCharacterForms},
    {"SetupAddSectionToDiskSpaceList", kCharacterForms},
    {"SetupAddInstallSectionToDiskSpaceList", kCharacterForms},
    {"SetupRemoveFromDiskSpaceList", kCharacterForms},
    {"SetupRemoveSectionFromDiskSpaceList", kCharacterForms},
    {"SetupRemoveInstallSectionFromDiskSpaceList", kCharacterForms},
    {"SetupIterateCabinet", kCharacterForms},
    {"SetupPromptReboot", kOne},
    {"SetupInitDefaultQueueCallback", kOne},
    {"SetupInitDefaultQueueCallbackEx", kOne},
    {"SetupTermDefaultQueueCallback", kOne},
    {"SetupDefaultQueueCallback", kCharacterForms},
    {"SetupInstallFromInfSection", kCharacterForms},
    {"SetupInstallFilesFromInfSection", kCharacterForms},
    {"SetupInstallServicesFromInfSection", kCharacterForms},
    {"SetupInstallServicesFromInfSectionEx", kCharacterForms},
    {"SetupInitializeFileLog", kCharacterForms},
    {"SetupTerminateFileLog", kOne},
    {"SetupLogFile", kCharacterForms},
    {"SetupRemoveFileLogEntry", kCharacterForms},
    {"SetupQueryFileLog", kCharacterForms},
    {"SetupOpenLog", kOne},
    {"SetupLogError", kCharacterForms},
    {"SetupCloseLog", kOne},
    {"SetupDiCreateDeviceInfoList", kOne},
    {"SetupDiCreateDeviceInfoListEx", kCharacterForms},
    {"SetupDiGetDeviceInfoListClass", kOne},
    {"SetupDiGetDeviceInfoListDetail", kCharacterForms},
    {"SetupDiCreateDeviceInfo", kCharacterForms},
    {"SetupDiOpenDeviceInfo", kCharacterForms},
    {"SetupDiGetDeviceInstanceId", kCharacterForms},
    {"SetupDiDeleteDeviceInfo", kOne},
    {"SetupDiEnumDeviceInfo", kOne},
    {"SetupDiDestroyDeviceInfoList", kOne},
    {"SetupDiEnumDeviceInterfaces", kOneWithAlias},
    {"SetupDiCreateDeviceInterface", kCharacterFormsWithAlias},
    {"SetupDiOpenDeviceInterface", kCharacterFormsWithAlias},
    {"SetupDiGetDeviceInterfaceAlias", kOneWithAlias},
    {"SetupDiDeleteDeviceInterfaceData", kOneWithAlias},
    {"SetupDiRemoveDeviceInterface", kOneWithAlias},
    {"SetupDiGetDeviceInterfaceDetail", kCharacterFormsWithAlias},
    {"SetupDiInstallDeviceInterfaces", kOneWithAlias},
    {"SetupDiRegisterDeviceInfo", kOne},
    {"SetupDiBuildDriverInfoList", kOne},
    {"SetupDiCancelDriverInfoSearch", kOne},
    {"SetupDiEnumDriverInfo", kCharacterForms},
    {"SetupDiGetSelectedDriver", kCharacterForms},
    {"SetupDiSetSelectedDriver", kCharacterForms},
    {"SetupDiGetDriverInfoDetail", kCharacterForms},
    {"SetupDiDestroyDriverInfoList", kOne},
    {"SetupDiGetClassDevs", kCharacterForms},
    {"SetupDiGetClassDevsEx", kCharacterForms},
    {"SetupDiGetINFClass", kCharacterForms},
    {"SetupDiBuildClassInfoList", kOne},
    {"SetupDiBuildClassInfoListEx", kCharacterForms},
    {"SetupDiGetClassDescription", kCharacterForms},
    {"SetupDiGetClassDescriptionEx", kCharacterForms},
    {"SetupDiCallClassInstaller", kOne},
    {"SetupDiSelectDevice", kOne},
    {"SetupDiSelectBestCompatDrv", kOne},
    {"SetupDiInstallDevice", kOne},
    {"SetupDiInstallDriverFiles", kOne},
    {"SetupDiRegisterCoDeviceInstallers", kOne},
    {"SetupDiRemoveDevice", kOne},
    {"SetupDiUnremoveDevice", kOne},
    {"SetupDiMoveDuplicateDevice", kOne},
    {"SetupDiChangeState", kOne},
    {"SetupDiInstallClass", kCharacterForms},
    {"SetupDiInstallClassEx", kCharacterForms},
    {"SetupDiOpenClassRegKey", kOne},
    {"SetupDiOpenClassRegKeyEx", kCharacterForms},
    {"SetupDiCreateDeviceInterfaceRegKey", kCharacterFormsWithAlias},
    {"SetupDiOpenDeviceInterfaceRegKey", kOneWithAlias},
    {"SetupDiDeleteDeviceInterfaceRegKey", kOneWithAlias},
    {"SetupDiCreateDevRegKey", kCharacterForms},
    {"SetupDiOpenDevRegKey", kOne},
    {"SetupDiDeleteDevRegKey", kOne},
    {"SetupDiGetHwProfileList", kOne},
    {"SetupDiGetHwProfileListEx", kCharacterForms},
    {"SetupDiGetDeviceRegistryProperty", kCharacterForms},
    {"SetupDiSetDeviceRegistryProperty", kCharacterForms},
    {"SetupDiGetDeviceInstallParams", kCharacterForms},
    {"SetupDiGetClassInstallParams", kCharacterForms},
    {"SetupDiSetDeviceInstallParams", kCharacterForms},
    {"SetupDiSetClassInstallParams", kCharacterForms},
    {"SetupDiGetDriverInstallParams", kCharacterForms},
    {"SetupDiSetDriverInstallParams", kCharacterForms},
    {"SetupDiLoadClassIcon", kOne},
    {"SetupDiDrawMiniIcon", kOne},
    {"SetupDiGetClassBitmapIndex", kOne},
    {"SetupDiGetClassImageList", kOne},
    {"SetupDiGetClassImageListEx", kCharacterForms},
    {"SetupDiGetClassImageIndex", kOne},
    {"SetupDiDestroyClassImageList", kOne},
    {"SetupDiGetClassDevPropertySheets", kCharacterForms},
    {"SetupDiAskForOEMDisk", kOne},
    {"SetupDiSelectOEMDrv", kOne},
    {"SetupDiClassNameFromGuid", kCharacterForms},
    {"SetupDiClassNameFromGuidEx", kCharacterForms},
    {"SetupDiClassGuidsFromName", kCharacterForms},
    {"SetupDiClassGuidsFromNameEx", kCharacterForms},
    {"SetupDiGetHwProfileFriendlyName", kCharacterForms},
    {"SetupDiGetHwProfileFriendlyNameEx", kCharacterForms},
    {"SetupDiGetWizardPage", kOne},
    {"SetupDiGetSelectedDevice", kOne},
    {"SetupDiSetSelectedDevice", kOne},
    {"SetupDiGetActualSectionToInstall", kCharacterForms},
};

constexpr std::size_t SlotsOf(TMarker marker) {
  switch (marker) {
    case kOne:
      return 1;
    case kOneWithAlias:
      return 2;
    case kCharacterForms:
      return 3;
    case kCharacterFormsWithAlias:
      return 6;
  }
  return 0;
}

constexpr std::size_t CountSlots() {
  std::size_t count = 0;
  for (const TFunction& function : kFunctions) {
    count += SlotsOf(function.Marker);
  }
  return count;
}

constexpr std::size_t kSlotCount = CountSlots();
constexpr std::size_t kMaxExportLength = 47;

struct TSlotInfo {
  std::uint8_t Function = 0;
  char Export[kMaxExportLength + 1] = {};  // zero-terminated for the look-up
  std::uint8_t Length = 0;
};

constexpr TSlotInfo MakeSlot(std::size_t function, char suffix) {
  TSlotInfo slot;
  slot.Function = static_cast<std::uint8_t>(function);
  const std::string_view name = kFunctions[function].Name;
  std::size_t length = 0;
  for (char c : name) {
    slot.Export[length++] = c;
  }
  if (suffix != 0) {
    slot.Export[length++] = suffix;
  }
  slot.Length = static_cast<std::uint8_t>(length);
  return slot;
}

// The slot layout: the neutral and alias slots bind the export of the slot
// before them (the SDK's neutral and older names are macros, not exports).
constexpr std::array<TSlotInfo, kSlotCount> MakeSlots() {
  std::array<TSlotInfo, kSlotCount> slots{};
  std::size_t next = 0;
  for (std::size_t f = 0; f < std::size(kFunctions); ++f) {
    switch (kFunctions[f].Marker) {
      case kOne:
        slots[next++] = MakeSlot(f, 0);
        break;
      case kOneWithAlias:
        slots[next++] = MakeSlot(f, 0);
        slots[next++] = MakeSlot(f, 0);
        break;
      case kCharacterForms:
        slots[next++] = MakeSlot(f, 'A');
        slots[next++] = MakeSlot(f, 'W');
        slots[next++] = MakeSlot(f, 'W');
        break;
      case kCharacterFormsWithAlias:
        slots[next++] = MakeSlot(f, 'A');
        slots[next++] = MakeSlot(f, 'A');
        for (int i = 0; i < 4; ++i) {
          slots[next++] = MakeSlot(f, 'W');
        }
        break;
    }
  }
  return slots;
}

constexpr std::array<TSlotInfo, kSlotCount> kSlots = MakeSlots();

constexpr bool NamesFit() {
  for (const TFunction& function : kFunctions) {
    if (function.Name.size() + 1 > kMaxExportLength) {
      return false;
    }
  }
  return std::size(kFunctions) <= 255;
}
static_assert(NamesFit());

// The slot the layer calls: the neutral one (bound to W) for a function with
// character forms, else the function's first slot.
constexpr std::size_t CalledSlot(std::string_view name) {
  std::size_t slot = 0;
  for (const TFunction& function : kFunctions) {
    if (function.Name == name) {
      switch (function.Marker) {
        case kOne:
        case kOneWithAlias:
          return slot;
        case kCharacterForms:
          return slot + 2;
        case kCharacterFormsWithAlias:
          return slot + 4;
      }
    }
    slot += SlotsOf(function.Marker);
  }
  return kSlotCount;  // not in the table: fails the static_asserts below
}

constexpr std::size_t kGetClassDevs = CalledSlot("SetupDiGetClassDevs");
constexpr std::size_t kEnumDeviceInterfaces = CalledSlot("SetupDiEnumDeviceInterfaces");
constexpr std::size_t kGetDeviceInterfaceDetail = CalledSlot("SetupDiGetDeviceInterfaceDetail");
constexpr std::size_t kGetDeviceRegistryProperty = CalledSlot("SetupDiGetDeviceRegistryProperty");
constexpr std::size_t kDestroyDeviceInfoList = CalledSlot("SetupDiDestroyDeviceInfoList");
static_assert(kGetClassDevs < kSlotCount && kEnumDeviceInterfaces < kSlotCount &&
              kGetDeviceInterfaceDetail < kSlotCount && kGetDeviceRegistryProperty < kSlotCount &&
              kDestroyDeviceInfoList < kSlotCount);

// Process-wide state, empty at start.
TModule gModule = nullptr;
std::int32_t gBindCount = 0;
std::array<TEntryPoint, kSlotCount> gSlots{};

template <typename T>
T Typed(std::size_t slot) {
  return reinterpret_cast<T>(gSlots[slot]);
}

}  // namespace

bool BindSetupApi() {
  ++gBindCount;
  if (gBindCount > 1) {
    return true;
  }
  if (!OpenModule(gModule, u"SetupApi.dll")) {
    --gBindCount;
    return false;
  }
  bool ok = true;
  TModuleExports exports(gModule);
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    gSlots[i] = exports.Resolve(kSlots[i].Export, ok);
  }
  if (!ok) {
    UnbindSetupApi();
    return false;
  }
  return true;
}

void UnbindSetupApi() {
  // An unbind without a bind must not drive the count below 0: a later bind
  // would then hold the library at count 0 and the next owner's unbind would
  // free it under the first.
  if (gBindCount > 0) {
    --gBindCount;
  }
  if (gBindCount == 0) {
    CloseModule(gModule);
    gSlots.fill(nullptr);
  }
}

std::int32_t SetupApiBindCount() {
  return gBindCount;
}
TModule SetupApiModule() {
  return gModule;
}
std::size_t SetupApiSlotCount() {
  return kSlotCount;
}

std::string_view SetupApiSlotExport(std::size_t slot) {
  return slot < kSlotCount ? std::string_view(kSlots[slot].Export, kSlots[slot].Length)
                           : std::string_view();
}

std::string_view SetupApiSlotFunction(std::size_t slot) {
  return slot < kSlotCount ? kFunctions[kSlots[slot].Function].Name : std::string_view();
}

TEntryPoint SetupApiSlot(std::size_t slot) {
  return slot < kSlotCount ? gSlots[slot] : nullptr;
}

TSetupDiGetClassDevs SetupDiGetClassDevsSlot() {
  return Typed<TSetupDiGetClassDevs>(kGetClassDevs);
}
TSetupDiEnumDeviceInterfaces SetupDiEnumDeviceInterfacesSlot() {
  return Typed<TSetupDiEnumDeviceInterfaces>(kEnumDeviceInterfaces);
}
TSetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailSlot() {
  return Typed<TSetupDiGetDeviceInterfaceDetail>(kGetDeviceInterfaceDetail);
}
TSetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertySlot() {
  return Typed<TSetupDiGetDeviceRegistryProperty>(kGetDeviceRegistryProperty);
}
TSetupDiDestroyDeviceInfoList SetupDiDestroyDeviceInfoListSlot() {
  return Typed<TSetupDiDestroyDeviceInfoList>(kDestroyDeviceInfoList);
}

}  // namespace quorvel::platform
