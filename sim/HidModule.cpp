// The HidD_ functions of the HID library over the simulated world; the HidP_ report
// parser comes from hidparse. Every function that reaches a device goes through the
// world, which applies the device's faults and logs the exchange. A handle that is not
// open on a simulated device fails with ERROR_INVALID_HANDLE.
#include <cstring>
#include <span>

#include "hidparse/HidParse.h"
#include "trace/Trace.h"
#include "sim/HandleLookup.h"
#include "sim/ModuleExport.h"
#include "sim/World.h"
#include "wintypes/WinTypes.h"

#ifndef _WIN32
#include "platform/HidExportList.h"
#include "platform/posix/Kernel.h"
#endif

// mingw's hidsdi.h declares the HidD_ functions without C linkage, so on Windows the
// module defines them under names of its own and windows/HID.def exports them under
// the platform's names.
#ifdef _WIN32
#define QUORVEL_SIM_HIDD(name) QuorvelSim_##name
#define QUORVEL_SIM_HID_EXPORT extern "C"
#else
#define QUORVEL_SIM_HIDD(name) name
#define QUORVEL_SIM_HID_EXPORT QUORVEL_SIM_EXPORT
#endif

namespace quorvel::sim {
namespace {

constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

BOOLEAN Result(DWORD error) {
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

std::span<std::uint8_t> Bytes(PVOID buffer, ULONG length) {
  return {static_cast<std::uint8_t*>(buffer), buffer != nullptr ? length : 0};
}

// Runs call on the handle's device; ERROR_INVALID_HANDLE for a handle that is not
// ours, ERROR_INVALID_PARAMETER for a missing buffer.
template <typename TCall>
BOOLEAN OnDevice(HANDLE handle, const void* required, TCall call) {
  TSimHandle device;
  if (!LookUpHandle(handle, device)) {
    return Result(ERROR_INVALID_HANDLE);
  }
  if (required == nullptr) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  return Result(call(TWorld::Instance(), device));
}

BOOLEAN String(HANDLE handle, TStringKind kind, ULONG index, PVOID buffer, ULONG length) {
  return OnDevice(handle, buffer, [&](TWorld& world, const TSimHandle& device) -> DWORD {
    return world.GetString(device, kind, index, Bytes(buffer, length));
  });
}

// The trace's line for a feature exchange with a simulated device: the bytes that went
// out, or those that came back, and the outcome.
DWORD Traced(const char* call, const TSimHandle& device, PVOID buffer, ULONG length, DWORD error) {
  if (trace::TraceOn()) {
    trace::TraceLine(
        std::string(call) + " simulated device " + std::to_string(device.Device->Id) + " " +
        trace::TraceBytes(buffer, length) +
        (error == ERROR_SUCCESS ? ": ok" : ": failed: error " + std::to_string(error)));
  }
  return error;
}

}  // namespace
}  // namespace quorvel::sim

using namespace quorvel::sim;

// Undocumented and never called by the layer.
QUORVEL_SIM_HID_EXPORT ULONG WINAPI QUORVEL_SIM_HIDD(HidD_Hello)(PCHAR, ULONG) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

QUORVEL_SIM_HID_EXPORT void WINAPI QUORVEL_SIM_HIDD(HidD_GetHidGuid)(LPGUID HidGuid) {
  if (HidGuid != nullptr) {
    *HidGuid = kHidInterfaceClass;
  }
}

// The device's report descriptor parsed into hidparse's preparsed data (its first
// top-level collection); free it with HidD_FreePreparsedData. The variable stays
// untouched on failure.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetPreparsedData)(
    HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  return OnDevice(
      HidDeviceObject, PreparsedData, [&](TWorld& world, const TSimHandle& device) -> DWORD {
        TBytes descriptor;
        if (const auto error = world.GetReportDescriptor(device, descriptor); error != 0) {
          return error;
        }
        const auto data = quorvel::hidparse::MakePreparsedData(descriptor);
        if (data == nullptr) {
          return ERROR_INVALID_DATA;  // a descriptor the parser rejects
        }
        *PreparsedData = data;
        return ERROR_SUCCESS;
      });
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI
QUORVEL_SIM_HIDD(HidD_FreePreparsedData)(PHIDP_PREPARSED_DATA PreparsedData) {
  return Result(quorvel::hidparse::FreePreparsedData(PreparsedData) ? ERROR_SUCCESS
                                                                    : ERROR_INVALID_PARAMETER);
}

// The driver configuration: its ring buffer is the device's input queue. The length
// must be this ABI's sizeof(HIDD_CONFIGURATION).
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetConfiguration)(
    HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration, ULONG ConfigurationLength) {
  return OnDevice(HidDeviceObject, Configuration,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    if (ConfigurationLength != sizeof(HIDD_CONFIGURATION)) {
                      return ERROR_INVALID_PARAMETER;
                    }
                    std::uint32_t count = 0;
                    const auto error = world.GetNumInputBuffers(device, count);
                    if (error == ERROR_SUCCESS) {
                      *Configuration = HIDD_CONFIGURATION{};
                      Configuration->size = sizeof(HIDD_CONFIGURATION);
                      Configuration->RingBufferSize = count;
                    }
                    return error;
                  });
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_SetConfiguration)(
    HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration, ULONG ConfigurationLength) {
  return OnDevice(HidDeviceObject, Configuration,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    if (ConfigurationLength != sizeof(HIDD_CONFIGURATION)) {
                      return ERROR_INVALID_PARAMETER;
                    }
                    return world.SetNumInputBuffers(device, Configuration->RingBufferSize);
                  });
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_FlushQueue)(HANDLE HidDeviceObject) {
  return OnDevice(
      HidDeviceObject, &HidDeviceObject,
      [](TWorld& world, const TSimHandle& device) -> DWORD { return world.FlushQueue(device); });
}

// Byte 0 of the buffer is the report ID; the length must be at least the descriptor's
// feature report length (a longer buffer is fine). Needs read access.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetFeature)(HANDLE HidDeviceObject,
                                                                        PVOID ReportBuffer,
                                                                        ULONG ReportBufferLength) {
  return OnDevice(
      HidDeviceObject, ReportBuffer, [&](TWorld& world, const TSimHandle& device) -> DWORD {
        return Traced("HidD_GetFeature", device, ReportBuffer, ReportBufferLength,
                      world.GetFeature(device, Bytes(ReportBuffer, ReportBufferLength)));
      });
}

// As HidD_GetFeature; a longer buffer is cut to the report length. Needs write access.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_SetFeature)(HANDLE HidDeviceObject,
                                                                        PVOID ReportBuffer,
                                                                        ULONG ReportBufferLength) {
  return OnDevice(
      HidDeviceObject, ReportBuffer, [&](TWorld& world, const TSimHandle& device) -> DWORD {
        return Traced("HidD_SetFeature", device, ReportBuffer, ReportBufferLength,
                      world.SetFeature(device, Bytes(ReportBuffer, ReportBufferLength)));
      });
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI
QUORVEL_SIM_HIDD(HidD_GetNumInputBuffers)(HANDLE HidDeviceObject, PULONG NumberBuffers) {
  return OnDevice(HidDeviceObject, NumberBuffers,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    std::uint32_t count = 0;
                    const auto error = world.GetNumInputBuffers(device, count);
                    if (error == ERROR_SUCCESS) {
                      *NumberBuffers = count;
                    }
                    return error;
                  });
}

// 2 to 512, else ERROR_INVALID_PARAMETER.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI
QUORVEL_SIM_HIDD(HidD_SetNumInputBuffers)(HANDLE HidDeviceObject, ULONG NumberBuffers) {
  return OnDevice(HidDeviceObject, &HidDeviceObject,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    return world.SetNumInputBuffers(device, NumberBuffers);
                  });
}

// The caller sets Size to sizeof(HIDD_ATTRIBUTES) (12); other sizes fail with
// ERROR_INVALID_PARAMETER. Works on a handle opened without access.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI
QUORVEL_SIM_HIDD(HidD_GetAttributes)(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  return OnDevice(HidDeviceObject, Attributes,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    if (Attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
                      return ERROR_INVALID_PARAMETER;
                    }
                    std::uint16_t vendor = 0;
                    std::uint16_t product = 0;
                    std::uint16_t version = 0;
                    const auto error = world.GetAttributes(device, vendor, product, version);
                    if (error == ERROR_SUCCESS) {
                      Attributes->VendorID = vendor;
                      Attributes->ProductID = product;
                      Attributes->VersionNumber = version;
                    }
                    return error;
                  });
}

// The strings: zero-terminated UTF-16 when text and terminator fit the buffer, else
// ERROR_INSUFFICIENT_BUFFER and nothing written; a string the device lacks fails with
// ERROR_GEN_FAILURE (the device stalls the request).
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetManufacturerString)(
    HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return String(HidDeviceObject, TStringKind::Manufacturer, 0, Buffer, BufferLength);
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI
QUORVEL_SIM_HIDD(HidD_GetProductString)(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return String(HidDeviceObject, TStringKind::Product, 0, Buffer, BufferLength);
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetSerialNumberString)(
    HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  return String(HidDeviceObject, TStringKind::Serial, 0, Buffer, BufferLength);
}

// Index 0 gives the language IDs as code units with a terminating zero; the bytes
// after it are left as they were.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetIndexedString)(
    HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer, ULONG BufferLength) {
  return String(HidDeviceObject, TStringKind::Indexed, StringIndex, Buffer, BufferLength);
}

// True when the descriptor fits; ERROR_INSUFFICIENT_BUFFER while the buffer is too
// short; ERROR_NOT_FOUND for a device without one.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetPhysicalDescriptor)(
    HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
  // A zero-length probe may pass no buffer at all.
  return OnDevice(HidDeviceObject, BufferLength == 0 ? &HidDeviceObject : Buffer,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    return world.GetPhysicalDescriptor(device, Bytes(Buffer, BufferLength));
                  });
}

QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetMsGenreDescriptor)(HANDLE, PVOID,
                                                                                  ULONG) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

// The stored input report of that ID (a generic device's "inputReports"); needs read
// access; the same length rule as the feature reports.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_GetInputReport)(
    HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return OnDevice(HidDeviceObject, ReportBuffer,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    return world.GetInputReport(device, Bytes(ReportBuffer, ReportBufferLength));
                  });
}

// Recorded in the device's outputs; needs write access.
QUORVEL_SIM_HID_EXPORT BOOLEAN WINAPI QUORVEL_SIM_HIDD(HidD_SetOutputReport)(
    HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
  return OnDevice(HidDeviceObject, ReportBuffer,
                  [&](TWorld& world, const TSimHandle& device) -> DWORD {
                    return world.SetOutputReport(device, Bytes(ReportBuffer, ReportBufferLength));
                  });
}
