#include "app/BoardDiscovery.h"

#include <string_view>

#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/Trace.h"

namespace quorvel::app {
namespace {

constexpr std::u16string_view kBoardPrefix = u"USBRelay";

void AppendHex4(std::u16string& text, std::uint16_t value) {
  constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) {
    text += kHexDigits[(value >> shift) & 0x0F];
  }
}

// A device names itself: control characters in a name could move the cursor,
// restyle the terminal or start a line of their own in the listing.
std::u16string Printable(const std::u16string& name) {
  std::u16string text = name;
  for (char16_t& c : text) {
    if (c < u' ' || (c >= u'\x7F' && c <= u'\x9F')) {
      c = u'\uFFFD';
    }
  }
  return text;
}

}  // namespace

std::unique_ptr<hid::THidDeviceController> HidController;
std::vector<std::u16string> DeviceLines;
std::vector<hid::THidDevice*> RelayBoards;

std::u16string DeviceLine(const std::u16string& ProductName, std::uint16_t VendorID,
                          std::uint16_t ProductID) {
  if (ProductName.empty()) {
    std::u16string line = u"    VID=";
    AppendHex4(line, VendorID);
    line += u", PID=";
    AppendHex4(line, ProductID);
    return line;
  }
  // The marker shows any name that mentions the boards; only IsRelayBoard decides.
  const bool marked = ProductName.find(kBoardPrefix) != std::u16string::npos;
  return (marked ? u"  * " : u"    ") + Printable(ProductName);
}

bool IsRelayBoard(const std::u16string& ProductName) {
  return ProductName.starts_with(kBoardPrefix);
}

bool OnHidEnumerate(void* /*Target*/, hid::THidDevice* HidDev, std::int32_t Idx) {
  const std::u16string& product = HidDev->ProductName();
  DeviceLines.push_back(
      DeviceLine(product, HidDev->Attributes().VendorID, HidDev->Attributes().ProductID));
  if (IsRelayBoard(product)) {
    hid::THidDevice* board = nullptr;
    // Every device enumerated here is fresh or was just checked back in.
    if (HidController->CheckOutByIndex(board, Idx) && board != nullptr) {
      RelayBoards.push_back(board);
    }
  }
  return true;
}

void OnHidDeviceChange(void* /*Target*/, hid::TLayerComponent* /*Sender*/) {
  // Freeing a checked-out board that is still present puts a checked-in
  // object for it back into the list, so the enumeration below finds it again.
  // The layer lets the application delete devices it checked out.
  for (hid::THidDevice* board : RelayBoards) {
    delete board;
  }
  RelayBoards.clear();
  DeviceLines.clear();
  HidController->Enumerate();
}

void CreateController() {
  HidController = std::make_unique<hid::THidDeviceController>();
  // Without the platform's modules no device can be found: say why, rather than only
  // that there is no board.
  if (!platform::HidBound()) {
    const std::string why = platform::ModuleFailure();
    platform::WriteErrorLine("ERROR: " +
                             (why.empty() ? "The platform modules could not be bound" : why));
  }
  DeviceLines.clear();
  HidController->SetOnEnumerate(hid::THidEnumerateEvent(nullptr, &OnHidEnumerate));
  HidController->SetOnDeviceChange(hid::TNotifyEvent(nullptr, &OnHidDeviceChange));
}

void FreeController() noexcept {
  DeviceLines.clear();
  // The controller frees every device it holds, the boards included.
  RelayBoards.clear();
  HidController.reset();
}

TSwitchResult BoardDiscovery::SwitchRelays(const TRelayRequest& Request) {
  return app::SwitchRelays(*app::RelayBoards.at(static_cast<std::size_t>(Request.ID) - 1), Request);
}

}  // namespace quorvel::app
