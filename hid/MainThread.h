// Main-thread delivery: worker threads hand routines to the application's main
// thread and wait for them. The main thread runs them when it pumps
// (THidDeviceController::ProcessMessages) and while it waits for a worker to
// end, so stopping a worker never hangs on a pending delivery. The layer is a
// static library inside the program, so deliveries always take this queue.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/WakeEvent.h"

namespace quorvel::hid {

class TMainThreadQueue {
 public:
  // The process's one queue (there is one main thread).
  static TMainThreadQueue& Instance();

  // Worker side: runs `routine` on the main thread and blocks until it has run;
  // an exception it raised is thrown here again.
  void Synchronize(const std::function<void()>& routine);
  // Main-thread side: runs every routine waiting now. True when one ran.
  bool Serve();
  // Main-thread side: serves routines until `done` holds. `done` is checked
  // under the queue's lock; whoever makes it true calls Wake afterwards.
  void ServeUntil(const std::function<bool()>& done);
  void Wake();
  // Routines waiting now, for diagnostics and tests.
  std::size_t Waiting();
  // POSIX: a descriptor that polls readable while a routine waits, so event
  // loops can watch it (the controller's MessageFd includes it); -1 elsewhere.
  int ReadyFd() const { return ready_.Fd(); }
  // Called, under the queue's lock (so it must not block), whenever a routine
  // starts to wait: a loop that watches no descriptor (Windows) is woken this way.
  using TWaker = void (*)(void* context);
  void AddWaker(TWaker waker, void* context);
  void RemoveWaker(TWaker waker, void* context);

 private:
  TMainThreadQueue() = default;
  ~TMainThreadQueue() = default;

  struct TRequest {
    const std::function<void()>* Routine;
    std::exception_ptr Error;
    bool Ran = false;
  };

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<TRequest*> waiting_;  // each lives on its worker's stack until it ran
  std::vector<std::pair<TWaker, void*>> wakers_;
  platform::TWakeEvent ready_;
};

}  // namespace quorvel::hid
