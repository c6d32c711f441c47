#include "app/ArgumentGrammar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/Utf.h"
#include "relay/RelayProtocol.h"
#include "tests/app/BufferConsole.h"

namespace quorvel::app {

using relay::RelayBit;
namespace {

using test::BufferConsole;

std::vector<std::u16string> Args(const std::vector<std::string>& utf8) {
  std::vector<std::u16string> args;
  for (const std::string& arg : utf8) {
    args.push_back(platform::Utf8ToUtf16(arg));
  }
  return args;
}

std::string Join(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& arg : args) {
    joined += "[" + arg + "] ";
  }
  return joined;
}

struct RequestCase {
  std::vector<std::string> args;
  std::int32_t id;
  std::uint8_t onMask;
  std::uint8_t touchedMask;
};

TEST(ParseArguments, BuildsTheRequest) {
  const std::string blanks98(98, ' ');
  const std::string blanks99(99, ' ');
  const RequestCase cases[] = {
      // The examples of the help text.
      {{"ON=1"}, 1, 0x01, 0x01},
      {{"ID=2", "ON=1,3,5,7"}, 2, 0x55, 0x55},
      {{"OFF=1,3,5,7"}, 1, 0x00, 0x55},
      {{"ID=1", "ON=ALL"}, 1, 0xFF, 0xFF},
      {{"ID=2", "OFF=ALL"}, 2, 0x00, 0xFF},
      {{"ID=1", "ON=1", "OFF=2"}, 1, 0x01, 0x03},
      {{"ID=1", "N=0xC3"}, 1, 0xC3, 0xFF},
      {{"ID=1", "N=$C3"}, 1, 0xC3, 0xFF},
      {{"ID=1", "N=XC3"}, 1, 0xC3, 0xFF},
      {{"ID=1", "N=195"}, 1, 0xC3, 0xFF},
      {{"ID=1", "B=11000011"}, 1, 0xC3, 0xFF},
      // No arguments that decide anything: board 1, every relay as it is.
      {{}, 1, 0x00, 0x00},
      // Empty arguments, as a script passes an empty variable, are skipped.
      {{""}, 1, 0x00, 0x00},
      {{"", "ON=1", ""}, 1, 0x01, 0x01},
      // Case and order.
      {{"on=1,2"}, 1, 0x03, 0x03},
      {{"id=2", "Off=all"}, 2, 0x00, 0xFF},
      {{"ON=1", "OFF=1"}, 1, 0x00, 0x01},
      {{"OFF=1", "ON=1"}, 1, 0x01, 0x01},
      {{"ON=1", "N=0"}, 1, 0x00, 0xFF},
      {{"N=0", "ON=1"}, 1, 0x01, 0xFF},
      {{"ON=ALL", "OFF=2,8"}, 1, 0x7D, 0xFF},
      {{"ID=2", "ON=1", "ID=3"}, 3, 0x01, 0x01},
      {{"ID=0x2", "ON=1"}, 2, 0x01, 0x01},
      // Board numbers below 1 are the entry's to reject.
      {{"ID=0", "ON=1"}, 0, 0x01, 0x01},
      {{"ID=-2", "ON=1"}, -2, 0x01, 0x01},
      // Relay lists: only 1 to 8 select a relay; bad pieces are skipped.
      {{"ON=2,9,0"}, 1, 0x02, 0x02},
      {{"ON=33"}, 1, 0x00, 0x00},
      {{"ON=-31"}, 1, 0x00, 0x00},
      {{"ON=40,-24,2147483647,-2147483648"}, 1, 0x00, 0x00},
      {{"OFF=33", "ON=8"}, 1, 0x80, 0x80},
      {{"ON=1,,3"}, 1, 0x05, 0x05},
      {{"ON=1, 3"}, 1, 0x05, 0x05},
      {{"ON=1,A,3"}, 1, 0x05, 0x05},
      {{"ON=$8,0x1"}, 1, 0x81, 0x81},
      {{"ON="}, 1, 0x00, 0x00},
      {{"OFF=", "ON=4"}, 1, 0x08, 0x08},
      // Keywords count anywhere, values stand at fixed positions.
      {{"XON=3"}, 1, 0x00, 0x00},
      {{"ON=1,OFF=2"}, 1, 0x01, 0x01},
      {{"ON=ALL,OFF=ALL"}, 1, 0x00, 0xFF},
      // N= and B= replace both masks.
      {{"N=255"}, 1, 0xFF, 0xFF},
      {{"N=0"}, 1, 0x00, 0xFF},
      {{"N= 7"}, 1, 0x07, 0xFF},
      {{"n=0xc3"}, 1, 0xC3, 0xFF},
      {{"B=101"}, 1, 0x05, 0xFF},
      {{"B=1"}, 1, 0x01, 0xFF},
      {{"B=00000001"}, 1, 0x01, 0xFF},
      {{"B=11111111"}, 1, 0xFF, 0xFF},
      // At most 100 characters of a value are read.
      {{"ON=" + blanks98 + ",3"}, 1, 0x04, 0x04},
      {{"ON=" + blanks99 + ",3"}, 1, 0x00, 0x00},
      {{"ID=" + blanks99 + "2", "ON=1"}, 2, 0x01, 0x01},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(Join(c.args));
    const std::vector<std::u16string> args = Args(c.args);
    TRelayRequest request;
    BufferConsole out;
    ASSERT_TRUE(ParseArguments(args, request, out));
    EXPECT_EQ(out.Bytes(), "");
    EXPECT_EQ(request.ID, c.id);
    EXPECT_EQ(request.OnMask, c.onMask);
    EXPECT_EQ(request.TouchedMask, c.touchedMask);
    EXPECT_EQ(request.OnMask & ~request.TouchedMask, 0) << "a relay turned on but not decided";
  }
}

struct RejectCase {
  std::vector<std::string> args;
  std::string message;  // what standard output receives, LF line ends
};

TEST(ParseArguments, RejectsArgumentsThatMeanNothing) {
  const std::string lone = "\n    ERROR: The argument \"ID=x\" cannot be used on its own!\n";
  const auto invalid = [](const std::string& arg) {
    return "\n    ERROR: The argument \"" + arg + "\" is not valid!\n";
  };
  const RejectCase cases[] = {
      // A board number on its own, whatever its value.
      {{"ID=2"}, lone},
      {{"id=7"}, lone},
      {{"ID="}, lone},
      {{"XID=5"}, lone},
      {{"ID=1,ON=1"}, lone},
      // Values that do not convert or do not fit; shown as typed.
      {{"ID=X", "ON=1"}, invalid("ID=X")},
      {{"ON=1", "id=abc"}, invalid("id=abc")},
      {{"ID=", "ON=1"}, invalid("ID=")},
      {{"ID=2 ", "ON=1"}, invalid("ID=2 ")},
      {{"ID=" + std::string(100, ' ') + "2", "ON=1"}, invalid("ID=" + std::string(100, ' ') + "2")},
      {{"N=300"}, invalid("N=300")},
      {{"N=256"}, invalid("N=256")},
      {{"N=-1"}, invalid("N=-1")},
      {{"N=$FFFFFFFF"}, invalid("N=$FFFFFFFF")},
      {{"N=ABC"}, invalid("N=ABC")},
      {{"n=abc"}, invalid("n=abc")},
      {{"N="}, invalid("N=")},
      {{"N=1 "}, invalid("N=1 ")},
      {{"N=\xC3\xA9"}, invalid("N=\xC3\xA9")},
      {{"B=2"}, invalid("B=2")},
      {{"B=1.1"}, invalid("B=1.1")},
      {{"B=111111111"}, invalid("B=111111111")},
      {{"B="}, invalid("B=")},
      {{"B=-1"}, invalid("B=-1")},
      {{"B= 1"}, invalid("B= 1")},
      // Words without any keyword: habits and typos, refused before anything is read.
      {{"-H"}, invalid("-H")},
      {{"ALL"}, invalid("ALL")},
      {{"status"}, invalid("status")},
      {{"--help"}, invalid("--help")},
      {{"/H"}, invalid("/H")},
      {{"0N=1"}, invalid("0N=1")},
      {{" "}, invalid(" ")},
      {{"hello", "ON=1", "ALL"}, invalid("hello")},
      {{"ON=1", "ALL"}, invalid("ALL")},
      {{"ON=1", "-h"}, invalid("-h")},
      {{"FOOB=101"}, invalid("FOOB=101")},
      // The first unusable argument stops the reading.
      {{"ON=1", "N=300", "B=2"}, invalid("N=300")},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(Join(c.args));
    const std::vector<std::u16string> args = Args(c.args);
    TRelayRequest request;
    BufferConsole out;
    EXPECT_FALSE(ParseArguments(args, request, out));
    EXPECT_EQ(out.Bytes(), c.message);
  }
}

TEST(ParseArguments, StartsEveryRequestAtBoardOne) {
  TRelayRequest request{7, 0x01, 0x01};
  BufferConsole out;
  ASSERT_TRUE(ParseArguments({}, request, out));
  EXPECT_EQ(request.ID, 1);
}

TEST(RelayBit, OnlyOneToEightSelectARelay) {
  for (std::int32_t relay = 1; relay <= 8; ++relay) {
    EXPECT_EQ(RelayBit(relay), 1u << (relay - 1)) << relay;
  }
  for (const std::int32_t n :
       {0, 9, 32, 33, 40, 41, -1, -24, -31, -32, std::numeric_limits<std::int32_t>::min(),
        std::numeric_limits<std::int32_t>::max()}) {
    EXPECT_EQ(RelayBit(n), 0) << n;
  }
}

TEST(ParseHandlers, IgnoreArgumentsWithoutTheirKeyword) {
  const TRelayRequest before{5, 0x21, 0x63};
  TRelayRequest request = before;
  EXPECT_TRUE(ParseID(u"ON=1", request));
  EXPECT_TRUE(ParseN(u"OFF=2", request));
  EXPECT_TRUE(ParseB(u"ID=3", request));
  ParseOnOff(u"N=4", request);
  EXPECT_EQ(request.ID, before.ID);
  EXPECT_EQ(request.OnMask, before.OnMask);
  EXPECT_EQ(request.TouchedMask, before.TouchedMask);
}

}  // namespace
}  // namespace quorvel::app
