// The benchmarks of the layer, the parser and the tool's grammar. Those over the
// simulated platform need its modules first in LD_LIBRARY_PATH (bench/run.sh sets it);
// the program refuses to run without them rather than time the real modules.
#include <cstdio>
#include <exception>

#include <benchmark/benchmark.h>

#include "bench/DescriptorBench.h"
#include "bench/SimulatedPlatform.h"

int main(int argc, char** argv) {
  try {
    // Released at once: the binding benchmarks must find nothing bound.
    const quorvel::bench::TSimulatedPlatform probe;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quorvel_bench: %s\n", error.what());
    return 1;
  }
  quorvel::bench::RegisterDescriptorBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
