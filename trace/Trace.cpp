#include "trace/Trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace quorvel::trace {

namespace {

// The level QUORVEL_TRACE names: a digit from 1 to 3, 0 or nothing for none, and any other
// value the first level, as before there were levels.
int ReadLevel(const char* value) {
  if (value == nullptr || *value == '\0') {
    return 0;
  }
  const std::string_view text(value);
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
    return std::min(text[0] - '0', kTraceLevels);
  }
  return 1;
}

int& Level() {
  static int level = ReadLevel(std::getenv("QUORVEL_TRACE"));
  return level;
}

}  // namespace

bool TraceOn(int AtLevel) {
  return Level() >= AtLevel;
}

void SetTraceForTest(int AtLevel) {
  Level() = AtLevel;
}

void WriteErrorLine(std::string_view line) {
  std::string text(line);
#ifdef _WIN32
  text += "\r\n";
  DWORD written = 0;
  // Straight to the handle: the C runtime's stderr buffer is per module.
  (void)WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                  &written, nullptr);
#else
  text += '\n';
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return;  // nowhere to complain to
    }
    done += static_cast<std::size_t>(wrote);
  }
#endif
}

void TraceLine(std::string_view line) {
  WriteErrorLine("quorvel trace: " + std::string(line));
}

std::string TraceBytes(const void* data, std::size_t size) {
  constexpr char kHex[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text = "[";
  for (std::size_t i = 0; bytes != nullptr && i < size; ++i) {
    if (i != 0) {
      text += ' ';
    }
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text + "]";
}

std::string TraceAccess(bool reads, bool writes) {
  if (reads && writes) {
    return "read and write";
  }
  return reads ? "read" : writes ? "write" : "no access";
}

#ifdef _WIN32

std::string SystemErrorText(unsigned long error) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length != 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(error) : text;
}

#else

std::string ErrnoText(int error) {
  // The GNU strerror_r returns its text (perhaps a static one) rather than filling the buffer.
  char buffer[128] = {};
  const char* text = strerror_r(error, buffer, sizeof(buffer));
  const char* name = strerrorname_np(error);  // null for a number without a name
  return std::string(text != nullptr ? text : "unknown error") + " (" +
         (name != nullptr ? std::string(name) : std::to_string(error)) + ")";
}

#endif

}  // namespace quorvel::trace
