// The built tool against the simulated platform: what it lists, what it sends
// to a board byte for byte, and how it reports boards that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/app/Fixture.h"
#include "tests/app/ProcessRunner.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace quorvel::app {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using test::Native;

void SetWorldVariable(const fs::path& file) {
#ifdef _WIN32
  _putenv_s("QUORVEL_SIM_WORLD", file.string().c_str());
#else
  setenv("QUORVEL_SIM_WORLD", file.c_str(), 1);
#endif
}

// One world file of a test, started from a fixture, which the simulation
// updates after every run of the tool.
class World {
 public:
  explicit World(std::string fixture, const fs::path& under = fs::temp_directory_path())
      : fixture_(std::move(fixture)),
        folder_(under / ("quorvel-app-" + std::to_string(NextNumber()))) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    Reset();
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Starts the world again from its fixture. The file stays, and with it the devices'
  // paths, which on Windows lie beside it.
  void Reset() const { Write(json::parse(test::ReadFixture("worlds/" + fixture_))); }

  json Read() const {
    std::ifstream in(File());
    return json::parse(in);
  }
  void Write(const json& world) const {
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << world.dump(2);
  }
  // Changes a device's description before the next run.
  void Patch(int id, const json& patch) const {
    json world = Read();
    for (json& device : world["devices"]) {
      if (device["id"] == id) {
        device.merge_patch(patch);
      }
    }
    Write(world);
  }
  json Device(int id) const {
    const json world = Read();
    for (const json& device : world["devices"]) {
      if (device["id"] == id) {
        return device;
      }
    }
    return nullptr;
  }
  // The state the board's relays were last commanded to; a written world keeps
  // it apart from the state a stuck relay reports.
  int RelayState(int id) const {
    const json relay = Device(id)["relay"];
    return relay.contains("commanded") ? relay["commanded"].get<int>() : relay["state"].get<int>();
  }
  void SetRelayState(int id, int state) const {
    Patch(id, {{"relay", {{"state", state}, {"commanded", nullptr}}}});
  }
  // A device's count of "calls", "getFeature" or "setFeature"; 0 before its first run.
  int Counter(int id, const std::string& name) const {
    return Device(id).value("counters", json::object()).value(name, 0);
  }

  // The interface path the simulation gives a device, by its instance number (a fixture
  // without instances numbers its devices in order): a path of its own on POSIX, a file
  // beside the world file on Windows. Relay boards are vendor 16C0, product 05DF.
  std::string DevicePath(int instance, const std::string& ids = "vid_16c0&pid_05df") const {
    const std::string name =
        ids + "#" + std::to_string(instance) + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
#ifdef _WIN32
    return File().string() + ".devices\\hid#" + name;
#else
    return "\\\\?\\quorvel-sim#" + name;
#endif
  }

  test::ProcessResult Run(const std::vector<std::string>& arguments,
                          const test::Environment& environment = {}) const {
    SetWorldVariable(File());
    return RunTool(arguments, environment);
  }

  // Several scripts at once, each a list of runs of the tool in its own thread; the results
  // by script and run. The threads leave the environment alone: the file is named before.
  std::vector<std::vector<test::ProcessResult>> RunAtOnce(
      const std::vector<std::vector<std::vector<std::string>>>& scripts) const {
    SetWorldVariable(File());
    std::vector<std::vector<test::ProcessResult>> results(scripts.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < scripts.size(); ++i) {
      threads.emplace_back([&, i] {
        for (const auto& arguments : scripts[i]) {
          results[i].push_back(RunTool(arguments));
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    return results;
  }

  // The feature reports exchanged with a device, as "GET sent > received" and
  // "SET sent", each with its error when it failed.
  std::vector<std::string> FeatureExchanges(int id) const {
    std::vector<std::string> exchanges;
    const json world = Read();
    for (const json& entry : world["log"]) {
      if (entry["device"] != id) {
        continue;
      }
      std::string line;
      if (entry["call"] == "HidD_GetFeature") {
        line = "GET " + entry["sent"].get<std::string>() + " > " +
               entry.value("received", std::string());
      } else if (entry["call"] == "HidD_SetFeature") {
        line = "SET " + entry["sent"].get<std::string>();
      } else {
        continue;
      }
      if (entry["error"] != 0) {
        line += " error " + std::to_string(entry["error"].get<int>());
      }
      exchanges.push_back(line);
    }
    return exchanges;
  }

 private:
  static int NextNumber() {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    const int process = _getpid();
#else
    const int process = static_cast<int>(getpid());
#endif
    return process * 1000 + counter++;
  }
  fs::path File() const {
    return folder_ / "world.json";
  }
  static test::ProcessResult RunTool(const std::vector<std::string>& arguments,
                                     const test::Environment& environment = {}) {
    return test::RunProcess(test::BesideThisTest(QUORVEL_EXE_FILE), "Quorvel", arguments,
                            environment);
  }

  std::string fixture_;
  fs::path folder_;
};

// A folder in memory where the system has one: every run of the tool flushes the world
// file it writes back, which on a disk takes longer than the rest of the run.
fs::path MemoryFolder() {
  std::error_code failed;
  const fs::path shared = "/dev/shm";
  return fs::is_directory(shared, failed) ? shared : fs::temp_directory_path();
}

std::string Joined(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& arg : arguments) {
    joined += "[" + arg + "] ";
  }
  return joined;
}

constexpr char kBoardCount[] =
    "\nERROR: ID supplied is greater than the number of relay boards currently available!\n";

std::string Listing(const std::string& lines) {
  return "\n    USB Devices found:\n\n" + lines + "\n";
}

// One run of the tool and what it must give: its status and its standard output, written
// with LF.
struct CommandCase {
  std::vector<std::string> arguments;
  int status;
  std::string output;
};

test::ProcessResult ExpectRun(const World& world, const CommandCase& c) {
  test::ProcessResult result = world.Run(c.arguments);
  EXPECT_EQ(result.exitStatus, c.status);
  EXPECT_EQ(result.output, Native(c.output));
  return result;
}

TEST(SimulatedBoards, ListsEveryDeviceAndMarksTheBoardNames) {
  const World world("listing.json");
  const test::ProcessResult result = world.Run({"-h"});
  EXPECT_EQ(result.exitStatus, 0);
  const std::string help = test::ReadFixture("help-Quorvel.txt");
  ASSERT_EQ(result.output.substr(0, Native(help).size()), Native(help));
  EXPECT_EQ(result.output.substr(Native(help).size()),
            Native(Listing("  * Test USBRelay\n"
                           "    usbrelay2\n"
                           "  * USBRelay8\n"
                           "    VID=1A2B, PID=000C\n"
                           "    USB Keyboard\n"
                           "    Rel\xC3\xA9 \xC3\x9Cmlaut \xE2\x9C\x93\n"
                           // Control characters of a name neither act nor break the line.
                           "  * Evil\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD  * USBRelay"
                           "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                           "end\n")));
}

TEST(SimulatedBoards, NumbersOnlyNamesBeginningWithTheBoardPrefix) {
  // "Test USBRelay" is marked but is no board: the third device is board 1.
  const World listed("listing.json");
  EXPECT_EQ(listed.Run({"ID=1", "ON=2"}).output, Native("\n    Status: 02\n"));
  EXPECT_EQ(listed.RelayState(3), 0x02);
  const test::ProcessResult second = listed.Run({"ID=2", "ON=2"});
  EXPECT_EQ(second.exitStatus, 2);
  EXPECT_EQ(second.output, Native(kBoardCount));
  EXPECT_TRUE(listed.FeatureExchanges(1).empty());
  EXPECT_TRUE(listed.FeatureExchanges(2).empty());

  // The first and third of three devices are boards 1 and 2.
  const World numbered("numbering.json");
  const test::ProcessResult result = numbered.Run({"ID=2", "ON=1"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, Native("\n    Status: 01\n"));
  EXPECT_EQ(numbered.RelayState(3), 0x01);
  EXPECT_EQ(numbered.RelayState(1), 0x00);
  EXPECT_TRUE(numbered.FeatureExchanges(1).empty());
  EXPECT_EQ(numbered.Run({"ID=3", "ON=1"}).output, Native(kBoardCount));
}

TEST(SimulatedBoards, ReportsTheBoardCountWithoutAnyDevice) {
  const World world("no-device.json");
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"ON=1"}, {"ID=1", "OFF=ALL"}}) {
    SCOPED_TRACE(Joined(arguments));
    const test::ProcessResult result = world.Run(arguments);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output, Native(kBoardCount));
  }
  EXPECT_EQ(world.Run({}).output,
            Native(test::ReadFixture("help-Quorvel.txt") + test::ReadFixture("listing-none.txt")));
}

struct SwitchCase {
  std::vector<std::string> arguments;
  int before;
  std::vector<std::string> commands;  // bytes 1 and 2 of each command
  int after;
};

std::string Hex(int byte) {
  constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[(byte >> 4) & 0xF], kDigits[byte & 0xF]};
}

// What a switch prints, written with LF.
std::string StatusLine(int state) {
  std::string status = Hex(state);
  for (char& digit : status) {
    digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
  }
  return "\n    Status: " + status + "\n";
}

TEST(SimulatedBoards, SendsTheExactExchangeForEachRequest) {
  const std::vector<std::string> eightFor1F = {"ff 01", "ff 02", "ff 03", "ff 04",
                                               "ff 05", "fd 06", "fd 07", "fd 08"};
  const SwitchCase cases[] = {
      {{"ON=5"}, 0x0F, eightFor1F, 0x1F},
      {{"OFF=1"}, 0x01, {"fc 00"}, 0x00},
      {{"ON=1"}, 0xFE, {"fe 00"}, 0xFF},
      {{"ID=1", "N=195"},
       0x5A,
       {"ff 01", "ff 02", "fd 03", "fd 04", "fd 05", "fd 06", "ff 07", "ff 08"},
       0xC3},
      // An empty request (an empty argument) writes the present state back.
      {{""}, 0x00, {"fc 00"}, 0x00},
      {{""}, 0xFF, {"fe 00"}, 0xFF},
      {{""}, 0x5A, {"fd 01", "ff 02", "fd 03", "ff 04", "ff 05", "fd 06", "ff 07", "fd 08"}, 0x5A},
      // One relay switched off when it was the only one on goes as all off.
      {{"OFF=8"}, 0x80, {"fc 00"}, 0x00},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(Joined(c.arguments) + "from " + Hex(c.before));
    const World world("one-board.json");
    world.SetRelayState(1, c.before);
    const test::ProcessResult result = world.Run(c.arguments);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, Native(StatusLine(c.after)));

    // A read answers the board ID ABCDE and the state; every command keeps
    // bytes 3 to 8 of that first answer.
    const std::string id = "41 42 43 44 45 00 00 ";
    const std::string kept = "43 44 45 00 00 " + Hex(c.before);
    std::vector<std::string> expected = {"GET 00 00 00 00 00 00 00 00 00 > 00 " + id +
                                         Hex(c.before)};
    for (const std::string& command : c.commands) {
      expected.push_back("SET 00 " + command + " " + kept);
    }
    expected.push_back("GET 00 " + c.commands.back() + " " + kept + " > 00 " + id + Hex(c.after));
    EXPECT_EQ(world.FeatureExchanges(1), expected);
    EXPECT_EQ(world.RelayState(1), c.after);
  }
}

// Two scripts switching different boards of one world at the same time, as parallel test
// runners do: every run's commands reach its board, and the board ends as the last run
// left it. The world file is written back by every run; no run may lose another's.
TEST(SimulatedBoards, RunsAtTheSameTimeOnOneWorldLoseNothing) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  // A run under Wine, or with the sanitizers, takes ten times as long and more.
  constexpr int kRuns = 40;
#else
  constexpr int kRuns = 200;
#endif
  const World world("two-boards.json", MemoryFolder());
  const std::vector<std::string> boards = {"ABCDE", "FGHIJ"};
  std::vector<std::vector<std::vector<std::string>>> scripts(boards.size());
  for (std::size_t board = 0; board < boards.size(); ++board) {
    for (int run = 1; run <= kRuns; ++run) {
      // Every state from 1 on has relays both on and off: one command per relay.
      scripts[board].push_back({"ID=" + boards[board], "N=" + std::to_string(run)});
    }
  }
  const auto results = world.RunAtOnce(scripts);
  for (std::size_t board = 0; board < boards.size(); ++board) {
    SCOPED_TRACE(boards[board]);
    int failed = 0;
    std::string why;
    for (const auto& result : results[board]) {
      if (result.exitStatus != 0 || !result.errors.empty()) {
        ++failed;
        why += "status " + std::to_string(result.exitStatus) + ": " + result.output + " " +
               result.errors + "\n";
      }
    }
    EXPECT_EQ(failed, 0) << why;
    EXPECT_EQ(results[board].back().output, Native(StatusLine(kRuns)));
    const int id = static_cast<int>(board) + 1;
    EXPECT_EQ(world.RelayState(id), kRuns);
    EXPECT_EQ(world.Counter(id, "setFeature"), 8 * kRuns);
    // Each run reads every board's ID to find its own, then its own state before and after.
    EXPECT_EQ(world.Counter(id, "getFeature"), 4 * kRuns);
  }
}

struct ExampleCase {
  std::vector<std::string> arguments;
  int board1Before, board2Before;
  int board1After, board2After;
};

TEST(SimulatedBoards, DoesWhatEachExampleOfTheHelpSays) {
  const ExampleCase cases[] = {
      {{"ON=1"}, 0x00, 0x00, 0x01, 0x00},
      {{"ID=2", "ON=1,3,5,7"}, 0x00, 0x02, 0x00, 0x57},
      {{"OFF=1,3,5,7"}, 0xFF, 0xFF, 0xAA, 0xFF},
      {{"ID=1", "ON=ALL"}, 0x10, 0x00, 0xFF, 0x00},
      {{"ID=2", "OFF=ALL"}, 0x00, 0x7E, 0x00, 0x00},
      {{"ID=1", "ON=1", "OFF=2"}, 0x02, 0x00, 0x01, 0x00},
      {{"ID=1", "N=0xC3"}, 0x3C, 0x00, 0xC3, 0x00},
      {{"ID=1", "N=$C3"}, 0x00, 0x00, 0xC3, 0x00},
      {{"ID=1", "N=195"}, 0xFF, 0x00, 0xC3, 0x00},
      {{"ID=1", "B=11000011"}, 0x24, 0x00, 0xC3, 0x00},
  };
  for (const ExampleCase& c : cases) {
    SCOPED_TRACE(Joined(c.arguments));
    const World world("two-boards.json");
    world.SetRelayState(1, c.board1Before);
    world.SetRelayState(2, c.board2Before);
    const test::ProcessResult result = world.Run(c.arguments);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(world.RelayState(1), c.board1After);
    EXPECT_EQ(world.RelayState(2), c.board2After);
  }
}

struct FaultCase {
  const char* what;
  json faults;
  std::vector<std::string> arguments;
  int exitStatus;
  std::string output;
  int stateAfter;
  std::size_t setFeatures;  // commands that reached the board
};

TEST(SimulatedBoards, ReportsABoardThatFailsAndSendsNothingBlind) {
  const std::string readError = "\nERROR: Could not read the state of relay board 1!\n";
  const std::string switchError = "\nERROR: Could not switch relay board 1!\n";
  const std::string permission =
      "    The device exists but could not be opened for writing; see the README on "
      "permissions.\n";
  const FaultCase cases[] = {
      {"first read fails", {{"getFeature", {{"from", 1}}}}, {"ON=1"}, 3, readError, 0x0F, 0},
      // Commands 3 to 8 fail; the others still bring their relays where asked.
      {"commands fail",
       {{"setFeature", {{"from", 3}}}},
       {"ON=5,6", "OFF=1,2,3"},
       3,
       "\n    Status: 0C\n" + switchError,
       0x0C,
       8},
      {"final read fails", {{"getFeature", {{"from", 2}}}}, {"ON=5"}, 3, switchError, 0x1F, 8},
      {"opens only without access",
       {{"open", "metadataOnly"}},
       {"ON=5"},
       3,
       readError + permission,
       0x0F,
       0},
      // As on Linux when the node is opened only at the first report call and refused then.
      {"access refused at the first report",
       {{"getFeature", {{"from", 1}, {"error", 5}}}},
       {"ON=5"},
       3,
       readError + permission,
       0x0F,
       0},
      {"a relay does not follow",
       {{"relayStuck", {{"mask", 0x10}, {"value", 0}}}},
       {"ON=5"},
       0,
       "\n    Status: 0F\n",
       0x1F,
       8},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    const World world("one-board.json");
    world.SetRelayState(1, 0x0F);
    world.Patch(1, {{"faults", c.faults}});
    const test::ProcessResult result = world.Run(c.arguments);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.output, Native(c.output));
    EXPECT_EQ(world.RelayState(1), c.stateAfter);
    std::size_t sets = 0;
    for (const std::string& exchange : world.FeatureExchanges(1)) {
      sets += exchange.starts_with("SET ") ? 1U : 0U;
    }
    EXPECT_EQ(sets, c.setFeatures);
  }
}

// Words a user types by habit are refused, and nothing reaches the board.
TEST(SimulatedBoards, RefusesWordsWithoutAKeywordAndSendsNothing) {
  for (const std::string word : {"status", "/H", "--ver", "0N=1", "-H", "lists"}) {
    SCOPED_TRACE(word);
    const World world("one-board.json");
    world.SetRelayState(1, 0x5A);
    const test::ProcessResult result = world.Run({word});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, Native("\n    ERROR: The argument \"" + word + "\" is not valid!\n"));
    EXPECT_TRUE(world.FeatureExchanges(1).empty());
    EXPECT_EQ(world.RelayState(1), 0x5A);
  }
}

// The board listing and the state read nothing but one feature report per board, and
// send nothing; a board that cannot be read is still listed.
TEST(SimulatedBoards, ListsAndReadsBoardsWithoutSendingAnything) {
  const World world("three-boards.json");
  ExpectRun(world, {{"list"},
                    0,
                    "    1  ABCDE  8  Status: 5A  " + world.DevicePath(1) + "\n" +
                        "    2  HURTM  4  Status: 05  " + world.DevicePath(3) + "\n" +
                        "    3  ?????  2  Status: ??  " + world.DevicePath(4) +
                        "  (the state cannot be read)\n"});
  for (const int id : {1, 3, 4}) {
    EXPECT_EQ(world.Counter(id, "getFeature"), 1) << id;
    EXPECT_EQ(world.Counter(id, "setFeature"), 0) << id;
  }
  EXPECT_EQ(world.RelayState(1), 0x5A);

  const CommandCase cases[] = {
      {{"state"}, 0, "\n    Status: 5A\n"},
      {{"STATE", "id=2"}, 0, "\n    Status: 05\n"},
      {{"state", "", "ID=2"}, 0, "\n    Status: 05\n"},
      {{"state", "ID=3"}, 3, "\nERROR: Could not read the state of relay board 3!\n"},
      {{"state", "ID=4"}, 2, kBoardCount},
      {{"state", "ON=1"}, 1, "\n    ERROR: The argument \"ON=1\" is not valid!\n"},
      {{"list", "x"}, 1, "\n    ERROR: The argument \"x\" is not valid!\n"},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(Joined(c.arguments));
    world.Reset();
    ExpectRun(world, c);
    // A refused argument ends the run before the scan: the world stays as written.
    for (const int id : {1, 3, 4}) {
      EXPECT_LE(world.Counter(id, "getFeature"), 1) << id;
      EXPECT_EQ(world.Counter(id, "setFeature"), 0) << id;
    }
    EXPECT_EQ(world.RelayState(1), 0x5A);
    EXPECT_EQ(world.RelayState(3), 0x05);
  }
}

// A board is chosen by its own ID or its device path as well as by its number; an ID
// that two boards share, or that no board has, switches nothing.
TEST(SimulatedBoards, ChoosesABoardByItsIdOrPath) {
  const World world("same-id.json");
  std::string upperPath = world.DevicePath(3);
  std::transform(upperPath.begin(), upperPath.end(), upperPath.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  struct NameCase {
    CommandCase run;
    int switched;  // the device whose relays changed, 0 for none
  };
  const NameCase cases[] = {
      {{{"ID=ABCDE", "ON=1"}, 0, "\n    Status: 01\n"}, 2},
      {{{"id=ABCDE", "ON=1"}, 0, "\n    Status: 01\n"}, 2},
      {{{"ID=" + world.DevicePath(3), "ON=1"}, 0, "\n    Status: 01\n"}, 3},
      {{{"state", "ID=ABCDE"}, 0, "\n    Status: 00\n"}, 0},
      {{{"ID=HURTM", "ON=1"},
        2,
        "\nERROR: More than one relay board has the ID \"HURTM\"; give its number or its path "
        "instead:\n    board 1: " +
            world.DevicePath(1) + "\n    board 3: " + world.DevicePath(3) + "\n"},
       0},
      {{{"ID=QQQQQ", "ON=1"}, 2, "\nERROR: No relay board has the ID \"QQQQQ\"!\n"}, 0},
      // IDs are case-sensitive; short values stay what they were.
      {{{"ID=abcde", "ON=1"}, 2, "\nERROR: No relay board has the ID \"abcde\"!\n"}, 0},
      {{{"ID=X", "ON=1"}, 1, "\n    ERROR: The argument \"ID=X\" is not valid!\n"}, 0},
  // A path in other letters: the same device on Windows, no device on POSIX.
#ifdef _WIN32
      {{{"ID=" + upperPath, "ON=1"}, 0, "\n    Status: 01\n"}, 3},
#else
      {{{"ID=" + upperPath, "ON=1"},
        2,
        "\nERROR: No relay board has the path \"" + upperPath + "\"!\n"},
       0},
#endif
      {{{"state", "ID=" + world.DevicePath(9)},
        2,
        "\nERROR: No relay board has the path \"" + world.DevicePath(9) + "\"!\n"},
       0},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(Joined(c.run.arguments));
    world.Reset();
    ExpectRun(world, c.run);
    for (const int id : {1, 2, 3}) {
      EXPECT_EQ(world.RelayState(id), id == c.switched ? 0x01 : 0x00) << id;
      if (id != c.switched) {
        EXPECT_EQ(world.Counter(id, "setFeature"), 0) << id;
      }
    }
  }
}

// Two boards that share an ID: one is given a new ID, sent as one 0xFA command and read
// back; from then on each is chosen by its own ID.
TEST(SimulatedBoards, GivesABoardANewIdAndChoosesItByThatId) {
  const World world("same-id.json");
  ExpectRun(world, {{"set-id", "NEWID", "ID=3"}, 0, "\n    ID: NEWID\n"});
  EXPECT_EQ(
      world.FeatureExchanges(3),
      (std::vector<std::string>{"GET 00 00 00 00 00 00 00 00 00 > 00 48 55 52 54 4d 00 00 00",
                                "SET 00 fa 4e 45 57 49 44 00 00",
                                "GET 00 fa 4e 45 57 49 44 00 00 > 00 4e 45 57 49 44 00 00 00"}));
  EXPECT_EQ(world.Device(3)["relay"]["boardId"], "NEWID");
  EXPECT_EQ(world.Device(1)["relay"]["boardId"], "HURTM");

  ExpectRun(world, {{"ID=NEWID", "ON=2"}, 0, "\n    Status: 02\n"});
  ExpectRun(world, {{"ID=HURTM", "ON=3"}, 0, "\n    Status: 04\n"});
  EXPECT_EQ(world.RelayState(3), 0x02);
  EXPECT_EQ(world.RelayState(1), 0x04);
}

TEST(SimulatedBoards, RefusesABadNewIdAndReportsABoardThatDoesNotTakeIt) {
  const World world("same-id.json");
  for (const std::string bad : {"AB", "ABCDEF", "AB\tDE",
                                "\xC3\x84"
                                "BCDE",
                                ""}) {
    SCOPED_TRACE(bad);
    world.Reset();
    const test::ProcessResult result = world.Run({"set-id", bad, "ID=2"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(world.Device(2)["relay"]["boardId"], "ABCDE");
    EXPECT_EQ(world.Counter(2, "setFeature"), 0);
  }
  // A board whose commands fail keeps its ID: status 3.
  world.Reset();
  world.Patch(2, {{"faults", {{"setFeature", {{"from", 1}}}}}});
  ExpectRun(world, {{"set-id", "NEWID", "ID=ABCDE"},
                    3,
                    "\nERROR: Relay board 2 did not take the ID \"NEWID\"!\n"});
  EXPECT_EQ(world.Device(2)["relay"]["boardId"], "ABCDE");
}

// An ID that "ID=" reads as a board number would choose another board: set-id refuses it
// before anything is sent, and a board that holds one already is never chosen by it while
// its number means another board.
TEST(SimulatedBoards, NeverTakesAnIdThatReadsAsANumberForAnotherBoard) {
  const World world("same-id.json");
  for (const std::string numeric :
       {"x0001", "X0001", "$0001", "+0001", " 0001", "0x001", "00001"}) {
    SCOPED_TRACE(numeric);
    const test::ProcessResult result = world.Run({"set-id", numeric, "ID=2"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, Native("\n    ERROR: The ID \"" + numeric +
                                    "\" is not valid: ID= would read it as board number 1!\n"));
  }
  EXPECT_EQ(world.Device(2)["relay"]["boardId"], "ABCDE");
  EXPECT_EQ(world.Counter(2, "setFeature"), 0);

  // Shipped with such an ID, or given it by another program.
  world.Patch(2, {{"relay", {{"boardId", "x0001"}}}});
  world.Patch(3, {{"relay", {{"boardId", "00003"}}}});
  ExpectRun(world, {{"ID=x0001", "ON=ALL"},
                    2,
                    "\nERROR: \"x0001\" is both a board number and the ID of a relay board; "
                    "give its path instead:\n    board 1 (number 1): " +
                        world.DevicePath(1) +
                        "\n    board 2 (ID \"x0001\"): " + world.DevicePath(2) + "\n"});
  for (const int id : {1, 2, 3}) {
    EXPECT_EQ(world.Counter(id, "setFeature"), 0) << id;
  }
  // Its path still chooses it; a number whose board holds it as its ID means that board.
  ExpectRun(world, {{"ID=" + world.DevicePath(2), "ON=1"}, 0, "\n    Status: 01\n"});
  ExpectRun(world, {{"ID=00003", "ON=2"}, 0, "\n    Status: 02\n"});
  EXPECT_EQ(world.RelayState(1), 0x00);
  EXPECT_EQ(world.RelayState(2), 0x01);
  EXPECT_EQ(world.RelayState(3), 0x02);
}

// The write went out but the board could not be read back: the ID may well have been
// taken, so the tool says it could not check rather than that the board refused.
TEST(SimulatedBoards, TellsAnIdThatWasSentButNotCheckedFromOneRefused) {
  const World world("same-id.json");
  world.Patch(2, {{"faults", {{"getFeature", {{"from", 2}}}}}});
  const test::ProcessResult result = world.Run({"set-id", "NEWID", "ID=2"});
  EXPECT_EQ(result.exitStatus, 5);
  EXPECT_EQ(result.output,
            Native("\nERROR: Relay board 2 was sent the ID \"NEWID\", but its ID could not be "
                   "read back to check it!\n    \"Quorvel list\" shows the ID it holds.\n"));
  EXPECT_EQ(world.Device(2)["relay"]["boardId"], "NEWID");
}

// A board that answers but keeps another ID than the one sent: read back, status 3.
TEST(SimulatedBoards, ReportsABoardThatReadsBackAnotherId) {
  const World world("refusing-board.json");
  ExpectRun(world,
            {{"set-id", "NEWID"}, 3, "\nERROR: Relay board 1 did not take the ID \"NEWID\"!\n"});
  EXPECT_EQ(
      world.FeatureExchanges(1),
      (std::vector<std::string>{"GET 00 00 00 00 00 00 00 00 00 > 00 48 55 52 54 4d 00 00 03",
                                "SET 00 fa 4e 45 57 49 44 00 03",
                                "GET 00 fa 4e 45 57 49 44 00 03 > 00 fa 4e 45 57 49 44 00 03"}));
}

// The JSON of the listing and of one board's state, read by a JSON parser.
TEST(SimulatedBoards, ListsAndReadsBoardsAsJson) {
  const World world("three-boards.json");
  const test::ProcessResult listing = world.Run({"list", "--json"});
  EXPECT_EQ(listing.exitStatus, 0);
  const json boards = json::parse(listing.output)["boards"];
  ASSERT_EQ(boards.size(), 3u);
  EXPECT_EQ(boards[0], json({{"number", 1},
                             {"id", "ABCDE"},
                             {"relays", 8},
                             {"state", 0x5A},
                             {"path", world.DevicePath(1)}}));
  EXPECT_EQ(boards[1], json({{"number", 2},
                             {"id", "HURTM"},
                             {"relays", 4},
                             {"state", 5},
                             {"path", world.DevicePath(3)}}));
  EXPECT_EQ(boards[2], json({{"number", 3},
                             {"id", nullptr},
                             {"relays", 2},
                             {"state", nullptr},
                             {"path", world.DevicePath(4)}}));

  const test::ProcessResult state = world.Run({"state", "ID=HURTM", "--JSON"});
  EXPECT_EQ(state.exitStatus, 0);
  EXPECT_EQ(json::parse(state.output), boards[1]);
  for (const int id : {1, 3}) {
    EXPECT_EQ(world.Counter(id, "setFeature"), 0) << id;
  }
}

// A device the layer cannot identify is left out, and named on standard error; the boards
// beside it still work.
TEST(SimulatedBoards, SkipsADeviceThatCannotBeIdentified) {
  const World world("unidentifiable-device.json");
  const std::string skipped = Native("quorvel: skipped a HID device that cannot be identified: " +
                                     world.DevicePath(2, "vid_0000&pid_0000") + "\n");
  const test::ProcessResult listing = world.Run({"-h"});
  EXPECT_EQ(listing.exitStatus, 0);
  EXPECT_TRUE(listing.output.ends_with(Native(Listing("  * USBRelay8\n  * USBRelay8\n"))))
      << listing.output;
  EXPECT_EQ(listing.errors, skipped);

  const test::ProcessResult result = ExpectRun(world, {{"ID=2", "ON=1"}, 0, "\n    Status: 01\n"});
  EXPECT_EQ(result.errors, skipped);
  EXPECT_EQ(world.RelayState(3), 0x01);
  EXPECT_EQ(world.RelayState(1), 0x00);
  EXPECT_TRUE(world.FeatureExchanges(1).empty());
  EXPECT_TRUE(world.FeatureExchanges(2).empty());
}

TEST(SimulatedBoards, ReportsABoardThatVanishedAfterTheScan) {
  const World world("one-board.json");
  // A help run makes the same calls as the scan of a relay run.
  ASSERT_EQ(world.Run({}).exitStatus, 0);
  const int scanCalls = world.Device(1)["counters"]["calls"].get<int>();
  ASSERT_GT(scanCalls, 0);
  world.SetRelayState(1, 0x0F);
  world.Patch(1, {{"faults", {{"vanishAfter", 2 * scanCalls}}}});

  const test::ProcessResult result = world.Run({"ON=5"});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.output, Native("\nERROR: Could not read the state of relay board 1!\n"));
  EXPECT_TRUE(world.Device(1)["vanished"].get<bool>());
  EXPECT_EQ(world.RelayState(1), 0x0F);
}

#ifdef QUORVEL_WINE_OWN_EXE
// Wine's own HID and device-installation DLLs: Wine's virtual devices, no board.
TEST(WineOwnDevices, AreListedAndAreNoBoards) {
  const test::ProcessResult relay = test::RunProcess(QUORVEL_WINE_OWN_EXE, "", {"ON=1"});
  EXPECT_EQ(relay.exitStatus, 2);
  EXPECT_EQ(relay.output, Native(kBoardCount));

  // Wine's bus driver adds its devices a while after the Wine server starts.
  test::ProcessResult help;
  std::string lines;
  for (int attempt = 0; attempt < 20; ++attempt) {
    help = test::RunProcess(QUORVEL_WINE_OWN_EXE, "", {});
    const std::size_t listing = help.output.find("\r\n    USB Devices found:\r\n\r\n");
    ASSERT_NE(listing, std::string::npos) << help.output;
    lines = help.output.substr(listing);
    if (lines.find("Wine HID") != std::string::npos) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(lines.find("  * "), std::string::npos) << lines;
  if (lines.find("Wine HID") == std::string::npos) {
    GTEST_SKIP() << "this Wine prefix presents no HID device of its own";
  }
  EXPECT_NE(lines.find("\r\n    Wine HID mouse\r\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("\r\n    Wine HID keyboard\r\n"), std::string::npos) << lines;
}
#endif

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  EXPECT_EQ(start, text.size()) << "a line without its end: " << text.substr(start);
  return lines;
}

std::size_t CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& line : lines) {
    count += line.starts_with(prefix) ? 1U : 0U;
  }
  return count;
}

// QUORVEL_TRACE=1 says on standard error where the modules came from and what each
// feature exchange carried; standard output and the result stay as without it.
TEST(SimulatedBoards, TheTraceGoesToStandardErrorOnly) {
#ifdef _WIN32
  const std::string setupApi = "SetupApi.dll";
  const std::string hid = "HID.dll";
#else
  const std::string setupApi = "libquorvel-setupapi.so";
  const std::string hid = "libquorvel-hid.so";
#endif
  for (const std::string value : {"", "0"}) {
    const World quiet("one-board.json");
    const test::ProcessResult result = quiet.Run({"ON=1,2"}, {{"QUORVEL_TRACE", value}});
    EXPECT_EQ(result.exitStatus, 0) << value;
    EXPECT_EQ(result.errors, "") << value;
  }
  const World quiet("one-board.json");
  const test::ProcessResult untraced = quiet.Run({"ON=1,2"});
  const World traced("one-board.json");
  const test::ProcessResult result = traced.Run({"ON=1,2"}, {{"QUORVEL_TRACE", "1"}});
  EXPECT_EQ(result.exitStatus, untraced.exitStatus);
  EXPECT_EQ(result.output, untraced.output);
  EXPECT_EQ(result.output, Native("\n    Status: 03\n"));

  const std::vector<std::string> lines = Lines(result.errors);
  EXPECT_EQ(CountStarting(lines, "quorvel trace: "), lines.size()) << result.errors;
  for (const std::string& module : {setupApi, hid}) {
    const std::string loaded = "quorvel trace: module " + module + " loaded from ";
    ASSERT_EQ(CountStarting(lines, loaded), 1U) << module << "\n" << result.errors;
    for (const std::string& line : lines) {
      if (line.starts_with(loaded)) {
        // The file the loader found: the simulated module, in its own folder.
        const std::string path = line.substr(loaded.size());
        EXPECT_TRUE(path.ends_with(module)) << line;
        EXPECT_TRUE(fs::exists(fs::u8path(path))) << line;
        EXPECT_EQ(fs::path(path).parent_path().filename(), "sim") << line;
      }
    }
  }
  // Each feature exchange the world logged, in order, with the bytes that went out (a set)
  // or came back (a get).
  std::vector<std::string> expected;
  const json world = traced.Read();
  for (const json& entry : world["log"]) {
    const std::string call = entry.value("call", std::string());
    if (call == "HidD_GetFeature" || call == "HidD_SetFeature") {
      std::string bytes =
          entry.value(call == "HidD_GetFeature" ? "received" : "sent", std::string());
      for (char& c : bytes) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
      expected.push_back("quorvel trace: " + call + " simulated device " +
                         std::to_string(entry.value("device", 0)) + " [" + bytes + "]: ok");
    }
  }
  EXPECT_EQ(expected.size(), 10U);  // the state read, eight relay commands, the state read back
  std::vector<std::string> exchanges;
  for (const std::string& line : lines) {
    if (line.find("simulated device") != std::string::npos) {
      exchanges.push_back(line);
    }
  }
  EXPECT_EQ(exchanges, expected);
}

// The second level adds the layer's scan and check-outs and the board service's decoded
// exchanges and choices; the first shows none of them. Standard output stays the same.
TEST(SimulatedBoards, TheTracesSecondLevelTellsWhatTheBoardServiceDecided) {
  const World world("same-id.json");
  const std::string path = world.DevicePath(2);
  const test::ProcessResult first = world.Run({"ID=ABCDE", "ON=1,3"}, {{"QUORVEL_TRACE", "1"}});
  world.Reset();
  const test::ProcessResult second = world.Run({"ID=ABCDE", "ON=1,3"}, {{"QUORVEL_TRACE", "2"}});
  EXPECT_EQ(first.output, Native("\n    Status: 05\n"));
  EXPECT_EQ(second.output, first.output);
  // Each line with how often: the board is read once to find its ID and once to switch it;
  // the controller scans once more as it ends.
  const std::pair<std::string, int> decided[] = {
      {"quorvel trace: choice \"ABCDE\": chosen, board 2", 1},
      {"quorvel trace: board " + path + ": state 00, ID \"ABCDE\"", 2},
      {"quorvel trace: board " + path + ": relay 1 on", 1},
      {"quorvel trace: board " + path + ": relay 2 off", 1},
      {"quorvel trace: board " + path + ": relay 3 on", 1},
      {"quorvel trace: board " + path + ": state 05, ID \"ABCDE\"", 1},
      {"quorvel trace: scan: 3 HID interface(s) present, 0 listed before", 1},
      {"quorvel trace: check-out: device 1 " + path, 1},
  };
  const std::vector<std::string> lines = Lines(second.errors);
  for (const auto& [line, times] : decided) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), times) << line << "\n" << second.errors;
    EXPECT_EQ(first.errors.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(first.errors.find("check-out"), std::string::npos);
}

// A failed exchange shows its error in the trace.
TEST(SimulatedBoards, TheTraceShowsAFailedExchangesError) {
  const World world("one-board.json");
  world.Patch(1, {{"faults", {{"getFeature", {{"from", 1}, {"error", 31}}}}}});
  const test::ProcessResult result = world.Run({"ON=1"}, {{"QUORVEL_TRACE", "1"}});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_NE(result.errors.find("HidD_GetFeature simulated device 1 [00 "), std::string::npos)
      << result.errors;
  EXPECT_NE(result.errors.find(": failed: error 31"), std::string::npos) << result.errors;
}

}  // namespace
}  // namespace quorvel::app
