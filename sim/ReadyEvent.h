// A descriptor that polls readable while a device has something for a reader (an input
// report queued, or the device gone), so that overlapped reads can wait on it. Only
// POSIX has one; on Windows the simulation's reads are synchronous.
#pragma once

#if defined(__linux__)
#include "platform/posix/LinuxOnly.h"
#endif

namespace quorvel::sim {

class TReadyEvent {
 public:
  TReadyEvent() = default;
  TReadyEvent(const TReadyEvent&) = delete;
  TReadyEvent& operator=(const TReadyEvent&) = delete;

  int Fd() const;  // -1 where there is none
  void Set(bool ready);

 private:
#if defined(__linux__)
  posix::TUniqueFd fd_ = posix::OpenWakeDescriptor();
#endif
  bool ready_ = false;
};

}  // namespace quorvel::sim
