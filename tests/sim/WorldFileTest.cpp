// The world file across processes: each run of a program over the simulated modules
// sees the boards as the run before left them, with one continuing log of bounded
// length; the file is written once, as the process ends, so a killed run leaves it as
// it was; a bad world file is reported, gives an empty world and is left as it was.
// A write-back takes the world's lock, which a killed holder lets go of; a linked
// world file is written through its link.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;
using TJson = nlohmann::json;

struct TRun {
  int Status = -1;
  std::string Out;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class WorldFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = fs::temp_directory_path() /
             ("quorvel-world-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    Path = Folder / "world.json";
  }
  void TearDown() override { fs::remove_all(Folder); }

  void WriteWorld(const std::string& text) { std::ofstream(Path, std::ios::binary) << text; }

  // Runs the helper as a process of its own on the world file; its standard error
  // goes to a file beside the world.
  TRun Run(const std::string& arguments) {
    const std::string command = "QUORVEL_SIM_WORLD='" + Path.string() + "' '" + QUORVEL_SIM_HELPER +
                                "' " + arguments + " 2>'" + (Folder / "stderr.txt").string() + "'";
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
      return run;
    }
    char chunk[4096];
    std::size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
      run.Out.append(chunk, n);
    }
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  TJson State() {
    const auto run = Run("state");
    EXPECT_EQ(run.Status, 0);
    return TJson::parse(run.Out, nullptr, false);
  }

  fs::path Folder;
  fs::path Path;
};

TEST_F(WorldFile, SuccessiveRunsSeeTheSameBoards) {
  WriteWorld(ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json"));
  ASSERT_EQ(Run("00 ff 03 00 00 00 00 00 00").Status, 2);  // bad usage changes nothing
  ASSERT_EQ(Run("switch 00 ff 03 00 00 00 00 00 00").Status, 0);
  ASSERT_EQ(Run("switch 00 fa 4e 45 57 49 44 00 00").Status, 0);

  const auto world = State();
  ASSERT_TRUE(world.is_object());
  EXPECT_EQ(world["devices"][0]["relay"]["state"], 0x04);
  EXPECT_EQ(world["devices"][0]["relay"]["boardId"], "NEWID");
  EXPECT_EQ(world["devices"][1]["relay"]["state"], 0x02);  // untouched
  // Both runs' exchanges, in order: open, command, close each.
  const auto& log = world["log"];
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1]["call"], "HidD_SetFeature");
  EXPECT_EQ(log[1]["sent"], "00 ff 03 00 00 00 00 00 00");
  EXPECT_EQ(log[4]["sent"], "00 fa 4e 45 57 49 44 00 00");

  // The file itself: one log entry per line, and no temporary left beside it.
  const auto text = ReadText(Path);
  EXPECT_NE(text.find("\n    {\"call\":\"HidD_SetFeature\",\"device\":1,\"error\":0,"
                      "\"sent\":\"00 ff 03 00 00 00 00 00 00\"}"),
            std::string::npos)
      << text;
  EXPECT_EQ(Names(Folder), (std::set<std::string>{"world.json", "world.json.lock", "stderr.txt"}));
}

TEST_F(WorldFile, VanishedBoardStaysGone) {
  WriteWorld(R"({"devices": [{"relay": {"boardId": "AAAAA"}, "faults": {"vanishAfter": 1}},
                             {"relay": {"boardId": "BBBBB"}}]})");
  EXPECT_EQ(Run("switch 00 fe 00 00 00 00 00 00 00").Status, 1);  // opened, then gone
  // The next run's scan no longer finds it: the first present board is BBBBB.
  ASSERT_EQ(Run("switch 00 fe 00 00 00 00 00 00 00").Status, 0);
  const auto world = State();
  EXPECT_EQ(world["devices"][0]["vanished"], true);
  EXPECT_EQ(world["devices"][0]["relay"]["state"], 0);
  EXPECT_EQ(world["devices"][1]["relay"]["state"], 0xFF);
}

struct BadFileCase {
  const char* Name;
  const char* Text;
  const char* Reason;
};

const BadFileCase kBadFiles[] = {
    {"NotJson", "{ \"devices\": [", "not valid JSON"},
    {"BadDevice", R"({"devices": [{"relay": {"relays": 5}}]})", "device 1: relay.relays"},
    {"NotAnObject", "[1, 2]", "must be a JSON object"},
    // Numbered 1, the first board would take the second's id, which would be lost.
    {"IdOfANumberedDevice",
     R"({"devices":[{"relay":{"boardId":"AAAAA"}},{"id":1,"relay":{"boardId":"BBBBB"}}]})",
     "device 2: id: 1 is taken by device 1"},
    {"InstanceOfANumberedDevice",
     R"({"devices":[{"relay":{"boardId":"AAAAA"}},{"instance":1,"relay":{"boardId":"BBBBB"}}]})",
     "device 2: instance: 1 is taken by device 1"},
};

class BadWorldFile : public WorldFile, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadWorldFile, IsReportedAndLeftAlone) {
  WriteWorld(GetParam().Text);
  const auto world = State();
  EXPECT_EQ(world["devices"], TJson::array());
  const auto message = ReadText(Folder / "stderr.txt");
  EXPECT_NE(message.find("world file"), std::string::npos) << message;
  EXPECT_NE(message.find(GetParam().Reason), std::string::npos) << message;
  EXPECT_EQ(ReadText(Path), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Simulation, BadWorldFile, ::testing::ValuesIn(kBadFiles),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(WorldFile, DeepNestingIsRefusedWithoutACrash) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const auto& text :
       {R"({"devices": )" + deep + "}", R"({"devices": [], "log": )" + deep + "}"}) {
    WriteWorld(text);
    const auto world = State();
    EXPECT_EQ(world["devices"], TJson::array());
    const auto message = ReadText(Folder / "stderr.txt");
    EXPECT_NE(message.find("nested deeper than 64 levels"), std::string::npos) << message;
    EXPECT_TRUE(ReadText(Path) == text);
  }
}

TEST_F(WorldFile, NumbersAfterTheLargestLeaveTheFileReadable) {
  WriteWorld(R"({"devices": [{"id": 2147483647, "instance": 4294967295,
                              "relay": {"boardId": "AAAAA"}},
                             {"relay": {"boardId": "BBBBB"}}]})");
  ASSERT_EQ(Run("switch 00 ff 01 00 00 00 00 00 00").Status, 0);
  for (int run = 0; run < 2; ++run) {
    const auto world = State();
    EXPECT_EQ(ReadText(Folder / "stderr.txt"), "");
    ASSERT_EQ(world["devices"].size(), 2u) << world;
    EXPECT_EQ(world["devices"][0]["id"], 2147483647);
    EXPECT_EQ(world["devices"][0]["instance"], 4294967295u);
    EXPECT_EQ(world["devices"][0]["relay"]["state"], 1);
    EXPECT_EQ(world["devices"][1]["id"], 1);
    EXPECT_EQ(world["devices"][1]["instance"], 1);
  }
}

TEST_F(WorldFile, WrittenOnceAsTheProcessEnds) {
  const std::string original = ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json");
  WriteWorld(original);
  // A run that changes nothing leaves the file as it was written, layout and all.
  ASSERT_EQ(State()["devices"].size(), 2u);
  EXPECT_EQ(ReadText(Path), original);

  // Not after the exchanges; when the world is asked to save; and at the end.
  auto run = Run("switch-save 00 ff 01 00 00 00 00 00 00");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "file unchanged\nfile changed\n");
  EXPECT_EQ(Run("switch-exit 00 ff 02 00 00 00 00 00 00").Status, 0);  // exit() without unbinding
  const auto world = State();
  EXPECT_EQ(world["devices"][0]["relay"]["state"], 0x03);
  EXPECT_EQ(world["log"].size(), 6u);
}

TEST_F(WorldFile, KilledRunLeavesTheFileAsItWas) {
  const std::string original = ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json");
  WriteWorld(original);
  const auto run = Run("switch-kill 00 ff 01 00 00 00 00 00 00");
  EXPECT_EQ(run.Status, 128 + SIGKILL);  // as the shell that ran it reports a kill
  EXPECT_EQ(run.Out, "file unchanged\n");
  EXPECT_EQ(ReadText(Path), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder), fs::directory_iterator()), 2);
}

TEST_F(WorldFile, TemporariesOfEndedProcessesAreRemoved) {
  WriteWorld(ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json"));
  // A process that has ended, as one killed between writing and renaming would have.
  const pid_t ended = fork();
  if (ended == 0) {
    _exit(0);
  }
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const auto stale = Folder / ("world.json.tmp" + std::to_string(ended));
  const auto running = Folder / ("world.json.tmp" + std::to_string(getpid()));
  const auto other = Folder / "world.json.tmpnotes";
  for (const auto& file : {stale, running, other}) {
    std::ofstream(file) << "{}";
  }
  ASSERT_EQ(State()["devices"].size(), 2u);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(running));  // this test's process runs: it may still rename it
  EXPECT_TRUE(fs::exists(other));
}

TEST_F(WorldFile, LogKeepsItsNewestThousandEntries) {
  std::string text = R"({"devices": [{"relay": {"boardId": "AAAAA"}}], "log": [)";
  for (int i = 0; i < 1000; ++i) {
    text += (i == 0 ? "" : ",") + std::string(R"({"device": 1, "call": "ReadFile", "arg": )") +
            std::to_string(i) + "}";
  }
  WriteWorld(text + "]}");
  ASSERT_EQ(Run("switch 00 ff 01 00 00 00 00 00 00").Status, 0);  // open, set, close
  const auto log = State()["log"];
  ASSERT_EQ(log.size(), 1000u);
  EXPECT_EQ(log[0]["arg"], 3);
  EXPECT_EQ(log[996]["call"], "ReadFile");
  EXPECT_EQ(log[997]["call"], "CreateFileW");
  EXPECT_EQ(log[999]["call"], "CloseHandle");
}

TEST_F(WorldFile, ARegularOrLinkedFileKeepsItsModeAndALinkStaysALink) {
  const auto target = Folder / "boards" / "real.json";
  fs::create_directories(target.parent_path());
  constexpr auto kMode = fs::perms::owner_read | fs::perms::owner_write;
  for (const bool linked : {true, false}) {
    SCOPED_TRACE(linked ? "linked" : "regular");
    const auto file = linked ? target : Path;
    std::ofstream(file, std::ios::binary)
        << ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json");
    fs::permissions(file, kMode);
    if (linked) {
      fs::create_symlink("boards/real.json", Path);  // relative, as people make them
    }
    ASSERT_EQ(Run("switch 00 ff 03 00 00 00 00 00 00").Status, 0);
    EXPECT_EQ(ReadText(Folder / "stderr.txt"), "");
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(Path)), linked);
    EXPECT_EQ(fs::status(file).permissions(), kMode);
    const auto written = TJson::parse(ReadText(file), nullptr, false);
    ASSERT_TRUE(written.is_object());
    EXPECT_EQ(written["devices"][0]["relay"]["commanded"], 0x04);
    EXPECT_EQ(State()["devices"][0]["relay"]["state"], 0x04);
    if (linked) {
      // The lock and the temporaries go beside the file written, none beside the link.
      EXPECT_EQ(Names(Folder), (std::set<std::string>{"world.json", "boards", "stderr.txt"}));
      EXPECT_EQ(Names(target.parent_path()),
                (std::set<std::string>{"real.json", "real.json.lock"}));
      fs::remove(Path);
    }
  }
}

TEST_F(WorldFile, AWriteBackWaitsForTheLockAndAKilledHolderLetsGoOfIt) {
  WriteWorld(ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json"));
  const std::string original = ReadText(Path);
  // A process that holds the world's lock, as one stopped in its write-back would.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    const int lock = open((Path.string() + ".lock").c_str(), O_RDONLY | O_CREAT, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0 || write(ready[1], "L", 1) != 1) {
      _exit(1);
    }
    pause();
    _exit(0);
  }
  ASSERT_GT(holder, 0);
  char locked = 0;
  ASSERT_EQ(read(ready[0], &locked, 1), 1);
  close(ready[0]);
  close(ready[1]);

  auto run =
      std::async(std::launch::async, [this] { return Run("switch 00 ff 03 00 00 00 00 00 00"); });
  EXPECT_EQ(run.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  EXPECT_EQ(ReadText(Path), original);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(run.get().Status, 0);
  EXPECT_EQ(ReadText(Folder / "stderr.txt"), "");
  EXPECT_EQ(State()["devices"][0]["relay"]["state"], 0x04);
}

TEST_F(WorldFile, AFileRemovedWhileARunWorksIsWrittenAnew) {
  WriteWorld(ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json"));
  ASSERT_EQ(Run("switch-remove 00 ff 03 00 00 00 00 00 00").Status, 0);
  const auto world = State();
  ASSERT_EQ(world["devices"].size(), 2u);
  EXPECT_EQ(world["devices"][0]["relay"]["state"], 0x04);
  EXPECT_EQ(world["devices"][1]["relay"]["state"], 0x02);
  EXPECT_EQ(world["log"].size(), 3u);
}

TEST_F(WorldFile, AFolderThatCannotBeWrittenIsReportedAndTheFileLeftAsItWas) {
  const auto folder = Folder / "read-only";
  fs::create_directories(folder);
  Path = folder / "world.json";
  WriteWorld(ReadText(fs::path(QUORVEL_SIM_TEST_DATA) / "two-boards.json"));
  const std::string original = ReadText(Path);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  const bool writable = access(folder.c_str(), W_OK) == 0;
  if (!writable) {
    EXPECT_EQ(Run("switch 00 ff 03 00 00 00 00 00 00").Status, 0);
  }
  fs::permissions(folder, fs::perms::owner_all);
  if (writable) {
    GTEST_SKIP() << "this user may write any folder";
  }
  const auto message = ReadText(Folder / "stderr.txt");
  EXPECT_NE(message.find("world file \"" + Path.string() + "\": cannot create the lock"),
            std::string::npos)
      << message;
  EXPECT_EQ(ReadText(Path), original);
  EXPECT_EQ(Names(folder), (std::set<std::string>{"world.json"}));
}

TEST_F(WorldFile, MissingFileIsReported) {
  const auto world = State();
  EXPECT_EQ(world["devices"], TJson::array());
  EXPECT_NE(ReadText(Folder / "stderr.txt").find("cannot be read"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path));
}

}  // namespace
