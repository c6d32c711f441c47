#include "platform/linux/HidrawHandle.h"

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
    result.Hidraw_ = hidraw;
    result.Path_ = hidraw->Path();
  } else {
    result = FromDescriptor(file->NativeFd(), file->Path());
  }
  result.File_ = std::move(file);
  return result;
}

THidrawHandle THidrawHandle::FromDescriptor(int fd, std::u16string path) {
  THidrawHandle result;
  result.Path_ = std::move(path);
  result.Fd_ = fd;
  if (result.Fd_ >= 0) {
    const int flags = ::fcntl(result.Fd_, F_GETFL);
    result.PathOnly_ = flags == -1 || (flags & O_PATH) != 0;
    struct stat info {};
    if (::fstat(result.Fd_, &info) == 0 && S_ISCHR(info.st_mode)) {
      result.CharDevice_ = true;
      result.Major_ = major(info.st_rdev);
      result.Minor_ = minor(info.st_rdev);
    }
  }
  return result;
}

bool THidrawHandle::CanTransfer() const {
  if (Hidraw_ != nullptr) {
    return Hidraw_->CanRead() || Hidraw_->CanWrite();
  }
  return Fd_ >= 0 && !PathOnly_ && CharDevice_;
}

bool THidrawHandle::CanRead() const {
  if (Hidraw_ != nullptr) {
    return Hidraw_->CanRead();
  }
  return CanTransfer() && (::fcntl(Fd_, F_GETFL) & O_ACCMODE) != O_WRONLY;
}

DWORD THidrawHandle::Descriptor(int& fd) const {
  if (Hidraw_ != nullptr) {
    return Hidraw_->Descriptor(fd);
  }
  fd = Fd_;
  return CanTransfer() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::optional<THidrawNode> THidrawHandle::Node(const TSysfs& sysfs) const {
  if (Hidraw_ != nullptr) {
    return NodeOf(sysfs, Hidraw_->Identity());
  }
  if (CharDevice_) {
    const auto name = NodeNameFromDevice(sysfs, Major_, Minor_);
    return name ? DescribeNode(sysfs, *name) : std::nullopt;
  }
  // Not a character device (a fixture's stand-in): the node of that name in /dev.
  const auto resolved = TSysfs::Resolve(platform::Utf16ToUtf8(Path_));
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
