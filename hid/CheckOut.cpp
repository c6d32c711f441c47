// Check-out, check-in and counting of the controller's devices.
#include "hid/FlagScope.h"
#include "hid/HidDeviceController.h"

namespace quorvel::hid {

bool THidDeviceController::TryCheckOutAt(THidDevice*& HidDev, int32_t Idx, bool Condition) {
  THidDevice* entry = FList[static_cast<std::size_t>(Idx)].get();
  // A free entry is always plugged in, so plugging is not tested.
  if (!Condition || entry->FIsCheckedOut) {
    return false;
  }
  HidDev = entry;
  entry->FIsCheckedOut = true;
  ++FNumCheckedOutDevices;
  --FNumCheckedInDevices;
  entry->StartReadThread();
  return true;
}

template <typename Condition>
bool THidDeviceController::CheckOutFirst(THidDevice*& HidDev, Condition condition) {
  const std::size_t count = FList.size();
  for (std::size_t i = 0; i < count && i < FList.size(); ++i) {
    // Evaluated for every entry, checked out or not.
    const bool fits = condition(FList[i].get());
    if (TryCheckOutAt(HidDev, static_cast<int32_t>(i), fits)) {
      return true;
    }
  }
  return false;
}

template <typename Condition>
int32_t THidDeviceController::CountPlugged(Condition condition) {
  int32_t result = 0;
  const std::size_t count = FList.size();
  for (std::size_t i = 0; i < count && i < FList.size(); ++i) {
    THidDevice* entry = FList[i].get();
    if (entry->FIsPluggedIn && condition(entry)) {
      ++result;
    }
  }
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
  const std::size_t count = FList.size();
  for (std::size_t i = 0; i < count && i < FList.size(); ++i) {
    THidDevice* entry = FList[i].get();
    if (entry->FIsCheckedOut) {
      continue;
    }
    // The device taken keeps whatever handles Check opened; every other entry
    // shown to Check is closed again, even one Check checked out itself.
    TDeviceCallbackScope scope(*this, *entry, entry->FIsEnumerated,
                               TDeviceCallbackScope::TAfter::CloseUnlessKept);
    const bool fits = Check(entry);
    // Check may have changed the list (a check-in frees an unplugged device):
    // the entry it approved is taken where it now stands.
    const int32_t index = IndexOf(entry);
    if (index >= 0 && TryCheckOutAt(HidDev, index, fits)) {
      scope.Keep();
      return true;
    }
  }
  return false;
}

void THidDeviceController::CheckIn(THidDevice*& HidDev) {
  if (HidDev == nullptr) {
    return;
  }
  THidDevice* device = HidDev;
  device->StopReadThread();
  device->CloseAll();
  if (device->FIsPluggedIn) {
    // A device that is not checked out is already in; the counters move only
    // for a real check-in, and on the controller that lists the device.
    if (device->FIsCheckedOut) {
      device->FIsCheckedOut = false;
      if (THidDeviceHost* host = device->FMyController; host != nullptr) {
        --host->FNumCheckedOutDevices;
        ++host->FNumCheckedInDevices;
      }
    }
  } else {
    // The layer's lifetime rule: an unplugged device ends at check-in. Its
    // destructor takes it out of its controller's list and lowers the unplugged count.
    delete device;
  }
  HidDev = nullptr;
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
  const std::size_t count = FList.size();
  for (std::size_t i = 0; i < count && i < FList.size(); ++i) {
    THidDevice* entry = FList[i].get();
    if (!entry->FIsPluggedIn) {
      continue;
    }
    TDeviceCallbackScope scope(*this, *entry, entry->FIsEnumerated,
                               TDeviceCallbackScope::TAfter::CloseUnlessCheckedOut);
    if (Check(entry)) {
      ++result;
    }
  }
  return result;
}

}  // namespace quorvel::hid
