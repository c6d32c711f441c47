// The system's side of thread names: thread IDs, the ANSI code page, and the
// facility debuggers read names from.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::platform {

uint32_t CurrentThreadId();
// UTF-8 on POSIX, where that is the system's code page.
std::string ToAnsiCodePage(const std::u16string& text);
// Best effort: a thread that has ended, or a system that refuses, keeps its name.
void ShowThreadName(const std::string& name, uint32_t threadId);

}  // namespace quorvel::platform
