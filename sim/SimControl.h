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
    if (!platform::OpenModule(FModule, kCore)) {
      throw std::runtime_error("the simulated world core cannot be loaded");
    }
    bool ok = true;
    Resolve(FReset, "QuorvelSim_Reset", ok);
    Resolve(FWorld, "QuorvelSim_World", ok);
    Resolve(FAddDevice, "QuorvelSim_AddDevice", ok);
    Resolve(FRemoveDevice, "QuorvelSim_RemoveDevice", ok);
    Resolve(FChangeDevice, "QuorvelSim_ChangeDevice", ok);
    Resolve(FDevice, "QuorvelSim_Device", ok);
    Resolve(FPushInput, "QuorvelSim_PushInput", ok);
    Resolve(FLog, "QuorvelSim_Log", ok);
    Resolve(FClearLog, "QuorvelSim_ClearLog", ok);
    Resolve(FSave, "QuorvelSim_Save", ok);
    if (!ok) {
      platform::CloseModule(FModule);
      throw std::runtime_error("the simulated world core lacks its control functions");
    }
  }
  ~TSimControl() {
    platform::CloseModule(FModule);
  }
  TSimControl(const TSimControl&) = delete;
  TSimControl& operator=(const TSimControl&) = delete;

  // Replaces the devices and clears the log; no argument empties the world.
  void Reset(const TJson& world = TJson::object()) {
    Call(FReset(world.dump().c_str()));
  }
  TJson World() {
    return Call(FWorld());
  }

  // Adds a device described as in the world file; returns its ID.
  int AddDevice(const TJson& device) {
    return Call(FAddDevice(device.dump().c_str()))["id"].get<int>();
  }
  // A relay board with the identity of the real boards.
  int AddRelayBoard(std::string_view boardId, int relays = 8, std::uint8_t state = 0) {
    return AddDevice(
        {{"relay", {{"boardId", std::string(boardId)}, {"relays", relays}, {"state", state}}}});
  }
  void RemoveDevice(int id) {
    Call(FRemoveDevice(id));
  }
  // Merges a partial description (JSON merge patch: null removes a field); returns the
  // device as it is afterwards.
  TJson ChangeDevice(int id, const TJson& patch) {
    return Call(FChangeDevice(id, patch.dump().c_str()));
  }
  TJson SetFaults(int id, const TJson& faults) {
    return ChangeDevice(id, {{"faults", faults}});
  }
  // The device with its run-time state: relay "state" and "commanded", "openHandles".
  TJson Device(int id) {
    return Call(FDevice(id));
  }
  // An input report in hexadecimal, report ID first ("01 0a 0b").
  void PushInput(int id, std::string_view report) {
    Call(FPushInput(id, std::string(report).c_str()));
  }
  // The exchange log, oldest first: {"device", "call", "arg"?, "sent"?, "received"?,
  // "error"} per call that reached a device.
  TJson Log() {
    return Call(FLog());
  }
  void ClearLog() {
    Call(FClearLog());
  }
  // Writes the world file now rather than when the process ends.
  void Save() {
    Call(FSave());
  }

 private:
  template <typename TFunction>
  void Resolve(TFunction& function, const char* name, bool& ok) {
    function = reinterpret_cast<TFunction>(platform::ResolveSymbol(FModule, name, ok));
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

  platform::TModule FModule = nullptr;
  const char* (*FReset)(const char*) = nullptr;
  const char* (*FWorld)() = nullptr;
  const char* (*FAddDevice)(const char*) = nullptr;
  const char* (*FRemoveDevice)(int) = nullptr;
  const char* (*FChangeDevice)(int, const char*) = nullptr;
  const char* (*FDevice)(int) = nullptr;
  const char* (*FPushInput)(int, const char*) = nullptr;
  const char* (*FLog)() = nullptr;
  const char* (*FClearLog)() = nullptr;
  const char* (*FSave)() = nullptr;
};

}  // namespace quorvel::sim
