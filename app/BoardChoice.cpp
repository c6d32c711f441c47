#include "app/BoardChoice.h"

#include <algorithm>

#include "app/ArgumentGrammar.h"
#include "app/NumberConversion.h"
#include "platform/Utf.h"

namespace quorvel::app {

ExitStatus CheckBoardNumber(std::int32_t number, Console& output, const BoardSource& boards) {
  // Board numbers start at 1; anything lower would index before the first board.
  if (number < 1) {
    output.WriteLine(u"\r\nERROR: ID supplied must be 1 or greater!");
    return ExitStatus::BadArguments;
  }
  if (boards.BoardCount() < number) {
    output.WriteLine(
        u"\r\nERROR: ID supplied is greater than the number of relay boards currently available!");
    return ExitStatus::NoSuchBoard;
  }
  return ExitStatus::Success;
}

namespace {

// Windows names a device interface in any case; a POSIX path is exact.
bool SameDevicePath(std::u16string_view a, std::u16string_view b) {
#ifdef _WIN32
  return EqualsIgnoringAsciiCase(a, b);
#else
  return a == b;
#endif
}

}  // namespace

ExitStatus ResolveBoardNames(std::vector<std::u16string>& args, Console& output,
                             BoardSource& boards) {
  constexpr std::u16string_view kKeyword = u"ID=";
  std::vector<std::string> ids;  // read on first need
  for (std::u16string& argument : args) {
    if (argument.size() <= kKeyword.size() || !StartsWithIgnoringAsciiCase(argument, kKeyword)) {
      continue;
    }
    const std::u16string value = argument.substr(kKeyword.size());
    std::int32_t ignored = 0;
    if (TryStrToInt(value, ignored)) {
      continue;
    }
    const bool couldBeId = value.size() == relay::kBoardIdLength &&
                           std::all_of(value.begin(), value.end(),
                                       [](char16_t c) { return relay::IsBoardIdCharacter(c); });
    std::vector<std::int32_t> matches;
    for (std::int32_t number = 1; number <= boards.BoardCount(); ++number) {
      if (SameDevicePath(boards.BoardInfo(number).Path, value)) {
        matches.push_back(number);
      }
    }
    if (matches.empty() && couldBeId) {
      if (ids.empty()) {
        for (std::int32_t number = 1; number <= boards.BoardCount(); ++number) {
          const TBoardReading reading = boards.ReadBoard(number);
          ids.push_back(reading.ReadOk ? reading.BoardId : std::string());
        }
      }
      const std::string wanted = platform::Utf16ToUtf8(value);
      for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == wanted) {
          matches.push_back(static_cast<std::int32_t>(i + 1));
        }
      }
    }
    if (matches.size() > 1) {
      std::u16string places;
      for (const std::int32_t number : matches) {
        places += u"\r\n    board " + IntToStr(number) + u": " + boards.BoardInfo(number).Path;
      }
      output.WriteLine(u"\r\nERROR: More than one relay board has the ID \"" + value +
                       u"\"; give its number or its path instead:" + places);
      return ExitStatus::NoSuchBoard;
    }
    if (matches.size() == 1) {
      argument = std::u16string(kKeyword) + IntToStr(matches.front());
    } else if (couldBeId) {
      output.WriteLine(u"\r\nERROR: No relay board has the ID \"" + value + u"\"!");
      return ExitStatus::NoSuchBoard;
    }
  }
  return ExitStatus::Success;
}

void WriteAccessDenied(Console& output) {
  output.WriteLine(
      u"    The device exists but could not be opened for writing; see the README on "
      u"permissions.");
}

}  // namespace quorvel::app
