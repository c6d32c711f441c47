#include "sim/WorldFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/WorldJson.h"

#ifdef _WIN32
#include <windows.h>
#include "platform/Utf.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quorvel::sim {
namespace {

void Report(const std::string& path, const std::string& message) {
  std::fprintf(stderr, "quorvel simulation: world file \"%s\": %s\n", path.c_str(),
               message.c_str());
  std::fflush(stderr);
}

#ifdef _WIN32

bool WriteAll(const std::string& path, const std::string& text, std::string& error) {
  const auto wide = platform::Utf8ToUtf16(path);
  const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create, error " + std::to_string(GetLastError());
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
      written == text.size() && FlushFileBuffers(file) != 0;
  if (!ok) {
    error = "cannot write, error " + std::to_string(GetLastError());
  }
  CloseHandle(file);
  return ok;
}

bool Replace(const std::string& from, const std::string& to, std::string& error) {
  const auto wideFrom = platform::Utf8ToUtf16(from);
  const auto wideTo = platform::Utf8ToUtf16(to);
  if (MoveFileExW(reinterpret_cast<LPCWSTR>(wideFrom.c_str()),
                  reinterpret_cast<LPCWSTR>(wideTo.c_str()),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = "cannot replace, error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

unsigned long ProcessId() {
  return GetCurrentProcessId();
}

#else

bool WriteAll(const std::string& path, const std::string& text, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const auto n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      error = std::string("cannot write: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) {
    error = std::string("cannot flush: ") + std::strerror(errno);
    close(fd);
    return false;
  }
  if (close(fd) != 0) {
    error = std::string("cannot close: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool Replace(const std::string& from, const std::string& to, std::string& error) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    error = std::string("cannot replace: ") + std::strerror(errno);
    return false;
  }
  return true;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(getpid());
}

#endif

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  // Per process, so that two processes writing the same world never share a temporary.
  const std::string temporary = path + ".tmp" + std::to_string(ProcessId());
  if (!WriteAll(temporary, text, error) || !Replace(temporary, path, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

void LoadWorldFromEnvironment(TWorld& world) {
  const char* variable = std::getenv(kWorldVariable);
  if (variable == nullptr || *variable == '\0') {
    return;
  }
  const std::string path = variable;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Report(path, "cannot be read; the simulated world is empty");
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  TJson json = TJson::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  TWorldDescription description;
  std::string error;
  if (json.is_discarded()) {
    error = "not valid JSON";
  } else {
    WorldFromJson(json, description, error);
  }
  if (!error.empty()) {
    Report(path, error + "; the simulated world is empty");
    return;
  }
  auto lock = world.Lock();
  world.Reset(lock, std::move(description.Devices), std::move(description.Log));
  lock.unlock();
  // Reported once per failure run, so a read-only folder does not flood the output.
  world.SetPersist(
      [path, failing = false](const TWorld& w, const std::unique_lock<std::mutex>& held) mutable {
        std::string reason;
        if (!WriteFileAtomically(path, WorldToText(w, held), reason)) {
          if (!failing) {
            Report(path, reason);
          }
          failing = true;
        } else {
          failing = false;
        }
      });
}

}  // namespace quorvel::sim
