#include "bench/SimulatedPlatform.h"

#include <fstream>
#include <stdexcept>

#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/SetupApi.h"

namespace quorvel::bench {

TSimulatedPlatform::TBindings::TBindings() {
  const bool setupApi = platform::BindSetupApi();
  const bool hid = setupApi && platform::BindHid();
  bool ok = true;
  // Only the simulated modules reach the world core's control functions.
  const bool simulated =
      hid && platform::ResolveSymbol(platform::HidModule(), "QuorvelSim_Reset", ok) != nullptr;
  if (!simulated) {
    if (hid) {
      platform::UnbindHid();
    }
    if (setupApi) {
      platform::UnbindSetupApi();
    }
    throw std::runtime_error(
        "the simulated platform modules are not loaded: run the benchmarks through "
        "bench/run.sh, or with LD_LIBRARY_PATH=build/<dir>/sim");
  }
}

TSimulatedPlatform::TBindings::~TBindings() {
  platform::UnbindHid();
  platform::UnbindSetupApi();
}

TSimulatedPlatform::TSimulatedPlatform() = default;
TSimulatedPlatform::~TSimulatedPlatform() = default;

nlohmann::json ExampleWorld(std::int64_t count) {
  std::ifstream file(QUORVEL_EXAMPLE_WORLD);
  if (!file) {
    throw std::runtime_error("no example world at " QUORVEL_EXAMPLE_WORLD);
  }
  const auto examples = nlohmann::json::parse(file).at("devices");
  auto devices = nlohmann::json::array();
  for (std::int64_t i = 0; i < count; ++i) {
    devices.push_back(examples.at(static_cast<std::size_t>(i) % examples.size()));
  }
  return {{"devices", devices}};
}

}  // namespace quorvel::bench
