// The platform GUIDs the Linux modules hand out.
#pragma once

#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

// GUID_DEVINTERFACE_HID: the interface class of every HID collection.
inline constexpr GUID kHidInterfaceGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// GUID_DEVCLASS_HIDCLASS: the setup class "HIDClass".
inline constexpr GUID kHidClassGuid{
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
inline constexpr char16_t kHidClassGuidText[] = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
// GUID_BUS_TYPE_HID: the bus of every HID collection.
inline constexpr GUID kHidBusTypeGuid{
    0xEEAF37D0, 0x1963, 0x47C4, {0xAA, 0x48, 0x72, 0x47, 0x6D, 0xB7, 0xCF, 0x49}};

}  // namespace quorvel::hidraw
