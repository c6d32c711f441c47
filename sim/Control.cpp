#include "sim/Control.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "sim/WorldJson.h"

namespace quorvel::sim {
namespace {

// One reply per calling thread, kept until that thread's next call. Not thread_local:
// this library is loaded with dlopen, and the leak checker of Debian 12's AddressSanitizer
// misreads dynamically allocated TLS blocks at some heap addresses and crashes.
const char* Reply(const TJson& json) {
  static std::mutex mutex;
  static std::map<std::thread::id, std::string> replies;
  std::string text = json.dump();
  std::lock_guard lock(mutex);
  std::string& reply = replies[std::this_thread::get_id()];
  reply = std::move(text);
  return reply.c_str();
}

const char* Failure(const std::string& message) {
  return Reply(TJson{{"error", message}});
}

bool Parse(const char* text, TJson& json, std::string& error) {
  if (text == nullptr) {
    error = "no JSON text";
    return false;
  }
  return ParseJson(text, json, error);
}

TJson WorldJson(const TWorld& world, const std::unique_lock<std::mutex>& lock) {
  TJson log = TJson::array();
  for (const auto& entry : world.Log(lock)) {
    log.push_back(LogEntryToJson(entry));
  }
  return TJson{{"devices", DevicesToJson(world.Devices(lock), /*withRuntime=*/true)}, {"log", log}};
}

// Copies what a description holds into a device that is in use, keeping what only the
// running process knows (its ID, open handles, readiness).
void Assign(TSimDevice& to, TSimDevice&& from) {
  to.Instance = from.Instance;
  to.VendorId = from.VendorId;
  to.ProductId = from.ProductId;
  to.Version = from.Version;
  to.Manufacturer = std::move(from.Manufacturer);
  to.Product = std::move(from.Product);
  to.Serial = std::move(from.Serial);
  to.Languages = std::move(from.Languages);
  to.Strings = std::move(from.Strings);
  to.Properties = std::move(from.Properties);
  to.PropertyChanges = std::move(from.PropertyChanges);
  to.ReportDescriptor = std::move(from.ReportDescriptor);
  to.PhysicalDescriptor = std::move(from.PhysicalDescriptor);
  to.Relay = std::move(from.Relay);
  to.Generic = std::move(from.Generic);
  to.Faults = from.Faults;
  to.Counters = from.Counters;
  to.NumInputBuffers = from.NumInputBuffers;
  to.Vanished = from.Vanished;
  to.Layout = std::move(from.Layout);
}

}  // namespace
}  // namespace quorvel::sim

using namespace quorvel::sim;

const char* QuorvelSim_Reset(const char* world) {
  TJson json;
  std::string error;
  TWorldDescription description;
  if (!Parse(world, json, error) || !WorldFromJson(json, description, error)) {
    return Failure(error);
  }
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  if (!w.Reset(lock, std::move(description.Devices), std::move(description.Log), error)) {
    return Failure(error);
  }
  return Reply(TJson{{"ok", true}});
}

const char* QuorvelSim_World() {
  auto& w = TWorld::Instance();
  const auto lock = w.Lock();
  return Reply(WorldJson(w, lock));
}

const char* QuorvelSim_AddDevice(const char* description) {
  TJson json;
  std::string error;
  if (!Parse(description, json, error)) {
    return Failure(error);
  }
  auto device = DeviceFromJson(json, error);
  if (!device) {
    return Failure(error);
  }
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  const int id = w.Add(lock, std::move(device), error);
  if (id == 0) {
    return Failure(error);
  }
  return Reply(TJson{{"id", id}});
}

const char* QuorvelSim_RemoveDevice(int id) {
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  if (!w.Remove(lock, id)) {
    return Failure("no device " + std::to_string(id));
  }
  return Reply(TJson{{"ok", true}});
}

const char* QuorvelSim_ChangeDevice(int id, const char* patch) {
  TJson changes;
  std::string error;
  if (!Parse(patch, changes, error)) {
    return Failure(error);
  }
  if (!changes.is_object()) {
    return Failure("a change must be a JSON object");
  }
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  const auto device = w.Find(lock, id);
  if (!device) {
    return Failure("no device " + std::to_string(id));
  }
  if (changes.contains("id") && changes["id"] != id) {
    return Failure("a device keeps its id");
  }
  TJson merged = DeviceToJson(*device);
  // A new "state" is what the board is told from now on.
  if (changes.contains("relay") && changes["relay"].is_object() &&
      changes["relay"].contains("state") && merged.contains("relay")) {
    merged["relay"].erase("commanded");
  }
  merged.merge_patch(changes);
  auto changed = DeviceFromJson(merged, error);
  if (!changed) {
    return Failure(error);
  }
  for (const auto& other : w.Devices(lock)) {
    if (other != device && other->Instance == changed->Instance) {
      return Failure("instance " + std::to_string(changed->Instance) + " is taken");
    }
  }
  Assign(*device, std::move(*changed));
  w.Changed(lock);
  return Reply(DeviceToJson(*device, /*withRuntime=*/true));
}

const char* QuorvelSim_Device(int id) {
  auto& w = TWorld::Instance();
  const auto lock = w.Lock();
  const auto device = w.Find(lock, id);
  if (!device) {
    return Failure("no device " + std::to_string(id));
  }
  return Reply(DeviceToJson(*device, /*withRuntime=*/true));
}

const char* QuorvelSim_PushInput(int id, const char* report) {
  const auto bytes = report != nullptr ? ParseHex(report) : std::nullopt;
  if (!bytes || bytes->empty()) {
    return Failure("an input report is hexadecimal bytes, report ID first");
  }
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  if (!w.PushInput(lock, id, *bytes)) {
    return Failure("no device " + std::to_string(id) + " to send it");
  }
  return Reply(TJson{{"ok", true}});
}

const char* QuorvelSim_Log() {
  auto& w = TWorld::Instance();
  const auto lock = w.Lock();
  TJson log = TJson::array();
  for (const auto& entry : w.Log(lock)) {
    log.push_back(LogEntryToJson(entry));
  }
  return Reply(log);
}

const char* QuorvelSim_ClearLog() {
  auto& w = TWorld::Instance();
  auto lock = w.Lock();
  w.ClearLog(lock);
  return Reply(TJson{{"ok", true}});
}

const char* QuorvelSim_Save() {
  auto& w = TWorld::Instance();
  const auto lock = w.Lock();
  std::string error;
  if (!w.Save(lock, error)) {
    return Failure(error);
  }
  return Reply(TJson{{"ok", true}});
}
