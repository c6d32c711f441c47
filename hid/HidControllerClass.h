// The HID device layer in one include: controller, device, plug-and-play
// snapshot, events and exceptions.
#pragma once

#include "hid/HidDevice.h"
#include "hid/HidDeviceController.h"
#include "hid/HidEvents.h"
#include "hid/HidPnPInfo.h"
#include "hid/LayerTypes.h"
