// The bridge's topics and payloads: what it publishes and the commands it takes.
// Pure text work, no broker and no board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "relay/RelayChange.h"

namespace quorvel::bridge {

// A payload longer than this is refused before it is read.
inline constexpr std::size_t kMaxPayload = 256;

// Topics under the prefix. A board ID has five characters, so the bridge's own
// level ("bridge") never meets a board's.
std::string BridgeAvailabilityTopic(std::string_view Prefix);
std::string ErrorTopic(std::string_view Prefix);
std::string BoardAvailabilityTopic(std::string_view Prefix, std::string_view BoardId);
std::string BoardStateTopic(std::string_view Prefix, std::string_view BoardId);
std::string RelayStateTopic(std::string_view Prefix, std::string_view BoardId, int Relay);
std::string BoardCommandTopic(std::string_view Prefix, std::string_view BoardId);
std::string RelayCommandTopic(std::string_view Prefix, std::string_view BoardId, int Relay);
// The subscriptions that catch every command topic.
std::string BoardCommandFilter(std::string_view Prefix);
std::string RelayCommandFilter(std::string_view Prefix);
// The subscription that catches every board's availability, and the board a topic of
// it names (no value for any other topic, the bridge's own availability included).
std::string BoardAvailabilityFilter(std::string_view Prefix);
std::optional<std::string> ParseBoardAvailabilityTopic(std::string_view Prefix,
                                                       std::string_view Topic);

// Whether a board ID can name topics: printable ASCII without the topic
// separator and wildcards.
bool IsTopicSafeBoardId(std::string_view BoardId);

// A topic that reached the bridge, read as a command. Relay is 0 for a board
// command. RelayText keeps a relay level that is not a number, for the refusal.
struct TCommandTopic {
  std::string BoardId;
  int Relay = 0;
  bool RelayValid = true;
  std::string RelayText;
};
// No value for a topic that is not one of the command topics.
std::optional<TCommandTopic> ParseCommandTopic(std::string_view Prefix, std::string_view Topic);

using relay::ApplyChange;
using relay::TRelayChange;
using relay::TRelayMask;

// A parsed command, or why it is refused.
struct TCommandParse {
  std::optional<TRelayChange> Change;
  std::string Error;
};
// ON, OFF or TOGGLE (any case) for relay Relay of a board of Relays relays.
TCommandParse ParseRelayCommand(std::string_view Payload, int Relay, int Relays);
// A JSON object {"mask": N}, or the tool's forms separated by blanks, applied
// left to right: ON=1,2 OFF=3 ON=ALL OFF=ALL N=5 B=101. Every relay named and
// every mask bit must lie on the board.
TCommandParse ParseBoardCommand(std::string_view Payload, int Relays);

// Whether relay Relay is on in Mask.
constexpr bool RelayOn(TRelayMask Mask, int Relay) {
  return (Mask & relay::RelayMaskBit(Relay)) != 0;
}

// The retained payloads.
std::string RelayPayload(bool On);  // ON / OFF
// {"mask":5,"relay1":"ON","relay2":"OFF",...}, one entry per relay of the board.
std::string StateJson(TRelayMask Mask, int Relays);
// {"topic":"...","error":"..."}: what the error topic carries.
std::string ErrorJson(std::string_view Topic, std::string_view Error);

// Home Assistant discovery: one switch per relay, one device per board, both
// availabilities (the bridge's and the board's) required.
std::string DiscoveryTopic(std::string_view DiscoveryPrefix, std::string_view Prefix,
                           std::string_view BoardId, int Relay);
std::string DiscoveryConfig(std::string_view Prefix, std::string_view BoardId, int Relay,
                            int Relays);

}  // namespace quorvel::bridge
