// What the benchmarks over the simulated platform share: both bindings held, so the
// modules load once per benchmark rather than once per controller, the world's control
// functions, and worlds of any size made of the example world's devices.
#pragma once

#include <cstdint>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "sim/SimControl.h"

namespace quorvel::bench {

class TSimulatedPlatform {
 public:
  // Throws std::runtime_error when the bound modules are not the simulated ones
  // (LD_LIBRARY_PATH does not name build/<dir>/sim first).
  TSimulatedPlatform();
  ~TSimulatedPlatform();
  TSimulatedPlatform(const TSimulatedPlatform&) = delete;
  TSimulatedPlatform& operator=(const TSimulatedPlatform&) = delete;

  sim::TSimControl& Sim() { return FSim; }

 private:
  struct TBindings {
    TBindings();
    ~TBindings();
    TBindings(const TBindings&) = delete;
    TBindings& operator=(const TBindings&) = delete;
  };

  TBindings FBindings;  // before FSim: the world core is loaded by the modules
  sim::TSimControl FSim;
};

// `count` devices: those of docs/examples/world.json (two relay boards, a keyboard that
// opens only without access, a vendor device) repeated in order.
nlohmann::json ExampleWorld(std::int64_t count);

// The simulation logs every exchange; a benchmark empties the log now and then, outside
// the timed region, so that a long run neither grows without bound nor times the log.
class TLogTrimmer {
 public:
  explicit TLogTrimmer(sim::TSimControl& sim) : FSim(sim) {}
  void Tick(benchmark::State& state) {
    if (++FCalls % 1024 == 0) {
      state.PauseTiming();
      FSim.ClearLog();
      state.ResumeTiming();
    }
  }

 private:
  sim::TSimControl& FSim;
  std::uint64_t FCalls = 0;
};

}  // namespace quorvel::bench
