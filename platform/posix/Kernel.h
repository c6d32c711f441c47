// The kernel functions of the Windows platform that the layer and the modules
// call directly, for POSIX: exported by libquorvel-posix.so with the Windows
// names and signatures, so one handle table serves the whole process.
//
// Handles are indexes into that table (never 0, never INVALID_HANDLE_VALUE); the
// entry is a file object made by the provider that claims the path (see
// FileProvider.h). The last error is per thread. Overlapped I/O keeps the
// Windows meaning: a request belongs to the thread that issued it, and its
// completion routine runs on that thread during an alertable SleepEx.
#pragma once

#ifdef _WIN32
#error "platform/posix is for POSIX builds; Windows has the real kernel32"
#endif

#include "wintypes/WinTypes.h"

#define QUORVEL_POSIX_API __attribute__((visibility("default")))

extern "C" {

// Opens an existing path (OPEN_EXISTING only) through the newest provider that
// claims it; the default provider opens device nodes. Access
// GENERIC_READ|GENERIC_WRITE, GENERIC_READ, GENERIC_WRITE or 0 (identity
// queries only, even where the user may not read or write). The share mode is
// not enforced. FILE_FLAG_OVERLAPPED allows ReadFileEx/WriteFileEx and
// overlapped ReadFile. INVALID_HANDLE_VALUE and the last error on failure.
QUORVEL_POSIX_API HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE hTemplateFile);

// Frees the handle at once. Requests still pending on it, from any thread,
// complete with ERROR_OPERATION_ABORTED and their threads wake from SleepEx;
// the device stays open until the last of them is done. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not open.
QUORVEL_POSIX_API BOOL CloseHandle(HANDLE hObject);

// Synchronous read and write; with lpOverlapped on an overlapped handle a read
// that cannot complete at once returns FALSE with ERROR_IO_PENDING and
// completes in the issuing thread's next alertable wait (no routine runs);
// GetOverlappedResult then gives its outcome.
QUORVEL_POSIX_API BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
QUORVEL_POSIX_API BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);

// Passed to the file object; the default provider has no IOCTLs of its own and
// fails with ERROR_INVALID_FUNCTION.
QUORVEL_POSIX_API BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID lpOutBuffer,
                                       DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED lpOverlapped);

// Queue a request owned by the calling thread; TRUE when queued. The buffer and
// the OVERLAPPED must stay valid until the routine has run. hEvent is not used.
QUORVEL_POSIX_API BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                  LPOVERLAPPED lpOverlapped,
                                  LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
QUORVEL_POSIX_API BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                   LPOVERLAPPED lpOverlapped,
                                   LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

// The outcome of a request: TRUE and the byte count when it succeeded, FALSE
// with its error when it failed, FALSE with ERROR_IO_INCOMPLETE while it is
// pending and bWait is FALSE. With bWait TRUE the caller waits for it, running
// no completion routines (the owner is woken at once by an abort from another
// thread; any other thread rechecks every 10 ms).
QUORVEL_POSIX_API BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                           LPDWORD lpNumberOfBytesTransferred, BOOL bWait);

// Ends the calling thread's pending requests on the handle; they complete with
// ERROR_OPERATION_ABORTED and their routines run at the thread's next alertable
// wait. TRUE also when none was pending.
QUORVEL_POSIX_API BOOL CancelIo(HANDLE hFile);

// Alertable: completes the calling thread's ready requests, runs their routines
// on this thread and returns WAIT_IO_COMPLETION (192); otherwise 0 after the
// interval (INFINITE never ends). Not alertable: a plain sleep.
QUORVEL_POSIX_API DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);

QUORVEL_POSIX_API DWORD GetLastError(void);
QUORVEL_POSIX_API void SetLastError(DWORD dwErrCode);

// LOCALE_SLANGUAGE only: the English display name of a USB language ID, as on
// English Windows. Characters written including the terminating zero (or
// needed, when cchData is 0); 0 with ERROR_INVALID_PARAMETER for an unknown
// ID, ERROR_INVALID_FLAGS for another LCType, ERROR_INSUFFICIENT_BUFFER.
QUORVEL_POSIX_API int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

// NT (2), version 10.0. dwOSVersionInfoSize must be that of OSVERSIONINFOW or
// OSVERSIONINFOEXW.
QUORVEL_POSIX_API BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);

// Version information of the project's own modules ("HID.dll", "SetupApi.dll"
// or a module file), as a block that VerQueryValueW reads: "\" gives the
// VS_FIXEDFILEINFO, "\VarFileInfo\Translation" the language/code-page pair and
// "\StringFileInfo\040904E4\FileVersion" (or 040904B0) the version text.
QUORVEL_POSIX_API DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle);
QUORVEL_POSIX_API BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                           LPVOID lpData);
QUORVEL_POSIX_API BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer,
                                      PUINT puLen);

}  // extern "C"
