// Handles, synchronous and overlapped I/O of the POSIX kernel functions, over
// FIFOs (the default provider) and a provider of the test's own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Utf.h"
#include "platform/posix/FileProvider.h"

namespace quorvel::posix {
namespace {

using namespace std::chrono_literals;

// What a completion routine saw; routines are plain functions, so the test's
// OVERLAPPED carries its record in hEvent, which the functions leave alone.
struct TCompletion {
  int Calls = 0;
  DWORD Error = 0xFFFFFFFF;
  DWORD Bytes = 0xFFFFFFFF;
  LPOVERLAPPED Overlapped = nullptr;
  std::thread::id Thread;
};

void WINAPI Record(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  auto* completion = static_cast<TCompletion*>(overlapped->hEvent);
  ++completion->Calls;
  completion->Error = error;
  completion->Bytes = bytes;
  completion->Overlapped = overlapped;
  completion->Thread = std::this_thread::get_id();
}

struct TRequest {
  TRequest() { Overlapped.hEvent = &Completion; }
  OVERLAPPED Overlapped{};
  TCompletion Completion;
  char Buffer[64] = {};
};

// A FIFO in a fresh folder; the test keeps a read-write descriptor on it, so
// that opening either end never blocks and a reader sees no end of file.
class KernelIo : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/quorvel-kernel-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    FFolder = folder;
    FFifo = FFolder + "/fifo";
    ASSERT_EQ(mkfifo(FFifo.c_str(), 0600), 0);
    FPeer = open(FFifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(FPeer, 0);
  }
  void TearDown() override {
    close(FPeer);
    unlink(FFifo.c_str());
    rmdir(FFolder.c_str());
  }

  HANDLE Open(DWORD access, DWORD flags = FILE_FLAG_OVERLAPPED) {
    const std::u16string path = platform::Utf8ToUtf16(FFifo);
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
  }
  void Send(const char* text) const {
    ASSERT_EQ(write(FPeer, text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
  }
  std::string Receive(std::size_t size) const {
    std::string text(size, '\0');
    const ssize_t got = read(FPeer, text.data(), size);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
  }

  std::string FFolder;
  std::string FFifo;
  int FPeer = -1;
};

TEST_F(KernelIo, HandlesAreNeverZeroOrInvalidAndCloseOnce) {
  const HANDLE first = Open(GENERIC_READ);
  const HANDLE second = Open(GENERIC_READ);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(ObjectFromHandle(first), nullptr);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(ObjectFromHandle(first), nullptr);
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // A later handle never takes a closed one's value.
  const HANDLE third = Open(GENERIC_READ);
  EXPECT_NE(third, first);
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(third));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(KernelIo, OpenFailuresAreMapped) {
  const struct {
    const char16_t* Path;
    DWORD Access;
    DWORD Disposition;
    DWORD Error;
  } cases[] = {
      {u"/nonexistent-quorvel/node", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"/etc/passwd/node", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      // Read-only for everyone, root included.
      {u"/sys/kernel/uevent_seqnum", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"/proc/version", GENERIC_READ, CREATE_ALWAYS, ERROR_INVALID_PARAMETER},
      {u"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CreateFileW(c.Path, c.Access, 0, nullptr, c.Disposition, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.Error) << platform::Utf16ToUtf8(c.Path);
  }
}

TEST_F(KernelIo, AccessDecidesWhatAHandleMayDo) {
  const HANDLE identity = Open(0, 0);  // identity queries only
  ASSERT_NE(identity, INVALID_HANDLE_VALUE);
  char buffer[4];
  DWORD done = 99;
  EXPECT_FALSE(ReadFile(identity, buffer, sizeof(buffer), &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(WriteFile(identity, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_GE(ObjectFromHandle(identity)->NativeFd(), 0);
  EXPECT_TRUE(CloseHandle(identity));
}

TEST_F(KernelIo, SynchronousReadAndWrite) {
  const HANDLE reader = Open(GENERIC_READ, 0);
  const HANDLE writer = Open(GENERIC_WRITE, 0);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(writer, "report", 6, &done, nullptr));
  EXPECT_EQ(done, 6u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "report");
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_TRUE(CloseHandle(writer));
}

TEST_F(KernelIo, OverlappedReadCompletesInAnAlertableWaitOnTheIssuingThread) {
  const HANDLE handle = Open(GENERIC_READ);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  TRequest request;
  ASSERT_TRUE(
      ReadFileEx(handle, request.Buffer, sizeof(request.Buffer), &request.Overlapped, Record));
  DWORD done = 99;
  EXPECT_FALSE(GetOverlappedResult(handle, &request.Overlapped, &done, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  EXPECT_EQ(SleepEx(0, TRUE), 0u);  // nothing ready: no routine
  EXPECT_EQ(request.Completion.Calls, 0);

  std::thread sender([&] {
    std::this_thread::sleep_for(20ms);
    Send("abc");
  });
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  sender.join();
  EXPECT_EQ(request.Completion.Calls, 1);
  EXPECT_EQ(request.Completion.Error, ERROR_SUCCESS);
  EXPECT_EQ(request.Completion.Bytes, 3u);
  EXPECT_EQ(request.Completion.Overlapped, &request.Overlapped);
  EXPECT_EQ(request.Completion.Thread, std::this_thread::get_id());
  EXPECT_EQ(std::string(request.Buffer, 3), "abc");
  EXPECT_TRUE(GetOverlappedResult(handle, &request.Overlapped, &done, FALSE));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(request.Overlapped.Internal, 0u);
  EXPECT_EQ(request.Overlapped.InternalHigh, 3u);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, OnlyAnAlertableWaitRunsRoutines) {
  const HANDLE handle = Open(GENERIC_READ);
  TRequest request;
  Send("x");
  ASSERT_TRUE(ReadFileEx(handle, request.Buffer, 1, &request.Overlapped, Record));
  EXPECT_EQ(SleepEx(5, FALSE), 0u);
  EXPECT_EQ(request.Completion.Calls, 0);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(request.Completion.Calls, 1);
  EXPECT_EQ(SleepEx(0, TRUE), 0u);  // each routine runs once
  EXPECT_EQ(request.Completion.Calls, 1);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, AlertableWaitWithNothingReadyTimesOut) {
  const HANDLE handle = Open(GENERIC_READ);
  TRequest request;
  ASSERT_TRUE(ReadFileEx(handle, request.Buffer, 1, &request.Overlapped, Record));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SleepEx(30, TRUE), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 29ms);
  EXPECT_EQ(request.Completion.Calls, 0);
  EXPECT_TRUE(CancelIo(handle));
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, AnotherThreadsWaitDoesNotRunThisThreadsRoutine) {
  const HANDLE handle = Open(GENERIC_READ);
  TRequest request;
  ASSERT_TRUE(ReadFileEx(handle, request.Buffer, 2, &request.Overlapped, Record));
  Send("hi");
  DWORD other = 99;
  std::thread([&] { other = SleepEx(20, TRUE); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(request.Completion.Calls, 0);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(request.Completion.Calls, 1);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, CancelEndsOnlyTheCallingThreadsRequests) {
  const HANDLE handle = Open(GENERIC_READ);
  TRequest mine;
  ASSERT_TRUE(ReadFileEx(handle, mine.Buffer, 4, &mine.Overlapped, Record));

  std::atomic<bool> issued = false;
  std::atomic<bool> cancelled = false;
  TRequest theirs;
  DWORD theirResult = 0;
  std::thread other([&] {
    ASSERT_TRUE(ReadFileEx(handle, theirs.Buffer, 4, &theirs.Overlapped, Record));
    issued = true;
    while (!cancelled) {
      std::this_thread::sleep_for(1ms);
    }
    theirResult = SleepEx(INFINITE, TRUE);
  });
  while (!issued) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(CancelIo(handle));
  DWORD done = 99;
  EXPECT_FALSE(GetOverlappedResult(handle, &mine.Overlapped, &done, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(mine.Completion.Calls, 0);  // the routine waits for an alertable wait
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(mine.Completion.Calls, 1);
  EXPECT_EQ(mine.Completion.Error, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(mine.Completion.Bytes, 0u);

  cancelled = true;
  Send("data");  // the other thread's request is still there to take it
  other.join();
  EXPECT_EQ(theirResult, WAIT_IO_COMPLETION);
  EXPECT_EQ(theirs.Completion.Error, ERROR_SUCCESS);
  EXPECT_EQ(std::string(theirs.Buffer, theirs.Completion.Bytes), "data");
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, CancelWithNothingPendingSucceedsAndABadHandleFails) {
  const HANDLE handle = Open(GENERIC_READ);
  EXPECT_TRUE(CancelIo(handle));
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_FALSE(CancelIo(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The device stays open while the request is pending, and only the owner's
// wait lets go of it, after the routine.
TEST_F(KernelIo, CloseAbortsPendingRequestsAndKeepsTheDeviceUntilTheyAreDone) {
  const HANDLE handle = Open(GENERIC_READ);
  TRequest request;
  ASSERT_TRUE(ReadFileEx(handle, request.Buffer, 4, &request.Overlapped, Record));
  std::weak_ptr<TFileObject> device = ObjectFromHandle(handle);
  std::thread([&] { EXPECT_TRUE(CloseHandle(handle)); }).join();
  EXPECT_FALSE(device.expired());
  DWORD done = 99;
  EXPECT_FALSE(GetOverlappedResult(handle, &request.Overlapped, &done, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(request.Completion.Error, ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(device.expired());
}

// The owner sleeps in poll on the descriptor when another thread closes the
// handle: it must wake at once. Repeated for ThreadSanitizer.
TEST_F(KernelIo, CloseFromAnotherThreadWakesTheWaiter) {
  for (int round = 0; round < 200; ++round) {
    const HANDLE handle = Open(GENERIC_READ);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    TRequest request;
    ASSERT_TRUE(ReadFileEx(handle, request.Buffer, 4, &request.Overlapped, Record));
    std::thread closer([handle, round] {
      if (round % 2 == 0) {
        std::this_thread::sleep_for(100us);
      }
      EXPECT_TRUE(CloseHandle(handle));
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION) << "round " << round;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    closer.join();
    ASSERT_EQ(request.Completion.Calls, 1);
    EXPECT_EQ(request.Completion.Error, ERROR_OPERATION_ABORTED);
  }
}

TEST_F(KernelIo, OverlappedReadFileAndGetOverlappedResult) {
  const HANDLE handle = Open(GENERIC_READ);
  OVERLAPPED overlapped{};
  char buffer[8] = {};
  DWORD done = 99;
  EXPECT_FALSE(ReadFile(handle, buffer, sizeof(buffer), &done, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
  EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &done, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  std::thread sender([&] {
    std::this_thread::sleep_for(10ms);
    Send("wait");
  });
  EXPECT_TRUE(GetOverlappedResult(handle, &overlapped, &done, TRUE));
  sender.join();
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(buffer, 4), "wait");
  EXPECT_EQ(SleepEx(0, TRUE), 0u);  // no routine, so nothing to run

  Send("now");  // data already there: done at once
  EXPECT_TRUE(ReadFile(handle, buffer, sizeof(buffer), &done, &overlapped));
  EXPECT_EQ(done, 3u);
  EXPECT_TRUE(GetOverlappedResult(handle, &overlapped, &done, FALSE));
  EXPECT_EQ(done, 3u);
  EXPECT_FALSE(ReadFile(handle, buffer, sizeof(buffer), &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);  // an overlapped handle needs one
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, WriteFileExRunsItsRoutineAtTheNextAlertableWait) {
  const HANDLE handle = Open(GENERIC_WRITE);
  TRequest request;
  ASSERT_TRUE(WriteFileEx(handle, "out", 3, &request.Overlapped, Record));
  EXPECT_EQ(Receive(16), "out");
  EXPECT_EQ(request.Completion.Calls, 0);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(request.Completion.Error, ERROR_SUCCESS);
  EXPECT_EQ(request.Completion.Bytes, 3u);
  EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(KernelIo, OverlappedCallsRejectBadArguments) {
  const HANDLE overlapped = Open(GENERIC_READ);
  const HANDLE plain = Open(GENERIC_READ, 0);
  const HANDLE writeOnly = Open(GENERIC_WRITE);
  const HANDLE closed = Open(GENERIC_READ);
  ASSERT_TRUE(CloseHandle(closed));
  TRequest request;
  char* buffer = request.Buffer;
  LPOVERLAPPED ov = &request.Overlapped;
  const struct {
    const char* What;
    std::function<BOOL()> Call;
    DWORD Error;
  } cases[] = {
      {"not overlapped", [&] { return ReadFileEx(plain, buffer, 1, ov, Record); },
       ERROR_INVALID_PARAMETER},
      {"no routine", [&] { return ReadFileEx(overlapped, buffer, 1, ov, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"no OVERLAPPED", [&] { return ReadFileEx(overlapped, buffer, 1, nullptr, Record); },
       ERROR_INVALID_PARAMETER},
      {"no buffer", [&] { return ReadFileEx(overlapped, nullptr, 1, ov, Record); }, ERROR_NOACCESS},
      {"no read access", [&] { return ReadFileEx(writeOnly, buffer, 1, ov, Record); },
       ERROR_ACCESS_DENIED},
      {"no write access", [&] { return WriteFileEx(overlapped, "x", 1, ov, Record); },
       ERROR_ACCESS_DENIED},
      {"closed handle", [&] { return ReadFileEx(closed, buffer, 1, ov, Record); },
       ERROR_INVALID_HANDLE},
      {"result without OVERLAPPED",
       [&] {
         DWORD done = 0;
         return GetOverlappedResult(overlapped, nullptr, &done, FALSE);
       },
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(c.Call()) << c.What;
    EXPECT_EQ(GetLastError(), c.Error) << c.What;
  }
  EXPECT_EQ(SleepEx(0, TRUE), 0u);  // nothing was queued
  EXPECT_EQ(request.Completion.Calls, 0);
  EXPECT_TRUE(CloseHandle(overlapped));
  EXPECT_TRUE(CloseHandle(plain));
  EXPECT_TRUE(CloseHandle(writeOnly));
}

}  // namespace
}  // namespace quorvel::posix
