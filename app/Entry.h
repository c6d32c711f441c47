// The program entry: the help road, the command words (Commands.h) and the relay road.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/BoardSource.h"
#include "app/Console.h"

namespace quorvel::app {

// Runs the tool once. Args[0] is the path of the executable, the rest are the
// command-line arguments in order. Returns the process exit status
// (ExitStatus); every message has been written to Output by then.
int Run(const std::vector<std::u16string>& Args, Console& Output);
int Run(const std::vector<std::u16string>& Args, Console& Output, BoardSource& Boards);

}  // namespace quorvel::app
