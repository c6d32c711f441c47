#include "hid/HidDeviceController.h"

#include <algorithm>
#include <utility>

#include "hid/DeviceChangeNotifier.h"
#include "hid/FlagScope.h"
#include "hid/MainThread.h"
#include "platform/Hid.h"
#include "platform/PlatformKernel.h"
#include "platform/SetupApi.h"
#include "platform/Utf.h"
#include "trace/Trace.h"

namespace quorvel::hid {
namespace {

constexpr UINT kWmDeviceChange = 0x0219;
constexpr std::uintptr_t kDbtDevNodesChanged = 0x0007;
// The platform's published HID interface class, for when HID.dll cannot say.
constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// An interface path longer than the platform's longest path is not one.
constexpr DWORD kMaxDetailBytes = 65536;

// Closes a device-information set however the scan ends.
class TDeviceInfoSet {
 public:
  explicit TDeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~TDeviceInfoSet() {
    if (set_ != INVALID_HANDLE_VALUE) {
      (void)platform::SetupDiDestroyDeviceInfoListSlot()(set_);
    }
  }
  TDeviceInfoSet(const TDeviceInfoSet&) = delete;
  TDeviceInfoSet& operator=(const TDeviceInfoSet&) = delete;
  HDEVINFO Get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

THidDeviceController::TBinding::~TBinding() {
  if (bound_ && unbind_ != nullptr) {
    unbind_();
  }
}

THidDeviceController::THidDeviceController(TLayerComponent* AOwner)
    : THidDeviceController(AOwner, {}, {}) {}

THidDeviceController::THidDeviceController(TLayerComponent* AOwner,
                                           THidDeviceCreateError AOnHidCtlDeviceCreateError,
                                           TNotifyEvent AOnDeviceChange)
    : TLayerComponent(AOwner), FVersion(u"1.0.35") {
  setupApiBinding_.Set(platform::BindSetupApi(), &platform::UnbindSetupApi);
  if (setupApiBinding_.Bound()) {
    hidBinding_.Set(platform::BindHid(), &platform::UnbindHid);
  }
  FHidGuid = kHidInterfaceClass;
  if (platform::HidBound()) {
    platform::HidD_GetHidGuid(&FHidGuid);
  }
  FOnDeviceCreateError = AOnHidCtlDeviceCreateError;
  try {
    SetOnDeviceChange(AOnDeviceChange);
    if (platform::HidBound()) {
      notifier_ = std::make_unique<TDeviceChangeNotifier>(
          TDeviceChangeNotifier::TWndProc::Of<&THidDeviceController::DeviceChangeWndProc>(this));
      // One scan that raises OnDeviceChange whatever it finds, once the
      // application pumps.
      notifier_->Post(kWmDeviceChange, kDbtDevNodesChanged, -1);
    }
  } catch (...) {
    // The bindings go with the members; the devices must go first.
    notifier_.reset();
    FreeDevices();
    throw;
  }
}

THidDeviceController::~THidDeviceController() {
  MarkDestroying();
  // A destructor passes no error on: a handler that fails during the last scan
  // or an unplug notice only ends that step.
  try {
    SetOnDeviceChange({});
  } catch (...) {
  }
  try {
    SetOnDeviceUnplug({});
  } catch (...) {
  }
  FOnEnumerate = {};
  notifier_.reset();
  FreeDevices();
}

void THidDeviceController::FreeDevices() {
  // One entry at a time, taken out of the list before it goes: handlers that run
  // meanwhile (a checked-out device's OnUnplug, deliveries served while a read
  // thread stops) see a list without gaps and counters in step. A checked-out
  // device is marked unplugged while still listed, so that its handler may
  // check it in.
  while (!list_.empty()) {
    const TDeviceWatch watch(list_.front().get());
    THidDevice* entry = watch.Device();
    if (entry->FIsCheckedOut) {
      try {
        (void)entry->MarkUnplugged();
      } catch (...) {
      }
      Recount();
      if (watch.Gone()) {
        continue;
      }
    }
    const int32_t index = IndexOf(entry);
    if (index < 0) {
      continue;
    }
    std::unique_ptr<THidDevice> gone = std::move(list_[static_cast<std::size_t>(index)]);
    list_.erase(list_.begin() + index);
    Recount();
    gone->myController_ = nullptr;
    gone.reset();
  }
  Recount();
}

THidDevice* THidDeviceController::Devices(int32_t Idx) const {
  if (Idx < 0 || Idx >= DeviceCount()) {
    return nullptr;
  }
  return list_[static_cast<std::size_t>(Idx)].get();
}

std::unique_ptr<THidDevice> THidDeviceController::CreateDevice(
    std::unique_ptr<THidPnPInfo>& PnPInfo) {
  bool retry = false;
  for (;;) {
    try {
      return THidDevice::CreateForController(PnPInfo, this);
    } catch (const EControllerError&) {
      if (!FOnDeviceCreateError.Assigned()) {
        throw;
      }
      bool handled = false;
      FOnDeviceCreateError(this, PnPInfo.get(), handled, retry);
      if (!handled) {
        throw;
      }
      if (!retry) {
        return nullptr;
      }
    }
  }
}

THidDeviceController::TDeviceList THidDeviceController::ScanHidInterfaces() {
  TDeviceList fresh;
  // The device-installation library may be missing while another owner holds
  // the HID library: then no device set can be had either.
  if (!platform::HidBound() || platform::SetupDiGetClassDevsSlot() == nullptr) {
    return fresh;
  }
  const TDeviceInfoSet set(platform::SetupDiGetClassDevsSlot()(
      &FHidGuid, /*Enumerator=*/nullptr,
      /*hwndParent=*/nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (set.Get() == INVALID_HANDLE_VALUE) {
    return fresh;
  }
  constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!platform::SetupDiEnumDeviceInterfacesSlot()(set.Get(), /*DeviceInfoData=*/nullptr,
                                                     &FHidGuid, index, &interfaceData)) {
      break;
    }
    SP_DEVINFO_DATA devInfo{};
    devInfo.cbSize = sizeof devInfo;
    DWORD required = 0;
    (void)platform::SetupDiGetDeviceInterfaceDetailSlot()(set.Get(), &interfaceData,
                                                          /*DeviceInterfaceDetailData=*/nullptr,
                                                          /*DeviceInterfaceDetailDataSize=*/0,
                                                          &required, &devInfo);
    if (required == 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        required > kMaxDetailBytes) {
      continue;
    }
    // Whole records, so that the fixed part is aligned and always fits.
    const std::size_t bytes =
        std::max<std::size_t>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    std::vector<SP_DEVICE_INTERFACE_DETAIL_DATA_W> buffer(
        (bytes + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) - 1) /
        sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    auto* detail = buffer.data();
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!platform::SetupDiGetDeviceInterfaceDetailSlot()(set.Get(), &interfaceData, detail,
                                                         required, &required, &devInfo)) {
      continue;
    }
    // The path ends at its terminator, or at the end of what was offered when the
    // platform wrote none: never beyond the buffer.
    const auto* path =
        reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(detail) + kPathOffset);
    const std::size_t offered = (bytes - kPathOffset) / sizeof(char16_t);
    std::size_t length = 0;
    while (length < offered && path[length] != 0) {
      ++length;
    }
    auto pnpInfo =
        std::make_unique<THidPnPInfo>(set.Get(), devInfo, std::u16string_view(path, length));
    if (auto device = CreateDevice(pnpInfo)) {
      fresh.push_back(std::move(device));
    }
  }
  return fresh;
}

void THidDeviceController::Recount() {
  FNumCheckedInDevices = 0;
  FNumUnpluggedDevices = 0;
  int32_t checkedOut = 0;
  for (const auto& entry : list_) {
    FNumCheckedInDevices += entry->FIsCheckedOut ? 0 : 1;
    FNumUnpluggedDevices += entry->FIsPluggedIn ? 0 : 1;
    checkedOut += entry->FIsCheckedOut ? 1 : 0;
  }
  FNumCheckedOutDevices = checkedOut - FNumUnpluggedDevices;
}

namespace {

std::string DeviceName(const THidDevice& device) {
  return device.PnPInfo() != nullptr ? platform::Utf16ToUtf8(device.PnPInfo()->DevicePath())
                                     : std::string("a device");
}

}  // namespace

void THidDeviceController::DeviceChange() {
  bool changed = lParam_ == -1;
  TDeviceList fresh = ScanHidInterfaces();
  if (trace::TraceOn(trace::kDecisions)) {
    trace::TraceLine("scan: " + std::to_string(fresh.size()) + " HID interface(s) present, " +
                     std::to_string(list_.size()) + " listed before");
  }

  // The counters follow the list even when a handler's error ends the scan early.
  struct TRecountOnExit {
    THidDeviceController* self_;
    ~TRecountOnExit() { self_->Recount(); }
  } recount{this};

  auto foundAgain = [&](const THidDevice* entry) {
    const uint32_t id = entry->FPnPInfo->DeviceID();
    return std::any_of(fresh.rbegin(), fresh.rend(), [&](const auto& device) {
      return device && device->FPnPInfo->DeviceID() == id;
    });
  };

  // Removal, from the last entry to the first. Handlers may change the list (a
  // check-in frees an unplugged device, freeing a device puts a fresh object in
  // its place, a nested scan removes entries), so the next entry is looked for
  // afresh each time: the last one not yet seen by this scan that is gone.
  std::deque<TDeviceWatch> seen;
  auto nextGone = [&]() -> THidDevice* {
    for (auto it = list_.rbegin(); it != list_.rend(); ++it) {
      THidDevice* entry = it->get();
      const bool wasSeen = std::any_of(seen.begin(), seen.end(), [&](const TDeviceWatch& watch) {
        return watch.Device() == entry;
      });
      if (!wasSeen && !(entry->FIsPluggedIn && foundAgain(entry))) {
        return entry;
      }
    }
    return nullptr;
  };
  while (THidDevice* entry = nextGone()) {
    const TDeviceWatch& watch = seen.emplace_back(entry);
    changed = true;
    // A free entry leaves the list once unplugged, also when its unplug or
    // removal handler fails: listed, it could be handed out or counted twice.
    struct TDropOnExit {
      THidDeviceController* self_;
      const TDeviceWatch& watch_;
      ~TDropOnExit() {
        if (!watch_.Gone()) {
          self_->DropIfUnpluggedAndFree(watch_.Device());
        }
      }
    } drop{this, watch};
    // The unplug handler may free its device (a check-in does).
    if (entry->MarkUnplugged()) {
      NotifyRemoval(entry);
    }
  }

  // Arrival, in scan order. A device listed already, plugged in, is discarded
  // without touching the list; that is looked at just before each append, as a
  // handler may have scanned (pumped messages) and listed it meanwhile.
  for (auto& device : fresh) {
    const uint32_t id = device->FPnPInfo->DeviceID();
    const bool listed = std::any_of(list_.begin(), list_.end(), [&](const auto& entry) {
      return entry->FIsPluggedIn && entry->FPnPInfo->DeviceID() == id;
    });
    if (listed) {
      device->myController_ = nullptr;
      device.reset();
      continue;
    }
    THidDevice* arrived = device.get();
    list_.push_back(std::move(device));
    changed = true;
    NotifyArrival(arrived);
  }
  fresh.clear();

  Recount();
  if (changed) {
    NotifyDeviceChange();
  }
}

void THidDeviceController::DropIfUnpluggedAndFree(THidDevice* entry) {
  // A handler may have checked the entry in, and so freed it, already.
  const int32_t index = IndexOf(entry);
  if (index < 0 || entry->FIsPluggedIn || entry->FIsCheckedOut) {
    return;
  }
  std::unique_ptr<THidDevice> gone = std::move(list_[static_cast<std::size_t>(index)]);
  list_.erase(list_.begin() + index);
  // Out of the list first: the destructor then leaves the list alone.
  gone.reset();
}

void THidDeviceController::NotifyArrival(THidDevice* HidDev) {
  if (trace::TraceOn(trace::kDecisions)) {
    trace::TraceLine("arrival: " + DeviceName(*HidDev));
  }
  if (FOnArrival.Assigned()) {
    // A free device holds no handle outside callbacks.
    TDeviceCallbackScope scope(*this, *HidDev);
    FOnArrival(HidDev);
  }
}

void THidDeviceController::NotifyRemoval(THidDevice* HidDev) {
  if (trace::TraceOn(trace::kDecisions)) {
    trace::TraceLine("removal: " + DeviceName(*HidDev));
  }
  if (FOnRemoval.Assigned()) {
    TDeviceCallbackScope scope(*this, *HidDev);
    FOnRemoval(HidDev);
  }
}

void THidDeviceController::NotifyDeviceChange() {
  if (FOnDeviceChange.Assigned()) {
    FOnDeviceChange(this);
  }
}

bool THidDeviceController::NotifyEnumerate(THidDevice* HidDev, int32_t Idx) {
  if (!FOnEnumerate.Assigned()) {
    return false;
  }
  // A device checked out in the handler keeps its handles.
  TDeviceCallbackScope scope(*this, *HidDev);
  return FOnEnumerate(HidDev, Idx);
}

int32_t THidDeviceController::Enumerate() {
  int32_t result = 0;
  ForEachListed([&](THidDevice* entry, int32_t index) {
    if (!entry->FIsPluggedIn) {
      return true;
    }
    ++result;
    return NotifyEnumerate(entry, index);
  });
  return result;
}

void THidDeviceController::DeviceChangeWndProc(UINT Msg, std::uintptr_t WParam,
                                               std::intptr_t LParam) {
  if (!Destroying() && Msg == kWmDeviceChange && WParam == kDbtDevNodesChanged &&
      !inDeviceChange_) {
    lParam_ = LParam;
    TFlagScope inDeviceChange(inDeviceChange_);
    DeviceChange();
  }
}

void THidDeviceController::ProcessMessages() {
  // Read threads' deliveries first: their threads are blocked until they ran.
  TMainThreadQueue::Instance().Serve();
  if (notifier_) {
    notifier_->ProcessMessages();
  }
}

int THidDeviceController::MessageFd() const {
  return notifier_ ? notifier_->Fd() : -1;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent Value) {
  if (Value == FOnDeviceChange) {
    return;
  }
  FOnDeviceChange = Value;
  if (!Loading()) {
    DeviceChange();
  }
}

void THidDeviceController::SetDevPollingDelayTime(int32_t Value) {
  if (Value == FDevPollingDelayTime) {
    return;
  }
  for (auto& entry : list_) {
    if (entry->PollingDelayTime() == FDevPollingDelayTime) {
      entry->SetPollingDelayTime(Value);
    }
  }
  FDevPollingDelayTime = Value;
}

void THidDeviceController::SetDevThreadSleepTime(int32_t Value) {
  if (Value == FDevThreadSleepTime) {
    return;
  }
  for (auto& entry : list_) {
    if (entry->ThreadSleepTime() == FDevThreadSleepTime) {
      entry->SetThreadSleepTime(Value);
    }
  }
  FDevThreadSleepTime = Value;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent Value) {
  if (Value == FOnDeviceData) {
    return;
  }
  // Stored first: stopping a read thread serves its deliveries, whose handlers
  // may scan, and the devices they add take the new default.
  const THidDataEvent old = std::exchange(FOnDeviceData, Value);
  ForEachListed([&](THidDevice* entry, int32_t) {
    if (entry->OnData() == old) {
      entry->SetOnData(Value);
    }
    return true;
  });
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent Value) {
  if (Value == FOnDeviceDataError) {
    return;
  }
  for (auto& entry : list_) {
    if (entry->FOnDataError == FOnDeviceDataError) {
      entry->FOnDataError = Value;
    }
  }
  FOnDeviceDataError = Value;
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent Value) {
  if (Value == FOnDeviceUnplug) {
    return;
  }
  for (auto& entry : list_) {
    if (entry->FOnUnplug == FOnDeviceUnplug) {
      entry->FOnUnplug = Value;
    }
  }
  FOnDeviceUnplug = Value;
}

TString THidDeviceController::HidVersion() {
  const WCHAR* library = reinterpret_cast<const WCHAR*>(u"HID.dll");
  DWORD scratch = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(library, &scratch);
  if (size == 0) {
    return {};
  }
  std::vector<unsigned char> block(size);
  (void)::GetFileVersionInfoW(library, /*dwHandle=*/0xFFFFFFFF, size, block.data());
  void* value = nullptr;
  UINT units = 0;
  if (!::VerQueryValueW(block.data(),
                        reinterpret_cast<const WCHAR*>(u"\\StringFileInfo\\040904E4\\FileVersion"),
                        &value, &units) ||
      value == nullptr) {
    return {};
  }
  // The text lies inside the block; read it no further than the block's end.
  const auto* begin = static_cast<const unsigned char*>(value);
  const auto* end = block.data() + block.size();
  if (begin < block.data() || begin >= end) {
    return {};
  }
  TString text;
  for (const unsigned char* at = begin; at + 1 < end; at += 2) {
    const auto unit = static_cast<char16_t>(at[0] | (at[1] << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

}  // namespace quorvel::hid
