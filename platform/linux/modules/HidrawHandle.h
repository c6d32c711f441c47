// A caller's HANDLE as the HID module sees it: the file object of the POSIX handle table
// and the hidraw node it was made for. A handle of the module's own provider opens its node
// on the first report call; any other handle is a descriptor already open.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/modules/HidrawFile.h"
#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "platform/posix/FileProvider.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

class THidrawHandle {
 public:
  // nullopt for a handle that is not open.
  static std::optional<THidrawHandle> From(HANDLE handle);
  // A descriptor the caller keeps open for the life of this object, and the path it was
  // opened by.
  static THidrawHandle FromDescriptor(int fd, std::u16string path);

  // True when the handle may carry reports: made for reading or writing a device node. A
  // handle of access 0 can only be identified. Nothing is opened to tell.
  bool CanTransfer() const;
  bool CanRead() const;
  // The path the handle was made for.
  const std::u16string& Path() const { return path_; }
  // The descriptor for a report call, opening the node on first use; a Windows error when
  // it cannot be had.
  DWORD Descriptor(int& fd) const;

  // The node in sysfs: by device number for a real node (so a udev link name does not
  // matter), else by the name of the path.
  std::optional<THidrawNode> Node(const TSysfs& sysfs) const;

  // The report descriptor as sysfs shows it. Error is a Windows code.
  std::optional<std::vector<uint8_t>> ReportDescriptor(const TSysfs& sysfs, DWORD& error) const;

 private:
  std::shared_ptr<posix::TFileObject> file_;  // keeps the file open
  const THidrawFile* hidraw_ = nullptr;       // file_ when the module's provider made it
  std::u16string path_;
  int fd_ = -1;
  bool pathOnly_ = false;
  bool charDevice_ = false;
  uint32_t major_ = 0, minor_ = 0;
};

// A failed hidraw call's errno as the platform reports it. The handle is known to be open,
// so EBADF means it lacks the access the call needs.
DWORD ErrorFromHidrawErrno(int err);
// The same for an ioctl: there EIO is a transfer the device failed (uhid, I2C), while a
// device that is gone gives ENODEV.
DWORD ErrorFromHidrawIoctlErrno(int err);

}  // namespace quorvel::hidraw
