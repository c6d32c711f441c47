// The relay board's feature protocol, byte for byte, through the world's feature calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim/LocalWorld.h"

namespace quorvel::sim::test {
namespace {

// A set-feature report: the given bytes, zero-padded to the board's 9 bytes.
TBytes Report(const std::string& hex) {
  auto bytes = *ParseHex(hex);
  bytes.resize(TRelayBoard::kReportLength);
  return bytes;
}

struct RelayCase {
  const char* Name;
  int Relays;
  unsigned Initial;
  std::vector<std::string> Commands;
  std::string ExpectedReport;  // what a get-feature of report 0 returns afterwards
};

const RelayCase kCases[] = {
    {"OneRelayOn", 8, 0x00, {"00 ff 01"}, "00 51 52 56 4c 31 00 00 01"},
    {"HighestRelayOn", 8, 0x00, {"00 ff 08"}, "00 51 52 56 4c 31 00 00 80"},
    {"OneRelayOff", 8, 0xFF, {"00 fd 03"}, "00 51 52 56 4c 31 00 00 fb"},
    {"AllOn", 8, 0x00, {"00 fe"}, "00 51 52 56 4c 31 00 00 ff"},
    {"AllOnSetsOnlyTheBoardsRelays", 2, 0x00, {"00 fe"}, "00 51 52 56 4c 31 00 00 03"},
    {"AllOff", 8, 0xA5, {"00 fc"}, "00 51 52 56 4c 31 00 00 00"},
    {"RelayZeroIgnored", 8, 0x00, {"00 ff 00"}, "00 51 52 56 4c 31 00 00 00"},
    {"RelayNineIgnored", 8, 0x00, {"00 ff 09", "00 fd 09"}, "00 51 52 56 4c 31 00 00 00"},
    {"RelayTheBoardLacksIgnored", 2, 0x01, {"00 ff 03", "00 fd 01"}, "00 51 52 56 4c 31 00 00 00"},
    {"UnknownCommandIgnored", 4, 0x05, {"00 01 02", "00 fb 01"}, "00 51 52 56 4c 31 00 00 05"},
    {"Sequence", 4, 0x00, {"00 ff 01", "00 ff 04", "00 fd 01"}, "00 51 52 56 4c 31 00 00 08"},
    {"NewBoardId", 8, 0x05, {"00 fa 41 42 43 44 45"}, "00 41 42 43 44 45 00 00 05"},
    {"NewIdThenSwitch", 1, 0x00, {"00 fa 5a 5a 5a 5a 5a", "00 fe"}, "00 5a 5a 5a 5a 5a 00 00 01"},
};

class RelayProtocol : public LocalWorld, public ::testing::WithParamInterface<RelayCase> {};

TEST_P(RelayProtocol, CommandsGiveTheReportedState) {
  const auto& c = GetParam();
  const auto board =
      Add({{"relay", {{"boardId", "QRVL1"}, {"relays", c.Relays}, {"state", c.Initial}}}});
  const auto handle = Open(*board);
  for (const auto& command : c.Commands) {
    auto report = Report(command);
    ASSERT_EQ(World.SetFeature(handle, report), ERROR_SUCCESS) << command;
  }
  TBytes answer(TRelayBoard::kReportLength, 0xEE);
  answer[0] = 0;
  ASSERT_EQ(World.GetFeature(handle, answer), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(answer), c.ExpectedReport);

  // The log holds every exchange with the whole buffer sent, and received for a get.
  const auto log = Log();
  ASSERT_EQ(log.size(), c.Commands.size() + 2);  // the open, the sets, the get
  for (std::size_t i = 0; i < c.Commands.size(); ++i) {
    EXPECT_EQ(log[1 + i].Call, "HidD_SetFeature");
    EXPECT_EQ(log[1 + i].Sent, Report(c.Commands[i]));
  }
  EXPECT_EQ(log.back().Call, "HidD_GetFeature");
  EXPECT_EQ(ToHex(log.back().Sent), "00 ee ee ee ee ee ee ee ee");
  EXPECT_EQ(ToHex(log.back().Received), c.ExpectedReport);
  World.Close(handle);
}

INSTANTIATE_TEST_SUITE_P(Board, RelayProtocol, ::testing::ValuesIn(kCases),
                         [](const auto& named) { return std::string(named.param.Name); });

struct RejectedCase {
  const char* Name;
  std::uint32_t Access;
  bool Set;
  std::string Report;  // the whole buffer
  std::uint32_t Error;
};

// Requests the class driver refuses before they reach the board: the board's state
// must stay as it was.
const RejectedCase kRejected[] = {
    {"GetReportOne", kReadWrite, false, "01 00 00 00 00 00 00 00 00", ERROR_INVALID_PARAMETER},
    {"SetReportOne", kReadWrite, true, "01 fe 00 00 00 00 00 00 00", ERROR_INVALID_PARAMETER},
    {"GetShortBuffer", kReadWrite, false, "00 00 00 00 00 00 00 00", ERROR_INVALID_PARAMETER},
    {"SetShortBuffer", kReadWrite, true, "00 fe 00 00 00 00 00 00", ERROR_INVALID_PARAMETER},
    {"GetWithoutAccess", 0, false, "00 00 00 00 00 00 00 00 00", ERROR_ACCESS_DENIED},
    {"SetWithReadAccessOnly", GENERIC_READ, true, "00 fe 00 00 00 00 00 00 00",
     ERROR_ACCESS_DENIED},
};

class RelayRejects : public LocalWorld, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RelayRejects, RequestFailsAndStateStays) {
  const auto& c = GetParam();
  const auto board = Add({{"relay", {{"relays", 8}, {"state", 0x12}}}});
  const auto handle = Open(*board, c.Access);
  auto report = *ParseHex(c.Report);
  const auto error = c.Set ? World.SetFeature(handle, report) : World.GetFeature(handle, report);
  EXPECT_EQ(error, c.Error);
  EXPECT_EQ(board->Relay->State(), 0x12);
  EXPECT_EQ(Log().back().Error, c.Error);
  World.Close(handle);
}

INSTANTIATE_TEST_SUITE_P(Board, RelayRejects, ::testing::ValuesIn(kRejected),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(LocalWorld, LongerSetBufferIsCutToTheReport) {
  const auto board = Add({{"relay", {{"relays", 8}}}});
  const auto handle = Open(*board);
  auto set = *ParseHex("00 ff 02 00 00 00 00 00 00 77 77");
  ASSERT_EQ(World.SetFeature(handle, set), ERROR_SUCCESS);
  auto get = *ParseHex("00 00 00 00 00 00 00 00 00 99");
  ASSERT_EQ(World.GetFeature(handle, get), ERROR_SUCCESS);
  EXPECT_EQ(get[8], 0x02);
  EXPECT_EQ(get[9], 0x99);  // past the report: untouched
  World.Close(handle);
}

TEST_F(LocalWorld, BoardWithAShorterDescribedReportAnswersWhatFits) {
  // Eight relays, but a descriptor declaring a 4-byte feature report.
  const auto board =
      Add({{"relay", {{"boardId", "QRVL1"}, {"state", 0x80}}},
           {"reportDescriptor", "06 00 ff 09 01 a1 01 75 08 95 04 09 00 b2 02 01 c0"}});
  const auto handle = Open(*board);
  TBytes report(5, 0xEE);
  report[0] = 0;
  ASSERT_EQ(World.GetFeature(handle, report), ERROR_SUCCESS);
  EXPECT_EQ(ToHex(report), "00 51 52 56 4c");
  TBytes allOff = *ParseHex("00 fc 00 00 00");
  ASSERT_EQ(World.SetFeature(handle, allOff), ERROR_SUCCESS);
  EXPECT_EQ(board->Relay->State(), 0x00);
  World.Close(handle);
}

TEST(RelayBoardIdentity, DescriptorDeclaresOneNineByteFeatureReport) {
  const auto descriptor = TRelayBoard::ReportDescriptor();
  EXPECT_EQ(descriptor.size(), 22u);
  const auto layout = LayoutFromDescriptor(descriptor);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->Feature.Ids, std::set<std::uint8_t>{0});
  EXPECT_EQ(layout->Feature.ByteLength, 9);
  EXPECT_EQ(layout->Input.ByteLength, 0);
  EXPECT_EQ(layout->Output.ByteLength, 0);
}

}  // namespace
}  // namespace quorvel::sim::test
