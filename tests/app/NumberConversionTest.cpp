#include "app/NumberConversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace quorvel::app {
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

}  // namespace
}  // namespace quorvel::app
