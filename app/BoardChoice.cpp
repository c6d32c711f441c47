#include "app/BoardChoice.h"

#include <algorithm>

#include "app/ArgumentGrammar.h"
#include "app/NumberConversion.h"
#include "platform/FileIdentity.h"
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

std::optional<std::int32_t> BoardNumberOf(std::u16string_view value) {
  std::int32_t number = 0;
  if (!TryStrToInt(value, number)) {
    return std::nullopt;
  }
  return number;
}

bool HasBoardIdForm(std::u16string_view value) {
  return value.size() == relay::kBoardIdLength &&
         std::all_of(value.begin(), value.end(),
                     [](char16_t c) { return relay::IsBoardIdCharacter(c); });
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

bool HasPathSeparator(std::u16string_view value) {
  return value.find_first_of(u"/\\") != std::u16string_view::npos;
}

// Every board's own ID, read once on first need; empty for a board that cannot be read.
class BoardIds {
 public:
  explicit BoardIds(BoardSource& boards) : boards_(boards) {}

  std::vector<std::int32_t> Holding(std::u16string_view id) {
    if (!read_) {
      for (std::int32_t number = 1; number <= boards_.BoardCount(); ++number) {
        const TBoardReading reading = boards_.ReadBoard(number);
        ids_.push_back(reading.ReadOk ? reading.BoardId : std::string());
      }
      read_ = true;
    }
    const std::string wanted = platform::Utf16ToUtf8(id);
    std::vector<std::int32_t> holders;
    for (std::size_t i = 0; i < ids_.size(); ++i) {
      if (ids_[i] == wanted) {
        holders.push_back(static_cast<std::int32_t>(i + 1));
      }
    }
    return holders;
  }

 private:
  BoardSource& boards_;
  bool read_ = false;
  std::vector<std::string> ids_;
};

// The boards at Value's path: its exact text first, then the file the system resolves
// it to.
std::vector<std::int32_t> BoardsAtPath(std::u16string_view value, const BoardSource& boards) {
  std::vector<std::int32_t> matches;
  for (std::int32_t number = 1; number <= boards.BoardCount(); ++number) {
    if (SameDevicePath(boards.BoardInfo(number).Path, value)) {
      matches.push_back(number);
    }
  }
  if (matches.empty() && (HasPathSeparator(value) || platform::FileExists(value))) {
    for (std::int32_t number = 1; number <= boards.BoardCount(); ++number) {
      if (platform::SameFile(boards.BoardInfo(number).Path, value)) {
        matches.push_back(number);
      }
    }
  }
  return matches;
}

// A value that reads as board number Number while other boards hold it as their ID:
// either reading could be meant, so neither is taken.
ExitStatus RefuseAmbiguousNumber(std::u16string_view value, std::int32_t number,
                                 const std::vector<std::int32_t>& holders, Console& output,
                                 const BoardSource& boards) {
  const std::u16string id = u"ID \"" + std::u16string(value) + u"\"";
  std::u16string places;
  for (std::int32_t board = 1; board <= boards.BoardCount(); ++board) {
    const bool byNumber = board == number;
    const bool byId = std::find(holders.begin(), holders.end(), board) != holders.end();
    if (!byNumber && !byId) {
      continue;
    }
    const std::u16string why = byNumber && byId ? u"number " + IntToStr(number) + u", " + id
                               : byNumber       ? u"number " + IntToStr(number)
                                                : id;
    places +=
        u"\r\n    board " + IntToStr(board) + u" (" + why + u"): " + boards.BoardInfo(board).Path;
  }
  output.WriteLine(u"\r\nERROR: \"" + std::u16string(value) +
                   u"\" is both a board number and the ID of a relay board; give its path "
                   u"instead:" +
                   places);
  return ExitStatus::NoSuchBoard;
}

}  // namespace

ExitStatus ResolveBoardNames(std::vector<std::u16string>& args, Console& output,
                             BoardSource& boards) {
  constexpr std::u16string_view kKeyword = u"ID=";
  BoardIds ids(boards);
  for (std::u16string& argument : args) {
    if (argument.size() <= kKeyword.size() || !StartsWithIgnoringAsciiCase(argument, kKeyword)) {
      continue;
    }
    const std::u16string value = argument.substr(kKeyword.size());
    const bool idForm = HasBoardIdForm(value);
    if (const std::optional<std::int32_t> number = BoardNumberOf(value)) {
      if (!idForm) {
        continue;
      }
      std::vector<std::int32_t> holders = ids.Holding(value);
      // A board whose number and ID agree is the one board either reading means.
      std::erase(holders, *number);
      if (holders.empty()) {
        continue;
      }
      return RefuseAmbiguousNumber(value, *number, ids.Holding(value), output, boards);
    }
    std::vector<std::int32_t> matches = BoardsAtPath(value, boards);
    if (matches.empty() && idForm) {
      matches = ids.Holding(value);
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
    } else if (HasPathSeparator(value) || (!idForm && platform::FileExists(value))) {
      output.WriteLine(u"\r\nERROR: No relay board has the path \"" + value + u"\"!");
      return ExitStatus::NoSuchBoard;
    } else if (idForm) {
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
