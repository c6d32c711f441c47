// What a process writes back to a world file that another process wrote since it read
// it: its own changes merged into the file as it stands, each device and field the
// later write did not touch kept, the later write winning where both changed a field.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sim/WorldMerge.h"

namespace quorvel::sim::test {
namespace {

// Device descriptions as the world file holds them once read: numbered, every field.
TJson Devices(const std::vector<TJson>& descriptions) {
  TWorldDescription world;
  std::string error;
  EXPECT_TRUE(WorldFromJson(TJson{{"devices", descriptions}}, world, error)) << error;
  EXPECT_TRUE(NumberDevices(world.Devices, error)) << error;
  return DevicesToJson(world.Devices);
}

TJson Board(const char* boardId, int state = 0) {
  return {{"relay", {{"boardId", boardId}, {"state", state}}}};
}

// What a run did to a device: relay commands (counted as set-features) and faults.
struct TRun {
  std::optional<int> State;
  int Commands = 0;
  TJson Faults = nullptr;
};

void Apply(TJson& device, const TRun& run) {
  if (run.State) {
    device["relay"]["commanded"] = *run.State;
  }
  device["counters"]["setFeature"] = device["counters"]["setFeature"].get<int>() + run.Commands;
  device["counters"]["calls"] = device["counters"]["calls"].get<int>() + run.Commands;
  if (!run.Faults.is_null()) {
    device["faults"] = run.Faults;
  }
}

TLogEntry Entry(int device, std::uint32_t arg) {
  return {device, "HidD_SetFeature", arg, {}, {}, 0};
}

struct TOneBoardCase {
  const char* Name;
  TRun There;  // another process, which wrote back first
  TRun Here;   // this process, writing back now
  int State;
  int Commands;
  std::optional<int> VanishAfter;
};

const TOneBoardCase kOneBoard[] = {
    {"OnlyHere", {}, {5, 8}, 5, 8, std::nullopt},
    {"OnlyThere", {6, 3}, {}, 6, 3, std::nullopt},
    {"BothLaterWinsAndCountsAdd", {6, 3}, {5, 8}, 5, 11, std::nullopt},
    {"DifferentFieldsBothKept", {std::nullopt, 0, {{"vanishAfter", 9}}}, {5, 8}, 5, 8, 9},
    {"SameFieldLaterWins", {6, 2, {{"vanishAfter", 9}}}, {5, 1, {{"vanishAfter", 4}}}, 5, 3, 4},
};

class WorldMerge : public ::testing::TestWithParam<TOneBoardCase> {};

TEST_P(WorldMerge, ABoardBothChangedKeepsEveryChangeAndTheLaterWriteWins) {
  const auto& c = GetParam();
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB")});
  own.Devices = own.Base;
  Apply(own.Devices[0], c.Here);
  TJson file = own.Base;
  Apply(file[0], c.There);
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[0]["relay"]["commanded"], c.State);
  EXPECT_EQ(file[0]["counters"]["setFeature"], c.Commands);
  EXPECT_EQ(file[0]["counters"]["calls"], c.Commands);
  EXPECT_EQ(file[0]["faults"].contains("vanishAfter"), c.VanishAfter.has_value());
  if (c.VanishAfter) {
    EXPECT_EQ(file[0]["faults"]["vanishAfter"], *c.VanishAfter);
  }
  EXPECT_EQ(file[1], own.Base[1]);  // nobody touched it
}

INSTANTIATE_TEST_SUITE_P(Simulation, WorldMerge, ::testing::ValuesIn(kOneBoard),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST(WorldMergeDevices, ChangesToDifferentBoardsAreAllKept) {
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB"), Board("CCCCC")});
  own.Devices = own.Base;
  Apply(own.Devices[0], {0x11, 8});
  TJson file = own.Base;
  Apply(file[1], {0x22, 8});
  Apply(file[2], {0x33, 1});
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  ASSERT_EQ(file.size(), 3u);
  const int states[] = {0x11, 0x22, 0x33};
  const int commands[] = {8, 8, 1};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(file[i]["relay"]["commanded"], states[i]) << i;
    EXPECT_EQ(file[i]["counters"]["setFeature"], commands[i]) << i;
  }
}

TEST(WorldMergeDevices, AddedAndRemovedDevicesOfBothAreKept) {
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB"), Board("CCCCC")});
  // Here: B removed, D added as 4. There: C removed, E added as 4 first.
  own.Devices = own.Base;
  own.Devices.erase(1);
  own.Devices.push_back(
      Devices({Board("AAAAA"), Board("BBBBB"), Board("CCCCC"), Board("DDDDD")})[3]);
  TJson file = own.Base;
  file.erase(2);
  file.push_back(Devices({Board("AAAAA"), Board("BBBBB"), Board("CCCCC"), Board("EEEEE")})[3]);
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  std::vector<std::string> boards;
  std::vector<int> ids;
  for (const auto& device : file) {
    boards.push_back(device["relay"]["boardId"]);
    ids.push_back(device["id"]);
  }
  EXPECT_EQ(boards, (std::vector<std::string>{"AAAAA", "EEEEE", "DDDDD"}));
  EXPECT_EQ(ids, (std::vector<int>{1, 4, 5}));  // D numbered again, after the others
  EXPECT_NE(file[1]["instance"], file[2]["instance"]);
}

TEST(WorldMergeDevices, ABoardRemovedThereAndChangedHereComesBack) {
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB")});
  own.Devices = own.Base;
  Apply(own.Devices[1], {7, 8});
  TJson file = Devices({Board("AAAAA")});
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[1], own.Devices[1]);
}

TEST(WorldMergeDevices, AResetHereReplacesTheFilesDevices) {
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB")});
  own.Devices = Devices({Board("ZZZZZ")});
  own.DevicesReplaced = true;
  TJson file = Devices({Board("AAAAA"), Board("BBBBB"), Board("CCCCC")});
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  EXPECT_EQ(file, own.Devices);
}

TEST(WorldMergeDevices, AMergeThatWouldNotReadBackGivesOwnDevicesWhole) {
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA"), Board("BBBBB")});
  own.Devices = own.Base;
  own.Devices[0]["instance"] = 9;  // here A took instance 9 ...
  TJson file = own.Base;
  file.push_back(Devices({Board("CCCCC")})[0]);
  file[2]["id"] = 3;
  file[2]["instance"] = 9;  // ... which a board added there has
  std::vector<TLogEntry> log;

  MergeOwnChanges(own, file, log);
  EXPECT_EQ(file, own.Devices);
}

std::vector<std::uint32_t> Args(const std::vector<TLogEntry>& log) {
  std::vector<std::uint32_t> args;
  for (const auto& entry : log) {
    args.push_back(entry.Arg.value_or(0));
  }
  return args;
}

struct TLogCase {
  const char* Name;
  std::size_t InFile;  // entries 1, 2, ... in the file
  std::size_t Here;    // entries 10001, 10002, ... this process logged
  bool Replaced;       // this process emptied its log first
  std::size_t Kept;
  std::uint32_t First;  // of the kept entries
  std::uint32_t LastOfFile;
};

const TLogCase kLogs[] = {
    {"FileThenOwn", 3, 2, false, 5, 1, 3},
    {"CapKeepsTheNewest", 999, 3, false, 1000, 3, 999},
    {"OwnAloneFillTheCap", 10, 1000, false, 1000, 10001, 0},
    {"EmptiedHereReplacesTheFilesLog", 50, 2, true, 2, 10001, 0},
};

class WorldMergeLog : public ::testing::TestWithParam<TLogCase> {};

TEST_P(WorldMergeLog, KeepsTheFilesEntriesThenOwnUpToTheCap) {
  const auto& c = GetParam();
  TOwnChanges own;
  own.Base = Devices({Board("AAAAA")});
  own.Devices = own.Base;
  own.LogReplaced = c.Replaced;
  std::vector<TLogEntry> log;
  for (std::uint32_t i = 1; i <= c.InFile; ++i) {
    log.push_back(Entry(1, i));
  }
  for (std::uint32_t i = 1; i <= c.Here; ++i) {
    own.Log.push_back(Entry(1, 10000 + i));
  }
  TJson file = own.Base;

  MergeOwnChanges(own, file, log);
  const auto args = Args(log);
  ASSERT_EQ(args.size(), c.Kept);
  EXPECT_EQ(args.front(), c.First);
  EXPECT_EQ(args.back(), 10000 + c.Here);
  // The file's entries, in their order, before all of this process's.
  const auto own0 = std::find(args.begin(), args.end(), 10001u);
  const auto fileKept = static_cast<std::size_t>(own0 - args.begin());
  EXPECT_EQ(fileKept == 0 ? 0u : args[fileKept - 1], c.LastOfFile);
  EXPECT_EQ(args.size() - fileKept, std::min<std::size_t>(c.Here, kMaxLogEntries));
  EXPECT_TRUE(std::is_sorted(args.begin(), args.end()));
}

INSTANTIATE_TEST_SUITE_P(Simulation, WorldMergeLog, ::testing::ValuesIn(kLogs),
                         [](const auto& named) { return std::string(named.param.Name); });

}  // namespace
}  // namespace quorvel::sim::test
