// Process start: the arguments as UTF-16 text, standard output as the console.
#include <cstdio>
#include <string>
#include <vector>

#include "app/Console.h"
#include "app/Entry.h"
#include "app/ExitStatus.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>  // needs windows.h first

#include <memory>
#else
#include "platform/Utf.h"
#endif

namespace {

#ifdef _WIN32
// The wide command line, not the code-page argv, so any character arrives.
// Argument 0 is the executable's own path, as the help names the file.
std::vector<std::u16string> CommandLineArguments() {
  std::vector<std::u16string> args;
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  args.emplace_back(self.begin(), self.end());

  int count = 0;
  const auto localFree = [](wchar_t** p) { LocalFree(p); };
  const std::unique_ptr<wchar_t*, decltype(localFree)> argv(
      CommandLineToArgvW(GetCommandLineW(), &count), localFree);
  for (int i = 1; argv && i < count; ++i) {
    const std::wstring_view arg = argv.get()[i];
    args.emplace_back(arg.begin(), arg.end());
  }
  return args;
}
#endif

}  // namespace

#ifdef _WIN32
int main() {
  const std::vector<std::u16string> args = CommandLineArguments();
#else
int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(quorvel::platform::Utf8ToUtf16(argv[i]));
  }
#endif
  quorvel::app::StdoutConsole console;
  int status = quorvel::app::Run(args, console);
  if (console.Failed()) {
    std::fputs("quorvel: could not write to standard output\n", stderr);
    if (status == quorvel::app::ToInt(quorvel::app::ExitStatus::Success)) {
      status = quorvel::app::ToInt(quorvel::app::ExitStatus::UnexpectedError);
    }
  }
  return status;
}
