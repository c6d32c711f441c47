// One virtual HID interface of the simulated world: identity, strings, registry
// properties, descriptors, behaviour (relay board or generic device), faults and the
// counters the faults run on.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sim/Bytes.h"
#include "sim/ReadyEvent.h"
#include "sim/RelayBoard.h"
#include "sim/ReportLayout.h"

namespace quorvel::sim {

// A registry property as the device-installation library hands it out: text (REG_SZ),
// a list of texts (REG_MULTI_SZ), a number (REG_DWORD) or bytes (REG_BINARY).
using TPropertyValue =
    std::variant<std::u16string, std::vector<std::u16string>, std::uint32_t, TBytes>;

struct TGenericBehaviour {
  std::map<std::uint8_t, TBytes> Features;      // whole report, report ID first
  std::map<std::uint8_t, TBytes> InputReports;  // answers to get-input-report
  std::deque<TBytes> InputQueue;                // for ReadFile / ReadFileEx, oldest first
  std::vector<TBytes> Outputs;                  // output reports received, in order
};

// "From the Nth call on": Nth counts the calls of that kind that reached the device,
// from 1; 0 means never.
struct TCallFault {
  std::uint32_t From = 0;
  std::uint32_t Error = 0;
};

enum class TOpenFault { None, MetadataOnly, Refused };

struct TFaults {
  TOpenFault Open = TOpenFault::None;
  std::uint32_t OpenError = 0;                   // for Refused; 0 means ERROR_FILE_NOT_FOUND
  std::optional<std::uint32_t> AttributesError;  // attributes cannot be read
  TCallFault GetFeature;
  TCallFault SetFeature;
  std::optional<std::uint32_t> VanishAfter;  // calls that still work before it vanishes
  // The interface's detail query fails with this error (the member cannot be read).
  std::optional<std::uint32_t> InterfaceDetailError;
  // While the device is present, every query of the device set fails with this error.
  std::optional<std::uint32_t> DeviceSetError;
};

struct TCounters {
  std::uint32_t Calls = 0;  // every call that reached the device, opens included
  std::uint32_t GetFeature = 0;
  std::uint32_t SetFeature = 0;
};

struct TSimDevice {
  int Id = 0;
  std::uint32_t Instance = 0;  // the device-instance number (DevInst)
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  std::uint16_t Version = 0;
  std::optional<std::u16string> Manufacturer;
  std::optional<std::u16string> Product;
  std::optional<std::u16string> Serial;
  std::vector<std::uint16_t> Languages;
  std::map<std::uint32_t, std::u16string> Strings;  // by string index
  // Present properties by SPDRP_ code; a code that is not here is absent.
  std::map<std::uint32_t, TPropertyValue> Properties;
  // What the description changes in the default properties (nullopt: removed), kept
  // to build the properties again once the device has its instance number.
  std::map<std::uint32_t, std::optional<TPropertyValue>> PropertyChanges;
  TBytes ReportDescriptor;
  std::optional<TBytes> PhysicalDescriptor;
  std::optional<TRelayBoard> Relay;  // else the generic behaviour
  TGenericBehaviour Generic;
  TFaults Faults;
  TCounters Counters;
  std::uint32_t NumInputBuffers = 32;  // the input queue's capacity
  bool Vanished = false;

  // Run-time only, never written to the world file.
  TReportLayout Layout;
  bool Removed = false;  // taken out of the world; open handles fail
  std::u16string Path;   // the interface path, kept by the world
  int OpenHandles = 0;
  TReadyEvent InputReady;

  bool Gone() const { return Vanished || Removed; }
};

}  // namespace quorvel::sim
