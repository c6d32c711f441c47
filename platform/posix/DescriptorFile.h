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

namespace quorvel::posix {

// The open(2) flags for CreateFileW's access and flags. Access 0 opens with O_PATH:
// identity only, which works where the user may not read or write the node.
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
    flags |= O_PATH;
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

class TDescriptorFile : public TFileObject {
 public:
  // Takes ownership of `fd`.
  TDescriptorFile(std::u16string path, DWORD access, int fd)
      : FPath(std::move(path)), FAccess(access), FFd(fd) {}
  ~TDescriptorFile() override { ::close(FFd); }
  TDescriptorFile(const TDescriptorFile&) = delete;
  TDescriptorFile& operator=(const TDescriptorFile&) = delete;

  const std::u16string& Path() const override { return FPath; }
  DWORD DesiredAccess() const override { return FAccess; }
  int NativeFd() const override { return FFd; }
  int ReadyFd() const override { return FFd; }

  // Blocks, also on a descriptor opened non-blocking for overlapped use.
  DWORD Read(void* buffer, DWORD size, DWORD& done) override {
    for (;;) {
      const DWORD error = TryRead(buffer, size, done);
      if (error != ERROR_IO_PENDING) {
        return error;
      }
      if (const DWORD failed = WaitFor(POLLIN); failed != ERROR_SUCCESS) {
        return failed;
      }
    }
  }

  DWORD Write(const void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t written = ::write(FFd, buffer, size);
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

  // Device nodes have no Windows IOCTLs; the modules use NativeFd() for theirs.
  DWORD IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD& returned) override {
    returned = 0;
    return ERROR_INVALID_FUNCTION;
  }

  // One read(2) as it comes: ERROR_IO_PENDING when nothing is ready, ERROR_HANDLE_EOF at the end.
  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t got = ::read(FFd, buffer, size);
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

 protected:
  DWORD WaitFor(short events) const {
    pollfd ready{FFd, events, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) {
      return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
  }

 private:
  const std::u16string FPath;
  const DWORD FAccess;
  const int FFd;
};

}  // namespace quorvel::posix
