#include "sim/WorldFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "sim/WorldJson.h"

#ifdef _WIN32
#include <windows.h>
#include "platform/Utf.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace quorvel::sim {
namespace {

// The world file this process's world is bound to; empty while it is bound to none.
std::string& BoundPath() {
  static std::string path;
  return path;
}

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

bool ProcessRuns(unsigned long process) {
  const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
  if (handle == nullptr) {
    // No such process; a process we may not open is taken to be running.
    return GetLastError() != ERROR_INVALID_PARAMETER;
  }
  const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return running;
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

bool ProcessRuns(unsigned long process) {
  if (process == 0 || process > static_cast<unsigned long>(std::numeric_limits<pid_t>::max())) {
    return false;
  }
  // A process of another user is running too (EPERM).
  return kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
}

#endif

std::string TemporaryPrefix(const std::string& path) {
  return path + ".tmp";
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  // Per process, so that two processes writing the same world never share a temporary.
  const std::string temporary = TemporaryPrefix(path) + std::to_string(ProcessId());
  if (!WriteAll(temporary, text, error) || !Replace(temporary, path, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  namespace fs = std::filesystem;
  const auto utf8 = [](const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
  };
  const fs::path file = utf8(path);
  const auto prefix = utf8(TemporaryPrefix(path)).filename().native();
  std::error_code failed;
  fs::directory_iterator entries(file.parent_path().empty() ? fs::path(".") : file.parent_path(),
                                 failed);
  for (; !failed && entries != fs::directory_iterator(); entries.increment(failed)) {
    const fs::path leaf = entries->path().filename();
    const auto& name = leaf.native();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    unsigned long process = 0;
    bool digits = true;
    for (std::size_t i = prefix.size(); i < name.size() && digits; ++i) {
      digits = name[i] >= '0' && name[i] <= '9' && process < 100000000;
      process = process * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (!digits) {
      continue;  // not a temporary of this kind
    }
    // A live process may be about to rename its temporary; the only live one that is
    // ours to take away is this process's own, from an earlier process of the same ID.
    if (process == ProcessId() || !ProcessRuns(process)) {
      std::error_code ignored;
      fs::remove(entries->path(), ignored);
    }
  }
}

void LoadWorldFromEnvironment(TWorld& world) {
  const char* variable = std::getenv(kWorldVariable);
  if (variable == nullptr || *variable == '\0') {
    return;
  }
  const std::string path = variable;
  RemoveStaleTemporaries(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Report(path, "cannot be read; the simulated world is empty");
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  TJson json;
  TWorldDescription description;
  std::string error;
  if (ParseJson(text.str(), json, error)) {
    WorldFromJson(json, description, error);
  }
  auto lock = world.Lock();
  if (!error.empty() ||
      !world.Reset(lock, std::move(description.Devices), std::move(description.Log), error)) {
    Report(path, error + "; the simulated world is empty");
    return;
  }
  lock.unlock();
  BoundPath() = path;
  world.SetPersist(
      [path](const TWorld& w, const std::unique_lock<std::mutex>& held, std::string& reason) {
        return WriteFileAtomically(path, WorldToText(w, held), reason);
      });
}

void SaveWorldAtExit(TWorld& world) {
  if (BoundPath().empty()) {
    return;
  }
  const auto lock = world.LockForExit();
  std::string error;
  if (!lock.owns_lock()) {
    error = "a device call never ended; the changes of this run are lost";
  } else if (world.Save(lock, error)) {
    return;
  }
  Report(BoundPath(), error);
}

}  // namespace quorvel::sim
