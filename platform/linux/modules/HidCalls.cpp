#include "platform/linux/modules/HidCalls.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "hidparse/HidParse.h"
#include "platform/Utf.h"
#include "trace/Trace.h"

namespace quorvel::hidraw {

namespace {

// The ioctl number carries the length in 14 bits.
constexpr ULONG kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;
// One report at most (HID_MAX_BUFFER_SIZE), and a bound on draining a streaming device.
constexpr std::size_t kMaxReport = 16384;
constexpr int kMaxFlushReads = 4096;

DWORD CopyString(const TStringResult& result, void* buffer, ULONG length) {
  if (result.Error != ERROR_SUCCESS) {
    return result.Error;
  }
  const std::size_t bytes = (result.Text.size() + 1) * sizeof(char16_t);
  if (buffer == nullptr || length < bytes) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, result.Text.c_str(), bytes);
  return ERROR_SUCCESS;
}

struct TReportRequest {
  hidparse::TReportKind Kind;
  bool Sends;
  unsigned Number;  // of the hidraw ioctl, whose length is added per call
};

TReportRequest RequestOf(TReportCall call) {
  // The input and output report ioctls exist since Linux 5.11; older kernels fail them.
  switch (call) {
    case TReportCall::GetFeature:
      return {hidparse::TReportKind::Feature, false, _IOC_NR(HIDIOCGFEATURE(0))};
    case TReportCall::SetFeature:
      return {hidparse::TReportKind::Feature, true, _IOC_NR(HIDIOCSFEATURE(0))};
    case TReportCall::GetInput:
      return {hidparse::TReportKind::Input, false, _IOC_NR(HIDIOCGINPUT(0))};
    case TReportCall::SetOutput:
      break;
  }
  return {hidparse::TReportKind::Output, true, _IOC_NR(HIDIOCSOUTPUT(0))};
}

// One line per report exchange: the bytes sent, or those received, and the outcome.
void TraceTransfer(const THidrawHandle& hid, TReportCall call, const unsigned char* bytes,
                   ULONG shown, int result, int err) {
  static constexpr const char* kNames[] = {"HidD_GetFeature", "HidD_SetFeature",
                                           "HidD_GetInputReport", "HidD_SetOutputReport"};
  const auto index = static_cast<std::size_t>(call);
  std::string line = std::string(index < std::size(kNames) ? kNames[index] : "report call") + " " +
                     platform::Utf16ToUtf8(hid.Path()) + " " + trace::TraceBytes(bytes, shown);
  // The errno beside the Windows error the caller gets, which cannot tell them apart.
  line += result < 0 ? ": failed: " + trace::ErrnoText(err) + ", error " +
                           std::to_string(ErrorFromHidrawIoctlErrno(err))
                     : ": ok, " + std::to_string(result) + " bytes";
  trace::TraceLine(line);
}

}  // namespace

DWORD GetAttributes(const THidrawHandle& hid, const TSysfs& sysfs, HIDD_ATTRIBUTES& attributes) {
  const auto node = hid.Node(sysfs);
  if (!node) {
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  HIDD_ATTRIBUTES result{};
  result.Size = sizeof(HIDD_ATTRIBUTES);
  result.VendorID = node->Vendor;
  result.ProductID = node->Product;
  result.VersionNumber = VersionNumber(*node);
  attributes = result;
  return ERROR_SUCCESS;
}

DWORD GetString(const THidrawHandle& hid, const TSysfs& sysfs, TStringKind kind, void* buffer,
                ULONG length) {
  const auto node = hid.Node(sysfs);
  if (!node) {
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  return CopyString(DeviceString(sysfs, *node, kind), buffer, length);
}

DWORD GetIndexedString(const THidrawHandle& hid, const TSysfs& sysfs, ULONG index, void* buffer,
                       ULONG length) {
  const auto node = hid.Node(sysfs);
  if (!node) {
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  return CopyString(IndexedString(sysfs, *node, index), buffer, length);
}

TReportLengths ReportLengths(std::span<const uint8_t> descriptor, hidparse::TReportKind kind,
                             uint8_t reportId) {
  const auto parsed = hidparse::ParseReportDescriptor(descriptor);
  if (!parsed) {
    return {};
  }
  for (const auto& collection : parsed.Descriptor->Collections) {
    if (const auto* report = collection.FindReport(kind, reportId)) {
      return {collection.ByteLength(kind), report->ByteLength};
    }
  }
  return {};
}

DWORD TransferReport(const THidrawHandle& hid, const TSysfs& sysfs, TReportCall call, void* buffer,
                     ULONG length) {
  if (buffer == nullptr || length == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!hid.CanTransfer()) {
    return ERROR_ACCESS_DENIED;
  }
  const TReportRequest request = RequestOf(call);
  auto* bytes = static_cast<unsigned char*>(buffer);
  DWORD ignored = ERROR_SUCCESS;
  const auto descriptor = hid.ReportDescriptor(sysfs, ignored);
  const TReportLengths declared =
      descriptor ? ReportLengths(*descriptor, request.Kind, bytes[0]) : TReportLengths{};
  ULONG sent = length;
  if (declared.Own != 0) {
    if (length < declared.Required) {
      return ERROR_INVALID_PARAMETER;
    }
    if (request.Sends) {
      sent = declared.Own;
    }
  }
  sent = std::min(sent, kMaxIoctlLength);
  int fd = -1;
  if (const DWORD error = hid.Descriptor(fd); error != ERROR_SUCCESS) {
    return error;
  }
  const unsigned long code = _IOC(_IOC_WRITE | _IOC_READ, 'H', request.Number, sent);
  int result = -1;
  do {
    result = ::ioctl(fd, code, bytes);
  } while (result < 0 && errno == EINTR);
  const int err = result < 0 ? errno : 0;
  if (trace::TraceOn()) {
    // What went out, or what came back; a failed read shows the report ID asked for.
    const ULONG received = result > 0 ? std::min(length, static_cast<ULONG>(result)) : 1;
    TraceTransfer(hid, call, bytes, request.Sends ? sent : received, result, err);
  }
  if (result < 0) {
    return ErrorFromHidrawIoctlErrno(err);
  }
  if (!request.Sends && static_cast<ULONG>(result) < length) {
    std::memset(bytes + result, 0, length - static_cast<ULONG>(result));
  }
  return ERROR_SUCCESS;
}

DWORD GetPreparsedData(const THidrawHandle& hid, const TSysfs& sysfs, PHIDP_PREPARSED_DATA& data) {
  DWORD error = ERROR_SUCCESS;
  const auto descriptor = hid.ReportDescriptor(sysfs, error);
  if (!descriptor) {
    return error;
  }
  PHIDP_PREPARSED_DATA made = hidparse::MakePreparsedData(*descriptor);
  if (made == nullptr) {
    return ERROR_INVALID_DATA;
  }
  data = made;
  return ERROR_SUCCESS;
}

DWORD FlushQueue(const THidrawHandle& hid) {
  if (!hid.CanRead()) {
    return ERROR_SUCCESS;
  }
  int fd = -1;
  if (const DWORD error = hid.Descriptor(fd); error != ERROR_SUCCESS) {
    return error;
  }
  std::vector<unsigned char> sink(kMaxReport);
  for (int reads = 0; reads < kMaxFlushReads; ++reads) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, 0);
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return polled == 0 ? ERROR_SUCCESS : ErrorFromHidrawErrno(errno);
    }
    if ((ready.revents & POLLIN) == 0) {
      return ERROR_DEVICE_NOT_CONNECTED;  // POLLHUP or POLLERR: the device is gone
    }
    if (::read(fd, sink.data(), sink.size()) < 0 && errno != EINTR && errno != EAGAIN) {
      return ErrorFromHidrawErrno(errno);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace quorvel::hidraw
