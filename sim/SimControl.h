// A C++ client of the simulated world's control functions, for tests in a process that
// has bound the simulated modules (or links the world core). Every call throws
// std::runtime_error with the world's reason when the world refuses it.
//
//   quorvel::sim::TSimControl sim;
//   sim.Reset();
//   const int board = sim.AddRelayBoard("QAAMZ", 2);
//   sim.SetFaults(board, {{"setFeature", {{"from", 3}, {"error", 31}}}});
//   ... run the layer ...
//   EXPECT_EQ(sim.Device(board)["relay"]["state"], 1);
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/ModuleLoader.h"

namespace quorvel::sim {

class TSimControl {
 public:
  using TJson = nlohmann::json;

  // Finds the world core the modules loaded (loading it if nothing has yet).
  TSimControl() {
#ifdef _WIN32
    constexpr std::u16string_view kCore = u"QuorvelSim.dll";
#else
    constexpr std::u16string_view kCore = u"libquorvel-sim.so";
#endif
    if (!platform::OpenModule(module_, kCore)) {
      throw std::runtime_error("the simulated world core cannot be loaded");
    }
    bool ok = true;
    Resolve(reset_, "QuorvelSim_Reset", ok);
    Resolve(world_, "QuorvelSim_World", ok);
    Resolve(addDevice_, "QuorvelSim_AddDevice", ok);
    Resolve(removeDevice_, "QuorvelSim_RemoveDevice", ok);
    Resolve(changeDevice_, "QuorvelSim_ChangeDevice", ok);
    Resolve(device_, "QuorvelSim_Device", ok);
    Resolve(pushInput_, "QuorvelSim_PushInput", ok);
    Resolve(log_, "QuorvelSim_Log", ok);
    Resolve(clearLog_, "QuorvelSim_ClearLog", ok);
    Resolve(save_, "QuorvelSim_Save", ok);
    if (!ok) {
      platform::CloseModule(module_);
      throw std::runtime_error("the simulated world core lacks its control functions");
    }
  }
  ~TSimControl() {
    platform::CloseModule(module_);
  }
  TSimControl(const TSimControl&) = delete;
  TSimControl& operator=(const TSimControl&) = delete;

  // Replaces the devices and clears the log; no argument empties the world.
  void Reset(const TJson& world = TJson::object()) {
    Call(reset_(world.dump().c_str()));
  }
  TJson World() {
    return Call(world_());
  }

  // Adds a device described as in the world file; returns its ID.
  int AddDevice(const TJson& device) {
    return Call(addDevice_(device.dump().c_str()))["id"].get<int>();
  }
  // A relay board with the identity of the real boards.
  int AddRelayBoard(std::string_view boardId, int relays = 8, std::uint8_t state = 0) {
    return AddDevice(
        {{"relay", {{"boardId", std::string(boardId)}, {"relays", relays}, {"state", state}}}});
  }
  void RemoveDevice(int id) {
    Call(removeDevice_(id));
  }
  // Merges a partial description (JSON merge patch: null removes a field); returns the
  // device as it is afterwards.
  TJson ChangeDevice(int id, const TJson& patch) {
    return Call(changeDevice_(id, patch.dump().c_str()));
  }
  TJson SetFaults(int id, const TJson& faults) {
    return ChangeDevice(id, {{"faults", faults}});
  }
  // The device with its run-time state: relay "state" and "commanded", "openHandles".
  TJson Device(int id) {
    return Call(device_(id));
  }
  // An input report in hexadecimal, report ID first ("01 0a 0b").
  void PushInput(int id, std::string_view report) {
    Call(pushInput_(id, std::string(report).c_str()));
  }
  // The exchange log, oldest first: {"device", "call", "arg"?, "sent"?, "received"?,
  // "error"} per call that reached a device.
  TJson Log() {
    return Call(log_());
  }
  void ClearLog() {
    Call(clearLog_());
  }
  // Writes the world file now rather than when the process ends.
  void Save() {
    Call(save_());
  }

 private:
  template <typename TFunction>
  void Resolve(TFunction& function, const char* name, bool& ok) {
    function = reinterpret_cast<TFunction>(platform::ResolveSymbol(module_, name, ok));
  }

  static TJson Call(const char* reply) {
    TJson json = TJson::parse(reply != nullptr ? reply : "", nullptr, false);
    if (json.is_discarded()) {
      throw std::runtime_error("the simulated world gave no valid reply");
    }
    if (json.is_object() && json.contains("error")) {
      throw std::runtime_error("simulated world: " + json["error"].get<std::string>());
    }
    return json;
  }

  platform::TModule module_ = nullptr;
  const char* (*reset_)(const char*) = nullptr;
  const char* (*world_)() = nullptr;
  const char* (*addDevice_)(const char*) = nullptr;
  const char* (*removeDevice_)(int) = nullptr;
  const char* (*changeDevice_)(int, const char*) = nullptr;
  const char* (*device_)(int) = nullptr;
  const char* (*pushInput_)(int, const char*) = nullptr;
  const char* (*log_)() = nullptr;
  const char* (*clearLog_)() = nullptr;
  const char* (*save_)() = nullptr;
};

}  // namespace quorvel::sim
