// A scan of the HID interface class over worlds of 1, 10, 100 and 1000 devices: the first one,
// where every device arrives, and a rescan that finds the world unchanged.
#include <memory>

#include <benchmark/benchmark.h>

#include "bench/SimulatedPlatform.h"
#include "hid/HidControllerClass.h"

namespace quorvel::bench {
namespace {

using hid::THidDeviceController;

// Creating and freeing the controller is left out of the timing; only DeviceChange is timed.
void BM_FirstScan(benchmark::State& state) {
  TSimulatedPlatform simulated;
  simulated.Sim().Reset(ExampleWorld(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    simulated.Sim().ClearLog();
    auto controller = std::make_unique<THidDeviceController>();
    state.ResumeTiming();
    controller->DeviceChange();
    state.PauseTiming();
    const bool complete = controller->DeviceCount() == state.range(0);
    controller.reset();
    state.ResumeTiming();
    if (!complete) {
      state.SkipWithError("the scan did not list every device");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FirstScan)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_UnchangedRescan(benchmark::State& state) {
  TSimulatedPlatform simulated;
  simulated.Sim().Reset(ExampleWorld(state.range(0)));
  THidDeviceController controller;
  controller.DeviceChange();
  if (controller.DeviceCount() != state.range(0)) {
    state.SkipWithError("the first scan did not list every device");
  }
  TLogTrimmer log(simulated.Sim());
  for (auto _ : state) {
    controller.DeviceChange();
    log.Tick(state);
  }
  if (controller.DeviceCount() != state.range(0)) {
    state.SkipWithError("a rescan changed the list");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_UnchangedRescan)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel::bench
