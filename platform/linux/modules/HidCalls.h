// What each HidD_ entry point does once its handle is resolved: every call returns
// ERROR_SUCCESS or the Windows error code the entry point reports. Identity calls work on
// a handle opened with access 0, and no call but a report call opens the node: identity
// comes from sysfs. Report calls need a handle made for reading or writing and go through
// the hidraw ioctls with the report ID in byte 0, as on Windows.
#pragma once

#include <cstdint>
#include <span>

#include "hidparse/Model.h"
#include "platform/linux/modules/DeviceStrings.h"
#include "platform/linux/modules/HidrawHandle.h"
#include "platform/linux/modules/Sysfs.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

// hidraw keeps a fixed queue of 64 reports per open file.
inline constexpr ULONG kInputBuffers = 64;
// The range the platform accepts for the count of input buffers.
inline constexpr ULONG kMinInputBuffers = 2;
inline constexpr ULONG kMaxInputBuffers = 512;

// Vendor and product from sysfs, so that no node is opened to identify a device, and one
// the user may not open is still identified; the version is the USB device's bcdDevice (0
// for other transports, whose version the kernel does not show).
DWORD GetAttributes(const THidrawHandle& hid, const TSysfs& sysfs, HIDD_ATTRIBUTES& attributes);

// Zero-terminated UTF-16 text, written only when all of it fits; the buffer past the
// terminator is left as it was. Index 0 gives the language IDs as code units.
DWORD GetString(const THidrawHandle& hid, const TSysfs& sysfs, TStringKind kind, void* buffer,
                ULONG length);
DWORD GetIndexedString(const THidrawHandle& hid, const TSysfs& sysfs, ULONG index, void* buffer,
                       ULONG length);

enum class TReportCall { GetFeature, SetFeature, GetInput, SetOutput };

// The lengths, ID byte included, that hold for a report the descriptor declares: Required,
// the longest report of that kind in the top-level collection that declares it (HIDP_CAPS'
// byte length, which the platform asks of every buffer for that kind), and Own, the
// report's own. Both 0 when no collection declares it or the descriptor does not parse.
struct TReportLengths {
  ULONG Required = 0;
  ULONG Own = 0;
};
TReportLengths ReportLengths(std::span<const uint8_t> descriptor, hidparse::TReportKind kind,
                             uint8_t reportId);

// One report through the kernel, blocking for as long as the device takes (the USB HID
// driver gives up after 5 s). For a report the descriptor declares, a buffer shorter than
// the collection's longest report of that kind fails with ERROR_INVALID_PARAMETER, as on the
// platform, and a report sent goes out at its own length. A report it does not declare goes
// to the device as it is. A device that answers with less than asked leaves zeros after its
// answer.
DWORD TransferReport(const THidrawHandle& hid, const TSysfs& sysfs, TReportCall call, void* buffer,
                     ULONG length);

// The first top-level collection of the report descriptor, parsed; free with
// hidparse::FreePreparsedData.
DWORD GetPreparsedData(const THidrawHandle& hid, const TSysfs& sysfs, PHIDP_PREPARSED_DATA& data);

// Drops the reports queued for this handle without waiting for more. A handle that cannot
// read has no queue of its own to drop.
DWORD FlushQueue(const THidrawHandle& hid);

}  // namespace quorvel::hidraw
