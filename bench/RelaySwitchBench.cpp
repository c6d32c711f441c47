// One switching of a simulated 8-relay board through the layer, as the tool does it:
// read the state, send the commands, read the state back.
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/ArgumentGrammar.h"
#include "bench/SimulatedPlatform.h"
#include "hid/HidControllerClass.h"
#include "relay/RelaySwitching.h"
#include "tests/app/BufferConsole.h"

namespace quorvel::bench {
namespace {

int SetFeatureCount(sim::TSimControl& sim, int board) {
  return sim.Device(board)["counters"]["setFeature"].get<int>();
}

// Every iteration asks for the same relay state, so each sends as many commands as the
// first: the merged state decides between the all-relay and the one-relay commands.
void SwitchBoard(benchmark::State& state, const std::vector<std::u16string>& arguments,
                 std::uint8_t expectedState, int expectedCommands) {
  app::TRelayRequest request;
  app::test::BufferConsole console;
  if (!app::ParseArguments(arguments, request, console)) {
    state.SkipWithError("the request does not parse");
    return;
  }
  TSimulatedPlatform simulated;
  simulated.Sim().Reset();
  const int board = simulated.Sim().AddRelayBoard("BENCH", 8);
  hid::THidDeviceController controller;
  controller.DeviceChange();
  hid::THidDevice* device = nullptr;
  if (!controller.CheckOutByIndex(device, 0)) {
    state.SkipWithError("the board cannot be checked out");
    return;
  }
  const int commandsBefore = SetFeatureCount(simulated.Sim(), board);
  const relay::TSwitchResult first = relay::SwitchRelays(*device, request.Change());
  if (!first.Succeeded() || first.State != expectedState ||
      SetFeatureCount(simulated.Sim(), board) - commandsBefore != expectedCommands) {
    state.SkipWithError(
        "the switching does not reach the state expected with the commands expected");
  }
  TLogTrimmer log(simulated.Sim());
  for (auto _ : state) {
    const relay::TSwitchResult result = relay::SwitchRelays(*device, request.Change());
    if (!result.Succeeded()) {
      state.SkipWithError("a switching failed");
      break;
    }
    benchmark::DoNotOptimize(result.State);
    log.Tick(state);
  }
  controller.CheckIn(device);
}

void BM_SwitchAllOn(benchmark::State& state) {
  SwitchBoard(state, {u"ID=1", u"ON=ALL"}, 0xFF, 1);
}
BENCHMARK(BM_SwitchAllOn)->Unit(benchmark::kMicrosecond);

void BM_SwitchMixed(benchmark::State& state) {
  SwitchBoard(state, {u"ID=1", u"ON=1,3,5,7", u"OFF=2,4,6,8"}, 0x55, 8);
}
BENCHMARK(BM_SwitchMixed)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel::bench
