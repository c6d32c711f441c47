#include "hid/HidDevice.h"

#include <utility>

#include "hid/HidDeviceHost.h"
#include "hid/HidDeviceReadThread.h"
#include "hid/MainThread.h"
#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/PlatformKernel.h"

namespace quorvel::hid {
namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenPath(const TString& path, DWORD access, DWORD flags) {
  return ::CreateFileW(reinterpret_cast<const WCHAR*>(path.c_str()), access, kShareReadWrite,
                       /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, flags,
                       /*hTemplateFile=*/nullptr);
}

bool InRange(int32_t value, int32_t low, int32_t high) {
  return value >= low && value <= high;
}

}  // namespace

uint32_t PlatformLastError() {
  return ::GetLastError();
}

std::string PlatformBindingFailure() {
  if (platform::HidBound()) {
    return {};
  }
  std::string why = platform::ModuleFailure();
  return why.empty() ? "The platform modules could not be bound" : why;
}

void TDeviceHandle::Reset(HANDLE handle) {
  if (handle_ != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle_);
  }
  handle_ = handle;
}

THidDevice::THidDevice() {
  throw EControllerError("Direct creation of a THidDevice object is not allowed");
}

THidDevice::THidDevice(THidDeviceHost* Controller) {
  // Timing values come over as they stand, even beyond the range the device's
  // own setters keep to, except those the read thread cannot live with: a sleep
  // time of 0 or less would make it spin or never wake. Such a default leaves
  // the device's own value.
  FPollingDelayTime = Controller->FDevPollingDelayTime;
  if (Controller->FDevThreadSleepTime > 0) {
    FThreadSleepTime = Controller->FDevThreadSleepTime;
  }
  SetOnData(Controller->FOnDeviceData);
  FOnUnplug = Controller->FOnDeviceUnplug;
  FOnDataError = Controller->FOnDeviceDataError;
}

std::unique_ptr<THidDevice> THidDevice::CreateForController(std::unique_ptr<THidPnPInfo>& PnPInfo,
                                                            THidDeviceHost* Controller) {
  // The constructor is private; the object is owned from the first moment.
  std::unique_ptr<THidDevice> device(new THidDevice(Controller));
  HANDLE handle = OpenPath(PnPInfo->DevicePath(), GENERIC_READ | GENERIC_WRITE, 0);
  device->FHasReadWriteAccess = handle != INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE) {
    handle = OpenPath(PnPInfo->DevicePath(), 0, 0);
  }
  if (handle != INVALID_HANDLE_VALUE) {
    device->hidFileHandle_.Reset(handle);
    device->FAttributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (!platform::HidD_GetAttributes(handle, &device->FAttributes)) {
      // The device has no controller yet, so its destructor leaves the list alone;
      // the PnP information was never taken and stays with the caller.
      throw EControllerError("Device cannot be identified");
    }
    device->CloseFile();
  }
  device->FPnPInfo = std::move(PnPInfo);
  device->myController_ = Controller;
  return device;
}

THidDevice::~THidDevice() {
  ForgetWatches();
  const THidDataEvent onData = FOnData;
  const THidPlugEvent onUnplug = FOnUnplug;
  SetOnData({});
  FOnUnplug = {};
  CloseAll();
  if (FPreparsedData != nullptr) {
    platform::HidD_FreePreparsedData(FPreparsedData);
    FPreparsedData = nullptr;
  }
  FLanguageStrings.clear();
  if (myController_ != nullptr) {
    LeaveController(onData, onUnplug);
  }
  // Watches made by handlers that ran during the destruction are gone already;
  // this is for any left.
  ForgetWatches();
}

void THidDevice::ForgetWatches() {
  for (TDeviceWatch* watch = watches_; watch != nullptr; watch = watch->next_) {
    watch->device_ = nullptr;
  }
  watches_ = nullptr;
}

void THidDevice::LeaveController(const THidDataEvent& onData, const THidPlugEvent& onUnplug) {
  THidDeviceHost& host = *myController_;
  const int32_t index = host.IndexOf(this);
  if (index < 0) {
    return;
  }
  auto& entry = host.list_[static_cast<std::size_t>(index)];
  // This object is being destroyed through `delete`: the list gives up its
  // ownership before the entry is reused or erased.
  (void)entry.release();
  std::unique_ptr<THidDevice> replacement;
  if (FIsPluggedIn) {
    try {
      replacement = CreateForController(FPnPInfo, myController_);
    } catch (...) {
      // A destructor cannot pass an error on: whatever stopped the replacement,
      // the entry leaves the list as it does for an unidentifiable device.
      replacement.reset();
    }
  }
  if (replacement) {
    replacement->SetOnData(onData);
    replacement->FOnUnplug = onUnplug;
    replacement->SetPollingDelayTime(FPollingDelayTime);
    replacement->SetThreadSleepTime(FThreadSleepTime);
    --host.CounterOf(*this);
    ++host.CounterOf(*replacement);
    entry = std::move(replacement);
    return;
  }
  host.list_.erase(host.list_.begin() + index);
  --host.CounterOf(*this);
}

bool THidDevice::IsUsable() const {
  return FIsPluggedIn && (FIsCheckedOut || isEnumerated_);
}

HANDLE THidDevice::OpenMainPath() {
  HANDLE handle = OpenPath(FPnPInfo->DevicePath(), GENERIC_READ | GENERIC_WRITE, 0);
  FHasReadWriteAccess = handle != INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE) {
    handle = OpenPath(FPnPInfo->DevicePath(), 0, 0);
  }
  return handle;
}

bool THidDevice::OpenFile() {
  if (IsUsable() && !hidFileHandle_.IsOpen()) {
    HANDLE handle = OpenMainPath();
    if (handle != INVALID_HANDLE_VALUE) {
      hidFileHandle_.Reset(handle);
      ULONG count = 0;
      (void)platform::HidD_GetNumInputBuffers(handle, &count);
      FNumInputBuffers = static_cast<int32_t>(count);
    }
  }
  return hidFileHandle_.IsOpen();
}

bool THidDevice::OpenFileEx(THidOpenExMode Mode) {
  if (!IsUsable()) {
    return false;
  }
  if (Mode == THidOpenExMode::omhRead) {
    std::lock_guard guard(overlappedReadLock_);
    if (!hidOverlappedRead_.IsOpen()) {
      HANDLE handle = OpenPath(FPnPInfo->DevicePath(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
      if (handle != INVALID_HANDLE_VALUE) {
        hidOverlappedRead_.Reset(handle);
        ULONG count = 0;
        (void)platform::HidD_GetNumInputBuffers(handle, &count);
        FNumOverlappedBuffers = static_cast<int32_t>(count);
      }
    }
    return hidOverlappedRead_.IsOpen();
  }
  if (!hidOverlappedWrite_.IsOpen()) {
    HANDLE handle = OpenPath(FPnPInfo->DevicePath(), GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    if (handle != INVALID_HANDLE_VALUE) {
      hidOverlappedWrite_.Reset(handle);
    }
  }
  return hidOverlappedWrite_.IsOpen();
}

void THidDevice::CloseFile() {
  hidFileHandle_.Reset();
  FNumInputBuffers = 0;
}

void THidDevice::CloseFileEx(THidOpenExMode Mode) {
  if (Mode == THidOpenExMode::omhRead) {
    // A read thread may be opening or using the handle right now.
    std::lock_guard guard(overlappedReadLock_);
    hidOverlappedRead_.Reset();
    FNumOverlappedBuffers = 0;
  } else {
    hidOverlappedWrite_.Reset();
  }
}

void THidDevice::CloseAll() {
  CloseFile();
  CloseFileEx(THidOpenExMode::omhRead);
  CloseFileEx(THidOpenExMode::omhWrite);
}

bool THidDevice::GetFeature(void* Report, int32_t Size) {
  // A negative size would reach the platform as a huge unsigned length.
  if (Size < 0 || (Report == nullptr && Size > 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return OpenFile() &&
         platform::HidD_GetFeature(hidFileHandle_.Get(), Report, static_cast<ULONG>(Size)) != 0;
}

bool THidDevice::SetFeature(void* Report, int32_t Size) {
  if (Size < 0 || (Report == nullptr && Size > 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return OpenFile() &&
         platform::HidD_SetFeature(hidFileHandle_.Get(), Report, static_cast<ULONG>(Size)) != 0;
}

bool THidDevice::CheckOut() {
  THidDevice* self = nullptr;
  return myController_ != nullptr && myController_->TryCheckOut(*this, self);
}

void THidDevice::SetCheckedOut(bool checkedOut) {
  if (FIsCheckedOut == checkedOut) {
    return;
  }
  if (myController_ == nullptr) {
    FIsCheckedOut = checkedOut;
    return;
  }
  --myController_->CounterOf(*this);
  FIsCheckedOut = checkedOut;
  ++myController_->CounterOf(*this);
}

PHIDP_PREPARSED_DATA THidDevice::PreparsedData() {
  if (FPreparsedData == nullptr && OpenFile()) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (platform::HidD_GetPreparsedData(hidFileHandle_.Get(), &data)) {
      FPreparsedData = data;
    }
    CloseFile();
  }
  return FPreparsedData;
}

HIDP_CAPS THidDevice::Caps() {
  HIDP_CAPS caps{};
  if (PHIDP_PREPARSED_DATA data = PreparsedData(); data != nullptr) {
    (void)platform::HidP_GetCaps(data, &caps);
  }
  return caps;
}

HIDD_CONFIGURATION THidDevice::Configuration() {
  HIDD_CONFIGURATION configuration{};
  if (OpenFile()) {
    (void)platform::HidD_GetConfiguration(hidFileHandle_.Get(), &configuration,
                                          sizeof configuration);
  }
  return configuration;
}

void THidDevice::SetConfiguration(const HIDD_CONFIGURATION& Value) {
  if (OpenFile()) {
    HIDD_CONFIGURATION configuration = Value;
    (void)platform::HidD_SetConfiguration(hidFileHandle_.Get(), &configuration,
                                          sizeof configuration);
  }
}

void THidDevice::SetNumInputBuffers(int32_t Value) {
  if (Value != FNumInputBuffers && OpenFile()) {
    (void)platform::HidD_SetNumInputBuffers(hidFileHandle_.Get(), static_cast<ULONG>(Value));
    ULONG count = 0;
    (void)platform::HidD_GetNumInputBuffers(hidFileHandle_.Get(), &count);
    FNumInputBuffers = static_cast<int32_t>(count);
  }
}

void THidDevice::SetNumOverlappedBuffers(int32_t Value) {
  std::lock_guard guard(overlappedReadLock_);
  if (Value != FNumOverlappedBuffers && OpenFileEx(THidOpenExMode::omhRead)) {
    (void)platform::HidD_SetNumInputBuffers(hidOverlappedRead_.Get(), static_cast<ULONG>(Value));
    ULONG count = 0;
    (void)platform::HidD_GetNumInputBuffers(hidOverlappedRead_.Get(), &count);
    FNumOverlappedBuffers = static_cast<int32_t>(count);
  }
}

void THidDevice::SetReportTypeParam(uint32_t Value) {
  FReportTypeParam = Value;
  UpdateListLengths();
}

void THidDevice::SetUsagePageParam(uint16_t Value) {
  FUsagePageParam = Value;
  UpdateListLengths();
}

void THidDevice::UpdateListLengths() {
  if (!IsUsable()) {
    return;
  }
  // The parser is never asked without preparsed data: the lengths stay as they were.
  PHIDP_PREPARSED_DATA data = PreparsedData();
  if (data == nullptr) {
    return;
  }
  const auto type = static_cast<HIDP_REPORT_TYPE>(FReportTypeParam);
  FMaxDataListLength = platform::HidP_MaxDataListLength(type, data);
  FMaxUsageListLength = platform::HidP_MaxUsageListLength(type, FUsagePageParam, data);
  FMaxButtonListLength = platform::HidP_MaxButtonListLength(type, FUsagePageParam, data);
}

void THidDevice::SetPollingDelayTime(int32_t Value) {
  if (InRange(Value, 0, 10000)) {
    FPollingDelayTime = Value;
  }
}

void THidDevice::SetThreadSleepTime(int32_t Value) {
  if (InRange(Value, 10, 10000)) {
    FThreadSleepTime = Value;
  }
}

void THidDevice::SetOnData(THidDataEvent Value) {
  if (!Value.Assigned() && !StopReadThread()) {
    return;  // a handler served during the stop freed the device
  }
  FOnData = Value;
  StartReadThread();
}

void THidDevice::StartReadThread() {
  if (!FOnData.Assigned() || !FIsPluggedIn || !FIsCheckedOut || !FHasReadWriteAccess ||
      readThread_) {
    return;
  }
  readThread_ = THidDeviceReadThread::CreateForDevice(this);
  ++readThreadGeneration_;
}

bool THidDevice::StopReadThread() {
  // The wait serves deliveries, whose handlers may stop this thread themselves
  // (check the device in, free it) or start another (check it out again).
  const TDeviceWatch watch(this);
  while (!watch.Gone() && readThread_) {
    THidDeviceReadThread* thread = readThread_.get();
    const uint32_t generation = readThreadGeneration_;
    thread->Terminate();
    TMainThreadQueue::Instance().ServeUntil(
        [&] { return watch.Gone() || readThreadGeneration_ != generation || thread->Finished(); });
    if (!watch.Gone() && readThreadGeneration_ == generation) {
      thread->WaitFor();
      readThread_.reset();
      ++readThreadGeneration_;
    }
  }
  return !watch.Gone();
}

bool THidDevice::MarkUnplugged() {
  {
    // A running read thread sees the handle open and the device usable, or neither.
    std::lock_guard guard(overlappedReadLock_);
    CloseAll();
    FIsPluggedIn = false;
  }
  if (!FOnUnplug.Assigned()) {
    return true;
  }
  // Unset before it runs, also when it fails: every later scan marks a listed,
  // unplugged device again, and the event must not come back with it. The
  // handler may check its device in, which frees it.
  const THidPlugEvent onUnplug = std::exchange(FOnUnplug, THidPlugEvent{});
  const TDeviceWatch watch(this);
  {
    // Nor one that the handler gave its device.
    struct TUnsetOnExit {
      const TDeviceWatch& watch_;
      ~TUnsetOnExit() {
        if (!watch_.Gone()) {
          watch_.Device()->FOnUnplug = {};
        }
      }
    } unset{watch};
    onUnplug(this);
  }
  return !watch.Gone();
}

}  // namespace quorvel::hid
