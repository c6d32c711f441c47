// THidDeviceController: the list of HID interfaces present, one THidDevice per
// interface in order of discovery, kept up to date by scans; events for
// arrivals, removals and changes; check-out and counting of devices.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "hid/HidDevice.h"
#include "hid/HidDeviceHost.h"
#include "hid/HidEvents.h"
#include "hid/LayerTypes.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hid {

class TDeviceChangeNotifier;

class THidDeviceController : public TLayerComponent, private THidDeviceHost {
 public:
  explicit THidDeviceController(TLayerComponent* AOwner = nullptr);
  // With `AOnDeviceChange` assigned, the first scan runs before this returns and
  // may raise OnDeviceCreateError and OnDeviceChange (and pass on their errors).
  THidDeviceController(TLayerComponent* AOwner, THidDeviceCreateError AOnHidCtlDeviceCreateError,
                       TNotifyEvent AOnDeviceChange);
  // Frees every listed device, checked out or not: device references obtained
  // from the controller are invalid afterwards.
  ~THidDeviceController() override;

  // Scans the HID interface class and reconciles the list with what it finds.
  void DeviceChange();
  // Raises OnEnumerate for the plugged-in entries in list order; the number of
  // entries visited.
  int32_t Enumerate();
  // The file version of the platform's HID library, or empty.
  static TString HidVersion();

  // Device-change notification is served only here: a program that never pumps
  // gets only the scans it asks for. Handles the messages waiting for this
  // controller (each may scan) and returns at once when there are none.
  void ProcessMessages();
  // A descriptor that polls readable while messages wait for ProcessMessages, for
  // event loops; -1 where there is none (no HID library, or on Windows, where the
  // thread's window messages carry them).
  int MessageFd() const;
  // The notification channel, absent without the HID library.
  TDeviceChangeNotifier* Notifier() const { return notifier_.get(); }

  // The device list, for reading: entries in order, unplugged ones included.
  int32_t DeviceCount() const { return static_cast<int32_t>(list_.size()); }
  THidDevice* Devices(int32_t Idx) const;

  // Check-out: each sets HidDev to the device taken, or to null.
  bool CheckOut(THidDevice*& HidDev);
  bool CheckOutByIndex(THidDevice*& HidDev, int32_t Idx);
  bool CheckOutByID(THidDevice*& HidDev, int32_t Vid, int32_t Pid);
  bool CheckOutByProductName(THidDevice*& HidDev, const TString& ProductName);
  bool CheckOutByVendorName(THidDevice*& HidDev, const TString& VendorName);
  bool CheckOutByClass(THidDevice*& HidDev, const TString& ClassName);
  bool CheckOutByCallback(THidDevice*& HidDev, THidCheckCallback Check);
  // Gives a checked-out device back (an unplugged one is freed); HidDev becomes null.
  void CheckIn(THidDevice*& HidDev);
  int32_t CountByID(int32_t Vid, int32_t Pid);
  int32_t CountByProductName(const TString& ProductName);
  int32_t CountByVendorName(const TString& VendorName);
  int32_t CountByClass(const TString& ClassName);
  int32_t CountByCallback(THidCheckCallback Check);

  // Properties.
  int32_t DevPollingDelayTime() const { return FDevPollingDelayTime; }
  void SetDevPollingDelayTime(int32_t Value);
  int32_t DevThreadSleepTime() const { return FDevThreadSleepTime; }
  void SetDevThreadSleepTime(int32_t Value);
  const TString& Version() const { return FVersion; }
  void SetVersion(const TString& Value) { ignoredVersion_ = Value; }
  const THidPlugEvent& OnArrival() const { return FOnArrival; }
  void SetOnArrival(THidPlugEvent Value) { FOnArrival = Value; }
  const THidEnumerateEvent& OnEnumerate() const { return FOnEnumerate; }
  void SetOnEnumerate(THidEnumerateEvent Value) { FOnEnumerate = Value; }
  const TNotifyEvent& OnDeviceChange() const { return FOnDeviceChange; }
  // A different handler (installed, replaced or cleared) scans, unless loading.
  void SetOnDeviceChange(TNotifyEvent Value);
  const THidDeviceCreateError& OnDeviceCreateError() const { return FOnDeviceCreateError; }
  void SetOnDeviceCreateError(THidDeviceCreateError Value) { FOnDeviceCreateError = Value; }
  const THidDataEvent& OnDeviceData() const { return FOnDeviceData; }
  void SetOnDeviceData(THidDataEvent Value);
  const THidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
  void SetOnDeviceDataError(THidDataErrorEvent Value);
  const THidPlugEvent& OnDeviceUnplug() const { return FOnDeviceUnplug; }
  void SetOnDeviceUnplug(THidPlugEvent Value);
  const THidPlugEvent& OnRemoval() const { return FOnRemoval; }
  void SetOnRemoval(THidPlugEvent Value) { FOnRemoval = Value; }
  const GUID& HidGuid() const { return FHidGuid; }
  int32_t NumCheckedInDevices() const { return FNumCheckedInDevices; }
  int32_t NumCheckedOutDevices() const { return FNumCheckedOutDevices; }
  int32_t NumUnpluggedDevices() const { return FNumUnpluggedDevices; }

  // The window procedure of device-change messages: acts on WM_DEVICECHANGE with
  // DBT_DEVNODES_CHANGED unless destroying or already inside such a scan.
  void DeviceChangeWndProc(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam);

 private:
  using TDeviceList = std::vector<std::unique_ptr<THidDevice>>;

  // One binding of a platform library, released once when it succeeded.
  class TBinding {
   public:
    TBinding() = default;
    ~TBinding();
    TBinding(const TBinding&) = delete;
    TBinding& operator=(const TBinding&) = delete;
    void Set(bool bound, void (*unbind)()) {
      bound_ = bound;
      unbind_ = unbind;
    }
    bool Bound() const { return bound_; }

   private:
    bool bound_ = false;
    void (*unbind_)() = nullptr;
  };

  TDeviceList ScanHidInterfaces();
  std::unique_ptr<THidDevice> CreateDevice(std::unique_ptr<THidPnPInfo>& PnPInfo);
  // Removes and frees `entry` when it is listed, unplugged and not checked out.
  void DropIfUnpluggedAndFree(THidDevice* entry);
  void NotifyArrival(THidDevice* HidDev);
  void NotifyRemoval(THidDevice* HidDev);
  void NotifyDeviceChange();
  bool NotifyEnumerate(THidDevice* HidDev, int32_t Idx);
  void Recount();
  bool TryCheckOutAt(THidDevice*& HidDev, int32_t Idx, bool Condition);
  // The walk shared by the check-outs by ID, name and class.
  template <typename Condition>
  bool CheckOutFirst(THidDevice*& HidDev, Condition condition);
  template <typename Condition>
  int32_t CountPlugged(Condition condition);
  void FreeDevices();
  // Visits the entries listed when it starts, in list order, each at the index
  // where it stands when its turn comes: handlers called meanwhile may free
  // entries (skipped then) and move the others. `visit(entry, index)` returns
  // false to stop.
  template <typename Visit>
  void ForEachListed(Visit visit) {
    std::deque<TDeviceWatch> watches;
    for (const auto& entry : list_) {
      watches.emplace_back(entry.get());
    }
    for (const TDeviceWatch& watch : watches) {
      THidDevice* entry = watch.Device();
      const int32_t index = entry == nullptr ? -1 : IndexOf(entry);
      if (index >= 0 && !visit(entry, index)) {
        return;
      }
    }
  }

  // Declared first so that they are released last, after every device is gone;
  // SetupApi is given back before HID.
  TBinding hidBinding_;
  TBinding setupApiBinding_;

  GUID FHidGuid{};
  THidPlugEvent FOnArrival;
  TNotifyEvent FOnDeviceChange;
  THidEnumerateEvent FOnEnumerate;
  THidPlugEvent FOnRemoval;
  THidDeviceCreateError FOnDeviceCreateError;
  TString FVersion;
  TString ignoredVersion_;
  bool inDeviceChange_ = false;
  std::intptr_t lParam_ = 0;
  std::unique_ptr<TDeviceChangeNotifier> notifier_;
};

}  // namespace quorvel::hid
