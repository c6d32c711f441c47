#include "platform/Utf.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel::platform {
namespace {

TEST(Utf16ToUtf8, EncodesEveryLengthAndReplacesUnpairedSurrogates) {
  const struct {
    std::u16string In;
    std::string Out;
  } cases[] = {
      {u"", ""},
      {u"Status: 0F\r\n", "Status: 0F\r\n"},
      {u"\u007F\u0080\u07FF\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
      {u"r\u00E9lais \u2713", "r\xC3\xA9lais \xE2\x9C\x93"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U0001F50C\U0010FFFF", "\xF0\x9F\x94\x8C\xF4\x8F\xBF\xBF"},
      // Unpaired: a high surrogate alone, at the end, before a non-surrogate; a low one alone.
      {std::u16string(1, char16_t{0xD83D}), "\xEF\xBF\xBD"},
      {u"a" + std::u16string(1, char16_t{0xD83D}) + u"b",
       "a\xEF\xBF\xBD"
       "b"},
      {std::u16string(1, char16_t{0xDC0C}) + u"x", "\xEF\xBF\xBDx"},
      {std::u16string{char16_t{0xDC0C}, char16_t{0xD83D}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      // Three bytes for every unit, the longest an input can ask for.
      {std::u16string(1000, u'\u2713'),
       [] {
         std::string s;
         for (int i = 0; i < 1000; ++i) {
           s += "\xE2\x9C\x93";
         }
         return s;
       }()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.In), c.Out) << c.Out;
    if (c.Out.find("\xEF\xBF\xBD") == std::string::npos) {
      EXPECT_EQ(Utf8ToUtf16(c.Out), c.In) << c.Out;  // no replacement: the way back is exact
    }
  }
}

}  // namespace
}  // namespace quorvel::platform
