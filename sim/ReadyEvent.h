// A descriptor that polls readable while a device has something for a reader (an input
// report queued, or the device gone), so that overlapped reads can wait on it. Only
// POSIX has one; on Windows the simulation's reads are synchronous.
#pragma once

namespace quorvel::sim {

class TReadyEvent {
 public:
  TReadyEvent();
  ~TReadyEvent();
  TReadyEvent(const TReadyEvent&) = delete;
  TReadyEvent& operator=(const TReadyEvent&) = delete;

  int Fd() const { return fd_; }  // -1 where there is none
  void Set(bool ready);

 private:
  int fd_ = -1;
  bool ready_ = false;
};

}  // namespace quorvel::sim
