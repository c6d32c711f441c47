#include "app/Entry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/BoardMessages.h"
#include "app/ExitStatus.h"
#include "hid/LayerTypes.h"
#include "platform/Utf.h"
#include "tests/app/BufferConsole.h"
#include "tests/app/Fixture.h"

namespace quorvel::app {
namespace {

using relay::ApplyChange;

using test::BufferConsole;
using test::ReadFixture;

enum class FailAt { Nowhere, Create, Switch, SwitchInLayer };

// Boards that record what the roads ask of them.
class RecordingBoards final : public BoardSource {
 public:
  std::vector<std::u16string> lines;
  std::int32_t boards = 0;
  TSwitchResult result{.FirstReadOk = true, .CommandsOk = true, .FinalReadOk = true};
  FailAt failAt = FailAt::Nowhere;
  std::vector<std::string> calls;
  std::string boardId = "ABCDE";  // every board's

  void CreateController() override {
    calls.push_back("create");
    if (failAt == FailAt::Create) {
      throw std::runtime_error("scan failed \xE2\x9C\x97");
    }
  }
  void FreeController() noexcept override { calls.push_back("free"); }
  const std::vector<std::u16string>& DeviceLines() const override { return lines; }
  std::int32_t BoardCount() const override { return boards; }
  TSwitchResult SwitchRelays(const TRelayRequest& request) override {
    calls.push_back("switch " + std::to_string(request.ID) + " " + std::to_string(request.OnMask) +
                    "/" + std::to_string(request.TouchedMask));
    if (failAt == FailAt::Switch) {
      throw std::logic_error("board went away");
    }
    if (failAt == FailAt::SwitchInLayer) {
      throw hid::EControllerError("Device cannot be identified");
    }
    return result;
  }
  TBoardReading ReadBoard(std::int32_t /*Number*/) override {
    return {.ReadOk = true, .BoardId = boardId};
  }
};

std::vector<std::u16string> Args(const std::vector<std::string>& utf8) {
  std::vector<std::u16string> args{u"/usr/bin/Quorvel.exe"};
  for (const std::string& arg : utf8) {
    args.push_back(platform::Utf8ToUtf16(arg));
  }
  return args;
}

constexpr char kBoardCount[] =
    "\nERROR: ID supplied is greater than the number of relay boards currently available!\n";

TEST(Run, TakesTheHelpRoadOnlyWhenTheFirstArgumentAsks) {
  const std::vector<std::vector<std::string>> helpRoad = {
      {}, {"-h"}, {"/?"}, {"x-hy"}, {"a/?b", "ON=1"}, {"-help"}, {"--h"}};
  for (const auto& args : helpRoad) {
    RecordingBoards boards;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args(args), out, boards), ToInt(ExitStatus::Success));
    EXPECT_EQ(out.Bytes(), ReadFixture("help-Quorvel.txt") + ReadFixture("listing-none.txt"));
    EXPECT_EQ(boards.calls, (std::vector<std::string>{"create", "free"}));
  }
  // Not the help road; words without a keyword are refused there, nothing switched.
  const std::vector<std::vector<std::string>> relayRoad = {{"-H"},         {"/"},          {"?"},
                                                           {"ON=1", "-h"}, {"ON=1", "/?"}, {"h"}};
  for (const auto& args : relayRoad) {
    RecordingBoards boards;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args(args), out, boards), ToInt(ExitStatus::BadArguments));
    EXPECT_EQ(out.Bytes(), "\n    ERROR: The argument \"" + args.back() + "\" is not valid!\n");
    EXPECT_EQ(boards.calls, (std::vector<std::string>{"create", "free"}));
  }
}

TEST(Run, ListsTheDevicesAfterTheHelp) {
  RecordingBoards boards;
  boards.lines = {u"  * USBRelay8", u"    Wine HID mouse", u"    VID=16C0, PID=05DF"};
  BufferConsole out(LineEnd::CrLf);
  EXPECT_EQ(app::Run(Args({}), out, boards), ToInt(ExitStatus::Success));
  EXPECT_EQ(out.Bytes(),
            test::WithCrLf(ReadFixture("help-Quorvel.txt")) +
                "\r\n    USB Devices found:\r\n\r\n  * USBRelay8\r\n    Wine HID mouse\r\n"
                "    VID=16C0, PID=05DF\r\n\r\n");
}

struct RelayRoadCase {
  std::vector<std::string> args;
  std::int32_t boards;
  std::uint8_t state;
  int status;
  std::string output;
  std::vector<std::string> calls;
};

TEST(Run, SwitchesOnlyAnExistingBoard) {
  const auto invalid = [](const std::string& arg) {
    return "\n    ERROR: The argument \"" + arg + "\" is not valid!\n";
  };
  const std::string belowOne = "\nERROR: ID supplied must be 1 or greater!\n";
  const std::string lone = "\n    ERROR: The argument \"ID=x\" cannot be used on its own!\n";
  const std::vector<std::string> untouched = {"create", "free"};
  const RelayRoadCase cases[] = {
      {{"ID=1", "ON=1,2"}, 1, 0x03, 0, "\n    Status: 03\n", {"create", "switch 1 3/3", "free"}},
      {{"ON=1"}, 2, 0x05, 0, "\n    Status: 05\n", {"create", "switch 1 1/1", "free"}},
      {{"ID=2", "N=$C3"}, 2, 0xC3, 0, "\n    Status: C3\n", {"create", "switch 2 195/255", "free"}},
      {{"-H"}, 1, 0xF0, 1, invalid("-H"), untouched},
      {{"ID=3", "ON=1"}, 2, 0, 2, kBoardCount, untouched},
      {{"ON=1"}, 0, 0, 2, kBoardCount, untouched},
      {{"ID=2"}, 5, 0, 1, lone, untouched},
      {{"ID=0", "ON=1"}, 5, 0, 1, belowOne, untouched},
      {{"ID=-2", "ON=1"}, 5, 0, 1, belowOne, untouched},
      {{"ID=$FFFFFFFF", "ON=1"}, 5, 0, 1, belowOne, untouched},
      {{"ID=X", "ON=1"}, 5, 0, 1, invalid("ID=X"), untouched},
      {{"N=300"}, 5, 0, 1, invalid("N=300"), untouched},
      {{"B=1.1"}, 5, 0, 1, invalid("B=1.1"), untouched},
      // A board by its ID, the keyword in any case; only "ID=" itself names one.
      {{"id=ABCDE", "ON=1"}, 1, 0x01, 0, "\n    Status: 01\n", {"create", "switch 1 1/1", "free"}},
      {{"ID]ABCDE", "ON=1"}, 1, 0, 1, invalid("ID]ABCDE"), untouched},
      {{"ID=EDCBA", "ON=1"}, 1, 0, 2, "\nERROR: No relay board has the ID \"EDCBA\"!\n", untouched},
  };
  for (const RelayRoadCase& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) {
      joined += arg + " ";
    }
    SCOPED_TRACE(joined);
    RecordingBoards boards;
    boards.boards = c.boards;
    boards.result.State = c.state;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args(c.args), out, boards), c.status);
    EXPECT_EQ(out.Bytes(), c.output);
    EXPECT_EQ(boards.calls, c.calls);
  }
}

TEST(Run, PrintsAnExceptionAfterFreeingTheController) {
  struct ExceptionCase {
    std::vector<std::string> args;
    FailAt failAt;
    std::string output;
    std::vector<std::string> calls;
  };
  const ExceptionCase cases[] = {
      {{"ON=1"}, FailAt::Create, "Exception: scan failed \xE2\x9C\x97\n", {"create", "free"}},
      {{"ON=1"},
       FailAt::Switch,
       "Exception: board went away\n",
       {"create", "switch 1 1/1", "free"}},
      // The layer's own exceptions name their class.
      {{"ON=1"},
       FailAt::SwitchInLayer,
       "EControllerError: Device cannot be identified\n",
       {"create", "switch 1 1/1", "free"}},
      // The help is out before the scan fails.
      {{},
       FailAt::Create,
       ReadFixture("help-Quorvel.txt") + "Exception: scan failed \xE2\x9C\x97\n",
       {"create", "free"}},
  };
  for (const ExceptionCase& c : cases) {
    SCOPED_TRACE(c.output);
    RecordingBoards boards;
    boards.boards = 1;
    boards.failAt = c.failAt;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args(c.args), out, boards), ToInt(ExitStatus::UnexpectedError));
    EXPECT_EQ(out.Bytes(), c.output);
    EXPECT_EQ(boards.calls, c.calls);
  }
}

TEST(Run, NamesTheProgramFromArgumentZero) {
  RecordingBoards boards;
  BufferConsole out;
  EXPECT_EQ(app::Run({u"./my.relays.exe"}, out, boards), 0);
  EXPECT_EQ(out.Bytes(), ReadFixture("help-my.relays.txt") + ReadFixture("listing-none.txt"));

  // Without even argument 0 the help still shows, with an empty name.
  BufferConsole bare;
  EXPECT_EQ(app::Run({}, bare, boards), 0);
  EXPECT_NE(bare.Bytes().find("\n     Version " QUORVEL_VERSION "\n"), std::string::npos);
}

TEST(Run, ReportsABoardThatFailedAsAFailure) {
  struct FailureCase {
    const char* what;
    TSwitchResult result;
    std::string output;
  };
  const std::string readError = "\nERROR: Could not read the state of relay board 2!\n";
  const std::string switchError = "\nERROR: Could not switch relay board 2!\n";
  const std::string permission =
      "    The device exists but could not be opened for writing; see the README on "
      "permissions.\n";
  const FailureCase cases[] = {
      {"first read", {.State = 0x5A}, readError},
      {"first read, no access", {.State = 0x5A, .AccessDenied = true}, readError + permission},
      {"a command",
       {.FirstReadOk = true, .FinalReadOk = true, .State = 0x0C},
       "\n    Status: 0C\n" + switchError},
      {"a command, no access",
       {.FirstReadOk = true, .FinalReadOk = true, .State = 0x0C, .AccessDenied = true},
       "\n    Status: 0C\n" + switchError + permission},
      // A state that could not be read back is not shown as one.
      {"final read", {.FirstReadOk = true, .CommandsOk = true, .State = 0x0C}, switchError},
      {"everything after the first read", {.FirstReadOk = true, .State = 0x0C}, switchError},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingBoards boards;
    boards.boards = 2;
    boards.result = c.result;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args({"ID=2", "ON=3"}), out, boards), ToInt(ExitStatus::BoardFailure));
    EXPECT_EQ(out.Bytes(), c.output);
    EXPECT_EQ(boards.calls, (std::vector<std::string>{"create", "switch 2 4/4", "free"}));
  }
}

// The version alone, named as the help names the program; no device is looked at.
TEST(Run, ShowsTheVersionWithoutScanning) {
  for (const std::string word : {"--version", "--Version"}) {
    RecordingBoards boards;
    BufferConsole out;
    EXPECT_EQ(app::Run(Args({word}), out, boards), ToInt(ExitStatus::Success));
    EXPECT_EQ(out.Bytes(), "    Quorvel Version 1.2.1\n");
    EXPECT_TRUE(boards.calls.empty());
  }
}

// A request as the board service applies it.
TEST(RelayRequest, TakesTheRequestedRelaysAndKeepsTheOthers) {
  struct StateCase {
    std::uint8_t present;
    TRelayRequest request;
    std::uint8_t expected;
  };
  const StateCase cases[] = {
      {0x0F, {.OnMask = 0x10, .TouchedMask = 0x10}, 0x1F},
      {0x01, {.OnMask = 0x00, .TouchedMask = 0x01}, 0x00},
      {0xFE, {.OnMask = 0x01, .TouchedMask = 0x01}, 0xFF},
      {0x5A, {.OnMask = 0xC3, .TouchedMask = 0xFF}, 0xC3},
      {0x5A, {}, 0x5A},
      {0xFF, {.OnMask = 0x00, .TouchedMask = 0x81}, 0x7E},
  };
  for (const StateCase& c : cases) {
    EXPECT_EQ(ApplyChange(c.present, c.request.Change()), c.expected) << int{c.present};
  }
}

TEST(StatusLine, ShowsTwoUpperCaseHexadecimalDigits) {
  const std::pair<std::uint8_t, std::u16string> cases[] = {
      {0x00, u"\r\n    Status: 00"}, {0x05, u"\r\n    Status: 05"}, {0x0F, u"\r\n    Status: 0F"},
      {0xC3, u"\r\n    Status: C3"}, {0xFF, u"\r\n    Status: FF"}, {0xA0, u"\r\n    Status: A0"},
  };
  for (const auto& [state, line] : cases) {
    EXPECT_EQ(StatusLine(state), line) << int{state};
  }
}

}  // namespace
}  // namespace quorvel::app
