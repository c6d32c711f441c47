#include "bridge/BridgeMessages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace quorvel::bridge {
namespace {

TEST(BridgeTopics, CommandTopicsReadBack) {
  struct Case {
    std::string topic;
    bool command;
    std::string board;
    int relay;
    bool relayValid;
  };
  const Case cases[] = {
      {"quorvel/QAAMZ/set", true, "QAAMZ", 0, true},
      {"quorvel/QAAMZ/2/set", true, "QAAMZ", 2, true},
      {"quorvel/QAAMZ/8/set", true, "QAAMZ", 8, true},
      {"quorvel/QAAMZ/9/set", true, "QAAMZ", 0, false},
      {"quorvel/QAAMZ/x/set", true, "QAAMZ", 0, false},
      {"quorvel/QAAMZ/0/set", true, "QAAMZ", 0, false},
      {"quorvel/QAAMZ/state", false, "", 0, true},
      {"quorvel/QAAMZ/2", false, "", 0, true},
      {"quorvel/bridge/set", false, "", 0, true},
      {"quorvelx/QAAMZ/set", false, "", 0, true},
      {"other/QAAMZ/set", false, "", 0, true},
      {"quorvel/QAAMZ/1/2/set", false, "", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    const auto parsed = ParseCommandTopic("quorvel", c.topic);
    ASSERT_EQ(parsed.has_value(), c.command);
    if (parsed) {
      EXPECT_EQ(parsed->BoardId, c.board);
      EXPECT_EQ(parsed->Relay, c.relay);
      EXPECT_EQ(parsed->RelayValid, c.relayValid);
    }
  }
  // The topics the bridge publishes and subscribes fit together.
  EXPECT_TRUE(ParseCommandTopic("home/relays", RelayCommandTopic("home/relays", "AB CD", 3)));
  EXPECT_EQ(RelayCommandFilter("p"), "p/+/+/set");
  EXPECT_EQ(BoardCommandFilter("p"), "p/+/set");
  EXPECT_EQ(BridgeAvailabilityTopic("p"), "p/bridge/availability");
  EXPECT_EQ(RelayStateTopic("p", "QAAMZ", 4), "p/QAAMZ/4");
  EXPECT_EQ(BoardAvailabilityFilter("p"), "p/+/availability");
  EXPECT_EQ(ParseBoardAvailabilityTopic("a/b", BoardAvailabilityTopic("a/b", "AB CD")), "AB CD");
  for (const char* other : {"a/b/bridge/availability", "a/b/QAAMZ/state",
                            "a/b/QAAMZ/1/availability", "a/bx/QAAMZ/availability", "a/b"}) {
    EXPECT_FALSE(ParseBoardAvailabilityTopic("a/b", other)) << other;
  }
}

TEST(BridgeTopics, BoardIdsThatCannotNameATopic) {
  EXPECT_TRUE(IsTopicSafeBoardId("QAAMZ"));
  EXPECT_TRUE(IsTopicSafeBoardId("A B-C"));
  const std::string refused[] = {"AB/CD",
                                 "AB+CD",
                                 "AB#CD",
                                 std::string("AB\0CD", 5),
                                 "AB\x7f"
                                 "CD",
                                 std::string(),
                                 "bridge"};
  for (const std::string& id : refused) {
    EXPECT_FALSE(IsTopicSafeBoardId(id)) << id;
  }
}

TEST(BridgeCommands, RelayCommands) {
  struct Case {
    std::string payload;
    int relay;
    int relays;
    bool ok;
    std::uint8_t from;
    std::uint8_t to;
  };
  const Case cases[] = {
      {"ON", 2, 4, true, 0x00, 0x02},
      {"on", 1, 2, true, 0x02, 0x03},
      {"OFF", 2, 4, true, 0x0F, 0x0D},
      {"TOGGLE", 3, 4, true, 0x05, 0x01},
      {"toggle", 3, 4, true, 0x01, 0x05},
      {"ON", 8, 8, true, 0x00, 0x80},
      {"ON", 3, 2, false, 0, 0},
      {"ON", 0, 8, false, 0, 0},
      {"", 1, 2, false, 0, 0},
      {"ON ", 1, 2, false, 0, 0},
      {"1", 1, 2, false, 0, 0},
      {"ONN", 1, 2, false, 0, 0},
      {std::string(300, 'O'), 1, 2, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload + " relay " + std::to_string(c.relay));
    const TCommandParse parse = ParseRelayCommand(c.payload, c.relay, c.relays);
    ASSERT_EQ(parse.Change.has_value(), c.ok) << parse.Error;
    if (c.ok) {
      EXPECT_EQ(ApplyChange(c.from, *parse.Change), c.to);
    } else {
      EXPECT_FALSE(parse.Error.empty());
    }
  }
}

TEST(BridgeCommands, BoardCommands) {
  struct Case {
    std::string payload;
    int relays;
    bool ok;
    std::uint8_t from;
    std::uint8_t to;
  };
  const Case cases[] = {
      {"{\"mask\": 5}", 4, true, 0x0A, 0x05},
      {" {\"mask\":0} ", 8, true, 0xFF, 0x00},
      {"{\"mask\": 255}", 8, true, 0x00, 0xFF},
      {"ON=1,3", 4, true, 0x00, 0x05},
      {"on=2 off=1", 4, true, 0x01, 0x02},
      {"OFF=ALL", 4, true, 0x0F, 0x00},
      {"ON=ALL", 2, true, 0x00, 0x03},
      {"ON=ALL OFF=2", 4, true, 0x00, 0x0D},
      {"N=5", 4, true, 0x0F, 0x05},
      {"N=0x0A", 4, true, 0x00, 0x0A},
      {"B=101", 4, true, 0x0A, 0x05},
      {"ON=1\nOFF=2", 2, true, 0x02, 0x01},
      // Refused: nothing may be switched.
      {"{\"mask\": 16}", 4, false, 0, 0},
      {"{\"mask\": -1}", 4, false, 0, 0},
      {"{\"mask\": 1.5}", 4, false, 0, 0},
      {"{\"mask\": \"5\"}", 4, false, 0, 0},
      {"{\"mask\": 5, \"x\": 1}", 4, false, 0, 0},
      {"{\"mask\": 5", 4, false, 0, 0},
      {"[5]", 4, false, 0, 0},
      {"ON=5", 4, false, 0, 0},
      {"ON=1,,2", 4, false, 0, 0},
      {"ON=", 4, false, 0, 0},
      {"ON=1,x", 4, false, 0, 0},
      {"ON=1 BOGUS", 4, false, 0, 0},
      {"N=16", 4, false, 0, 0},
      {"N=256", 8, false, 0, 0},
      {"N=abc", 8, false, 0, 0},
      {"B=102", 8, false, 0, 0},
      {"B=111111111", 8, false, 0, 0},
      {"", 8, false, 0, 0},
      {"   ", 8, false, 0, 0},
      {"ON=1\x01", 8, false, 0, 0},
      {"ON=1 " + std::string(300, ' '), 8, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    const TCommandParse parse = ParseBoardCommand(c.payload, c.relays);
    ASSERT_EQ(parse.Change.has_value(), c.ok) << parse.Error;
    if (c.ok) {
      EXPECT_EQ(ApplyChange(c.from, *parse.Change), c.to);
    } else {
      EXPECT_FALSE(parse.Error.empty());
    }
  }
}

TEST(BridgePayloads, StateAndErrors) {
  EXPECT_EQ(StateJson(0x05, 4),
            R"({"mask":5,"relay1":"ON","relay2":"OFF","relay3":"ON","relay4":"OFF"})");
  EXPECT_EQ(StateJson(0x00, 1), R"({"mask":0,"relay1":"OFF"})");
  EXPECT_EQ(StateJson(0x80, 8).substr(0, 11), R"({"mask":128)");
  EXPECT_NE(StateJson(0x80, 8).find(R"("relay8":"ON"})"), std::string::npos);
  EXPECT_EQ(ErrorJson("p/X/set", "say \"no\""), R"({"error":"say \"no\"","topic":"p/X/set"})");
  // A topic that is not UTF-8 still gives a refusal.
  EXPECT_FALSE(ErrorJson("p/\xff/set", "no").empty());
}

TEST(BridgePayloads, HomeAssistantDiscovery) {
  EXPECT_EQ(DiscoveryTopic("homeassistant", "quorvel", "QAAMZ", 2),
            "homeassistant/switch/quorvel_quorvel_QAAMZ/relay2/config");
  // Characters discovery IDs do not allow are spelled out, so IDs stay apart.
  EXPECT_EQ(DiscoveryTopic("ha", "lab/relays", "A B_C", 1),
            "ha/switch/quorvel_lab-2frelays_A-20B-5fC/relay1/config");
  EXPECT_NE(DiscoveryTopic("ha", "p", "A_B", 1), DiscoveryTopic("ha", "p", "A-B", 1));

  const nlohmann::json config = nlohmann::json::parse(DiscoveryConfig("p", "QAAMZ", 2, 4));
  EXPECT_EQ(config["command_topic"], "p/QAAMZ/2/set");
  EXPECT_EQ(config["state_topic"], "p/QAAMZ/2");
  EXPECT_EQ(config["payload_on"], "ON");
  EXPECT_EQ(config["payload_off"], "OFF");
  EXPECT_EQ(config["availability_mode"], "all");
  EXPECT_EQ(config["availability"][0]["topic"], "p/bridge/availability");
  EXPECT_EQ(config["availability"][1]["topic"], "p/QAAMZ/availability");
  EXPECT_EQ(config["unique_id"], "quorvel_p_QAAMZ_relay2");
  // The relays of one board are one device.
  EXPECT_EQ(config["device"]["identifiers"],
            nlohmann::json::parse(DiscoveryConfig("p", "QAAMZ", 1, 4))["device"]["identifiers"]);
  EXPECT_EQ(config["device"]["model"], "USBRelay4");
}

}  // namespace
}  // namespace quorvel::bridge
