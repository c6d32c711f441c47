// The MQTT bridge's latency and rate: quorvel-mqtt runs as a program over one
// simulated eight-relay board, against Debian's mosquitto on a free loopback port.
//   quorvel_mqtt_bench [COMMANDS]      (1000 by default)
// Latency: from a relay command published to the relay's new state received, one
// command at a time (median, 99th percentile, worst). Rate: COMMANDS board commands
// published at once, until the state of the last is received; every command must
// be answered by its own state, in order, or the run fails.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/bridge/BrokerFixture.h"

using namespace quorvel::bridge::test;
using TClock = std::chrono::steady_clock;

namespace {

double Ms(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

bool Wait(TMqttClient& client, const std::function<bool()>& done) {
  return PumpUntil([&] { client.Loop(1); }, done);
}

}  // namespace

int main(int argc, char** argv) {
  const int commands = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (commands < 1) {
    std::fprintf(stderr, "usage: quorvel_mqtt_bench [COMMANDS]\n");
    return 2;
  }
  TBroker broker;
  const auto world = broker.Dir() / "world.json";
  std::ofstream(world) << R"({"devices": [{"relay": {"boardId": "BENCH", "relays": 8}}]})";
  TMqttClient client(broker.Port(), "b/BENCH/#");
  TProcess bridge({QUORVEL_BRIDGE_EXE, "--host", "127.0.0.1", "--port",
                   std::to_string(broker.Port()), "--prefix", "b", "--interval", "3600"},
                  {{"QUORVEL_SIM_WORLD", world.string()}, {"LD_LIBRARY_PATH", QUORVEL_SIM_DIR}});
  if (!Wait(client, [&] { return client.Last("b/BENCH/availability") == "online"; })) {
    std::fprintf(stderr, "the bridge did not come up:\n%s", bridge.Error().c_str());
    return 1;
  }

  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(commands));
  for (int i = 0; i < commands; ++i) {
    const std::string want = i % 2 == 0 ? "ON" : "OFF";
    client.Clear();
    const auto start = TClock::now();
    client.Publish("b/BENCH/1/set", want);
    if (!Wait(client, [&] { return client.Last("b/BENCH/1") == want; })) {
      std::fprintf(stderr, "command %d got no answer\n", i);
      return 1;
    }
    latencies.push_back(Ms(TClock::now() - start));
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double q) {
    return latencies[std::min(latencies.size() - 1,
                              static_cast<std::size_t>(q * static_cast<double>(latencies.size())))];
  };
  std::printf(
      "command -> state, %d relay commands one at a time: median %.3f ms, p99 %.3f ms, "
      "worst %.3f ms\n",
      commands, at(0.5), at(0.99), latencies.back());

  // Masks 1, 3, 5, ...: no two neighbours alike, so each answer tells its command.
  client.Clear();
  const auto start = TClock::now();
  std::vector<std::string> sent;
  for (int i = 0; i < commands; ++i) {
    const int mask = (i % 128) * 2 + 1;
    sent.push_back(std::to_string(mask));
    client.Publish("b/BENCH/set", "N=" + sent.back());
  }
  const auto states = [&] { return client.Count("b/BENCH/state"); };
  if (!Wait(client, [&] { return states() >= static_cast<std::size_t>(commands); })) {
    std::fprintf(stderr, "only %zu of %d commands were answered\n", states(), commands);
    return 1;
  }
  const double seconds = Ms(TClock::now() - start) / 1000;
  std::size_t answered = 0;
  for (const TReceived& received : client.Received()) {
    if (received.Topic != "b/BENCH/state") {
      continue;
    }
    const std::string expected = "{\"mask\":" + sent[answered] + ",";
    if (received.Payload.rfind(expected, 0) != 0) {
      std::fprintf(stderr, "answer %zu is %s, not mask %s\n", answered, received.Payload.c_str(),
                   sent[answered].c_str());
      return 1;
    }
    ++answered;
  }
  std::printf("sustained: %d board commands in %.3f s, %.0f commands/s, none lost, in order\n",
              commands, seconds, commands / seconds);
  bridge.Signal(SIGTERM);
  return bridge.Wait() == 0 ? 0 : 1;
}
