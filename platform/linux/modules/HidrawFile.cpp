#include "platform/linux/modules/HidrawFile.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hidparse/HidParse.h"
#include "trace/Trace.h"
#include "platform/Utf.h"
#include "platform/linux/modules/ModuleRoot.h"

namespace quorvel::hidraw {

namespace {

TReportShape ReportShape(const THidrawNode& node) {
  const auto descriptor = ReportDescriptorFromSysfs(node);
  const auto parsed =
      descriptor ? hidparse::ParseReportDescriptor(*descriptor) : hidparse::TParseResult{};
  if (!parsed || parsed.Descriptor->Collections.empty()) {
    return {};
  }
  const auto& collection = parsed.Descriptor->Collections.front();
  return {parsed.Descriptor->UsesReportIds, collection.ByteLength(hidparse::TReportKind::Input),
          collection.ByteLength(hidparse::TReportKind::Output)};
}

TNodeIdentity IdentityOf(const struct stat& info) {
  TNodeIdentity identity;
  identity.CharDevice = S_ISCHR(info.st_mode);
  if (identity.CharDevice) {
    identity.Major = major(info.st_rdev);
    identity.Minor = minor(info.st_rdev);
  }
  identity.FileSystem = info.st_dev;
  identity.Inode = info.st_ino;
  return identity;
}

// The node a path names, by its device number, else (a stand-in) by its name in /dev.
std::optional<THidrawNode> NodeAt(const TSysfs& sysfs, const std::string& file,
                                  const TNodeIdentity& identity) {
  if (identity.CharDevice) {
    const auto name = NodeNameFromDevice(sysfs, identity.Major, identity.Minor);
    return name ? DescribeNode(sysfs, *name) : std::nullopt;
  }
  const auto resolved = TSysfs::Resolve(file);
  if (!resolved || ParentOf(*resolved) != sysfs.Rooted("/dev")) {
    return std::nullopt;
  }
  return DescribeNode(sysfs, BaseName(*resolved));
}

// A node that went away under a handle: the device is gone, whatever open(2) says.
DWORD ErrorFromFirstOpen(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return posix::ErrorFromErrno(err);
  }
}

// One trace line for a node: what happened, for which access, and why.
void TraceNode(const std::string& file, DWORD access, std::string_view what,
               std::string_view why = {}) {
  std::string line = "node " + file + " " + std::string(what) + " for " +
                     trace::TraceAccess((access & (GENERIC_READ | GENERIC_ALL)) != 0,
                                           (access & (GENERIC_WRITE | GENERIC_ALL)) != 0);
  if (!why.empty()) {
    line += ": " + std::string(why);
  }
  trace::TraceLine(line);
}

}  // namespace

std::optional<THidrawNode> NodeOf(const TSysfs& sysfs, const TNodeIdentity& identity) {
  auto node =
      identity.CharDevice ? NodeAt(sysfs, {}, identity) : DescribeNode(sysfs, identity.Name);
  if (!node || node->Instance != identity.Instance) {
    return std::nullopt;
  }
  return node;
}

THidrawFile::THidrawFile(std::u16string path, DWORD access, int openFlags, TNodeIdentity identity,
                         TReportShape shape)
    : path_(std::move(path)),
      access_(access),
      openFlags_(openFlags),
      identity_(std::move(identity)),
      shape_(shape) {}

bool THidrawFile::CanRead() const {
  return (access_ & (GENERIC_READ | GENERIC_ALL)) != 0;
}

bool THidrawFile::CanWrite() const {
  return (access_ & (GENERIC_WRITE | GENERIC_ALL)) != 0;
}

int THidrawFile::NativeFd() const {
  const posix::TDescriptorFile* file = ready_.load(std::memory_order_acquire);
  return file != nullptr ? file->NativeFd() : -1;
}

int THidrawFile::ReadyFd() const {
  posix::TDescriptorFile* file = nullptr;
  return Opened(file) == ERROR_SUCCESS ? file->NativeFd() : -1;
}

DWORD THidrawFile::Descriptor(int& fd) const {
  posix::TDescriptorFile* file = nullptr;
  const DWORD error = Opened(file);
  fd = error == ERROR_SUCCESS ? file->NativeFd() : -1;
  return error;
}

DWORD THidrawFile::Opened(posix::TDescriptorFile*& file) const {
  file = ready_.load(std::memory_order_acquire);
  if (file != nullptr) {
    return ERROR_SUCCESS;
  }
  if (!CanRead() && !CanWrite()) {
    return ERROR_ACCESS_DENIED;
  }
  // One open for every thread that uses the handle first.
  std::lock_guard lock(openLock_);
  file = ready_.load(std::memory_order_relaxed);
  if (file != nullptr) {
    return ERROR_SUCCESS;
  }
  const std::string path = platform::Utf16ToUtf8(path_);
  posix::TUniqueFd fd(posix::OpenDescriptor(path, openFlags_));
  if (!fd.Valid()) {
    const int err = errno;
    if (trace::TraceOn()) {
      TraceNode(path, access_, "could not be opened", trace::ErrnoText(err));
    }
    return ErrorFromFirstOpen(err);
  }
  // The path may name another node by now (the board replugged, its number reused): only
  // the node of the device the handle was made for will do.
  struct stat info {};
  const bool same = ::fstat(fd.Get(), &info) == 0 && IdentityOf(info).SameFile(identity_) &&
                    NodeOf(ModuleSysfs(), identity_).has_value();
  if (!same) {
    if (trace::TraceOn()) {
      TraceNode(path, access_, "not used", "it belongs to another device by now");
    }
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  if (trace::TraceOn()) {
    TraceNode(path, access_, "opened");
  }
  open_ = std::make_unique<posix::TDescriptorFile>(path_, access_, fd.Release());
  file = open_.get();
  ready_.store(file, std::memory_order_release);
  return ERROR_SUCCESS;
}

// Blocks, also on a descriptor opened non-blocking for overlapped use.
DWORD THidrawFile::Read(void* buffer, DWORD size, DWORD& done) {
  return posix::ReadBlocking([&] { return TryRead(buffer, size, done); },
                             [&] {
                               // Only an open node has a read pending.
                               posix::TDescriptorFile* file = nullptr;
                               const DWORD error = Opened(file);
                               return error != ERROR_SUCCESS ? error : file->WaitFor(POLLIN);
                             });
}

// A report goes out as given (byte 0 is its ID, 0 for a device without IDs, as hidraw
// and the platform both expect), at the one length the platform accepts.
DWORD THidrawFile::Write(const void* buffer, DWORD size, DWORD& done) {
  done = 0;
  if (shape_.OutputLength != 0 && size != shape_.OutputLength) {
    return ERROR_INVALID_USER_BUFFER;
  }
  posix::TDescriptorFile* file = nullptr;
  if (const DWORD error = Opened(file); error != ERROR_SUCCESS) {
    return error;
  }
  return file->Write(buffer, size, done);
}

DWORD THidrawFile::IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD& returned) {
  return posix::RefuseIoControl(returned);
}

DWORD THidrawFile::TryRead(void* buffer, DWORD size, DWORD& done) {
  done = 0;
  if (shape_.Length != 0 && size < shape_.Length) {
    return ERROR_INVALID_USER_BUFFER;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  // hidraw leaves out the ID byte of a device without report IDs.
  const DWORD offset = shape_.Length != 0 && !shape_.Numbered ? 1 : 0;
  if (offset != 0 && size == offset) {
    return ERROR_HANDLE_EOF;  // only the ID byte fits: no data can be read
  }
  posix::TDescriptorFile* file = nullptr;
  if (const DWORD error = Opened(file); error != ERROR_SUCCESS) {
    return error;
  }
  DWORD got = 0;
  const DWORD error = file->TryRead(bytes + offset, size - offset, got);
  if (error != ERROR_SUCCESS) {
    return error;
  }
  DWORD length = got + offset;
  if (offset != 0) {
    bytes[0] = 0;
  }
  if (length < shape_.Length) {
    std::memset(bytes + length, 0, shape_.Length - length);
    length = shape_.Length;
  }
  done = length;
  return ERROR_SUCCESS;
}

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
  const bool reads = (desiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
  const bool writes = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  const std::string file = platform::Utf16ToUtf8(path);
  struct stat info {};
  if (file.find('\0') != std::string::npos) {
    error = ERROR_INVALID_NAME;
    return nullptr;
  }
  if (::stat(file.c_str(), &info) != 0) {
    const int err = errno;
    if (trace::TraceOn()) {
      TraceNode(file, desiredAccess, "refused", trace::ErrnoText(err));
    }
    error = posix::ErrorFromErrno(err);
    return nullptr;
  }
  // The node must still be the one sysfs shows for a HID device, as opening it would find.
  const TSysfs& sysfs = ModuleSysfs();
  TNodeIdentity identity = IdentityOf(info);
  const auto node = NodeAt(sysfs, file, identity);
  if (!node) {
    if (trace::TraceOn()) {
      TraceNode(file, desiredAccess, "refused", "sysfs shows no HID device for it");
    }
    error = ERROR_DEVICE_NOT_CONNECTED;
    return nullptr;
  }
  identity.Name = node->Name;
  identity.Instance = node->Instance;
  // The kernel's own decision for the access asked, without opening the node.
  const int mode = (reads ? R_OK : 0) | (writes ? W_OK : 0);
  if (mode != 0 && ::faccessat(AT_FDCWD, file.c_str(), mode, AT_EACCESS) != 0) {
    const int err = errno;
    if (trace::TraceOn()) {
      TraceNode(file, desiredAccess, "refused", trace::ErrnoText(err));
    }
    error = posix::ErrorFromErrno(err);
    return nullptr;
  }
  if (trace::TraceOn()) {
    TraceNode(file, desiredAccess, "allowed", mode != 0 ? "opens at first use" : "");
  }
  const TReportShape shape = reads || writes ? ReportShape(*node) : TReportShape{};
  return std::make_shared<THidrawFile>(std::u16string(path), desiredAccess,
                                       posix::OpenFlags(desiredAccess, flagsAndAttributes),
                                       std::move(identity), shape);
}

}  // namespace quorvel::hidraw
