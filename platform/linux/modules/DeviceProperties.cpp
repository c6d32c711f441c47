#include "platform/linux/modules/DeviceProperties.h"

#include <cstdio>

#include "hidparse/HidParse.h"
#include "platform/Utf.h"
#include "platform/linux/modules/DeviceStrings.h"
#include "platform/linux/modules/Guids.h"

namespace quorvel::hidraw {

namespace {

constexpr uint16_t kPageGenericDesktop = 0x01;
constexpr uint16_t kPageConsumer = 0x0C;
constexpr uint16_t kPageDigitizer = 0x0D;
constexpr uint16_t kPageVendorFirst = 0xFF00;

// Every HID device node with a bound driver counts as installed (CM_INSTALL_STATE_INSTALLED).
constexpr DWORD kInstallStateInstalled = 0;

void AppendUnits(std::vector<uint8_t>& bytes, std::u16string_view text) {
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
}

TPropertyValue Text(std::u16string_view text) {
  TPropertyValue value{REG_SZ, {}};
  AppendUnits(value.Bytes, text);
  return value;
}

TPropertyValue List(const std::vector<std::u16string>& texts) {
  TPropertyValue value{REG_MULTI_SZ, {}};
  for (const auto& text : texts) {
    AppendUnits(value.Bytes, text);
  }
  value.Bytes.push_back(0);
  value.Bytes.push_back(0);
  return value;
}

TPropertyValue Number(DWORD number) {
  TPropertyValue value{REG_DWORD, {}};
  for (int shift = 0; shift < 32; shift += 8) {
    value.Bytes.push_back(static_cast<uint8_t>(number >> shift));
  }
  return value;
}

TPropertyValue Binary(const GUID& guid) {
  TPropertyValue value{REG_BINARY, {}};
  const DWORD head[] = {guid.Data1, guid.Data2, guid.Data3};
  const int widths[] = {4, 2, 2};
  for (int part = 0; part < 3; ++part) {
    for (int i = 0; i < widths[part]; ++i) {
      value.Bytes.push_back(static_cast<uint8_t>(head[part] >> (8 * i)));
    }
  }
  value.Bytes.insert(value.Bytes.end(), guid.Data4, guid.Data4 + 8);
  return value;
}

std::u16string Hex4(uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", value);
  return platform::Utf8ToUtf16(text);
}

std::optional<TTopLevelUsage> TopLevelUsage(const THidrawNode& node) {
  const auto descriptor = ReportDescriptorFromSysfs(node);
  if (!descriptor) {
    return std::nullopt;
  }
  const auto parsed = hidparse::ParseReportDescriptor(*descriptor);
  if (!parsed || parsed.Descriptor->Collections.empty()) {
    return std::nullopt;
  }
  const auto& first = parsed.Descriptor->Collections.front();
  return TTopLevelUsage{first.UsagePage, first.Usage};
}

// The system-wide kind of a top-level collection, as the platform names it in hardware IDs.
const char16_t* SystemKind(const TTopLevelUsage& usage) {
  if (usage.UsagePage == kPageGenericDesktop) {
    switch (usage.Usage) {
      case 0x01:
      case 0x02:
        return u"HID_DEVICE_SYSTEM_MOUSE";
      case 0x04:
      case 0x05:
        return u"HID_DEVICE_SYSTEM_GAME";
      case 0x06:
      case 0x07:
        return u"HID_DEVICE_SYSTEM_KEYBOARD";
      case 0x80:
        return u"HID_DEVICE_SYSTEM_CONTROL";
      default:
        return nullptr;
    }
  }
  if (usage.UsagePage == kPageConsumer && usage.Usage == 0x01) {
    return u"HID_DEVICE_SYSTEM_CONSUMER";
  }
  return nullptr;
}

}  // namespace

std::u16string DeviceDescription(std::optional<TTopLevelUsage> usage) {
  if (!usage) {
    return u"HID-compliant device";
  }
  if (usage->UsagePage >= kPageVendorFirst) {
    return u"HID-compliant vendor-defined device";
  }
  if (usage->UsagePage == kPageGenericDesktop) {
    switch (usage->Usage) {
      case 0x02:
        return u"HID-compliant mouse";
      case 0x04:
      case 0x05:
        return u"HID-compliant game controller";
      case 0x06:
      case 0x07:
        return u"HID Keyboard Device";
      case 0x80:
        return u"HID-compliant system controller";
      default:
        break;
    }
  }
  if (usage->UsagePage == kPageConsumer && usage->Usage == 0x01) {
    return u"HID-compliant consumer control device";
  }
  if (usage->UsagePage == kPageDigitizer) {
    switch (usage->Usage) {
      case 0x02:
        return u"HID-compliant pen";
      case 0x04:
        return u"HID-compliant touch screen";
      case 0x05:
        return u"HID-compliant touch pad";
      default:
        break;
    }
  }
  return u"HID-compliant device";
}

std::vector<std::u16string> HardwareIds(const THidrawNode& node, uint16_t version,
                                        std::optional<TTopLevelUsage> usage) {
  const std::u16string vidPid = u"HID\\VID_" + Hex4(node.Vendor) + u"&PID_" + Hex4(node.Product);
  std::vector<std::u16string> ids{vidPid + u"&REV_" + Hex4(version), vidPid};
  if (usage) {
    if (const char16_t* kind = SystemKind(*usage)) {
      ids.emplace_back(kind);
    }
    ids.push_back(u"HID_DEVICE_UP:" + Hex4(usage->UsagePage) + u"_U:" + Hex4(usage->Usage));
  }
  ids.emplace_back(u"HID_DEVICE");
  return ids;
}

TPropertyTable DeviceProperties(const TSysfs& sysfs, const THidrawNode& node) {
  TPropertyTable table;
  const auto usage = TopLevelUsage(node);
  const uint16_t version = VersionNumber(node);

  table[SPDRP_DEVICEDESC] = Text(DeviceDescription(usage));
  table[SPDRP_HARDWAREID] = List(HardwareIds(node, version, usage));
  if (!node.Driver.empty()) {
    table[SPDRP_SERVICE] = Text(platform::Utf8ToUtf16(node.Driver));
    table[SPDRP_INSTALL_STATE] = Number(kInstallStateInstalled);
  }
  table[SPDRP_CLASS] = Text(u"HIDClass");
  table[SPDRP_CLASSGUID] = Text(kHidClassGuidText);
  if (auto maker = DeviceString(sysfs, node, TStringKind::Manufacturer); maker.Error == 0) {
    table[SPDRP_MFG] = Text(maker.Text);
  }
  if (!node.HidPhys.empty()) {
    table[SPDRP_LOCATION_INFORMATION] = Text(platform::Utf8ToUtf16(node.HidPhys));
  }
  // The kernel's own name for the device object: its path below /sys.
  const std::string_view devPath = sysfs.Unrooted(node.HidDir);
  if (devPath.substr(0, 4) == "/sys") {
    table[SPDRP_PHYSICAL_DEVICE_OBJECT_NAME] = Text(platform::Utf8ToUtf16(devPath.substr(4)));
  }
  table[SPDRP_BUSTYPEGUID] = Binary(kHidBusTypeGuid);
  table[SPDRP_ENUMERATOR_NAME] = Text(u"HID");
  return table;
}

}  // namespace quorvel::hidraw
