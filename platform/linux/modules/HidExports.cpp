// The HidD_ entry points: each resolves its handle (ERROR_INVALID_HANDLE for one that is
// not open), checks the caller's pointers and reports the outcome of HidCalls through the
// per-thread last error. A device that is gone fails with ERROR_DEVICE_NOT_CONNECTED.
#include <algorithm>
#include <cstring>

#include "hidparse/HidParse.h"
#include "platform/HidExportList.h"
#include "platform/linux/modules/Guids.h"
#include "platform/linux/modules/HidCalls.h"
#include "platform/linux/modules/ModuleRoot.h"
#include "platform/posix/Kernel.h"
#include "wintypes/WinTypes.h"

namespace hidraw = quorvel::hidraw;
using hidraw::THidrawHandle;

namespace {

BOOLEAN Outcome(DWORD error) {
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

std::optional<THidrawHandle> Lookup(HANDLE handle) {
  auto resolved = THidrawHandle::From(handle);
  if (!resolved) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return resolved;
}

const hidraw::TSysfs& Sysfs() {
  return hidraw::ModuleSysfs();
}

BOOLEAN StringCall(HANDLE handle, hidraw::TStringKind kind, PVOID buffer, ULONG length) {
  const auto hid = Lookup(handle);
  if (!hid) {
    return FALSE;
  }
  if (buffer == nullptr && length != 0) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  return Outcome(hidraw::GetString(*hid, Sysfs(), kind, buffer, length));
}

BOOLEAN ReportCall(HANDLE handle, hidraw::TReportCall call, PVOID buffer, ULONG length) {
  const auto hid = Lookup(handle);
  if (!hid) {
    return FALSE;
  }
  return Outcome(hidraw::TransferReport(*hid, Sysfs(), call, buffer, length));
}

}  // namespace

extern "C" {

void HidD_GetHidGuid(LPGUID HidGuid) {
  if (HidGuid != nullptr) {
    *HidGuid = hidraw::kHidInterfaceGuid;
  }
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (Attributes == nullptr) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  return Outcome(hidraw::GetAttributes(*hid, Sysfs(), *Attributes));
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return StringCall(HidDeviceObject, hidraw::TStringKind::Manufacturer, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return StringCall(HidDeviceObject, hidraw::TStringKind::Product, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return StringCall(HidDeviceObject, hidraw::TStringKind::Serial, Buffer, BufferLength);
}

BOOLEAN HidD_GetIndexedString(HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer,
                              ULONG BufferLength) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (Buffer == nullptr && BufferLength != 0) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  return Outcome(hidraw::GetIndexedString(*hid, Sysfs(), StringIndex, Buffer, BufferLength));
}

BOOLEAN HidD_GetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return ReportCall(HidDeviceObject, hidraw::TReportCall::GetFeature, ReportBuffer,
                    ReportBufferLength);
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return ReportCall(HidDeviceObject, hidraw::TReportCall::SetFeature, ReportBuffer,
                    ReportBufferLength);
}

BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return ReportCall(HidDeviceObject, hidraw::TReportCall::GetInput, ReportBuffer,
                    ReportBufferLength);
}

BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return ReportCall(HidDeviceObject, hidraw::TReportCall::SetOutput, ReportBuffer,
                    ReportBufferLength);
}

// The variable stays null on failure.
BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  const auto hid = Lookup(HidDeviceObject);
  if (!hid) {
    return FALSE;
  }
  if (PreparsedData == nullptr) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  return Outcome(hidraw::GetPreparsedData(*hid, Sysfs(), *PreparsedData));
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
  return Outcome(quorvel::hidparse::FreePreparsedData(PreparsedData) ? ERROR_SUCCESS
                                                                     : ERROR_INVALID_PARAMETER);
}

BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (NumberBuffers == nullptr) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  *NumberBuffers = hidraw::kInputBuffers;
  return TRUE;
}

// hidraw's queue cannot be resized: a count the platform would accept is taken and ignored.
BOOLEAN HidD_SetNumInputBuffers(HANDLE HidDeviceObject, ULONG NumberBuffers) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  const bool inRange =
      NumberBuffers >= hidraw::kMinInputBuffers && NumberBuffers <= hidraw::kMaxInputBuffers;
  return Outcome(inRange ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
}

BOOLEAN HidD_FlushQueue(HANDLE HidDeviceObject) {
  const auto hid = Lookup(HidDeviceObject);
  return hid ? Outcome(hidraw::FlushQueue(*hid)) : FALSE;
}

// Linux keeps no physical descriptors: every device answers as one without any does, with
// an error other than ERROR_INSUFFICIENT_BUFFER, so a caller probing lengths stops at once.
BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID /*Buffer*/,
                                   ULONG /*BufferLength*/) {
  return Lookup(HidDeviceObject) ? Outcome(ERROR_NOT_SUPPORTED) : FALSE;
}

// The driver configuration: the input queue's fixed size, and a cookie that a later set
// must hand back.
BOOLEAN HidD_GetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  if (Configuration == nullptr || ConfigurationLength != sizeof(HIDD_CONFIGURATION)) {
    return Outcome(ERROR_INVALID_PARAMETER);
  }
  Configuration->cookie = HidDeviceObject;
  Configuration->size = sizeof(HIDD_CONFIGURATION);
  Configuration->RingBufferSize = hidraw::kInputBuffers;
  return TRUE;
}

BOOLEAN HidD_SetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
  if (!Lookup(HidDeviceObject)) {
    return FALSE;
  }
  const bool valid = Configuration != nullptr &&
                     ConfigurationLength == sizeof(HIDD_CONFIGURATION) &&
                     Configuration->cookie == HidDeviceObject &&
                     Configuration->RingBufferSize >= hidraw::kMinInputBuffers &&
                     Configuration->RingBufferSize <= hidraw::kMaxInputBuffers;
  return Outcome(valid ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
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
