#include "app/Entry.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "app/ArgumentGrammar.h"
#include "app/ExitStatus.h"
#include "app/HelpText.h"
#include "app/NumberConversion.h"
#include "hid/LayerTypes.h"
#include "platform/Utf.h"

namespace quorvel::app {
namespace {

// FreeController runs however the road ends, before an exception is printed.
class ControllerScope {
 public:
  explicit ControllerScope(BoardSource& boards) : boards_(boards) {
    try {
      boards_.CreateController();
    } catch (...) {
      boards_.FreeController();  // a scan that failed half way may hold devices
      throw;
    }
  }
  ~ControllerScope() { boards_.FreeController(); }
  ControllerScope(const ControllerScope&) = delete;
  ControllerScope& operator=(const ControllerScope&) = delete;

 private:
  BoardSource& boards_;
};

bool AsksForHelp(const std::vector<std::u16string>& args) {
  if (args.size() < 2) {
    return true;
  }
  // Case-sensitive on purpose: "-H" takes the relay road.
  const std::u16string_view first = args[1];
  return first.find(u"/?") != std::u16string_view::npos ||
         first.find(u"-h") != std::u16string_view::npos;
}

ExitStatus HelpRoad(const std::vector<std::u16string>& args, Console& output, BoardSource& boards) {
  ShowHelp(output, ProgramName(args.empty() ? std::u16string_view() : args[0]));
  const ControllerScope controller(boards);
  std::u16string listing = u"\r\n    USB Devices found:\r\n\r\n";
  for (const std::u16string& line : boards.DeviceLines()) {
    listing += line;
    listing += u"\r\n";
  }
  output.WriteLine(listing);
  return ExitStatus::Success;
}

ExitStatus ReportSwitching(const TSwitchResult& result, std::int32_t board, Console& output) {
  if (result.FinalReadOk) {
    output.WriteLine(StatusLine(result.State));
  }
  if (result.Succeeded()) {
    return ExitStatus::Success;
  }
  const std::u16string number = platform::Utf8ToUtf16(std::to_string(board));
  output.WriteLine(result.FirstReadOk
                       ? u"\r\nERROR: Could not switch relay board " + number + u"!"
                       : u"\r\nERROR: Could not read the state of relay board " + number + u"!");
  if (result.AccessDenied) {
    output.WriteLine(
        u"    The device exists but could not be opened for writing; see the README on "
        u"permissions.");
  }
  return ExitStatus::BoardFailure;
}

// Success when board `number` exists; otherwise the message is written.
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

std::u16string Number(std::int32_t value) {
  return platform::Utf8ToUtf16(std::to_string(value));
}

// "ID=" followed by a board's own five-character ID or its device path, in place of a
// number: the argument becomes "ID=<number>". Boards are read only when a value could be
// an ID, so the numbered forms exchange exactly what they always did. Success, or the
// status after the message was written.
ExitStatus ResolveBoardNames(std::vector<std::u16string>& args, Console& output,
                             BoardSource& boards) {
  constexpr std::u16string_view kKeyword = u"ID=";
  std::vector<std::string> ids;  // read on first need
  for (std::u16string& argument : args) {
    if (argument.size() <= kKeyword.size() ||
        !std::equal(kKeyword.begin(), kKeyword.end(), argument.begin(),
                    [](char16_t k, char16_t a) { return k == a || k == a - (u'a' - u'A'); })) {
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
      if (boards.BoardInfo(number).Path == value) {
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
        places += u"\r\n    board " + Number(number) + u": " + boards.BoardInfo(number).Path;
      }
      output.WriteLine(u"\r\nERROR: More than one relay board has the ID \"" + value +
                       u"\"; give its number or its path instead:" + places);
      return ExitStatus::NoSuchBoard;
    }
    if (matches.size() == 1) {
      argument = std::u16string(kKeyword) + Number(matches.front());
    } else if (couldBeId) {
      output.WriteLine(u"\r\nERROR: No relay board has the ID \"" + value + u"\"!");
      return ExitStatus::NoSuchBoard;
    }
  }
  return ExitStatus::Success;
}

ExitStatus RelayRoad(const std::vector<std::u16string>& original, Console& output,
                     BoardSource& boards) {
  const ControllerScope controller(boards);
  std::vector<std::u16string> args = original;
  if (const ExitStatus named = ResolveBoardNames(args, output, boards);
      named != ExitStatus::Success) {
    return named;
  }
  TRelayRequest request;
  if (!ParseArguments(std::span(args).subspan(1), request, output)) {
    return ExitStatus::BadArguments;
  }
  if (const ExitStatus board = CheckBoardNumber(request.ID, output, boards);
      board != ExitStatus::Success) {
    return board;
  }
  return ReportSwitching(boards.SwitchRelays(request), request.ID, output);
}

std::u16string Hex2(std::uint8_t value) {
  constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
  return {kHexDigits[value >> 4], kHexDigits[value & 0x0F]};
}

// A board's ID as it may be shown: characters a board may not hold show as "?".
std::u16string ShownBoardId(const std::string& id) {
  std::u16string shown;
  for (const char c : id) {
    shown +=
        relay::IsBoardIdCharacter(static_cast<unsigned char>(c)) ? static_cast<char16_t>(c) : u'?';
  }
  return shown;
}

// The switch that selects JSON output for list and state.
constexpr std::u16string_view kJsonSwitch = u"--json";

std::u16string JsonString(std::u16string_view text) {
  constexpr std::u16string_view kHexDigits = u"0123456789abcdef";
  std::u16string json = u"\"";
  for (const char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      json += u'\\';
      json += c;
    } else if (c < u' ') {
      json += u"\\u00";
      json += kHexDigits[c >> 4];
      json += kHexDigits[c & 0x0F];
    } else {
      json += c;
    }
  }
  return json + u"\"";
}

// One board as JSON: {"number", "id", "relays", "state", "path"}; id and state are null
// when the board could not be read.
std::u16string BoardJson(std::int32_t number, const TBoardInfo& info,
                         const TBoardReading& reading) {
  std::u16string id = u"null";
  std::u16string state = u"null";
  if (reading.ReadOk) {
    id = JsonString(ShownBoardId(reading.BoardId));
    state = Number(reading.State);
  }
  return u"{\"number\":" + Number(number) + u",\"id\":" + id + u",\"relays\":" +
         Number(info.Relays) + u",\"state\":" + state + u",\"path\":" + JsonString(info.Path) +
         u"}";
}

ExitStatus ReportReadFailure(const TBoardReading& reading, std::int32_t board, Console& output) {
  output.WriteLine(u"\r\nERROR: Could not read the state of relay board " + Number(board) + u"!");
  if (reading.AccessDenied) {
    output.WriteLine(
        u"    The device exists but could not be opened for writing; see the README on "
        u"permissions.");
  }
  return ExitStatus::BoardFailure;
}

bool IsJsonSwitch(std::u16string_view argument) {
  return argument.size() == kJsonSwitch.size() &&
         std::equal(argument.begin(), argument.end(), kJsonSwitch.begin(),
                    [](char16_t a, char16_t b) { return a == b || a == b - (u'a' - u'A'); });
}

// The board a command's arguments choose: "ID=" with a number, an ID or a path (board 1
// without one); "--json" too when json is given. Empty arguments are skipped. Success, or
// the status after the message was written.
ExitStatus ChooseBoard(std::vector<std::u16string> args, bool* json, std::int32_t& number,
                       Console& output, BoardSource& boards) {
  if (const ExitStatus named = ResolveBoardNames(args, output, boards);
      named != ExitStatus::Success) {
    return named;
  }
  TRelayRequest request;
  request.ID = 1;
  for (const std::u16string& argument : args) {
    if (argument.empty()) {
      continue;
    }
    if (json != nullptr && IsJsonSwitch(argument)) {
      *json = true;
      continue;
    }
    const std::u16string upper = UpperCaseAscii(argument);
    if (upper.find(u"ID=") == std::u16string::npos || !ParseID(upper, request)) {
      output.WriteLine(u"\r\n    ERROR: The argument \"" + argument + u"\" is not valid!");
      return ExitStatus::BadArguments;
    }
  }
  number = request.ID;
  return CheckBoardNumber(request.ID, output, boards);
}

// "state [ID=X]": the Status: line of one board, read only.
ExitStatus StateCommand(const std::vector<std::u16string>& all, Console& output,
                        BoardSource& boards) {
  const ControllerScope controller(boards);
  bool json = false;
  std::int32_t number = 1;
  if (const ExitStatus chosen =
          ChooseBoard({all.begin() + 2, all.end()}, &json, number, output, boards);
      chosen != ExitStatus::Success) {
    return chosen;
  }
  const TBoardReading reading = boards.ReadBoard(number);
  if (!reading.ReadOk) {
    return ReportReadFailure(reading, number, output);
  }
  output.WriteLine(json ? BoardJson(number, boards.BoardInfo(number), reading)
                        : StatusLine(reading.State));
  return ExitStatus::Success;
}

// "set-id NEWID [ID=X]": the board's new ID, read back and checked.
ExitStatus SetIdCommand(const std::vector<std::u16string>& all, Console& output,
                        BoardSource& boards) {
  const std::span<const std::u16string> given = std::span(all).subspan(2);
  std::vector<std::u16string> args;
  for (const std::u16string& argument : given) {
    if (!argument.empty()) {
      args.push_back(argument);
    }
  }
  if (args.empty()) {
    output.WriteLine(u"\r\n    ERROR: set-id needs the new ID of five characters!");
    return ExitStatus::BadArguments;
  }
  const std::u16string newId = args.front();
  // Checked before anything is read or sent: the board keeps whatever bytes it is given.
  if (newId.size() != relay::kBoardIdLength ||
      !std::all_of(newId.begin(), newId.end(),
                   [](char16_t c) { return relay::IsBoardIdCharacter(c); })) {
    output.WriteLine(u"\r\n    ERROR: The ID \"" + newId +
                     u"\" is not valid: an ID is five printable ASCII characters!");
    return ExitStatus::BadArguments;
  }
  const ControllerScope controller(boards);
  const std::vector<std::u16string> rest(args.begin() + 1, args.end());
  TRelayRequest request;
  if (const ExitStatus chosen = ChooseBoard(rest, nullptr, request.ID, output, boards);
      chosen != ExitStatus::Success) {
    return chosen;
  }
  const TSwitchResult result = boards.SetBoardId(request.ID, platform::Utf16ToUtf8(newId));
  if (!result.FirstReadOk) {
    TBoardReading failed;
    failed.AccessDenied = result.AccessDenied;
    return ReportReadFailure(failed, request.ID, output);
  }
  if (!result.Succeeded()) {
    output.WriteLine(u"\r\nERROR: Relay board " + Number(request.ID) + u" did not take the ID \"" +
                     newId + u"\"!");
    if (result.AccessDenied) {
      output.WriteLine(
          u"    The device exists but could not be opened for writing; see the README on "
          u"permissions.");
    }
    return ExitStatus::BoardFailure;
  }
  output.WriteLine(u"\r\n    ID: " + newId);
  return ExitStatus::Success;
}

// "--version": the help's version line alone; no device is looked at.
ExitStatus VersionCommand(const std::vector<std::u16string>& all, Console& output,
                          BoardSource& /*boards*/) {
  output.WriteLine(VersionLine(ProgramName(all[0])));
  return ExitStatus::Success;
}

// "list": one line per relay board: number, ID, relay count, state, path.
ExitStatus ListCommand(const std::vector<std::u16string>& all, Console& output,
                       BoardSource& boards) {
  const std::span<const std::u16string> args = std::span(all).subspan(2);
  bool json = false;
  for (const std::u16string& argument : args) {
    if (IsJsonSwitch(argument)) {
      json = true;
    } else if (!argument.empty()) {
      output.WriteLine(u"\r\n    ERROR: The argument \"" + argument + u"\" is not valid!");
      return ExitStatus::BadArguments;
    }
  }
  const ControllerScope controller(boards);
  std::u16string listing = u"{\"boards\":[";
  for (std::int32_t number = 1; number <= boards.BoardCount(); ++number) {
    const TBoardInfo info = boards.BoardInfo(number);
    const TBoardReading reading = boards.ReadBoard(number);
    if (json) {
      listing += (number > 1 ? u"," : u"") + BoardJson(number, info, reading);
      continue;
    }
    const std::u16string id = reading.ReadOk ? ShownBoardId(reading.BoardId) : u"?????";
    const std::u16string state =
        reading.ReadOk ? u"Status: " + Hex2(reading.State) : std::u16string(u"Status: ??");
    output.WriteLine(u"    " + Number(number) + u"  " + id + u"  " + Number(info.Relays) + u"  " +
                     state + u"  " + info.Path +
                     (reading.ReadOk ? u"" : u"  (the state cannot be read)"));
  }
  if (json) {
    output.WriteLine(listing + u"]}");
  }
  return ExitStatus::Success;
}

// The commands beside the relay grammar: each is one entry. A word is matched whole, as
// the first argument, in any case, and holds none of the grammar's keywords.
struct TCommand {
  std::u16string_view Word;
  // Args as Run has them: the program's path, the command word, the command's arguments.
  ExitStatus (*Run)(const std::vector<std::u16string>& Args, Console& Output, BoardSource& Boards);
};
constexpr TCommand kCommands[] = {
    {u"list", &ListCommand},
    {u"state", &StateCommand},
    {u"set-id", &SetIdCommand},
    {u"--version", &VersionCommand},
};

const TCommand* FindCommand(const std::vector<std::u16string>& args) {
  if (args.size() < 2) {
    return nullptr;
  }
  for (const TCommand& command : kCommands) {
    const std::u16string& word = args[1];
    if (word.size() == command.Word.size() &&
        std::equal(word.begin(), word.end(), command.Word.begin(), [](char16_t a, char16_t b) {
          return (a >= u'A' && a <= u'Z' ? static_cast<char16_t>(a - u'A' + u'a') : a) == b;
        })) {
      return &command;
    }
  }
  return nullptr;
}

}  // namespace

TBoardInfo DiscoveredBoards::BoardInfo(std::int32_t Number) const {
  hid::THidDevice& board = Board(Number);
  TBoardInfo info;
  info.Relays = relay::RelayCount(board.ProductName());
  if (board.PnPInfo() != nullptr) {
    info.Path = board.PnPInfo()->DevicePath();
  }
  return info;
}

void DiscoveredBoards::CreateController() {
  discovery_.CreateController();
  // Standard error: the tool's output on standard output stays as scripts expect it.
  for (const std::u16string& path : discovery_.SkippedDevices()) {
    const std::string line =
        "quorvel: skipped a HID device that cannot be identified: " + platform::Utf16ToUtf8(path) +
        "\n";
    std::fputs(line.c_str(), stderr);
  }
}

std::u16string StatusLine(std::uint8_t State) {
  constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
  return std::u16string(u"\r\n    Status: ") + kHexDigits[State >> 4] + kHexDigits[State & 0x0F];
}

int Run(const std::vector<std::u16string>& Args, Console& Output, BoardSource& Boards) {
  ExitStatus status = ExitStatus::UnexpectedError;
  try {
    if (AsksForHelp(Args)) {
      status = HelpRoad(Args, Output, Boards);
    } else if (const TCommand* command = FindCommand(Args)) {
      status = command->Run(Args, Output, Boards);
    } else {
      status = RelayRoad(Args, Output, Boards);
    }
  } catch (const hid::ELayerException& e) {
    Output.WriteLine(platform::Utf8ToUtf16(e.ClassName()) + u": " +
                     platform::Utf8ToUtf16(e.Message()));
  } catch (const std::exception& e) {
    // Standard exceptions carry no class name worth showing.
    Output.WriteLine(u"Exception: " + platform::Utf8ToUtf16(e.what()));
  } catch (...) {
    Output.WriteLine(u"Exception: unknown exception");
  }
  return ToInt(status);
}

int Run(const std::vector<std::u16string>& Args, Console& Output) {
  DiscoveredBoards boards;
  return Run(Args, Output, boards);
}

}  // namespace quorvel::app
