// The HidD_ entry points over hidraw. Identity (attributes, strings, preparsed data) works
// on a handle opened with access 0, from sysfs; reports need a handle opened for reading or
// writing and go through the hidraw ioctls with the report ID in byte 0, as on Windows.
// Every call fails with ERROR_INVALID_HANDLE for a handle that is not open and with
// ERROR_DEVICE_NOT_CONNECTED once the device is gone. Report calls block for as long as
// the device takes to answer (the USB HID driver gives up after 5 s).
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "hidparse/HidParse.h"
#include "platform/PlatformTypes.h"
#include "platform/linux/DeviceStrings.h"
#include "platform/linux/Guids.h"
#include "platform/linux/HidrawHandle.h"
#include "platform/linux/ModuleRoot.h"
#include "platform/posix/Kernel.h"

using quorvel::hidraw::THidrawHandle;
using quorvel::hidraw::TStringKind;
using quorvel::hidraw::TStringResult;

namespace {

// hidraw keeps a fixed queue of 64 reports per open file.
constexpr ULONG kInputBuffers = 64;
// The range the platform accepts for the count of input buffers.
constexpr ULONG kMinInputBuffers = 2;
constexpr ULONG kMaxInputBuffers = 512;
// The ioctl number carries the length in 14 bits.
constexpr ULONG kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;
// One report at most (HID_MAX_BUFFER_SIZE), and a bound on draining a streaming device.
constexpr std::size_t kMaxReport = 16384;
constexpr int kMaxFlushReads = 4096;

BOOLEAN Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::optional<THidrawHandle> Lookup(HANDLE handle) {
  auto resolved = THidrawHandle::From(handle);
  if (!resolved) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return resolved;
}

const quorvel::hidraw::TSysfs& Sysfs() {
  return quorvel::hidraw::ModuleSysfs();
}

// Zero-terminated UTF-16 text into the caller's buffer, only when all of it fits.
BOOLEAN CopyString(const TStringResult& result, PVOID buffer, ULONG length) {
  if (result.Error != ERROR_SUCCESS) {
    return Fail(result.Error);
  }
  const std::size_t bytes = (result.Text.size() + 1) * sizeof(char16_t);
  if (length < bytes) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, result.Text.c_str(), bytes);
  return TRUE;
}

BOOLEAN GetString(HANDLE handle, TStringKind kind, PVOID buffer, ULONG length) {
  const auto hid = Lookup(handle);
  if (!hid) {
    return FALSE;
  }
  if (buffer == nullptr && length != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto node = hid->Node(Sysfs());
  if (!node) {
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  return CopyString(quorvel::hidraw::DeviceString(Sysfs(), *node, kind), buffer, length);
}

enum class TDirection { Get, Set };

struct TReportRequest {
  quorvel::hidparse::TReportKind Kind;
  TDirection Direction;
  unsigned Number;  // the ioctl's number: HIDIOCGFEATURE and the like without the length
};

// The length the platform fixes for a report the descriptor declares: a buffer shorter than
// the report fails, a longer one is cut to it for sending. 0 when the descriptor does not
// declare the report (the kernel then passes the request to the device as it is).
ULONG DeclaredLength(const THidrawHandle& hid, quorvel::hidparse::TReportKind kind,
                     uint8_t reportId) {
  DWORD ignored = ERROR_SUCCESS;
  const auto descriptor = hid.ReportDescriptor(Sysfs(), ignored);
  if (!descriptor) {
    return 0;
  }
  const auto parsed = quorvel::hidparse::ParseReportDescriptor(*descriptor);
  if (!parsed) {
    return 0;
  }
  for (const auto& collection : parsed.Descriptor->Collections) {
    if (const auto* report = collection.FindReport(kind, reportId)) {
      return report->ByteLength;
    }
  }
  return 0;
}

BOOLEAN TransferReport(HANDLE handle, const TReportRequest& request, PVOID buffer, ULONG length) {
  const auto hid = Lookup(handle);
  if (!hid) {
    return FALSE;
  }
  if (buffer == nullptr || length == 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!hid->CanTransfer()) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  ULONG sent = length;
  if (const ULONG declared = DeclaredLength(*hid, request.Kind, bytes[0]); declared != 0) {
    if (length < declared) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (request.Direction == TDirection::Set) {
      sent = declared;
    }
  }
  sent = std::min(sent, kMaxIoctlLength);
  const unsigned long code = _IOC(_IOC_WRITE | _IOC_READ, 'H', request.Number, sent);
  int result = -1;
  do {
    result = ::ioctl(hid->Fd(), code, bytes);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    return Fail(quorvel::hidraw::ErrorFromHidrawErrno(errno));
  }
  // A device may answer with less than asked: the rest is not its data.
  if (request.Direction == TDirection::Get && static_cast<ULONG>(result) < length) {
    std::memset(bytes + result, 0, length - static_cast<ULONG>(result));
  }
  return TRUE;
}

constexpr TReportRequest kGetFeature{quorvel::hidparse::TReportKind::Feature, TDirection::Get,
                                     _IOC_NR(HIDIOCGFEATURE(0))};
constexpr TReportRequest kSetFeature{quorvel::hidparse::TReportKind::Feature, TDirection::Set,
                                     _IOC_NR(HIDIOCSFEATURE(0))};
// The input and output report ioctls exist since Linux 5.11; older kernels fail them.
constexpr TReportRequest kGetInput{quorvel::hidparse::TReportKind::Input, TDirection::Get,
                                   _IOC_NR(HIDIOCGINPUT(0))};
constexpr TReportRequest kSetOutput{quorvel::hidparse::TReportKind::Output, TDirection::Set,
                                    _IOC_NR(HIDIOCSOUTPUT(0))};

}  // namespace

extern "C" {

void HidD_GetHidGuid(LPGUID HidGuid) {
  if (HidGuid != nullptr) {
    *HidGuid = quorvel::hidraw::kHidInterfaceGuid;
  }
}

// Vendor and product from the kernel (HIDIOCGRAWINFO) when the handle can ask it, else from
// sysfs, so that a node the user may not open is still identified; the version is the USB
// device's bcdDevice (0 for other transports, whose version the kernel does not show).
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (Attributes == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto node = hid->Node(Sysfs());
  HIDD_ATTRIBUTES result{};
  result.Size = sizeof(HIDD_ATTRIBUTES);
  if (hid->CanTransfer()) {
    hidraw_devinfo info{};
    if (::ioctl(hid->Fd(), HIDIOCGRAWINFO, &info) < 0) {
      return Fail(quorvel::hidraw::ErrorFromHidrawErrno(errno));
    }
    // The kernel's record has signed 16-bit fields.
    result.VendorID = static_cast<USHORT>(info.vendor);
    result.ProductID = static_cast<USHORT>(info.product);
  } else if (node) {
    result.VendorID = node->Vendor;
    result.ProductID = node->Product;
  } else {
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  result.VersionNumber = node ? quorvel::hidraw::VersionNumber(*node) : 0;
  *Attributes = result;
  return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return GetString(HidDeviceObject, TStringKind::Manufacturer, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return GetString(HidDeviceObject, TStringKind::Product, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return GetString(HidDeviceObject, TStringKind::Serial, Buffer, BufferLength);
}

// Index 0 gives the language IDs as code units followed by a zero; the buffer past the zero
// is left as it was.
BOOLEAN HidD_GetIndexedString(HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer,
                              ULONG BufferLength) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (Buffer == nullptr && BufferLength != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto node = hid->Node(Sysfs());
  if (!node) {
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  return CopyString(quorvel::hidraw::IndexedString(Sysfs(), *node, StringIndex), Buffer,
                    BufferLength);
}

BOOLEAN HidD_GetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return TransferReport(HidDeviceObject, kGetFeature, ReportBuffer, ReportBufferLength);
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return TransferReport(HidDeviceObject, kSetFeature, ReportBuffer, ReportBufferLength);
}

BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return TransferReport(HidDeviceObject, kGetInput, ReportBuffer, ReportBufferLength);
}

BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return TransferReport(HidDeviceObject, kSetOutput, ReportBuffer, ReportBufferLength);
}

// The parsed report descriptor (its first top-level collection); the variable stays null
// on failure.
BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (PreparsedData == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DWORD error = ERROR_SUCCESS;
  const auto descriptor = hid->ReportDescriptor(Sysfs(), error);
  if (!descriptor) {
    return Fail(error);
  }
  PHIDP_PREPARSED_DATA data = quorvel::hidparse::MakePreparsedData(*descriptor);
  if (data == nullptr) {
    return Fail(ERROR_INVALID_DATA);
  }
  *PreparsedData = data;
  return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
  return quorvel::hidparse::FreePreparsedData(PreparsedData) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (NumberBuffers == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *NumberBuffers = kInputBuffers;
  return TRUE;
}

// hidraw's queue cannot be resized: a count the platform would accept is taken and ignored.
BOOLEAN HidD_SetNumInputBuffers(HANDLE HidDeviceObject, ULONG NumberBuffers) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (NumberBuffers < kMinInputBuffers || NumberBuffers > kMaxInputBuffers) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return TRUE;
}

// Drops the reports queued for this handle without waiting for more. A handle that cannot
// read has no queue of its own to drop.
BOOLEAN HidD_FlushQueue(HANDLE HidDeviceObject) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (!hid->CanTransfer() || (::fcntl(hid->Fd(), F_GETFL) & O_ACCMODE) == O_WRONLY) {
    return TRUE;
  }
  std::vector<unsigned char> sink(kMaxReport);
  for (int reads = 0; reads < kMaxFlushReads; ++reads) {
    pollfd ready{hid->Fd(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, 0);
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return polled == 0 ? TRUE : Fail(quorvel::hidraw::ErrorFromHidrawErrno(errno));
    }
    if ((ready.revents & (POLLERR | POLLHUP)) != 0 && (ready.revents & POLLIN) == 0) {
      return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (::read(hid->Fd(), sink.data(), sink.size()) < 0 && errno != EINTR && errno != EAGAIN) {
      return Fail(quorvel::hidraw::ErrorFromHidrawErrno(errno));
    }
  }
  return TRUE;
}

// Linux keeps no physical descriptors: every device answers as one without any does, with
// an error other than ERROR_INSUFFICIENT_BUFFER, so a caller probing lengths stops at once.
BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID /*Buffer*/,
                                   ULONG /*BufferLength*/) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  return Fail(ERROR_NOT_SUPPORTED);
}

// The driver configuration: the input queue's fixed size, and a cookie that a later set
// must hand back.
BOOLEAN HidD_GetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (Configuration == nullptr || ConfigurationLength != sizeof(HIDD_CONFIGURATION)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  Configuration->cookie = HidDeviceObject;
  Configuration->size = sizeof(HIDD_CONFIGURATION);
  Configuration->RingBufferSize = kInputBuffers;
  return TRUE;
}

BOOLEAN HidD_SetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (Configuration == nullptr || ConfigurationLength != sizeof(HIDD_CONFIGURATION) ||
      Configuration->cookie != HidDeviceObject ||
      Configuration->RingBufferSize < kMinInputBuffers ||
      Configuration->RingBufferSize > kMaxInputBuffers) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return TRUE;
}

// A greeting, cut to the buffer and zero-terminated; returns the length the whole greeting
// needs, terminator included.
ULONG HidD_Hello(PCHAR Buffer, ULONG BufferLength) {
  static constexpr char kGreeting[] = "Hello\n";
  if (Buffer != nullptr && BufferLength != 0) {
    const ULONG copied = std::min<ULONG>(BufferLength - 1, sizeof kGreeting - 1);
    std::memcpy(Buffer, kGreeting, copied);
    Buffer[copied] = 0;
  }
  return sizeof kGreeting;
}

}  // extern "C"
