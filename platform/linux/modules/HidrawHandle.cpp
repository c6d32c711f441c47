#include "platform/linux/modules/HidrawHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "platform/Utf.h"

namespace quorvel::hidraw {

std::optional<THidrawHandle> THidrawHandle::From(HANDLE handle) {
  auto file = posix::ObjectFromHandle(handle);
  if (!file) {
    return std::nullopt;
  }
  THidrawHandle result;
  if (const auto* hidraw = dynamic_cast<const THidrawFile*>(file.get())) {
    result.hidraw_ = hidraw;
    result.path_ = hidraw->Path();
  } else {
    result = FromDescriptor(file->NativeFd(), file->Path());
  }
  result.file_ = std::move(file);
  return result;
}

THidrawHandle THidrawHandle::FromDescriptor(int fd, std::u16string path) {
  THidrawHandle result;
  result.path_ = std::move(path);
  result.fd_ = fd;
  if (result.fd_ >= 0) {
    const int flags = ::fcntl(result.fd_, F_GETFL);
    result.pathOnly_ = flags == -1 || (flags & O_PATH) != 0;
    struct stat info {};
    if (::fstat(result.fd_, &info) == 0 && S_ISCHR(info.st_mode)) {
      result.charDevice_ = true;
      result.major_ = major(info.st_rdev);
      result.minor_ = minor(info.st_rdev);
    }
  }
  return result;
}

bool THidrawHandle::CanTransfer() const {
  if (hidraw_ != nullptr) {
    return hidraw_->CanRead() || hidraw_->CanWrite();
  }
  return fd_ >= 0 && !pathOnly_ && charDevice_;
}

bool THidrawHandle::CanRead() const {
  if (hidraw_ != nullptr) {
    return hidraw_->CanRead();
  }
  return CanTransfer() && (::fcntl(fd_, F_GETFL) & O_ACCMODE) != O_WRONLY;
}

DWORD THidrawHandle::Descriptor(int& fd) const {
  if (hidraw_ != nullptr) {
    return hidraw_->Descriptor(fd);
  }
  fd = fd_;
  return CanTransfer() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::optional<THidrawNode> THidrawHandle::Node(const TSysfs& sysfs) const {
  if (hidraw_ != nullptr) {
    return NodeOf(sysfs, hidraw_->Identity());
  }
  if (charDevice_) {
    const auto name = NodeNameFromDevice(sysfs, major_, minor_);
    return name ? DescribeNode(sysfs, *name) : std::nullopt;
  }
  // Not a character device (a fixture's stand-in): the node of that name in /dev.
  const auto resolved = TSysfs::Resolve(platform::Utf16ToUtf8(path_));
  if (!resolved || ParentOf(*resolved) != sysfs.Rooted("/dev")) {
    return std::nullopt;
  }
  return DescribeNode(sysfs, BaseName(*resolved));
}

std::optional<std::vector<uint8_t>> THidrawHandle::ReportDescriptor(const TSysfs& sysfs,
                                                                    DWORD& error) const {
  const auto node = Node(sysfs);
  auto descriptor = node ? ReportDescriptorFromSysfs(*node) : std::nullopt;
  if (!descriptor) {
    error = ERROR_DEVICE_NOT_CONNECTED;
  }
  return descriptor;
}

DWORD ErrorFromHidrawErrno(int err) {
  return err == EBADF ? ERROR_ACCESS_DENIED : posix::ErrorFromErrno(err);
}

DWORD ErrorFromHidrawIoctlErrno(int err) {
  return err == EIO ? ERROR_GEN_FAILURE : ErrorFromHidrawErrno(err);
}

}  // namespace quorvel::hidraw
