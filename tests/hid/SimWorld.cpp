#include "tests/hid/SimWorld.h"

#include <fstream>
#include <stdexcept>

#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/SetupApi.h"

namespace quorvel::hid::test {
namespace {

using TText = const char* (*)(const char*);
using TId = const char* (*)(int);
using TIdText = const char* (*)(int, const char*);
using TNone = const char* (*)();

template <typename F>
F Resolve(const char* name) {
  bool ok = true;
  for (platform::TModule module : {platform::HidModule(), platform::SetupApiModule()}) {
    if (auto entry = platform::ResolveSymbol(module, name, ok)) {
      return reinterpret_cast<F>(entry);
    }
    ok = true;
  }
  throw std::runtime_error(std::string("the simulated modules export no ") + name);
}

}  // namespace

TSimWorld::TSimWorld(const TJson& world) {
  if (!platform::BindSetupApi() || !platform::BindHid()) {
    throw std::runtime_error("the simulated modules did not load (LD_LIBRARY_PATH?)");
  }
  Reset(world);
}

TSimWorld::~TSimWorld() {
  platform::UnbindHid();
  platform::UnbindSetupApi();
}

TJson TSimWorld::LoadWorld(std::string_view fileName) {
  std::ifstream file(std::string(QUORVEL_HID_TEST_WORLDS) + "/" + std::string(fileName));
  if (!file) {
    throw std::runtime_error("no world file " + std::string(fileName));
  }
  return TJson::parse(file);
}

TJson TSimWorld::Call(const char* name, const char* result) {
  TJson json = TJson::parse(result == nullptr ? "null" : result);
  if (json.is_object() && json.contains("error")) {
    throw std::runtime_error(std::string(name) + ": " + json["error"].dump());
  }
  return json;
}

void TSimWorld::Reset(const TJson& world) {
  Call("QuorvelSim_Reset", Resolve<TText>("QuorvelSim_Reset")(world.dump().c_str()));
}

int TSimWorld::Add(const TJson& device) {
  return Call("QuorvelSim_AddDevice",
              Resolve<TText>("QuorvelSim_AddDevice")(device.dump().c_str()))["id"]
      .get<int>();
}

void TSimWorld::Remove(int id) {
  Call("QuorvelSim_RemoveDevice", Resolve<TId>("QuorvelSim_RemoveDevice")(id));
}

void TSimWorld::Change(int id, const TJson& patch) {
  Call("QuorvelSim_ChangeDevice",
       Resolve<TIdText>("QuorvelSim_ChangeDevice")(id, patch.dump().c_str()));
}

TJson TSimWorld::Device(int id) {
  return Call("QuorvelSim_Device", Resolve<TId>("QuorvelSim_Device")(id));
}

TJson TSimWorld::Log() {
  return Call("QuorvelSim_Log", Resolve<TNone>("QuorvelSim_Log")());
}

void TSimWorld::ClearLog() {
  Call("QuorvelSim_ClearLog", Resolve<TNone>("QuorvelSim_ClearLog")());
}

int TSimWorld::Calls(std::string_view call, int id) {
  int count = 0;
  for (const auto& entry : Log()) {
    if (entry.value("call", "") == call && (id == 0 || entry.value("device", 0) == id)) {
      ++count;
    }
  }
  return count;
}

int TSimWorld::OpenHandles(int id) {
  return Device(id).value("openHandles", 0);
}

}  // namespace quorvel::hid::test
