// The facts of the USB HID relay boards, shared by the tool, the simulated board and the
// kernel lab's boards: how a board names itself, its report descriptor and its 9-byte
// feature report with the commands it carries. This is the only place that spells them.
// Header only, standard library only, so that a module or a lab program can use it alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::relay {

// A device is a board when its product name begins with this; the name goes on with the
// number of relays ("USBRelay8").
inline constexpr std::string_view kProductPrefix = "USBRelay";
inline constexpr std::u16string_view kProductPrefix16 = u"USBRelay";
// The maker's web address; the boards have no serial-number string.
inline constexpr std::string_view kManufacturer = "www.dcttech.com";
inline constexpr std::u16string_view kManufacturer16 = u"www.dcttech.com";

// The pair the boards share with many other hobby devices: only the product name tells a
// board apart.
inline constexpr std::uint16_t kVendorId = 0x16C0;
inline constexpr std::uint16_t kProductId = 0x05DF;
inline constexpr std::uint16_t kVersion = 0x0100;

inline constexpr int kMaxRelays = 8;
inline constexpr std::uint8_t kAllRelays = 0xFF;  // one bit per relay, bit 0 relay 1

// The report as the platform moves it: report ID 0 first, then the board's 8 data bytes.
// On the USB wire (no report-ID byte) a data byte sits one place lower: DataOffset.
inline constexpr std::size_t kReportLength = 9;
inline constexpr std::uint8_t kReportId = 0;
inline constexpr std::size_t kReportIdByte = 0;
inline constexpr std::size_t kCommandByte = 1;  // in a command
inline constexpr std::size_t kRelayByte = 2;    // in a one-relay command, 1 to 8
inline constexpr std::size_t kBoardIdByte = 1;  // in a state read, and behind CmdSetBoardId
inline constexpr std::size_t kNewBoardIdByte = 2;
inline constexpr std::size_t kBoardIdLength = 5;  // printable ASCII
inline constexpr std::size_t kStateByte = 8;      // in a state read

constexpr std::size_t DataOffset(std::size_t ReportOffset) {
  return ReportOffset - 1;
}

// Command bytes of a set-feature report.
inline constexpr std::uint8_t CmdRelayOn = 0xFF;
inline constexpr std::uint8_t CmdRelayOff = 0xFD;
inline constexpr std::uint8_t CmdAllOn = 0xFE;
inline constexpr std::uint8_t CmdAllOff = 0xFC;
inline constexpr std::uint8_t CmdSetBoardId = 0xFA;  // five ID characters follow

// The board's 22-byte report descriptor: vendor page 0xFF00, one application collection,
// eight 8-bit feature items, no report ID.
inline constexpr std::array<std::uint8_t, 22> kReportDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x08,        //   Report Count (8)
    0x09, 0x00,        //   Usage (0)
    0xB2, 0x02, 0x01,  //   Feature (Data, Variable, Absolute, Buffered Bytes)
    0xC0,              // End Collection
};
// Where a device that adds reports to the board's inserts them: before End Collection.
inline constexpr std::size_t kReportDescriptorBody = kReportDescriptor.size() - 1;

// The mask bit of relay n: 1 to 8 select relays 1 to 8, every other number none.
constexpr std::uint8_t RelayBit(std::int32_t n) {
  if (n < 1 || n > kMaxRelays) {
    return 0;
  }
  return static_cast<std::uint8_t>(1u << (n - 1));
}

// The relays a board of `relays` relays has, as a mask.
constexpr std::uint8_t RelayMask(int relays) {
  return relays >= kMaxRelays ? kAllRelays : static_cast<std::uint8_t>((1u << relays) - 1u);
}

// What a board may take as its ID.
constexpr bool IsBoardIdCharacter(char32_t c) {
  return c >= U' ' && c <= U'~';
}

}  // namespace quorvel::relay
