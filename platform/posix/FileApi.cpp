// CreateFileW and the calls on a handle, over the handle table and the file
// providers.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/DeviceNodeProvider.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/OverlappedIo.h"

namespace quorvel::posix {
namespace {

struct TProviders {
  std::mutex Lock;
  std::vector<TFileProvider*> List;  // oldest first
};

TProviders& Providers() {
  static TProviders providers;
  return providers;
}

TFileProvider& ProviderFor(std::u16string_view path) {
  TProviders& providers = Providers();
  std::lock_guard lock(providers.Lock);
  for (auto provider = providers.List.rbegin(); provider != providers.List.rend(); ++provider) {
    if ((*provider)->Claims(path)) {
      return **provider;
    }
  }
  return DeviceNodeProvider();
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The entry of an open handle that grants the access, or an error.
DWORD Usable(HANDLE handle, DWORD access, THandleEntry& entry) {
  entry = FindHandle(handle);
  if (entry.Object == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if ((entry.DesiredAccess & (access | GENERIC_ALL)) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// A synchronous outcome reported through an OVERLAPPED as well.
BOOL Report(DWORD error, DWORD done, LPDWORD count, LPOVERLAPPED overlapped) {
  if (count != nullptr) {
    *count = done;
  }
  if (overlapped != nullptr) {
    overlapped->Internal = StatusFromError(error);
    overlapped->InternalHigh = done;
  }
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

}  // namespace

void RegisterFileProvider(TFileProvider* provider) {
  if (provider == nullptr) {
    return;
  }
  TProviders& providers = Providers();
  std::lock_guard lock(providers.Lock);
  std::erase(providers.List, provider);
  providers.List.push_back(provider);
}

void UnregisterFileProvider(TFileProvider* provider) {
  TProviders& providers = Providers();
  std::lock_guard lock(providers.Lock);
  std::erase(providers.List, provider);
}

}  // namespace quorvel::posix

using namespace quorvel::posix;

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
  if (lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Only existing paths: the platform's device nodes are never created.
  if (dwCreationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string_view path(lpFileName);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = ERROR_GEN_FAILURE;
  std::shared_ptr<TFileObject> object =
      ProviderFor(path).Open(path, dwDesiredAccess, dwShareMode, dwFlagsAndAttributes, error);
  if (object == nullptr) {
    SetLastError(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
    return INVALID_HANDLE_VALUE;
  }
  return AddHandle({std::move(object), dwDesiredAccess, dwFlagsAndAttributes});
}

BOOL CloseHandle(HANDLE hObject) {
  if (!RemoveHandle(hObject)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  AbortRequestsOn(hObject);
  return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) {
    *lpNumberOfBytesRead = 0;
  }
  THandleEntry entry;
  if (const DWORD error = Usable(hFile, GENERIC_READ, entry); error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
    return Fail(ERROR_NOACCESS);
  }
  if (entry.Overlapped()) {
    if (lpOverlapped == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD done = 0;
    const DWORD error =
        StartRead(hFile, entry, lpBuffer, nNumberOfBytesToRead, lpOverlapped, nullptr, done);
    if (error == ERROR_SUCCESS && lpNumberOfBytesRead != nullptr) {
      *lpNumberOfBytesRead = done;
    }
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
  }
  if (lpNumberOfBytesRead == nullptr && lpOverlapped == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DWORD done = 0;
  const DWORD error = entry.Object->Read(lpBuffer, nNumberOfBytesToRead, done);
  return Report(error, done, lpNumberOfBytesRead, lpOverlapped);
}

// Writes complete before the call returns, also on an overlapped handle.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) {
    *lpNumberOfBytesWritten = 0;
  }
  THandleEntry entry;
  if (const DWORD error = Usable(hFile, GENERIC_WRITE, entry); error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) {
    return Fail(ERROR_NOACCESS);
  }
  if ((entry.Overlapped() && lpOverlapped == nullptr) ||
      (lpNumberOfBytesWritten == nullptr && lpOverlapped == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DWORD done = 0;
  const DWORD error = entry.Object->Write(lpBuffer, nNumberOfBytesToWrite, done);
  return Report(error, done, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
  if (lpBytesReturned != nullptr) {
    *lpBytesReturned = 0;
  }
  const THandleEntry entry = FindHandle(hDevice);
  if (entry.Object == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if ((lpInBuffer == nullptr && nInBufferSize != 0) ||
      (lpOutBuffer == nullptr && nOutBufferSize != 0)) {
    return Fail(ERROR_NOACCESS);
  }
  if (lpBytesReturned == nullptr && lpOverlapped == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DWORD returned = 0;
  const DWORD error = entry.Object->IoControl(dwIoControlCode, lpInBuffer, nInBufferSize,
                                              lpOutBuffer, nOutBufferSize, returned);
  return Report(error, returned, lpBytesReturned, lpOverlapped);
}

BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  THandleEntry entry;
  if (const DWORD error = Usable(hFile, GENERIC_READ, entry); error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (!entry.Overlapped() || lpOverlapped == nullptr || lpCompletionRoutine == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
    return Fail(ERROR_NOACCESS);
  }
  DWORD done = 0;
  const DWORD error = StartRead(hFile, entry, lpBuffer, nNumberOfBytesToRead, lpOverlapped,
                                lpCompletionRoutine, done);
  return error == ERROR_SUCCESS || error == ERROR_IO_PENDING ? TRUE : Fail(error);
}

// The write itself completes before the call returns; its routine runs at the
// thread's next alertable wait, as for a read.
BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  THandleEntry entry;
  if (const DWORD error = Usable(hFile, GENERIC_WRITE, entry); error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (!entry.Overlapped() || lpOverlapped == nullptr || lpCompletionRoutine == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) {
    return Fail(ERROR_NOACCESS);
  }
  DWORD done = 0;
  const DWORD error = entry.Object->Write(lpBuffer, nNumberOfBytesToWrite, done);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  QueueCompleted(hFile, entry, lpOverlapped, lpCompletionRoutine, error, done);
  return TRUE;
}

}  // extern "C"
