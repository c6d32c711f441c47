// The world in JSON, one format for the world file and the control functions.
// docs/simulation.md describes every field.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/World.h"

namespace quorvel::sim {

using TJson = nlohmann::json;

// The deepest nesting of lists and objects a world's JSON text may have: far more than
// the format uses, far less than the JSON library's recursive copies can take.
inline constexpr int kMaxJsonDepth = 64;

// Parses JSON text; false and a reason when it is not valid JSON or is nested deeper
// than kMaxJsonDepth, which is refused before anything recursive touches it.
bool ParseJson(std::string_view text, TJson& json, std::string& error);

// A device from its description; nullptr and a reason naming the field when the
// description is not valid. Relay boards get the identity of the real boards for
// every field left out.
std::shared_ptr<TSimDevice> DeviceFromJson(const TJson& json, std::string& error);

// Everything the description holds, so that DeviceFromJson(DeviceToJson(d)) is d.
// withRuntime adds what only a running process knows (path, open handles, the
// commanded relay state).
TJson DeviceToJson(const TSimDevice& device, bool withRuntime = false);

// DeviceToJson of each device, in order.
TJson DevicesToJson(const std::vector<std::shared_ptr<TSimDevice>>& devices,
                    bool withRuntime = false);

TJson LogEntryToJson(const TLogEntry& entry);
bool LogEntryFromJson(const TJson& json, TLogEntry& entry, std::string& error);

struct TWorldDescription {
  std::vector<std::shared_ptr<TSimDevice>> Devices;
  std::vector<TLogEntry> Log;
};

bool WorldFromJson(const TJson& json, TWorldDescription& world, std::string& error);

// The world file's text: devices (DevicesToJson) indented, one log entry per line.
std::string WorldToText(const TJson& devices, const std::vector<TLogEntry>& log);

}  // namespace quorvel::sim
