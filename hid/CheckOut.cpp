// Check-out, check-in and counting of the controller's devices.
#include "hid/FlagScope.h"
#include "hid/HidDeviceController.h"
#include "platform/Utf.h"
#include "trace/Trace.h"

namespace quorvel::hid {

bool THidDeviceController::TryCheckOutAt(THidDevice*& HidDev, int32_t Idx, bool Condition) {
  const bool taken = Condition && TryCheckOut(*list_[static_cast<std::size_t>(Idx)], HidDev);
  if (taken && trace::TraceOn(trace::kDecisions)) {
    const THidPnPInfo* info = HidDev->PnPInfo();
    trace::TraceLine("check-out: device " + std::to_string(Idx) + " " +
                     (info != nullptr ? platform::Utf16ToUtf8(info->DevicePath()) : std::string()));
  }
  return taken;
}

template <typename Condition>
bool THidDeviceController::CheckOutFirst(THidDevice*& HidDev, Condition condition) {
  bool taken = false;
  ForEachListed([&](THidDevice* entry, int32_t index) {
    // Evaluated for every entry, checked out or not.
    const bool fits = condition(entry);
    taken = TryCheckOutAt(HidDev, index, fits);
    return !taken;
  });
  return taken;
}

template <typename Condition>
int32_t THidDeviceController::CountPlugged(Condition condition) {
  int32_t result = 0;
  ForEachListed([&](THidDevice* entry, int32_t) {
    if (entry->FIsPluggedIn && condition(entry)) {
      ++result;
    }
    return true;
  });
  return result;
}

namespace {

bool FitsID(THidDevice* device, int32_t Vid, int32_t Pid) {
  const HIDD_ATTRIBUTES& attributes = device->Attributes();
  return attributes.VendorID == Vid && (attributes.ProductID == Pid || Pid == -1);
}

}  // namespace

bool THidDeviceController::CheckOut(THidDevice*& HidDev) {
  HidDev = nullptr;
  return CheckOutFirst(HidDev, [](THidDevice*) { return true; });
}

bool THidDeviceController::CheckOutByIndex(THidDevice*& HidDev, int32_t Idx) {
  HidDev = nullptr;
  if (Idx < 0 || Idx >= DeviceCount()) {
    return false;
  }
  return TryCheckOutAt(HidDev, Idx, true);
}

bool THidDeviceController::CheckOutByID(THidDevice*& HidDev, int32_t Vid, int32_t Pid) {
  HidDev = nullptr;
  return CheckOutFirst(HidDev, [&](THidDevice* device) { return FitsID(device, Vid, Pid); });
}

// Names are read without enumeration access: a free device yields what it
// cached, a checked-out one may ask the device.
bool THidDeviceController::CheckOutByProductName(THidDevice*& HidDev, const TString& ProductName) {
  HidDev = nullptr;
  if (ProductName.empty()) {
    return false;
  }
  return CheckOutFirst(HidDev,
                       [&](THidDevice* device) { return device->ProductName() == ProductName; });
}

bool THidDeviceController::CheckOutByVendorName(THidDevice*& HidDev, const TString& VendorName) {
  HidDev = nullptr;
  if (VendorName.empty()) {
    return false;
  }
  return CheckOutFirst(HidDev,
                       [&](THidDevice* device) { return device->VendorName() == VendorName; });
}

bool THidDeviceController::CheckOutByClass(THidDevice*& HidDev, const TString& ClassName) {
  HidDev = nullptr;
  if (ClassName.empty()) {
    return false;
  }
  return CheckOutFirst(
      HidDev, [&](THidDevice* device) { return device->PnPInfo()->ClassDescr() == ClassName; });
}

bool THidDeviceController::CheckOutByCallback(THidDevice*& HidDev, THidCheckCallback Check) {
  HidDev = nullptr;
  // Without a check no device is the one wanted.
  if (Check == nullptr) {
    return false;
  }
  bool taken = false;
  ForEachListed([&](THidDevice* entry, int32_t) {
    if (entry->FIsCheckedOut) {
      return true;
    }
    // Every entry shown to Check is closed again unless it ends checked out:
    // the device taken keeps whatever handles Check opened.
    const TDeviceWatch watch(entry);
    TDeviceCallbackScope scope(*this, *entry);
    const bool fits = Check(entry);
    // Check may have freed the entry or changed the list (a check-in frees an
    // unplugged device): the entry it approved is taken where it now stands.
    const int32_t index = watch.Gone() ? -1 : IndexOf(entry);
    taken = index >= 0 && TryCheckOutAt(HidDev, index, fits);
    return !taken;
  });
  return taken;
}

void THidDeviceController::CheckIn(THidDevice*& HidDev) {
  if (HidDev == nullptr) {
    return;
  }
  THidDevice* device = HidDev;
  HidDev = nullptr;
  if (!device->StopReadThread()) {
    return;  // a handler served during the stop freed the device
  }
  device->CloseAll();
  if (device->FIsPluggedIn) {
    // A device that is not checked out is already in.
    device->SetCheckedOut(false);
  } else {
    // The layer's lifetime rule: an unplugged device ends at check-in. Its
    // destructor takes it out of its controller's list and lowers the unplugged count.
    delete device;
  }
}

int32_t THidDeviceController::CountByID(int32_t Vid, int32_t Pid) {
  return CountPlugged([&](THidDevice* device) { return FitsID(device, Vid, Pid); });
}

int32_t THidDeviceController::CountByProductName(const TString& ProductName) {
  return CountPlugged([&](THidDevice* device) { return device->ProductName() == ProductName; });
}

int32_t THidDeviceController::CountByVendorName(const TString& VendorName) {
  return CountPlugged([&](THidDevice* device) { return device->VendorName() == VendorName; });
}

int32_t THidDeviceController::CountByClass(const TString& ClassName) {
  return CountPlugged(
      [&](THidDevice* device) { return device->PnPInfo()->ClassDescr() == ClassName; });
}

int32_t THidDeviceController::CountByCallback(THidCheckCallback Check) {
  int32_t result = 0;
  if (Check == nullptr) {
    return result;
  }
  ForEachListed([&](THidDevice* entry, int32_t) {
    if (!entry->FIsPluggedIn) {
      return true;
    }
    TDeviceCallbackScope scope(*this, *entry);
    if (Check(entry)) {
      ++result;
    }
    return true;
  });
  return result;
}

}  // namespace quorvel::hid
