#include "hid/HidPnPInfo.h"

#include <array>
#include <span>

#include "platform/SetupApi.h"

namespace quorvel::hid {
namespace {

// Property codes of the device registry, in the platform's numbering.
enum : DWORD {
  kDeviceDesc = 0x00,
  kHardwareId = 0x01,
  kCompatibleIds = 0x02,
  kService = 0x04,
  kClass = 0x07,
  kClassGuid = 0x08,
  kDriver = 0x09,
  kConfigFlags = 0x0A,
  kMfg = 0x0B,
  kFriendlyName = 0x0C,
  kLocationInformation = 0x0D,
  kPhysicalDeviceObjectName = 0x0E,
  kCapabilities = 0x0F,
  kUiNumber = 0x10,
  kUpperFilters = 0x11,
  kLowerFilters = 0x12,
  kBusTypeGuid = 0x13,
  kLegacyBusType = 0x14,
  kBusNumber = 0x15,
  kEnumeratorName = 0x16,
  kSecuritySds = 0x18,
  kDevType = 0x19,
  kExclusive = 0x1A,
  kCharacteristics = 0x1B,
  kAddress = 0x1C,
  // Read under 0x1E as the layer's interface documents it, although the
  // platform keeps the format text itself under 0x1D.
  kUiNumberFormat = 0x1E,
};

// Values up to these sizes are read without a heap allocation.
constexpr std::size_t kTextFixedBytes = 2048;
constexpr std::size_t kListFixedBytes = 32768;

DWORD QuerySize(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code) {
  DWORD type = 0;
  DWORD size = 0;
  // The result is ignored: an absent property leaves the size at 0.
  (void)platform::SetupDiGetDeviceRegistryPropertySlot()(set, &data, code, &type,
                                                         /*Buffer=*/nullptr,
                                                         /*BufferSize=*/0, &size);
  return size;
}

// Runs `use` on a zero-filled buffer of at least `bytes` bytes, on the stack when
// it fits `FixedBytes`. Units are char16_t so that the text is read aligned.
template <std::size_t FixedBytes, typename Use>
auto WithZeroedBuffer(std::size_t bytes, Use&& use) {
  const std::size_t units = (bytes + 1) / 2;
  if (bytes <= FixedBytes) {
    std::array<char16_t, FixedBytes / 2> fixed{};
    return use(std::span<char16_t>(fixed.data(), units));
  }
  std::vector<char16_t> heap(units);
  return use(std::span<char16_t>(heap));
}

void QueryValue(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code, std::span<char16_t> buffer,
                DWORD length) {
  DWORD type = 0;
  DWORD required = 0;
  // The result is ignored: a failed query leaves the zero-filled buffer empty.
  (void)platform::SetupDiGetDeviceRegistryPropertySlot()(
      set, &data, code, &type, reinterpret_cast<BYTE*>(buffer.data()), length, &required);
}

// The text from `at` up to the first zero unit, never past the buffer's end.
TString TextAt(std::span<const char16_t> units, std::size_t at) {
  std::size_t end = at;
  while (end < units.size() && units[end] != 0) {
    ++end;
  }
  return TString(units.data() + at, end - at);
}

}  // namespace

THidPnPInfo::THidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA ADevData,
                         std::u16string_view ADevicePath)
    : FDeviceID(ADevData.DevInst), FDevicePath(ADevicePath) {
  HDEVINFO set = APnPHandle;
  SP_DEVINFO_DATA& d = ADevData;
  FCapabilities = ReadPropertyNumber(set, d, kCapabilities);
  FClassDescr = ReadPropertyText(set, d, kClass);
  FClassGUID = ReadPropertyText(set, d, kClassGuid);
  FCompatibleIDs = ReadPropertyList(set, d, kCompatibleIds);
  FConfigFlags = ReadPropertyNumber(set, d, kConfigFlags);
  FDeviceDescr = ReadPropertyText(set, d, kDeviceDesc);
  FDriver = ReadPropertyText(set, d, kDriver);
  FFriendlyName = ReadPropertyText(set, d, kFriendlyName);
  FHardwareID = ReadPropertyList(set, d, kHardwareId);
  FLowerFilters = ReadPropertyList(set, d, kLowerFilters);
  FMfg = ReadPropertyText(set, d, kMfg);
  FUpperFilters = ReadPropertyList(set, d, kUpperFilters);
  FService = ReadPropertyText(set, d, kService);
  // Address, Characteristics and BusType keep their documented text form: the raw
  // bytes of the number or GUID read as UTF-16 up to the first zero unit.
  FAddress = ReadPropertyText(set, d, kAddress);
  FBusNumber = ReadPropertyNumber(set, d, kBusNumber);
  FBusType = ReadPropertyText(set, d, kBusTypeGuid);
  FCharacteristics = ReadPropertyText(set, d, kCharacteristics);
  FDevType = ReadPropertyNumber(set, d, kDevType);
  FEnumeratorName = ReadPropertyText(set, d, kEnumeratorName);
  FExclusive = ReadPropertyNumber(set, d, kExclusive);
  FLegacyBusType = ReadPropertyNumber(set, d, kLegacyBusType);
  FLocationInfo = ReadPropertyText(set, d, kLocationInformation);
  FPhysDevObjName = ReadPropertyText(set, d, kPhysicalDeviceObjectName);
  FSecuritySDS = ReadPropertyText(set, d, kSecuritySds);
  FUINumber = ReadPropertyNumber(set, d, kUiNumber);
  FUINumberFormat = ReadPropertyText(set, d, kUiNumberFormat);
}

TString THidPnPInfo::ReadPropertyText(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code) {
  const DWORD size = QuerySize(set, data, code);
  if (size == 0) {
    return {};
  }
  // Two zero bytes beyond what the platform may write end the text.
  const std::size_t bytes = std::size_t{size} + 2;
  return WithZeroedBuffer<kTextFixedBytes>(bytes, [&](std::span<char16_t> buffer) {
    QueryValue(set, data, code, buffer, size);
    return TextAt(buffer, 0);
  });
}

TStringList THidPnPInfo::ReadPropertyList(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code) {
  const DWORD size = QuerySize(set, data, code);
  if (size == 0) {
    return {};
  }
  // Four zero bytes beyond the value: the last text's end and the closing empty text.
  const std::size_t bytes = std::size_t{size} + 4;
  return WithZeroedBuffer<kListFixedBytes>(bytes, [&](std::span<char16_t> buffer) {
    QueryValue(set, data, code, buffer, size);
    TStringList list;
    std::size_t at = 0;
    while (at < buffer.size() && buffer[at] != 0) {
      list.push_back(TextAt(buffer, at));
      at += list.back().size() + 1;
    }
    return list;
  });
}

uint32_t THidPnPInfo::ReadPropertyNumber(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code) {
  DWORD value = 0;
  DWORD type = 0;
  DWORD required = 0;
  (void)platform::SetupDiGetDeviceRegistryPropertySlot()(
      set, &data, code, &type, reinterpret_cast<BYTE*>(&value), sizeof value, &required);
  return value;
}

}  // namespace quorvel::hid
