// The bridge in this process over the simulated boards, against a real broker.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "bridge/Bridge.h"
#include "hid/DeviceChangeNotifier.h"
#include "sim/SimControl.h"
#include "tests/bridge/BrokerFixture.h"

namespace quorvel::bridge::test {
namespace {

using TJson = nlohmann::json;

class BridgeOnBroker : public ::testing::Test {
 protected:
  // The bridge under test: on this test's broker, a short prefix and a quick re-read.
  TBridgeOptions TestOptions() const {
    TBridgeOptions options;
    options.Port = broker.Port();
    options.Host = "127.0.0.1";
    options.ClientId = "bridge-under-test";
    options.Prefix = "t";
    options.IntervalMs = 100;
    return options;
  }

  // Stops the bridge under test, if one runs, and starts one with these options.
  void RestartBridge(const TBridgeOptions& options) {
    bridge.reset();
    bridge = std::make_unique<TBridge>(options, "");
    bridge->Start();
  }

  void SetUp() override {
    RestartBridge(TestOptions());  // binds the simulated modules: the world core is loaded now
    sim = std::make_unique<sim::TSimControl>();
    client = std::make_unique<TMqttClient>(broker.Port(), "t/#");
  }

  void TearDown() override {
    bridge.reset();
    sim->Reset();
  }

  // Plugs boards in and waits until the bridge serves them.
  void Plug(const std::vector<std::pair<std::string, int>>& boards) {
    for (const auto& [id, relays] : boards) {
      ids[id] = sim->AddRelayBoard(id, relays);
    }
    bridge->RequestRescan();
    ASSERT_TRUE(Until([&] {
      for (const auto& [id, relays] : boards) {
        // The last relay's state is the last message of a board's arrival.
        if (client->Last("t/" + id + "/availability") != "online" ||
            client->Last("t/" + id + "/" + std::to_string(relays)).empty()) {
          return false;
        }
      }
      return true;
    }));
  }

  bool Until(const std::function<bool()>& done) {
    return PumpUntil(
        [&] {
          bridge->RunOnce(5);
          client->Loop(5);
        },
        done);
  }

  // The set-feature reports that reached a board since the log was cleared.
  std::vector<std::string> Commands(const std::string& id) {
    std::vector<std::string> sent;
    for (const TJson& entry : sim->Log()) {
      if (entry["device"] == ids[id] && entry["call"] == "HidD_SetFeature") {
        sent.push_back(entry["sent"].get<std::string>().substr(0, 8));
      }
    }
    return sent;
  }

  int RelayState(const std::string& id) {
    return sim->Device(ids[id])["relay"]["state"].get<int>();
  }

  TBroker broker;
  std::unique_ptr<TBridge> bridge;
  std::unique_ptr<sim::TSimControl> sim;
  std::unique_ptr<TMqttClient> client;
  std::map<std::string, int> ids;
};

TEST_F(BridgeOnBroker, SwitchesByRelayAndByBoardOnTwoBoards) {
  Plug({{"QAAMZ", 2}, {"BENCH", 8}});
  EXPECT_EQ(client->Last("t/bridge/availability"), "online");
  EXPECT_EQ(client->Last("t/QAAMZ/state"), R"({"mask":0,"relay1":"OFF","relay2":"OFF"})");
  EXPECT_EQ(client->Last("t/BENCH/8"), "OFF");

  sim->ClearLog();
  client->Publish("t/QAAMZ/2/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/2") == "ON"; }));
  EXPECT_EQ(client->Last("t/QAAMZ/state"), R"({"mask":2,"relay1":"OFF","relay2":"ON"})");
  EXPECT_EQ(RelayState("QAAMZ"), 0x02);
  const std::vector<std::string> relay2On = Commands("QAAMZ");
  ASSERT_FALSE(relay2On.empty());
  EXPECT_NE(std::find(relay2On.begin(), relay2On.end(), "00 ff 02"), relay2On.end());
  EXPECT_TRUE(Commands("BENCH").empty());  // the other board is left alone

  sim->ClearLog();
  client->Publish("t/BENCH/set", R"({"mask": 129})");
  ASSERT_TRUE(Until([&] {
    return client->Last("t/BENCH/state").starts_with(R"({"mask":129,)") &&
           client->Last("t/BENCH/8") == "ON";
  }));
  EXPECT_EQ(RelayState("BENCH"), 129);
  EXPECT_EQ(client->Last("t/BENCH/1"), "ON");
  EXPECT_EQ(client->Last("t/BENCH/8"), "ON");
  EXPECT_TRUE(Commands("QAAMZ").empty());

  // The tool's forms, and a toggle of the state the board reports.
  client->Publish("t/BENCH/set", "OFF=ALL ON=3");
  ASSERT_TRUE(
      Until([&] { return RelayState("BENCH") == 0x04 && client->Last("t/BENCH/3") == "ON"; }));
  client->Publish("t/QAAMZ/set", "B=01");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "ON"; }));
  EXPECT_EQ(RelayState("QAAMZ"), 0x01);
  client->Publish("t/QAAMZ/1/set", "TOGGLE");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "OFF"; }));
  EXPECT_EQ(RelayState("QAAMZ"), 0x00);
}

TEST_F(BridgeOnBroker, AToggleReadsTheBoardOnceBeforeItsCommands) {
  // No re-read of its own in between, which would count as a read.
  TBridgeOptions options = TestOptions();
  options.IntervalMs = 3'600'000;
  RestartBridge(options);
  Plug({{"QAAMZ", 2}});
  const int reads = sim->Device(ids["QAAMZ"])["counters"]["getFeature"].get<int>();
  client->Clear();
  client->Publish("t/QAAMZ/1/set", "TOGGLE");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "ON"; }));
  EXPECT_EQ(RelayState("QAAMZ"), 0x01);
  // One read before the commands and one after.
  EXPECT_EQ(sim->Device(ids["QAAMZ"])["counters"]["getFeature"].get<int>() - reads, 2);
}

TEST_F(BridgeOnBroker, PublishesTheStateReadBackNotTheOneAsked) {
  Plug({{"STUCK", 2}});
  sim->SetFaults(ids["STUCK"], {{"relayStuck", {{"mask", 2}, {"value", 0}}}});
  client->Clear();
  client->Publish("t/STUCK/set", "N=3");
  // The relays' topics follow the board's.
  ASSERT_TRUE(Until([&] { return !client->Last("t/STUCK/2").empty(); }));
  EXPECT_EQ(client->Last("t/STUCK/state"), R"({"mask":1,"relay1":"ON","relay2":"OFF"})");
  EXPECT_EQ(client->Last("t/STUCK/2"), "OFF");
}

TEST_F(BridgeOnBroker, ABoardUnpluggedDuringACommandIsNotReportedSwitched) {
  // No re-read of its own between the fault and the command.
  TBridgeOptions options = TestOptions();
  options.IntervalMs = 3'600'000;
  RestartBridge(options);
  Plug({{"QAAMZ", 2}});
  const int calls = sim->Device(ids["QAAMZ"])["counters"]["calls"].get<int>();
  // The command's first read still reaches the board; then it is gone.
  sim->SetFaults(ids["QAAMZ"], {{"vanishAfter", calls + 1}});
  client->Clear();
  client->Publish("t/QAAMZ/set", "ON=1");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 1; }));
  EXPECT_NE(client->Last("t/bridge/error").find("did not answer"), std::string::npos);
  bridge->RequestRescan();
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/availability") == "offline"; }));
  // Neither the state asked for nor any other was published for it.
  EXPECT_EQ(client->Count("t/QAAMZ/state"), 0U);
  EXPECT_EQ(client->Count("t/QAAMZ/1"), 0U);
  EXPECT_EQ(bridge->BoardCount(), 0U);
}

TEST_F(BridgeOnBroker, StateIsRetainedForLateSubscribers) {
  Plug({{"QAAMZ", 2}});
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "ON"; }));

  TMqttClient late(broker.Port(), "t/#");
  ASSERT_TRUE(PumpUntil(
      [&] {
        bridge->RunOnce(5);
        late.Loop(5);
      },
      [&] { return late.Last("t/QAAMZ/1") == "ON" && !late.Last("t/QAAMZ/state").empty(); }));
  for (const TReceived& received : late.Received()) {
    EXPECT_TRUE(received.Retained) << received.Topic;
  }
  EXPECT_EQ(late.Last("t/QAAMZ/state"), R"({"mask":1,"relay1":"ON","relay2":"OFF"})");
  EXPECT_EQ(late.Last("t/QAAMZ/availability"), "online");
  EXPECT_EQ(late.Last("t/bridge/availability"), "online");
}

TEST_F(BridgeOnBroker, RefusesBadCommandsAndSwitchesNothing) {
  Plug({{"QAAMZ", 2}});
  client->Publish("t/QAAMZ/set", "N=1");
  ASSERT_TRUE(Until(
      [&] { return client->Last("t/QAAMZ/2") == "OFF" && client->Last("t/QAAMZ/1") == "ON"; }));
  ASSERT_EQ(RelayState("QAAMZ"), 1);
  sim->ClearLog();
  client->Clear();
  const std::pair<std::string, std::string> refused[] = {
      {"t/NOONE/set", "ON=1"},
      {"t/NOONE/1/set", "ON"},
      {"t/QAAMZ/3/set", "ON"},
      {"t/QAAMZ/x/set", "ON"},
      {"t/QAAMZ/1/set", "MAYBE"},
      {"t/QAAMZ/1/set", ""},
      {"t/QAAMZ/set", R"({"mask": 4})"},
      {"t/QAAMZ/set", R"({"mask": 3)"},
      {"t/QAAMZ/set", "ON=1,3"},
      {"t/QAAMZ/set", "N=2 GARBAGE"},
      {"t/QAAMZ/set", "B=" + std::string(1000, '1')},
      {"t/QAAMZ/set", std::string("N=2\0", 4)},
  };
  for (const auto& [topic, payload] : refused) {
    client->Publish(topic, payload);
  }
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == std::size(refused); }));
  for (const auto& [topic, payload] : refused) {
    bool named = false;
    for (const TReceived& received : client->Received()) {
      named = named || (received.Topic == "t/bridge/error" &&
                        TJson::parse(received.Payload)["topic"] == topic);
    }
    EXPECT_TRUE(named) << topic << " " << payload.substr(0, 20);
  }
  EXPECT_TRUE(Commands("QAAMZ").empty());
  EXPECT_EQ(RelayState("QAAMZ"), 1);
  EXPECT_EQ(client->Count("t/QAAMZ/state"), 0U);  // nothing changed, nothing published
}

TEST_F(BridgeOnBroker, ARetainedCommandIsNotCarriedOut) {
  // Left by someone on the broker before the bridge subscribed again.
  client->Publish("t/LATER/set", "ON=ALL", true);
  client->Loop(50);
  Plug({{"LATER", 4}});
  bridge->Shutdown();
  bridge.reset();
  sim->ClearLog();
  bridge = std::make_unique<TBridge>(TestOptions(), "");
  bridge->Start();
  client->Clear();
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") > 0; }));
  EXPECT_NE(client->Last("t/bridge/error").find("retained"), std::string::npos);
  EXPECT_TRUE(Commands("LATER").empty());
  EXPECT_EQ(RelayState("LATER"), 0);
}

TEST_F(BridgeOnBroker, BoardsUnpluggedAndPluggedInAgain) {
  Plug({{"QAAMZ", 2}, {"BENCH", 8}});
  sim->RemoveDevice(ids["QAAMZ"]);
  bridge->RequestRescan();
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/availability") == "offline"; }));
  EXPECT_EQ(bridge->BoardCount(), 1U);
  EXPECT_EQ(client->Last("t/BENCH/availability"), "online");
  client->Clear();
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 1; }));

  // Back, with relay 2 switched on elsewhere meanwhile.
  ids["QAAMZ"] = sim->AddDevice({{"relay", {{"boardId", "QAAMZ"}, {"relays", 2}, {"state", 2}}}});
  // No rescan asked: the bridge's own interval finds it.
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/availability") == "online"; }));
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/2") == "ON"; }));
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "ON"; }));
  EXPECT_EQ(RelayState("QAAMZ"), 3);
}

TEST_F(BridgeOnBroker, ChangesMadeByOthersArePublishedAtTheInterval) {
  Plug({{"QAAMZ", 2}});
  sim->ChangeDevice(ids["QAAMZ"], {{"relay", {{"state", 3}}}});
  ASSERT_TRUE(Until([&] {
    return client->Last("t/QAAMZ/state") == R"({"mask":3,"relay1":"ON","relay2":"ON"})";
  }));
}

TEST_F(BridgeOnBroker, ABoardGivenAnotherIdIsServedUnderIt) {
  Plug({{"OLDID", 2}});
  sim->ChangeDevice(ids["OLDID"], {{"relay", {{"boardId", "NEWID"}}}});
  ids["NEWID"] = ids["OLDID"];
  ASSERT_TRUE(Until([&] {
    return client->Last("t/OLDID/availability") == "offline" &&
           client->Last("t/NEWID/availability") == "online" &&
           !client->Last("t/NEWID/state").empty();
  }));
  client->Publish("t/NEWID/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/NEWID/1") == "ON"; }));
  EXPECT_EQ(RelayState("NEWID"), 1);
  EXPECT_EQ(bridge->BoardCount(), 1U);
}

TEST_F(BridgeOnBroker, ABoardThatCannotBeReadIsTakenOnceItCan) {
  // As a new hidraw node is before udev gives it its group.
  const int board = sim->AddDevice({{"relay", {{"boardId", "LATER"}, {"relays", 2}}},
                                    {"faults", {{"getFeature", {{"from", 1}, {"error", 5}}}}}});
  bridge->RequestRescan();
  for (int i = 0; i < 20; ++i) {
    bridge->RunOnce(5);
  }
  EXPECT_EQ(bridge->BoardCount(), 0U);
  sim->ChangeDevice(board, {{"faults", nullptr}});
  ids["LATER"] = board;
  // No change to the device list: only the bridge's own retry finds it.
  ASSERT_TRUE(Until([&] { return client->Last("t/LATER/availability") == "online"; }));
  client->Publish("t/LATER/2/set", "ON");
  ASSERT_TRUE(Until([&] { return RelayState("LATER") == 2; }));
}

TEST_F(BridgeOnBroker, TwoBoardsWithOneIdServeNeitherUntilOneLeaves) {
  Plug({{"TWINS", 2}});
  const int first = ids["TWINS"];
  // The second one arrives while the first is served: a command could no longer tell them
  // apart, and which one a scan finds first changes with plugging and restarts.
  const int second = sim->AddRelayBoard("TWINS", 2);
  bridge->RequestRescan();
  ASSERT_TRUE(Until([&] { return client->Last("t/TWINS/availability") == "offline"; }));
  EXPECT_EQ(bridge->BoardCount(), 0U);
  sim->ClearLog();
  client->Clear();
  client->Publish("t/TWINS/1/set", "ON");
  client->Publish("t/TWINS/set", "ON=ALL");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 2; }));
  EXPECT_NE(client->Last("t/bridge/error").find("two or more boards"), std::string::npos);
  for (const int board : {first, second}) {
    ids["TWINS"] = board;
    EXPECT_TRUE(Commands("TWINS").empty()) << board;
    EXPECT_EQ(RelayState("TWINS"), 0) << board;
  }

  // Once one leaves, the ID names one board again.
  sim->RemoveDevice(first);
  ids["TWINS"] = second;
  bridge->RequestRescan();
  ASSERT_TRUE(Until([&] {
    return bridge->BoardCount() == 1 && client->Last("t/TWINS/availability") == "online";
  }));
  client->Publish("t/TWINS/2/set", "ON");
  ASSERT_TRUE(Until([&] { return RelayState("TWINS") == 2; }));
}

TEST_F(BridgeOnBroker, TwoBoardsWithOneIdFoundTogetherServeNeither) {
  // As at start-up, both in one scan: neither comes first.
  ids["ALONE"] = sim->AddRelayBoard("ALONE", 2);
  const int first = sim->AddRelayBoard("TWINS", 2);
  const int second = sim->AddRelayBoard("TWINS", 2);
  bridge->RequestRescan();
  ASSERT_TRUE(Until([&] { return client->Last("t/ALONE/availability") == "online"; }));
  for (int i = 0; i < 20; ++i) {
    bridge->RunOnce(5);
    client->Loop(5);
  }
  EXPECT_EQ(bridge->BoardCount(), 1U);
  EXPECT_EQ(client->Count("t/TWINS/availability"), 0U);
  sim->ClearLog();
  client->Publish("t/TWINS/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 1; }));
  for (const int board : {first, second}) {
    ids["TWINS"] = board;
    EXPECT_TRUE(Commands("TWINS").empty()) << board;
  }
}

TEST_F(BridgeOnBroker, ADeviceThatCannotBeIdentifiedIsSkipped) {
  const TJson odd = {{"product", "Odd device"},
                     {"generic", TJson::object()},
                     {"faults", {{"attributesError", 31}}}};
  // Arriving while the bridge runs.
  sim->AddDevice(odd);
  Plug({{"QAAMZ", 2}});
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return RelayState("QAAMZ") == 1; }));

  // Present when the bridge starts.
  bridge.reset();
  sim->AddDevice(odd);
  ids["BENCH"] = sim->AddRelayBoard("BENCH", 8);
  bridge = std::make_unique<TBridge>(TestOptions(), "");
  client->Clear();
  ASSERT_NO_THROW(bridge->Start());
  EXPECT_EQ(bridge->BoardCount(), 2U);
  // Published once it has subscribed.
  ASSERT_TRUE(Until([&] { return client->Last("t/BENCH/availability") == "online"; }));
  client->Publish("t/BENCH/8/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/BENCH/8") == "ON"; }));
  EXPECT_EQ(RelayState("BENCH"), 0x80);
}

TEST_F(BridgeOnBroker, BoardsWhoseIdCannotNameATopicAreLeftAlone) {
  const int slash = sim->AddRelayBoard("AB/CD", 2);
  const int wild = sim->AddRelayBoard("X+#YZ", 2);
  Plug({{"GOOD1", 2}});
  for (int i = 0; i < 20; ++i) {
    bridge->RunOnce(5);
    client->Loop(5);
  }
  EXPECT_EQ(bridge->BoardCount(), 1U);
  for (const TReceived& received : client->Received()) {
    EXPECT_TRUE(received.Topic.starts_with("t/GOOD1/") || received.Topic.starts_with("t/bridge/"))
        << received.Topic;
  }
  // What would address them reads as another board, which is not present.
  sim->ClearLog();
  client->Clear();
  client->Publish("t/AB/CD/set", "ON");
  client->Publish("t/AB/CD/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 1; }));
  for (const int board : {slash, wild}) {
    EXPECT_EQ(sim->Device(board)["counters"]["setFeature"], 0) << board;
  }
}

TEST_F(BridgeOnBroker, NothingIsSwitchedOnceAStopIsAsked) {
  Plug({{"QAAMZ", 2}});
  sim->ClearLog();
  client->Clear();
  // As a SIGTERM does: the loop still serves the broker while it says goodbye.
  bridge->RequestStop();
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Count("t/bridge/error") == 1; }));
  EXPECT_NE(client->Last("t/bridge/error").find("stopping"), std::string::npos);
  EXPECT_TRUE(Commands("QAAMZ").empty());
  EXPECT_EQ(RelayState("QAAMZ"), 0);
}

TEST_F(BridgeOnBroker, HomeAssistantDiscoveryWhenAsked) {
  Plug({{"QAAMZ", 2}});
  EXPECT_EQ(client->Count("homeassistant/switch/quorvel_t_QAAMZ/relay1/config"), 0U);
  TBridgeOptions options = TestOptions();
  options.IntervalMs = TBridgeOptions{}.IntervalMs;  // the default re-read
  options.Discovery = true;
  RestartBridge(options);
  TMqttClient ha(broker.Port(), "homeassistant/#");
  ASSERT_TRUE(PumpUntil(
      [&] {
        bridge->RunOnce(5);
        ha.Loop(5);
      },
      [&] { return ha.Received().size() >= 2; }));
  const TJson relay2 = TJson::parse(ha.Last("homeassistant/switch/quorvel_t_QAAMZ/relay2/config"));
  EXPECT_EQ(relay2["command_topic"], "t/QAAMZ/2/set");
  EXPECT_EQ(ha.Count("homeassistant/switch/quorvel_t_QAAMZ/relay3/config"), 0U);
  // What Home Assistant sends switches the relay.
  ha.Publish(relay2["command_topic"], "ON");
  ASSERT_TRUE(PumpUntil(
      [&] {
        bridge->RunOnce(5);
        ha.Loop(5);
      },
      [&] { return RelayState("QAAMZ") == 2; }));
}

TEST_F(BridgeOnBroker, ReconnectsAfterTheBrokerRestartsAndPublishesAgain) {
  Plug({{"QAAMZ", 2}});
  client->Publish("t/QAAMZ/2/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/2") == "ON"; }));
  client.reset();
  broker.Stop();
  for (int i = 0; i < 20; ++i) {
    bridge->RunOnce(10);
  }
  EXPECT_FALSE(bridge->Connected());
  broker.Start();  // empty: the retained messages are gone with the old one
  ASSERT_TRUE(PumpUntil([&] { bridge->RunOnce(10); }, [&] { return bridge->Connected(); }));
  client = std::make_unique<TMqttClient>(broker.Port(), "t/#");
  ASSERT_TRUE(Until([&] {
    return client->Last("t/QAAMZ/2") == "ON" && client->Last("t/bridge/availability") == "online" &&
           client->Last("t/QAAMZ/availability") == "online";
  }));
  client->Publish("t/QAAMZ/1/set", "ON");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/1") == "ON"; }));
}

TEST_F(BridgeOnBroker, BoardsLeftOnlineByABridgeThatDiedAreSetOffline) {
  Plug({{"QAAMZ", 2}, {"BENCH", 8}});
  // No goodbye: its will covers the bridge alone, the broker keeps both boards online.
  bridge.reset();
  sim->RemoveDevice(ids["QAAMZ"]);
  client->Clear();
  bridge = std::make_unique<TBridge>(TestOptions(), "");
  bridge->Start();
  ASSERT_TRUE(Until([&] {
    return client->Last("t/QAAMZ/availability") == "offline" &&
           client->Last("t/BENCH/availability") == "online";
  }));
  TMqttClient late(broker.Port(), "t/+/availability");
  ASSERT_TRUE(
      PumpUntil([&] { late.Loop(5); }, [&] { return !late.Last("t/QAAMZ/availability").empty(); }));
  EXPECT_EQ(late.Last("t/QAAMZ/availability"), "offline");
}

// A broker that keeps its retained messages over a restart (Debian's configuration
// does): what the bridge could not tell it meanwhile must not stay as it was.
TEST_F(BridgeOnBroker, ABoardThatLeftWhileTheBrokerWasAwayIsOfflineAfterwards) {
  const std::filesystem::path kept = broker.Dir() / "kept";
  std::filesystem::create_directories(kept);
  // Run by root, the broker saves as its own unprivileged user.
  std::filesystem::permissions(kept, std::filesystem::perms::all);
  TBroker keeping({}, {}, "persistence true\npersistence_location " + kept.string() + "/\n");
  bridge.reset();
  client.reset();
  TBridgeOptions options = TestOptions();
  options.Port = keeping.Port();
  bridge = std::make_unique<TBridge>(options, "");
  bridge->Start();
  client = std::make_unique<TMqttClient>(keeping.Port(), "t/#");
  Plug({{"STAYS", 2}, {"GONE1", 2}});
  client.reset();
  keeping.Stop();
  sim->RemoveDevice(ids["GONE1"]);
  ASSERT_TRUE(PumpUntil([&] { bridge->RunOnce(10); }, [&] { return bridge->BoardCount() == 1; }));
  keeping.Start();
  client = std::make_unique<TMqttClient>(keeping.Port(), "t/#");
  // The retained online from before the restart arrives first; the bridge must replace it.
  ASSERT_TRUE(Until([&] {
    return bridge->Connected() && client->Last("t/GONE1/availability") == "offline" &&
           client->Last("t/STAYS/availability") == "online";
  }));
  TMqttClient late(keeping.Port(), "t/+/availability");
  ASSERT_TRUE(
      PumpUntil([&] { late.Loop(5); }, [&] { return !late.Last("t/GONE1/availability").empty(); }));
  EXPECT_EQ(late.Last("t/GONE1/availability"), "offline");
}

#ifdef __linux__
// Arrivals and removals reach the broker through the controller's device-change
// notification, pumped by the bridge's loop, not at the next re-read: the interval here
// is an hour, and no rescan is asked for.
TEST_F(BridgeOnBroker, BoardsComeAndGoWithTheDeviceChangeNotification) {
  TBridgeOptions options = TestOptions();
  options.IntervalMs = 3'600'000;
  RestartBridge(options);
  ASSERT_TRUE(Until([&] { return bridge->Connected(); }));
  auto owned = std::make_unique<TKernelNotices>();
  TKernelNotices* kernel = owned.get();
  ASSERT_NE(bridge->Controller()->Notifier(), nullptr);
  bridge->Controller()->Notifier()->SetChangeSource(std::move(owned));

  ids["QAAMZ"] = sim->AddRelayBoard("QAAMZ", 2, 1);
  kernel->Send("add", "hidraw7");
  ASSERT_TRUE(Until([&] {
    return client->Last("t/QAAMZ/availability") == "online" && client->Last("t/QAAMZ/1") == "ON";
  }));
  sim->RemoveDevice(ids["QAAMZ"]);
  kernel->Send("remove", "hidraw7");
  ASSERT_TRUE(Until([&] { return client->Last("t/QAAMZ/availability") == "offline"; }));
  EXPECT_EQ(bridge->BoardCount(), 0U);
}
#endif

}  // namespace
}  // namespace quorvel::bridge::test
