// HID report-descriptor parser and the preparsed-data blocks the HidP_ functions work on.
// Free of any platform I/O: the Linux and simulated modules hand it the descriptor bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hidparse/Model.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidparse {

// Hard limits; a descriptor beyond them is rejected rather than trusted.
inline constexpr uint32_t kMaxReportSize = 256;        // bits per field
inline constexpr uint32_t kMaxReportCount = 12288;     // fields per main item
inline constexpr uint32_t kMaxUsages = 12288;          // usages per main item
inline constexpr uint32_t kMaxPushDepth = 4;           // Push items in force at once
inline constexpr uint32_t kMaxCollectionDepth = 32;    // nested Collection items
inline constexpr uint32_t kMaxReportBytes = 16384;     // one report, ID byte included
inline constexpr uint32_t kMaxLinkCollections = 4096;  // per top-level collection
inline constexpr uint32_t kMaxUnknownGlobals = 32;     // reserved global items in force

struct TParseError {
  std::size_t Offset = 0;  // of the offending item's prefix byte
  uint8_t Prefix = 0;
  std::string Message;  // names the item and the bad value
};

struct TParseResult {
  std::optional<TReportDescriptor> Descriptor;  // set on success
  TParseError Error;                            // meaningful when Descriptor is empty
  explicit operator bool() const { return Descriptor.has_value(); }
};

// Parses a whole report descriptor; every byte is fetched with a bounds check.
TParseResult ParseReportDescriptor(std::span<const uint8_t> descriptor);

// The preparsed data of one top-level collection (the first by default): one heap block
// holding everything the HidP_ functions need. nullptr when the descriptor does not parse
// or has no such collection. Free it with FreePreparsedData.
PHIDP_PREPARSED_DATA MakePreparsedData(std::span<const uint8_t> descriptor,
                                       std::size_t collection = 0);
PHIDP_PREPARSED_DATA MakePreparsedData(const TCollectionModel& collection);

// Releases a block made above. False, and nothing freed, for null or any pointer that does
// not lead to such a block (its header is checked, never trusted).
bool FreePreparsedData(PHIDP_PREPARSED_DATA data);

}  // namespace quorvel::hidparse
