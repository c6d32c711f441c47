// The event types of the HID device layer. Parameter names are those of the
// documented interface.
#pragma once

#include <cstdint>

#include "hid/LayerTypes.h"

namespace quorvel::hid {

class THidDevice;
class THidDeviceController;
class THidPnPInfo;

// OnArrival, OnRemoval, OnDeviceUnplug and a device's OnUnplug.
using THidPlugEvent = TDelegate<void(THidDevice* HidDev)>;
// OnEnumerate: true to go on. `Idx` is the entry's list index.
using THidEnumerateEvent = TDelegate<bool(THidDevice* HidDev, int32_t Idx)>;
// An input report: its ID, then `Size` bytes of data valid only during the call.
using THidDataEvent =
    TDelegate<void(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
using THidDataErrorEvent = TDelegate<void(THidDevice* HidDev, uint32_t Error)>;
// Consulted when a device object cannot be made for an interface.
using THidDeviceCreateError = TDelegate<void(THidDeviceController* Controller, THidPnPInfo* PnPInfo,
                                             bool& Handled, bool& RetryCreate)>;
// OnDeviceChange; `Sender` is the controller.
using TNotifyEvent = TDelegate<void(TLayerComponent* Sender)>;
// A plain function choosing a device for check-out or counting.
using THidCheckCallback = bool (*)(THidDevice* HidDev);

}  // namespace quorvel::hid
