// The world file across processes: each run of a program over the simulated modules
// sees the boards as the run before left them, with one continuing log; a bad world
// file is reported, gives an empty world and is left as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder), fs::directory_iterator()), 2);
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

TEST_F(WorldFile, MissingFileIsReported) {
  const auto world = State();
  EXPECT_EQ(world["devices"], TJson::array());
  EXPECT_NE(ReadText(Folder / "stderr.txt").find("cannot be read"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path));
}

}  // namespace
