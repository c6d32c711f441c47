#include "bridge/Bridge.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bridge/BridgeMessages.h"
#include "platform/Utf.h"
#include "relay/BoardDiscovery.h"
#include "relay/BoardModel.h"
#include "relay/RelayProtocol.h"
#include "relay/RelaySwitching.h"

namespace quorvel::bridge {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;
constexpr int kFirstBackoffMs = 500;
constexpr int kMaxBackoffMs = 30000;
constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

void Log(const std::string& text) {
  std::fprintf(stderr, "quorvel-mqtt: %s\n", text.c_str());
  std::fflush(stderr);
}

void LibraryInit() {
  static const int rc = mosquitto_lib_init();
  (void)rc;
}

// A board ID for the log: printable bytes as they are, others in hexadecimal.
std::string Printable(const std::string& id) {
  std::string out;
  for (const char c : id) {
    if (c >= ' ' && c <= '~') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

int MillisecondsUntil(TBridge::TClock::time_point when) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - TBridge::TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

}  // namespace

TBridge::TBridge(TBridgeOptions Options, std::string Password)
    : FOptions(std::move(Options)), FPassword(std::move(Password)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the wake-up pipe");
  }
  FWakeRead = fds[0];
  FWakeWrite = fds[1];
}

TBridge::~TBridge() {
  // Devices go with the controller; the boards' entries only borrow them. With
  // no entries left, the unplug events of the controller's end publish nothing.
  FConnected = false;
  FBoards.clear();
  FController.reset();
  if (FMosq != nullptr) {
    mosquitto_destroy(FMosq);
  }
  close(FWakeRead);
  close(FWakeWrite);
}

void TBridge::Start() {
  LibraryInit();
  FMosq = mosquitto_new(FOptions.ClientId.c_str(), true, this);
  if (FMosq == nullptr) {
    throw std::runtime_error("the MQTT client cannot be created (client ID \"" + FOptions.ClientId +
                             "\")");
  }
  mosquitto_connect_callback_set(FMosq, &ConnectCallback);
  mosquitto_disconnect_callback_set(FMosq, &DisconnectCallback);
  mosquitto_message_callback_set(FMosq, &MessageCallback);
  mosquitto_publish_callback_set(FMosq, &PublishCallback);
  // No cap on unacknowledged messages: a board's state goes out at once, and
  // the goodbye is not held behind a queue that a stop would drop.
  mosquitto_max_inflight_messages_set(FMosq, 0);
  // A state is several small messages: Nagle's delay would hold each answer for the
  // broker's delayed acknowledgement, tens of milliseconds.
  mosquitto_int_option(FMosq, MOSQ_OPT_TCP_NODELAY, 1);
  const std::string will = BridgeAvailabilityTopic(FOptions.Prefix);
  if (mosquitto_will_set(FMosq, will.c_str(), static_cast<int>(kOffline.size()), kOffline.data(),
                         kQos, true) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the last will cannot be set on \"" + will + "\"");
  }
  if (!FOptions.User.empty() &&
      mosquitto_username_pw_set(FMosq, FOptions.User.c_str(),
                                FPassword.empty() ? nullptr : FPassword.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the user name or password is refused by the MQTT library");
  }
  if (!FOptions.CaFile.empty()) {
    const int rc =
        mosquitto_tls_set(FMosq, FOptions.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      throw std::runtime_error("TLS with CA file \"" + FOptions.CaFile +
                               "\": " + mosquitto_strerror(rc));
    }
  }

  FController = std::make_unique<hid::THidDeviceController>();
  // Before the first scan, which the change handler starts.
  FController->SetOnDeviceCreateError(
      hid::THidDeviceCreateError::Of<&TBridge::OnCreateError>(this));
  FController->SetOnEnumerate(hid::THidEnumerateEvent::Of<&TBridge::OnEnumerate>(this));
  FController->SetOnDeviceUnplug(hid::THidPlugEvent::Of<&TBridge::OnUnplug>(this));
  FController->SetOnDeviceChange(hid::TNotifyEvent::Of<&TBridge::OnDeviceChange>(this));
  Adopt();
  FNextRefresh = TClock::now() + std::chrono::milliseconds(FOptions.IntervalMs);
  Log("serving " + std::to_string(FBoards.size()) + " relay board(s)");
  FNextConnect = TClock::now();
  Connect();
}

void TBridge::RequestStop() noexcept {
  FStop = true;
  const char byte = 's';
  [[maybe_unused]] const ssize_t n = write(FWakeWrite, &byte, 1);
}

void TBridge::RequestRescan() noexcept {
  FRescan = true;
  const char byte = 'r';
  [[maybe_unused]] const ssize_t n = write(FWakeWrite, &byte, 1);
}

bool TBridge::StopRequested() const noexcept {
  return FStop;
}

void TBridge::Run() {
  while (!FStop) {
    RunOnce(1000);
  }
  Shutdown();
}

void TBridge::RunOnce(int MaxWaitMs) {
  int wait = std::min(MaxWaitMs, MillisecondsUntil(FNextRefresh));
  if (!FConnected && !FConnecting) {
    wait = std::min(wait, MillisecondsUntil(FNextConnect));
  }
  pollfd fds[3] = {};
  nfds_t count = 0;
  fds[count++] = {FWakeRead, POLLIN, 0};
  const int messageFd = FController ? FController->MessageFd() : -1;
  int messageIndex = -1;
  if (messageFd >= 0) {
    messageIndex = static_cast<int>(count);
    fds[count++] = {messageFd, POLLIN, 0};
  }
  // A socket the connection was lost on stays open until the next attempt.
  const int socket = FConnected || FConnecting ? mosquitto_socket(FMosq) : -1;
  int socketIndex = -1;
  if (socket >= 0) {
    socketIndex = static_cast<int>(count);
    const short events = static_cast<short>(POLLIN | (mosquitto_want_write(FMosq) ? POLLOUT : 0));
    fds[count++] = {socket, events, 0};
  }
  if (poll(fds, count, wait) < 0 && errno != EINTR) {
    Log(std::string("poll failed: ") + std::strerror(errno));
  }

  if ((fds[0].revents & POLLIN) != 0) {
    char drain[64];
    while (read(FWakeRead, drain, sizeof drain) > 0) {
    }
  }
  try {
    if (messageIndex >= 0 && (fds[messageIndex].revents & POLLIN) != 0) {
      FController->ProcessMessages();
    }
    if (FRescan.exchange(false)) {
      Rescan();
      RefreshStates();
    }
  } catch (const std::exception& error) {
    Log(std::string("device scan failed: ") + error.what());
  }

  if (socketIndex >= 0) {
    const short revents = fds[socketIndex].revents;
    int rc = MOSQ_ERR_SUCCESS;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      rc = mosquitto_loop_read(FMosq, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && (revents & POLLOUT) != 0) {
      rc = mosquitto_loop_write(FMosq, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
      rc = mosquitto_loop_misc(FMosq);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      LostConnection(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    }
  }

  const auto now = TClock::now();
  if (now >= FNextRefresh) {
    FNextRefresh = now + std::chrono::milliseconds(FOptions.IntervalMs);
    try {
      Rescan();
      RefreshStates();
    } catch (const std::exception& error) {
      Log(std::string("device scan failed: ") + error.what());
    }
  }
  if (!FConnected && !FConnecting && !FStop && TClock::now() >= FNextConnect) {
    Connect();
  }
}

// ---- HID side ----

void TBridge::Rescan() {
  // Also where the platform sends no change notification (sandboxes, the
  // simulation): a scan that finds nothing new costs no board exchange.
  FController->DeviceChange();
  if (!FWarned.empty()) {
    // A refused board may have become usable without any change to the list: udev
    // gives a new node its group after the kernel announced it.
    Adopt();
  }
}

void TBridge::Adopt() {
  FRefusedNow.clear();
  FController->Enumerate();
  const std::vector<relay::TRelayBoard> found = std::exchange(FFound, {});
  std::map<std::string, int> holders;
  for (const relay::TRelayBoard& board : found) {
    ++holders[board.Id];
  }
  // Boards of one ID cannot be told apart by a command: serving either could switch the
  // wrong one (which comes first changes with plugging and restarts), so neither is served.
  FSharedIds.clear();
  for (const relay::TRelayBoard& board : found) {
    const auto served = FBoards.find(board.Id);
    if (holders[board.Id] == 1 && served == FBoards.end()) {
      Serve(board);
      continue;
    }
    if (served != FBoards.end()) {
      hid::THidDevice* device = served->second.Board.Device;
      ForgetBoard(board.Id, false);
      FController->CheckIn(device);
    }
    FSharedIds.insert(board.Id);
    Refused(board.DeviceId, "has the ID \"" + board.Id +
                                "\" of another board present; neither is served until one of "
                                "them gets another ID with the tool");
    hid::THidDevice* device = board.Device;
    FController->CheckIn(device);
  }
  // Forget refusals of devices that left or were taken, so that they are told again.
  std::erase_if(FWarned, [&](std::uint32_t id) { return !FRefusedNow.contains(id); });
}

void TBridge::OnDeviceChange(hid::TLayerComponent*) {
  Adopt();
}

void TBridge::OnCreateError(hid::THidDeviceController*, hid::THidPnPInfo* PnPInfo, bool& Handled,
                            bool& RetryCreate) {
  // One odd HID device must not keep every board from being served.
  Handled = true;
  RetryCreate = false;
  const std::u16string path = PnPInfo != nullptr ? PnPInfo->DevicePath() : std::u16string();
  if (FSkipped.insert(path).second) {
    Log("skipped a HID device that cannot be identified: " + platform::Utf16ToUtf8(path));
  }
}

void TBridge::Refused(std::uint32_t DeviceId, const std::string& Why) {
  FRefusedNow.insert(DeviceId);
  if (FWarned.insert(DeviceId).second) {
    Log("a relay board " + Why + "; it is left alone until that changes");
  }
}

bool TBridge::OnEnumerate(hid::THidDevice* HidDev, std::int32_t Idx) {
  if (HidDev->IsCheckedOut() || !HidDev->IsPluggedIn() || !relay::RecogniseBoard(*HidDev)) {
    return true;
  }
  hid::THidDevice* device = nullptr;
  FController->CheckOutByIndex(device, Idx);
  std::optional<relay::TRelayBoard> board =
      device != nullptr ? relay::RecogniseBoard(*device) : std::nullopt;
  if (!board) {
    return true;
  }
  const relay::TBoardReading reading = relay::ReadBoard(*board);
  std::string refusal;
  if (!reading.ReadOk) {
    refusal =
        "cannot be read (error " + std::to_string(hid::PlatformLastError()) + "; permissions?)";
  } else if (!IsTopicSafeBoardId(board->Id)) {
    refusal = "has the ID \"" + Printable(board->Id) +
              "\", which cannot name a topic; give it another ID with the tool";
  }
  if (!refusal.empty()) {
    Refused(board->DeviceId, refusal);
    FController->CheckIn(device);
    return true;
  }
  FFound.push_back(std::move(*board));
  return true;
}

void TBridge::Serve(const relay::TRelayBoard& Found) {
  FWarned.erase(Found.DeviceId);
  TBoard& entry = FBoards[Found.Id];
  entry = TBoard{Found, false};
  Log("board " + Found.Id + " (" + std::to_string(Found.Relays) + " relays) arrived");
  PublishAvailability(Found.Id, true);
  PublishDiscovery(Found.Id, entry);
  PublishBoard(Found.Id, entry);
}

void TBridge::OnUnplug(hid::THidDevice* HidDev) {
  for (auto& [id, board] : FBoards) {
    if (board.Board.Device == HidDev) {
      const std::string gone = id;
      ForgetBoard(gone, true);
      break;
    }
  }
  if (HidDev->IsCheckedOut()) {
    FController->CheckIn(HidDev);
  }
}

void TBridge::ForgetBoard(const std::string& Id, bool Unplugged) {
  Log("board " + Id + (Unplugged ? " left" : " is no longer served"));
  PublishAvailability(Id, false);
  FBoards.erase(Id);
}

void TBridge::RefreshStates() {
  std::vector<std::string> renamed;
  for (auto& [id, board] : FBoards) {
    const bool wasKnown = board.Board.StateKnown;
    const relay::TRelayMask was = board.Board.State;
    const relay::TBoardReading reading = relay::ReadBoard(board.Board);
    if (!reading.ReadOk) {
      board.Board.StateKnown = wasKnown;  // a board that left goes with the next scan
      continue;
    }
    if (board.Board.Id != id) {
      renamed.push_back(id);  // given another ID meanwhile, by the tool
      continue;
    }
    if (!wasKnown || board.Board.State != was) {
      board.Published = false;
    }
    if (!board.Published) {
      PublishBoard(id, board);
    }
  }
  for (const std::string& id : renamed) {
    hid::THidDevice* device = FBoards[id].Board.Device;
    ForgetBoard(id, false);
    FController->CheckIn(device);
  }
  if (!renamed.empty()) {
    Adopt();  // under its new ID
  }
}

// ---- MQTT side ----

void TBridge::Connect() {
  FConnecting = true;  // until the broker's answer, or the failure
  const int rc = FConnectCalled ? mosquitto_reconnect(FMosq)
                                : mosquitto_connect(FMosq, FOptions.Host.c_str(), FOptions.Port,
                                                    kKeepAliveSeconds);
  FConnectCalled = true;
  if (rc != MOSQ_ERR_SUCCESS) {
    LostConnection(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
  }
}

void TBridge::LostConnection(const std::string& Reason) {
  if (!FConnected && !FConnecting) {
    return;  // this loss was handled already (the library reports some twice)
  }
  const std::string broker = FOptions.Host + ":" + std::to_string(FOptions.Port);
  if (FConnected) {
    Log("lost the connection to " + broker + " (" + Reason + "); connecting again");
    FBackoffMs = 0;
  } else if (!FOutageLogged) {
    // Once per outage: a broker that stays away does not fill the log.
    Log("cannot connect to " + broker + " (" + Reason + "); trying again, less and less often");
  }
  FOutageLogged = true;
  FConnected = false;
  FConnecting = false;
  FBackoffMs = FBackoffMs == 0 ? kFirstBackoffMs : std::min(FBackoffMs * 2, kMaxBackoffMs);
  FNextConnect = TClock::now() + std::chrono::milliseconds(FBackoffMs);
}

void TBridge::ConnectCallback(mosquitto*, void* Self, int Rc) {
  static_cast<TBridge*>(Self)->OnConnect(Rc);
}
void TBridge::DisconnectCallback(mosquitto*, void* Self, int Rc) {
  static_cast<TBridge*>(Self)->OnDisconnect(Rc);
}
void TBridge::PublishCallback(mosquitto*, void* Self, int Mid) {
  static_cast<TBridge*>(Self)->FAckedMid = Mid;
}
void TBridge::MessageCallback(mosquitto*, void* Self, const mosquitto_message* Message) {
  static_cast<TBridge*>(Self)->OnMessage(*Message);
}

void TBridge::OnConnect(int Rc) {
  if (Rc != 0) {
    LostConnection(std::string("refused: ") + mosquitto_connack_string(Rc));
    return;
  }
  FConnecting = false;
  FConnected = true;
  FBackoffMs = 0;
  FOutageLogged = false;
  Log("connected to " + FOptions.Host + ":" + std::to_string(FOptions.Port));
  // The boards' availabilities too: what the broker kept of them is checked.
  const std::string filters[] = {BoardCommandFilter(FOptions.Prefix),
                                 RelayCommandFilter(FOptions.Prefix),
                                 BoardAvailabilityFilter(FOptions.Prefix)};
  for (const std::string& filter : filters) {
    mosquitto_subscribe(FMosq, nullptr, filter.c_str(), kQos);
  }
  Publish(BridgeAvailabilityTopic(FOptions.Prefix), std::string(kOnline), true);
  // A restarted broker may have lost every retained message: all goes out again.
  for (auto& [id, board] : FBoards) {
    PublishAvailability(id, true);
    PublishDiscovery(id, board);
    board.Published = false;
    PublishBoard(id, board);
  }
}

void TBridge::OnDisconnect(int Rc) {
  if (!FStop) {
    LostConnection(mosquitto_strerror(Rc));
  }
}

void TBridge::Publish(const std::string& Topic, const std::string& Payload, bool Retain) {
  if (!FConnected) {
    return;  // everything retained goes out again on connecting
  }
  const int rc = mosquitto_publish(FMosq, &FLastMid, Topic.c_str(),
                                   static_cast<int>(Payload.size()), Payload.data(), kQos, Retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    Log("publish on " + Topic + " failed: " + mosquitto_strerror(rc));
  }
}

void TBridge::PublishBoard(const std::string& Id, TBoard& Entry) {
  const relay::TRelayBoard& board = Entry.Board;
  if (!board.StateKnown || !FConnected) {
    return;
  }
  Publish(BoardStateTopic(FOptions.Prefix, Id), StateJson(board.State, board.Relays), true);
  for (int relay = 1; relay <= board.Relays; ++relay) {
    Publish(RelayStateTopic(FOptions.Prefix, Id, relay), RelayPayload(RelayOn(board.State, relay)),
            true);
  }
  Entry.Published = true;
}

void TBridge::PublishAvailability(const std::string& Id, bool Online) {
  Publish(BoardAvailabilityTopic(FOptions.Prefix, Id), std::string(Online ? kOnline : kOffline),
          true);
}

void TBridge::PublishDiscovery(const std::string& Id, const TBoard& Entry) {
  if (!FOptions.Discovery) {
    return;
  }
  // Kept while a board is away: its entities show unavailable, not deleted.
  const int relays = Entry.Board.Relays;
  for (int relay = 1; relay <= relays; ++relay) {
    Publish(DiscoveryTopic(FOptions.DiscoveryPrefix, FOptions.Prefix, Id, relay),
            DiscoveryConfig(FOptions.Prefix, Id, relay, relays), true);
  }
}

void TBridge::Refuse(const std::string& Topic, const std::string& Error) {
  Log("refused " + Topic + ": " + Error);
  Publish(ErrorTopic(FOptions.Prefix), ErrorJson(Topic, Error), false);
}

void TBridge::OnMessage(const mosquitto_message& Message) {
  const std::string topic = Message.topic != nullptr ? Message.topic : "";
  std::string payload;
  if (Message.payloadlen > 0) {
    payload.assign(static_cast<const char*>(Message.payload),
                   static_cast<std::size_t>(Message.payloadlen));
  }
  if (const std::optional<std::string> id = ParseBoardAvailabilityTopic(FOptions.Prefix, topic)) {
    // An online the broker kept from an earlier run that died, or from before a restart
    // of a broker that keeps retained messages, for a board that left meanwhile: it must
    // not go on showing a board that is not served. Our own messages come back too.
    if (payload == kOnline && !FBoards.contains(*id)) {
      PublishAvailability(*id, false);
    }
    return;
  }
  HandleCommand(topic, payload, Message.retain);
}

void TBridge::HandleCommand(const std::string& Topic, const std::string& Payload, bool Retained) {
  const std::optional<TCommandTopic> command = ParseCommandTopic(FOptions.Prefix, Topic);
  if (!command) {
    return;  // the bridge's own availability, say
  }
  if (Retained) {
    // Kept by the broker from some earlier time: switching now would surprise.
    Refuse(Topic, "a retained command is not carried out");
    return;
  }
  if (FStop) {
    // Every board is being announced offline, or already is.
    Refuse(Topic, "the bridge is stopping; nothing is switched");
    return;
  }
  const auto found = FBoards.find(command->BoardId);
  if (found == FBoards.end() && FSharedIds.contains(command->BoardId)) {
    Refuse(Topic, "two or more boards have the ID \"" + command->BoardId +
                      "\"; none of them is switched until one gets another ID with the tool");
    return;
  }
  if (found == FBoards.end()) {
    Refuse(Topic, "no board with the ID \"" + command->BoardId + "\" is present");
    return;
  }
  TBoard& entry = found->second;
  relay::TRelayBoard& board = entry.Board;
  if (!command->RelayValid) {
    Refuse(Topic, "relay \"" + command->RelayText + "\" is not a relay of this board (1 to " +
                      std::to_string(board.Relays) + ")");
    return;
  }
  const TCommandParse parse = command->Relay == 0
                                  ? ParseBoardCommand(Payload, board.Relays)
                                  : ParseRelayCommand(Payload, command->Relay, board.Relays);
  if (!parse.Change) {
    Refuse(Topic, parse.Error);
    return;
  }
  // A toggle flips the state the switch reads first, not the one last published: another
  // program may have switched the board meanwhile.
  const relay::TSwitchResult outcome = relay::SwitchBoard(board, *parse.Change);
  if (!outcome.FirstReadOk) {
    Refuse(Topic, "the board's state cannot be read; nothing was switched");
  } else if (!outcome.Succeeded()) {
    Refuse(Topic, outcome.FinalReadOk ? "the board did not take every command"
                                      : "the board did not answer; its state is unknown");
  }
  if (outcome.FinalReadOk) {
    entry.Published = false;
    PublishBoard(command->BoardId, entry);
  }
}

void TBridge::Shutdown() {
  if (FConnected) {
    for (const auto& [id, board] : FBoards) {
      PublishAvailability(id, false);
    }
    Publish(BridgeAvailabilityTopic(FOptions.Prefix), std::string(kOffline), true);
    // The broker takes messages in order: once the last is acknowledged, every
    // goodbye has arrived.
    const auto deadline = TClock::now() + std::chrono::seconds(2);
    while (FAckedMid != FLastMid && TClock::now() < deadline) {
      if (mosquitto_loop(FMosq, 50, 1) != MOSQ_ERR_SUCCESS) {
        break;
      }
    }
    FConnected = false;
    mosquitto_disconnect(FMosq);
    mosquitto_loop_write(FMosq, 1);
  }
  Log("stopped");
}

}  // namespace quorvel::bridge
