#include "platform/posix/DeviceNodeProvider.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Utf.h"

namespace quorvel::posix {
namespace {

class TDeviceNode final : public TFileObject {
 public:
  TDeviceNode(std::u16string path, DWORD access, int fd)
      : FPath(std::move(path)), FAccess(access), FFd(fd) {}
  ~TDeviceNode() override { close(FFd); }
  TDeviceNode(const TDeviceNode&) = delete;
  TDeviceNode& operator=(const TDeviceNode&) = delete;

  const std::u16string& Path() const override { return FPath; }
  DWORD DesiredAccess() const override { return FAccess; }
  int NativeFd() const override { return FFd; }

  // Blocks even on a descriptor opened non-blocking for overlapped use.
  DWORD Read(void* buffer, DWORD size, DWORD& done) override {
    for (;;) {
      const DWORD error = TryRead(buffer, size, done);
      if (error == ERROR_HANDLE_EOF) {
        return ERROR_SUCCESS;  // a synchronous read at the end reads 0 bytes
      }
      if (error != ERROR_IO_PENDING) {
        return error;
      }
      pollfd ready{FFd, POLLIN, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) {
        return ErrorFromErrno(errno);
      }
    }
  }

  DWORD Write(const void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t written = write(FFd, buffer, size);
      if (written >= 0) {
        done = static_cast<DWORD>(written);
        return ERROR_SUCCESS;
      }
      if (errno == EAGAIN) {
        pollfd ready{FFd, POLLOUT, 0};
        if (poll(&ready, 1, -1) < 0 && errno != EINTR) {
          return ErrorFromErrno(errno);
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

  int ReadyFd() const override { return FFd; }

  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t got = read(FFd, buffer, size);
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

 private:
  const std::u16string FPath;
  const DWORD FAccess;
  const int FFd;
};

class TDeviceNodeProvider final : public TFileProvider {
 public:
  bool Claims(std::u16string_view) const override { return true; }

  std::shared_ptr<TFileObject> Open(std::u16string_view path, DWORD desiredAccess, DWORD,
                                    DWORD flagsAndAttributes, DWORD& error) override {
    int flags = O_CLOEXEC;
    const bool read = (desiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
    const bool write = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (read && write) {
      flags |= O_RDWR;
    } else if (read) {
      flags |= O_RDONLY;
    } else if (write) {
      flags |= O_WRONLY;
    } else {
      // Identity only: works where the user may not read or write the node.
      flags |= O_PATH;
    }
    if ((flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0 && (read || write)) {
      flags |= O_NONBLOCK;
    }
    const std::string file = platform::Utf16ToUtf8(path);
    if (file.empty() || file.find('\0') != std::string::npos) {
      error = ERROR_INVALID_NAME;
      return nullptr;
    }
    int fd;
    do {
      fd = open(file.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      error = ErrorFromErrno(errno);
      return nullptr;
    }
    return std::make_shared<TDeviceNode>(std::u16string(path), desiredAccess, fd);
  }
};

}  // namespace

TFileProvider& DeviceNodeProvider() {
  static TDeviceNodeProvider provider;
  return provider;
}

}  // namespace quorvel::posix
