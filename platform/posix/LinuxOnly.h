// What the POSIX side takes from Linux, gathered: everything else under
// platform/posix is plain POSIX. A port to another POSIX system rewrites this
// header (a pipe for the wake-up descriptor, the system's own way to find the
// running executable, a read-only open for identity).
#pragma once

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/posix/UniqueFd.h"

namespace quorvel::posix {

// A descriptor that polls readable after SignalWake until DrainWake; never blocks.
// Invalid when the system refuses one.
inline TUniqueFd OpenWakeDescriptor() {
  return TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}
inline void SignalWake(int fd) {
  const std::uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}
// Clears every signal given so far; true when there was one.
inline bool DrainWake(int fd) {
  std::uint64_t count = 0;
  return ::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

// open(2)'s flag for a descriptor that names a node without reading or writing
// it, which works where the user may do neither.
constexpr int kOpenIdentityOnly = O_PATH;

// The running executable's full path; empty when the system cannot say.
inline std::string OwnExecutablePath() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
    return {};
  }
  path.resize(static_cast<std::size_t>(length));
  return path;
}

}  // namespace quorvel::posix
