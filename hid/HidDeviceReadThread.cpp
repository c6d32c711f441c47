#include "hid/HidDeviceReadThread.h"

#include <algorithm>

#include "hid/HidDevice.h"
#include "hid/MainThread.h"
#include "platform/PlatformKernel.h"

namespace quorvel::hid {
namespace {

void WINAPI ReadDone(DWORD, DWORD, LPOVERLAPPED) {
  // Only ends the alertable wait; the result is asked for afterwards.
}

// A cancelled or aborted read completes at one of the next alertable waits.
constexpr int kSettleSlices = 100;
constexpr DWORD kSettleSliceMs = 50;

}  // namespace

THidDeviceReadThread::THidDeviceReadThread() {
  throw EControllerError("Direct creation of a TDeviceReadThread object is not allowed");
}

THidDeviceReadThread::THidDeviceReadThread(THidDevice* Dev) : Device(Dev) {
  Report.resize(Dev->Caps().InputReportByteLength);
}

std::unique_ptr<THidDeviceReadThread> THidDeviceReadThread::CreateForDevice(THidDevice* Dev) {
  // The constructor is private; the object is owned from the first moment.
  std::unique_ptr<THidDeviceReadThread> thread(new THidDeviceReadThread(Dev));
  thread->Start();
  return thread;
}

THidDeviceReadThread::~THidDeviceReadThread() {
  // The body uses this object's members: it must end before they go.
  Terminate();
  WaitFor();
}

void THidDeviceReadThread::Execute() {
  NameThread(ThreadName(), kOwnThread);
  uint32_t lastWait = WAIT_IO_COMPLETION;  // no read outstanding
  try {
    while (!Terminated()) {
      Run(lastWait);
    }
  } catch (...) {
    // A handler's error ends the loop; the device stops the thread later.
  }
  Settle(lastWait);
  finished_.store(true);
  TMainThreadQueue::Instance().Wake();
}

void THidDeviceReadThread::Run(uint32_t& lastWait) {
  lastWait = WAIT_IO_COMPLETION;
  std::fill(Report.begin(), Report.end(), uint8_t{0});
  if (!Device->ReadFileEx(Report.data(), static_cast<uint32_t>(Report.size()), &ReadDone)) {
    error_ = ::GetLastError();
    TMainThreadQueue::Instance().Synchronize([this] { DeliverDataError(); });
    (void)::SleepEx(static_cast<DWORD>(Device->ThreadSleepTime()), TRUE);
    return;
  }
  do {
    lastWait = ::SleepEx(static_cast<DWORD>(Device->ThreadSleepTime()), TRUE);
  } while (!Terminated() && lastWait != WAIT_IO_COMPLETION);
  if (Terminated() && lastWait != WAIT_IO_COMPLETION) {
    return;
  }
  NumBytesRead = Device->HidOverlappedReadResult();
  if (NumBytesRead > 0) {
    TMainThreadQueue::Instance().Synchronize([this] { DeliverData(); });
  }
  if (const int32_t delay = Device->PollingDelayTime(); delay > 0) {
    (void)::SleepEx(static_cast<DWORD>(delay), TRUE);
  }
}

void THidDeviceReadThread::Settle(uint32_t lastWait) {
  if (lastWait == WAIT_IO_COMPLETION) {
    return;
  }
  // A handle closed under the read has already aborted it; either way the
  // request ends at one of the next alertable waits, and only then may Report go.
  (void)Device->CancelIO(THidOpenExMode::omhRead);
  for (int i = 0; i < kSettleSlices; ++i) {
    if (::SleepEx(kSettleSliceMs, TRUE) == WAIT_IO_COMPLETION) {
      return;
    }
  }
}

void THidDeviceReadThread::DeliverData() {
  const THidDataEvent& onData = Device->OnData();
  if (onData.Assigned()) {
    onData(Device, Report[0], Report.data() + 1, static_cast<uint16_t>(NumBytesRead - 1));
  }
}

void THidDeviceReadThread::DeliverDataError() {
  const THidDataErrorEvent& onDataError = Device->OnDataError();
  if (onDataError.Assigned()) {
    onDataError(Device, error_);
  }
}

}  // namespace quorvel::hid
