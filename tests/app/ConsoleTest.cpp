#include "app/Console.h"

#include <gtest/gtest.h>

#include "tests/app/BufferConsole.h"

namespace quorvel::app {
namespace {

using test::BufferConsole;

struct LineCase {
  std::u16string text;
  std::string lf;
  std::string crlf;
};

TEST(Console, EndsEveryLineAndBreakInThePlatformsLineEnd) {
  const LineCase cases[] = {
      {u"", "\n", "\r\n"},
      {u"Status: 0F", "Status: 0F\n", "Status: 0F\r\n"},
      {u"\r\n    Examples:\r\n", "\n    Examples:\n\n", "\r\n    Examples:\r\n\r\n"},
      {u"\r\n\r\n", "\n\n\n", "\r\n\r\n\r\n"},
      // Only the pair is a break; a lone CR or LF passes as it is.
      {u"a\rb\nc", "a\rb\nc\n", "a\rb\nc\r\n"},
      {u"\n\r", "\n\r\n", "\n\r\r\n"},
      {u"r\u00E9lais \u2713 \U0001F50C", "r\xC3\xA9lais \xE2\x9C\x93 \xF0\x9F\x94\x8C\n",
       "r\xC3\xA9lais \xE2\x9C\x93 \xF0\x9F\x94\x8C\r\n"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.lf);
    BufferConsole lf(LineEnd::Lf);
    lf.WriteLine(c.text);
    EXPECT_EQ(lf.Bytes(), c.lf);
    BufferConsole crlf(LineEnd::CrLf);
    crlf.WriteLine(c.text);
    EXPECT_EQ(crlf.Bytes(), c.crlf);
  }
}

TEST(Console, RemembersAFailedWrite) {
  BufferConsole out;
  out.WriteLine(u"first");
  EXPECT_FALSE(out.Failed());
  out.FailFromNowOn();
  out.WriteLine(u"second");
  EXPECT_TRUE(out.Failed());
  EXPECT_EQ(out.Bytes(), "first\n");
}

}  // namespace
}  // namespace quorvel::app
