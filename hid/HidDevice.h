// THidDevice: one HID device interface of the controller's list. It keeps the
// device's identity, opens the interface path on demand, caches what it read and
// exchanges feature reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hid/HidEvents.h"
#include "hid/HidPnPInfo.h"
#include "hid/LayerTypes.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hid {

class THidDeviceHost;
class THidDeviceReadThread;
class TDeviceWatch;

enum class THidOpenExMode { omhRead, omhWrite };
using TPhysicalDescriptor = std::vector<uint16_t>;

// A platform handle that is either open or INVALID_HANDLE_VALUE, closed on reset
// and on destruction.
class TDeviceHandle {
 public:
  TDeviceHandle() = default;
  ~TDeviceHandle() { Reset(); }
  TDeviceHandle(const TDeviceHandle&) = delete;
  TDeviceHandle& operator=(const TDeviceHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE);

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The platform's last error on the calling thread (ERROR_ACCESS_DENIED, …), for a
// program after a device operation returned false.
uint32_t PlatformLastError();

// Why the platform's HID modules could not be bound (the module and the loader's reason),
// or empty when they were: without them no device can be found.
std::string PlatformBindingFailure();

class THidDevice {
 public:
  // Devices are made only by their controller: this constructor always throws
  // EControllerError "Direct creation of a THidDevice object is not allowed".
  THidDevice();
  // Makes a device for `Controller`'s list. On success the device takes
  // `PnPInfo` over; when the path opens but the attributes cannot be read it
  // throws EControllerError "Device cannot be identified" and `PnPInfo` stays
  // with the caller. A path that does not open at all gives a device with zero
  // attributes and no read-write access.
  static std::unique_ptr<THidDevice> CreateForController(std::unique_ptr<THidPnPInfo>& PnPInfo,
                                                         THidDeviceHost* Controller);
  // The application may free a device it has checked out: a device that is still
  // plugged in is then replaced in its controller's list by a fresh, checked-in
  // object for the same interface (see docs/hid-layer.md).
  ~THidDevice();
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  // Handles. Each holds an open handle or INVALID_HANDLE_VALUE.
  bool OpenFile();
  bool OpenFileEx(THidOpenExMode Mode);
  void CloseFile();
  void CloseFileEx(THidOpenExMode Mode);
  HANDLE HidFileHandle() const { return hidFileHandle_.Get(); }
  HANDLE HidOverlappedRead() const { return hidOverlappedRead_.Get(); }
  HANDLE HidOverlappedWrite() const { return hidOverlappedWrite_.Get(); }

  // Feature reports on the main handle, which stays open. `Report` starts with
  // the report ID; false leaves the platform's last error for the caller.
  bool GetFeature(void* Report, int32_t Size);
  bool SetFeature(void* Report, int32_t Size);

  // The device checks itself out of its controller; false when it has none, is
  // unplugged or is already checked out.
  bool CheckOut();

  // Identity.
  const HIDD_ATTRIBUTES& Attributes() const { return FAttributes; }
  bool HasReadWriteAccess() const { return FHasReadWriteAccess; }
  bool IsCheckedOut() const { return FIsCheckedOut; }
  bool IsPluggedIn() const { return FIsPluggedIn; }
  THidPnPInfo* PnPInfo() const { return FPnPInfo.get(); }

  // Strings and descriptors, each read through a cache that counts as unread
  // while empty; a read opens the main handle and closes it again.
  const TString& VendorName();
  const TString& ProductName();
  const TString& SerialNumber();
  const TStringList& LanguageStrings();
  const TPhysicalDescriptor& PhysicalDescriptor();
  // The string at `Idx` (0 yields the empty string); not cached, the main handle
  // stays open.
  TString GetDeviceString(uint8_t Idx);

  // Report parsing.
  PHIDP_PREPARSED_DATA PreparsedData();
  HIDP_CAPS Caps();
  HIDD_CONFIGURATION Configuration();
  void SetConfiguration(const HIDD_CONFIGURATION& Value);

  int32_t NumInputBuffers() const { return FNumInputBuffers; }
  void SetNumInputBuffers(int32_t Value);
  int32_t NumOverlappedBuffers() const { return FNumOverlappedBuffers; }
  void SetNumOverlappedBuffers(int32_t Value);

  uint32_t MaxDataListLength() const { return FMaxDataListLength; }
  uint32_t MaxUsageListLength() const { return FMaxUsageListLength; }
  uint32_t MaxButtonListLength() const { return FMaxButtonListLength; }
  uint32_t ReportTypeParam() const { return FReportTypeParam; }
  void SetReportTypeParam(uint32_t Value);
  uint16_t UsagePageParam() const { return FUsagePageParam; }
  void SetUsagePageParam(uint16_t Value);
  uint16_t LinkCollectionParam() const { return FLinkCollectionParam; }
  void SetLinkCollectionParam(uint16_t Value) { FLinkCollectionParam = Value; }
  uint16_t UsageParam() const { return FUsageParam; }
  void SetUsageParam(uint16_t Value) { FUsageParam = Value; }

  // Read-thread timing, in milliseconds. Values outside 0..10000 (polling delay)
  // and 10..10000 (sleep time) are ignored.
  int32_t PollingDelayTime() const { return FPollingDelayTime; }
  void SetPollingDelayTime(int32_t Value);
  int32_t ThreadSleepTime() const { return FThreadSleepTime; }
  void SetThreadSleepTime(int32_t Value);

  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }

  const THidDataEvent& OnData() const { return FOnData; }
  void SetOnData(THidDataEvent Value);
  const THidDataErrorEvent& OnDataError() const { return FOnDataError; }
  void SetOnDataError(THidDataErrorEvent Value) { FOnDataError = Value; }
  const THidPlugEvent& OnUnplug() const { return FOnUnplug; }
  void SetOnUnplug(THidPlugEvent Value) { FOnUnplug = Value; }

  // The report parser. Each call passes the selectors above and the device's
  // preparsed data to the platform and yields its status unchanged, or
  // HIDP_STATUS_NULL when the device is not usable (the platform is not called)
  // and HIDP_STATUS_INVALID_PREPARSED_DATA when the preparsed data cannot be had.
  NTSTATUS GetButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count);
  NTSTATUS GetSpecificButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count);
  NTSTATUS GetValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count);
  NTSTATUS GetSpecificValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count);
  NTSTATUS GetData(PHIDP_DATA DataList, ULONG& DataLength, void* Report, ULONG ReportLength);
  NTSTATUS SetData(PHIDP_DATA DataList, ULONG& DataLength, void* Report, ULONG ReportLength);
  NTSTATUS GetUsages(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS GetButtons(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS GetUsagesEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, void* Report,
                       ULONG ReportLength);
  NTSTATUS GetButtonsEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, void* Report,
                        ULONG ReportLength);
  NTSTATUS SetUsages(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS SetButtons(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS UnsetUsages(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS UnsetButtons(PUSAGE UsageList, ULONG& UsageLength, void* Report, ULONG ReportLength);
  NTSTATUS GetUsageValue(ULONG& UsageValue, void* Report, ULONG ReportLength);
  NTSTATUS GetScaledUsageValue(LONG& UsageValue, void* Report, ULONG ReportLength);
  NTSTATUS GetUsageValueArray(void* UsageValue, USHORT UsageValueByteLength, void* Report,
                              ULONG ReportLength);
  NTSTATUS SetUsageValue(ULONG UsageValue, void* Report, ULONG ReportLength);
  NTSTATUS SetScaledUsageValue(LONG UsageValue, void* Report, ULONG ReportLength);
  NTSTATUS SetUsageValueArray(void* UsageValue, USHORT UsageValueByteLength, void* Report,
                              ULONG ReportLength);
  // The node at `Idx`, all zero beyond the device's nodes. Read once and cached.
  HIDP_LINK_COLLECTION_NODE GetLinkCollectionNode(uint16_t Idx);
  // These two use the preparsed data already held (fetch it first, e.g. through
  // Caps) and do not ask whether the device is usable. HIDP_STATUS_NOT_IMPLEMENTED
  // when the platform lacks the function, HIDP_STATUS_INVALID_PREPARSED_DATA
  // when nothing is held yet.
  NTSTATUS GetExtendedAttributes(uint32_t ReportType, uint16_t DataIndex,
                                 PHIDP_EXTENDED_ATTRIBUTES Attributes, ULONG& LengthAttributes);
  NTSTATUS InitializeReportForID(uint32_t ReportType, uint8_t ReportID, void* Report,
                                 ULONG ReportLength);

  // Raw I/O on the main handle, which stays open. False leaves the platform's
  // last error for the caller.
  bool GetInputReport(void* Report, uint32_t Size);
  bool SetOutputReport(void* Report, uint32_t Size);
  // Blocks until the driver delivers an input report.
  bool ReadFile(void* Report, uint32_t ToRead, uint32_t& BytesRead);
  bool WriteFile(const void* Report, uint32_t ToWrite, uint32_t& BytesWritten);
  bool DeviceIoControl(uint32_t IoControlCode, void* InBuffer, uint32_t InSize, void* OutBuffer,
                       uint32_t OutSize, uint32_t& BytesReturned);
  // Discards the input reports queued for the main handle.
  bool FlushQueue();

  // Overlapped I/O, one request of each direction at a time. `Report` must stay
  // valid until the request completed; `CallBack` runs on the calling thread in
  // one of its alertable waits.
  bool ReadFileEx(void* Report, uint32_t ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
  bool WriteFileEx(const void* Report, uint32_t ToWrite, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
  // Bytes moved by the last request; 0 while it is pending, after a failure and
  // while the handle is closed.
  uint32_t HidOverlappedReadResult();
  uint32_t HidOverlappedWriteResult();
  // Cancels the calling thread's requests on the selected handle.
  bool CancelIO(THidOpenExMode Mode);

  // For the rest of the layer.
  // Plugged in, and checked out or being handed to a controller callback.
  bool IsUsable() const;
  // Closes every handle, clears IsPluggedIn and raises OnUnplug once (unset
  // before it runs). False when the handler freed the device.
  bool MarkUnplugged();
  // Starts the read thread when OnData is set, the device is plugged in, checked
  // out and was opened with read-write access, and none runs yet.
  void StartReadThread();
  // The one transition between checked in and out: the flag and the counters of
  // the controller that lists the device move together.
  void SetCheckedOut(bool checkedOut);
  // Ends and frees the read thread, serving its main-thread deliveries while it
  // waits. Never from the read thread or its handlers. False when a handler
  // served meanwhile freed the device.
  bool StopReadThread();
  // The read thread, or nullptr; it stays after its body ended until stopped.
  const THidDeviceReadThread* ReadThread() const { return readThread_.get(); }
  void UpdateListLengths();
  // The three handles closed.
  void CloseAll();

 private:
  friend class THidDeviceController;
  friend class THidDeviceHost;
  friend class TDeviceWatch;
  friend class TDeviceCallbackScope;

  explicit THidDevice(THidDeviceHost* Controller);
  // Opens the interface path with read-write access, else with none, recording
  // which one it got.
  HANDLE OpenMainPath();
  // Tells every watch of this device that it is gone.
  void ForgetWatches();
  // Puts a fresh object for this interface at this device's list position, or
  // takes the entry out; keeps the controller's counters in step.
  void LeaveController(const THidDataEvent& onData, const THidPlugEvent& onUnplug);
  template <typename Slot, typename Call>
  NTSTATUS Parse(Slot slot, Call call);

  THidDeviceHost* myController_ = nullptr;
  // Atomic: the read thread asks IsUsable while the main thread hands the
  // device to callbacks, checks it out or in, and marks it unplugged.
  std::atomic<bool> FIsPluggedIn{true};
  std::atomic<bool> FIsCheckedOut{false};
  std::atomic<bool> isEnumerated_{false};
  TDeviceHandle hidFileHandle_;
  TDeviceHandle hidOverlappedRead_;
  TDeviceHandle hidOverlappedWrite_;
  OVERLAPPED ovlRead_{};
  OVERLAPPED ovlWrite_{};
  HIDD_ATTRIBUTES FAttributes{};
  std::unique_ptr<THidPnPInfo> FPnPInfo;
  TString FVendorName;
  TString FProductName;
  TString FSerialNumber;
  TPhysicalDescriptor FPhysicalDescriptor;
  PHIDP_PREPARSED_DATA FPreparsedData = nullptr;
  TStringList FLanguageStrings;
  int32_t FNumInputBuffers = 0;
  // Written by the read thread when it opens the overlapped read handle.
  std::atomic<int32_t> FNumOverlappedBuffers = 0;
  // Read by the read thread at each wait.
  std::atomic<int32_t> FPollingDelayTime = 0;
  std::atomic<int32_t> FThreadSleepTime = 100;
  uint32_t FMaxDataListLength = 0;
  uint32_t FMaxUsageListLength = 0;
  uint32_t FMaxButtonListLength = 0;
  uint32_t FReportTypeParam = 0;
  uint16_t FUsagePageParam = 0;
  uint16_t FLinkCollectionParam = 0;
  uint16_t FUsageParam = 0;
  std::vector<HIDP_LINK_COLLECTION_NODE> linkCollection_;
  THidDataEvent FOnData;
  THidDataErrorEvent FOnDataError;
  THidPlugEvent FOnUnplug;
  bool FHasReadWriteAccess = false;
  std::unique_ptr<THidDeviceReadThread> readThread_;
  // Changes whenever readThread_ does, so that a stop can tell that a handler
  // stopped (or replaced) the thread while it waited.
  uint32_t readThreadGeneration_ = 0;
  // The overlapped read handle, opened by the read thread and closed by the
  // main thread (on unplug, after a callback). Recursive: a read opens the
  // handle, and an unplug closes every handle, under it.
  std::recursive_mutex overlappedReadLock_;
  int32_t FTag = 0;
  // The watches that learn when this object is freed.
  TDeviceWatch* watches_ = nullptr;
};

// Tells whether a device was freed while the watch existed, for code that hands
// a device to a handler which may free it (a later object may reuse the address,
// so looking it up in the list cannot tell).
class TDeviceWatch {
 public:
  explicit TDeviceWatch(THidDevice* device) : device_(device), next_(device->watches_) {
    device->watches_ = this;
  }
  ~TDeviceWatch() {
    if (device_ != nullptr) {
      for (TDeviceWatch** at = &device_->watches_; *at != nullptr; at = &(*at)->next_) {
        if (*at == this) {
          *at = next_;
          break;
        }
      }
    }
  }
  TDeviceWatch(const TDeviceWatch&) = delete;
  TDeviceWatch& operator=(const TDeviceWatch&) = delete;

  bool Gone() const { return device_ == nullptr; }
  THidDevice* Device() const { return device_; }

 private:
  friend class THidDevice;
  THidDevice* device_;
  TDeviceWatch* next_;
};

}  // namespace quorvel::hid
