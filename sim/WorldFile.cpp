#include "sim/WorldFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "sim/WorldJson.h"
#include "sim/WorldMerge.h"

#ifdef _WIN32
#include <windows.h>
#include "platform/Utf.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/posix/UniqueFd.h"
#endif

namespace quorvel::sim {
namespace {

namespace fs = std::filesystem;

// A write-back waits this long at most for another process's write-back to end.
constexpr auto kLockWait = std::chrono::seconds(10);

// The world file this process's world is bound to (Path empty while it is bound to
// none), its devices as this process read or last wrote them, and its text then.
struct TBinding {
  std::string Path;
  TJson Written;
  std::string Text;
};

TBinding& Bound() {
  static TBinding binding;
  return binding;
}

fs::path FilePath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

void Report(const std::string& path, const std::string& message) {
  std::fprintf(stderr, "quorvel simulation: world file \"%s\": %s\n", path.c_str(),
               message.c_str());
  std::fflush(stderr);
}

// A short pause before the next try for a lock another process holds; false and a
// reason once it has waited long enough.
bool WaitForLock(std::chrono::steady_clock::time_point until, const std::string& path,
                 std::string& error) {
  if (std::chrono::steady_clock::now() >= until) {
    error = "\"" + path + "\" stayed locked by another process for " +
            std::to_string(std::chrono::seconds(kLockWait).count()) + " seconds";
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

#ifdef _WIN32

bool WriteAll(const std::string& path, const std::string& text, const std::string& /*like*/,
              std::string& error) {
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
  // A process that is starting reads the file without the lock, and Windows refuses to
  // replace a file another process holds open: that reader lets go within moments.
  constexpr int kAttempts = 100;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(reinterpret_cast<LPCWSTR>(wideFrom.c_str()),
                    reinterpret_cast<LPCWSTR>(wideTo.c_str()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
    const DWORD failure = GetLastError();
    if ((failure != ERROR_ACCESS_DENIED && failure != ERROR_SHARING_VIOLATION) ||
        attempt == kAttempts) {
      error = "cannot replace, error " + std::to_string(failure);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
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

// An exclusive lock on a file of its own beside the world file, which each write
// replaces. The system lets go of it when its holder ends, killed too.
class TFileLock {
 public:
  TFileLock() = default;
  ~TFileLock() {
    if (file_ != INVALID_HANDLE_VALUE) {
      CloseHandle(file_);  // and with it the lock
    }
  }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  bool Take(const std::string& path, std::string& error) {
    const auto wide = platform::Utf8ToUtf16(path);
    file_ = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      error = "cannot create the lock \"" + path + "\", error " + std::to_string(GetLastError());
      return false;
    }
    const auto until = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
      OVERLAPPED whole{};
      if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole) !=
          0) {
        return true;
      }
      if (GetLastError() != ERROR_LOCK_VIOLATION) {
        error = "cannot lock \"" + path + "\", error " + std::to_string(GetLastError());
        return false;
      }
      if (!WaitForLock(until, path, error)) {
        return false;
      }
    }
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

#else

bool WriteAll(const std::string& path, const std::string& text, const std::string& like,
              std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  // The file it replaces keeps its mode, and its owner where this process may give it.
  struct stat replaced {};
  if (stat(like.c_str(), &replaced) == 0) {
    [[maybe_unused]] const int owned = fchown(fd, replaced.st_uid, replaced.st_gid);
    if (fchmod(fd, replaced.st_mode & 07777) != 0) {
      error = std::string("cannot set the mode: ") + std::strerror(errno);
      close(fd);
      return false;
    }
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

// An exclusive lock on a file of its own beside the world file, which each write
// replaces. The system lets go of it when its holder ends, killed too.
class TFileLock {
 public:
  bool Take(const std::string& path, std::string& error) {
    // Read access is all a lock needs, so a lock file another user made serves too.
    fd_.Reset(open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd_.Valid()) {
      error = "cannot create the lock \"" + path + "\": " + std::strerror(errno);
      return false;
    }
    const auto until = std::chrono::steady_clock::now() + kLockWait;
    while (flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno != EWOULDBLOCK) {
        error = "cannot lock \"" + path + "\": " + std::strerror(errno);
        return false;
      }
      if (!WaitForLock(until, path, error)) {
        return false;
      }
    }
    return true;
  }

 private:
  posix::TUniqueFd fd_;  // closing it lets go of the lock
};

#endif

std::string TemporaryPrefix(const std::string& path) {
  return path + ".tmp";
}

// The file a world file names: the final target of its symbolic links, which a write
// replaces (the link stays), even when that target does not exist yet.
std::string LinkTarget(const std::string& path) {
  fs::path file = FilePath(path);
  for (int hop = 0; hop < 40; ++hop) {  // the system's own limit on a chain of links
    std::error_code failed;
    if (!fs::is_symlink(fs::symlink_status(file, failed))) {
      break;
    }
    const fs::path target = fs::read_symlink(file, failed);
    if (failed) {
      break;
    }
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return Utf8(file);
}

enum class TRead { Done, Missing, Refused };

TRead ReadText(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(FilePath(path), std::ios::binary);
  if (!in) {
    std::error_code failed;
    error = "cannot be read";
    return fs::exists(FilePath(path), failed) || failed ? TRead::Refused : TRead::Missing;
  }
  std::stringstream whole;
  whole << in.rdbuf();
  text = whole.str();
  return TRead::Done;
}

// The world a file's text describes, numbered; false and a reason when it is none.
bool ParseWorld(const std::string& text, TWorldDescription& world, std::string& error) {
  TJson json;
  return ParseJson(text, json, error) && WorldFromJson(json, world, error) &&
         NumberDevices(world.Devices, error);
}

// Under a lock held for the read, merge and write only, so that no write-back of
// another process comes between them: a process's changes since it read the file or
// last wrote it merged into the file as it stands.
bool WriteBack(const TWorld& world, const std::unique_lock<std::mutex>& held, std::string& error) {
  auto& bound = Bound();
  const auto& since = world.SinceSaved(held);
  const auto& log = world.Log(held);
  TOwnChanges own;
  own.Base = bound.Written;
  own.Devices = DevicesToJson(world.Devices(held));
  own.Log.assign(log.end() - static_cast<std::ptrdiff_t>(std::min(since.Logged, log.size())),
                 log.end());
  own.DevicesReplaced = since.DevicesReplaced;
  own.LogReplaced = since.LogReplaced;

  const std::string target = LinkTarget(bound.Path);
  TFileLock lock;
  if (!lock.Take(target + ".lock", error)) {
    return false;
  }
  std::string text;
  const auto read = ReadText(target, text, error);
  if (read == TRead::Refused) {
    error += "; the changes of this run are lost";
    return false;
  }
  // Removed since, or as this process left it: the world as it is now.
  TJson devices = own.Devices;
  std::vector<TLogEntry> merged(log.begin(), log.end());
  if (read == TRead::Done && text != bound.Text) {
    TWorldDescription file;
    if (!ParseWorld(text, file, error)) {
      error = "is no longer a valid world (" + error + "); the changes of this run are lost";
      return false;
    }
    devices = DevicesToJson(file.Devices);
    merged = std::move(file.Log);
    MergeOwnChanges(own, devices, merged);
  }
  text = WorldToText(devices, merged);
  if (!WriteFileAtomically(target, text, error)) {
    return false;
  }
  bound.Written = std::move(own.Devices);
  bound.Text = std::move(text);
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  // Per process, so that two processes writing the same world never share a temporary.
  const std::string temporary = TemporaryPrefix(path) + std::to_string(ProcessId());
  if (!WriteAll(temporary, text, path, error) || !Replace(temporary, path, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  const fs::path file = FilePath(path);
  const auto prefix = FilePath(TemporaryPrefix(path)).filename().native();
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
  RemoveStaleTemporaries(LinkTarget(path));
  std::string text;
  TWorldDescription description;
  std::string error;
  const bool read =
      ReadText(path, text, error) == TRead::Done && ParseWorld(text, description, error);
  auto lock = world.Lock();
  if (!read ||
      !world.Reset(lock, std::move(description.Devices), std::move(description.Log), error)) {
    Report(path, error + "; the simulated world is empty");
    return;
  }
  Bound() = {path, DevicesToJson(world.Devices(lock)), std::move(text)};
  lock.unlock();
  world.SetPersist(WriteBack);
}

void SaveWorldAtExit(TWorld& world) {
  if (Bound().Path.empty()) {
    return;
  }
  const auto lock = world.LockForExit();
  std::string error;
  if (!lock.owns_lock()) {
    error = "a device call never ended; the changes of this run are lost";
  } else if (world.Save(lock, error)) {
    return;
  }
  Report(Bound().Path, error);
}

}  // namespace quorvel::sim
