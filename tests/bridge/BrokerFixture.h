// A real mosquitto broker on a free loopback port, and a small MQTT client
// that remembers what it received.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#ifdef __linux__
#include "platform/linux/services/Uevent.h"
#endif

struct mosquitto;
struct mosquitto_message;

namespace quorvel::bridge::test {

class TBroker {
 public:
  // Starts it; throws when it does not come up. With a user, only that user with
  // that password is let in.
  // ExtraConfig goes at the end of its configuration (a second listener, say).
  explicit TBroker(const std::string& User = {}, const std::string& Password = {},
                   const std::string& ExtraConfig = {});
  ~TBroker();
  TBroker(const TBroker&) = delete;
  TBroker& operator=(const TBroker&) = delete;

  int Port() const { return FPort; }
  const std::filesystem::path& Dir() const { return FDir; }
  void Stop();
  // On the same port; retained messages are gone (no persistence).
  void Start();

 private:
  std::filesystem::path FDir;
  int FPort = 0;
  pid_t FPid = -1;
};

struct TReceived {
  std::string Topic;
  std::string Payload;
  bool Retained = false;
};

class TMqttClient {
 public:
  TMqttClient(int Port, const std::string& Subscription, const std::string& User = {},
              const std::string& Password = {});
  ~TMqttClient();
  TMqttClient(const TMqttClient&) = delete;
  TMqttClient& operator=(const TMqttClient&) = delete;

  // Serves the connection for up to Ms milliseconds.
  void Loop(int Ms);
  void Publish(const std::string& Topic, const std::string& Payload, bool Retain = false);

  const std::vector<TReceived>& Received() const { return FReceived; }
  // The newest payload of a topic, empty when none came.
  std::string Last(const std::string& Topic) const;
  bool Has(const std::string& Topic, const std::string& Payload) const;
  std::size_t Count(const std::string& Topic) const;
  void Clear() { FReceived.clear(); }
  bool Subscribed() const { return FSubscribed; }

 private:
  static void OnMessage(mosquitto*, void* Self, const mosquitto_message* Message);
  static void OnSubscribe(mosquitto*, void* Self, int, int, const int*);
  mosquitto* FMosq = nullptr;
  std::vector<TReceived> FReceived;
  bool FSubscribed = false;
};

// Serves Pump (one step of whatever must run) until Done holds or 15 seconds
// pass; the result tells which. The bound only keeps a broken run from
// hanging: every wait ends long before it.
bool PumpUntil(const std::function<void()>& Pump, const std::function<bool()>& Done);

// A program started in the background, its standard error kept in a file.
class TProcess {
 public:
  TProcess(const std::vector<std::string>& Arguments,
           const std::map<std::string, std::string>& Environment);
  ~TProcess();  // kills it if it still runs
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;
  void Signal(int Number);
  // The exit status, -1 when a signal ended it.
  int Wait();
  std::string Error() const;

 private:
  pid_t FPid = -1;
  std::filesystem::path FErrorFile;
};

#ifdef __linux__
// Stands in for the kernel's uevent socket, to be given to a controller's notifier:
// what Send writes into one end of a socket pair counts as sent by the kernel.
class TKernelNotices final : public platform::TUeventChannel {
 public:
  TKernelNotices();  // throws when the socket pair cannot be made
  ~TKernelNotices() override;
  TKernelNotices(const TKernelNotices&) = delete;
  TKernelNotices& operator=(const TKernelNotices&) = delete;
  int Fd() const override { return FFds[0]; }
  TReceive Receive(std::vector<char>& Message) override;
  // A hidraw node NODE came ("add") or went ("remove").
  void Send(const std::string& Action, const std::string& Node);

 private:
  int FFds[2] = {-1, -1};
};
#endif

// A loopback port nobody listens on at the moment.
int FreeLoopbackPort();

// A program run with its standard error kept.
struct TRunResult {
  int ExitStatus = -1;
  std::string Error;
};
TRunResult RunToEnd(const std::vector<std::string>& Arguments,
                    const std::map<std::string, std::string>& Environment = {});

}  // namespace quorvel::bridge::test
