// The value readers every front shares, the relay change and the board families.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "relay/BoardModel.h"
#include "relay/RelayChange.h"
#include "relay/ValueReaders.h"

namespace quorvel::relay {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct NumberCase {
  std::u16string text;
  std::int32_t value;
};

TEST(TryStrToInt, ReadsEveryAcceptedForm) {
  const NumberCase cases[] = {
      {u"0", 0},
      {u"7", 7},
      {u"0001", 1},
      {u"   42", 42},
      {u"+5", 5},
      {u"-5", -5},
      {u"  -17", -17},
      {u"2147483647", kMax},
      {u"+2147483647", kMax},
      {u"-2147483648", kMin},
      {u"00000000002147483647", kMax},
      {u"$C3", 0xC3},
      {u"$c3", 0xC3},
      {u"xC3", 0xC3},
      {u"XC3", 0xC3},
      {u"0xC3", 0xC3},
      {u"0XC3", 0xC3},
      {u"0xaBcD", 0xABCD},
      {u"  $1F", 31},
      {u"-$10", -16},
      {u"+0x10", 16},
      {u"-X1", -1},
      {u"$7FFFFFFF", kMax},
      {u"$80000000", kMin},
      {u"$FFFFFFFF", -1},
      {u"$FFFFFFFE", -2},
      {u"-$80000000", kMin},
      {u"-$FFFFFFFF", 1},
      {u"$000000001", 1},
      {u"0x0000000000FF", 255},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    std::int32_t value = 12345;
    EXPECT_TRUE(TryStrToInt(c.text, value));
    EXPECT_EQ(value, c.value);
  }
}

TEST(TryStrToInt, RejectsEverythingElseAndKeepsTheValue) {
  const std::u16string cases[] = {
      u"",           u"   ",         u"-",
      u"+",          u"+-1",         u"--1",
      u"- 5",        u"5 ",          u"5a",
      u"1.0",        u"12,3",        u"\t5",
      u"2147483648", u"-2147483649", u"99999999999999999999",
      u"$",          u"x",           u"0x",
      u"-$",         u"$100000000",  u"0x123456789",
      u"$G",         u"x-1",         u"0x0x1",
      u"$ 1",
      u"\uFF11",  // a full-width digit one
  };
  for (const std::u16string& text : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    std::int32_t value = 12345;
    EXPECT_FALSE(TryStrToInt(text, value));
    EXPECT_EQ(value, 12345);
  }
}

TEST(IgnoringAsciiCase, FoldsOnlyTheLetters) {
  EXPECT_EQ(UpperCaseAscii(std::string("on=\xC3\xA4z")), "ON=\xC3\xA4Z");
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"--JSON", u"--json"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"Set-Id", u"set-id"));
  EXPECT_TRUE(StartsWithIgnoringAsciiCase(u"id=HURTM", u"ID="));
  // Characters 32 apart from a letter's other case, which a blind subtraction would fold.
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"\r\rjson", u"--json"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase(u"ID]HURTM", u"ID="));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"list ", u"list"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase(u"ID", u"ID="));
}

TEST(NumStrToByte, AcceptsZeroTo255InAnyNumberForm) {
  const std::pair<std::u16string, std::optional<std::uint8_t>> cases[] = {
      {u"195", 0xC3},
      {u"0xc3", 0xC3},
      {u"$C3", 0xC3},
      {u"xc3", 0xC3},
      {u"0", 0x00},
      {u"255", 0xFF},
      {u" +12", 12},
      {u"256", std::nullopt},
      {u"300", std::nullopt},
      {u"-1", std::nullopt},
      {u"$FFFFFFFF", std::nullopt},
      {u"ABC", std::nullopt},
      {u"", std::nullopt},
      {u"12 ", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(NumStrToByte(text), expected);
  }
}

TEST(BinStrToByte, AcceptsOneToEightBinaryDigits) {
  const std::pair<std::u16string, std::optional<std::uint8_t>> cases[] = {
      {u"0", 0x00},
      {u"1", 0x01},
      {u"101", 0x05},
      {u"11000011", 0xC3},
      {u"00000000", 0x00},
      {u"10000000", 0x80},
      {u"", std::nullopt},
      {u"2", std::nullopt},
      {u"1.1", std::nullopt},
      {u"111111111", std::nullopt},
      {u"000000001", std::nullopt},
      {u"1 ", std::nullopt},
      {u"-1", std::nullopt},
      {u"\uFF11", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(BinStrToByte(text), expected);
  }
}

TEST(RelayChange, TheLatestWordForARelayWins) {
  TRelayChange change;
  change.SwitchOn(0b0111);
  change.SwitchOff(0b0010);  // ON=1,2,3 OFF=2
  change.Flip(0b1000);
  EXPECT_EQ(change, (TRelayChange{.On = 0b0101, .Off = 0b0010, .Toggle = 0b1000}));
  change.SwitchOn(0b1000);  // a later ON takes a relay out of the toggle
  EXPECT_EQ(change, (TRelayChange{.On = 0b1101, .Off = 0b0010}));
}

TEST(RelayChange, AppliesToThePresentStateAndKeepsTheRest) {
  struct Case {
    TRelayMask present;
    TRelayChange change;
    TRelayMask expected;
  };
  const Case cases[] = {
      {0x0F, {.On = 0x10}, 0x1F},
      {0x01, {.Off = 0x01}, 0x00},
      {0x5A, SetAll(0xC3, 8), 0xC3},
      {0x5A, {}, 0x5A},
      {0x05, {.Toggle = 0x03}, 0x06},
      // Relays past eight are as good as the first eight.
      {0x0000FFFF, {.On = 0x00010000, .Off = 0x00008000}, 0x00017FFF},
      {0, SetAll(0xFFFFFFFF, 32), 0xFFFFFFFF},
      // A state of a board of two relays never names a third.
      {0, SetAll(0xFF, 2), 0x03},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplyChange(c.present, c.change), c.expected) << c.present;
  }
  EXPECT_EQ(RelayMaskBit(0), 0U);
  EXPECT_EQ(RelayMaskBit(33), 0U);
  EXPECT_EQ(RelayMaskBit(32), 0x80000000U);
  EXPECT_EQ(AllRelaysMask(0), 0U);
}

TEST(BoardModel, RecognisesABoardByItsProductNameAndCountsEveryDigit) {
  struct Case {
    std::u16string product;
    bool board;
    int relays;
  };
  const Case cases[] = {
      {u"USBRelay8", true, 8},
      {u"USBRelay2", true, 2},
      {u"USBRelay", true, 8},
      {u"USBRelay0", true, 8},
      {u"USBRelay4 x", true, 4},
      {u"USBRelay02", true, 2},
      // More relays than the family's state byte holds: not read as board of one relay.
      {u"USBRelay16", true, 8},
      {u"USBRelay99999999999", true, 8},
      {u"usbrelay8", false, 0},
      {u"My USBRelay8", false, 0},
      {u"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.product.begin(), c.product.end()));
    const TBoardModel* model = FindBoardModel(c.product, 0x16C0, 0x05DF);
    ASSERT_EQ(model != nullptr, c.board);
    if (model != nullptr) {
      EXPECT_EQ(RelayCount(*model, c.product), c.relays);
      EXPECT_EQ(model->Family, u"USBRelay");
    }
  }
  // The product name decides, whatever vendor and product pair the board came with.
  EXPECT_NE(FindBoardModel(u"USBRelay2", 0x1234, 0x5678), nullptr);
}

}  // namespace
}  // namespace quorvel::relay
