// quorvel-mqtt: the relay boards of this machine on an MQTT broker.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bridge/Bridge.h"
#include "bridge/BridgeOptions.h"

namespace {

constexpr int kExitBadConfiguration = 2;
constexpr int kExitFailure = 1;

quorvel::bridge::TBridge* RunningBridge = nullptr;

void OnStopSignal(int) {
  if (RunningBridge != nullptr) {
    RunningBridge->RequestStop();
  }
}

void OnRescanSignal(int) {
  if (RunningBridge != nullptr) {
    RunningBridge->RequestRescan();
  }
}

void Handle(int signalNumber, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signalNumber, &action, nullptr);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    return "localhost";
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvel::bridge;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  TOptionsParse parse = ParseOptions(arguments);
  if (!parse.Options) {
    std::fprintf(stderr, "quorvel-mqtt: %s\n", parse.Error.c_str());
    return kExitBadConfiguration;
  }
  TBridgeOptions& options = *parse.Options;
  if (options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("quorvel-mqtt %s\n", QUORVEL_VERSION);
    return 0;
  }
  std::string password;
  if (!options.PasswordFile.empty()) {
    std::string error;
    if (!ReadPasswordFile(options.PasswordFile, password, error)) {
      std::fprintf(stderr, "quorvel-mqtt: %s\n", error.c_str());
      return kExitBadConfiguration;
    }
  }
  if (options.ClientId.empty()) {
    options.ClientId = "quorvel-mqtt-" + HostName();
  }
  try {
    TBridge bridge(options, password);
    RunningBridge = &bridge;
    Handle(SIGINT, &OnStopSignal);
    Handle(SIGTERM, &OnStopSignal);
    Handle(SIGHUP, &OnRescanSignal);
    Handle(SIGPIPE, SIG_IGN);
    bridge.Start();
    bridge.Run();
    RunningBridge = nullptr;
  } catch (const std::exception& error) {
    RunningBridge = nullptr;
    std::fprintf(stderr, "quorvel-mqtt: %s\n", error.what());
    return kExitFailure;
  }
  return 0;
}
