// Choosing a board, by its number, its own ID or its device path: shared by the relay
// road and the command words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/BoardSource.h"
#include "app/Console.h"
#include "app/ExitStatus.h"

namespace quorvel::app {

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

// Success when board Number exists; otherwise the message is written.
ExitStatus CheckBoardNumber(std::int32_t Number, Console& Output, const BoardSource& Boards);

// The board number "ID=" reads Value as, if it reads as one.
std::optional<std::int32_t> BoardNumberOf(std::u16string_view Value);

// Whether Value has the form of a board's own ID: five printable ASCII characters.
bool HasBoardIdForm(std::u16string_view Value);

// "ID=" followed by a board's own five-character ID or its device path (as the system
// resolves it: links, relative paths), in place of a number: the argument becomes
// "ID=<number>". A number that some other board also holds as its ID is refused as
// ambiguous. Boards are read only when a value has the form of an ID, so the usual
// numbered forms exchange exactly what they always did. Success, or the status after the
// message was written.
ExitStatus ResolveBoardNames(std::vector<std::u16string>& Args, Console& Output,
                             BoardSource& Boards);

// The line that follows a board's failure when the system refused access to the board.
void WriteAccessDenied(Console& Output);

}  // namespace quorvel::app
