#include "app/Commands.h"

#include <algorithm>
#include <optional>
#include <span>

#include "app/ArgumentGrammar.h"
#include "app/BoardChoice.h"
#include "app/BoardMessages.h"
#include "app/HelpText.h"
#include "app/NumberConversion.h"
#include "platform/Utf.h"

namespace quorvel::app {
namespace {

// A board's ID as it may be shown: printable ASCII, so the bytes convert as they are.
std::u16string ShownBoardId(const std::string& id) {
  const std::string shown = relay::ShownBoardId(id);
  return {shown.begin(), shown.end()};
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
    state = platform::Utf8ToUtf16(std::to_string(reading.State));
  }
  return u"{\"number\":" + IntToStr(number) + u",\"id\":" + id + u",\"relays\":" +
         IntToStr(info.Relays) + u",\"state\":" + state + u",\"path\":" + JsonString(info.Path) +
         u"}";
}

ExitStatus ReportReadFailure(const TBoardReading& reading, std::int32_t board, Console& output) {
  output.WriteLine(u"\r\nERROR: Could not read the state of relay board " + IntToStr(board) + u"!");
  if (reading.AccessDenied) {
    WriteAccessDenied(output);
  }
  return ExitStatus::BoardFailure;
}

bool IsJsonSwitch(std::u16string_view argument) {
  return EqualsIgnoringAsciiCase(argument, kJsonSwitch);
}

// The board a command's arguments choose: "ID=" with a number, an ID or a path (board 1
// without one); "--json" too when json is given. Empty arguments are skipped. Success, or
// the status after the message was written.
ExitStatus ChooseBoard(const std::vector<std::u16string>& args, bool* json, std::int32_t& number,
                       Console& output, BoardSource& boards) {
  std::vector<std::optional<std::int32_t>> named;
  if (const ExitStatus chosen = ChooseNamedBoards(args, named, output, boards);
      chosen != ExitStatus::Success) {
    return chosen;
  }
  TRelayRequest request;
  request.ID = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::u16string& argument = args[i];
    if (named[i]) {
      request.ID = *named[i];
      continue;
    }
    if (argument.empty()) {
      continue;
    }
    if (json != nullptr && IsJsonSwitch(argument)) {
      *json = true;
      continue;
    }
    const std::u16string upper = UpperCaseAscii(argument);
    if (upper.find(u"ID=") == std::u16string::npos || !ParseID(upper, request)) {
      WriteInvalidArgument(output, argument);
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
  if (!HasBoardIdForm(newId)) {
    output.WriteLine(u"\r\n    ERROR: The ID \"" + newId +
                     u"\" is not valid: an ID is five printable ASCII characters!");
    return ExitStatus::BadArguments;
  }
  // "ID=" would take such an ID for a board number and choose another board by it.
  if (const std::optional<std::int32_t> number = BoardNumberOf(newId)) {
    output.WriteLine(u"\r\n    ERROR: The ID \"" + newId +
                     u"\" is not valid: ID= would read it as board number " + IntToStr(*number) +
                     u"!");
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
  if (result.CommandsOk && !result.FinalReadOk) {
    output.WriteLine(u"\r\nERROR: Relay board " + IntToStr(request.ID) + u" was sent the ID \"" +
                     newId + u"\", but its ID could not be read back to check it!" + u"\r\n    \"" +
                     ProgramName(all[0]) + u" list\" shows the ID it holds.");
    return ExitStatus::Unconfirmed;
  }
  if (!result.Succeeded()) {
    output.WriteLine(u"\r\nERROR: Relay board " + IntToStr(request.ID) +
                     u" did not take the ID \"" + newId + u"\"!");
    if (result.AccessDenied) {
      WriteAccessDenied(output);
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
      WriteInvalidArgument(output, argument);
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
        reading.ReadOk ? u"Status: " + StateToHex(reading.State) : std::u16string(u"Status: ??");
    output.WriteLine(u"    " + IntToStr(number) + u"  " + id + u"  " + IntToStr(info.Relays) +
                     u"  " + state + u"  " + info.Path +
                     (reading.ReadOk ? u"" : u"  (the state cannot be read)"));
  }
  if (json) {
    output.WriteLine(listing + u"]}");
  }
  return ExitStatus::Success;
}

constexpr TCommand kCommands[] = {
    {u"list", &ListCommand},
    {u"state", &StateCommand},
    {u"set-id", &SetIdCommand},
    {u"--version", &VersionCommand},
};

}  // namespace

const TCommand* FindCommand(const std::vector<std::u16string>& args) {
  if (args.size() < 2) {
    return nullptr;
  }
  for (const TCommand& command : kCommands) {
    if (EqualsIgnoringAsciiCase(args[1], command.Word)) {
      return &command;
    }
  }
  return nullptr;
}

}  // namespace quorvel::app
