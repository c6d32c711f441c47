#include "platform/linux/modules/DeviceStrings.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <vector>

#include "trace/Trace.h"
#include "platform/Utf.h"
#include "platform/posix/UniqueFd.h"

namespace quorvel::hidraw {

namespace {

constexpr uint8_t kDescriptorDevice = 0x01;
constexpr uint8_t kDescriptorConfiguration = 0x02;
constexpr uint8_t kDescriptorString = 0x03;
constexpr uint8_t kDescriptorInterface = 0x04;
constexpr unsigned kControlTimeoutMs = 1000;

std::optional<std::u16string> TextAttribute(const std::string& file) {
  auto text = TSysfs::ReadText(file);
  if (!text) {
    return std::nullopt;
  }
  return platform::Utf8ToUtf16(*text);
}

// The string indexes a USB device names in its descriptors, and the sysfs attribute that
// holds the text of each.
struct TKnownIndex {
  uint8_t Index;
  std::string File;
};

std::vector<TKnownIndex> KnownIndexes(const THidrawNode& node) {
  std::vector<TKnownIndex> known;
  const std::string& device = *node.UsbDeviceDir;
  const auto raw = TSysfs::ReadBinary(device + "/descriptors", 65536);
  if (!raw || raw->size() < 18 || (*raw)[1] != kDescriptorDevice) {
    return known;
  }
  const std::vector<uint8_t>& d = *raw;
  known.push_back({d[14], device + "/manufacturer"});
  known.push_back({d[15], device + "/product"});
  known.push_back({d[16], device + "/serial"});

  const auto active = ParseDecimal(TSysfs::ReadText(device + "/bConfigurationValue").value_or(""));
  const auto ourInterface =
      ParseHex(TSysfs::ReadText(*node.UsbInterfaceDir + "/bInterfaceNumber").value_or(""), 0xFF);
  // The configuration descriptors follow the device descriptor, each with its interfaces.
  bool inActive = false;
  for (std::size_t at = d[0]; at + 2 <= d.size();) {
    const std::size_t length = d[at];
    if (length < 2 || at + length > d.size()) {
      break;
    }
    const uint8_t type = d[at + 1];
    if (type == kDescriptorConfiguration && length >= 9) {
      inActive = active && d[at + 5] == *active;
      if (inActive) {
        known.push_back({d[at + 6], device + "/configuration"});
      }
    } else if (type == kDescriptorInterface && length >= 9 && inActive && ourInterface &&
               d[at + 2] == *ourInterface && d[at + 3] == 0) {
      known.push_back({d[at + 8], *node.UsbInterfaceDir + "/interface"});
    }
    at += length;
  }
  return known;
}

// A GET_DESCRIPTOR(string) control transfer through usbfs; nullopt when the node cannot be
// opened (ordinary users often may not) or the device stalls.
std::optional<std::u16string> ReadStringDescriptor(const TSysfs& sysfs, const THidrawNode& node,
                                                   uint8_t index, uint16_t language) {
  const TUevent uevent = ParseUevent(TSysfs::ReadText(*node.UsbDeviceDir + "/uevent").value_or(""));
  const auto devName = UeventValue(uevent, "DEVNAME");
  if (!devName || devName->find("..") != std::string::npos) {
    return std::nullopt;
  }
  const std::string path = sysfs.Rooted("/dev/") + *devName;
  posix::TUniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  const bool writable = fd.Valid();
  if (!fd.Valid()) {
    fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }
  if (trace::TraceOn()) {
    const int err = errno;
    trace::TraceLine(
        fd.Valid() ? "node " + path + " opened for " + trace::TraceAccess(true, writable) +
                         " (string " + std::to_string(index) + ")"
                   : "node " + path + " refused for read: " + trace::ErrnoText(err));
  }
  if (!fd.Valid()) {
    return std::nullopt;
  }
  std::array<uint8_t, 255> buffer{};
  usbdevfs_ctrltransfer transfer{};
  transfer.bRequestType = 0x80;  // device to host, standard, device
  transfer.bRequest = 0x06;      // GET_DESCRIPTOR
  transfer.wValue = static_cast<uint16_t>((kDescriptorString << 8) | index);
  transfer.wIndex = language;
  transfer.wLength = static_cast<uint16_t>(buffer.size());
  transfer.timeout = kControlTimeoutMs;
  transfer.data = buffer.data();
  const int got = ::ioctl(fd.Get(), USBDEVFS_CONTROL, &transfer);
  if (got < 2 || buffer[1] != kDescriptorString || buffer[0] < 2 || buffer[0] > got) {
    return std::nullopt;
  }
  std::u16string units;
  for (std::size_t at = 2; at + 1 < buffer[0]; at += 2) {
    units.push_back(static_cast<char16_t>(buffer[at] | (buffer[at + 1] << 8)));
  }
  return units;
}

bool HasAnyUsbString(const THidrawNode& node) {
  for (const char* name : {"/manufacturer", "/product", "/serial"}) {
    if (TSysfs::Exists(*node.UsbDeviceDir + name)) {
      return true;
    }
  }
  return false;
}

TStringResult Found(std::u16string text) {
  return {ERROR_SUCCESS, std::move(text)};
}
TStringResult Missing() {
  return {kNoSuchString, {}};
}

std::optional<std::u16string> UsbProduct(const THidrawNode& node) {
  // The platform names one interface of a composite device by its interface string.
  const auto interfaces = TSysfs::ReadText(*node.UsbDeviceDir + "/bNumInterfaces").value_or("");
  const std::size_t digits = interfaces.find_first_not_of(' ');
  const auto count = digits == std::string::npos
                         ? std::nullopt
                         : ParseDecimal(std::string_view(interfaces).substr(digits));
  if (count && *count > 1) {
    if (auto text = TextAttribute(*node.UsbInterfaceDir + "/interface")) {
      return text;
    }
  }
  return TextAttribute(*node.UsbDeviceDir + "/product");
}

}  // namespace

TStringResult DeviceString(const TSysfs& /*sysfs*/, const THidrawNode& node, TStringKind kind) {
  std::optional<std::u16string> text;
  if (node.IsUsb()) {
    // HID_NAME of a USB device is "manufacturer product": never a name of its own.
    switch (kind) {
      case TStringKind::Manufacturer:
        text = TextAttribute(*node.UsbDeviceDir + "/manufacturer");
        break;
      case TStringKind::Product:
        text = UsbProduct(node);
        break;
      case TStringKind::Serial:
        text = TextAttribute(*node.UsbDeviceDir + "/serial");
        break;
    }
  } else {
    switch (kind) {
      case TStringKind::Manufacturer:
        break;
      case TStringKind::Product:
        if (!node.HidName.empty()) {
          text = platform::Utf8ToUtf16(node.HidName);
        }
        break;
      case TStringKind::Serial:
        if (!node.HidUniq.empty()) {
          text = platform::Utf8ToUtf16(node.HidUniq);
        }
        break;
    }
  }
  return text ? Found(std::move(*text)) : Missing();
}

TStringResult IndexedString(const TSysfs& sysfs, const THidrawNode& node, ULONG index) {
  if (index > 0xFF) {
    return {ERROR_INVALID_PARAMETER, {}};
  }
  if (!node.IsUsb()) {
    if (index == 0 && !node.HidName.empty()) {
      return Found(std::u16string(1, kFallbackLanguage));
    }
    return Missing();
  }
  if (index == 0) {
    if (auto languages = ReadStringDescriptor(sysfs, node, 0, 0);
        languages && !languages->empty()) {
      return Found(std::move(*languages));
    }
    return HasAnyUsbString(node) ? Found(std::u16string(1, kFallbackLanguage)) : Missing();
  }
  // What the kernel read at plug-in needs no access to the device.
  for (const TKnownIndex& known : KnownIndexes(node)) {
    if (known.Index == index) {
      if (auto text = TextAttribute(known.File)) {
        return Found(std::move(*text));
      }
    }
  }
  char16_t language = kFallbackLanguage;
  if (auto languages = ReadStringDescriptor(sysfs, node, 0, 0); languages && !languages->empty()) {
    language = (*languages)[0];
  }
  if (auto text = ReadStringDescriptor(sysfs, node, static_cast<uint8_t>(index), language)) {
    return Found(std::move(*text));
  }
  return Missing();
}

}  // namespace quorvel::hidraw
