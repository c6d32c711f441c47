#include "bench/DescriptorBench.h"

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "hidparse/HidParse.h"
#include "tests/hidparse/DescriptorFile.h"

namespace quorvel::bench {
namespace {

using TDescriptor = std::vector<std::uint8_t>;

void ParseDescriptor(benchmark::State& state, const TDescriptor& descriptor) {
  for (auto _ : state) {
    auto result = hidparse::ParseReportDescriptor(descriptor);
    if (!result) {
      state.SkipWithError(result.Error.Message.c_str());
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(descriptor.size()));
}

// The whole way from descriptor bytes to the block the HidP_ functions use, and back.
void MakePreparsed(benchmark::State& state, const TDescriptor& descriptor) {
  for (auto _ : state) {
    PHIDP_PREPARSED_DATA data = hidparse::MakePreparsedData(descriptor);
    if (data == nullptr) {
      state.SkipWithError("no preparsed data");
      break;
    }
    benchmark::DoNotOptimize(data);
    hidparse::FreePreparsedData(data);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(descriptor.size()));
}

}  // namespace

void RegisterDescriptorBenchmarks() {
  for (const std::string& name : hidparse::test::FixtureNames("descriptors")) {
    const TDescriptor descriptor =
        hidparse::test::LoadDescriptor(hidparse::test::FixtureDir("descriptors") / name);
    const std::string label =
        name.substr(0, name.find('.')) + "/" + std::to_string(descriptor.size()) + "B";
    benchmark::RegisterBenchmark(("BM_ParseReportDescriptor/" + label).c_str(), ParseDescriptor,
                                 descriptor);
    benchmark::RegisterBenchmark(("BM_MakePreparsedData/" + label).c_str(), MakePreparsed,
                                 descriptor);
  }
}

}  // namespace quorvel::bench
