#include "app/Console.h"

#include <cstdio>

#include "platform/Utf.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace quorvel::app {

void Console::WriteLine(std::u16string_view text) {
  const std::u16string_view end = lineEnd_ == LineEnd::CrLf ? u"\r\n" : u"\n";
  constexpr std::u16string_view kBreak = u"\r\n";
  std::u16string line;
  line.reserve(text.size() + end.size());
  for (std::size_t from = 0;;) {
    const std::size_t at = text.find(kBreak, from);
    if (at == std::u16string_view::npos) {
      line.append(text.substr(from));
      break;
    }
    line.append(text.substr(from, at - from)).append(end);
    from = at + kBreak.size();
  }
  line += end;
  if (!Emit(line)) {
    failed_ = true;
  }
}

StdoutConsole::StdoutConsole() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  DWORD mode = 0;
  isConsoleWindow_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#endif
}

bool StdoutConsole::Emit(std::u16string_view line) {
#ifdef _WIN32
  if (isConsoleWindow_) {
    // WCHAR is wchar_t here, 16 bits like char16_t.
    DWORD written = 0;
    return WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE),
                         reinterpret_cast<const wchar_t*>(line.data()),
                         static_cast<DWORD>(line.size()), &written,
                         /*lpReserved=*/nullptr) != 0 &&
           written == line.size();
  }
#endif
  const std::string bytes = platform::Utf16ToUtf8(line);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  return std::fflush(stdout) == 0 && written;
}

}  // namespace quorvel::app
