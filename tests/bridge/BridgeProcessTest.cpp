// quorvel-mqtt as a process: its stop, its last will, its wire bytes, its
// refusal of a bad configuration.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/bridge/BrokerFixture.h"

namespace quorvel::bridge::test {
namespace {

using TJson = nlohmann::json;

class BridgeProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    world = broker.Dir() / "world.json";
    std::ofstream(world) << R"({"devices": [
      {"relay": {"boardId": "QAAMZ", "relays": 2, "state": 1}},
      {"relay": {"boardId": "BENCH", "relays": 8, "state": 0}}]})";
  }

  std::unique_ptr<TProcess> StartBridge() {
    return std::make_unique<TProcess>(
        std::vector<std::string>{QUORVEL_BRIDGE_EXE, "--host", "127.0.0.1", "--port",
                                 std::to_string(broker.Port()), "--prefix", "p", "--client-id",
                                 "process-under-test", "--interval", "0.2"},
        std::map<std::string, std::string>{{"QUORVEL_SIM_WORLD", world.string()},
                                           {"LD_LIBRARY_PATH", QUORVEL_SIM_DIR}});
  }

  bool Until(TMqttClient& client, const std::function<bool()>& done) {
    return PumpUntil([&] { client.Loop(10); }, done);
  }

  TBroker broker;
  std::filesystem::path world;
};

TEST_F(BridgeProcess, SwitchesAndLeavesOfflineOnSigterm) {
  TMqttClient client(broker.Port(), "p/#");
  auto bridge = StartBridge();
  ASSERT_TRUE(Until(client, [&] {
    return client.Last("p/QAAMZ/state") == R"({"mask":1,"relay1":"ON","relay2":"OFF"})" &&
           client.Last("p/BENCH/availability") == "online";
  })) << bridge->Error();
  client.Publish("p/BENCH/3/set", "ON");
  client.Publish("p/QAAMZ/set", "OFF=1 ON=2");
  ASSERT_TRUE(Until(client, [&] {
    return client.Last("p/BENCH/3") == "ON" && client.Last("p/QAAMZ/2") == "ON";
  }));
  EXPECT_EQ(client.Last("p/QAAMZ/1"), "OFF");

  bridge->Signal(SIGTERM);
  EXPECT_EQ(bridge->Wait(), 0);
  EXPECT_NE(bridge->Error().find("stopped"), std::string::npos);
  TMqttClient after(broker.Port(), "p/+/availability");
  ASSERT_TRUE(Until(after, [&] { return after.Received().size() >= 3; }));
  EXPECT_EQ(after.Last("p/bridge/availability"), "offline");
  EXPECT_EQ(after.Last("p/QAAMZ/availability"), "offline");
  EXPECT_EQ(after.Last("p/BENCH/availability"), "offline");

  // The world written back at the clean end holds the boards' exchanges.
  std::ifstream file(world);
  const TJson saved = TJson::parse(file);
  EXPECT_EQ(saved["devices"][0]["relay"]["commanded"], 2);
  EXPECT_EQ(saved["devices"][1]["relay"]["commanded"], 4);
  std::vector<std::string> bench;
  for (const TJson& entry : saved["log"]) {
    if (entry["device"] == 2 && entry["call"] == "HidD_SetFeature") {
      bench.push_back(entry["sent"].get<std::string>().substr(0, 8));
    }
  }
  EXPECT_NE(std::find(bench.begin(), bench.end(), "00 ff 03"), bench.end());
  EXPECT_EQ(std::find(bench.begin(), bench.end(), "00 ff 01"), bench.end());
}

TEST_F(BridgeProcess, AKilledBridgeLeavesOfflineThroughItsWill) {
  TMqttClient client(broker.Port(), "p/bridge/availability");
  auto bridge = StartBridge();
  ASSERT_TRUE(Until(client, [&] { return client.Last("p/bridge/availability") == "online"; }))
      << bridge->Error();
  bridge->Signal(SIGKILL);
  bridge->Wait();
  ASSERT_TRUE(Until(client, [&] { return client.Last("p/bridge/availability") == "offline"; }));
  TMqttClient after(broker.Port(), "p/bridge/availability");
  ASSERT_TRUE(Until(after, [&] { return !after.Received().empty(); }));
  EXPECT_EQ(after.Last("p/bridge/availability"), "offline");  // retained
}

TEST(BridgeCredentials, UserAndPasswordFromAFile) {
  TBroker broker("relays", "s3cret pass");
  const auto right = broker.Dir() / "right";
  const auto wrong = broker.Dir() / "wrong";
  std::ofstream(right) << "s3cret pass\n";
  std::ofstream(wrong) << "guess\n";
  const auto run = [&](const std::filesystem::path& passwordFile) {
    return std::make_unique<TProcess>(
        std::vector<std::string>{QUORVEL_BRIDGE_EXE, "--host", "127.0.0.1", "--port",
                                 std::to_string(broker.Port()), "--prefix", "c", "--user", "relays",
                                 "--password-file", passwordFile.string()},
        std::map<std::string, std::string>{{"QUORVEL_SIM_WORLD", ""},
                                           {"LD_LIBRARY_PATH", QUORVEL_SIM_DIR}});
  };
  TMqttClient client(broker.Port(), "c/bridge/availability", "relays", "s3cret pass");

  auto refused = run(wrong);
  ASSERT_TRUE(PumpUntil([&] { client.Loop(10); },
                        [&] { return refused->Error().find("refused") != std::string::npos; }))
      << refused->Error();
  EXPECT_TRUE(client.Received().empty());
  refused->Signal(SIGTERM);
  EXPECT_EQ(refused->Wait(), 0);

  auto accepted = run(right);
  ASSERT_TRUE(PumpUntil([&] { client.Loop(10); },
                        [&] { return client.Last("c/bridge/availability") == "online"; }))
      << accepted->Error();
  EXPECT_EQ(accepted->Error().find("s3cret"), std::string::npos);
  accepted->Signal(SIGTERM);
  EXPECT_EQ(accepted->Wait(), 0);
}

// A CA and a server certificate for 127.0.0.1 signed by it, made by openssl in Dir.
void MakeCertificates(const std::filesystem::path& dir, const std::string& name) {
  const std::string d = dir.string() + "/";
  std::ofstream(d + "san.ext") << "subjectAltName=IP:127.0.0.1\n";
  const std::vector<std::vector<std::string>> steps = {
      {"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", d + name + "-ca.key", "-out",
       d + name + "-ca.pem", "-days", "2", "-subj", "/CN=" + name + " test CA"},
      {"/usr/bin/openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", d + name + "-server.key", "-out", d + name + "-server.csr", "-subj",
       "/CN=127.0.0.1"},
      {"/usr/bin/openssl", "x509", "-req", "-in", d + name + "-server.csr", "-CA",
       d + name + "-ca.pem", "-CAkey", d + name + "-ca.key", "-CAcreateserial", "-out",
       d + name + "-server.pem", "-days", "2", "-extfile", d + "san.ext"},
  };
  for (const auto& step : steps) {
    const TRunResult made = RunToEnd(step);
    ASSERT_EQ(made.ExitStatus, 0) << made.Error;
  }
  // A broker started as root reads it as the user it drops to.
  std::filesystem::permissions(d + name + "-server.key", std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
}

TEST(BridgeTls, ConnectsWithTheCaFileAndRefusesAnotherCa) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quorvel-bridge-tls-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  MakeCertificates(dir, "right");
  MakeCertificates(dir, "other");
  const int tlsPort = FreeLoopbackPort();
  // A plain listener for the test's client, a TLS one for the bridge.
  TBroker broker({}, {},
                 "listener " + std::to_string(tlsPort) + " 127.0.0.1\ncafile " +
                     (dir / "right-ca.pem").string() + "\ncertfile " +
                     (dir / "right-server.pem").string() + "\nkeyfile " +
                     (dir / "right-server.key").string() + "\n");
  TMqttClient client(broker.Port(), "s/bridge/availability");
  const auto run = [&](const std::string& ca) {
    return std::make_unique<TProcess>(
        std::vector<std::string>{QUORVEL_BRIDGE_EXE, "--host", "127.0.0.1", "--port",
                                 std::to_string(tlsPort), "--prefix", "s", "--cafile",
                                 (dir / ca).string()},
        std::map<std::string, std::string>{{"QUORVEL_SIM_WORLD", ""},
                                           {"LD_LIBRARY_PATH", QUORVEL_SIM_DIR}});
  };
  auto untrusted = run("other-ca.pem");
  ASSERT_TRUE(
      PumpUntil([&] { client.Loop(10); },
                [&] { return untrusted->Error().find("cannot connect") != std::string::npos; }))
      << untrusted->Error();
  EXPECT_TRUE(client.Received().empty());
  untrusted->Signal(SIGTERM);
  EXPECT_EQ(untrusted->Wait(), 0);

  auto trusted = run("right-ca.pem");
  ASSERT_TRUE(PumpUntil([&] { client.Loop(10); },
                        [&] { return client.Last("s/bridge/availability") == "online"; }))
      << trusted->Error();
  trusted->Signal(SIGTERM);
  EXPECT_EQ(trusted->Wait(), 0);
  std::filesystem::remove_all(dir);
}

TEST(BridgeConfiguration, BadConfigurationsExitNonZeroWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "99999"},       {"--prefix", "a/#"},
      {"--password", "hunter2"}, {"--user", "u", "--password-file", "/nonexistent/quorvel-pw"},
      {"--interval", "never"},   {"--what"},
  };
  for (const auto& arguments : cases) {
    std::vector<std::string> command = {QUORVEL_BRIDGE_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const TRunResult run = RunToEnd(command);
    EXPECT_EQ(run.ExitStatus, 2) << arguments[0];
    EXPECT_TRUE(run.Error.starts_with("quorvel-mqtt: ")) << run.Error;
    EXPECT_EQ(run.Error.find("hunter2"), std::string::npos);
  }
  // A CA file that is not there: refused before anything starts.
  const TRunResult tls =
      RunToEnd({QUORVEL_BRIDGE_EXE, "--cafile", "/nonexistent/ca.pem"},
               {{"LD_LIBRARY_PATH", QUORVEL_SIM_DIR}, {"QUORVEL_SIM_WORLD", ""}});
  EXPECT_EQ(tls.ExitStatus, 1);
  EXPECT_NE(tls.Error.find("ca.pem"), std::string::npos) << tls.Error;
  const TRunResult help = RunToEnd({QUORVEL_BRIDGE_EXE, "--help"});
  EXPECT_EQ(help.ExitStatus, 0);
}

}  // namespace
}  // namespace quorvel::bridge::test
