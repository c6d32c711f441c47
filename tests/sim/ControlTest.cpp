// The control functions through their C++ client: changes merge into a device and keep
// its ID, refusals come back as exceptions naming the reason, and nothing is half-done.
#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/SimControl.h"

namespace quorvel::sim {
namespace {

using TJson = TSimControl::TJson;

class Control : public ::testing::Test {
 protected:
  void SetUp() override { Sim.Reset(); }
  TSimControl Sim;
};

TEST_F(Control, ChangesMergeIntoTheDevice) {
  const int board = Sim.AddRelayBoard("AAAAA", 4, 0x01);
  auto device = Sim.ChangeDevice(board, {{"relay", {{"state", 6}}}});
  EXPECT_EQ(device["relay"]["state"], 6);
  EXPECT_EQ(device["relay"]["boardId"], "AAAAA");

  device = Sim.SetFaults(board, {{"relayStuck", {{"mask", 1}, {"value", 1}}}});
  EXPECT_EQ(device["relay"]["state"], 7);
  EXPECT_EQ(device["relay"]["commanded"], 6);
  device = Sim.SetFaults(board, {{"relayStuck", nullptr}});
  EXPECT_EQ(device["relay"]["state"], 6);
  EXPECT_EQ(device["id"], board);
}

TEST_F(Control, RefusedChangeLeavesTheDeviceAsItWas) {
  const int board = Sim.AddRelayBoard("AAAAA", 4, 0x05);
  EXPECT_THROW(Sim.ChangeDevice(board, {{"relay", {{"relays", 3}}}}), std::runtime_error);
  EXPECT_THROW(Sim.ChangeDevice(board, {{"id", board + 1}}), std::runtime_error);
  const auto device = Sim.Device(board);
  EXPECT_EQ(device["relay"]["relays"], 4);
  EXPECT_EQ(device["relay"]["state"], 5);
}

TEST_F(Control, RefusalsNameTheirReason) {
  try {
    Sim.AddDevice({{"colour", 1}});
    FAIL() << "a device with an unknown field was added";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("colour"), std::string::npos) << error.what();
  }
  EXPECT_THROW(Sim.RemoveDevice(42), std::runtime_error);
  EXPECT_THROW(Sim.Device(42), std::runtime_error);
  const int board = Sim.AddRelayBoard("AAAAA");
  EXPECT_THROW(Sim.PushInput(board, "zz"), std::runtime_error);
  EXPECT_THROW(Sim.AddDevice({{"id", board}}), std::runtime_error);  // the ID is taken
  EXPECT_EQ(Sim.World()["devices"].size(), 1u);
}

TEST_F(Control, DevicesKeepTheirOrderAndIds) {
  const int first = Sim.AddRelayBoard("AAAAA");
  const int second = Sim.AddDevice({{"generic", TJson::object()}, {"product", "Thing"}});
  const int third = Sim.AddRelayBoard("CCCCC");
  Sim.RemoveDevice(second);
  const auto devices = Sim.World()["devices"];
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]["id"], first);
  EXPECT_EQ(devices[1]["id"], third);
  EXPECT_NE(devices[0]["instance"], devices[1]["instance"]);
  EXPECT_EQ(Sim.AddRelayBoard("DDDDD"), third + 1);
  Sim.ClearLog();
  EXPECT_EQ(Sim.Log(), TJson::array());
}

}  // namespace
}  // namespace quorvel::sim
