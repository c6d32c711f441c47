#include "platform/linux/HidrawFile.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hidparse/HidParse.h"
#include "platform/Utf.h"
#include "platform/linux/HidrawHandle.h"
#include "platform/linux/ModuleRoot.h"

namespace quorvel::hidraw {

namespace {

DWORD WaitFor(int fd, short events) {
  pollfd ready{fd, events, 0};
  if (::poll(&ready, 1, -1) < 0 && errno != EINTR) {
    return posix::ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

class THidrawFile final : public posix::TFileObject {
 public:
  THidrawFile(std::u16string path, DWORD access, int fd, TInputShape shape)
      : Path_(std::move(path)), Access_(access), Fd_(fd), Shape_(shape) {}
  ~THidrawFile() override { ::close(Fd_); }
  THidrawFile(const THidrawFile&) = delete;
  THidrawFile& operator=(const THidrawFile&) = delete;

  const std::u16string& Path() const override { return Path_; }
  DWORD DesiredAccess() const override { return Access_; }
  int NativeFd() const override { return Fd_; }

  // Blocks, also on a descriptor opened non-blocking for overlapped use.
  DWORD Read(void* buffer, DWORD size, DWORD& done) override {
    for (;;) {
      const DWORD error = TryRead(buffer, size, done);
      if (error != ERROR_IO_PENDING) {
        return error;
      }
      if (const DWORD failed = WaitFor(Fd_, POLLIN); failed != ERROR_SUCCESS) {
        return failed;
      }
    }
  }

  // A report goes out as given: byte 0 is its ID, 0 for a device without IDs, as hidraw
  // and the platform both expect.
  DWORD Write(const void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    for (;;) {
      const ssize_t written = ::write(Fd_, buffer, size);
      if (written >= 0) {
        done = static_cast<DWORD>(written);
        return ERROR_SUCCESS;
      }
      if (errno == EAGAIN) {
        if (const DWORD failed = WaitFor(Fd_, POLLOUT); failed != ERROR_SUCCESS) {
          return failed;
        }
      } else if (errno != EINTR) {
        return posix::ErrorFromErrno(errno);
      }
    }
  }

  DWORD IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD& returned) override {
    returned = 0;
    return ERROR_INVALID_FUNCTION;
  }

  int ReadyFd() const override { return Fd_; }

  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    if (Shape_.Length != 0 && size < Shape_.Length) {
      return ERROR_INVALID_USER_BUFFER;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    // hidraw leaves out the ID byte of a device without report IDs.
    const DWORD offset = Shape_.Length != 0 && !Shape_.Numbered ? 1 : 0;
    for (;;) {
      const ssize_t got = ::read(Fd_, bytes + offset, size - offset);
      if (got > 0 || (got == 0 && size == 0)) {
        DWORD length = static_cast<DWORD>(got) + offset;
        if (offset != 0) {
          bytes[0] = 0;
        }
        if (length < Shape_.Length) {
          std::memset(bytes + length, 0, Shape_.Length - length);
          length = Shape_.Length;
        }
        done = length;
        return ERROR_SUCCESS;
      }
      if (got == 0) {
        return ERROR_HANDLE_EOF;
      }
      if (errno == EAGAIN) {
        return ERROR_IO_PENDING;
      }
      if (errno != EINTR) {
        return posix::ErrorFromErrno(errno);
      }
    }
  }

 private:
  const std::u16string Path_;
  const DWORD Access_;
  const int Fd_;
  const TInputShape Shape_;
};

TInputShape InputShape(int fd, const std::u16string& path) {
  DWORD ignored = ERROR_SUCCESS;
  const auto descriptor =
      THidrawHandle::FromDescriptor(fd, path).ReportDescriptor(ModuleSysfs(), ignored);
  const auto parsed =
      descriptor ? hidparse::ParseReportDescriptor(*descriptor) : hidparse::TParseResult{};
  if (!parsed || parsed.Descriptor->Collections.empty()) {
    return {};
  }
  return {parsed.Descriptor->UsesReportIds,
          parsed.Descriptor->Collections.front().ByteLength(hidparse::TReportKind::Input)};
}

}  // namespace

bool THidrawProvider::Claims(std::u16string_view path) const {
  const std::string file = platform::Utf16ToUtf8(path);
  const auto resolved = TSysfs::Resolve(file);
  if (!resolved) {
    return false;
  }
  return ParentOf(*resolved) == ModuleSysfs().Rooted("/dev") &&
         BaseName(*resolved).substr(0, 6) == "hidraw";
}

std::shared_ptr<posix::TFileObject> THidrawProvider::Open(std::u16string_view path,
                                                          DWORD desiredAccess, DWORD /*shareMode*/,
                                                          DWORD flagsAndAttributes, DWORD& error) {
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
    flags |= O_PATH;  // identity only: works where the user may not read or write the node
  }
  if ((flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0 && (read || write)) {
    flags |= O_NONBLOCK;
  }
  const std::string file = platform::Utf16ToUtf8(path);
  int fd = -1;
  do {
    fd = ::open(file.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = posix::ErrorFromErrno(errno);
    return nullptr;
  }
  std::u16string owned(path);
  const TInputShape shape = read ? InputShape(fd, owned) : TInputShape{};
  return std::make_shared<THidrawFile>(std::move(owned), desiredAccess, fd, shape);
}

}  // namespace quorvel::hidraw
