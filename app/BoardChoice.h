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

using relay::BoardNumberOf;
using relay::HasBoardIdForm;

// The boards that "ID=" arguments name by their own ID or their device path, by the
// argument's index (no value where the argument is no such name: a number stays the
// grammar's). Success, or the status after the message was written: a value that is a
// number and another board's ID, an ID several boards share, an ID or a path no board has.
ExitStatus ChooseNamedBoards(const std::vector<std::u16string>& Args,
                             std::vector<std::optional<std::int32_t>>& Named, Console& Output,
                             BoardSource& Boards);

}  // namespace quorvel::app
