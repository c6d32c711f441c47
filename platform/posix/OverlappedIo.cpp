// Overlapped I/O with the Windows meaning. Each thread that issues requests
// has a queue; its alertable SleepEx polls the requests' descriptors together
// with a wake-up descriptor of its own, completes what is ready and runs the
// completion routines on that thread. Another thread that aborts a request
// (CloseHandle) only marks it under the owner's lock and signals that descriptor:
// the descriptor stays open, held by the request, until the owner has let go
// of it, so no thread ever polls a closed or reused descriptor.
#include "platform/posix/OverlappedIo.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <list>
#include <mutex>
#include <vector>

#include "platform/posix/LinuxOnly.h"

namespace quorvel::posix {
namespace {

constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusEndOfFile = 0xC0000011;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;
constexpr ULONG_PTR kFacilityWin32Error = 0xC0070000;  // NTSTATUS_FROM_WIN32

// A descriptor-less request (a provider without ReadyFd) is retried this often.
constexpr int kRetryMilliseconds = 10;

struct TRequest {
  HANDLE Handle = nullptr;
  std::shared_ptr<TFileObject> Object;  // keeps the descriptor open
  void* Buffer = nullptr;
  DWORD Size = 0;
  LPOVERLAPPED Overlapped = nullptr;
  LPOVERLAPPED_COMPLETION_ROUTINE Routine = nullptr;
  DWORD Error = ERROR_IO_PENDING;
  DWORD Done = 0;
};

struct TThreadIo {
  void Wake() const { SignalWake(WakeFd.Get()); }

  std::mutex Lock;
  std::list<TRequest> Pending;    // in issue order
  std::list<TRequest> Completed;  // in completion order, waiting for an alertable wait
  const TUniqueFd WakeFd = OpenWakeDescriptor();
};

struct TRegistry {
  std::mutex Lock;
  std::vector<std::shared_ptr<TThreadIo>> Threads;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// The calling thread's queue, registered while the thread lives; a thread that
// ends drops its requests (as Windows cancels a thread's I/O when it exits).
class TThreadSlot {
 public:
  ~TThreadSlot() {
    if (io_ == nullptr) {
      return;
    }
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    std::erase(registry.Threads, io_);
  }
  const std::shared_ptr<TThreadIo>& Get() {
    if (io_ == nullptr) {
      io_ = std::make_shared<TThreadIo>();
      TRegistry& registry = Registry();
      std::lock_guard lock(registry.Lock);
      registry.Threads.push_back(io_);
    }
    return io_;
  }
  TThreadIo* Peek() const { return io_.get(); }

 private:
  std::shared_ptr<TThreadIo> io_;
};

thread_local TThreadSlot tThread;

std::vector<std::shared_ptr<TThreadIo>> AllThreads() {
  TRegistry& registry = Registry();
  std::lock_guard lock(registry.Lock);
  return registry.Threads;
}

// Under io.Lock: records the outcome in the request and its OVERLAPPED and
// moves it to the completed list.
void Finish(TThreadIo& io, std::list<TRequest>::iterator request, DWORD error, DWORD done) {
  request->Error = error;
  request->Done = done;
  request->Overlapped->InternalHigh = done;
  request->Overlapped->Internal = StatusFromError(error);
  io.Completed.splice(io.Completed.end(), io.Pending, request);
}

// Under io.Lock: completes every pending read that no longer has to wait.
void Progress(TThreadIo& io) {
  for (auto request = io.Pending.begin(); request != io.Pending.end();) {
    const auto next = std::next(request);
    DWORD done = 0;
    const DWORD error = request->Object->TryRead(request->Buffer, request->Size, done);
    if (error != ERROR_IO_PENDING) {
      Finish(io, request, error, done);
    }
    request = next;
  }
}

template <typename Match>
bool AbortWhere(TThreadIo& io, Match match) {
  bool any = false;
  for (auto request = io.Pending.begin(); request != io.Pending.end();) {
    const auto next = std::next(request);
    if (match(*request)) {
      Finish(io, request, ERROR_OPERATION_ABORTED, 0);
      any = true;
    }
    request = next;
  }
  return any;
}

// Milliseconds left until the deadline, for poll: -1 for INFINITE.
int Remaining(DWORD milliseconds, std::chrono::steady_clock::time_point deadline) {
  if (milliseconds == INFINITE) {
    return -1;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Waits until one of the objects' descriptors or the wake-up descriptor is
// ready or the timeout (-1: none) passes. The objects are held by the caller,
// so no descriptor closes under the poll.
void WaitForAny(const std::vector<std::shared_ptr<TFileObject>>& objects, int wakeFd, int timeout) {
  std::vector<pollfd> fds;
  fds.reserve(objects.size() + 1);
  if (wakeFd >= 0) {
    fds.push_back({wakeFd, POLLIN, 0});
  } else if (timeout < 0 || timeout > kRetryMilliseconds) {
    timeout = kRetryMilliseconds;  // nobody can wake this wait: recheck
  }
  for (const auto& object : objects) {
    const int fd = object->ReadyFd();
    if (fd >= 0) {
      fds.push_back({fd, POLLIN, 0});
    } else if (timeout < 0 || timeout > kRetryMilliseconds) {
      timeout = kRetryMilliseconds;
    }
  }
  if (poll(fds.data(), fds.size(), timeout) > 0 && wakeFd >= 0 && (fds[0].revents & POLLIN)) {
    DrainWake(wakeFd);
  }
}

// Finds the request of an OVERLAPPED among a thread's lists; under io.Lock.
std::list<TRequest>::iterator FindIn(std::list<TRequest>& list, LPOVERLAPPED overlapped) {
  return std::find_if(list.begin(), list.end(),
                      [&](const TRequest& request) { return request.Overlapped == overlapped; });
}

// The queue that holds the request of `overlapped`, normally the calling thread's,
// so that is looked at first; null when none does: a request in no list has
// finished and been let go of, and its OVERLAPPED holds the outcome.
std::shared_ptr<TThreadIo> FindOwner(LPOVERLAPPED overlapped) {
  std::vector<std::shared_ptr<TThreadIo>> candidates;
  if (tThread.Peek() != nullptr) {
    candidates.push_back(tThread.Get());
  }
  for (auto& io : AllThreads()) {
    candidates.push_back(std::move(io));
  }
  for (const auto& io : candidates) {
    std::lock_guard lock(io->Lock);
    if (FindIn(io->Pending, overlapped) != io->Pending.end() ||
        FindIn(io->Completed, overlapped) != io->Completed.end()) {
      return io;
    }
  }
  return nullptr;
}

// Reads the outcome of the owner's request into `status` and `done`, waiting for
// it when `wait`; false when it is still pending and not to be waited for. A
// request without a routine is collected here, as nobody else will.
bool AwaitOutcome(TThreadIo& owner, LPOVERLAPPED overlapped, bool wait, ULONG_PTR& status,
                  ULONG_PTR& done) {
  const bool own = &owner == tThread.Peek();
  for (;;) {
    std::shared_ptr<TFileObject> object;
    {
      std::lock_guard lock(owner.Lock);
      const auto pending = FindIn(owner.Pending, overlapped);
      if (pending != owner.Pending.end()) {
        DWORD got = 0;
        const DWORD error = pending->Object->TryRead(pending->Buffer, pending->Size, got);
        if (error != ERROR_IO_PENDING) {
          Finish(owner, pending, error, got);
        } else if (!wait) {
          return false;
        } else {
          object = pending->Object;
        }
      }
      if (object == nullptr) {
        // The OVERLAPPED is written under the owner's lock; read it so too.
        status = overlapped->Internal;
        done = overlapped->InternalHigh;
        const auto completed = FindIn(owner.Completed, overlapped);
        if (completed != owner.Completed.end() && completed->Routine == nullptr) {
          object = std::move(completed->Object);
          owner.Completed.erase(completed);
        }
        break;
      }
    }
    // Aborts from other threads wake only the owner; anyone else rechecks.
    WaitForAny({object}, own ? owner.WakeFd.Get() : -1, own ? -1 : kRetryMilliseconds);
  }
  return true;
}

}  // namespace

ULONG_PTR StatusFromError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return kStatusSuccess;
    case ERROR_IO_PENDING:
      return STATUS_PENDING;
    case ERROR_OPERATION_ABORTED:
      return kStatusCancelled;
    case ERROR_HANDLE_EOF:
      return kStatusEndOfFile;
    case ERROR_DEVICE_NOT_CONNECTED:
      return kStatusDeviceNotConnected;
    default:
      return kFacilityWin32Error | (error & 0xFFFF);
  }
}

DWORD ErrorFromStatus(ULONG_PTR status) {
  switch (status) {
    case kStatusSuccess:
      return ERROR_SUCCESS;
    case STATUS_PENDING:
      return ERROR_IO_INCOMPLETE;
    case kStatusCancelled:
      return ERROR_OPERATION_ABORTED;
    case kStatusEndOfFile:
      return ERROR_HANDLE_EOF;
    case kStatusDeviceNotConnected:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return (status & 0xFFFF0000) == kFacilityWin32Error ? static_cast<DWORD>(status & 0xFFFF)
                                                          : ERROR_GEN_FAILURE;
  }
}

DWORD StartRead(HANDLE handle, const THandleEntry& entry, void* buffer, DWORD size,
                LPOVERLAPPED overlapped, LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD& done) {
  done = 0;
  TThreadIo& io = *tThread.Get();
  DWORD error;
  {
    std::lock_guard lock(io.Lock);
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    error = entry.Object->TryRead(buffer, size, done);
    if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING) {
      overlapped->Internal = StatusFromError(error);
      return error;  // failed at once: nothing queued, no routine
    }
    if (error == ERROR_SUCCESS && routine == nullptr) {
      overlapped->Internal = StatusFromError(error);
      overlapped->InternalHigh = done;
      return error;  // done at once, and nothing to run later
    }
    io.Pending.push_back(
        {handle, entry.Object, buffer, size, overlapped, routine, ERROR_IO_PENDING, 0});
    if (error == ERROR_SUCCESS) {
      Finish(io, std::prev(io.Pending.end()), ERROR_SUCCESS, done);
    }
  }
  // A CloseHandle that ran between the caller's look-up and the queueing above
  // did not see this request: end it here.
  if (error == ERROR_IO_PENDING && FindHandle(handle).Object == nullptr) {
    std::lock_guard lock(io.Lock);
    AbortWhere(io, [&](const TRequest& request) { return request.Overlapped == overlapped; });
  }
  return error;
}

void QueueCompleted(HANDLE handle, const THandleEntry& entry, LPOVERLAPPED overlapped,
                    LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD done) {
  TThreadIo& io = *tThread.Get();
  std::lock_guard lock(io.Lock);
  io.Pending.push_back({handle, entry.Object, nullptr, 0, overlapped, routine, error, done});
  Finish(io, std::prev(io.Pending.end()), error, done);
}

void AbortRequestsOn(HANDLE handle) {
  for (const auto& io : AllThreads()) {
    std::lock_guard lock(io->Lock);
    if (AbortWhere(*io, [&](const TRequest& request) { return request.Handle == handle; })) {
      io->Wake();
    }
  }
}

}  // namespace quorvel::posix

using namespace quorvel::posix;

extern "C" {

BOOL CancelIo(HANDLE hFile) {
  if (FindHandle(hFile).Object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (TThreadIo* io = tThread.Peek()) {
    std::lock_guard lock(io->Lock);
    AbortWhere(*io, [&](const TRequest& request) { return request.Handle == hFile; });
  }
  return TRUE;
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  if (!bAlertable) {
    // No routine runs; a plain sleep (INFINITE never returns).
    for (int left = Remaining(dwMilliseconds, deadline); left != 0;
         left = Remaining(dwMilliseconds, deadline)) {
      poll(nullptr, 0, left);
    }
    return 0;
  }
  TThreadIo& io = *tThread.Get();
  for (;;) {
    std::list<TRequest> completed;
    std::vector<std::shared_ptr<TFileObject>> polled;
    {
      std::lock_guard lock(io.Lock);
      Progress(io);
      completed.swap(io.Completed);
      for (const TRequest& request : io.Pending) {
        polled.push_back(request.Object);
      }
    }
    bool ran = false;
    for (const TRequest& request : completed) {
      if (request.Routine != nullptr) {
        request.Routine(request.Error, request.Done, request.Overlapped);
        ran = true;
      }
    }
    completed.clear();  // lets go of the objects on this thread, after the routines
    if (ran) {
      return WAIT_IO_COMPLETION;
    }
    const int left = Remaining(dwMilliseconds, deadline);
    if (left == 0) {
      return 0;
    }
    WaitForAny(polled, io.WakeFd.Get(), left);
  }
}

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                         BOOL bWait) {
  if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG_PTR status = lpOverlapped->Internal;
  ULONG_PTR done = lpOverlapped->InternalHigh;
  if (const std::shared_ptr<TThreadIo> owner = FindOwner(lpOverlapped)) {
    if (!AwaitOutcome(*owner, lpOverlapped, bWait != FALSE, status, done)) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  *lpNumberOfBytesTransferred = static_cast<DWORD>(done);
  const DWORD error = ErrorFromStatus(status);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
