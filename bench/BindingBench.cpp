// Binding the two platform libraries: the first binding loads a module and looks its
// whole table up; a nested one only counts.
#include <benchmark/benchmark.h>

#include "bench/SimulatedPlatform.h"
#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/SetupApi.h"

namespace quorvel::bench {
namespace {

// Binds both libraries and releases them again; false when a binding failed.
bool BindAndRelease() {
  const bool setupApi = platform::BindSetupApi();
  const bool hid = platform::BindHid();
  if (hid) {
    platform::UnbindHid();
  }
  if (setupApi) {
    platform::UnbindSetupApi();
  }
  return setupApi && hid;
}

// Nothing else holds a binding: every iteration loads both modules, looks up 396 + 46
// entry points and unloads them again.
void BM_FirstBind(benchmark::State& state) {
  for (auto _ : state) {
    if (!BindAndRelease()) {
      state.SkipWithError("a binding failed");
      break;
    }
  }
}
BENCHMARK(BM_FirstBind);

// The same with the modules kept mapped by a reference of their own, so loading is a
// reference count: what remains is the look-ups.
void BM_FirstBindModulesMapped(benchmark::State& state) {
  platform::TModule setupApi = nullptr;
  platform::TModule hid = nullptr;
  if (!platform::OpenModule(setupApi, u"SetupApi.dll") || !platform::OpenModule(hid, u"HID.dll")) {
    state.SkipWithError("the platform modules cannot be loaded");
  }
  for (auto _ : state) {
    if (!BindAndRelease()) {
      state.SkipWithError("a binding failed");
      break;
    }
  }
  platform::CloseModule(hid);
  platform::CloseModule(setupApi);
}
BENCHMARK(BM_FirstBindModulesMapped);

// With both libraries already bound, a bind/unbind pair of each.
void BM_NestedBind(benchmark::State& state) {
  const TSimulatedPlatform held;
  for (auto _ : state) {
    if (!BindAndRelease()) {
      state.SkipWithError("a binding failed");
      break;
    }
  }
}
BENCHMARK(BM_NestedBind);

}  // namespace
}  // namespace quorvel::bench
