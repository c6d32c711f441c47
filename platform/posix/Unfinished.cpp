// Placeholders until the handle table and the I/O functions land: every call
// fails with ERROR_CALL_NOT_IMPLEMENTED. Not a finished implementation.
#include "platform/posix/FileProvider.h"

namespace {
BOOL Unimplemented() {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}
}  // namespace

namespace quorvel::posix {
void RegisterFileProvider(TFileProvider*) {}
void UnregisterFileProvider(TFileProvider*) {}
std::shared_ptr<TFileObject> ObjectFromHandle(HANDLE) {
  return nullptr;
}
}  // namespace quorvel::posix

extern "C" {

HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  Unimplemented();
  return INVALID_HANDLE_VALUE;
}
BOOL CloseHandle(HANDLE) {
  return Unimplemented();
}
BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  return Unimplemented();
}
BOOL WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  return Unimplemented();
}
BOOL DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  return Unimplemented();
}
BOOL ReadFileEx(HANDLE, LPVOID, DWORD, LPOVERLAPPED, LPOVERLAPPED_COMPLETION_ROUTINE) {
  return Unimplemented();
}
BOOL WriteFileEx(HANDLE, LPCVOID, DWORD, LPOVERLAPPED, LPOVERLAPPED_COMPLETION_ROUTINE) {
  return Unimplemented();
}
BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) {
  return Unimplemented();
}
BOOL CancelIo(HANDLE) {
  return Unimplemented();
}
DWORD SleepEx(DWORD, BOOL) {
  return 0;
}
int GetLocaleInfoW(LCID, LCTYPE, LPWSTR, int) {
  return Unimplemented();
}
DWORD GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) {
  return static_cast<DWORD>(Unimplemented());
}
BOOL GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
  return Unimplemented();
}
BOOL VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
  return Unimplemented();
}

}  // extern "C"
