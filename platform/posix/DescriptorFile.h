// A file object over an open descriptor, and the open(2) that makes one: the
// default provider's device nodes, and the base of a module's own files that only
// shape what a read returns. Header-only, so modules need no export from the
// kernel library for it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/FileProvider.h"
#include "platform/posix/LinuxOnly.h"
#include "platform/posix/UniqueFd.h"

namespace quorvel::posix {

// The open(2) flags for CreateFileW's access and flags. Access 0 opens for
// identity only (kOpenIdentityOnly), which works where the user may not read or write the node.
inline int OpenFlags(DWORD desiredAccess, DWORD flagsAndAttributes) {
  const bool read = (desiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
  const bool write = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  int flags = O_CLOEXEC;
  if (read && write) {
    flags |= O_RDWR;
  } else if (read) {
    flags |= O_RDONLY;
  } else if (write) {
    flags |= O_WRONLY;
  } else {
    flags |= kOpenIdentityOnly;
  }
  if ((flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0 && (read || write)) {
    flags |= O_NONBLOCK;
  }
  return flags;
}

// open(2), retried when a signal interrupts it; -1 with errno set on failure.
inline int OpenDescriptor(const std::string& file, int flags) {
  int fd;
  do {
    fd = ::open(file.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A blocking read made of non-blocking tries: `tryRead` until it has an outcome
// (anything but ERROR_IO_PENDING), `wait` in between; an error of `wait` ends it.
template <typename TryRead, typename Wait>
DWORD ReadBlocking(TryRead tryRead, Wait wait) {
  for (;;) {
    const DWORD error = tryRead();
    if (error != ERROR_IO_PENDING) {
      return error;
    }
    if (const DWORD failed = wait(); failed != ERROR_SUCCESS) {
      return failed;
    }
  }
}

// Device nodes have no Windows IOCTLs; the modules use NativeFd() for theirs.
inline DWORD RefuseIoControl(DWORD& returned) {
  returned = 0;
  return ERROR_INVALID_FUNCTION;
}

class TDescriptorFile : public TFileObject {
 public:
  // Takes ownership of `fd`.
  TDescriptorFile(std::u16string path, DWORD access, int fd)
      : path_(std::move(path)), access_(access), fd_(fd) {}

  const std::u16string& Path() const override { return path_; }
  DWORD DesiredAccess() const override { return access_; }
  int NativeFd() const override { return fd_.Get(); }
  int ReadyFd() const override { return fd_.Get(); }

  // Blocks, also on a descriptor opened non-blocking for overlapped use.
  DWORD Read(void* buffer, DWORD size, DWORD& done) override {
    return ReadBlocking([&] { return TryRead(buffer, size, done); },
                        [&] { return WaitFor(POLLIN); });
  }

  DWORD Write(const void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t written = ::write(fd_.Get(), buffer, size);
      if (written >= 0) {
        done = static_cast<DWORD>(written);
        return ERROR_SUCCESS;
      }
      if (errno == EAGAIN) {
        if (const DWORD failed = WaitFor(POLLOUT); failed != ERROR_SUCCESS) {
          return failed;
        }
      } else if (errno != EINTR) {
        return ErrorFromErrno(errno);
      }
    }
  }

  DWORD IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD& returned) override {
    return RefuseIoControl(returned);
  }

  // One read(2) as it comes: ERROR_IO_PENDING when nothing is ready, ERROR_HANDLE_EOF at the end.
  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t got = ::read(fd_.Get(), buffer, size);
      if (got > 0 || (got == 0 && size == 0)) {
        done = static_cast<DWORD>(got);
        return ERROR_SUCCESS;
      }
      if (got == 0) {
        return ERROR_HANDLE_EOF;
      }
      if (errno == EAGAIN) {
        return ERROR_IO_PENDING;
      }
      if (errno != EINTR) {
        return ErrorFromErrno(errno);
      }
    }
  }

  // Waits until the descriptor polls `events` (a signal ends the wait early).
  DWORD WaitFor(short events) const {
    pollfd ready{fd_.Get(), events, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) {
      return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
  }

 private:
  const std::u16string path_;
  const DWORD access_;
  const TUniqueFd fd_;
};

}  // namespace quorvel::posix
