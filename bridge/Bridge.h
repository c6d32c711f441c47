// The bridge: the relay boards of this machine on an MQTT broker. One thread
// runs everything; RunOnce waits on the broker's socket, the controller's
// message descriptor and a wake-up event together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "bridge/BridgeOptions.h"
#include "platform/WakeEvent.h"
#include "relay/BoardRegistry.h"

struct mosquitto;
struct mosquitto_message;

namespace quorvel::bridge {

class TBridge final : private relay::TBoardEvents {
 public:
  using TClock = std::chrono::steady_clock;

  // Password: read from the options' file by the caller.
  TBridge(TBridgeOptions Options, std::string Password);
  ~TBridge() override;
  TBridge(const TBridge&) = delete;
  TBridge& operator=(const TBridge&) = delete;

  // Binds the HID layer, scans, and starts connecting. Throws std::runtime_error
  // for a setting the MQTT library refuses (TLS files, client ID).
  void Start();
  // One pass of the loop, waiting at most MaxWaitMs for something to do.
  void RunOnce(int MaxWaitMs);
  // Loops until RequestStop, then says goodbye to the broker.
  void Run();
  // Both may be called from a signal handler or another thread.
  void RequestStop() noexcept;
  void RequestRescan() noexcept;

  bool StopRequested() const noexcept;
  bool Connected() const { return connected_; }
  std::size_t BoardCount() const { return boards_.Count(); }
  // The HID layer's controller once started; tests give it a stand-in for the
  // kernel's device-change notices.
  hid::THidDeviceController* Controller() const { return boards_.Controller(); }

  // Publishes offline for every board and the bridge, and disconnects.
  void Shutdown();

 private:
  // The boards, as the registry tells of them.
  void BoardArrived(relay::TRelayBoard& Board) override;
  void BoardLeft(const relay::TRelayBoard& Board, bool Unplugged) override;
  void BoardRead(relay::TRelayBoard& Board, bool Changed) override;
  void BoardRefused(const relay::TRelayBoard& Board, const std::string& Why) override;
  void DeviceSkipped(const std::u16string& Path) override;
  bool AcceptsId(const std::string& Id, std::string& Why) override;
  void RescanBoards();

  // MQTT side.
  void Connect();
  void LostConnection(const std::string& Reason);
  void OnConnect(int Rc);
  void OnDisconnect(int Rc);
  void OnMessage(const mosquitto_message& Message);
  void Publish(const std::string& Topic, const std::string& Payload, bool Retain);
  void PublishBoard(const relay::TRelayBoard& Board);
  void PublishAvailability(const std::string& Id, bool Online);
  void PublishDiscovery(const relay::TRelayBoard& Board);
  void Refuse(const std::string& Topic, const std::string& Error);
  void HandleCommand(const std::string& Topic, const std::string& Payload, bool Retained);

  static void ConnectCallback(mosquitto*, void* Self, int Rc);
  static void DisconnectCallback(mosquitto*, void* Self, int Rc);
  static void PublishCallback(mosquitto*, void* Self, int Mid);
  static void MessageCallback(mosquitto*, void* Self, const mosquitto_message* Message);

  TBridgeOptions options_;
  std::string password_;
  relay::TBoardRegistry boards_{*this};
  std::set<std::string> published_;  // boards whose state went out since the last change
  mosquitto* mosq_ = nullptr;
  bool connected_ = false;
  bool connecting_ = false;
  bool connectCalled_ = false;
  bool outageLogged_ = false;  // later attempts reconnect to the same broker
  int backoffMs_ = 0;
  TClock::time_point nextConnect_{};
  TClock::time_point nextRefresh_{};
  int lastMid_ = 0;   // of the newest message published
  int ackedMid_ = 0;  // of the newest message the broker acknowledged
  platform::TWakeEvent wake_;
  std::atomic<bool> stop_ = false;
  std::atomic<bool> rescan_ = false;
};

}  // namespace quorvel::bridge
