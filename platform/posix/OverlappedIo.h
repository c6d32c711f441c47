// Overlapped requests, owned by the thread that issued them (internal to
// libquorvel-posix.so).
#pragma once

#include "platform/posix/HandleTable.h"

namespace quorvel::posix {

// Starts an overlapped read on an open overlapped handle. Returns
// ERROR_SUCCESS when it completed at once (done set), ERROR_IO_PENDING when it
// was queued, or the error that ended it at once (nothing queued). A routine,
// when given, runs at the thread's next alertable wait in every case but the
// last.
DWORD StartRead(HANDLE handle, const THandleEntry& entry, void* buffer, DWORD size,
                LPOVERLAPPED overlapped, LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD& done);

// Queues an already finished request so that its routine runs at the thread's
// next alertable wait.
void QueueCompleted(HANDLE handle, const THandleEntry& entry, LPOVERLAPPED overlapped,
                    LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD done);

// Completes the requests of every thread on a handle just removed from the
// table as aborted, and wakes their threads.
void AbortRequestsOn(HANDLE handle);

// OVERLAPPED.Internal carries an NTSTATUS, as on Windows.
ULONG_PTR StatusFromError(DWORD error);
DWORD ErrorFromStatus(ULONG_PTR status);

}  // namespace quorvel::posix
