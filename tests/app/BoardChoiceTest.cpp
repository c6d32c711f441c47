// Choosing a board by "ID=": numbers that are also IDs, and paths as the system resolves
// them, over boards whose paths are real files.
#include "app/BoardChoice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Utf.h"
#include "tests/app/BufferConsole.h"

namespace quorvel::app {
namespace {

namespace fs = std::filesystem;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

// Boards with a path and an ID each; counts the reads, since a number that cannot be an ID
// must choose its board without reading any.
class NamedBoards final : public BoardSource {
 public:
  struct TBoard {
    std::string Path;
    std::string Id;
  };
  std::vector<TBoard> boards;
  int reads = 0;

  void CreateController() override {}
  void FreeController() noexcept override {}
  const std::vector<std::u16string>& DeviceLines() const override { return lines_; }
  std::int32_t BoardCount() const override { return static_cast<std::int32_t>(boards.size()); }
  TSwitchResult SwitchRelays(const TRelayRequest& /*Request*/) override { return {}; }
  TBoardInfo BoardInfo(std::int32_t number) const override {
    return {.Path = Utf8ToUtf16(boards.at(static_cast<std::size_t>(number) - 1).Path)};
  }
  TBoardReading ReadBoard(std::int32_t number) override {
    ++reads;
    return {.ReadOk = true, .BoardId = boards.at(static_cast<std::size_t>(number) - 1).Id};
  }

 private:
  std::vector<std::u16string> lines_;
};

struct Outcome {
  ExitStatus status;
  std::string argument;  // "ID=N" for board N chosen by name, the argument itself otherwise
  std::string output;
};

Outcome Resolve(NamedBoards& boards, const std::string& value) {
  const std::vector<std::u16string> args{u"ON=1", Utf8ToUtf16("ID=" + value)};
  std::vector<std::optional<std::int32_t>> named;
  test::BufferConsole output;
  const ExitStatus status = ChooseNamedBoards(args, named, output, boards);
  EXPECT_FALSE(named[0]);
  const std::string argument = named[1] ? "ID=" + std::to_string(*named[1]) : Utf16ToUtf8(args[1]);
  return {status, argument, output.Bytes()};
}

TEST(BoardChoice, ANumberThatABoardAlsoHoldsAsItsIdChoosesNothing) {
  NamedBoards boards;
  boards.boards = {{"/b/one", "LAMP1"}, {"/b/two", "x0001"}, {"/b/three", "00003"}};
  struct Case {
    std::string value;
    ExitStatus status;
    std::string argument;
    std::string output;
  };
  const Case cases[] = {
      // Each of these reads as board number 1 while board 2 holds it.
      {"x0001", ExitStatus::NoSuchBoard, "ID=x0001",
       "\nERROR: \"x0001\" is both a board number and the ID of a relay board; give its path "
       "instead:\n    board 1 (number 1): /b/one\n    board 2 (ID \"x0001\"): /b/two\n"},
      // The board's number and its ID agree: either reading is that board.
      {"00003", ExitStatus::Success, "ID=00003", ""},
      // No board 9: only the board that holds it is named.
      {"00009", ExitStatus::Success, "ID=00009", ""},
      {"LAMP1", ExitStatus::Success, "ID=1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const Outcome outcome = Resolve(boards, c.value);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.argument, c.argument);
    EXPECT_EQ(outcome.output, c.output);
  }

  boards.boards[2].Id = "00009";
  const Outcome missing = Resolve(boards, "00009");
  EXPECT_EQ(missing.status, ExitStatus::NoSuchBoard);
  EXPECT_EQ(missing.output,
            "\nERROR: \"00009\" is both a board number and the ID of a relay board; give its "
            "path instead:\n    board 3 (ID \"00009\"): /b/three\n");

  // A board whose number and ID agree is named once, with both, beside another holder.
  boards.boards = {{"/b/one", "00001"}, {"/b/two", "00001"}};
  EXPECT_EQ(Resolve(boards, "00001").output,
            "\nERROR: \"00001\" is both a board number and the ID of a relay board; give its path "
            "instead:\n    board 1 (number 1, ID \"00001\"): /b/one\n    board 2 (ID \"00001\"): "
            "/b/two\n");
}

TEST(BoardChoice, ANumberThatCannotBeAnIdReadsNoBoard) {
  NamedBoards boards;
  boards.boards = {{"/b/one", "00001"}, {"/b/two", "2    "}};
  for (const std::string value : {"1", "2", "0x2", "$02", "000002"}) {
    SCOPED_TRACE(value);
    const Outcome outcome = Resolve(boards, value);
    EXPECT_EQ(outcome.status, ExitStatus::Success);
    EXPECT_EQ(outcome.argument, "ID=" + value);
  }
  EXPECT_EQ(boards.reads, 0);
}

class TempFolder {
 public:
  TempFolder()
      : path_(fs::temp_directory_path() /
              ("quorvel-choice-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

TEST(BoardChoice, APathChoosesTheBoardItResolvesTo) {
  const TempFolder folder;
  const fs::path dev = folder.Path() / "dev";
  fs::create_directories(dev);
  for (const char* node : {"hidraw1", "hidraw2"}) {
    std::ofstream(dev / node) << node;
  }
  NamedBoards boards;
  boards.boards = {{(dev / "hidraw1").string(), "LAMP1"}, {(dev / "hidraw2").string(), "PUMP2"}};
  const std::string d = dev.string();
  struct Case {
    std::string value;
    std::string argument;
  };
  std::vector<Case> cases = {
      {d + "/hidraw2", "ID=2"},
      {d + "//hidraw2", "ID=2"},
      {d + "/./hidraw1", "ID=1"},
      {d + "/../dev/hidraw2", "ID=2"},
  };
#ifndef _WIN32
  // The system's own links, as udev makes them for a board's USB port.
  fs::create_symlink(dev / "hidraw2", dev / "relay-pump");
  fs::create_symlink("hidraw1", dev / "relay-lamp");
  cases.push_back({d + "/relay-pump", "ID=2"});
  cases.push_back({d + "/relay-lamp", "ID=1"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const Outcome outcome = Resolve(boards, c.value);
    EXPECT_EQ(outcome.status, ExitStatus::Success) << outcome.output;
    EXPECT_EQ(outcome.argument, c.argument);
  }
  EXPECT_EQ(boards.reads, 0);

  // Relative to the folder the tool runs in, with or without a separator.
  const fs::path before = fs::current_path();
  fs::current_path(dev);
  const Outcome relative = Resolve(boards, "hidraw2");
  const Outcome dotted = Resolve(boards, "./hidraw1");
  fs::current_path(before);
  EXPECT_EQ(relative.argument, "ID=2");
  EXPECT_EQ(dotted.argument, "ID=1");
}

TEST(BoardChoice, APathThatNoBoardHasIsNamedAsAPath) {
  const TempFolder folder;
  std::ofstream(folder.Path() / "other") << "not a board";
  NamedBoards boards;
  boards.boards = {{"/b/one", "LAMP1"}};
  const std::string other = (folder.Path() / "other").string();
  struct Case {
    std::string value;
    ExitStatus status;
    std::string output;
  };
  const Case cases[] = {
      {other, ExitStatus::NoSuchBoard, "\nERROR: No relay board has the path \"" + other + "\"!\n"},
      {"/dev/nowhere", ExitStatus::NoSuchBoard,
       "\nERROR: No relay board has the path \"/dev/nowhere\"!\n"},
      {"QQQQQ", ExitStatus::NoSuchBoard, "\nERROR: No relay board has the ID \"QQQQQ\"!\n"},
      // Neither a path nor an ID: the grammar refuses it.
      {"XY", ExitStatus::Success, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const Outcome outcome = Resolve(boards, c.value);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.output, c.output);
  }
}

}  // namespace
}  // namespace quorvel::app
