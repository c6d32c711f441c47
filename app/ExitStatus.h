// The tool's exit statuses, as the README documents them.
#pragma once

namespace quorvel::app {

enum class ExitStatus : int {
  Success = 0,          // help shown, or relays switched and the status printed
  BadArguments = 1,     // arguments that cannot be acted on; nothing switched
  NoSuchBoard = 2,      // board number above the number of boards found
  BoardFailure = 3,     // a board could not be read or commanded
  UnexpectedError = 4,  // an exception reached the entry
};

constexpr int ToInt(ExitStatus status) {
  return static_cast<int>(status);
}

}  // namespace quorvel::app
