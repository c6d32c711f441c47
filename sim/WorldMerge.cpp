#include "sim/WorldMerge.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace quorvel::sim {
namespace {

bool HasId(const TJson& device, const TJson& id) {
  const auto it = device.find("id");
  return it != device.end() && *it == id;
}

const TJson* FindDevice(const TJson& devices, const TJson& id) {
  const auto it = std::find_if(devices.begin(), devices.end(),
                               [&id](const TJson& device) { return HasId(device, id); });
  return it != devices.end() ? &*it : nullptr;
}

bool Taken(const TJson& devices, const char* field, const TJson& value) {
  return std::any_of(devices.begin(), devices.end(), [&](const TJson& device) {
    const auto it = device.find(field);
    return it != device.end() && *it == value;
  });
}

// Makes in `to` the changes that lead from `from` to `now`: objects field by field,
// anything else (lists too) whole.
void ApplyChangedFields(const TJson& from, const TJson& now, TJson& to) {
  for (const auto& item : from.items()) {
    if (!now.contains(item.key())) {
      to.erase(item.key());
    }
  }
  for (const auto& item : now.items()) {
    const auto was = from.find(item.key());
    if (was != from.end() && *was == item.value()) {
      continue;
    }
    const auto target = to.find(item.key());
    if (was != from.end() && was->is_object() && item.value().is_object() && target != to.end() &&
        target->is_object()) {
      ApplyChangedFields(*was, item.value(), *target);
    } else {
      to[item.key()] = item.value();
    }
  }
}

// Calls that reached a device in both processes all count (the faults run on them): the
// file's count plus what this process counted since. A count set lower, by a control
// function, stays as set.
void AddCounts(const TJson& base, const TJson& own, const TJson& file, TJson& merged) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  for (const auto& item : own.items()) {
    const auto now = item.value().get<std::uint64_t>();
    const auto was = base.value(item.key(), std::uint64_t{0});
    if (now >= was) {
      merged[item.key()] = std::min(kMax, file.value(item.key(), std::uint64_t{0}) + (now - was));
    }
  }
}

TJson MergeDevice(const TJson& base, const TJson& own, const TJson& file) {
  TJson merged = file;
  ApplyChangedFields(base, own, merged);
  const TJson none = TJson::object();
  AddCounts(base.value("counters", none), own.value("counters", none), file.value("counters", none),
            merged["counters"]);
  std::string ignored;
  return DeviceFromJson(merged, ignored) ? merged : own;
}

// Numbers the devices as a process reading them would, writing the numbers in; false
// when they would not read back as a world.
bool NumberAsRead(TJson& devices) {
  TWorldDescription world;
  std::string ignored;
  if (!WorldFromJson(TJson{{"devices", devices}}, world, ignored) ||
      !NumberDevices(world.Devices, ignored)) {
    return false;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    devices[i]["id"] = world.Devices[i]->Id;
    devices[i]["instance"] = world.Devices[i]->Instance;
  }
  return true;
}

TJson MergeDevices(const TOwnChanges& own, const TJson& file) {
  TJson merged = file;
  // Numbered after all the others, so that no number they get is one a device after
  // them has.
  TJson renumbered = TJson::array();
  for (const auto& device : own.Devices) {
    const TJson& id = device["id"];
    const TJson* base = FindDevice(own.Base, id);
    if (base != nullptr && *base == device) {
      continue;
    }
    const auto there = std::find_if(merged.begin(), merged.end(),
                                    [&id](const TJson& other) { return HasId(other, id); });
    if (base == nullptr) {
      // Added here; another process may have added one of the same numbers meanwhile.
      if (there == merged.end() && !Taken(merged, "instance", device["instance"])) {
        merged.push_back(device);
      } else {
        TJson added = device;
        added.erase("id");
        added.erase("instance");
        renumbered.push_back(std::move(added));
      }
    } else if (there == merged.end()) {
      merged.push_back(device);  // removed there, changed here: the later write wins
    } else {
      *there = MergeDevice(*base, device, *there);
    }
  }
  for (const auto& device : own.Base) {
    if (FindDevice(own.Devices, device["id"]) == nullptr) {
      merged.erase(std::remove_if(merged.begin(), merged.end(),
                                  [&](const TJson& other) { return HasId(other, device["id"]); }),
                   merged.end());
    }
  }
  merged.insert(merged.end(), renumbered.begin(), renumbered.end());
  return NumberAsRead(merged) ? merged : own.Devices;
}

}  // namespace

void MergeOwnChanges(const TOwnChanges& own, TJson& devices, std::vector<TLogEntry>& log) {
  devices = own.DevicesReplaced ? own.Devices : MergeDevices(own, devices);
  if (own.LogReplaced) {
    log = own.Log;
  } else {
    log.insert(log.end(), own.Log.begin(), own.Log.end());
  }
  if (log.size() > kMaxLogEntries) {
    log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(kMaxLogEntries));
  }
}

}  // namespace quorvel::sim
