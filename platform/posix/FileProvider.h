// The file objects behind the POSIX handles and the providers that make them.
// A module's HidD_ function looks the caller's HANDLE up with ObjectFromHandle
// and either casts it to its own type (the simulation) or uses NativeFd() and
// Path() (the Linux module).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/Kernel.h"

namespace quorvel::posix {

// Thread-safe: any thread may call. Kept alive by its handle-table entry and by
// every request pending on it, so its descriptors are never closed (and their
// numbers never reused) under a waiting thread.
class QUORVEL_POSIX_API TFileObject {
 public:
  virtual ~TFileObject() = default;
  virtual const std::u16string& Path() const = 0;
  virtual DWORD DesiredAccess() const = 0;     // as passed to CreateFileW
  virtual int NativeFd() const { return -1; }  // the device node's descriptor, if any

  // Each returns ERROR_SUCCESS or a Windows error code. Read may block.
  virtual DWORD Read(void* buffer, DWORD size, DWORD& done) = 0;
  virtual DWORD Write(const void* buffer, DWORD size, DWORD& done) = 0;
  virtual DWORD IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD& returned) = 0;

  // Overlapped reads: ReadyFd polls readable (or POLLHUP/POLLERR) whenever
  // TryRead would not return ERROR_IO_PENDING; TryRead never blocks.
  virtual int ReadyFd() const = 0;
  virtual DWORD TryRead(void* buffer, DWORD size, DWORD& done) = 0;
};

class QUORVEL_POSIX_API TFileProvider {
 public:
  virtual ~TFileProvider() = default;
  virtual bool Claims(std::u16string_view path) const = 0;
  // nullptr and a Windows error code (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
  // ...) on failure.
  virtual std::shared_ptr<TFileObject> Open(std::u16string_view path, DWORD desiredAccess,
                                            DWORD shareMode, DWORD flagsAndAttributes,
                                            DWORD& error) = 0;
};

// The newest registered provider is asked first; the default provider (device
// nodes) last. The provider must outlive its registration.
QUORVEL_POSIX_API void RegisterFileProvider(TFileProvider* provider);
QUORVEL_POSIX_API void UnregisterFileProvider(TFileProvider* provider);

// nullptr for a closed or invalid handle.
QUORVEL_POSIX_API std::shared_ptr<TFileObject> ObjectFromHandle(HANDLE handle);

// The one errno -> Windows error table. A path that does not exist (ENOENT):
// ERROR_FILE_NOT_FOUND, as Windows reports an interface path that is gone. A
// device that vanished under an open node (ENODEV, ENXIO, EIO, ESHUTDOWN):
// ERROR_DEVICE_NOT_CONNECTED. EACCES/EPERM: ERROR_ACCESS_DENIED. EPIPE (the
// device stalled the request): ERROR_GEN_FAILURE. Unknown values:
// ERROR_GEN_FAILURE.
QUORVEL_POSIX_API DWORD ErrorFromErrno(int err);

}  // namespace quorvel::posix
