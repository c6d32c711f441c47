#include "app/Entry.h"

#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "app/ArgumentGrammar.h"
#include "app/BoardChoice.h"
#include "app/BoardMessages.h"
#include "app/Commands.h"
#include "app/ExitStatus.h"
#include "app/HelpText.h"
#include "app/NumberConversion.h"
#include "hid/LayerTypes.h"
#include "platform/Utf.h"

namespace quorvel::app {
namespace {

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
  const std::u16string number = IntToStr(board);
  output.WriteLine(result.FirstReadOk
                       ? u"\r\nERROR: Could not switch relay board " + number + u"!"
                       : u"\r\nERROR: Could not read the state of relay board " + number + u"!");
  if (result.AccessDenied) {
    WriteAccessDenied(output);
  }
  return ExitStatus::BoardFailure;
}

ExitStatus RelayRoad(const std::vector<std::u16string>& args, Console& output,
                     BoardSource& boards) {
  const ControllerScope controller(boards);
  std::vector<std::optional<std::int32_t>> named;
  if (const ExitStatus chosen = ChooseNamedBoards(args, named, output, boards);
      chosen != ExitStatus::Success) {
    return chosen;
  }
  TRelayRequest request;
  if (!ParseArguments(std::span(args).subspan(1), request, output, std::span(named).subspan(1))) {
    return ExitStatus::BadArguments;
  }
  if (const ExitStatus board = CheckBoardNumber(request.ID, output, boards);
      board != ExitStatus::Success) {
    return board;
  }
  return ReportSwitching(boards.SwitchRelays(request), request.ID, output);
}

}  // namespace

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
