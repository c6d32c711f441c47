// Drives the simulated world from a test: resets it, adds, removes and changes
// devices, and reads the exchange log. Holds a reference on both bindings, so
// the simulated modules stay loaded while a test runs.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel::hid::test {

using TJson = nlohmann::json;

class TSimWorld {
 public:
  // A world {"devices": [...]}; or a file name under tests/hid/worlds.
  explicit TSimWorld(const TJson& world = TJson{{"devices", TJson::array()}});
  ~TSimWorld();
  TSimWorld(const TSimWorld&) = delete;
  TSimWorld& operator=(const TSimWorld&) = delete;

  static TJson LoadWorld(std::string_view fileName);

  void Reset(const TJson& world);
  int Add(const TJson& device);
  void Remove(int id);
  void Change(int id, const TJson& patch);
  TJson Device(int id);
  TJson Log();
  void ClearLog();
  // Calls of `call` in the log, of one device or (id 0) of all.
  int Calls(std::string_view call, int id = 0);
  // Open handles the simulation holds for a device.
  int OpenHandles(int id);

 private:
  TJson Call(const char* name, const char* result);
};

}  // namespace quorvel::hid::test
