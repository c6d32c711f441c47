#include "app/HelpText.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Utf.h"
#include "tests/app/BufferConsole.h"
#include "tests/app/Fixture.h"

namespace quorvel::app {
namespace {

using test::BufferConsole;
using test::ReadFixture;
using test::WithCrLf;

TEST(ShowHelp, WritesTheTextByteForByte) {
  for (const std::string name : {"Quorvel", "my.relays"}) {
    SCOPED_TRACE(name);
    const std::string expected = ReadFixture("help-" + name + ".txt");

    BufferConsole lf(LineEnd::Lf);
    ShowHelp(lf, platform::Utf8ToUtf16(name));
    EXPECT_EQ(lf.Bytes(), expected);

    BufferConsole crlf(LineEnd::CrLf);
    ShowHelp(crlf, platform::Utf8ToUtf16(name));
    EXPECT_EQ(crlf.Bytes(), WithCrLf(expected));
  }
}

TEST(ShowHelp, ShowsAnyNameInEveryLineThatUsesIt) {
  BufferConsole out;
  ShowHelp(out, u"r\u00E9lais");
  const std::string text = out.Bytes();
  std::size_t uses = 0;
  for (auto at = text.find("r\xC3\xA9lais"); at != std::string::npos;
       at = text.find("r\xC3\xA9lais", at + 1)) {
    ++uses;
  }
  EXPECT_EQ(uses, 18u);
  EXPECT_EQ(text.find("%s"), std::string::npos);
}

struct NameCase {
  std::u16string path;
  std::u16string separators;
  std::u16string name;
};

TEST(ProgramName, DropsTheFolderAndTheExtension) {
  const NameCase cases[] = {
      {u"Quorvel.exe", u"\\/", u"Quorvel"},
      {u"C:\\Tools\\Quorvel.exe", u"\\/", u"Quorvel"},
      {u"Z:\\work\\build/bin\\Quorvel.exe", u"\\/", u"Quorvel"},
      {u"C:/tools/my.relays.exe", u"\\/", u"my.relays"},
      {u"/usr/local/bin/quorvel", u"/", u"quorvel"},
      {u"./my.relays.exe", u"/", u"my.relays"},
      {u"quorvel", u"/", u"quorvel"},
      {u"/opt/v1.2/quorvel", u"/", u"quorvel"},
      {u"/opt/tools\\Quorvel.exe", u"/", u"tools\\Quorvel"},
      {u"/opt/quorvel.", u"/", u"quorvel"},
      {u"/opt/.quorvel", u"/", u""},
      {u"/opt/", u"/", u""},
      {u"", u"/", u""},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.path));
    EXPECT_EQ(ProgramName(c.path, c.separators), c.name);
  }
}

TEST(ProgramName, UsesThePlatformsFolderSeparators) {
#ifdef _WIN32
  EXPECT_EQ(ProgramName(u"C:\\Tools\\Quorvel.exe"), u"Quorvel");
#else
  EXPECT_EQ(ProgramName(u"/usr/bin/back\\slash.x"), u"back\\slash");
#endif
}

}  // namespace
}  // namespace quorvel::app
