// The help road's usage text.
#pragma once

#include <string>
#include <string_view>

#include "app/Console.h"

namespace quorvel::app {

#ifdef _WIN32
inline constexpr std::u16string_view kFolderSeparators = u"\\/";
#else
inline constexpr std::u16string_view kFolderSeparators = u"/";
#endif

// The name the help shows for the executable at Path: its file name without
// the folder and without the text from the file name's last "." on.
std::u16string ProgramName(std::u16string_view Path,
                           std::u16string_view FolderSeparators = kFolderSeparators);

// The version line of the help, without the empty lines around it.
std::u16string VersionLine(std::u16string_view ProgramName);

// Writes the version line, the usage and the examples, naming the program.
void ShowHelp(Console& Output, std::u16string_view ProgramName);

}  // namespace quorvel::app
