#include "tests/app/ProcessRunner.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "platform/Utf.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace quorvel::app::test {
namespace {

// A file of its own for the program's standard error: a second pipe would need a
// second reader, or the program could block on it while this side reads the first.
std::filesystem::path ErrorFile() {
  static std::atomic<int> next{0};
#ifdef _WIN32
  const auto process = static_cast<unsigned long>(GetCurrentProcessId());
#else
  const auto process = static_cast<unsigned long>(getpid());
#endif
  return std::filesystem::temp_directory_path() /
         ("quorvel-stderr-" + std::to_string(process) + "-" + std::to_string(next++) + ".txt");
}

std::string TakeFile(const std::filesystem::path& file) {
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return text;
}

std::optional<std::string> Variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void SetVariable(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.value_or("").c_str());
  const std::u16string wideName = platform::Utf8ToUtf16(name);
  const std::u16string wideValue = platform::Utf8ToUtf16(value.value_or(""));
  SetEnvironmentVariableW(
      reinterpret_cast<LPCWSTR>(wideName.c_str()),
      value && !value->empty() ? reinterpret_cast<LPCWSTR>(wideValue.c_str()) : nullptr);
#else
  if (value && !value->empty()) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

// The child inherits this process's environment: the overrides hold while it starts.
class EnvironmentScope {
 public:
  explicit EnvironmentScope(const Environment& environment) {
    for (const auto& [name, value] : environment) {
      saved_.emplace_back(name, Variable(name));
      SetVariable(name, value);
    }
  }
  ~EnvironmentScope() {
    for (const auto& [name, value] : saved_) {
      SetVariable(name, value);
    }
  }
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

#ifdef _WIN32

namespace {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE Get() const { return handle_; }
  HANDLE* Put() { return &handle_; }
  void Reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The quoting CommandLineToArgvW undoes: backslashes double only before a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    return arg;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = platform::Utf8ToUtf16(utf8);
  return {text.begin(), text.end()};
}

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + " failed, error " + std::to_string(GetLastError()));
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::string& /*argument0*/,
                         const std::vector<std::string>& arguments,
                         const Environment& environment) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::filesystem::path errorFile = ErrorFile();
  OwnedHandle errors(CreateFileW(errorFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (errors.Get() == INVALID_HANDLE_VALUE) {
    Fail("CreateFileW");
  }
  OwnedHandle readEnd;
  OwnedHandle writeEnd;
  if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0)) {
    Fail("CreatePipe");
  }
  SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine = QuoteArgument(program.wstring());
  for (const std::string& arg : arguments) {
    commandLine += L' ';
    commandLine += QuoteArgument(Wide(arg));
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd.Get();
  startup.hStdError = errors.Get();
  PROCESS_INFORMATION info{};
  {
    const EnvironmentScope scope(environment);
    if (!CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr,
                        /*bInheritHandles=*/TRUE, 0, nullptr, nullptr, &startup, &info)) {
      Fail("CreateProcessW");
    }
  }
  const OwnedHandle process(info.hProcess);
  const OwnedHandle thread(info.hThread);
  writeEnd.Reset();  // so the read below ends when the child exits
  errors.Reset();

  ProcessResult result;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    result.output.append(buffer, got);
  }
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) {
    Fail("GetExitCodeProcess");
  }
  result.exitStatus = static_cast<int>(code);
  result.errors = TakeFile(errorFile);
  return result;
}

std::filesystem::path BesideThisTest(const std::string& fileName) {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  return std::filesystem::path(self).parent_path() / fileName;
}

#else

namespace {

class Pipe {
 public:
  Pipe() {
    // Not inherited by a program another thread starts meanwhile, which would hold the
    // write end open and delay the end of this program's output.
    if (pipe2(fds_, O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int ReadEnd() const { return fds_[0]; }
  int WriteEnd() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
  int fds_[2] = {-1, -1};
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::string& argument0,
                         const std::vector<std::string>& arguments,
                         const Environment& environment) {
  Pipe output;
  SpawnActions actions;
  const std::filesystem::path errorFile = ErrorFile();
  posix_spawn_file_actions_adddup2(actions.Get(), output.WriteEnd(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, errorFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addclose(actions.Get(), output.ReadEnd());
  posix_spawn_file_actions_addclose(actions.Get(), output.WriteEnd());

  std::vector<std::string> storage{argument0};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  pid_t child = 0;
  const std::string path = program.string();
  int spawned = 0;
  {
    const EnvironmentScope scope(environment);
    spawned = posix_spawn(&child, path.c_str(), actions.Get(), nullptr, argv.data(), environ);
  }
  if (spawned != 0) {
    throw std::runtime_error("posix_spawn " + path + ": " + std::strerror(spawned));
  }
  output.CloseWrite();  // so the read below ends when the child exits

  ProcessResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(output.ReadEnd(), buffer, sizeof(buffer));
    if (got > 0) {
      result.output.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  int wait = 0;
  while (waitpid(child, &wait, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }
  }
  // A signal shows as 128 + its number, as a shell reports it.
  result.exitStatus = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
  result.errors = TakeFile(errorFile);
  return result;
}

std::filesystem::path BesideThisTest(const std::string& fileName) {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / fileName;
}

#endif

}  // namespace quorvel::app::test
