// A wake-up signal an event loop can watch: Signal from any thread, Drain on the
// loop's thread. POSIX: a descriptor that polls readable while signalled.
// Windows: none; loops there are woken by window messages.
#pragma once

#include <memory>

namespace quorvel::platform {

class TWakeEvent {
 public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  // Never blocks.
  void Signal();
  // Clears every signal given so far.
  void Drain();
  // -1 where the platform has no descriptor, or refused one.
  int Fd() const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace quorvel::platform
