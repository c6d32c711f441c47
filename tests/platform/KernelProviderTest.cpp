// File providers behind CreateFileW: registration order, the objects they make,
// and errors they report through the kernel functions.
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/FileProvider.h"
#include "tests/platform/Completion.h"

namespace quorvel::posix {
namespace {

// A device that delivers queued reports and can vanish.
class TFakeDevice final : public TFileObject {
 public:
  TFakeDevice(std::u16string path, DWORD access)
      : FPath(std::move(path)), FAccess(access), FReady(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~TFakeDevice() override { close(FReady); }
  TFakeDevice(const TFakeDevice&) = delete;
  TFakeDevice& operator=(const TFakeDevice&) = delete;

  void Deliver(std::string report) {
    std::lock_guard lock(FLock);
    FReports.push_back(std::move(report));
    Signal();
  }
  void Vanish() {
    std::lock_guard lock(FLock);
    FGone = true;
    Signal();
  }

  const std::u16string& Path() const override { return FPath; }
  DWORD DesiredAccess() const override { return FAccess; }
  DWORD Read(void* buffer, DWORD size, DWORD& done) override { return TryRead(buffer, size, done); }
  DWORD Write(const void*, DWORD size, DWORD& done) override {
    done = size;
    return ERROR_SUCCESS;
  }
  DWORD IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD& returned) override {
    if (code != 0x000B0190 || outSize < inSize) {
      returned = 0;
      return ERROR_INVALID_FUNCTION;
    }
    std::copy_n(static_cast<const char*>(in), inSize, static_cast<char*>(out));
    returned = inSize;
    return ERROR_SUCCESS;
  }
  int ReadyFd() const override { return FReady; }
  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    std::lock_guard lock(FLock);
    done = 0;
    if (FGone) {
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (FReports.empty()) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t ignored = read(FReady, &count, sizeof(count));
      return ERROR_IO_PENDING;
    }
    const std::string report = std::move(FReports.front());
    FReports.pop_front();
    done = std::min<DWORD>(size, static_cast<DWORD>(report.size()));
    std::copy_n(report.data(), done, static_cast<char*>(buffer));
    return ERROR_SUCCESS;
  }

 private:
  void Signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(FReady, &one, sizeof(one));
  }
  const std::u16string FPath;
  const DWORD FAccess;
  const int FReady;
  std::mutex FLock;
  std::deque<std::string> FReports;
  bool FGone = false;
};

class TFakeProvider final : public TFileProvider {
 public:
  explicit TFakeProvider(std::u16string prefix, DWORD openError = ERROR_SUCCESS)
      : FPrefix(std::move(prefix)), FOpenError(openError) {}
  bool Claims(std::u16string_view path) const override { return path.starts_with(FPrefix); }
  std::shared_ptr<TFileObject> Open(std::u16string_view path, DWORD desiredAccess, DWORD, DWORD,
                                    DWORD& error) override {
    if (FOpenError != ERROR_SUCCESS) {
      error = FOpenError;
      return nullptr;
    }
    return std::make_shared<TFakeDevice>(std::u16string(path), desiredAccess);
  }

 private:
  const std::u16string FPrefix;
  const DWORD FOpenError;
};

using test::Record;
using test::TCompletion;

HANDLE OpenPath(const char16_t* path, DWORD flags = FILE_FLAG_OVERLAPPED) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

TEST(FileProviders, NewestClaimingProviderOpensAndUnregisteringRestoresTheDefault) {
  TFakeProvider older(u"fake:");
  TFakeProvider newer(u"fake:denied", ERROR_ACCESS_DENIED);
  RegisterFileProvider(&older);
  RegisterFileProvider(&newer);

  const HANDLE device = OpenPath(u"fake:device");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  const auto object = ObjectFromHandle(device);
  ASSERT_NE(dynamic_cast<TFakeDevice*>(object.get()), nullptr);
  EXPECT_EQ(object->Path(), u"fake:device");
  EXPECT_EQ(object->DesiredAccess(), GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(object->NativeFd(), -1);

  SetLastError(0);
  EXPECT_EQ(OpenPath(u"fake:denied/1"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  UnregisterFileProvider(&newer);
  const HANDLE second = OpenPath(u"fake:denied/1");
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  UnregisterFileProvider(&older);
  SetLastError(0);
  EXPECT_EQ(OpenPath(u"fake:device"), INVALID_HANDLE_VALUE);  // no such file for open(2)
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Open handles outlive their provider's registration.
  EXPECT_TRUE(CloseHandle(device));
  EXPECT_TRUE(CloseHandle(second));
}

class FakeDeviceIo : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFileProvider(&FProvider);
    FHandle = OpenPath(u"fake:io");
    ASSERT_NE(FHandle, INVALID_HANDLE_VALUE);
    FDevice = std::dynamic_pointer_cast<TFakeDevice>(ObjectFromHandle(FHandle));
    ASSERT_NE(FDevice, nullptr);
  }
  void TearDown() override {
    if (FHandle != nullptr) {
      CloseHandle(FHandle);
    }
    UnregisterFileProvider(&FProvider);
  }
  TFakeProvider FProvider{u"fake:"};
  HANDLE FHandle = nullptr;
  std::shared_ptr<TFakeDevice> FDevice;
};

TEST_F(FakeDeviceIo, PendingReadEndsWhenTheDeviceVanishes) {
  OVERLAPPED overlapped{};
  TCompletion completion;
  overlapped.hEvent = &completion;
  char buffer[9];
  ASSERT_TRUE(ReadFileEx(FHandle, buffer, sizeof(buffer), &overlapped, Record));
  std::thread([&] { FDevice->Vanish(); }).join();
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(completion.Calls, 1);
  EXPECT_EQ(completion.Error, ERROR_DEVICE_NOT_CONNECTED);
  DWORD done = 99;
  EXPECT_FALSE(GetOverlappedResult(FHandle, &overlapped, &done, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  // Once gone, a new request fails at once and queues nothing.
  EXPECT_FALSE(ReadFileEx(FHandle, buffer, sizeof(buffer), &overlapped, Record));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(SleepEx(0, TRUE), 0u);
}

TEST_F(FakeDeviceIo, RequestsCompleteInOrderAndEachRoutineRunsOnce) {
  OVERLAPPED first{};
  OVERLAPPED second{};
  TCompletion a;
  TCompletion b;
  first.hEvent = &a;
  second.hEvent = &b;
  char bufferA[4] = {};
  char bufferB[4] = {};
  ASSERT_TRUE(ReadFileEx(FHandle, bufferA, 4, &first, Record));
  ASSERT_TRUE(ReadFileEx(FHandle, bufferB, 4, &second, Record));
  FDevice->Deliver("one");
  FDevice->Deliver("two");
  int waits = 0;
  while (a.Calls + b.Calls < 2 && waits < 10) {
    EXPECT_EQ(SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
    ++waits;
  }
  EXPECT_EQ(a.Calls, 1);
  EXPECT_EQ(b.Calls, 1);
  EXPECT_EQ(std::string(bufferA, a.Bytes), "one");
  EXPECT_EQ(std::string(bufferB, b.Bytes), "two");
}

// The layer's reader re-issues the next read from the routine of the last.
struct TReadLoop {
  OVERLAPPED Overlapped{};
  HANDLE Handle = nullptr;
  char Buffer[8] = {};
  std::string Received;
  int Reads = 0;
};

void WINAPI ReadNext(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  auto* loop = static_cast<TReadLoop*>(overlapped->hEvent);
  if (error != ERROR_SUCCESS) {
    return;
  }
  loop->Received.append(loop->Buffer, bytes).push_back('|');
  if (++loop->Reads < 3) {
    EXPECT_TRUE(ReadFileEx(loop->Handle, loop->Buffer, sizeof(loop->Buffer), overlapped, ReadNext));
  }
}

TEST_F(FakeDeviceIo, ARoutineMayIssueTheNextRead) {
  TReadLoop loop;
  loop.Handle = FHandle;
  loop.Overlapped.hEvent = &loop;
  ASSERT_TRUE(ReadFileEx(FHandle, loop.Buffer, sizeof(loop.Buffer), &loop.Overlapped, ReadNext));
  std::thread sender([&] {
    for (const char* report : {"a", "bb", "ccc"}) {
      FDevice->Deliver(report);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  for (int waits = 0; loop.Reads < 3 && waits < 10; ++waits) {
    EXPECT_EQ(SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
  }
  sender.join();
  EXPECT_EQ(loop.Received, "a|bb|ccc|");
}

// A thread that ends drops its requests: nothing runs later, and the device
// is let go of once its handle is closed.
TEST_F(FakeDeviceIo, AThreadThatEndsDropsItsRequests) {
  TCompletion completion;
  OVERLAPPED overlapped{};
  overlapped.hEvent = &completion;
  char buffer[4];
  std::thread([&] {
    EXPECT_TRUE(ReadFileEx(FHandle, buffer, sizeof(buffer), &overlapped, Record));
  }).join();
  std::weak_ptr<TFakeDevice> device = FDevice;
  FDevice.reset();
  ASSERT_TRUE(CloseHandle(FHandle));
  FHandle = nullptr;
  EXPECT_TRUE(device.expired());
  EXPECT_EQ(SleepEx(0, TRUE), 0u);
  EXPECT_EQ(completion.Calls, 0);
}

TEST_F(FakeDeviceIo, DeviceIoControlReachesTheObject) {
  char in[3] = {1, 2, 3};
  char out[8] = {};
  DWORD returned = 99;
  ASSERT_TRUE(
      DeviceIoControl(FHandle, 0x000B0190, in, sizeof(in), out, sizeof(out), &returned, nullptr));
  EXPECT_EQ(returned, 3u);
  EXPECT_EQ(out[2], 3);
  OVERLAPPED overlapped{};
  EXPECT_FALSE(
      DeviceIoControl(FHandle, 0x000B0194, in, sizeof(in), out, sizeof(out), nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_NE(overlapped.Internal, 0u);
  EXPECT_FALSE(
      DeviceIoControl(FHandle, 0x000B0190, in, sizeof(in), out, sizeof(out), nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace quorvel::posix
