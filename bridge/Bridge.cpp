#include "bridge/Bridge.h"

#include <mosquitto.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bridge/BridgeMessages.h"
#include "platform/Utf.h"
#include "trace/Trace.h"

namespace quorvel::bridge {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;
constexpr int kFirstBackoffMs = 500;
constexpr int kMaxBackoffMs = 30000;
constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

void Log(const std::string& text) {
  trace::WriteErrorLine("quorvel-mqtt: " + text);
}

// The MQTT library's own log, at the trace's last level.
void LibraryLog(mosquitto* /*Mosq*/, void* /*Self*/, int /*Level*/, const char* Text) {
  trace::TraceLine("mosquitto: " + std::string(Text != nullptr ? Text : ""));
}

void LibraryInit() {
  static const int rc = mosquitto_lib_init();
  (void)rc;
}

int MillisecondsUntil(TBridge::TClock::time_point when) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - TBridge::TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

}  // namespace

TBridge::TBridge(TBridgeOptions Options, std::string Password)
    : options_(std::move(Options)), password_(std::move(Password)) {
  if (wake_.Fd() < 0) {
    throw std::runtime_error("cannot create the wake-up event");
  }
}

TBridge::~TBridge() {
  // With no connection, the unplug events of the controller's end publish nothing.
  connected_ = false;
  boards_.Stop();
  if (mosq_ != nullptr) {
    mosquitto_destroy(mosq_);
  }
}

void TBridge::Start() {
  LibraryInit();
  mosq_ = mosquitto_new(options_.ClientId.c_str(), true, this);
  if (mosq_ == nullptr) {
    throw std::runtime_error("the MQTT client cannot be created (client ID \"" + options_.ClientId +
                             "\")");
  }
  if (trace::TraceOn(trace::kLibraries)) {
    mosquitto_log_callback_set(mosq_, &LibraryLog);
  }
  mosquitto_connect_callback_set(mosq_, &ConnectCallback);
  mosquitto_disconnect_callback_set(mosq_, &DisconnectCallback);
  mosquitto_message_callback_set(mosq_, &MessageCallback);
  mosquitto_publish_callback_set(mosq_, &PublishCallback);
  // No cap on unacknowledged messages: a board's state goes out at once, and
  // the goodbye is not held behind a queue that a stop would drop.
  mosquitto_max_inflight_messages_set(mosq_, 0);
  // A state is several small messages: Nagle's delay would hold each answer for the
  // broker's delayed acknowledgement, tens of milliseconds.
  mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  const std::string will = BridgeAvailabilityTopic(options_.Prefix);
  if (mosquitto_will_set(mosq_, will.c_str(), static_cast<int>(kOffline.size()), kOffline.data(),
                         kQos, true) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the last will cannot be set on \"" + will + "\"");
  }
  if (!options_.User.empty() &&
      mosquitto_username_pw_set(mosq_, options_.User.c_str(),
                                password_.empty() ? nullptr : password_.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the user name or password is refused by the MQTT library");
  }
  if (!options_.CaFile.empty()) {
    const int rc =
        mosquitto_tls_set(mosq_, options_.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      throw std::runtime_error("TLS with CA file \"" + options_.CaFile +
                               "\": " + mosquitto_strerror(rc));
    }
  }

  boards_.Start();
  nextRefresh_ = TClock::now() + std::chrono::milliseconds(options_.IntervalMs);
  Log("serving " + std::to_string(boards_.Count()) + " relay board(s)");
  nextConnect_ = TClock::now();
  Connect();
}

void TBridge::RequestStop() noexcept {
  stop_ = true;
  wake_.Signal();
}

void TBridge::RequestRescan() noexcept {
  rescan_ = true;
  wake_.Signal();
}

bool TBridge::StopRequested() const noexcept {
  return stop_;
}

void TBridge::Run() {
  while (!stop_) {
    RunOnce(1000);
  }
  Shutdown();
}

void TBridge::RunOnce(int MaxWaitMs) {
  int wait = std::min(MaxWaitMs, MillisecondsUntil(nextRefresh_));
  if (!connected_ && !connecting_) {
    wait = std::min(wait, MillisecondsUntil(nextConnect_));
  }
  pollfd fds[3] = {};
  nfds_t count = 0;
  fds[count++] = {wake_.Fd(), POLLIN, 0};
  const int messageFd = boards_.MessageFd();
  int messageIndex = -1;
  if (messageFd >= 0) {
    messageIndex = static_cast<int>(count);
    fds[count++] = {messageFd, POLLIN, 0};
  }
  // A socket the connection was lost on stays open until the next attempt.
  const int socket = connected_ || connecting_ ? mosquitto_socket(mosq_) : -1;
  int socketIndex = -1;
  if (socket >= 0) {
    socketIndex = static_cast<int>(count);
    const short events = static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0));
    fds[count++] = {socket, events, 0};
  }
  if (poll(fds, count, wait) < 0 && errno != EINTR) {
    Log(std::string("poll failed: ") + std::strerror(errno));
  }

  if ((fds[0].revents & POLLIN) != 0) {
    wake_.Drain();
  }
  try {
    if (messageIndex >= 0 && (fds[messageIndex].revents & POLLIN) != 0) {
      boards_.ProcessMessages();
    }
    if (rescan_.exchange(false)) {
      RescanBoards();
    }
  } catch (const std::exception& error) {
    Log(std::string("device scan failed: ") + error.what());
  }

  if (socketIndex >= 0) {
    const short revents = fds[socketIndex].revents;
    int rc = MOSQ_ERR_SUCCESS;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      rc = mosquitto_loop_read(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && (revents & POLLOUT) != 0) {
      rc = mosquitto_loop_write(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
      rc = mosquitto_loop_misc(mosq_);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      LostConnection(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    }
  }

  const auto now = TClock::now();
  if (now >= nextRefresh_) {
    nextRefresh_ = now + std::chrono::milliseconds(options_.IntervalMs);
    try {
      RescanBoards();
    } catch (const std::exception& error) {
      Log(std::string("device scan failed: ") + error.what());
    }
  }
  if (!connected_ && !connecting_ && !stop_ && TClock::now() >= nextConnect_) {
    Connect();
  }
}

// ---- the boards ----

void TBridge::RescanBoards() {
  boards_.Rescan();
  boards_.RefreshStates();
}

void TBridge::BoardArrived(relay::TRelayBoard& Board) {
  Log("board " + Board.Id + " (" + std::to_string(Board.Relays) + " relays) arrived");
  published_.erase(Board.Id);
  PublishAvailability(Board.Id, true);
  PublishDiscovery(Board);
  PublishBoard(Board);
}

void TBridge::BoardLeft(const relay::TRelayBoard& Board, bool Unplugged) {
  Log("board " + Board.Id + (Unplugged ? " left" : " is no longer served"));
  PublishAvailability(Board.Id, false);
  published_.erase(Board.Id);
}

void TBridge::BoardRead(relay::TRelayBoard& Board, bool Changed) {
  if (Changed) {
    published_.erase(Board.Id);
  }
  if (!published_.contains(Board.Id)) {
    PublishBoard(Board);
  }
}

void TBridge::BoardRefused(const relay::TRelayBoard& /*Board*/, const std::string& Why) {
  Log("a relay board " + Why + "; it is left alone until that changes");
}

void TBridge::DeviceSkipped(const std::u16string& Path) {
  Log("skipped a HID device that cannot be identified: " + platform::Utf16ToUtf8(Path));
}

bool TBridge::AcceptsId(const std::string& Id, std::string& Why) {
  if (IsTopicSafeBoardId(Id)) {
    return true;
  }
  Why = "has the ID \"" + relay::ShownBoardId(Id) +
        "\", which cannot name a topic; give it another ID with the tool";
  return false;
}

// ---- MQTT side ----

void TBridge::Connect() {
  connecting_ = true;  // until the broker's answer, or the failure
  const int rc = connectCalled_ ? mosquitto_reconnect(mosq_)
                                : mosquitto_connect(mosq_, options_.Host.c_str(), options_.Port,
                                                    kKeepAliveSeconds);
  connectCalled_ = true;
  if (rc != MOSQ_ERR_SUCCESS) {
    LostConnection(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
  }
}

void TBridge::LostConnection(const std::string& Reason) {
  if (!connected_ && !connecting_) {
    return;  // this loss was handled already (the library reports some twice)
  }
  const std::string broker = options_.Host + ":" + std::to_string(options_.Port);
  if (connected_) {
    Log("lost the connection to " + broker + " (" + Reason + "); connecting again");
    backoffMs_ = 0;
  } else if (!outageLogged_) {
    // Once per outage: a broker that stays away does not fill the log.
    Log("cannot connect to " + broker + " (" + Reason + "); trying again, less and less often");
  }
  outageLogged_ = true;
  connected_ = false;
  connecting_ = false;
  backoffMs_ = backoffMs_ == 0 ? kFirstBackoffMs : std::min(backoffMs_ * 2, kMaxBackoffMs);
  nextConnect_ = TClock::now() + std::chrono::milliseconds(backoffMs_);
}

void TBridge::ConnectCallback(mosquitto*, void* Self, int Rc) {
  static_cast<TBridge*>(Self)->OnConnect(Rc);
}
void TBridge::DisconnectCallback(mosquitto*, void* Self, int Rc) {
  static_cast<TBridge*>(Self)->OnDisconnect(Rc);
}
void TBridge::PublishCallback(mosquitto*, void* Self, int Mid) {
  static_cast<TBridge*>(Self)->ackedMid_ = Mid;
}
void TBridge::MessageCallback(mosquitto*, void* Self, const mosquitto_message* Message) {
  static_cast<TBridge*>(Self)->OnMessage(*Message);
}

void TBridge::OnConnect(int Rc) {
  if (Rc != 0) {
    LostConnection(std::string("refused: ") + mosquitto_connack_string(Rc));
    return;
  }
  connecting_ = false;
  connected_ = true;
  backoffMs_ = 0;
  outageLogged_ = false;
  Log("connected to " + options_.Host + ":" + std::to_string(options_.Port));
  // The boards' availabilities too: what the broker kept of them is checked.
  const std::string filters[] = {BoardCommandFilter(options_.Prefix),
                                 RelayCommandFilter(options_.Prefix),
                                 BoardAvailabilityFilter(options_.Prefix)};
  for (const std::string& filter : filters) {
    mosquitto_subscribe(mosq_, nullptr, filter.c_str(), kQos);
  }
  Publish(BridgeAvailabilityTopic(options_.Prefix), std::string(kOnline), true);
  // A restarted broker may have lost every retained message: all goes out again.
  published_.clear();
  for (const auto& [id, board] : boards_.Boards()) {
    PublishAvailability(id, true);
    PublishDiscovery(board);
    PublishBoard(board);
  }
}

void TBridge::OnDisconnect(int Rc) {
  if (!stop_) {
    LostConnection(mosquitto_strerror(Rc));
  }
}

void TBridge::Publish(const std::string& Topic, const std::string& Payload, bool Retain) {
  if (!connected_) {
    return;  // everything retained goes out again on connecting
  }
  const int rc = mosquitto_publish(mosq_, &lastMid_, Topic.c_str(),
                                   static_cast<int>(Payload.size()), Payload.data(), kQos, Retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    Log("publish on " + Topic + " failed: " + mosquitto_strerror(rc));
  }
}

void TBridge::PublishBoard(const relay::TRelayBoard& Board) {
  if (!Board.StateKnown || !connected_) {
    return;
  }
  Publish(BoardStateTopic(options_.Prefix, Board.Id), StateJson(Board.State, Board.Relays), true);
  for (int relay = 1; relay <= Board.Relays; ++relay) {
    Publish(RelayStateTopic(options_.Prefix, Board.Id, relay),
            RelayPayload(RelayOn(Board.State, relay)), true);
  }
  published_.insert(Board.Id);
}

void TBridge::PublishAvailability(const std::string& Id, bool Online) {
  Publish(BoardAvailabilityTopic(options_.Prefix, Id), std::string(Online ? kOnline : kOffline),
          true);
}

void TBridge::PublishDiscovery(const relay::TRelayBoard& Board) {
  if (!options_.Discovery) {
    return;
  }
  // Kept while a board is away: its entities show unavailable, not deleted.
  for (int relay = 1; relay <= Board.Relays; ++relay) {
    Publish(DiscoveryTopic(options_.DiscoveryPrefix, options_.Prefix, Board.Id, relay),
            DiscoveryConfig(options_.Prefix, Board.Id, relay, Board.Relays), true);
  }
}

void TBridge::Refuse(const std::string& Topic, const std::string& Error) {
  Log("refused " + Topic + ": " + Error);
  Publish(ErrorTopic(options_.Prefix), ErrorJson(Topic, Error), false);
}

void TBridge::OnMessage(const mosquitto_message& Message) {
  const std::string topic = Message.topic != nullptr ? Message.topic : "";
  std::string payload;
  if (Message.payloadlen > 0) {
    payload.assign(static_cast<const char*>(Message.payload),
                   static_cast<std::size_t>(Message.payloadlen));
  }
  if (const std::optional<std::string> id = ParseBoardAvailabilityTopic(options_.Prefix, topic)) {
    // An online the broker kept from an earlier run that died, or from before a restart
    // of a broker that keeps retained messages, for a board that left meanwhile: it must
    // not go on showing a board that is not served. Our own messages come back too.
    if (payload == kOnline && boards_.Find(*id) == nullptr) {
      PublishAvailability(*id, false);
    }
    return;
  }
  HandleCommand(topic, payload, Message.retain);
}

void TBridge::HandleCommand(const std::string& Topic, const std::string& Payload, bool Retained) {
  const std::optional<TCommandTopic> command = ParseCommandTopic(options_.Prefix, Topic);
  if (!command) {
    return;  // the bridge's own availability, say
  }
  if (Retained) {
    // Kept by the broker from some earlier time: switching now would surprise.
    Refuse(Topic, "a retained command is not carried out");
    return;
  }
  if (stop_) {
    // Every board is being announced offline, or already is.
    Refuse(Topic, "the bridge is stopping; nothing is switched");
    return;
  }
  relay::TRelayBoard* found = boards_.Find(command->BoardId);
  if (found == nullptr && boards_.IsShared(command->BoardId)) {
    Refuse(Topic, "two or more boards have the ID \"" + command->BoardId +
                      "\"; none of them is switched until one gets another ID with the tool");
    return;
  }
  if (found == nullptr) {
    Refuse(Topic, "no board with the ID \"" + command->BoardId + "\" is present");
    return;
  }
  relay::TRelayBoard& board = *found;
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
    PublishBoard(board);
  }
}

void TBridge::Shutdown() {
  if (connected_) {
    for (const auto& [id, board] : boards_.Boards()) {
      PublishAvailability(id, false);
    }
    Publish(BridgeAvailabilityTopic(options_.Prefix), std::string(kOffline), true);
    // The broker takes messages in order: once the last is acknowledged, every
    // goodbye has arrived.
    const auto deadline = TClock::now() + std::chrono::seconds(2);
    while (ackedMid_ != lastMid_ && TClock::now() < deadline) {
      if (mosquitto_loop(mosq_, 50, 1) != MOSQ_ERR_SUCCESS) {
        break;
      }
    }
    connected_ = false;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_write(mosq_, 1);
  }
  Log("stopped");
}

}  // namespace quorvel::bridge
