// The relay road's argument grammar on a typical request.
#include <array>
#include <string>

#include <benchmark/benchmark.h>

#include "app/ArgumentGrammar.h"
#include "tests/app/BufferConsole.h"

namespace quorvel::bench {
namespace {

void BM_ParseArguments(benchmark::State& state) {
  const std::array<std::u16string, 3> arguments = {u"ID=1", u"ON=1,2,3", u"OFF=4"};
  app::test::BufferConsole console;
  app::TRelayRequest parsed;
  if (!app::ParseArguments(arguments, parsed, console) || parsed.ID != 1 || parsed.OnMask != 0x07 ||
      parsed.TouchedMask != 0x0F) {
    state.SkipWithError("the request does not parse as relays 1 to 3 on and 4 off");
  }
  for (auto _ : state) {
    app::TRelayRequest request;
    if (!app::ParseArguments(arguments, request, console)) {
      state.SkipWithError("the request does not parse");
      break;
    }
    benchmark::DoNotOptimize(request);
  }
}
BENCHMARK(BM_ParseArguments);

}  // namespace
}  // namespace quorvel::bench
