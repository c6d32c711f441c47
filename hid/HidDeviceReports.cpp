// THidDevice: the report parser's calls, link collection nodes and raw I/O.
#include "hid/HidDevice.h"
#include "platform/Hid.h"
#include "platform/PlatformKernel.h"

namespace quorvel::hid {
namespace {

PCHAR Bytes(void* buffer) {
  return static_cast<PCHAR>(buffer);
}

}  // namespace

// Runs `call` with the preparsed data when the device may be asked and the
// platform has `slot`; the platform never sees null preparsed data.
template <typename Slot, typename Call>
NTSTATUS THidDevice::Parse(Slot slot, Call call) {
  if (!IsUsable()) {
    return HIDP_STATUS_NULL;
  }
  if (slot == nullptr) {
    return HIDP_STATUS_NOT_IMPLEMENTED;
  }
  PHIDP_PREPARSED_DATA data = PreparsedData();
  if (data == nullptr) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  return call(static_cast<HIDP_REPORT_TYPE>(FReportTypeParam), data);
}

NTSTATUS THidDevice::GetButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count) {
  return Parse(platform::HidP_GetSpecificButtonCaps, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetButtonCaps(type, ButtonCaps, &Count, data);
  });
}

NTSTATUS THidDevice::GetSpecificButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count) {
  return Parse(platform::HidP_GetSpecificButtonCaps, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetSpecificButtonCaps(type, FUsagePageParam, FLinkCollectionParam,
                                                FUsageParam, ButtonCaps, &Count, data);
  });
}

NTSTATUS THidDevice::GetValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count) {
  return Parse(platform::HidP_GetSpecificValueCaps, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetValueCaps(type, ValueCaps, &Count, data);
  });
}

NTSTATUS THidDevice::GetSpecificValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count) {
  return Parse(platform::HidP_GetSpecificValueCaps, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetSpecificValueCaps(type, FUsagePageParam, FLinkCollectionParam,
                                               FUsageParam, ValueCaps, &Count, data);
  });
}

NTSTATUS THidDevice::GetData(PHIDP_DATA DataList, ULONG& DataLength, void* Report,
                             ULONG ReportLength) {
  return Parse(platform::HidP_GetData, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetData(type, DataList, &DataLength, data, Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::SetData(PHIDP_DATA DataList, ULONG& DataLength, void* Report,
                             ULONG ReportLength) {
  return Parse(platform::HidP_SetData, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_SetData(type, DataList, &DataLength, data, Bytes(Report), ReportLength);
  });
}

// The usage-list calls share one shape: the slot, the list and the report.
#define QUORVEL_USAGE_LIST_CALL(Name, SlotName)                                         \
  NTSTATUS THidDevice::Name(PUSAGE UsageList, ULONG& UsageLength, void* Report,         \
                            ULONG ReportLength) {                                       \
    return Parse(platform::SlotName, [&](HIDP_REPORT_TYPE type, auto data) {            \
      return platform::SlotName(type, FUsagePageParam, FLinkCollectionParam, UsageList, \
                                &UsageLength, data, Bytes(Report), ReportLength);       \
    });                                                                                 \
  }
QUORVEL_USAGE_LIST_CALL(GetUsages, HidP_GetUsages)
QUORVEL_USAGE_LIST_CALL(GetButtons, HidP_GetButtonUsages)
QUORVEL_USAGE_LIST_CALL(SetUsages, HidP_SetUsages)
QUORVEL_USAGE_LIST_CALL(SetButtons, HidP_SetButtonUsages)
QUORVEL_USAGE_LIST_CALL(UnsetUsages, HidP_UnsetUsages)
QUORVEL_USAGE_LIST_CALL(UnsetButtons, HidP_UnsetButtonUsages)
#undef QUORVEL_USAGE_LIST_CALL

NTSTATUS THidDevice::GetUsagesEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, void* Report,
                                 ULONG ReportLength) {
  return Parse(platform::HidP_GetUsagesEx, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetUsagesEx(type, FLinkCollectionParam, UsageList, &UsageLength, data,
                                      Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::GetButtonsEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, void* Report,
                                  ULONG ReportLength) {
  return Parse(platform::HidP_GetButtonUsagesEx, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetButtonUsagesEx(type, FLinkCollectionParam, UsageList, &UsageLength,
                                            data, Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::GetUsageValue(ULONG& UsageValue, void* Report, ULONG ReportLength) {
  return Parse(platform::HidP_GetUsageValue, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        &UsageValue, data, Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::GetScaledUsageValue(LONG& UsageValue, void* Report, ULONG ReportLength) {
  return Parse(platform::HidP_GetScaledUsageValue, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetScaledUsageValue(type, FUsagePageParam, FLinkCollectionParam,
                                              FUsageParam, &UsageValue, data, Bytes(Report),
                                              ReportLength);
  });
}

NTSTATUS THidDevice::GetUsageValueArray(void* UsageValue, USHORT UsageValueByteLength, void* Report,
                                        ULONG ReportLength) {
  return Parse(platform::HidP_GetUsageValueArray, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_GetUsageValueArray(type, FUsagePageParam, FLinkCollectionParam,
                                             FUsageParam, Bytes(UsageValue), UsageValueByteLength,
                                             data, Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::SetUsageValue(ULONG UsageValue, void* Report, ULONG ReportLength) {
  return Parse(platform::HidP_SetUsageValue, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_SetUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        UsageValue, data, Bytes(Report), ReportLength);
  });
}

NTSTATUS THidDevice::SetScaledUsageValue(LONG UsageValue, void* Report, ULONG ReportLength) {
  return Parse(platform::HidP_SetScaledUsageValue, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_SetScaledUsageValue(type, FUsagePageParam, FLinkCollectionParam,
                                              FUsageParam, UsageValue, data, Bytes(Report),
                                              ReportLength);
  });
}

NTSTATUS THidDevice::SetUsageValueArray(void* UsageValue, USHORT UsageValueByteLength, void* Report,
                                        ULONG ReportLength) {
  return Parse(platform::HidP_SetUsageValueArray, [&](HIDP_REPORT_TYPE type, auto data) {
    return platform::HidP_SetUsageValueArray(type, FUsagePageParam, FLinkCollectionParam,
                                             FUsageParam, Bytes(UsageValue), UsageValueByteLength,
                                             data, Bytes(Report), ReportLength);
  });
}

HIDP_LINK_COLLECTION_NODE THidDevice::GetLinkCollectionNode(uint16_t Idx) {
  if (linkCollection_.empty()) {
    // Caps fetches the preparsed data only while the device is usable; what is
    // already held still serves.
    linkCollection_.resize(Caps().NumberLinkCollectionNodes);
    if (!linkCollection_.empty() && FPreparsedData != nullptr &&
        platform::HidP_GetLinkCollectionNodes != nullptr) {
      ULONG count = static_cast<ULONG>(linkCollection_.size());
      (void)platform::HidP_GetLinkCollectionNodes(linkCollection_.data(), &count, FPreparsedData);
    }
  }
  return Idx < linkCollection_.size() ? linkCollection_[Idx] : HIDP_LINK_COLLECTION_NODE{};
}

NTSTATUS THidDevice::GetExtendedAttributes(uint32_t ReportType, uint16_t DataIndex,
                                           PHIDP_EXTENDED_ATTRIBUTES Attributes,
                                           ULONG& LengthAttributes) {
  if (platform::HidP_GetExtendedAttributes == nullptr) {
    return HIDP_STATUS_NOT_IMPLEMENTED;
  }
  if (FPreparsedData == nullptr) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  return platform::HidP_GetExtendedAttributes(static_cast<HIDP_REPORT_TYPE>(ReportType), DataIndex,
                                              FPreparsedData, Attributes, &LengthAttributes);
}

NTSTATUS THidDevice::InitializeReportForID(uint32_t ReportType, uint8_t ReportID, void* Report,
                                           ULONG ReportLength) {
  if (platform::HidP_InitializeReportForID == nullptr) {
    return HIDP_STATUS_NOT_IMPLEMENTED;
  }
  if (FPreparsedData == nullptr) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  return platform::HidP_InitializeReportForID(static_cast<HIDP_REPORT_TYPE>(ReportType), ReportID,
                                              FPreparsedData, Bytes(Report), ReportLength);
}

bool THidDevice::GetInputReport(void* Report, uint32_t Size) {
  return platform::HidD_GetInputReport != nullptr && OpenFile() &&
         platform::HidD_GetInputReport(hidFileHandle_.Get(), Report, Size) != 0;
}

bool THidDevice::SetOutputReport(void* Report, uint32_t Size) {
  return platform::HidD_SetOutputReport != nullptr && OpenFile() &&
         platform::HidD_SetOutputReport(hidFileHandle_.Get(), Report, Size) != 0;
}

bool THidDevice::ReadFile(void* Report, uint32_t ToRead, uint32_t& BytesRead) {
  DWORD count = 0;
  const bool ok =
      OpenFile() && ::ReadFile(hidFileHandle_.Get(), Report, ToRead, &count, nullptr) != 0;
  BytesRead = ok ? count : 0;
  return ok;
}

bool THidDevice::WriteFile(const void* Report, uint32_t ToWrite, uint32_t& BytesWritten) {
  DWORD count = 0;
  const bool ok =
      OpenFile() && ::WriteFile(hidFileHandle_.Get(), Report, ToWrite, &count, nullptr) != 0;
  BytesWritten = ok ? count : 0;
  return ok;
}

bool THidDevice::DeviceIoControl(uint32_t IoControlCode, void* InBuffer, uint32_t InSize,
                                 void* OutBuffer, uint32_t OutSize, uint32_t& BytesReturned) {
  DWORD count = 0;
  const bool ok = OpenFile() && ::DeviceIoControl(hidFileHandle_.Get(), IoControlCode, InBuffer,
                                                  InSize, OutBuffer, OutSize, &count, nullptr) != 0;
  BytesReturned = ok ? count : 0;
  return ok;
}

bool THidDevice::FlushQueue() {
  return OpenFile() && platform::HidD_FlushQueue(hidFileHandle_.Get()) != 0;
}

bool THidDevice::ReadFileEx(void* Report, uint32_t ToRead,
                            LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
  std::lock_guard guard(overlappedReadLock_);
  if (!FIsPluggedIn) {
    // The read thread reports this code after an unplug, not a stale one.
    ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  if (!OpenFileEx(THidOpenExMode::omhRead)) {
    return false;
  }
  ovlRead_ = OVERLAPPED{};
  // Requests with a completion routine leave hEvent to the caller; the routine
  // finds its device through it.
  ovlRead_.hEvent = this;
  return ::ReadFileEx(hidOverlappedRead_.Get(), Report, ToRead, &ovlRead_, CallBack) != 0;
}

bool THidDevice::WriteFileEx(const void* Report, uint32_t ToWrite,
                             LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
  if (!OpenFileEx(THidOpenExMode::omhWrite)) {
    return false;
  }
  ovlWrite_ = OVERLAPPED{};
  ovlWrite_.hEvent = this;
  return ::WriteFileEx(hidOverlappedWrite_.Get(), Report, ToWrite, &ovlWrite_, CallBack) != 0;
}

uint32_t THidDevice::HidOverlappedReadResult() {
  std::lock_guard guard(overlappedReadLock_);
  DWORD count = 0;
  return hidOverlappedRead_.IsOpen() &&
                 ::GetOverlappedResult(hidOverlappedRead_.Get(), &ovlRead_, &count, FALSE) != 0
             ? count
             : 0;
}

uint32_t THidDevice::HidOverlappedWriteResult() {
  DWORD count = 0;
  return hidOverlappedWrite_.IsOpen() &&
                 ::GetOverlappedResult(hidOverlappedWrite_.Get(), &ovlWrite_, &count, FALSE) != 0
             ? count
             : 0;
}

bool THidDevice::CancelIO(THidOpenExMode Mode) {
  std::unique_lock guard(overlappedReadLock_, std::defer_lock);
  if (Mode == THidOpenExMode::omhRead) {
    guard.lock();
  }
  const TDeviceHandle& handle =
      Mode == THidOpenExMode::omhRead ? hidOverlappedRead_ : hidOverlappedWrite_;
  platform::TCancelIo cancel = platform::CancelIoEntry();
  return handle.IsOpen() && cancel != nullptr && cancel(handle.Get()) != 0;
}

}  // namespace quorvel::hid
