// The command words beside the relay grammar, in one table (Commands.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/BoardSource.h"
#include "app/Console.h"
#include "app/ExitStatus.h"

namespace quorvel::app {

// The commands beside the relay grammar: each is one entry. A word is matched whole, as
// the first argument, in any case, and holds none of the grammar's keywords.
struct TCommand {
  std::u16string_view Word;
  // Args as Run has them: the program's path, the command word, the command's arguments.
  ExitStatus (*Run)(const std::vector<std::u16string>& Args, Console& Output, BoardSource& Boards);
};

// The command whose word is Args[1], or null: the relay road then reads the arguments.
const TCommand* FindCommand(const std::vector<std::u16string>& Args);

}  // namespace quorvel::app
