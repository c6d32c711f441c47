// THidDeviceReadThread: keeps one overlapped read outstanding on a device and
// hands every input report to the device's OnData on the main thread; a failed
// read request goes to OnDataError. Started and stopped by the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "hid/LayerTypes.h"

namespace quorvel::hid {

class THidDevice;

class THidDeviceReadThread : public TCustomThread {
 public:
  // Read threads are made only by their device: this constructor always throws
  // EControllerError "Direct creation of a TDeviceReadThread object is not allowed".
  THidDeviceReadThread();
  // A running thread for `Dev`, its report buffer sized to the input report.
  static std::unique_ptr<THidDeviceReadThread> CreateForDevice(THidDevice* Dev);
  ~THidDeviceReadThread() override;
  const char* ClassName() const noexcept override { return "THidDeviceReadThread"; }

  // True once the body has returned.
  bool Finished() const { return finished_.load(); }

  THidDevice* Device = nullptr;
  uint32_t NumBytesRead = 0;
  // Owned by the thread, so a cancelled read's buffer outlives the request.
  std::vector<uint8_t> Report;

 protected:
  void Execute() override;

 private:
  explicit THidDeviceReadThread(THidDevice* Dev);
  // One cycle: a read request, its wait, the delivery and the pause.
  void Run(uint32_t& lastWait);
  // Cancels the outstanding read and waits until the platform is done with it.
  void Settle(uint32_t lastWait);
  void DeliverData();
  void DeliverDataError();

  uint32_t error_ = 0;
  std::atomic<bool> finished_{false};
};

}  // namespace quorvel::hid
