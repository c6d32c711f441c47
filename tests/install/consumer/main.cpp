// Lists the HID devices present through the installed HID layer, one line each:
// vendor and product ID and the product name.
#include <cstdio>
#include <string>

#include "hid/HidDeviceController.h"

namespace {

bool PrintDevice(void* /*Target*/, quorvel::hid::THidDevice* Device, std::int32_t /*Idx*/) {
  std::string name;
  for (const char16_t c : Device->ProductName()) {
    name += c < 0x80 ? static_cast<char>(c) : '?';
  }
  std::printf("%04X:%04X %s\n", Device->Attributes().VendorID, Device->Attributes().ProductID,
              name.c_str());
  return true;
}

}  // namespace

int main() {
  quorvel::hid::THidDeviceController controller;
  // The first scan runs when the application pumps its messages.
  controller.ProcessMessages();
  std::printf("%d devices\n", controller.DeviceCount());
  controller.SetOnEnumerate(quorvel::hid::THidEnumerateEvent(nullptr, &PrintDevice));
  controller.Enumerate();
  return 0;
}
