#include "bridge/BridgeMessages.h"

#include <nlohmann/json.hpp>

#include "relay/RelayProtocol.h"
#include "relay/ValueReaders.h"

namespace quorvel::bridge {
namespace {

constexpr std::string_view kBridgeLevel = "bridge";
constexpr std::string_view kSetLevel = "set";
constexpr std::string_view kAvailabilityLevel = "availability";

std::string Join(std::string_view Prefix, std::string_view Level1, std::string_view Level2) {
  std::string topic(Prefix);
  topic += '/';
  topic += Level1;
  topic += '/';
  topic += Level2;
  return topic;
}

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    if (c < ' ' || c > '~') {
      return false;
    }
  }
  return true;
}

TRelayMask BoardMask(int Relays) {
  return relay::AllRelaysMask(Relays);
}

TCommandParse Refused(std::string Error) {
  return {std::nullopt, std::move(Error)};
}

// A relay number in decimal, 1 to Relays; 0 otherwise.
int RelayNumber(std::string_view text, int Relays) {
  if (text.empty() || text.size() > 2) {
    return 0;
  }
  int n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return 0;
    }
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= Relays ? n : 0;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

std::string RelayError(std::string_view text, int Relays) {
  return "relay \"" + std::string(text) + "\" is not a relay of this board (1 to " +
         std::to_string(Relays) + ")";
}

std::string MaskError(unsigned mask, int Relays) {
  return "mask " + std::to_string(mask) + " names relays this board lacks (it has " +
         std::to_string(Relays) + ")";
}

TCommandParse ParseJsonMask(std::string_view Payload, int Relays) {
  const nlohmann::json json = nlohmann::json::parse(Payload, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    return Refused("not a JSON object");
  }
  if (json.size() != 1 || !json.contains("mask")) {
    return Refused("a JSON command holds \"mask\" and nothing else");
  }
  const nlohmann::json& mask = json["mask"];
  if (!mask.is_number_unsigned() || mask.get<std::uint64_t>() > 0xFF) {
    return Refused("\"mask\" must be a number from 0 to 255");
  }
  const auto value = mask.get<unsigned>();
  if ((value & ~BoardMask(Relays)) != 0) {
    return Refused(MaskError(value, Relays));
  }
  return {relay::SetAll(value, Relays), {}};
}

// One ON=, OFF=, N= or B= form into Change.
std::string ParseForm(std::string_view form, int Relays, TRelayChange& Change) {
  const std::string upper = relay::UpperCaseAscii(form);
  const std::string_view A = upper;
  const TRelayMask all = BoardMask(Relays);
  if (A.starts_with("ON=") || A.starts_with("OFF=")) {
    const bool on = A.starts_with("ON=");
    const std::string_view list = A.substr(on ? 3 : 4);
    TRelayMask named = 0;
    if (list == "ALL") {
      named = all;
    } else {
      for (const std::string_view piece : Split(list, ',')) {
        const int n = RelayNumber(piece, Relays);
        if (n == 0) {
          return RelayError(piece, Relays);
        }
        named |= relay::RelayMaskBit(n);
      }
    }
    if (on) {
      Change.SwitchOn(named);
    } else {
      Change.SwitchOff(named);
    }
    return {};
  }
  if (A.starts_with("N=") || A.starts_with("B=")) {
    const std::u16string value(A.begin() + 2, A.end());
    const std::optional<std::uint8_t> mask =
        A[0] == 'N' ? relay::NumStrToByte(value) : relay::BinStrToByte(value);
    if (!mask) {
      return "\"" + std::string(form) + "\" has no usable mask";
    }
    if ((*mask & ~all) != 0) {
      return MaskError(*mask, Relays);
    }
    Change = relay::SetAll(*mask, Relays);
    return {};
  }
  return "\"" + std::string(form) + "\" is not a command (ON=, OFF=, N=, B= or a JSON mask)";
}

}  // namespace

std::string BridgeAvailabilityTopic(std::string_view Prefix) {
  return Join(Prefix, kBridgeLevel, kAvailabilityLevel);
}
std::string ErrorTopic(std::string_view Prefix) {
  return Join(Prefix, kBridgeLevel, "error");
}
std::string BoardAvailabilityTopic(std::string_view Prefix, std::string_view BoardId) {
  return Join(Prefix, BoardId, kAvailabilityLevel);
}
std::string BoardStateTopic(std::string_view Prefix, std::string_view BoardId) {
  return Join(Prefix, BoardId, "state");
}
std::string RelayStateTopic(std::string_view Prefix, std::string_view BoardId, int Relay) {
  return Join(Prefix, BoardId, std::to_string(Relay));
}
std::string BoardCommandTopic(std::string_view Prefix, std::string_view BoardId) {
  return Join(Prefix, BoardId, kSetLevel);
}
std::string RelayCommandTopic(std::string_view Prefix, std::string_view BoardId, int Relay) {
  return RelayStateTopic(Prefix, BoardId, Relay) + "/" + std::string(kSetLevel);
}
std::string BoardCommandFilter(std::string_view Prefix) {
  return Join(Prefix, "+", kSetLevel);
}
std::string RelayCommandFilter(std::string_view Prefix) {
  return Join(Prefix, "+", "+") + "/" + std::string(kSetLevel);
}

std::string BoardAvailabilityFilter(std::string_view Prefix) {
  return Join(Prefix, "+", kAvailabilityLevel);
}

std::optional<std::string> ParseBoardAvailabilityTopic(std::string_view Prefix,
                                                       std::string_view Topic) {
  if (!Topic.starts_with(Prefix) || Topic.size() <= Prefix.size() || Topic[Prefix.size()] != '/') {
    return std::nullopt;
  }
  const std::vector<std::string_view> levels = Split(Topic.substr(Prefix.size() + 1), '/');
  if (levels.size() != 2 || levels[1] != kAvailabilityLevel || levels[0] == kBridgeLevel) {
    return std::nullopt;
  }
  return std::string(levels[0]);
}

bool IsTopicSafeBoardId(std::string_view BoardId) {
  return !BoardId.empty() && IsPrintableAscii(BoardId) &&
         BoardId.find_first_of("/+#") == std::string_view::npos && BoardId != kBridgeLevel;
}

std::optional<TCommandTopic> ParseCommandTopic(std::string_view Prefix, std::string_view Topic) {
  if (!Topic.starts_with(Prefix) || Topic.size() <= Prefix.size() || Topic[Prefix.size()] != '/') {
    return std::nullopt;
  }
  const std::vector<std::string_view> levels = Split(Topic.substr(Prefix.size() + 1), '/');
  if (levels.size() < 2 || levels.size() > 3 || levels.back() != kSetLevel ||
      levels[0] == kBridgeLevel) {
    return std::nullopt;
  }
  TCommandTopic command;
  command.BoardId = std::string(levels[0]);
  if (levels.size() == 3) {
    command.RelayText = std::string(levels[1]);
    command.Relay = RelayNumber(levels[1], relay::kMaxRelays);
    command.RelayValid = command.Relay != 0;
  }
  return command;
}

TCommandParse ParseRelayCommand(std::string_view Payload, int Relay, int Relays) {
  if (Payload.size() > kMaxPayload) {
    return Refused("payload longer than " + std::to_string(kMaxPayload) + " bytes");
  }
  if (Relay < 1 || Relay > Relays) {
    return Refused(RelayError(std::to_string(Relay), Relays));
  }
  const TRelayMask bit = relay::RelayMaskBit(Relay);
  const std::string command = relay::UpperCaseAscii(Payload);
  TRelayChange change;
  if (command == "ON") {
    change.SwitchOn(bit);
  } else if (command == "OFF") {
    change.SwitchOff(bit);
  } else if (command == "TOGGLE") {
    change.Flip(bit);
  } else {
    return Refused("a relay takes ON, OFF or TOGGLE");
  }
  return {change, {}};
}

TCommandParse ParseBoardCommand(std::string_view Payload, int Relays) {
  if (Payload.size() > kMaxPayload) {
    return Refused("payload longer than " + std::to_string(kMaxPayload) + " bytes");
  }
  for (const char c : Payload) {
    if ((c < ' ' || c > '~') && c != '\t' && c != '\r' && c != '\n') {
      return Refused("payload is not printable text");
    }
  }
  const std::size_t first = Payload.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return Refused("empty command");
  }
  if (Payload[first] == '{') {
    return ParseJsonMask(Payload, Relays);
  }
  TRelayChange change;
  std::size_t start = first;
  while (start < Payload.size()) {
    const std::size_t end = Payload.find_first_of(" \t\r\n", start);
    const std::string_view form =
        Payload.substr(start, end == std::string_view::npos ? end : end - start);
    std::string error = ParseForm(form, Relays, change);
    if (!error.empty()) {
      return Refused(std::move(error));
    }
    start = end == std::string_view::npos ? end : Payload.find_first_not_of(" \t\r\n", end);
  }
  return {change, {}};
}

std::string RelayPayload(bool On) {
  return On ? "ON" : "OFF";
}

std::string StateJson(TRelayMask Mask, int Relays) {
  std::string json = "{\"mask\":" + std::to_string(Mask);
  for (int relay = 1; relay <= Relays; ++relay) {
    json +=
        ",\"relay" + std::to_string(relay) + "\":\"" + RelayPayload(RelayOn(Mask, relay)) + "\"";
  }
  return json + "}";
}

std::string ErrorJson(std::string_view Topic, std::string_view Error) {
  nlohmann::json json = {{"topic", std::string(Topic)}, {"error", std::string(Error)}};
  // A topic is UTF-8 by protocol, but a refusal must never fail to be told.
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// Discovery's IDs allow letters, digits, '_' and '-' only: anything else goes
// in hexadecimal, so that two boards never share one.
std::string DiscoveryId(std::string_view Prefix, std::string_view BoardId) {
  std::string id = "quorvel";
  for (const std::string_view part : {Prefix, BoardId}) {
    id += '_';
    for (const char c : part) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        id += c;
      } else {
        static constexpr char kHex[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(c);
        id += '-';
        id += kHex[byte >> 4];
        id += kHex[byte & 0x0F];
      }
    }
  }
  return id;
}

}  // namespace

std::string DiscoveryTopic(std::string_view DiscoveryPrefix, std::string_view Prefix,
                           std::string_view BoardId, int Relay) {
  return std::string(DiscoveryPrefix) + "/switch/" + DiscoveryId(Prefix, BoardId) + "/relay" +
         std::to_string(Relay) + "/config";
}

std::string DiscoveryConfig(std::string_view Prefix, std::string_view BoardId, int Relay,
                            int Relays) {
  const std::string device = DiscoveryId(Prefix, BoardId);
  const nlohmann::json config = {{"name", "Relay " + std::to_string(Relay)},
                                 {"unique_id", device + "_relay" + std::to_string(Relay)},
                                 {"command_topic", RelayCommandTopic(Prefix, BoardId, Relay)},
                                 {"state_topic", RelayStateTopic(Prefix, BoardId, Relay)},
                                 {"payload_on", "ON"},
                                 {"payload_off", "OFF"},
                                 {"qos", 1},
                                 {"availability",
                                  {{{"topic", BridgeAvailabilityTopic(Prefix)}},
                                   {{"topic", BoardAvailabilityTopic(Prefix, BoardId)}}}},
                                 {"availability_mode", "all"},
                                 {"device",
                                  {{"identifiers", {device}},
                                   {"name", "Relay board " + std::string(BoardId)},
                                   {"model", "USBRelay" + std::to_string(Relays)}}}};
  return config.dump();
}

}  // namespace quorvel::bridge
