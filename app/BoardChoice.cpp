#include "app/BoardChoice.h"

#include <algorithm>

#include "app/ArgumentGrammar.h"
#include "app/NumberConversion.h"
#include "platform/FileIdentity.h"

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

using relay::TBoardChoice;
using TKind = TBoardChoice::TKind;

relay::TPathRules PathRules() {
#ifdef _WIN32
  constexpr bool kCaseInsensitive = true;  // Windows names a device interface in any case
#else
  constexpr bool kCaseInsensitive = false;
#endif
  return {&platform::FileExists, &platform::SameFile, kCaseInsensitive};
}

// Writes why a choice chose nothing; the status to end with.
ExitStatus Refuse(const TBoardChoice& choice, std::u16string_view value, Console& output,
                  const BoardSource& boards) {
  const std::u16string shown(value);
  switch (choice.Kind) {
    case TKind::AmbiguousNumber: {
      const std::u16string id = u"ID \"" + shown + u"\"";
      std::u16string places;
      for (std::int32_t board = 1; board <= boards.BoardCount(); ++board) {
        const bool byNumber = board == choice.Number;
        const bool byId =
            std::find(choice.Boards.begin(), choice.Boards.end(), board) != choice.Boards.end();
        if (!byNumber && !byId) {
          continue;
        }
        const std::u16string number = u"number " + IntToStr(choice.Number);
        const std::u16string why = byNumber && byId ? number + u", " + id : byNumber ? number : id;
        places += u"\r\n    board " + IntToStr(board) + u" (" + why + u"): " +
                  boards.BoardInfo(board).Path;
      }
      output.WriteLine(u"\r\nERROR: \"" + shown +
                       u"\" is both a board number and the ID of a relay board; give its path "
                       u"instead:" +
                       places);
      return ExitStatus::NoSuchBoard;
    }
    case TKind::SharedId: {
      std::u16string places;
      for (const std::int32_t number : choice.Boards) {
        places += u"\r\n    board " + IntToStr(number) + u": " + boards.BoardInfo(number).Path;
      }
      output.WriteLine(u"\r\nERROR: More than one relay board has the ID \"" + shown +
                       u"\"; give its number or its path instead:" + places);
      return ExitStatus::NoSuchBoard;
    }
    case TKind::NoSuchPath:
      output.WriteLine(u"\r\nERROR: No relay board has the path \"" + shown + u"\"!");
      return ExitStatus::NoSuchBoard;
    case TKind::NoSuchId:
      output.WriteLine(u"\r\nERROR: No relay board has the ID \"" + shown + u"\"!");
      return ExitStatus::NoSuchBoard;
    case TKind::Number:
    case TKind::Chosen:
    case TKind::NotAName:
      break;
  }
  return ExitStatus::Success;
}

}  // namespace

ExitStatus ChooseNamedBoards(const std::vector<std::u16string>& args,
                             std::vector<std::optional<std::int32_t>>& named, Console& output,
                             BoardSource& boards) {
  constexpr std::u16string_view kKeyword = u"ID=";
  relay::TBoardChooser chooser(boards, PathRules());
  named.assign(args.size(), std::nullopt);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::u16string& argument = args[i];
    if (argument.size() <= kKeyword.size() || !StartsWithIgnoringAsciiCase(argument, kKeyword)) {
      continue;
    }
    const std::u16string_view value = std::u16string_view(argument).substr(kKeyword.size());
    const TBoardChoice choice = chooser.Choose(value);
    if (choice.Kind == TKind::Chosen) {
      named[i] = choice.Number;
    } else if (const ExitStatus refused = Refuse(choice, value, output, boards);
               refused != ExitStatus::Success) {
      return refused;
    }
  }
  return ExitStatus::Success;
}

}  // namespace quorvel::app
