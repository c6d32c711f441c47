// The registry of a program that stays, over the simulated boards: what it serves, what it
// refuses and tells once, and how it follows unplugging and new IDs.
#include "relay/BoardRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimControl.h"

namespace quorvel::relay {
namespace {

// Every event as a line, in order.
class RecordingEvents final : public TBoardEvents {
 public:
  std::vector<std::string> events;
  std::string refusedId = "BADID";  // the front refuses to serve this one

  void BoardArrived(TRelayBoard& Board) override {
    events.push_back("arrived " + Board.Id + " " + std::to_string(Board.Relays) + " " +
                     std::to_string(Board.State));
  }
  void BoardLeft(const TRelayBoard& Board, bool Unplugged) override {
    events.push_back((Unplugged ? "unplugged " : "left ") + Board.Id);
  }
  void BoardRead(TRelayBoard& Board, bool Changed) override {
    if (Changed) {
      events.push_back("changed " + Board.Id + " " + std::to_string(Board.State));
    }
  }
  void BoardRefused(const TRelayBoard& Board, const std::string& Why) override {
    events.push_back("refused " + Board.Id + ": " + Why);
  }
  void DeviceSkipped(const std::u16string& /*Path*/) override { events.push_back("skipped"); }
  bool AcceptsId(const std::string& Id, std::string& Why) override {
    if (Id == refusedId) {
      Why = "is not wanted";
      return false;
    }
    return true;
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
};

class BoardRegistryTest : public ::testing::Test {
 protected:
  BoardRegistryTest() { sim.Reset(); }

  sim::TSimControl sim;
  RecordingEvents events;
};

TEST_F(BoardRegistryTest, ServesEachBoardByItsOwnIdAndLeavesOtherDevicesAlone) {
  sim.AddRelayBoard("LAMP1", 2, 1);
  sim.AddDevice({{"product", "USB Keyboard"}, {"generic", nlohmann::json::object()}});
  sim.AddRelayBoard("PUMP2", 8, 0x5A);
  TBoardRegistry registry(events);
  registry.Start();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"arrived LAMP1 2 1", "arrived PUMP2 8 90"}));
  ASSERT_NE(registry.Find("PUMP2"), nullptr);
  EXPECT_EQ(registry.Find("PUMP2")->Model->Family, u"USBRelay");
  EXPECT_EQ(registry.Find("QQQQQ"), nullptr);
  EXPECT_EQ(registry.Count(), 2U);
}

TEST_F(BoardRegistryTest, BoardsThatShareAnIdAreNeitherServedAndAreToldOnce) {
  const int first = sim.AddRelayBoard("TWINS");
  TBoardRegistry registry(events);
  registry.Start();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"arrived TWINS 8 0"}));

  // A second board with the served one's ID: the served one leaves too.
  const int second = sim.AddRelayBoard("TWINS");
  registry.Rescan();
  const std::vector<std::string> shared = events.Take();
  ASSERT_EQ(shared.size(), 3U);
  EXPECT_EQ(shared[0], "left TWINS");
  EXPECT_TRUE(shared[1].starts_with("refused TWINS: has the ID \"TWINS\" of another board"));
  EXPECT_TRUE(shared[2].starts_with("refused TWINS: has the ID \"TWINS\" of another board"));
  EXPECT_TRUE(registry.IsShared("TWINS"));
  EXPECT_EQ(registry.Find("TWINS"), nullptr);

  // Told once, however often the boards are looked at again.
  registry.Rescan();
  registry.RefreshStates();
  EXPECT_TRUE(events.Take().empty());

  // Once one of them has another ID, both are served.
  sim.ChangeDevice(second, {{"relay", {{"boardId", "OTHER"}}}});
  registry.Rescan();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"arrived TWINS 8 0", "arrived OTHER 8 0"}));
  EXPECT_FALSE(registry.IsShared("TWINS"));
  EXPECT_EQ(registry.Count(), 2U);
  (void)first;
}

TEST_F(BoardRegistryTest, FollowsAStateChangeANewIdAndAnUnplug) {
  const int board = sim.AddRelayBoard("LAMP1", 4, 0);
  TBoardRegistry registry(events);
  registry.Start();
  events.Take();

  // Switched by another program: the refresh reads it.
  sim.ChangeDevice(board, {{"relay", {{"state", 5}}}});
  registry.RefreshStates();
  registry.RefreshStates();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"changed LAMP1 5"}));

  // Given a new ID by another program: served under the new one.
  sim.ChangeDevice(board, {{"relay", {{"boardId", "LAMP9"}}}});
  registry.RefreshStates();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"left LAMP1", "arrived LAMP9 4 5"}));
  EXPECT_EQ(registry.Find("LAMP1"), nullptr);
  ASSERT_NE(registry.Find("LAMP9"), nullptr);

  sim.RemoveDevice(board);
  registry.Rescan();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"unplugged LAMP9"}));
  EXPECT_EQ(registry.Count(), 0U);
}

TEST_F(BoardRegistryTest, ABoardTheFrontRefusesOrThatCannotBeReadIsToldOnceAndTriedAgain) {
  sim.AddRelayBoard("BADID");
  const int unreadable = sim.AddRelayBoard("LATER");
  sim.SetFaults(unreadable, {{"getFeature", {{"from", 1}}}});
  TBoardRegistry registry(events);
  registry.Start();
  const std::vector<std::string> refused = events.Take();
  ASSERT_EQ(refused.size(), 2U);
  EXPECT_EQ(refused[0], "refused BADID: is not wanted");
  EXPECT_TRUE(refused[1].starts_with("refused : cannot be read")) << refused[1];
  registry.Rescan();
  EXPECT_TRUE(events.Take().empty());

  // The board became readable (udev gave its node a group, say): served at the next look.
  sim.SetFaults(unreadable, {{"getFeature", nullptr}});
  registry.Rescan();
  EXPECT_EQ(events.Take(), (std::vector<std::string>{"arrived LATER 8 0"}));
}

}  // namespace
}  // namespace quorvel::relay
