// The files behind handles on hidraw nodes. CreateFileW only decides access, as the kernel
// would, and identifies the node from sysfs: every open of a USB HID node costs the device a
// power-up and tens of milliseconds, so the node is opened on the first call that needs the
// device (a report, a read, a write, a flush) and then kept for the handle's life.
// They read input reports as the platform's ReadFile gives them: the report ID in byte 0
// (0 for a device without report IDs, where hidraw gives the data alone) and always the
// collection's input report length, padded with zeros; and, as the platform's WriteFile,
// they take an output report only at the collection's output report length.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "platform/posix/DescriptorFile.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

// How a device's reports are laid out for the caller; a length of 0 passes reads or
// writes through.
struct TReportShape {
  bool Numbered = false;
  ULONG Length = 0;        // InputReportByteLength, ID byte included
  ULONG OutputLength = 0;  // OutputReportByteLength, ID byte included
};

// The node a handle was made for, as CreateFileW found it.
struct TNodeIdentity {
  bool CharDevice = false;  // false only for a fixture's stand-in
  uint32_t Major = 0, Minor = 0;
  dev_t FileSystem = 0;  // st_dev and st_ino of the node: a re-created node is another file
  ino_t Inode = 0;
  std::string Name;       // "hidraw3"
  uint32_t Instance = 0;  // the HID device's instance number: another device has another

  // The same file (the same node, not re-created); Name and Instance say which
  // device it belongs to, which sysfs answers.
  bool SameFile(const TNodeIdentity& other) const {
    return CharDevice == other.CharDevice && Major == other.Major && Minor == other.Minor &&
           FileSystem == other.FileSystem && Inode == other.Inode;
  }
};

// The node behind a device number, or (for a stand-in that is no character device) behind
// a path in the tree's /dev, provided it still belongs to the HID device of that instance.
std::optional<THidrawNode> NodeOf(const TSysfs& sysfs, const TNodeIdentity& identity);

class THidrawFile final : public posix::TFileObject {
 public:
  THidrawFile(std::u16string path, DWORD access, int openFlags, TNodeIdentity identity,
              TReportShape shape);

  const std::u16string& Path() const override { return path_; }
  DWORD DesiredAccess() const override { return access_; }
  // -1 until the node is open.
  int NativeFd() const override;
  // Opens the node: an overlapped read polls it.
  int ReadyFd() const override;

  DWORD Read(void* buffer, DWORD size, DWORD& done) override;
  DWORD Write(const void* buffer, DWORD size, DWORD& done) override;
  DWORD IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD& returned) override;
  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override;

  const TNodeIdentity& Identity() const { return identity_; }
  bool CanRead() const;
  bool CanWrite() const;
  // The node's descriptor, opened on the first call from any thread and kept; a Windows
  // error when it cannot be opened now (ERROR_ACCESS_DENIED for a handle of access 0, and
  // ERROR_DEVICE_NOT_CONNECTED when the node is gone or belongs to another device).
  DWORD Descriptor(int& fd) const;

 private:
  const std::u16string path_;
  const DWORD access_;
  const int openFlags_;
  const TNodeIdentity identity_;
  const TReportShape shape_;
  mutable std::mutex openLock_;
  mutable std::unique_ptr<posix::TDescriptorFile> open_;  // set once, under openLock_
  mutable std::atomic<posix::TDescriptorFile*> ready_{nullptr};

  DWORD Opened(posix::TDescriptorFile*& file) const;
};

// Claims the hidraw nodes below the modules' /dev (also through links to them).
class THidrawProvider final : public posix::TFileProvider {
 public:
  bool Claims(std::u16string_view path) const override;
  std::shared_ptr<posix::TFileObject> Open(std::u16string_view path, DWORD desiredAccess,
                                           DWORD shareMode, DWORD flagsAndAttributes,
                                           DWORD& error) override;
};

}  // namespace quorvel::hidraw
