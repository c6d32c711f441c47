// The tool's exit statuses, as the README documents them.
#pragma once

namespace quorvel::app {

enum class ExitStatus : int {
  Success = 0,          // help or version shown, relays switched, boards listed, a state read
  BadArguments = 1,     // arguments that cannot be acted on; nothing switched
  NoSuchBoard = 2,      // no board with that number or ID, or an ID several boards share
  BoardFailure = 3,     // a board could not be read or commanded, or kept its old ID
  UnexpectedError = 4,  // an exception reached the entry
  Unconfirmed = 5,      // a new ID was sent but could not be read back
};

constexpr int ToInt(ExitStatus status) {
  return static_cast<int>(status);
}

}  // namespace quorvel::app
