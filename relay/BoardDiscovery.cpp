#include "relay/BoardDiscovery.h"

#include <string_view>

#include "hid/HidDevice.h"
#include "relay/BoardModel.h"
#include "relay/RelayProtocol.h"

namespace quorvel::relay {
namespace {

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

std::u16string DeviceLine(const std::u16string& ProductName, std::uint16_t VendorID,
                          std::uint16_t ProductID) {
  if (ProductName.empty()) {
    std::u16string line = u"    VID=";
    AppendHex4(line, VendorID);
    line += u", PID=";
    AppendHex4(line, ProductID);
    return line;
  }
  // The marker shows any name that mentions the boards; only the family table decides.
  const bool marked = ProductName.find(kProductPrefix16) != std::u16string::npos;
  return (marked ? u"  * " : u"    ") + Printable(ProductName);
}

bool TBoardDiscovery::OnHidEnumerate(hid::THidDevice* HidDev, std::int32_t Idx) {
  const std::u16string& product = HidDev->ProductName();
  deviceLines_.push_back(
      DeviceLine(product, HidDev->Attributes().VendorID, HidDev->Attributes().ProductID));
  if (std::optional<TRelayBoard> record = RecogniseBoard(*HidDev)) {
    hid::THidDevice* board = nullptr;
    // Every device enumerated here is fresh or was just checked back in; the layer hands
    // out the listed object itself.
    if (hidController_->CheckOutByIndex(board, Idx) && board != nullptr) {
      record->Device = board;
      relayBoards_.push_back(std::move(*record));
    }
  }
  return true;
}

void TBoardDiscovery::OnHidDeviceChange(hid::TLayerComponent* /*Sender*/) {
  // Freeing a checked-out board that is still present puts a checked-in
  // object for it back into the list, so the enumeration below finds it again.
  // The layer lets the application delete devices it checked out.
  for (const TRelayBoard& board : relayBoards_) {
    delete board.Device;
  }
  relayBoards_.clear();
  deviceLines_.clear();
  hidController_->Enumerate();
}

void TBoardDiscovery::OnHidDeviceCreateError(hid::THidDeviceController* /*Controller*/,
                                             hid::THidPnPInfo* PnPInfo, bool& Handled,
                                             bool& RetryCreate) {
  Handled = true;
  RetryCreate = false;
  skippedDevices_.push_back(PnPInfo != nullptr ? PnPInfo->DevicePath() : std::u16string());
}

void TBoardDiscovery::CreateController() {
  hidController_ = std::make_unique<hid::THidDeviceController>();
  bindingFailure_ = hid::PlatformBindingFailure();
  deviceLines_.clear();
  skippedDevices_.clear();
  hidController_->SetOnDeviceCreateError(
      hid::THidDeviceCreateError::Of<&TBoardDiscovery::OnHidDeviceCreateError>(this));
  hidController_->SetOnEnumerate(
      hid::THidEnumerateEvent::Of<&TBoardDiscovery::OnHidEnumerate>(this));
  hidController_->SetOnDeviceChange(
      hid::TNotifyEvent::Of<&TBoardDiscovery::OnHidDeviceChange>(this));
}

void TBoardDiscovery::FreeController() noexcept {
  deviceLines_.clear();
  // The controller frees every device it holds, the boards included.
  relayBoards_.clear();
  hidController_.reset();
  skippedDevices_.clear();
}

}  // namespace quorvel::relay
