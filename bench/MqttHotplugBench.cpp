// How soon a board that is plugged in or unplugged shows on the broker: the bridge runs in
// this process over the simulated platform, against Debian's mosquitto on a free loopback
// port, and one simulated board comes and goes.
//   quorvel_mqtt_hotplug_bench [TIMES]      (200 by default)
// Announced: each arrival and removal is followed by a hidraw uevent, as the kernel sends
// one, through a stand-in for the kernel's socket (the simulation has no uevents of its
// own); from the board's arrival to `online` received, and from its removal to `offline`.
// Not announced: the same with no uevent, found by the re-read at a 1 s interval (a
// sandbox without netlink, or the simulation as it is); 20 times.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge/Bridge.h"
#include "hid/DeviceChangeNotifier.h"
#include "platform/ModuleLoader.h"
#include "sim/SimControl.h"
#include "tests/bridge/BrokerFixture.h"

using namespace quorvel;
using namespace quorvel::bridge::test;
using TClock = std::chrono::steady_clock;

namespace {

struct TFigures {
  std::vector<double> Arrival;
  std::vector<double> Removal;
};

double Ms(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Both loops in turn, neither waiting: what is measured is the bridge's own way.
bool Await(bridge::TBridge& bridge, TMqttClient& client, const std::string& payload) {
  return PumpUntil(
      [&] {
        bridge.RunOnce(0);
        client.Loop(0);
      },
      [&] { return client.Last("h/HOTPL/availability") == payload; });
}

// Serves both loops for Ms milliseconds.
void Idle(bridge::TBridge& bridge, TMqttClient& client, int ms) {
  const auto until = TClock::now() + std::chrono::milliseconds(ms);
  while (TClock::now() < until) {
    bridge.RunOnce(1);
    client.Loop(0);
  }
}

// TIMES arrivals and removals; Announce sends the uevent after each, or not. Without it,
// each change waits a varying part of the interval first: a change found by a re-read
// would otherwise always come just after the last one, and wait the whole interval.
bool Measure(bridge::TBridge& bridge, sim::TSimControl& sim, TMqttClient& client, int times,
             TKernelNotices* announce, TFigures& figures) {
  for (int i = 0; i < times; ++i) {
    if (announce == nullptr) {
      Idle(bridge, client, (i * 389) % 1000);
    }
    client.Clear();
    auto start = TClock::now();
    const int board = sim.AddRelayBoard("HOTPL", 2);
    if (announce != nullptr) {
      announce->Send("add", "hidraw9");
    }
    if (!Await(bridge, client, "online")) {
      std::fprintf(stderr, "arrival %d was not published\n", i);
      return false;
    }
    figures.Arrival.push_back(Ms(TClock::now() - start));
    if (announce == nullptr) {
      Idle(bridge, client, (i * 617) % 1000);
    }
    client.Clear();
    start = TClock::now();
    sim.RemoveDevice(board);
    if (announce != nullptr) {
      announce->Send("remove", "hidraw9");
    }
    if (!Await(bridge, client, "offline")) {
      std::fprintf(stderr, "removal %d was not published\n", i);
      return false;
    }
    figures.Removal.push_back(Ms(TClock::now() - start));
  }
  return true;
}

void Print(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1,
                            static_cast<std::size_t>(q * static_cast<double>(samples.size())))];
  };
  std::printf("  %-8s %zu times: median %.3f ms, p99 %.3f ms, worst %.3f ms\n", what,
              samples.size(), at(0.5), at(0.99), samples.back());
}

std::unique_ptr<bridge::TBridge> StartBridge(int port, int intervalMs) {
  bridge::TBridgeOptions options;
  options.Host = "127.0.0.1";
  options.Port = port;
  options.ClientId = "hotplug-bench";
  options.Prefix = "h";
  options.IntervalMs = intervalMs;
  auto started = std::make_unique<bridge::TBridge>(options, "");
  started->Start();
  return started;
}

}  // namespace

int main(int argc, char** argv) {
  const int times = argc > 1 ? std::atoi(argv[1]) : 200;
  if (times < 1) {
    std::fprintf(stderr, "usage: quorvel_mqtt_hotplug_bench [TIMES]\n");
    return 2;
  }
  platform::SetModuleDirectoryForTest(QUORVEL_SIM_DIR);
  TBroker broker;
  TMqttClient client(broker.Port(), "h/+/availability");

  // An hour between re-reads: only the notification can be measured.
  std::unique_ptr<bridge::TBridge> announced = StartBridge(broker.Port(), 3'600'000);
  sim::TSimControl sim;
  sim.Reset();
  auto owned = std::make_unique<TKernelNotices>();
  TKernelNotices* kernel = owned.get();
  if (announced->Controller()->Notifier() == nullptr) {
    std::fprintf(stderr, "the controller has no notification channel\n");
    return 1;
  }
  announced->Controller()->Notifier()->SetChangeSource(std::move(owned));
  if (!PumpUntil([&] { announced->RunOnce(10); }, [&] { return announced->Connected(); })) {
    std::fprintf(stderr, "the bridge did not connect\n");
    return 1;
  }
  TFigures withNotice;
  if (!Measure(*announced, sim, client, times, kernel, withNotice)) {
    return 1;
  }
  announced->Shutdown();
  announced.reset();

  std::unique_ptr<bridge::TBridge> unannounced = StartBridge(broker.Port(), 1000);
  if (!PumpUntil([&] { unannounced->RunOnce(10); }, [&] { return unannounced->Connected(); })) {
    std::fprintf(stderr, "the bridge did not connect\n");
    return 1;
  }
  TFigures atInterval;
  if (!Measure(*unannounced, sim, client, 20, nullptr, atInterval)) {
    return 1;
  }
  unannounced->Shutdown();

  std::printf("board plugged in -> online, unplugged -> offline, announced by a uevent:\n");
  Print("arrival", withNotice.Arrival);
  Print("removal", withNotice.Removal);
  std::printf("not announced, found by the re-read at a 1 s interval:\n");
  Print("arrival", atInterval.Arrival);
  Print("removal", atInterval.Removal);
  return 0;
}
