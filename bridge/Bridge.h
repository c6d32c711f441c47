// The bridge: the relay boards of this machine on an MQTT broker. One thread
// runs everything; RunOnce waits on the broker's socket, the controller's
// message descriptor and a wake-up pipe together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bridge/BridgeOptions.h"
#include "hid/HidControllerClass.h"
#include "relay/RelayBoard.h"

struct mosquitto;
struct mosquitto_message;

namespace quorvel::bridge {

class TBridge {
 public:
  using TClock = std::chrono::steady_clock;

  // Password: read from the options' file by the caller.
  TBridge(TBridgeOptions Options, std::string Password);
  ~TBridge();
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
  bool Connected() const { return FConnected; }
  std::size_t BoardCount() const { return FBoards.size(); }
  // The HID layer's controller once started; tests give it a stand-in for the
  // kernel's device-change notices.
  hid::THidDeviceController* Controller() const { return FController.get(); }

  // Publishes offline for every board and the bridge, and disconnects.
  void Shutdown();

 private:
  struct TBoard {
    relay::TRelayBoard Board;  // its device checked out
    bool Published = false;    // its state went out since the last connect
  };

  // HID side.
  bool OnEnumerate(hid::THidDevice* HidDev, std::int32_t Idx);
  void OnDeviceChange(hid::TLayerComponent* Sender);
  void OnUnplug(hid::THidDevice* HidDev);
  void OnCreateError(hid::THidDeviceController* Controller, hid::THidPnPInfo* PnPInfo,
                     bool& Handled, bool& RetryCreate);
  void Refused(std::uint32_t DeviceId, const std::string& Why);
  void Serve(const relay::TRelayBoard& Found);
  void Rescan();
  void Adopt();
  void RefreshStates();
  void ForgetBoard(const std::string& Id, bool Unplugged);

  // MQTT side.
  void Connect();
  void LostConnection(const std::string& Reason);
  void OnConnect(int Rc);
  void OnDisconnect(int Rc);
  void OnMessage(const mosquitto_message& Message);
  void Publish(const std::string& Topic, const std::string& Payload, bool Retain);
  void PublishBoard(const std::string& Id, TBoard& Entry);
  void PublishAvailability(const std::string& Id, bool Online);
  void PublishDiscovery(const std::string& Id, const TBoard& Entry);
  void Refuse(const std::string& Topic, const std::string& Error);
  void HandleCommand(const std::string& Topic, const std::string& Payload, bool Retained);

  static void ConnectCallback(mosquitto*, void* Self, int Rc);
  static void DisconnectCallback(mosquitto*, void* Self, int Rc);
  static void PublishCallback(mosquitto*, void* Self, int Mid);
  static void MessageCallback(mosquitto*, void* Self, const mosquitto_message* Message);

  TBridgeOptions FOptions;
  std::string FPassword;
  std::unique_ptr<hid::THidDeviceController> FController;
  std::map<std::string, TBoard> FBoards;   // by board ID
  std::set<std::uint32_t> FWarned;         // PnP device IDs refused, told once
  std::set<std::uint32_t> FRefusedNow;     // those refused by the current walk
  std::vector<relay::TRelayBoard> FFound;  // found and read by the current walk, checked out
  std::set<std::string> FSharedIds;        // held by two boards or more: neither is served
  std::set<std::u16string> FSkipped;       // paths of devices that cannot be identified, told
  mosquitto* FMosq = nullptr;
  bool FConnected = false;
  bool FConnecting = false;
  bool FConnectCalled = false;
  bool FOutageLogged = false;  // later attempts reconnect to the same broker
  int FBackoffMs = 0;
  TClock::time_point FNextConnect{};
  TClock::time_point FNextRefresh{};
  int FLastMid = 0;   // of the newest message published
  int FAckedMid = 0;  // of the newest message the broker acknowledged
  int FWakeRead = -1;
  int FWakeWrite = -1;
  std::atomic<bool> FStop = false;
  std::atomic<bool> FRescan = false;
};

}  // namespace quorvel::bridge
